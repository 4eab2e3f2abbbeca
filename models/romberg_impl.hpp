// Body of ROMB; included from models/romberg.hpp only.
#pragma once

#include <cmath>

#include "models/exponential.hpp"

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

}  // namespace romberg_detail

template <class Integrand>
void ROMB(Integrand&& F, double& S, double A, double B) {
  using namespace romberg_detail;
  S = 0.0;
  if (!(A < B)) return;

  // R[k-1][j-1] holds R(k, j): order k of extrapolation, level j.
  double R[kMaxPasses + 1][kMaxPasses + 1];

  const double LA = std::log(A);
  const double H = std::log(B) - LA;

  // A batch integrand gets the abscissae of levels 1 to kFirstTest + 1,
  // which are always needed, in one call: each formed as its pass forms
  // it, the one near u = ln A + j*H/kEarly at index j.
  [[maybe_unused]] double early_x[kEarly];
  [[maybe_unused]] double early_f[kEarly];
  if constexpr (BatchIntegrand<Integrand>) {
    // ln x first, then all the exponentials in one call (x[0] = A itself;
    // its slot holds ln A meanwhile).
    early_x[0] = LA;
    double h = H;
    int n = 1;
    for (int p = 1; p <= kFirstTest; ++p) {
      double u = LA + h / 2.0;
      for (int m = 1; m <= n; ++m) {
        early_x[(2 * m - 1) * (kEarly >> p)] = u;
        u = u + h;
      }
      h = h / 2.0;
      n = 2 * n;
    }
    exp_many(kEarly, early_x, early_x);
    early_x[0] = A;
    F.batch(early_x, early_f, kEarly);
  }

  // Level 1: the lower end term only; F is never evaluated at B.
  double x = A;
  double SUM;
  if constexpr (BatchIntegrand<Integrand>) {
    SUM = 0.5 * A * early_f[0];
  } else {
    SUM = 0.5 * A * F(x);
  }
  R[0][0] = H * SUM;
  S = R[0][0];

  double h = H;
  int n = 1;
  for (int p = 1; p <= kMaxPasses; ++p) {
    // New abscissae at the midpoints of the current panels, in u = ln x.
    double u = LA + h / 2.0;
    if constexpr (BatchIntegrand<Integrand>) {
      if (p <= kFirstTest) {
        for (int m = 1; m <= n; ++m) {
          const int j = (2 * m - 1) * (kEarly >> p);
          SUM = SUM + early_x[j] * early_f[j];
        }
      } else {
        // All abscissae of the pass first, then the integrand for all of
        // them in one call, summed in the same order.
        double xs[kMaxNew];
        double fs[kMaxNew];
        for (int m = 1; m <= n; ++m) {
          xs[m - 1] = u;
          u = u + h;
        }
        exp_many(n, xs, xs);
        F.batch(xs, fs, n);
        for (int m = 1; m <= n; ++m) SUM = SUM + xs[m - 1] * fs[m - 1];
      }
    } else {
      for (int m = 1; m <= n; ++m) {
        x = std::exp(u);
        SUM = SUM + x * F(x);
        u = u + h;
      }
    }
    const int i = p + 1;
    const double T = (h / 2.0) * SUM;
    R[0][i - 1] = T;
    S = T;

    double four_k = 1.0;
    for (int k = 1; k <= p; ++k) {
      four_k *= 4.0;
      R[k][i - k - 1] =
          (four_k * R[k - 1][i - k] - R[k - 1][i - k - 1]) / (four_k - 1.0);
    }
    const double E = R[i - 1][0];
    const double E2 = R[i - 2][1];
    if (p >= kFirstTest) {
      if (!(E > 0.0)) break;
      if (std::fabs((E - E2) / E) < kTolerance) break;
    }
    h = h / 2.0;
    n = 2 * n;
  }
}

}  // namespace btcfit
