// Romberg quadrature for batch integrands, as a computation that pauses for
// the integrand values of a level (see models/romberg.hpp).
#include <cmath>

#include "models/exponential.hpp"
#include "models/logarithm.hpp"
#include "models/romberg.hpp"

namespace btcfit {

Steps romberg_steps(double& S, double A, double B, const double* FA) {
  using namespace romberg_detail;
  S = 0.0;
  if (!(A < B)) co_return;
  Table table;
  const double LA = fixed_log(A);
  const double H = fixed_log(B) - LA;

  // The abscissae of levels 1 to kFirstTest + 1, which are always needed,
  // in one request: each formed as its pass forms it, the one near
  // u = ln A + j*H/kEarly at index j. ln x first, then all the
  // exponentials in one call (x[0] = A itself; its slot holds ln A
  // meanwhile).
  double early_x[kEarly];
  double early_f[kEarly];
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
  if (FA != nullptr) {
    early_f[0] = *FA;
    co_await Values{{early_x + 1, early_f + 1, kEarly - 1}};
  } else {
    co_await Values{{early_x, early_f, kEarly}};
  }

  // Level 1: the lower end term only; F is never evaluated at B.
  double SUM = 0.5 * A * early_f[0];
  table.R[0][0] = H * SUM;
  S = table.R[0][0];

  double xs[kMaxNew];
  double fs[kMaxNew];
  h = H;
  n = 1;
  for (int p = 1; p <= kMaxPasses; ++p) {
    // New abscissae at the midpoints of the current panels, in u = ln x.
    if (p <= kFirstTest) {
      for (int m = 1; m <= n; ++m) {
        const int j = (2 * m - 1) * (kEarly >> p);
        SUM = SUM + early_x[j] * early_f[j];
      }
    } else {
      // All abscissae of the pass first, then the integrand for all of
      // them in one request, summed in the same order.
      double u = LA + h / 2.0;
      for (int m = 1; m <= n; ++m) {
        xs[m - 1] = u;
        u = u + h;
      }
      exp_many(n, xs, xs);
      co_await Values{{xs, fs, n}};
      for (int m = 1; m <= n; ++m) SUM = SUM + xs[m - 1] * fs[m - 1];
    }
    if (table.close_pass(p, h, SUM, S)) break;
    h = h / 2.0;
    n = 2 * n;
  }
}

}  // namespace btcfit
