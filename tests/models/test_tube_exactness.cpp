// The tube solution MOD12 and the stream-tube integrand CAVG give the bits
// of the one-call-at-a-time evaluation for random working fields.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "models/equilibrium.hpp"
#include "models/romberg.hpp"
#include "models/stochastic_limit.hpp"
#include "models/stochastic.hpp"
#include "test_stochastic_setup.hpp"
#include "tube_reference.hpp"
#include "problem/model_traits.hpp"
#include "support/work_bits.hpp"

namespace btcfit {
namespace {

using testing_support::same_work_bits;

std::uint64_t bits(double x) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

// Bits of a result, with every NaN mapped to one value: when several NaN
// operands meet in a sum or a product, which one survives (sign and payload)
// follows the operand order the compiler picks for the commutative
// operation, not the source; the report prints any NaN as "NaN".
std::uint64_t value_bits(double x) {
  return std::isnan(x) ? bits(std::numeric_limits<double>::quiet_NaN()) : bits(x);
}

class Draw {
 public:
  explicit Draw(std::uint64_t seed) : rng_(seed) {}
  double uni(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }
  double logu(double lo, double hi) { return std::exp(uni(std::log(lo), std::log(hi))); }
  bool one_in(int n) { return rng_() % n == 0; }
  int below(int n) { return static_cast<int>(rng_() % n); }

 private:
  std::mt19937_64 rng_;
};

ModelWork random_tube(Draw& d) {
  ModelWork w;
  w.CI = d.one_in(2) ? 0.0 : d.uni(0.0, 2.0);
  w.C0 = d.one_in(8) ? 0.0 : d.uni(-1.0, 5.0);
  w.VELO = d.logu(1e-3, 1e2);
  w.DISP = d.logu(1e-3, 10.0) * w.VELO;
  w.TPUL = d.one_in(10) ? -d.uni(0.0, 5.0) : d.logu(1e-3, 50.0);
  w.PAR5 = d.one_in(3) ? d.logu(1e-4, 2.0) : 0.0;
  w.PAR6 = d.one_in(3) ? d.uni(-1.0, 1.0) : 0.0;
  w.MODE = d.one_in(2) ? 2 : 1;
  return w;
}

TEST(TubeExactness, Mod12MatchesTheScalarPassesBitForBit) {
  Draw d(21);
  for (int n = 0; n < 1000000; ++n) {
    const ModelWork w = random_tube(d);
    const double X = d.one_in(50) ? 0.0 : d.logu(1e-3, 200.0);
    double T;
    switch (d.below(6)) {
      case 0: T = -d.uni(0.0, 10.0); break;
      case 1: T = d.one_in(2) ? 0.0 : w.TPUL; break;
      case 2: T = w.TPUL * d.uni(0.0, 1.0); break;   // inside the pulse
      case 3: T = w.TPUL + d.logu(1e-6, 1e3); break;  // after it
      default: T = d.logu(1e-4, 1e3); break;
    }
    const double Yin = d.uni(-3.0, 3.0);
    double Y = Yin, Yref = Yin;
    MOD12(w, Y, X, T);
    tube_reference::MOD12_reference(w, Yref, X, T);
    ASSERT_EQ(bits(Y), bits(Yref)) << "n=" << n << " X=" << X << " T=" << T
                                   << " v=" << w.VELO << " D=" << w.DISP
                                   << " T0=" << w.TPUL << " mu=" << w.PAR5
                                   << " gamma=" << w.PAR6 << " mode=" << w.MODE;
  }
}

TEST(TubeExactness, Mod12SpecialArguments) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double vals[] = {0.0, -0.0, 1e-300, 1.0, 3.0, 1e5, inf, -inf, nan, -2.0};
  for (double v : {1e-3, 1.0, 40.0})
    for (double T0 : {0.0, 1.0, -1.0, inf, nan})
      for (double X : vals)
        for (double T : vals)
          for (int mode : {1, 2})
            for (double mu : {0.0, 0.5})
              for (double gamma : {0.0, 0.25}) {
                ModelWork w;
                w.CI = 0.5;
                w.C0 = 2.0;
                w.VELO = v;
                w.DISP = 0.3 * v;
                w.TPUL = T0;
                w.PAR5 = mu;
                w.PAR6 = gamma;
                w.MODE = mode;
                double Y = 0.75, Yref = 0.75;
                MOD12(w, Y, X, T);
                tube_reference::MOD12_reference(w, Yref, X, T);
                ASSERT_EQ(value_bits(Y), value_bits(Yref)) << X << " " << T << " " << T0;
              }
}

using stochastic_test::Coefs;
using stochastic_test::make_problem;
using stochastic_test::Problem;

// Working fields of the stream-tube integrand as begin_stochastic and the
// observation loop leave them.
Problem random_problem(Draw& d, int code) {
  Coefs c;
  c.v = d.logu(0.1, 10.0);
  c.alpha = d.logu(1e-3, 2.0);
  c.R = d.uni(1.0, 3.0);
  c.b4 = d.logu(0.1, 10.0);
  c.mu = d.one_in(3) ? d.logu(1e-4, 1.0) : 0.0;
  c.gamma = d.one_in(3) ? d.uni(0.0, 0.5) : 0.0;
  c.sigma = d.logu(0.05, 1.5);
  const double CI = d.one_in(2) ? 0.0 : d.uni(0.0, 1.0);
  const double C0 = d.uni(0.5, 2.0);
  Problem pr;
  const int npulse = d.below(4);  // 0: a single pulse
  stochastic_test::Pulse pulses[3];
  double t = 0.0;
  for (int j = 0; j < npulse; ++j) {
    pulses[j].time = t;
    pulses[j].conc = d.one_in(4) ? 0.0 : d.uni(0.1, 3.0);
    t += d.logu(0.2, 10.0);
  }
  pr = make_problem(code, c, CI, C0, pulses, npulse, t);
  begin_stochastic(pr.w, pr.p, pr.B, stochastic_test::kNcoef);
  pr.w.XCUR = d.logu(0.05, 100.0);
  pr.w.TCUR = d.logu(0.05, 200.0);
  return pr;
}

TEST(TubeExactness, CavgMatchesTheScalarIntegrandBitForBit) {
  Draw d(31);
  for (int n = 0; n < 20000; ++n) {
    const int code = 5 + d.below(4);
    Problem pr = random_problem(d, code);
    for (int k = 0; k < 20; ++k) {
      const double v = std::exp(pr.w.VLNMU + d.uni(-5.0, 5.0) * pr.w.SIGMA);
      ModelWork w = pr.w, wref = pr.w;
      const double got = CAVG(w, pr.p, v);
      const double ref = tube_reference::CAVG_reference(wref, pr.p, v);
      ASSERT_EQ(bits(got), bits(ref)) << "n=" << n << " code=" << code << " v=" << v;
      ASSERT_EQ(bits(w.VELO), bits(wref.VELO));
      ASSERT_EQ(bits(w.DISP), bits(wref.DISP));
      ASSERT_EQ(bits(w.TPUL), bits(wref.TPUL));
      ASSERT_EQ(bits(w.CI), bits(wref.CI));
      ASSERT_EQ(bits(w.C0), bits(wref.C0));
    }
  }
}


TEST(TubeExactness, Mod12ManyMatchesScalarCallsBitForBit) {
  // Up to 40 solutions in one call (more than one batch), mixing decay and
  // no decay, distances and times of their own, and times <= 0.
  Draw d(22);
  for (int n = 0; n < 40000; ++n) {
    const int K = 1 + d.below(40);
    std::vector<PulseSolution> q(K);
    std::vector<double> ref(K);
    const ModelWork base = random_tube(d);
    for (int k = 0; k < K; ++k) {
      ModelWork w = random_tube(d);
      if (d.one_in(2)) {  // solutions of one model: only v, D and T0 differ
        w.PAR5 = base.PAR5;
        w.PAR6 = base.PAR6;
        w.MODE = base.MODE;
        w.CI = base.CI;
        w.C0 = base.C0;
      }
      const double X = d.logu(1e-3, 200.0);
      const double T = d.one_in(10) ? -d.uni(0.0, 10.0) : d.logu(1e-4, 1e3);
      const double Y = d.uni(-3.0, 3.0);
      q[k] = pulse_solution(w, Y, X, T);
      ref[k] = Y;
      tube_reference::MOD12_reference(w, ref[k], X, T);
    }
    MOD12_many(K, q.data());
    for (int k = 0; k < K; ++k) {
      ASSERT_EQ(value_bits(q[k].Y), value_bits(ref[k])) << "n=" << n << " k=" << k;
    }
  }
}

// Solutions of one model without decay and production, as the stream tubes
// and the equilibrium evaluation hand them over: most with both passes
// (T > TPUL), some with one.
TEST(TubeExactness, PlainSolutionsOfOneModelMatchScalarCalls) {
  Draw d(23);
  for (int n = 0; n < 40000; ++n) {
    const int K = 1 + d.below(kPlainMax);
    const bool flux = d.one_in(2);
    const bool both = !d.one_in(4);
    double v[kPlainMax], D[kPlainMax], X[kPlainMax], T[kPlainMax], TPUL[kPlainMax];
    double CI[kPlainMax], C0[kPlainMax], gamma[kPlainMax], Y[kPlainMax], ref[kPlainMax];
    bool fl[kPlainMax];
    for (int k = 0; k < K; ++k) {
      v[k] = d.logu(1e-3, 1e2);
      D[k] = d.logu(1e-3, 10.0) * v[k];
      X[k] = d.logu(1e-3, 200.0);
      TPUL[k] = d.logu(1e-3, 50.0);
      T[k] = both ? TPUL[k] + d.logu(1e-6, 1e3) : d.logu(1e-4, 1e3);
      CI[k] = d.one_in(2) ? 0.0 : d.uni(0.0, 2.0);
      C0[k] = d.uni(-1.0, 5.0);
      gamma[k] = 0.0;
      fl[k] = flux;
      Y[k] = d.uni(-3.0, 3.0);
      ModelWork w;
      w.CI = CI[k];
      w.C0 = C0[k];
      w.VELO = v[k];
      w.DISP = D[k];
      w.TPUL = TPUL[k];
      w.PAR5 = 0.0;
      w.PAR6 = 0.0;
      w.MODE = flux ? 2 : 1;
      ref[k] = Y[k];
      tube_reference::MOD12_reference(w, ref[k], X[k], T[k]);
    }
    plain_solutions(K, {v, D, X, T, TPUL, CI, C0, gamma, fl, Y});
    for (int k = 0; k < K; ++k) {
      ASSERT_EQ(value_bits(Y[k]), value_bits(ref[k])) << "n=" << n << " k=" << k;
    }
  }
}

TEST(TubeExactness, CavgManyMatchesScalarCallsBitForBit) {
  Draw d(32);
  for (int n = 0; n < 8000; ++n) {
    const int code = 5 + d.below(4);
    Problem pr = random_problem(d, code);
    const int K = 1 + d.below(2 * kCavgTubesMax + 3);
    std::vector<double> v(K), c(K);
    for (int k = 0; k < K; ++k) {
      v[k] = (k > 0 && d.one_in(8)) ? v[k - 1]
                                    : std::exp(pr.w.VLNMU + d.uni(-5.0, 5.0) * pr.w.SIGMA);
    }
    ModelWork w = pr.w, wref = pr.w;
    if (d.one_in(4)) {  // CI on entry other than CISAVE
      w.CI = 0.25;
      wref.CI = 0.25;
    }
    CAVG_many(w, pr.p, K, v.data(), c.data());
    for (int k = 0; k < K; ++k) {
      const double r = tube_reference::CAVG_reference(wref, pr.p, v[k]);
      ASSERT_EQ(value_bits(c[k]), value_bits(r)) << "n=" << n << " code=" << code << " k=" << k;
    }
    ASSERT_TRUE(same_work_bits(w, wref)) << "working fields, n=" << n;
  }
}

// The stream-tube observation as evaluated one integrand call at a time.
double observation_reference(ModelWork& w, const PulseGroup& p, const StochasticSetup& s,
                             double x, double t) {
  w.XCUR = x;
  w.TCUR = t;
  double VLO;
  if (w.CI > 0.0) {
    VLO = s.VMIN;
  } else {
    const double q = double(0.14f) * std::log(std::max(w.XCUR / w.ALPHA, 1e-10)) *
                         w.XCUR / w.TCUR -
                     double(0.05f);
    VLO = std::max(w.RFAC * std::min(double(0.9f) * w.XCUR / w.TCUR, q), s.VMIN);
  }
  double VHI = 0.0;
  auto g = [&w, &p](double v) { return tube_reference::CAVG_reference(w, p, v); };
  limit_search(g, VLO, VHI, s.VMAX, s.EPS);
  if (VLO >= s.VMAX) return 0.0;
  double C = 0.0;
  ROMB(g, C, VLO, VHI);
  if (model_traits(w.MODE).flux) C = C / s.B1;
  return C;
}

// Coefficients and pulses of a fit problem, as the observation tests draw
// them: one pulse, or two with the second of any concentration.
Problem random_fit_problem(Draw& d) {
  const int code = 5 + d.below(4);
  Coefs c;
  c.v = d.logu(0.2, 5.0);
  c.alpha = d.logu(0.01, 1.0);
  c.R = d.uni(1.0, 2.0);
  c.b4 = d.logu(0.5, 5.0);
  c.mu = d.one_in(4) ? d.logu(1e-3, 0.3) : 0.0;
  c.gamma = d.one_in(4) ? d.uni(0.0, 0.2) : 0.0;
  c.sigma = d.logu(0.1, 1.0);
  Problem pr = make_problem(code, c, d.one_in(3) ? 0.1 : 0.0, 1.0,
                            {{0.0, 1.0}, {d.uni(1.0, 10.0), d.uni(0.0, 2.0)}},
                            d.uni(10.0, 20.0));
  if (d.one_in(2)) pr = make_problem(code, c, 0.0, 1.0);
  return pr;
}

TEST(TubeExactness, ObservationsMatchTheOneCallAtATimeEvaluation) {
  Draw d(41);
  for (int n = 0; n < 400; ++n) {
    Problem pr = random_fit_problem(d);
    const int code = pr.w.MODE;
    const StochasticSetup s = begin_stochastic(pr.w, pr.p, pr.B, stochastic_test::kNcoef);
    ModelWork w = pr.w, wref = pr.w;
    for (int k = 0; k < 5; ++k) {
      const double x = d.logu(0.5, 50.0);
      const double t = d.logu(0.5, 100.0);
      const double got = stochastic_observation(w, pr.p, s, x, t);
      const double ref = observation_reference(wref, pr.p, s, x, t);
      ASSERT_EQ(value_bits(got), value_bits(ref)) << "n=" << n << " code=" << code;
      // The velocity search evaluates some velocities ahead that the
      // one-at-a-time search never reaches, so the fields that CAVG sets
      // before reading them may come from another velocity; every other
      // field must agree, and the next observations (which start from these
      // fields) must still agree in value.
      ModelWork scratch = w;
      scratch.VELO = wref.VELO;
      scratch.DISP = wref.DISP;
      scratch.TPUL = wref.TPUL;
      scratch.C0 = wref.C0;
      ASSERT_TRUE(same_work_bits(scratch, wref)) << "working fields, n=" << n;
    }
  }
}

// Tubes of several observations in one batch: each as a CAVG call for its
// own observation (distance, time), also when the time precedes a later
// pulse or every pulse.
TEST(TubeExactness, TubesOfSeveralObservationsMatchScalarCalls) {
  Draw d(33);
  for (int n = 0; n < 8000; ++n) {
    const int code = 5 + d.below(4);
    Problem pr = random_problem(d, code);
    const int K = 1 + d.below(kCavgTubesMax);
    double v[kCavgTubesMax], X[kCavgTubesMax], T[kCavgTubesMax], c[kCavgTubesMax];
    for (int k = 0; k < K; ++k) {
      v[k] = std::exp(pr.w.VLNMU + d.uni(-5.0, 5.0) * pr.w.SIGMA);
      X[k] = d.one_in(3) ? pr.w.XCUR : d.logu(0.05, 100.0);
      T[k] = d.one_in(3) ? pr.w.TCUR : d.logu(0.05, 40.0);
    }
    TubeFields last{};
    cavg_tubes(pr.w, pr.p, K, v, X, T, c, last);
    ModelWork wref = pr.w;
    for (int k = 0; k < K; ++k) {
      wref.XCUR = X[k];
      wref.TCUR = T[k];
      const double r = tube_reference::CAVG_reference(wref, pr.p, v[k]);
      ASSERT_EQ(value_bits(c[k]), value_bits(r)) << "n=" << n << " code=" << code << " k=" << k;
    }
    EXPECT_EQ(bits(last.TPUL), bits(wref.TPUL)) << "n=" << n;
    EXPECT_EQ(bits(last.C0), bits(wref.C0)) << "n=" << n;
  }
}

// Observations evaluated in lockstep give the values of the one-at-a-time
// evaluation; the last velocity each asked for leaves the working fields as
// that evaluation leaves them.
TEST(TubeExactness, LockstepObservationsMatchTheOneCallAtATimeEvaluation) {
  Draw d(42);
  for (int n = 0; n < 150; ++n) {
    Problem pr = random_fit_problem(d);
    const StochasticSetup s = begin_stochastic(pr.w, pr.p, pr.B, stochastic_test::kNcoef);
    const int m = 1 + d.below(12);
    double x[MAXOBS], t[MAXOBS], C[MAXOBS], v_last[MAXOBS];
    for (int i = 0; i < m; ++i) {
      x[i] = d.logu(0.5, 50.0);
      t[i] = d.logu(0.5, 100.0);
    }
    const ModelWork before = pr.w;
    stochastic_lockstep(pr.w, pr.p, s, m, x, t, C, v_last);
    ASSERT_TRUE(same_work_bits(before, pr.w)) << "fields changed, n=" << n;
    // The same observations started a few at a time and taken up one by
    // one as others end (numbered from 1, in reverse order) give the same
    // values by number.
    struct Reverse {
      int left;
      const double* x;
      const double* t;
      static bool take(void* context, int& number, double& xx, double& tt) {
        Reverse& r = *static_cast<Reverse*>(context);
        if (r.left == 0) return false;
        --r.left;
        number = r.left + 1;
        xx = r.x[r.left];
        tt = r.t[r.left];
        return true;
      }
    } reverse{m, x, t};
    const int first = d.below(m + 1);  // 0 starts one all the same
    const int low = d.below(m + 2);
    double C2[MAXOBS + 1], v_last2[MAXOBS + 1];
    stochastic_lockstep(pr.w, pr.p, s, ObservationSource{Reverse::take, &reverse, first, low}, C2,
                        v_last2);
    ASSERT_EQ(reverse.left, 0) << "n=" << n;
    for (int i = 0; i < m; ++i) {
      ASSERT_EQ(value_bits(C2[i + 1]), value_bits(C[i])) << "n=" << n << " i=" << i;
      ASSERT_EQ(bits(v_last2[i + 1]), bits(v_last[i])) << "n=" << n << " i=" << i;
    }
    for (int i = 0; i < m; ++i) {
      ModelWork w = before, wref = before;
      const double ref = observation_reference(wref, pr.p, s, x[i], t[i]);
      ASSERT_EQ(value_bits(C[i]), value_bits(ref)) << "n=" << n << " i=" << i;
      // A non-zero concentration comes from the Romberg sums, whose last
      // request is the same for a search on its own: the CAVG call for the
      // last velocity leaves the fields of the serial evaluation.
      if (C[i] == 0.0) continue;
      stochastic_observation(w, pr.p, s, x[i], t[i]);
      ModelWork replay = before;
      replay.XCUR = x[i];
      replay.TCUR = t[i];
      double c;
      CAVG_many(replay, pr.p, 1, &v_last[i], &c);
      ASSERT_TRUE(same_work_bits(replay, w)) << "fields, n=" << n << " i=" << i;
    }
  }
}

}  // namespace
}  // namespace btcfit
