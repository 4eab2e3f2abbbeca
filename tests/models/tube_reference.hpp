// The scalar stream-tube path as it was before the batched evaluation:
// EXF, MOD12 and CAVG one call at a time. The exactness tests compare the
// library against these bit for bit.
#pragma once

#include <algorithm>
#include <cmath>

#include "problem/problem_record.hpp"
#include "problem/model_traits.hpp"

namespace btcfit::tube_reference {

namespace detail {
// Abramowitz and Stegun 7.1.26, signs of a2 and a4 folded into the nesting.
inline constexpr double kP = double(0.3275911f);
inline constexpr double kA1 = double(0.2548296f);
inline constexpr double kA2 = double(0.2844967f);
inline constexpr double kA3 = double(1.421414f);
inline constexpr double kA4 = double(1.453152f);
inline constexpr double kA5 = double(1.061405f);
// 1/sqrt(pi), numerator of the continued fraction.
inline constexpr double kQ = double(0.5641896f);

static_assert(kP == 0.32759109139442444);
static_assert(kA1 == 0.2548295855522156);
static_assert(kA2 == 0.2844966948032379);
static_assert(kA3 == 1.4214140176773071);
static_assert(kA4 == 1.4531519412994385);
static_assert(kA5 == 1.0614049434661865);
static_assert(kQ == 0.564189612865448);

// exp(X*X)*erfc(X) of the rational approximation at X = 0 (t = 1):
// 0.9999999105930328, the value that EXF(A, 0) multiplies exp(A) by.
inline constexpr double kF0 = 1.0 * (kA1 - 1.0 * (kA2 - 1.0 * (kA3 - 1.0 * (kA4 - kA5 * 1.0))));
static_assert(kF0 == 0.9999999105930328);

inline constexpr double kPi = double(3.141593f);
// Stands for 1/(4 pi) in the resident production term.
inline constexpr double kQuarterInvPi = double(0.079577f);

static_assert(kPi == 3.1415929794311523);
static_assert(kQuarterInvPi == 0.0795769989490509);

// Single-precision constant of the program, widened to double.
inline constexpr double SQRT2PI = double(2.50663f);  // sqrt(2 pi) of the density
static_assert(SQRT2PI == 2.5066299438476562);

inline constexpr double EXPCAP = 100.0;    // cap of the density exponent
inline constexpr double SUMFLOOR = 1e-70;  // tube sums below this count as 0

}  // namespace detail

using namespace detail;

inline double EXF_reference(double A, double B) {
  // The guarded exponential EXF(A, 0), the most frequent call: the general
  // steps below reduce to this, with the same result bits.
  if (B == 0.0) {
    if (std::fabs(A) > 100.0) return 0.0;
    return std::exp(A) * kF0;
  }
  double R = 0.0;
  if (B <= 0.0 && std::fabs(A) > 100.0) return 0.0;
  const double W = A - B * B;
  if (std::fabs(W) > 100.0 && B >= 0.0) return 0.0;
  if (!(W < -100.0)) {
    const double X = std::fabs(B);
    double F;
    if (X <= 3.0) {
      const double t = 1.0 / (1.0 + kP * X);
      F = t * (kA1 - t * (kA2 - t * (kA3 - t * (kA4 - kA5 * t))));
    } else {
      // The innermost denominator is X + 2.5/X + 1.
      F = kQ / (X + 0.5 / (X + 1.0 / (X + 1.5 / (X + 2.0 / (X + 2.5 / X + 1.0)))));
    }
    R = std::exp(W) * F;
  }
  if (B < 0.0) R = 2.0 * std::exp(A) - R;
  return R;
}

inline void MOD12_reference(const ModelWork& w, double& Y, double X, double T) {
  const double CI = w.CI;
  const double C0 = w.C0;
  const double v = w.VELO;
  const double D = w.DISP;
  const double T0 = w.TPUL;
  const double mu = w.PAR5;
  const double gamma = w.PAR6;
  const bool flux = model_traits(w.MODE).flux;

  if (mu == 0.0) {
    for (int pass = 1; pass <= 2; ++pass) {
      double A = 0.0;
      double G = 0.0;
      const double tau = (pass == 1) ? T : T - T0;
      if (tau <= 0.0) continue;

      const double s = std::sqrt(4.0 * D * tau);
      const double A1 = (X - v * tau) / s;
      const double A2 = (X + v * tau) / s;
      const double E1 = EXF_reference(0.0, A1);
      const double E2 = EXF_reference(v * X / D, A2);
      double E3, P1, P3;
      if (flux) {
        E3 = 0.0;
        P1 = 0.0;
        P3 = 0.5;
      } else {
        E3 = EXF_reference(-((X - v * tau) * (X - v * tau)) / (4.0 * D * tau), 0.0);
        P1 = v * std::sqrt(tau / (kPi * D));
        P3 = -0.5 * (1.0 + v * X / D + v * v * tau / D);
      }
      A = 0.5 * E1 + P1 * E3 + P3 * E2;

      if (pass == 2) {
        Y = Y - C0 * A;
        return;
      }
      if (gamma != 0.0) {
        if (flux) {
          G = gamma * (tau + ((X - v * tau) / (2.0 * v)) * E1 -
                       ((X + v * tau) / (2.0 * v)) * E2);
        } else {
          G = gamma *
              (tau + ((X - v * tau + D / v) / (2.0 * v)) * E1 -
               std::sqrt(kQuarterInvPi * tau / D) * (X + v * tau + 2.0 * D / v) * E3 +
               ((X + v * tau) * (X + v * tau) / (4.0 * D) + tau / 2.0 - D / (2.0 * v * v)) * E2);
        }
      }
      Y = CI + (C0 - CI) * A + G;
    }
    return;
  }

  // First-order decay: G_inf is the steady state of production against decay.
  const double Ginf = gamma / mu;
  for (int pass = 1; pass <= 2; ++pass) {
    double B = 0.0;
    double H = 0.0;
    const double tau = (pass == 1) ? T : T - T0;
    if (tau <= 0.0) continue;

    const double s = std::sqrt(4.0 * D * tau);
    const double A2 = (X + v * tau) / s;
    if (pass == 1) {
      const double A1 = (X - v * tau) / s;
      const double E1 = EXF_reference(0.0, A1);
      const double E2 = EXF_reference(v * X / D, A2);
      double E3, P1, P3;
      if (flux) {
        E3 = 0.0;
        P1 = 0.0;
        P3 = 0.5;
      } else {
        E3 = EXF_reference(-((X - v * tau) * (X - v * tau)) / (4.0 * D * tau), 0.0);
        P1 = v * std::sqrt(tau / (kPi * D));
        P3 = -0.5 * (1.0 + v * X / D + v * v * tau / D);
      }
      const double A = 0.5 * E1 + P1 * E3 + P3 * E2;
      B = (1.0 - A) * EXF_reference(-mu * tau, 0.0);
    }

    const double wr = std::sqrt(v * v + 4.0 * mu * D);
    const double em = EXF_reference((v - wr) * X / (2.0 * D), (X - wr * tau) / s);
    const double ep = EXF_reference((v + wr) * X / (2.0 * D), (X + wr * tau) / s);
    if (flux) {
      H = 0.5 * em + 0.5 * ep;
    } else {
      H = (v / (v + wr)) * em + (v / (v - wr)) * ep +
          (v * v / (2.0 * mu * D)) * EXF_reference(v * X / D - mu * tau, A2);
    }

    if (pass == 2) {
      Y = Y - C0 * H;
      return;
    }
    Y = Ginf + (CI - Ginf) * B + (C0 - Ginf) * H;
  }
}

inline double CAVG_reference(ModelWork& w, const PulseGroup& p, double v) {
  double Y = 0.0;  // result holder handed to MOD12

  // Tube parameters: velocity and dispersion over R.
  w.VELO = v / w.RFAC;
  w.DISP = w.ALPHA * w.VELO;
  // Solute load: the input of a tube lasts the longer the slower it flows.
  if (model_traits(w.MODE).load) w.TPUL = w.TMLOAD / v;

  // Tube concentration, summed over the pulses that have started.
  double S = 0.0;
  for (int j = 1; j <= p.NPULSE; ++j) {
    if (p.NPULSE != 1) {
      if (j == 2) w.CI = 0.0;
      if (!model_traits(w.MODE).load) {
        Y = 0.0;
        w.C0 = p.CPULSE[j];
        if (w.C0 == 0.0 && j > 1) {
          S = S + Y;  // a pulse of clean water adds nothing
          continue;
        }
        w.TPUL = p.TPULSE[j + 1] - p.TPULSE[j];
      } else {
        w.TPUL = p.CPULSE[j] / (w.C0 * v);
      }
    }
    const double theta = w.TCUR - p.TPULSE[j];
    if (theta <= 0.0) break;  // later pulses start later still
    MOD12_reference(w, Y, w.XCUR, theta);
    S = S + Y;
  }
  w.CI = p.CISAVE;

  // Log-normal density of v.
  const double d = std::log(v) - w.VLNMU;
  const double f =
      std::exp(-std::min(d * d / (2.0 * w.SIGMA * w.SIGMA), EXPCAP)) /
      (SQRT2PI * w.SIGMA * v);

  if (S < SUMFLOOR) S = 0.0;
  if (model_traits(w.MODE).flux) return S * f * v;
  return S * f;
}

}  // namespace btcfit::tube_reference
