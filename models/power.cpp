// fixed_pow: x = 2^k z, log x = k ln2 + log c + log(z/c) with c near the
// centre of the subinterval of z, then x^y = e^(y log x) with y log x as
// the sum of two doubles.
#include "models/power.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "models/exponential.hpp"
#include "models/fused_multiply_add.hpp"
#include "models/exponential_lanes.hpp"

namespace btcfit {

namespace {

struct Centre {
  // 1/c with few bits, so that z/c - 1 is exact; log c rounded to a
  // multiple of 2^-43, so that k ln2hi + log c is exact; log c - logc.
  double invc, logc, logctail;
};

// z in [0x1.69555p-1, 0x1.69555p0) split into 128 subintervals by the top
// bits of its mantissa (counted from the bits of the lower end).
constexpr Centre kCentres[128] = {
    {0x1.6a00000000000p+0, -0x1.62c82f2b9c800p-2, 0x1.ab42428375680p-48},
    {0x1.6800000000000p+0, -0x1.5d1bdbf580800p-2, -0x1.ca508d8e0f720p-46},
    {0x1.6600000000000p+0, -0x1.5767717455800p-2, -0x1.362a4d5b6506dp-45},
    {0x1.6400000000000p+0, -0x1.51aad872df800p-2, -0x1.684e49eb067d5p-49},
    {0x1.6200000000000p+0, -0x1.4be5f95777800p-2, -0x1.41b6993293ee0p-47},
    {0x1.6000000000000p+0, -0x1.4618bc21c6000p-2, 0x1.3d82f484c84ccp-46},
    {0x1.5e00000000000p+0, -0x1.404308686a800p-2, 0x1.c42f3ed820b3ap-50},
    {0x1.5c00000000000p+0, -0x1.3a64c55694800p-2, 0x1.0b1c686519460p-45},
    {0x1.5a00000000000p+0, -0x1.347dd9a988000p-2, 0x1.5594dd4c58092p-45},
    {0x1.5800000000000p+0, -0x1.2e8e2bae12000p-2, 0x1.67b1e99b72bd8p-45},
    {0x1.5600000000000p+0, -0x1.2895a13de8800p-2, 0x1.5ca14b6cfb03fp-46},
    {0x1.5600000000000p+0, -0x1.2895a13de8800p-2, 0x1.5ca14b6cfb03fp-46},
    {0x1.5400000000000p+0, -0x1.22941fbcf7800p-2, -0x1.65a242853da76p-46},
    {0x1.5200000000000p+0, -0x1.1c898c1699800p-2, -0x1.fafbc68e75404p-46},
    {0x1.5000000000000p+0, -0x1.1675cababa800p-2, 0x1.f1fc63382a8f0p-46},
    {0x1.4e00000000000p+0, -0x1.1058bf9ae4800p-2, -0x1.6a8c4fd055a66p-45},
    {0x1.4c00000000000p+0, -0x1.0a324e2739000p-2, -0x1.c6bee7ef4030ep-47},
    {0x1.4a00000000000p+0, -0x1.0402594b4d000p-2, -0x1.036b89ef42d7fp-48},
    {0x1.4a00000000000p+0, -0x1.0402594b4d000p-2, -0x1.036b89ef42d7fp-48},
    {0x1.4800000000000p+0, -0x1.fb9186d5e4000p-3, 0x1.d572aab993c87p-47},
    {0x1.4600000000000p+0, -0x1.ef0adcbdc6000p-3, 0x1.b26b79c86af24p-45},
    {0x1.4400000000000p+0, -0x1.e27076e2af000p-3, -0x1.72f4f543fff10p-46},
    {0x1.4200000000000p+0, -0x1.d5c216b4fc000p-3, 0x1.1ba91bbca681bp-45},
    {0x1.4000000000000p+0, -0x1.c8ff7c79aa000p-3, 0x1.7794f689f8434p-45},
    {0x1.4000000000000p+0, -0x1.c8ff7c79aa000p-3, 0x1.7794f689f8434p-45},
    {0x1.3e00000000000p+0, -0x1.bc286742d9000p-3, 0x1.94eb0318bb78fp-46},
    {0x1.3c00000000000p+0, -0x1.af3c94e80c000p-3, 0x1.a4e633fcd9066p-52},
    {0x1.3a00000000000p+0, -0x1.a23bc1fe2b000p-3, -0x1.58c64dc46c1eap-45},
    {0x1.3a00000000000p+0, -0x1.a23bc1fe2b000p-3, -0x1.58c64dc46c1eap-45},
    {0x1.3800000000000p+0, -0x1.9525a9cf45000p-3, -0x1.ad1d904c1d4e3p-45},
    {0x1.3600000000000p+0, -0x1.87fa06520d000p-3, 0x1.bbdbf7fdbfa09p-45},
    {0x1.3400000000000p+0, -0x1.7ab890210e000p-3, 0x1.bdb9072534a58p-45},
    {0x1.3400000000000p+0, -0x1.7ab890210e000p-3, 0x1.bdb9072534a58p-45},
    {0x1.3200000000000p+0, -0x1.6d60fe719d000p-3, -0x1.0e46aa3b2e266p-46},
    {0x1.3000000000000p+0, -0x1.5ff3070a79000p-3, -0x1.e9e439f105039p-46},
    {0x1.3000000000000p+0, -0x1.5ff3070a79000p-3, -0x1.e9e439f105039p-46},
    {0x1.2e00000000000p+0, -0x1.526e5e3a1b000p-3, -0x1.0de8b90075b8fp-45},
    {0x1.2c00000000000p+0, -0x1.44d2b6ccb8000p-3, 0x1.70cc16135783cp-46},
    {0x1.2c00000000000p+0, -0x1.44d2b6ccb8000p-3, 0x1.70cc16135783cp-46},
    {0x1.2a00000000000p+0, -0x1.371fc201e9000p-3, 0x1.178864d27543ap-48},
    {0x1.2800000000000p+0, -0x1.29552f81ff000p-3, -0x1.48d301771c408p-45},
    {0x1.2600000000000p+0, -0x1.1b72ad52f6000p-3, -0x1.e80a41811a396p-45},
    {0x1.2600000000000p+0, -0x1.1b72ad52f6000p-3, -0x1.e80a41811a396p-45},
    {0x1.2400000000000p+0, -0x1.0d77e7cd09000p-3, 0x1.a699688e85bf4p-47},
    {0x1.2400000000000p+0, -0x1.0d77e7cd09000p-3, 0x1.a699688e85bf4p-47},
    {0x1.2200000000000p+0, -0x1.fec9131dbe000p-4, -0x1.575545ca333f2p-45},
    {0x1.2000000000000p+0, -0x1.e27076e2b0000p-4, 0x1.a342c2af0003cp-45},
    {0x1.2000000000000p+0, -0x1.e27076e2b0000p-4, 0x1.a342c2af0003cp-45},
    {0x1.1e00000000000p+0, -0x1.c5e548f5bc000p-4, -0x1.d0c57585fbe06p-46},
    {0x1.1c00000000000p+0, -0x1.a926d3a4ae000p-4, 0x1.53935e85baac8p-45},
    {0x1.1c00000000000p+0, -0x1.a926d3a4ae000p-4, 0x1.53935e85baac8p-45},
    {0x1.1a00000000000p+0, -0x1.8c345d631a000p-4, 0x1.37c294d2f5668p-46},
    {0x1.1a00000000000p+0, -0x1.8c345d631a000p-4, 0x1.37c294d2f5668p-46},
    {0x1.1800000000000p+0, -0x1.6f0d28ae56000p-4, -0x1.69737c93373dap-45},
    {0x1.1600000000000p+0, -0x1.51b073f062000p-4, 0x1.f025b61c65e57p-46},
    {0x1.1600000000000p+0, -0x1.51b073f062000p-4, 0x1.f025b61c65e57p-46},
    {0x1.1400000000000p+0, -0x1.341d7961be000p-4, 0x1.c5edaccf913dfp-45},
    {0x1.1400000000000p+0, -0x1.341d7961be000p-4, 0x1.c5edaccf913dfp-45},
    {0x1.1200000000000p+0, -0x1.16536eea38000p-4, 0x1.47c5e768fa309p-46},
    {0x1.1000000000000p+0, -0x1.f0a30c0118000p-5, 0x1.d599e83368e91p-45},
    {0x1.1000000000000p+0, -0x1.f0a30c0118000p-5, 0x1.d599e83368e91p-45},
    {0x1.0e00000000000p+0, -0x1.b42dd71198000p-5, 0x1.c827ae5d6704cp-46},
    {0x1.0e00000000000p+0, -0x1.b42dd71198000p-5, 0x1.c827ae5d6704cp-46},
    {0x1.0c00000000000p+0, -0x1.77458f632c000p-5, -0x1.cfc4634f2a1eep-45},
    {0x1.0c00000000000p+0, -0x1.77458f632c000p-5, -0x1.cfc4634f2a1eep-45},
    {0x1.0a00000000000p+0, -0x1.39e87b9fec000p-5, 0x1.502b7f526feaap-48},
    {0x1.0a00000000000p+0, -0x1.39e87b9fec000p-5, 0x1.502b7f526feaap-48},
    {0x1.0800000000000p+0, -0x1.f829b0e780000p-6, -0x1.980267c7e09e4p-45},
    {0x1.0800000000000p+0, -0x1.f829b0e780000p-6, -0x1.980267c7e09e4p-45},
    {0x1.0600000000000p+0, -0x1.7b91b07d58000p-6, -0x1.88d5493faa639p-45},
    {0x1.0400000000000p+0, -0x1.fc0a8b0fc0000p-7, -0x1.f1e7cf6d3a69cp-50},
    {0x1.0400000000000p+0, -0x1.fc0a8b0fc0000p-7, -0x1.f1e7cf6d3a69cp-50},
    {0x1.0200000000000p+0, -0x1.fe02a6b100000p-8, -0x1.9e23f0dda40e4p-46},
    {0x1.0200000000000p+0, -0x1.fe02a6b100000p-8, -0x1.9e23f0dda40e4p-46},
    {0x1.0000000000000p+0, 0.0, 0.0},
    {0x1.0000000000000p+0, 0.0, 0.0},
    {0x1.fc00000000000p-1, 0x1.0101575890000p-7, -0x1.0c76b999d2be8p-46},
    {0x1.f800000000000p-1, 0x1.0205658938000p-6, -0x1.3dc5b06e2f7d2p-45},
    {0x1.f400000000000p-1, 0x1.8492528c90000p-6, -0x1.aa0ba325a0c34p-45},
    {0x1.f000000000000p-1, 0x1.0415d89e74000p-5, 0x1.111c05cf1d753p-47},
    {0x1.ec00000000000p-1, 0x1.466aed42e0000p-5, -0x1.c167375bdfd28p-45},
    {0x1.e800000000000p-1, 0x1.894aa149fc000p-5, -0x1.97995d05a267dp-46},
    {0x1.e400000000000p-1, 0x1.ccb73cdddc000p-5, -0x1.a68f247d82807p-46},
    {0x1.e200000000000p-1, 0x1.eea31c006c000p-5, -0x1.e113e4fc93b7bp-47},
    {0x1.de00000000000p-1, 0x1.1973bd1466000p-4, -0x1.5325d560d9e9bp-45},
    {0x1.da00000000000p-1, 0x1.3bdf5a7d1e000p-4, 0x1.cc85ea5db4ed7p-45},
    {0x1.d600000000000p-1, 0x1.5e95a4d97a000p-4, -0x1.c69063c5d1d1ep-45},
    {0x1.d400000000000p-1, 0x1.700d30aeac000p-4, 0x1.c1e8da99ded32p-49},
    {0x1.d000000000000p-1, 0x1.9335e5d594000p-4, 0x1.3115c3abd47dap-45},
    {0x1.cc00000000000p-1, 0x1.b6ac88dad6000p-4, -0x1.390802bf768e5p-46},
    {0x1.ca00000000000p-1, 0x1.c885801bc4000p-4, 0x1.646d1c65aacd3p-45},
    {0x1.c600000000000p-1, 0x1.ec739830a2000p-4, -0x1.dc068afe645e0p-45},
    {0x1.c400000000000p-1, 0x1.fe89139dbe000p-4, -0x1.534d64fa10afdp-45},
    {0x1.c000000000000p-1, 0x1.1178e8227e000p-3, 0x1.1ef78ce2d07f2p-45},
    {0x1.be00000000000p-1, 0x1.1aa2b7e23f000p-3, 0x1.ca78e44389934p-45},
    {0x1.ba00000000000p-1, 0x1.2d1610c868000p-3, 0x1.39d6ccb81b4a1p-47},
    {0x1.b800000000000p-1, 0x1.365fcb0159000p-3, 0x1.62fa8234b7289p-51},
    {0x1.b400000000000p-1, 0x1.4913d8333b000p-3, 0x1.5837954fdb678p-45},
    {0x1.b200000000000p-1, 0x1.527e5e4a1b000p-3, 0x1.633e8e5697dc7p-45},
    {0x1.ae00000000000p-1, 0x1.6574ebe8c1000p-3, 0x1.9cf8b2c3c2e78p-46},
    {0x1.ac00000000000p-1, 0x1.6f0128b757000p-3, -0x1.5118de59c21e1p-45},
    {0x1.aa00000000000p-1, 0x1.7898d85445000p-3, -0x1.c661070914305p-46},
    {0x1.a600000000000p-1, 0x1.8beafeb390000p-3, -0x1.73d54aae92cd1p-47},
    {0x1.a400000000000p-1, 0x1.95a5adcf70000p-3, 0x1.7f22858a0ff6fp-47},
    {0x1.a000000000000p-1, 0x1.a93ed3c8ae000p-3, -0x1.8724350562169p-45},
    {0x1.9e00000000000p-1, 0x1.b31d8575bd000p-3, -0x1.c358d4eace1aap-47},
    {0x1.9c00000000000p-1, 0x1.bd087383be000p-3, -0x1.d4bc4595412b6p-45},
    {0x1.9a00000000000p-1, 0x1.c6ffbc6f01000p-3, -0x1.1ec72c5962bd2p-48},
    {0x1.9600000000000p-1, 0x1.db13db0d49000p-3, -0x1.aff2af715b035p-45},
    {0x1.9400000000000p-1, 0x1.e530effe71000p-3, 0x1.212276041f430p-51},
    {0x1.9200000000000p-1, 0x1.ef5ade4dd0000p-3, -0x1.a211565bb8e11p-51},
    {0x1.9000000000000p-1, 0x1.f991c6cb3b000p-3, 0x1.bcbecca0cdf30p-46},
    {0x1.8c00000000000p-1, 0x1.07138604d5800p-2, 0x1.89cdb16ed4e91p-48},
    {0x1.8a00000000000p-1, 0x1.0c42d67616000p-2, 0x1.7188b163ceae9p-45},
    {0x1.8800000000000p-1, 0x1.1178e8227e800p-2, -0x1.c210e63a5f01cp-45},
    {0x1.8600000000000p-1, 0x1.16b5ccbacf800p-2, 0x1.b9acdf7a51681p-45},
    {0x1.8400000000000p-1, 0x1.1bf99635a6800p-2, 0x1.ca6ed5147bdb7p-45},
    {0x1.8200000000000p-1, 0x1.214456d0eb800p-2, 0x1.a87deba46baeap-47},
    {0x1.7e00000000000p-1, 0x1.2bef07cdc9000p-2, 0x1.a9cfa4a5004f4p-45},
    {0x1.7c00000000000p-1, 0x1.314f1e1d36000p-2, -0x1.8e27ad3213cb8p-45},
    {0x1.7a00000000000p-1, 0x1.36b6776be1000p-2, 0x1.16ecdb0f177c8p-46},
    {0x1.7800000000000p-1, 0x1.3c25277333000p-2, 0x1.83b54b606bd5cp-46},
    {0x1.7600000000000p-1, 0x1.419b423d5e800p-2, 0x1.8e436ec90e09dp-47},
    {0x1.7400000000000p-1, 0x1.4718dc271c800p-2, -0x1.f27ce0967d675p-45},
    {0x1.7200000000000p-1, 0x1.4c9e09e173000p-2, -0x1.e20891b0ad8a4p-45},
    {0x1.7000000000000p-1, 0x1.522ae0738a000p-2, 0x1.ebe708164c759p-45},
    {0x1.6e00000000000p-1, 0x1.57bf753c8d000p-2, 0x1.fadedee5d40efp-46},
    {0x1.6c00000000000p-1, 0x1.5d5bddf596000p-2, -0x1.a0b2a08a465dcp-47},
};

constexpr std::uint64_t kLowEnd = 0x3fe6955500000000;  // bits of 0x1.69555p-1

// ln 2 in two parts; k*kLn2Hi is exact for the k of any double.
constexpr double kLn2Hi = 0x1.62e42fefa3800p-1;
constexpr double kLn2Lo = 0x1.ef35793c76730p-45;

// log(1 + r) = r + h r^2 + h r^3 (kA[1] + r kA[2] + h r^2 (kA[3] + r kA[4]
//   + h r^2 (kA[5] + r kA[6]))) with h = kA[0] = -1/2, for |r| < 0x1.6bp-8.
constexpr double kA[7] = {-0x1p-1,
                          -0x1.555555555556p-1,
                          0x1.0000000000006p-1,
                          0x1.999999959554ep-1,
                          -0x1.555555529a47ap-1,
                          -0x1.2495b9b4845e9p+0,
                          0x1.0002b8b263fc3p+0};

// log x as hi + *lo (|*lo| within half an ulp of hi), to about 2^-68
// relative. ix: the bits of a positive normal x, or of a subnormal x
// scaled by 2^52 with 52 taken from its exponent field (which then wraps
// below zero).
[[gnu::always_inline]] inline double log_parts(std::uint64_t ix, double* lo) {
  const std::uint64_t tmp = ix - kLowEnd;
  const int i = static_cast<int>((tmp >> 45) % 128);
  const int k = static_cast<int>(static_cast<std::int64_t>(tmp) >> 52);
  const double z = std::bit_cast<double>(ix - (tmp & (std::uint64_t{0xfff} << 52)));
  const double kd = k;
  const Centre& c = kCentres[i];
  const double r = fused_multiply_add(z, c.invc, -1.0);  // exact
  const double t1 = fused_multiply_add(kd, kLn2Hi, c.logc);
  const double t2 = t1 + r;
  const double lo1 = fused_multiply_add(kd, kLn2Lo, c.logctail);
  const double lo2 = t1 - t2 + r;
  const double ar = kA[0] * r;
  const double ar2 = r * ar;
  const double ar3 = r * ar2;
  // t2 + kA[0] r^2 as hi plus the rounding errors of its two steps.
  const double hi = t2 + ar2;
  const double lo3 = fused_multiply_add(ar, r, -ar2);
  const double lo4 = t2 - hi + ar2;
  const double q34 = fused_multiply_add(ar2, fused_multiply_add(r, kA[6], kA[5]), fused_multiply_add(r, kA[4], kA[3]));
  const double q = fused_multiply_add(ar2, q34, fused_multiply_add(r, kA[2], kA[1]));
  const double l = fused_multiply_add(ar3, q, lo1 + lo2 + lo3 + lo4);
  const double y = hi + l;
  *lo = hi - y + l;
  return y;
}

// The sign of the result in the exponent bits of the scale: added to k,
// it lands in the sign bit after the shift by 45.
constexpr std::uint32_t kSignBias = 0x800u << 7;

// sign * e^(x + xtail) for |xtail| < 2^-15 and |xtail| <= |x|, sign -1
// when sign_bias is kSignBias, +1 when it is 0. The steps of fixed_exp,
// with xtail added to the reduced argument.
[[gnu::always_inline]] inline double exp_parts(double x, double xtail, std::uint32_t sign_bias) {
  using namespace exp_detail;
  const std::uint32_t abstop = static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(x) >> 52) & 0x7ffu;
  bool near_limit = false;
  if (abstop - 0x3c9u >= 0x408u - 0x3c9u) {
    if (abstop - 0x3c9u >= 0x80000000u) {  // |x| < 2^-54
      const double one = 1.0 + x;
      return sign_bias != 0 ? -one : one;
    }
    if (abstop >= 0x409u) {  // |x| >= 1024 (x is finite here)
      const double big = (std::bit_cast<std::uint64_t>(x) >> 63) ? 0x1p-767 : 0x1p769;
      return (sign_bias != 0 ? -big : big) * big;
    }
    near_limit = true;
  }
  double kd = fused_multiply_add(x, kInvLn2N, kShift);
  const std::uint64_t ki = std::bit_cast<std::uint64_t>(kd);
  kd -= kShift;
  double r = fused_multiply_add(kd, kNegLn2HiN, x);
  r = fused_multiply_add(kd, kNegLn2LoN, r);
  r = r + xtail;
  const std::uint64_t idx = 2 * (ki % 128);
  const std::uint64_t top = (ki + sign_bias) << 45;
  const double tail = std::bit_cast<double>(kTable[idx]);
  std::uint64_t sbits = kTable[idx + 1] + top;
  const double r2 = r * r;
  const double tmp =
      fused_multiply_add(r2 * r2, fused_multiply_add(r, kC5, kC4),
                         fused_multiply_add(fused_multiply_add(r, kC3, kC2), r2, tail + r));
  if (near_limit) {
    if ((ki & 0x80000000u) == 0) {
      // k > 0: the exponent of the scale may have overflowed; scaled back.
      sbits -= std::uint64_t{1009} << 52;
      const double scale = std::bit_cast<double>(sbits);
      return 0x1p1009 * fused_multiply_add(scale, tmp, scale);
    }
    // k < 0: a result in the subnormal range is rounded once, to its own
    // precision, before the final scaling. The scale carries the sign.
    sbits += std::uint64_t{1022} << 52;
    const double scale = std::bit_cast<double>(sbits);
    const double p = scale * tmp;
    double y = scale + p;
    if (std::fabs(y) < 1.0) {
      const double one = y < 0.0 ? -1.0 : 1.0;
      double lo = scale - y + p;
      const double hi = one + y;
      lo = one - hi + y + lo;
      y = (hi + lo) - one;
      if (y == 0.0) y = std::bit_cast<double>(sbits & 0x8000000000000000);
    }
    return 0x1p-1022 * y;
  }
  const double scale = std::bit_cast<double>(sbits);
  return fused_multiply_add(scale, tmp, scale);
}

// 0 when y is no integer, 1 when it is odd, 2 when even; iy: the bits of a
// finite y other than zero.
int integer_kind(std::uint64_t iy) {
  const int e = static_cast<int>((iy >> 52) & 0x7ff);
  if (e < 0x3ff) return 0;
  if (e > 0x3ff + 52) return 2;
  if ((iy & ((std::uint64_t{1} << (0x3ff + 52 - e)) - 1)) != 0) return 0;
  if ((iy & (std::uint64_t{1} << (0x3ff + 52 - e))) != 0) return 1;
  return 2;
}

// True for the bits of zero, an infinity or NaN.
bool zero_inf_nan(std::uint64_t i) { return 2 * i - 1 >= 2 * std::bit_cast<std::uint64_t>(HUGE_VAL) - 1; }

// True for the bits of a signaling NaN.
bool signaling_nan(std::uint64_t i) {
  return 2 * (i ^ 0x0008000000000000) > 2 * std::uint64_t{0x7ff8000000000000};
}

// Each fused multiply-add stands where the reference library rounds once.
// Arguments with x positive and normal and 2^-65 <= |y| < 2^63 take the
// main steps; the others have the results the reference library gives
// them.
[[gnu::always_inline]] inline double pow_steps(double x, double y) {
  std::uint32_t sign_bias = 0;
  std::uint64_t ix = std::bit_cast<std::uint64_t>(x);
  const std::uint64_t iy = std::bit_cast<std::uint64_t>(y);
  std::uint32_t topx = static_cast<std::uint32_t>(ix >> 52);
  const std::uint32_t topy = static_cast<std::uint32_t>(iy >> 52);
  if (topx - 0x001u >= 0x7ffu - 0x001u || (topy & 0x7ffu) - 0x3beu >= 0x43eu - 0x3beu) {
    // x not positive and normal, or |y| < 2^-65, |y| >= 2^63 or NaN.
    if (zero_inf_nan(iy)) {
      if (2 * iy == 0) return signaling_nan(ix) ? x + y : 1.0;
      if (ix == std::bit_cast<std::uint64_t>(1.0)) return signaling_nan(iy) ? x + y : 1.0;
      if (2 * ix > 2 * std::bit_cast<std::uint64_t>(HUGE_VAL) || 2 * iy > 2 * std::bit_cast<std::uint64_t>(HUGE_VAL)) return x + y;
      if (2 * ix == 2 * std::bit_cast<std::uint64_t>(1.0)) return 1.0;
      if ((2 * ix < 2 * std::bit_cast<std::uint64_t>(1.0)) == !(iy >> 63)) return 0.0;  // |x|<1, y=inf; |x|>1, y=-inf
      return y * y;
    }
    if (zero_inf_nan(ix)) {
      double x2 = x * x;
      if ((ix >> 63) != 0 && integer_kind(iy) == 1) x2 = -x2;
      return (iy >> 63) != 0 ? 1.0 / x2 : x2;
    }
    // x and y finite and not zero.
    if ((ix >> 63) != 0) {
      const int yint = integer_kind(iy);
      if (yint == 0) return (x - x) / (x - x);  // NaN
      if (yint == 1) sign_bias = kSignBias;
      ix &= 0x7fffffffffffffff;
      topx &= 0x7ffu;
    }
    if ((topy & 0x7ffu) - 0x3beu >= 0x43eu - 0x3beu) {
      // No sign: |y| >= 2^63 is even, and a tiny y is no integer (so x > 0).
      if (ix == std::bit_cast<std::uint64_t>(1.0)) return 1.0;
      if ((topy & 0x7ffu) < 0x3beu) {
        // |y| < 2^-65: x^y rounds to 1, given as 1 + y or 1 - y.
        return ix > std::bit_cast<std::uint64_t>(1.0) ? 1.0 + y : 1.0 - y;
      }
      // |y| >= 2^63: overflows or underflows.
      const double big = ((ix > std::bit_cast<std::uint64_t>(1.0)) == (topy < 0x800u)) ? 0x1p769 : 0x1p-767;
      return big * big;
    }
    if (topx == 0) {
      // Subnormal x: normalised, its exponent field taken below zero.
      ix = std::bit_cast<std::uint64_t>(x * 0x1p52) & 0x7fffffffffffffff;
      ix -= std::uint64_t{52} << 52;
    }
  }
  double lo;
  const double hi = log_parts(ix, &lo);
  // y log x as ehi + elo, ehi = y*hi rounded, elo its rounding error plus
  // y*lo.
  const double ehi = y * hi;
  const double elo = fused_multiply_add(y, lo, fused_multiply_add(y, hi, -ehi));
  return exp_parts(ehi, elo, sign_bias);
}

#if defined(__x86_64__)
__attribute__((target("fma"))) double pow_steps_fma(double x, double y) { return pow_steps(x, y); }
#endif
// Out of line, so that the choice in fixed_pow stays a test and a jump.
[[gnu::noinline]] double pow_steps_plain(double x, double y) { return pow_steps(x, y); }

}  // namespace

double fixed_pow(double x, double y) {
#if defined(__x86_64__)
  if (exp_detail::processor_has_fma()) return pow_steps_fma(x, y);
#endif
  return pow_steps_plain(x, y);
}

}  // namespace btcfit
