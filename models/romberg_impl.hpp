// Body of ROMB; included from models/romberg.hpp only.
#pragma once

#include <cmath>

namespace btcfit {

namespace romberg_detail {

// Relative agreement of the two best extrapolations that ends the
// refinement (single-precision 0.00005).
inline constexpr double kTolerance = double(0.00005f);
static_assert(kTolerance == 4.999999873689376e-05);

inline constexpr int kMaxPasses = 8;  // level 9: 256 panels
inline constexpr int kFirstTest = 4;  // no test before pass 4 (16 panels)

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

  // Level 1: the lower end term only; F is never evaluated at B.
  double x = A;
  double SUM = 0.5 * A * F(x);
  R[0][0] = H * SUM;
  S = R[0][0];

  double h = H;
  int n = 1;
  for (int p = 1; p <= kMaxPasses; ++p) {
    // New abscissae at the midpoints of the current panels, in u = ln x.
    double u = LA + h / 2.0;
    for (int m = 1; m <= n; ++m) {
      x = std::exp(u);
      SUM = SUM + x * F(x);
      u = u + h;
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
