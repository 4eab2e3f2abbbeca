#include <cstdio>
#include <string>
#include <vector>

#include "apps/btcfit-stats/program.hpp"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return btcfit::stats::run_stats_program(args, stdout, stderr);
}
