// The stochastic evaluation: set-up, one observation, exit; observations
// are independent of one another.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "models/romberg.hpp"
#include "models/stochastic.hpp"
#include "test_stochastic_setup.hpp"
#include "problem/model_traits.hpp"

namespace btcfit {
namespace {

using stochastic_test::Coefs;
using stochastic_test::kNcoef;
using stochastic_test::make_problem;
using stochastic_test::opaque;
using stochastic_test::Problem;

TEST(StochasticEvaluation, BeginPreparesTheDistribution) {
  Coefs c{};
  c.v = 1.3;
  c.alpha = 0.12;
  c.R = 1.6;
  c.b4 = 1.5;
  c.mu = 0.02;
  c.gamma = 0.03;
  c.sigma = 0.45;
  struct Row {
    int code;
    bool several;  // three pulses or inputs instead of one
    double CI;
    double C0;
  };
  for (Row r : {Row{5, false, 0.0, 1.0}, Row{6, false, 0.0, 1.0},
                Row{7, false, 0.0, 2.0}, Row{8, false, 0.0, 2.0},
                Row{5, true, 0.0, 1.0}, Row{6, true, 0.0, 1.0},
                Row{7, true, 0.0, 2.0}, Row{8, true, 0.0, 2.0},
                Row{5, false, 3.0, 1.0}, Row{8, true, 3.0, 2.0}}) {
    SCOPED_TRACE(testing::Message() << "code " << r.code << " several "
                                    << r.several << " CI " << r.CI);
    Problem pr = r.several
                     ? make_problem(r.code, c, r.CI, r.C0,
                                    {{0.0, 0.7}, {2.0, 0.0}, {4.0, 0.4}}, 6.0)
                     : make_problem(r.code, c, r.CI, r.C0);
    pr.w.TMLOAD = -5.0;
    const StochasticSetup s = begin_stochastic(pr.w, pr.p, pr.B, kNcoef);
    const ModelWork& w = pr.w;

    EXPECT_EQ(w.PAR5, c.mu / c.R);
    EXPECT_EQ(w.PAR6, c.gamma / c.R);
    EXPECT_EQ(w.SIGMA, c.sigma);
    EXPECT_EQ(w.VLNMU, std::log(opaque(c.v)) - 0.5 * c.sigma * c.sigma);
    EXPECT_EQ(w.ALPHA, c.alpha);
    EXPECT_EQ(w.TMLOAD, r.code >= 7 ? c.b4 / r.C0 : -5.0);
    // Pulse input with several pulses starts from the first pulse's
    // concentration; a solute load keeps C0.
    const double C0 = (r.several && r.code < 7) ? 0.7 : r.C0;
    EXPECT_EQ(w.C0, C0);
    EXPECT_EQ(s.VMIN, std::exp(opaque(w.VLNMU - 3.9000000953674316 * c.sigma)));
    EXPECT_EQ(s.VMAX, std::exp(opaque(w.VLNMU + 3.9000000953674316 * c.sigma)));
    EXPECT_EQ(s.EPS, 1e-6 * std::max(r.CI, C0));
    EXPECT_EQ(s.B1, c.v);
    // The model code stays the stream-tube code while the tubes run.
    EXPECT_EQ(w.MODE, r.code);
    EXPECT_EQ(w.RFAC, c.R);
    EXPECT_EQ(w.CI, r.CI);

    (void)stochastic_observation(pr.w, pr.p, s, 8.0, 10.0);
    EXPECT_EQ(w.MODE, r.code);
    EXPECT_EQ(w.CI, r.CI);
  }
}

// The steps of one observation done by hand from a given lower guess.
double by_hand(ModelWork w, const PulseGroup& p, const StochasticSetup& s,
               double VLO, double x, double t) {
  w.XCUR = x;
  w.TCUR = t;
  double VHI = 0.0;
  LIMIT(w, p, VLO, VHI, s.VMAX, s.EPS);
  if (VLO >= s.VMAX) return 0.0;
  double C = 0.0;
  ROMB([&w, &p](double v) { return CAVG(w, p, v); }, C, VLO, VHI);
  if (model_traits(w.MODE).flux) C = C / s.B1;
  return C;
}

// Lower guess for CI <= 0: the slowest tubes that can have carried solute
// to x by t, from the front (0.9 x/t) and from dispersion (q).
double front_guess(const ModelWork& w, const StochasticSetup& s, double x,
                   double t) {
  const double q = 0.14000000059604645 *
                       std::log(opaque(std::max(x / w.ALPHA, 1e-10))) * x / t -
                   0.05000000074505806;
  return std::max(w.RFAC * std::min(0.8999999761581421 * x / t, q), s.VMIN);
}

struct ObsCase {
  int code;
  double CI;
  double b1;
  double x;
  double t;
};

TEST(StochasticEvaluation, ObservationFollowsGuessLimitAndQuadrature) {
  for (ObsCase o :
       {ObsCase{5, 0.0, 1.0, 8.0, 6.0}, ObsCase{5, 0.0, 1.0, 8.0, 14.0},
        ObsCase{6, 0.0, 1.6, 8.0, 9.0}, ObsCase{7, 0.0, 1.0, 4.0, 5.0},
        ObsCase{8, 0.0, 1.6, 8.0, 30.0}, ObsCase{5, 0.5, 1.0, 8.0, 9.0},
        ObsCase{6, 0.5, 1.6, 8.0, 4.0}, ObsCase{8, 0.5, 1.0, 8.0, 12.0}}) {
    SCOPED_TRACE(testing::Message()
                 << "code " << o.code << " CI " << o.CI << " t " << o.t);
    Coefs c{};
    c.v = o.b1;
    Problem pr = make_problem(o.code, c, o.CI, 1.0);
    const StochasticSetup s = begin_stochastic(pr.w, pr.p, pr.B, kNcoef);
    const double guess = front_guess(pr.w, s, o.x, o.t);
    const double got = stochastic_observation(pr.w, pr.p, s, o.x, o.t);
    EXPECT_EQ(pr.w.XCUR, o.x);
    EXPECT_EQ(pr.w.TCUR, o.t);
    if (o.CI > 0.0) {
      // With solute in the profile the guess is VMIN whatever x and t.
      EXPECT_EQ(got, by_hand(pr.w, pr.p, s, s.VMIN, o.x, o.t));
      ASSERT_NE(guess, s.VMIN);
      EXPECT_NE(got, by_hand(pr.w, pr.p, s, guess, o.x, o.t));
    } else {
      EXPECT_EQ(got, by_hand(pr.w, pr.p, s, guess, o.x, o.t));
    }
    EXPECT_GT(got, 1e-5);
  }
}

// Flux averages are divided by the mean velocity b1, resident ones not.
TEST(StochasticEvaluation, FluxAverageIsDividedByMeanVelocity) {
  for (int code : {5, 6, 7, 8}) {
    SCOPED_TRACE(code);
    Coefs c{};
    c.v = 1.6;
    Problem pr = make_problem(code, c, 0.0, 1.0);
    const StochasticSetup s = begin_stochastic(pr.w, pr.p, pr.B, kNcoef);
    const double x = 8.0;
    const double t = 7.0;
    ModelWork w = pr.w;
    w.XCUR = x;
    w.TCUR = t;
    double VLO = front_guess(w, s, x, t);
    double VHI = 0.0;
    LIMIT(w, pr.p, VLO, VHI, s.VMAX, s.EPS);
    double integral = 0.0;
    ROMB([&w, &pr](double v) { return CAVG(w, pr.p, v); }, integral, VLO, VHI);
    ASSERT_GT(integral, 1e-3);
    const double got = stochastic_observation(pr.w, pr.p, s, x, t);
    EXPECT_EQ(got, code % 2 == 0 ? integral / 1.6 : integral);
  }
}

// A lower guess at or above VMAX: 0 without any integrand evaluation. Early
// times, and SIGMA = 0 (VMIN = VMAX), are such cases.
TEST(StochasticEvaluation, GuessAtOrAboveVmaxGivesZero) {
  struct Row {
    double sigma;
    double t;
  };
  for (Row r : {Row{0.3, 1.5}, Row{0.3, 0.5}, Row{0.0, 10.0}, Row{0.0, 2.0}}) {
    for (int code : {5, 6, 7, 8}) {
      SCOPED_TRACE(testing::Message()
                   << "code " << code << " sigma " << r.sigma << " t " << r.t);
      Coefs c{};
      c.sigma = r.sigma;
      Problem pr = make_problem(code, c, 0.0, 1.0);
      const StochasticSetup s = begin_stochastic(pr.w, pr.p, pr.B, kNcoef);
      ASSERT_GE(front_guess(pr.w, s, 8.0, r.t), s.VMAX);
      pr.w.VELO = -9.0;
      EXPECT_EQ(stochastic_observation(pr.w, pr.p, s, 8.0, r.t), 0.0);
      EXPECT_EQ(pr.w.VELO, -9.0);
    }
  }
}

// An observation before the first solute input: 0.
TEST(StochasticEvaluation, ObservationBeforeFirstInputGivesZero) {
  for (int code : {7, 8}) {
    SCOPED_TRACE(code);
    Coefs c{};
    c.b4 = 1.0;
    Problem pr = make_problem(code, c, 0.0, 1.0, {{5.0, 1.0}, {9.0, 1.0}});
    const StochasticSetup s = begin_stochastic(pr.w, pr.p, pr.B, kNcoef);
    EXPECT_EQ(stochastic_observation(pr.w, pr.p, s, 0.5, 4.0), 0.0);
    EXPECT_EQ(stochastic_observation(pr.w, pr.p, s, 0.5, 5.0), 0.0);
    EXPECT_GT(stochastic_observation(pr.w, pr.p, s, 0.5, 6.0), 1e-3);
  }
}

// Every observation starts from the state begin_stochastic left: in order
// on one work, each on its own copy in reverse order, and on two threads
// with copies, the results are bit-identical.
TEST(StochasticEvaluation, ObservationsAreIndependent) {
  struct Row {
    int code;
    double CI;
    bool several;
  };
  for (Row r : {Row{5, 0.0, false}, Row{6, 0.2, true}, Row{5, 0.0, true},
                Row{7, 0.0, false}, Row{8, 0.1, true}}) {
    SCOPED_TRACE(testing::Message() << "code " << r.code << " CI " << r.CI
                                    << " several " << r.several);
    Coefs c{};
    c.gamma = 0.01;
    c.mu = 0.005;
    c.b4 = r.code >= 7 ? 1.0 : 2.0;
    Problem pr =
        r.several
            ? (r.code < 7
                   ? make_problem(r.code, c, r.CI, 1.0,
                                  {{0.0, 1.0}, {3.0, 0.0}, {6.0, 0.6}}, 9.0)
                   : make_problem(r.code, c, r.CI, 1.0,
                                  {{0.0, 1.0}, {12.0, 1.5}}))
            : make_problem(r.code, c, r.CI, 1.0);
    const StochasticSetup s = begin_stochastic(pr.w, pr.p, pr.B, kNcoef);
    const ModelWork start = pr.w;

    std::vector<double> xs, ts;
    for (int j = 0; j < 16; ++j) {
      xs.push_back(j % 3 == 0 ? 4.0 : 8.0);
      ts.push_back(2.0 + 2.3 * j);
    }
    const std::size_t n = xs.size();

    std::vector<double> in_order(n);
    for (std::size_t j = 0; j < n; ++j)
      in_order[j] = stochastic_observation(pr.w, pr.p, s, xs[j], ts[j]);

    std::vector<double> reversed(n);
    for (std::size_t j = n; j-- > 0;) {
      ModelWork w = start;
      reversed[j] = stochastic_observation(w, pr.p, s, xs[j], ts[j]);
    }

    std::vector<double> threaded(n);
    auto worker = [&](std::size_t first) {
      ModelWork w = start;
      for (std::size_t j = first; j < n; j += 2)
        threaded[j] = stochastic_observation(w, pr.p, s, xs[j], ts[j]);
    };
    std::thread a(worker, 0);
    std::thread b(worker, 1);
    a.join();
    b.join();

    int nonzero = 0;
    for (std::size_t j = 0; j < n; ++j) {
      EXPECT_EQ(reversed[j], in_order[j]) << j;
      EXPECT_EQ(threaded[j], in_order[j]) << j;
      if (in_order[j] > 0.0) ++nonzero;
    }
    EXPECT_GT(nonzero, 10);
  }
}

}  // namespace
}  // namespace btcfit
