#include "estimate/uniform_random.hpp"

namespace btcfit {

void UniformStream::draw(float& RNUM) {
  if (ISEED == 0) ISEED = static_cast<std::int32_t>(RNUM);  // truncation
  // 32-bit two's-complement wrap-around, done in unsigned arithmetic so
  // that the overflow is well defined.
  ISEED = static_cast<std::int32_t>(static_cast<std::uint32_t>(ISEED) * 65539u);
  if (ISEED < 0) {
    ISEED = static_cast<std::int32_t>(static_cast<std::uint32_t>(ISEED) +
                                      2147483647u + 1u);
  }
  // Exact product with 2^-31 (the single-precision scale factor), rounded
  // once to single precision.
  const double scale = double(4.656612873077393e-10f);
  RNUM = static_cast<float>(static_cast<double>(ISEED) * scale);
}

}  // namespace btcfit
