// exp of two arguments at a time, for targets with two-lane double vectors
// but no fused multiply-add instruction (WebAssembly with SIMD): the steps
// of fixed_exp's main range with fma_by_parts written out lane by lane in
// vector operations, so that each lane rounds exactly as fixed_exp does.
//
// Written with the compilers' generic vector types (g++ and clang alike), so
// that the same code runs, and is tested against fixed_exp, on every
// platform; only the WebAssembly build calls it from exp_many.
#pragma once

#include <cstdint>

#include "models/exponential_lanes.hpp"

namespace btcfit {

namespace exp_detail {

typedef double DoublePair __attribute__((vector_size(16)));
typedef std::uint64_t BitsPair __attribute__((vector_size(16)));
typedef std::int64_t MaskPair __attribute__((vector_size(16)));

[[gnu::always_inline]] inline DoublePair pair(double v) { return DoublePair{v, v}; }

// fma_by_parts in both lanes: a*b + c rounded once, by the quick way when it
// settles both lanes, else by the exact sums where every operand lies in
// their exact range. Lanes where one does not are marked false in `exact`
// (their result is then of no use).
[[gnu::always_inline]] inline DoublePair fma_pair(DoublePair a, DoublePair b, DoublePair c,
                                                  MaskPair& exact) {
  {
    // fma_by_parts's quick way, taken when both lanes settle with it.
    const DoublePair p = a * b;
    const DoublePair y = c + p;
    const DoublePair yc = y - c;
    const DoublePair e = (c - (y - yc)) + (p - yc);
    const BitsPair ep = ((BitsPair)p >> 52) & 0x7ff;
    const BitsPair ey = ((BitsPair)y >> 52) & 0x7ff;
    const MaskPair usable = (ep - 54 < 2046 - 54) & (ey - 54 < 2046 - 54) & (((BitsPair)y << 12) != 0);
    const DoublePair half_ulp_p = (DoublePair)((ep - 53) << 52);
    const DoublePair half_ulp_y = (DoublePair)((ey - 53) << 52);
    const DoublePair abs_e = (DoublePair)((BitsPair)e & 0x7fffffffffffffff);
    const MaskPair settled = usable & (abs_e + half_ulp_p < half_ulp_y);
    if (settled[0] != 0 && settled[1] != 0) return y;
  }
  const BitsPair ea = ((BitsPair)a >> 52) & 0x7ff;
  const BitsPair eb = ((BitsPair)b >> 52) & 0x7ff;
  const BitsPair ec = ((BitsPair)c >> 52) & 0x7ff;
  // The same bounds as fma_by_parts, in biased exponents.
  exact &= (ea - 1 < 2018) & (eb - 1 < 2018) & (ea + eb - 1078 <= 3065 - 1078) & (ec <= 2043);
  const DoublePair split = pair(134217729.0);  // 2^27 + 1
  const DoublePair ta = split * a, tb = split * b;
  const DoublePair ah = ta - (ta - a), al = a - ah;
  const DoublePair bh = tb - (tb - b), bl = b - bh;
  const DoublePair ph = a * b;
  const DoublePair pl = ((ah * bh - ph) + ah * bl + al * bh) + al * bl;
  // th + tl = c + ph, then s + e = tl + pl.
  const DoublePair th = c + ph;
  const DoublePair tc = th - c;
  const DoublePair tl = (c - (th - tc)) + (ph - tc);
  const DoublePair s = tl + pl;
  const DoublePair sp = s - tl;
  const DoublePair e = (tl - (s - sp)) + (pl - sp);
  // s rounded to odd: one ulp toward e when s is inexact and even.
  const BitsPair bits = (BitsPair)s;
  const BitsPair dropped = (BitsPair)e;
  const BitsPair step = (BitsPair)((dropped << 1) != 0) & ~bits & 1;
  const BitsPair down = (dropped ^ bits) >> 63;
  const BitsPair odd = bits + step - ((step & down) << 1);
  return th + (DoublePair)odd;
}

// e^x in both lanes, bit for bit fixed_exp(x), when both lie in the main
// range 2^-54 <= |x| < 512 and every fused multiply-add of both lanes lies in
// fma_pair's exact range; returns false (y unusable) otherwise.
[[gnu::always_inline]] inline bool exp_pair(DoublePair x, DoublePair& y) {
  // Exponent field of |x| in [0x3c9, 0x408). The first product, x 128/ln 2
  // with 2^-54 <= |x| < 512, and the shift then lie in the exact range.
  MaskPair exact = (MaskPair)((((BitsPair)x >> 52) & 0x7ff) - 0x3c9 < 0x3f);
  MaskPair not_needed = exact;
  DoublePair kd = fma_pair(x, pair(kInvLn2N), pair(kShift), not_needed);
  const BitsPair ki = (BitsPair)kd;
  kd -= kShift;
  // kd is an integer below 2^17 in magnitude and kNegLn2HiN has 36
  // significant bits, so their product is a double: the fused multiply-add
  // is the plain sum.
  DoublePair r = kd * kNegLn2HiN + x;
  r = fma_pair(kd, pair(kNegLn2LoN), r, exact);
  const BitsPair idx = (ki & 127) << 1;
  DoublePair tail;
  BitsPair sbits;
  for (int lane = 0; lane < 2; ++lane) {
    tail[lane] = __builtin_bit_cast(double, kTable[idx[lane]]);
    sbits[lane] = kTable[idx[lane] + 1];
  }
  sbits += ki << 45;
  const DoublePair r2 = r * r;
  const DoublePair p45 = fma_pair(r, pair(kC5), pair(kC4), exact);
  const DoublePair p23 = fma_pair(r, pair(kC3), pair(kC2), exact);
  const DoublePair tmp = fma_pair(r2 * r2, p45, fma_pair(p23, r2, r + tail, exact), exact);
  const DoublePair scale = (DoublePair)sbits;
  y = fma_pair(scale, tmp, scale, exact);
  return exact[0] != 0 && exact[1] != 0;
}

}  // namespace exp_detail

}  // namespace btcfit
