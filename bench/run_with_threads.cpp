// Benchmark driver: runs one problem like btcfit, with the number of
// threads given on the command line (1 = serial evaluation), so that the
// benchmark script can time the serial and the parallel evaluation of the
// same deck. btcfit itself always chooses its own thread count.
#include <cstdio>
#include <cstdlib>

#include "apps/btcfit/run.hpp"

int main(int argc, char** argv) {
  if (argc != 2 || std::atoi(argv[1]) < 1) {
    std::fprintf(stderr, "usage: btcfit-threads THREADS < replies\n");
    return 2;
  }
  return btcfit::run_program(stdin, stdout, stderr, std::atoi(argv[1]));
}
