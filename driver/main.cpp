#include <cstdio>

#include "driver/run.hpp"
#include "models/observation_pool.hpp"

// The thread count is the program's own choice: one per core it may use.
int main() {
  return btcfit::run_program(stdin, stdout, stderr,
                             btcfit::ObservationPool::machine_threads());
}
