// The velocity-range search on integrands of known shape: scans, slope
// tests, step-backs, correction steps and early returns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "models/stochastic_limit.hpp"
#include "test_stochastic_setup.hpp"

namespace btcfit {
namespace {

using stochastic_test::opaque;

constexpr double kVmax = 3.0;
constexpr double kEps = 1e-6;
constexpr double kE = kEps / 100.0;  // scan threshold

// Wraps an integrand so that every evaluation point is recorded.
template <class G>
auto recording(G g, std::vector<double>& at) {
  return [g, &at](double v) {
    at.push_back(v);
    return g(v);
  };
}

double forward_slope(double (*g)(double), double v) {
  return (g(LIMIT_DIFSTEP * v) - g(v)) / (LIMIT_DIFDIV * v);
}

// Geometric scan points from v by factor F (multiplied step by step).
std::vector<double> scan_up(double v, double F, int n) {
  std::vector<double> pts;
  for (int i = 0; i < n; ++i) {
    pts.push_back(v);
    v = v * F;
  }
  pts.push_back(v);  // where the scan leaves the point after n steps
  return pts;
}

TEST(StochasticLimit, ConstantsAreTheWidenedSinglePrecisionValues) {
  EXPECT_EQ(LIMIT_STEPEXP, 0.10000000149011612);
  EXPECT_EQ(LIMIT_DIFSTEP, 1.0010000467300415);
  EXPECT_EQ(LIMIT_DIFDIV, 0.0010000000474974513);
  EXPECT_EQ(LIMIT_NSCAN, 3);
  EXPECT_EQ(LIMIT_NSTEP, 11);
  EXPECT_EQ(LIMIT_NCORR, 5);
}

TEST(StochasticLimit, GuessAtOrAboveVmaxChangesNothing) {
  for (double guess : {kVmax, 2.0 * kVmax}) {
    SCOPED_TRACE(guess);
    std::vector<double> at;
    double VLO = guess;
    double VHI = -7.0;
    limit_search(recording([](double) { return 1.0; }, at), VLO, VHI, kVmax,
                 kEps);
    EXPECT_EQ(VLO, guess);
    EXPECT_EQ(VHI, -7.0);
    EXPECT_TRUE(at.empty());
  }
}

// Nothing above E (E itself does not count): eleven points, each followed
// by a step up, then VHI = VLO: an empty range.
TEST(StochasticLimit, NothingAboveThresholdGivesEmptyRange) {
  const double VLO0 = 0.5;
  const double F = std::pow(opaque(kVmax / VLO0), double(0.1f));
  const std::vector<double> pts = scan_up(VLO0, F, 11);
  for (double level : {0.0, kE}) {
    SCOPED_TRACE(level);
    std::vector<double> at;
    double VLO = VLO0;
    double VHI = -7.0;
    limit_search(recording([level](double) { return level; }, at), VLO, VHI,
                 kVmax, kEps);
    ASSERT_EQ(at.size(), 11u);
    for (int i = 0; i < 11; ++i) EXPECT_EQ(at[i], pts[i]) << i;
    EXPECT_EQ(VLO, pts[11]);
    EXPECT_EQ(VHI, VLO);
    EXPECT_GT(VLO, kVmax);
  }
  // The step factor is the single-precision tenth power, not 0.1 exactly.
  EXPECT_NE(scan_up(VLO0, std::pow(opaque(kVmax / VLO0), 0.1), 11)[11],
            pts[11]);
}

// Tent: 0 below 1, rising to 0.1 at 1.5, falling to 0 at 2.2.
double tent(double v) {
  if (v <= 1.0 || v >= 2.2) return 0.0;
  if (v <= 1.5) return 0.1 * (v - 1.0) / 0.5;
  return 0.1 * (2.2 - v) / 0.7;
}

// Both flanks are corrected towards zero concentration. The second
// correction is taken although the point it starts from is already below
// EPS: the test on the g of the previous point comes after the step.
TEST(StochasticLimit, TentIsBracketedByCorrectionSteps) {
  std::vector<double> at;
  const double VLO0 = 0.5;
  double VLO = VLO0;
  double VHI = -7.0;
  limit_search(recording(tent, at), VLO, VHI, kVmax, kEps);
  ASSERT_EQ(at.size(), 15u);

  // Lower limit: the scan reaches 1.024 (fifth point), slope, one
  // correction evaluated (point and slope), then the last step unevaluated.
  const double F = std::pow(opaque(kVmax / VLO0), double(0.1f));
  const std::vector<double> pts = scan_up(VLO0, F, 11);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(at[i], pts[i]) << i;
  EXPECT_LE(tent(at[3]), kE);
  EXPECT_GT(tent(at[4]), kE);
  EXPECT_EQ(at[5], LIMIT_DIFSTEP * at[4]);
  const double vlo1 = at[4] - tent(at[4]) / forward_slope(tent, at[4]);
  EXPECT_EQ(at[6], vlo1);
  EXPECT_EQ(at[7], LIMIT_DIFSTEP * vlo1);
  EXPECT_LT(tent(vlo1), kEps);
  EXPECT_GT(tent(vlo1), 0.0);
  const double vlo2 = vlo1 - tent(vlo1) / forward_slope(tent, vlo1);
  EXPECT_EQ(VLO, vlo2);
  EXPECT_LT(vlo2, vlo1);
  EXPECT_GT(vlo2, 1.0);

  // Upper limit: from VMAX down by (VMAX/VLO)^0.1 to the first point above
  // E on the falling flank, slope, one evaluated correction, a last step.
  const double G = std::pow(opaque(kVmax / VLO), double(0.1f));
  double v = kVmax;
  for (int i = 8; i < 12; ++i) {
    EXPECT_EQ(at[i], v) << i;
    v = v / G;
  }
  EXPECT_LE(tent(at[10]), kE);
  EXPECT_GT(tent(at[11]), kE);
  EXPECT_EQ(at[12], LIMIT_DIFSTEP * at[11]);
  const double vhi1 = at[11] - tent(at[11]) / forward_slope(tent, at[11]);
  EXPECT_EQ(at[13], vhi1);
  EXPECT_EQ(at[14], LIMIT_DIFSTEP * vhi1);
  EXPECT_LT(tent(vhi1), kEps);
  const double vhi2 = vhi1 - tent(vhi1) / forward_slope(tent, vhi1);
  EXPECT_EQ(VHI, vhi2);
  EXPECT_GT(vhi2, vhi1);
}

double falling(double v) { return std::exp(opaque(-v)); }

// Falling at every found point: the lower limit steps back three times with
// ever finer factors; the upper limit runs its five corrections to the end.
TEST(StochasticLimit, FallingIntegrandStepsBackAndRunsAllCorrections) {
  std::vector<double> at;
  const double VLO0 = 0.5;
  double VLO = VLO0;
  double VHI = -7.0;
  limit_search(recording(falling, at), VLO, VHI, kVmax, kEps);
  ASSERT_EQ(at.size(), 6u + 2u + 10u);

  double F = std::pow(opaque(kVmax / VLO0), double(0.1f));
  double v = VLO0;
  for (int scan = 0; scan < 3; ++scan) {
    EXPECT_EQ(at[2 * scan], v) << scan;
    EXPECT_EQ(at[2 * scan + 1], LIMIT_DIFSTEP * v) << scan;
    v = v / F;
    F = std::pow(opaque(F), double(0.1f));
  }
  EXPECT_EQ(VLO, v);

  EXPECT_EQ(at[6], kVmax);
  double w = kVmax;
  for (int k = 0; k < 5; ++k) {
    w = w - falling(w) / forward_slope(falling, w);
    EXPECT_EQ(at[8 + 2 * k], w) << k;
  }
  EXPECT_EQ(VHI, w);
  EXPECT_GT(falling(w), kEps);  // stopped by the count, not by EPS
}

// Rising but below EPS where found: no correction; the upper limit is below
// the peak at every scan and steps up three times.
TEST(StochasticLimit, SmallRisingIntegrandNeedsNoCorrection) {
  auto g = [](double v) { return 1e-7 * v; };
  std::vector<double> at;
  const double VLO0 = 0.5;
  double VLO = VLO0;
  double VHI = -7.0;
  limit_search(recording(g, at), VLO, VHI, kVmax, kEps);
  ASSERT_EQ(at.size(), 8u);
  EXPECT_EQ(VLO, VLO0);
  double F = std::pow(opaque(kVmax / VLO0), double(0.1f));
  double v = kVmax;
  for (int scan = 0; scan < 3; ++scan) {
    EXPECT_EQ(at[2 + 2 * scan], v) << scan;
    v = v * F;
    F = std::pow(opaque(F), double(0.1f));
  }
  EXPECT_EQ(VHI, v);
}

// A correction that would reach zero or below is taken back.
TEST(StochasticLimit, CorrectionBelowZeroIsTakenBack) {
  auto g = [](double v) { return 0.01 * (v + 1.0); };
  std::vector<double> at;
  double VLO = 0.5;
  double VHI = -7.0;
  limit_search(recording(g, at), VLO, VHI, kVmax, kEps);
  EXPECT_EQ(VLO, 0.5);
  ASSERT_EQ(at.size(), 2u + 6u);  // found, slope; three upper step-backs
  EXPECT_EQ(at[2], kVmax);
}

double narrow(double v) {
  if (v <= 1.0 || v >= 1.03) return 0.0;
  if (v <= 1.02) return 0.1 * (v - 1.0) / 0.02;
  return 0.1 * (1.03 - v) / 0.01;
}

// A narrow peak between the points of the upper scan: each scan finds
// nothing, goes on from where it stopped (slope taken there, at a fresh
// integrand value) and steps back; the range ends up empty (VHI < VLO).
TEST(StochasticLimit, UpperScanWithoutPointGoesOnFromWhereItStopped) {
  std::vector<double> at;
  double VLO = 0.5;
  double VHI = -7.0;
  limit_search(recording(narrow, at), VLO, VHI, kVmax, kEps);
  EXPECT_GT(VLO, 1.0);
  EXPECT_LT(narrow(VLO), kE);

  // Upper limit: three scans of 11 points, each followed by the fresh value
  // and the slope at the point where the scan stopped.
  ASSERT_GE(at.size(), 39u);
  const std::size_t first = at.size() - 39;
  EXPECT_EQ(at[first], kVmax);
  double F = std::pow(opaque(kVmax / VLO), double(0.1f));
  double v = kVmax;
  for (int scan = 0; scan < 3; ++scan) {
    const std::size_t s0 = first + 13 * scan;
    for (int i = 0; i < 11; ++i) {
      EXPECT_EQ(at[s0 + i], v) << scan << ' ' << i;
      EXPECT_LE(narrow(v), kE);
      v = v / F;
    }
    EXPECT_EQ(at[s0 + 11], v);
    EXPECT_EQ(at[s0 + 12], LIMIT_DIFSTEP * v);
    v = v * F;
    F = std::pow(opaque(F), double(0.1f));
  }
  EXPECT_EQ(VHI, v);
  EXPECT_LT(VHI, VLO);
}

// Shapes whose lower search ends on a point it has evaluated: a rising
// flank already below EPS at the first scan point; a correction step that
// would cross zero velocity (the point before it is kept); and five
// corrections that all stay above EPS.
double rising_below_eps(double v) { return 5e-7 * v; }
double line_through_minus_one(double v) { return v + 1.0; }
double steep(double v) { return std::exp(opaque(20.0 * v)); }

// Asking for values ahead of need, in any amount, changes neither the
// limits nor which values the search uses: every lookahead gives the limits
// of the search that takes one value at a time. The value at the lower
// limit that the search reports is g(VLO), from a velocity it asked for,
// and it is reported with every lookahead alike.
TEST(StochasticLimit, LookaheadLeavesTheLimitsAsTheyAre) {
  struct Case {
    const char* name;
    double (*g)(double);
    double guess;
  };
  const Case cases[] = {
      {"tent", tent, 0.5},     {"tent from above", tent, 1.7}, {"falling", falling, 0.2},
      {"narrow", narrow, 0.3}, {"flat", [](double) { return 1.0; }, 0.4},
      {"nothing", [](double) { return 0.0; }, 0.4},
      {"rising below EPS", rising_below_eps, 0.4},
      {"line through -1", line_through_minus_one, 0.4},
      {"steep", steep, 0.4},
  };
  const LimitAhead aheads[] = {{0, 0}, {1, 1}, {2, 4}, {3, 2}, {5, 7}, {1, 0}, {0, 3}, {20, 9}};
  int known = 0;
  for (const Case& c : cases) {
    double VLOref = c.guess, VHIref = -7.0;
    limit_search(c.g, VLOref, VHIref, kVmax, kEps);
    bool known_first = false;
    for (const LimitAhead ahead : aheads) {
      SCOPED_TRACE(testing::Message() << c.name << " ahead " << ahead.lower << ',' << ahead.upper);
      double VLO = c.guess, VHI = -7.0;
      int requests = 0;
      bool asked_at_VLO = false;
      LimitValue at_VLO{true, -1.0};
      run_steps(limit_steps(ahead, VLO, VHI, kVmax, kEps, &at_VLO), [&](const ValueRequest& r) {
        ++requests;
        ASSERT_GE(r.n, 1);
        ASSERT_LE(r.n, 16);
        for (int i = 0; i < r.n; ++i) r.f[i] = c.g(r.v[i]);
        for (int i = 0; i < r.n; ++i) asked_at_VLO = asked_at_VLO || r.v[i] == VLOref;
      });
      EXPECT_EQ(VLO, VLOref);
      EXPECT_EQ(VHI, VHIref);
      EXPECT_GT(requests, 0);
      if (ahead.lower == 0 && ahead.upper == 0) known_first = at_VLO.known;
      EXPECT_EQ(at_VLO.known, known_first);
      if (at_VLO.known) {
        EXPECT_TRUE(asked_at_VLO);
        EXPECT_EQ(at_VLO.g, c.g(VLO));
        ++known;
      }
    }
  }
  EXPECT_GE(known, 3 * 8);  // the search ends on an evaluated point for most shapes
}

// The lower limit of each way the lower search can end, and whether it
// ends with g(VLO) in hand: in the negligible tail at once, after
// correction steps, after a correction step that stands unevaluated, on an
// empty range (no value), and with the guess at or above VMAX (nothing
// asked).
TEST(StochasticLimit, ValueAtTheLowerLimitWhereTheSearchHasIt) {
  struct Case {
    const char* name;
    double (*g)(double);
    double guess;
    double vmax;
  };
  const Case cases[] = {
      {"tent", tent, 0.5, kVmax},
      {"falling", falling, 0.2, kVmax},
      {"narrow", narrow, 0.3, kVmax},
      {"nothing", [](double) { return 0.0; }, 0.4, kVmax},
      {"guess above vmax", tent, 6.0, 5.0},
      {"rising below EPS", rising_below_eps, 0.4, kVmax},
      {"line through -1", line_through_minus_one, 0.4, kVmax},
      {"steep", steep, 0.4, kVmax},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    double VLO = c.guess, VHI = -7.0;
    std::vector<std::pair<double, double>> asked;
    LimitValue at_VLO{true, -1.0};
    run_steps(limit_steps(LimitAhead{}, VLO, VHI, c.vmax, kEps, &at_VLO),
              [&](const ValueRequest& r) {
                for (int i = 0; i < r.n; ++i) {
                  r.f[i] = c.g(r.v[i]);
                  asked.emplace_back(r.v[i], r.f[i]);
                }
              });
    // Where the lower search stopped: the last velocity it asked for
    // before the upper search began at VMAX.
    const auto upper_start = std::find_if(asked.begin(), asked.end(),
                                          [&](const auto& a) { return a.first == c.vmax; });
    const bool evaluated_at_VLO =
        std::any_of(asked.begin(), upper_start, [&](const auto& a) { return a.first == VLO; });
    if (asked.empty() || upper_start == asked.end()) {
      EXPECT_FALSE(at_VLO.known);  // no lower limit to integrate from
      continue;
    }
    EXPECT_EQ(at_VLO.known, evaluated_at_VLO);
    if (at_VLO.known) {
      EXPECT_EQ(at_VLO.g, c.g(VLO));
    }
  }
}

}  // namespace
}  // namespace btcfit
