// One run of the program: the console dialogue, the three files, the deck,
// the search and the final results.
#pragma once

#include <cstdio>
#include <string>

namespace btcfit {

// Exit statuses of a run.
inline constexpr int kExitNormal = 0;
inline constexpr int kExitRejected = 1;  // deck refused before or at the search
inline constexpr int kExitIoFailure = 2;  // input/output failure
inline constexpr int kExitUsage = 2;      // wrong command line

// Runs one problem with the console on `console_in` / `console_out` and
// diagnostics on `diagnostics`; files are opened relative to the working
// directory. `threads` threads evaluate the observations of a model call
// (1: serially). Returns the exit status.
int run_program(std::FILE* console_in, std::FILE* console_out,
                std::FILE* diagnostics, int threads);

// Runs one problem on the deck and report named, without the dialogue and
// with nothing written to the console: the names are used whole, of any
// length, relative to the working directory or absolute. pd.dat, when the
// deck asks for it, is still written in the working directory.
int run_files(const std::string& deck, const std::string& report,
              std::FILE* diagnostics, int threads);

}  // namespace btcfit
