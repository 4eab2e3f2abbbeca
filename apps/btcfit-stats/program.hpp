// The companion program btcfit-stats: command line, fit, summary, plot.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace btcfit::stats {

inline constexpr int kExitOk = 0;
inline constexpr int kExitRejected = 1;  // a deck btcfit would refuse
inline constexpr int kExitUsage = 2;     // wrong arguments
inline constexpr int kExitIo = 2;        // input/output failure

// Runs the program for the arguments after the program name; the summary
// (or the help) goes to `out`, diagnostics to `err`. Returns the exit
// status.
int run_stats_program(const std::vector<std::string>& args, std::FILE* out,
                      std::FILE* err);

}  // namespace btcfit::stats
