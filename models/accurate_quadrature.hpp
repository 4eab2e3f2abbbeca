// Adaptive Gauss-Kronrod quadrature over a range split at given points.
//
// Method: the 15-point Kronrod rule with its embedded 7-point Gauss rule
// (nodes and weights as Boost.Math tabulates them, so no function of the C
// library is involved) on each piece; the piece with the largest error
// estimate |K15 - G7| is halved until the sum of the estimates is below
// the tolerance or the table of pieces is full. The estimate |K15 - G7| is
// that of the lower-order rule: for the smooth integrands here the K15 sum
// itself is many digits better, so the tolerance is a safe bound. Fixed
// storage, no allocation; the integrand is a callable of one double.
#pragma once

#include <algorithm>
#include <boost/math/quadrature/gauss.hpp>
#include <boost/math/quadrature/gauss_kronrod.hpp>
#include <cmath>

namespace btcfit::accurate_detail {

inline constexpr int kMostPieces = 96;

struct QuadraturePiece {
  double a;
  double b;
  double value;
  double error;
  double l1;
};

template <class F>
QuadraturePiece kronrod_piece(F& f, double a, double b) {
  using Kronrod = boost::math::quadrature::gauss_kronrod<double, 15>;
  using Gauss = boost::math::quadrature::gauss<double, 7>;
  const auto& x = Kronrod::abscissa();
  const auto& wk = Kronrod::weights();
  const auto& wg = Gauss::weights();
  const double mid = 0.5 * (a + b);
  const double half = 0.5 * (b - a);
  // Gauss order 7 is odd: its nodes are x[0] = 0, x[2], x[4], x[6].
  const double f0 = f(mid);
  double k = f0 * wk[0];
  double g = f0 * wg[0];
  double l1 = std::abs(f0) * wk[0];
  for (unsigned i = 1; i < x.size(); ++i) {
    const double fp = f(mid + half * x[i]);
    const double fm = f(mid - half * x[i]);
    k += (fp + fm) * wk[i];
    l1 += (std::abs(fp) + std::abs(fm)) * wk[i];
    if (i % 2 == 0) g += (fp + fm) * wg[i / 2];
  }
  return {a, b, half * k, std::abs(half * (k - g)), std::abs(half) * l1};
}

// Integral of f over [points[0], points[n-1]] (n >= 2, points ascending),
// refined until the error estimate is below rel_tol times the integral of
// |f| plus abs_tol.
template <class F>
double adaptive_integral(F&& f, const double* points, int n, double rel_tol, double abs_tol) {
  QuadraturePiece piece[kMostPieces];
  int m = 0;
  double value = 0.0;
  double error = 0.0;
  double l1 = 0.0;
  for (int i = 0; i + 1 < n; ++i) {
    if (!(points[i + 1] > points[i])) continue;
    piece[m] = kronrod_piece(f, points[i], points[i + 1]);
    value += piece[m].value;
    error += piece[m].error;
    l1 += piece[m].l1;
    ++m;
    if (m == kMostPieces) break;
  }
  while (m > 0 && m < kMostPieces && error > rel_tol * l1 + abs_tol) {
    int worst = 0;
    for (int i = 1; i < m; ++i) {
      if (piece[i].error > piece[worst].error) worst = i;
    }
    const QuadraturePiece old = piece[worst];
    const double mid = 0.5 * (old.a + old.b);
    if (!(mid > old.a && mid < old.b)) break;  // no room left to halve
    piece[worst] = kronrod_piece(f, old.a, mid);
    piece[m] = kronrod_piece(f, mid, old.b);
    value += piece[worst].value + piece[m].value - old.value;
    error += piece[worst].error + piece[m].error - old.error;
    l1 += piece[worst].l1 + piece[m].l1 - old.l1;
    ++m;
  }
  // The running sums drift by rounding over many updates: sum afresh.
  value = 0.0;
  for (int i = 0; i < m; ++i) value += piece[i].value;
  return value;
}

}  // namespace btcfit::accurate_detail
