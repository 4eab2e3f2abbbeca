// The fit methods beside the annealing search: the global multistart
// reaches an SSQ no higher than the annealing search's on the reference
// decks (both on legacy numerics, so that both minimise the same SSQ),
// gives the same result for the same seed on any number of threads, holds
// coefficients on the bounds that stop them, and stops on cancel.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <vector>

#include "btcfit/analysis.hpp"
#include "btcfit/btcfit.hpp"

namespace {

using namespace btcfit;

std::string deck(const std::string& name) {
  return std::string(BTCFIT_STATS_TEST_DATA) + "/" + name + "/deck";
}

FitOptions method(FitMethod m, Numerics numerics, int threads = 1) {
  FitOptions o;
  o.method = m;
  o.numerics = numerics;
  o.threads = threads;
  return o;
}

double ssq_of(const Problem& problem, const FitResult& r) {
  const std::vector<double> c = evaluate(problem, r.coefficients, {r.numerics, 1});
  double s = 0.0;
  for (std::size_t i = 0; i < c.size(); ++i) {
    const double e = problem.observations[i].concentration - c[i];
    s += e * e;
  }
  return s;
}

struct DeckCase {
  const char* folder;
  bool quick;  // fit quick enough for the sanitized build
};

class MethodsOnDeck : public ::testing::TestWithParam<DeckCase> {};

// The annealing search ends above the least SSQ on the reference decks; a
// multistart of descents from the same bounds reaches at most its SSQ
// (relative 1e-9), and a single descent from the initial values at least
// improves on the initial set. The SSQ each result reports is that of its
// coefficients.
TEST_P(MethodsOnDeck, GlobalReachesTheAnnealingSsq) {
#ifdef BTCFIT_SANITIZED
  if (!GetParam().quick) GTEST_SKIP() << "long fit: left to the unsanitized build";
#endif
  const Problem problem = read_deck(deck(GetParam().folder));
  const FitResult annealing = analysis::fit(problem, method(FitMethod::annealing, Numerics::legacy, 2));
  const FitResult global = analysis::fit(problem, method(FitMethod::global, Numerics::legacy, 2));
  const FitResult local =
      analysis::fit(problem, method(FitMethod::least_squares, Numerics::legacy, 2));
  EXPECT_EQ(global.method, FitMethod::global);
  EXPECT_EQ(global.numerics, Numerics::legacy);
  EXPECT_LE(global.ssq, annealing.ssq * (1.0 + 1e-9))
      << "annealing " << annealing.ssq << ", global " << global.ssq;
  EXPECT_EQ(global.ssq, ssq_of(problem, global));
  EXPECT_EQ(local.ssq, ssq_of(problem, local));
  FitResult initial = annealing;
  for (std::size_t k = 0; k < initial.coefficients.size(); ++k) {
    initial.coefficients[k] = problem.coefficients[k].initial;
  }
  EXPECT_LE(local.ssq, ssq_of(problem, initial));
  EXPECT_GT(global.evaluations, 0);
  EXPECT_TRUE(global.termination == Termination::agreed ||
              global.termination == Termination::starts_done);
  EXPECT_EQ(global.varied, annealing.varied);
}

INSTANTIATE_TEST_SUITE_P(Golden, MethodsOnDeck,
                         ::testing::Values(DeckCase{"golden/example", true},
                                           DeckCase{"golden/equilibrium-multipulse", true},
                                           DeckCase{"golden/nonequilibrium-flux", false},
                                           DeckCase{"golden/stochastic-pulse", false},
                                           DeckCase{"golden/stochastic-load", false},
                                           DeckCase{"decks/nonequilibrium-tailing", false},
                                           DeckCase{"decks/equilibrium-depth-decay", true}),
                         [](const ::testing::TestParamInfo<DeckCase>& info) {
                           std::string name = info.param.folder;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

// The design of starts and the batches do not depend on the threads: the
// same seed gives the same coefficients bit for bit on 1 and 2 threads; a
// different seed gives other starts (and here the same minimum).
TEST(GlobalMethod, SameSeedSameResultOnAnyNumberOfThreads) {
  const Problem problem = read_deck(deck("golden/equilibrium-multipulse"));
  FitOptions o = method(FitMethod::global, Numerics::legacy, 1);
  o.seed = 7;
  o.agreeing_descents = 100;  // every start, so that every batch runs
  o.starts = 12;
  const FitResult one = analysis::fit(problem, o);
  o.threads = 2;
  const FitResult two = analysis::fit(problem, o);
  EXPECT_EQ(one.coefficients, two.coefficients);
  EXPECT_EQ(one.ssq, two.ssq);
  EXPECT_EQ(one.evaluations, two.evaluations);
  EXPECT_EQ(one.iterations, 12);
  EXPECT_EQ(one.termination, Termination::starts_done);
}

// A slope capped by its upper bound: the true V (25) lies above the bound
// of 20, so every descent ends with V held on the bound, reported so.
TEST(GlobalMethod, CoefficientPushedAgainstABoundIsHeldAndReported) {
  Problem p;
  p.model = Model::equilibrium_flux;
  p.coefficients = {{"V", 10.0, 1.0, 20.0, true},  {"D", 30.0, 1.0, 500.0, true},
                    {"R", 1.5, 1.0, 1.5, false},   {"T0", 2.0, 0.0, 5.0, false},
                    {"MU", 0.0, 0.0, 0.0, false},  {"GAMMA", 0.0, 0.0, 0.0, false}};
  p.input_concentration = 1.0;
  const std::vector<double> truth = {25.0, 30.0, 1.5, 2.0, 0.0, 0.0};
  for (double t = 0.25; t <= 5.0; t += 0.25) p.observations.push_back({0.0, 30.0, t});
  const std::vector<double> c = evaluate(p, truth, {Numerics::legacy, 1});
  for (std::size_t i = 0; i < c.size(); ++i) p.observations[i].concentration = c[i];
  for (FitMethod m : {FitMethod::least_squares, FitMethod::global}) {
    const FitResult r = analysis::fit(p, method(m, Numerics::legacy));
    EXPECT_EQ(r.coefficients[0], 20.0) << method_name(m);
    EXPECT_EQ(r.at_bound, (std::vector<bool>{true, false, false, false, false, false}))
        << method_name(m);
  }
}

// Cancel: each method throws Cancelled, or returns its best set so far
// with Termination::cancelled when asked to.
TEST(FitMethods, CancelStopsEachMethod) {
  const Problem problem = read_deck(deck("golden/example"));
  for (FitMethod m : {FitMethod::least_squares, FitMethod::global}) {
    std::atomic<bool> cancel{true};
    FitOptions o = method(m, Numerics::legacy);
    o.cancel = &cancel;
    EXPECT_THROW(analysis::fit(problem, o), Cancelled) << method_name(m);
    o.return_when_cancelled = true;
    const FitResult r = analysis::fit(problem, o);
    EXPECT_EQ(r.termination, Termination::cancelled) << method_name(m);
    EXPECT_EQ(r.ssq, ssq_of(problem, r)) << method_name(m);
  }
}

// Progress of the global method: one line per batch of starts, the starts
// done never falling and the best SSQ never rising; the last line is the
// polished result.
TEST(FitMethods, GlobalProgressReportsStartsAndBestSsq) {
  const Problem problem = read_deck(deck("golden/example"));
  FitOptions o = method(FitMethod::global, Numerics::legacy);
  std::vector<ProgressLine> lines;
  o.progress = [&](const ProgressLine& line) { lines.push_back(line); };
  const FitResult r = analysis::fit(problem, o);
  ASSERT_FALSE(lines.empty());
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_GE(lines[i].iteration, lines[i - 1].iteration);
    EXPECT_LE(lines[i].ssq, lines[i - 1].ssq);
  }
  EXPECT_EQ(lines.back().iteration, r.iterations);
  EXPECT_EQ(lines.back().ssq, r.ssq);
  EXPECT_EQ(lines.back().coefficients, r.coefficients);
}

// A stream-tube problem whose legacy SSQ steps wherever the velocity range
// of the legacy average changes (a synthetic solute-load curve of
// bench/method_study.cpp, code 7, problem 5 of seed 1: 1 % noise, the
// velocity known). Three descents of the first batch end with SIGMA on its
// lower bound at one SSQ, 0.08 % above the annealing search's (a dense
// multistart of 200 descents ends lower still, with SIGMA near 0.062). The
// global method may not stop on that agreement alone and reaches at most
// the annealing search's SSQ (relative 1e-9).
TEST(GlobalMethod, LegacyStepsDoNotStopItAboveTheAnnealingSearch) {
#ifdef BTCFIT_SANITIZED
  GTEST_SKIP() << "long fit: left to the unsanitized build";
#endif
  Problem p;
  p.model = Model::stream_tube_load_resident;
  p.coefficients = {
      {"V", 7.1615724037389095, 7.1615724037389095, 7.1615724037389095, false},
      {"ALPHA", 4.9764567365006691, 0.089400865563931467, 8.9400865563931458, true},
      {"R", 3.2237955732547627, 1, 6, true},
      {"M0", 3.0217307044836055, 3.0217307044836055, 3.0217307044836055, false},
      {"MU", 0, 0, 0, false},
      {"GAMMA", 0, 0, 0, false},
      {"SIGMA", 0.060394363333986921, 0.050000000000000003, 1.5, true}};
  p.input_concentration = 1.0;
  p.observations = {
      {5.8890186357281596e-05, 30, 1.2086922817934422},
      {0.080140241682728, 15, 1.9444180185372768},
      {0.0098127086918904059, 30, 2.6801437552811107},
      {0.13894662039195449, 15, 3.4158694920249451},
      {0.049219496991812647, 30, 4.1515952287687803},
      {0.039747030592621059, 15, 4.8873209655126137},
      {0.12402138488041134, 30, 5.6230467022564481},
      {-0.00070074090862975481, 15, 6.3587724390002824},
      {0.090686036130597655, 30, 7.0944981757441168},
      {-0.0073503119216705558, 15, 7.8302239124879502},
      {0.040123947819541192, 30, 8.5659496492317864},
      {0.00030823053404977136, 15, 9.3016753859756189},
      {0.025538897158075526, 30, 10.037401122719453},
      {0.0062759345253518969, 15, 10.773126859463289},
      {-0.0027087439052017569, 30, 11.508852596207122},
      {-0.013598339259081535, 15, 12.244578332950956},
      {-0.0016894721663381505, 30, 12.980304069694792},
      {0.0059830451433608225, 15, 13.716029806438625},
      {-0.0070643513009217363, 30, 14.451755543182461},
      {0.016216213776801745, 15, 15.187481279926295},
      {-0.0034892558152345285, 30, 15.923207016670132},
      {-0.0064449074993401219, 15, 16.658932753413964},
      {0.002721280471457253, 30, 17.394658490157799},
      {0.021264085658309988, 15, 18.130384226901633}};
  const FitResult annealing = analysis::fit(p, method(FitMethod::annealing, Numerics::legacy, 2));
  const FitResult global = analysis::fit(p, method(FitMethod::global, Numerics::legacy, 2));
  EXPECT_LE(global.ssq, annealing.ssq * (1.0 + 1e-9))
      << "annealing " << annealing.ssq << ", global " << global.ssq;
  EXPECT_GE(global.iterations, 8);
}

// A two-site flux problem of the synthetic study (code 4, problem 4) where
// the first descents end with BETA on its bound of 1: there OMEGA has no
// effect, and most descents of the design stop in that equilibrium fit, at
// an SSQ over four times the least one. The least SSQ, 0.0018033675, with
// BETA = 0.718 inside its bounds, is that of the study's dense multistart
// (200 starts, every one descended from; the annealing search ends on the
// bound too, at 0.0076896).
TEST(GlobalMethod, DescentsMeetingOnABoundDoNotStopIt) {
#ifdef BTCFIT_SANITIZED
  GTEST_SKIP() << "long fit: left to the unsanitized build";
#endif
  Problem p;
  p.model = Model::nonequilibrium_flux;
  p.coefficients = {
      {"V", 8.6698186411646248, 8.6698186411646248, 8.6698186411646248, false},
      {"D", 11.093081977232638, 0.43209729649901762, 43.20972964990176, true},
      {"R", 1.2457126160388763, 1, 6, true},
      {"T0", 1.9690812036178391, 1.9690812036178391, 1.9690812036178391, false},
      {"BETA", 0.4100561394102949, 0.050000000000000003, 1, true},
      {"OMEGA", 2.068859266886617, 0.01, 20, true}};
  p.input_concentration = 1.0;
  p.observations = {
      {0.007907899172531558, 30, 0.78763248144713571},
      {0.17067061352907023, 15, 1.2670609484149575},
      {0.0059550565558816673, 30, 1.746489415382779},
      {0.71537252282343045, 15, 2.2259178823506005},
      {0.13901950848623434, 30, 2.7053463493184227},
      {0.74956672674019309, 15, 3.1847748162862439},
      {0.51452177473421767, 30, 3.6642032832540656},
      {0.26683975255994008, 15, 4.1436317502218873},
      {0.6583483068841911, 30, 4.6230602171897086},
      {0.096928544714126194, 15, 5.1024886841575308},
      {0.40022435019607877, 30, 5.5819171511253529},
      {0.028382914672521631, 15, 6.0613456180931733},
      {0.19633242800113448, 30, 6.5407740850609946},
      {0.011246798404960479, 15, 7.0202025520288176},
      {0.10355882000266628, 30, 7.499631018996638},
      {0.017598451302763902, 15, 7.9790594859644601},
      {0.048780665209322491, 30, 8.4584879529322823},
      {-0.007969147380277767, 15, 8.9379164199001035},
      {0.020079618953492816, 30, 9.4173448868679266},
      {0.011834779381454275, 15, 9.8967733538357479},
      {0.0082069186712584018, 30, 10.376201820803571},
      {-0.017156481791548755, 15, 10.855630287771392},
      {-7.9838066404418467e-05, 30, 11.335058754739212},
      {-0.0023147735975771709, 15, 11.814487221707035}};
  const FitResult global = analysis::fit(p, method(FitMethod::global, Numerics::accurate, 2));
  EXPECT_NEAR(global.ssq, 0.0018033675, 1e-6 * 0.0018033675);
  EXPECT_FALSE(global.at_bound[4]) << "BETA " << global.coefficients[4];
  EXPECT_EQ(global.termination, Termination::agreed);
}

}  // namespace
