#include <cstdio>

#include "btcfit/fit.hpp"
#include "apps/btcfit/run.hpp"

// The thread count is the program's own choice: one per core it may use.
int main() {
  return btcfit::run_program(stdin, stdout, stderr, btcfit::usable_threads());
}
