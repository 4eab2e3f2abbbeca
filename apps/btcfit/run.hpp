// One run of the program: the console dialogue, the three files, the deck,
// the search and the final results.
#pragma once

#include <cstdio>

namespace btcfit {

// Exit statuses of a run.
inline constexpr int kExitNormal = 0;
inline constexpr int kExitRejected = 1;  // deck refused before or at the search
inline constexpr int kExitIoFailure = 2;  // input/output failure

// Runs one problem with the console on `console_in` / `console_out` and
// diagnostics on `diagnostics`; files are opened relative to the working
// directory. `threads` threads evaluate the observations of a model call
// (1: serially). Returns the exit status.
int run_program(std::FILE* console_in, std::FILE* console_out,
                std::FILE* diagnostics, int threads);

}  // namespace btcfit
