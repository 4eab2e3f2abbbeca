// Body of ROMB; included from models/romberg.hpp only.
#pragma once

#include <cmath>

#include "models/exponential.hpp"
#include "models/lockstep.hpp"
#include "models/logarithm.hpp"

namespace btcfit {

namespace romberg_detail {

// Relative agreement of the two best extrapolations that ends the
// refinement (single-precision 0.00005).
inline constexpr double kTolerance = double(0.00005f);
static_assert(kTolerance == 4.999999873689376e-05);

inline constexpr int kMaxPasses = 8;  // level 9: 256 panels
inline constexpr int kFirstTest = 4;  // no test before pass 4 (16 panels)
inline constexpr int kMaxNew = 1 << (kMaxPasses - 1);  // abscissae of the last pass
inline constexpr int kEarly = 1 << kFirstTest;  // abscissae of levels 1 to kFirstTest + 1

// An integrand with a member batch(const double* x, double* f, int n) that
// sets f[i] = F(x[i]) for i < n, with the same values as the single call.
template <class Integrand>
concept BatchIntegrand = requires(Integrand& F, const double* x, double* f, int n) {
  F.batch(x, f, n);
};

// The Richardson table of the levels so far. add(p, T) enters the
// trapezoid sum T of pass p (level p + 1) and tells whether to stop;
// close_pass(p, h, SUM, S) forms T from the panel width h and the running
// sum, puts it in S, enters it, and tells whether to stop.
struct Table {
  // R[k-1][j-1] holds R(k, j): order k of extrapolation, level j.
  double R[kMaxPasses + 1][kMaxPasses + 1];

  bool add(int p, double T) {
    const int i = p + 1;
    R[0][i - 1] = T;
    double four_k = 1.0;
    for (int k = 1; k <= p; ++k) {
      four_k *= 4.0;
      R[k][i - k - 1] =
          (four_k * R[k - 1][i - k] - R[k - 1][i - k - 1]) / (four_k - 1.0);
    }
    const double E = R[i - 1][0];
    const double E2 = R[i - 2][1];
    if (p >= kFirstTest) {
      if (!(E > 0.0)) return true;
      if (std::fabs((E - E2) / E) < kTolerance) return true;
    }
    return false;
  }

  bool close_pass(int p, double h, double SUM, double& S) {
    const double T = (h / 2.0) * SUM;
    S = T;
    return add(p, T);
  }
};

}  // namespace romberg_detail

template <class Integrand>
void ROMB(Integrand&& F, double& S, double A, double B) {
  using namespace romberg_detail;
  if constexpr (BatchIntegrand<Integrand>) {
    run_steps(romberg_steps(S, A, B),
              [&F](const ValueRequest& r) { F.batch(r.v, r.f, r.n); });
  } else {
    S = 0.0;
    if (!(A < B)) return;
    Table table;
    const double LA = fixed_log(A);
    const double H = fixed_log(B) - LA;

    // Level 1: the lower end term only; F is never evaluated at B.
    double x = A;
    double SUM = 0.5 * A * F(x);
    table.R[0][0] = H * SUM;
    S = table.R[0][0];

    double h = H;
    int n = 1;
    for (int p = 1; p <= kMaxPasses; ++p) {
      // New abscissae at the midpoints of the current panels, in u = ln x.
      double u = LA + h / 2.0;
      for (int m = 1; m <= n; ++m) {
        x = fixed_exp(u);
        SUM = SUM + x * F(x);
        u = u + h;
      }
      if (table.close_pass(p, h, SUM, S)) break;
      h = h / 2.0;
      n = 2 * n;
    }
  }
}

}  // namespace btcfit
