// Two-site/two-region nonequilibrium solution (model codes 3 and 4).
//
// Dimensionless form: distance Z = X/XMAX, time in pore volumes V*T/XMAX,
// column Peclet number P. The concentration for a step input is the
// integral over the equilibrium-phase time tau of the equilibrium-phase
// pulse response times Goldstein's J function. The integral is taken over
// the window where the exponent of the phase response is above -20, with a
// five-point Gauss-Legendre rule on [0, 0.0001*b] when the window reaches
// tau = 0 and the Romberg rule in ln tau for the rest. A pulse is the
// difference of two steps (two passes).
#include "models/array_loop.hpp"
#include "models/nonequilibrium.hpp"

#include <algorithm>
#include <cmath>

#include "models/exchange_function.hpp"
#include "models/exponential_erfc.hpp"
#include "models/exponential.hpp"
#include "models/exponential_erfc_batch.hpp"
#include "models/romberg.hpp"
#include "problem/model_traits.hpp"

namespace btcfit {

namespace {

constexpr double kInletZ = 1e-10;        // resident: distance replacing Z <= 0
constexpr double kWindowFactor = double(0.05f);  // of P*Z under the root
constexpr double kWindowHalf = 40.0;
constexpr double kSplit = 0.0001;        // five-point rule on [0, kSplit * b]
constexpr double kCutoff = 1e-7;         // phase response below: no J
constexpr double kFourPi = double(12.5664f);
constexpr double kInvSqrtPi = double(0.56419f);
constexpr double kBetaCap = 0.9999;

static_assert(kWindowFactor == 0.05000000074505806);
static_assert(kFourPi == 12.566399574279785);
static_assert(kInvSqrtPi == 0.5641899704933167);

// Five-point Gauss-Legendre rule mapped to [0, 1].
constexpr double kGaussX[5] = {double(0.04691008f), double(0.23076534f), double(0.5f),
                               double(0.76923466f), double(0.9530899f)};
constexpr double kGaussW[5] = {double(0.1184634f), double(0.2393143f), double(0.2844444f),
                               double(0.2393143f), double(0.1184634f)};
static_assert(kGaussX[0] == 0.046910081058740616);
static_assert(kGaussX[1] == 0.23076534271240234);
static_assert(kGaussX[2] == 0.5);
static_assert(kGaussX[3] == 0.7692346572875977);
static_assert(kGaussX[4] == 0.9530898928642273);
static_assert(kGaussW[0] == 0.11846339702606201);
static_assert(kGaussW[1] == 0.23931430280208588);
static_assert(kGaussW[2] == 0.2844443917274475);
static_assert(kGaussW[3] == 0.23931430280208588);
static_assert(kGaussW[4] == 0.11846339702606201);

}  // namespace

void prepare_nonequilibrium(ModelWork& w, const CoefColumn& B, int NCOEF) {
  const auto b = [&](int k) { return B[NCOEF + k - 1]; };
  const double R = b(3);
  w.VELO = b(1);
  w.DISP = w.XMAX * b(1) / b(2);
  w.PAR5 = std::min(b(5), kBetaCap) * R;
  w.PAR6 = b(6);
}

namespace {

// Equilibrium-phase response g at tau (before the cut-off), in three steps
// so that the EXF calls of many abscissae can be made together: the
// arguments of E1 = EXF(A1, 0) and (resident) E2 = EXF(A2, B2), then g.
struct PhaseArgs {
  double A1, A2, B2;
};

inline PhaseArgs phase_args_at(double Z, double bR, double P, double tau) {
  PhaseArgs e;
  e.A1 = -P * ((bR * Z - tau) * (bR * Z - tau)) / (4.0 * bR * tau);
  e.A2 = P * Z;
  e.B2 = (bR * Z + tau) * 0.5 * std::sqrt(P / (bR * tau));
  return e;
}

inline PhaseArgs phase_args(const ModelWork& w, double tau) {
  return phase_args_at(w.XCUR, w.PAR5, w.DISP, tau);
}

// g for flux and for resident concentrations.
inline double phase_flux(double Z, double bR, double P, double tau, double E1) {
  return (Z / tau) * std::sqrt(bR * P / (kFourPi * tau)) * E1;
}
inline double phase_resident(double bR, double P, double tau, double E1, double E2) {
  return kInvSqrtPi * std::sqrt(P / (bR * tau)) * E1 - (P / (2.0 * bR)) * E2;
}

inline double phase_from(const ModelWork& w, double tau, double E1, double E2) {
  if (model_traits(w.MODE).flux) return phase_flux(w.XCUR, w.PAR5, w.DISP, tau, E1);
  return phase_resident(w.PAR5, w.DISP, tau, E1, E2);
}

inline double phase_response(const ModelWork& w, double tau) {
  const PhaseArgs e = phase_args(w, tau);
  const double E1 = EXF(e.A1, 0.0);
  const double E2 = model_traits(w.MODE).flux ? 0.0 : EXF(e.A2, e.B2);
  return phase_from(w, tau, E1, E2);
}

// Arguments of J at tau.
inline double exchange_a_at(double omega, double bR, double tau) { return omega * tau / bR; }
inline double exchange_b_at(double omega, double theta, double R, double bR, double tau) {
  return omega * (theta - tau) / (R - bR);
}
inline double exchange_a(const ModelWork& w, double tau) {
  return exchange_a_at(w.PAR6, w.PAR5, tau);
}
inline double exchange_b(const ModelWork& w, double tau) {
  return exchange_b_at(w.PAR6, w.TCUR, w.RFAC, w.PAR5, tau);
}

// The per-abscissa arithmetic of CC0_batch as loops over arrays, run
// through array_loop (models/array_loop.hpp): each abscissa still sees the
// operations of CC0 in the same order.
struct PhaseFields {
  double Z, bR, P, omega, theta, R;
  bool flux;
};

inline PhaseFields phase_fields(const ModelWork& w) {
  return {w.XCUR, w.PAR5, w.DISP, w.PAR6, w.TCUR, w.RFAC, model_traits(w.MODE).flux};
}

__attribute__((always_inline)) inline void phase_args_many(int n, const PhaseFields& c,
                                                           const double* __restrict tau,
                                                           double* __restrict A1,
                                                           double* __restrict A2,
                                                           double* __restrict B2) {
  for (int i = 0; i < n; ++i) {
    const PhaseArgs e = phase_args_at(c.Z, c.bR, c.P, tau[i]);
    A1[i] = e.A1;
    A2[i] = e.A2;
    B2[i] = e.B2;
  }
}

// g, and the arguments of J (used where g is not below the cut-off).
__attribute__((always_inline)) inline void phase_values_many(
    int n, const PhaseFields& c, const double* __restrict tau, const double* __restrict E1,
    const double* __restrict E2, double* __restrict g, double* __restrict ja,
    double* __restrict jb) {
  if (c.flux) {
    for (int i = 0; i < n; ++i) g[i] = phase_flux(c.Z, c.bR, c.P, tau[i], E1[i]);
  } else {
    for (int i = 0; i < n; ++i) g[i] = phase_resident(c.bR, c.P, tau[i], E1[i], E2[i]);
  }
  for (int i = 0; i < n; ++i) {
    ja[i] = exchange_a_at(c.omega, c.bR, tau[i]);
    jb[i] = exchange_b_at(c.omega, c.theta, c.R, c.bR, tau[i]);
  }
}

// The integrand for ROMB, with the batch evaluation.
struct PhaseIntegrand {
  const ModelWork& w;
  double operator()(double tau) const { return CC0(w, tau); }
  void batch(const double* tau, double* f, int n) const { CC0_batch(w, tau, f, n); }
};

}  // namespace

double CC0(const ModelWork& w, double tau) {
  const double g = phase_response(w, tau);
  if (g < kCutoff) return 0.0;
  return g * GOLD(exchange_a(w, tau), exchange_b(w, tau));
}

void CC0_batch(const ModelWork& w, const double* tau, double* f, int n) {
  // The phase responses and the arguments of J of a chunk of abscissae
  // together; J for those above the cut-off in one batch.
  constexpr int kChunk = 128;
  double g[kChunk], ja[kChunk], jb[kChunk], J[kChunk];
  double A1[kChunk], E1[kChunk], A2[kChunk], B2[kChunk], E2[kChunk];
  int at[kChunk];
  const PhaseFields c = phase_fields(w);
  for (int start = 0; start < n; start += kChunk) {
    const int count = std::min(kChunk, n - start);
    const double* t = tau + start;
    array_loop<phase_args_many>(count, c, t, A1, A2, B2);
    exf_zero_many(count, A1, E1);
    if (!c.flux) exf_many(count, A2, B2, E2);
    array_loop<phase_values_many>(count, c, t, E1, E2, g, ja, jb);
    int kept = 0;
    for (int i = 0; i < count; ++i) {
      if (g[i] < kCutoff) {
        f[start + i] = 0.0;
        continue;
      }
      g[kept] = g[i];
      ja[kept] = ja[i];
      jb[kept] = jb[i];
      at[kept] = start + i;
      ++kept;
    }
    GOLD_batch(ja, jb, J, kept);
    for (int j = 0; j < kept; ++j) f[at[j]] = g[j] * J[j];
  }
}

void MOD34(ModelWork& w, double& CP, double X, double T) {
  const double L = w.XMAX;
  const double V = w.VELO;
  const double P = w.DISP;
  const double T0 = w.TPUL;
  const double bR = w.PAR5;
  const double CI = w.CI;
  const double C0 = w.C0;

  const double TT0 = T0 * V / L;
  const double TT = V * T / L;
  double Z = X / L;
  w.XCUR = Z;

  if (Z <= 0.0) {
    if (!model_traits(w.MODE).flux) {
      Z = kInletZ;
      w.XCUR = Z;
    } else {
      CP = (T <= T0) ? C0 : 0.0;
      return;
    }
  }

  const PhaseIntegrand integrand{w};

  double I = 0.0;
  for (int k = 1; k <= 2; ++k) {
    I = 0.0;
    const double sigma = (k == 1) ? 0.0 : -1.0;
    const double theta = TT + sigma * TT0;
    w.TCUR = theta;
    if (theta <= 0.0) {
      if (k == 1) continue;
      break;
    }

    // Roots in tau of P*(bR*Z - tau)^2 = 80*bR*tau: the exponent of the
    // phase response is below -20 outside them.
    const double q = std::sqrt(1.0 + kWindowFactor * P * Z);
    const double upper = (Z + kWindowHalf * (1.0 + q) / P) * bR;
    const double lower = (Z + kWindowHalf * (1.0 - q) / P) * bR;
    const double b = std::min(upper, theta);
    double a = std::max(lower, 0.0);

    if (b > a) {
      double Gsum = 0.0;
      if (a == 0.0) {
        const double ts = kSplit * b;
        double tau[5], f[5];
        for (int i = 0; i < 5; ++i) tau[i] = ts * kGaussX[i];
        CC0_batch(w, tau, f, 5);
        double sum = 0.0;
        for (int i = 0; i < 5; ++i) sum = sum + kGaussW[i] * f[i];
        Gsum = ts * sum;
        a = ts;
      }
      double S = 0.0;
      ROMB(integrand, S, a, b);
      I = S + Gsum;
    }

    if (k == 1) CP = CI + (C0 - CI) * I;
  }
  CP = CP - C0 * I;
}

}  // namespace btcfit
