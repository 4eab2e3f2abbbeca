// Multiplicative congruential generator (multiplier 65539, modulus 2^31)
// with a single-precision result. The search keeps two independent streams:
// RANDOM5 for the coefficient steps and RANDOM2 for the acceptance draws.
#pragma once

#include <cstdint>

namespace btcfit {

class UniformStream {
 public:
  // Advances the stream by one step and overwrites RNUM with the new value
  // in [0, 1]. While the stream is unseeded (state 0) RNUM is read first and
  // its truncation becomes the seed.
  void draw(float& RNUM);

  std::int32_t state() const { return ISEED; }

 private:
  std::int32_t ISEED = 0;
};

}  // namespace btcfit
