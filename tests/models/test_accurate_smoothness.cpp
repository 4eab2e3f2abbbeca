// Accurate step responses of codes 3 to 8 are smooth: on a grid of 0.001
// pore volumes from 0.2 to 5 each one rises monotonically and no second
// difference stands out from its neighbours, over a grid of coefficients
// (Peclet 1, 20, 200; R 1, 5; beta 0.2, 0.95 and omega 0.01, 10 for the
// two-site codes; sigma of ln v 0.1, 1 for the stream tubes).
//
// Monotone: c(t + h) >= c(t) - 1e-10, the accuracy of the values (a fall
// below it is not resolved by them).
// Second differences d2(i) = c(i+1) - 2 c(i) + c(i-1): flagged when
// |d2(i)| > 4 max |d2(i+k)| over 2 <= |k| <= 4, and |d2(i)| is above both
// 1e-6 of the curve's largest |d2| and 4e-10 (four times the accuracy of
// the values). A smooth curve's d2 changes by a factor e^(4h/w) over 4
// steps where w is the width of its front in pore volumes (w >= 0.02 here:
// less than 2.2) and the factor 4 leaves room; a kink of slope change s
// gives one d2 of s h against neighbours of order h^2 c'', and a jump of
// size j two of size j: both stand out by orders of magnitude (the legacy
// two-site curves fail this test, see LegacyTwoSiteCurveFails).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <span>
#include <cstdio>
#include <string>
#include <vector>

#include "models/accurate.hpp"
#include "problem/model_traits.hpp"
#include "models/model.hpp"

namespace btcfit {
namespace {

constexpr double kStep = 0.001;  // pore volumes
constexpr double kFirst = 0.2;
constexpr double kLast = 5.0;

struct Curve {
  int code;
  double peclet, R, beta_or_sigma, omega;
};

// A step input (pulse far longer than the curve) at x = XMAX = 1, V = 1,
// so that times are pore volumes; no decay, no production, CI = 0, C0 = 1.
ProblemRecord step_problem(const Curve& c, CoefColumn& B) {
  ProblemRecord rec;
  rec.work.MODE = c.code;
  rec.obs.NCOEF = model_traits(c.code).coefficient_count;
  rec.work.C0 = rec.C0DECK = 1.0;
  rec.work.XMAX = 1.0;
  rec.pulses.NPULSE = 1;
  const int n = rec.obs.NCOEF;
  B = {};
  B[n + 0] = 1.0;
  B[n + 1] = 1.0 / c.peclet;  // D (codes 3, 4) or dispersivity (5 to 8)
  B[n + 2] = c.R;
  B[n + 3] = 1e6;  // pulse duration, or load (duration 1e6 / v): a step
  if (c.code <= 4) {
    B[n + 4] = c.beta_or_sigma;
    B[n + 5] = c.omega;
  } else {
    B[n + 6] = c.beta_or_sigma;
  }
  return rec;
}

std::vector<double> grid() {
  std::vector<double> t;
  for (int i = 0;; ++i) {
    const double v = kFirst + i * kStep;
    if (v > kLast + 1e-9) break;
    t.push_back(v);
  }
  return t;
}

// The first index whose second difference stands out, or -1.
int standing_out(const std::vector<double>& c) {
  const int n = static_cast<int>(c.size());
  std::vector<double> d2(n, 0.0);
  double largest = 0.0;
  for (int i = 1; i + 1 < n; ++i) {
    d2[i] = std::abs(c[i + 1] - 2.0 * c[i] + c[i - 1]);
    largest = std::max(largest, d2[i]);
  }
  for (int i = 5; i + 5 < n; ++i) {
    double neighbours = 0.0;
    for (int k = 2; k <= 4; ++k) neighbours = std::max({neighbours, d2[i - k], d2[i + k]});
    if (d2[i] > 4.0 * neighbours && d2[i] > 1e-6 * largest && d2[i] > 4e-10) return i;
  }
  return -1;
}

std::vector<Curve> curves() {
  std::vector<Curve> out;
  for (int code = 3; code <= 8; ++code) {
    for (double pe : {1.0, 20.0, 200.0}) {
      for (double R : {1.0, 5.0}) {
        if (code <= 4) {
          for (double beta : {0.2, 0.95}) {
            for (double omega : {0.01, 10.0}) out.push_back({code, pe, R, beta, omega});
          }
        } else {
          for (double sigma : {0.1, 1.0}) out.push_back({code, pe, R, sigma, 0.0});
        }
      }
    }
  }
  return out;
}

std::string name(const Curve& c) {
  char s[120];
  std::snprintf(s, sizeof s, "code %d Pe %g R %g %s %g omega %g", c.code, c.peclet, c.R,
                c.code <= 4 ? "beta" : "sigma", c.beta_or_sigma, c.omega);
  return s;
}

class AccurateSmoothness : public ::testing::TestWithParam<Curve> {};

TEST_P(AccurateSmoothness, StepRisesMonotonicallyWithoutKinks) {
  const Curve& curve = GetParam();
  SCOPED_TRACE(name(curve));
  CoefColumn B;
  const ProblemRecord rec = step_problem(curve, B);
  const std::vector<double> t = grid();
  const std::vector<double> x(t.size(), 1.0);
  std::vector<double> c(t.size());
  accurate_model(rec, B, x, t, c);
  for (std::size_t i = 0; i + 1 < c.size(); ++i) {
    ASSERT_GE(c[i + 1], c[i] - 1e-10) << "falls at " << t[i] << " pore volumes";
  }
  const int i = standing_out(c);
  EXPECT_EQ(i, -1) << "second difference stands out at " << (i >= 0 ? t[i] : 0.0)
                   << " pore volumes";
}

INSTANTIATE_TEST_SUITE_P(Grid, AccurateSmoothness, ::testing::ValuesIn(curves()));

// Smooth in the coefficients too: at a time on the front (1.2 R pore
// volumes, x = XMAX = 1) the value as a function of the dispersion
// coefficient (Peclet 5 to 200), of omega (0.01 to 10, codes 3, 4) and of
// sigma (0.1 to 1, codes 5 to 8), on 2000 points each (logarithmic steps
// for D and omega), with the second-difference test above.
TEST(AccurateSmoothness, SmoothInCoefficients) {
  for (int code = 3; code <= 8; ++code) {
    for (int which = 0; which < 2; ++which) {
      SCOPED_TRACE("code " + std::to_string(code) + (which == 0 ? " in D" : " in omega or sigma"));
      const int n = 2000;
      std::vector<double> c(n);
      for (int i = 0; i < n; ++i) {
        const double f = static_cast<double>(i) / (n - 1);
        Curve curve{code, 20.0, 2.0, code <= 4 ? 0.5 : 0.4, 0.5};
        if (which == 0) {
          curve.peclet = 5.0 * std::exp(f * std::log(40.0));
        } else if (code <= 4) {
          curve.omega = 0.01 * std::exp(f * std::log(1000.0));
        } else {
          curve.beta_or_sigma = 0.1 + 0.9 * f;
        }
        CoefColumn B;
        const ProblemRecord rec = step_problem(curve, B);
        const double x = 1.0;
        const double t = 1.2 * curve.R;
        accurate_model(rec, B, std::span<const double>(&x, 1), std::span<const double>(&t, 1),
                       std::span<double>(&c[i], 1));
      }
      const int i = standing_out(c);
      EXPECT_EQ(i, -1) << "second difference stands out at point " << i;
    }
  }
}

// The same test finds the kink of the legacy two-site quadrature: the
// two-site flux curve V = 2, D = 3, R = 1.5, T0 = 1000, beta = 0.7,
// omega = 0.5 at x = 30 (legacy values fall by 4 % near t = 12.84).
TEST(AccurateSmoothness, LegacyTwoSiteCurveFails) {
  ProblemRecord rec;
  rec.work.MODE = 4;
  rec.obs.NCOEF = 6;
  rec.work.C0 = rec.C0DECK = 1.0;
  rec.work.XMAX = 30.0;
  rec.pulses.NPULSE = 1;
  CoefColumn B{};
  const double b[] = {2.0, 3.0, 1.5, 1000.0, 0.7, 0.5};
  for (int k = 0; k < 6; ++k) B[6 + k] = b[k];
  // 0.001 pore volumes = 0.015 time units; 4800 points from 3 to 75.
  std::vector<double> legacy;
  std::vector<double> accurate;
  for (int start = 0; start < 4800; start += MAXOBS) {
    const int m = std::min(MAXOBS, 4800 - start);
    ProblemRecord r = rec;
    r.obs.NOB = m;
    std::vector<double> xs(m, 30.0), ts(m), cs(m);
    for (int j = 0; j < m; ++j) {
      ts[j] = 3.0 + 0.015 * (start + j);
      r.obs.XOBS[j + 1] = 30.0;
      r.obs.TOBS[j + 1] = ts[j];
    }
    std::array<double, MAXOBS + 1> cc{};
    MODEL(r, B, cc);
    legacy.insert(legacy.end(), cc.begin() + 1, cc.begin() + 1 + m);
    accurate_model(rec, B, xs, ts, cs);
    accurate.insert(accurate.end(), cs.begin(), cs.end());
  }
  EXPECT_NE(standing_out(legacy), -1);
  EXPECT_EQ(standing_out(accurate), -1);
}

}  // namespace
}  // namespace btcfit
