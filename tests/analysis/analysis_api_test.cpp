// The public analysis as a client meets it: options refused with their
// reason, fits of other observations refused in a comparison, a profile
// asked for by a name that is no varied coefficient's, and the comparison
// of an equilibrium fit nested in a nonequilibrium one.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "btcfit/analysis.hpp"
#include "btcfit/btcfit.hpp"

namespace {

using namespace btcfit;

Problem multipulse() {
  return read_deck(std::string(BTCFIT_STATS_TEST_DATA) + "/golden/equilibrium-multipulse/deck");
}

void expect_problem_error(const std::function<void()>& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "no ProblemError: " << message;
  } catch (const ProblemError& e) {
    EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
  }
}

TEST(AnalysisOptions, InvalidOptionsAreRefusedWithTheirReason) {
  const Problem problem = multipulse();
  const FitResult fit = analysis::fit(problem);
  analysis::StatisticsOptions level;
  level.confidence = 1.5;
  expect_problem_error([&] { analysis::statistics(problem, fit, level); },
                       "statistics options: confidence is 1.5");
  analysis::RefineOptions iterations;
  iterations.max_iterations = 0;
  expect_problem_error([&] { analysis::refine(problem, fit, iterations); },
                       "refine options: max_iterations is 0");
  analysis::ProfileOptions steps;
  steps.max_steps = 0;
  expect_problem_error([&] { analysis::profiles(problem, fit, steps); },
                       "profile options: max_steps is 0");
  expect_problem_error([&] { analysis::profile(problem, fit, "OMEGA"); },
                       "no varied coefficient is named \"OMEGA\"; the varied ones are V, D, R");
  std::string why;
  EXPECT_TRUE(analysis::StatisticsOptions{}.valid(&why)) << why;
  EXPECT_TRUE(analysis::ProfileOptions{}.valid(&why)) << why;
}

TEST(AnalysisCompare, OtherObservationsAreRefused) {
  const Problem problem = multipulse();
  const FitResult fit = analysis::fit(problem);
  Problem other = problem;
  other.observations[3].concentration += 0.01;
  expect_problem_error([&] { analysis::compare({{"a", problem, fit}, {"b", other, fit}}); },
                       "fit 2 is not of the same observations: observation 4 has concentration");
  expect_problem_error([&] { analysis::compare({{"a", problem, fit}}); }, "two fits or more");
}

// An equilibrium fit (code 1) inside the nonequilibrium model of the same
// concentration type (code 3, BETA up to 1): the comparison finds the
// nesting at the boundary BETA = 1 and tests OMEGA and BETA.
TEST(AnalysisCompare, EquilibriumNestedInNonequilibrium) {
  const Problem eq = multipulse();
  Problem neq = eq;
  neq.model = Model::nonequilibrium_resident;
  neq.coefficients[4] = {"BETA", 0.9, 0.1, 1.0, true};
  neq.coefficients[5] = {"OMEGA", 1.0, 0.01, 10.0, true};
  const FitResult a = analysis::refine(eq, analysis::fit(eq)).result;
  FitOptions local;
  local.method = FitMethod::least_squares;
  local.numerics = Numerics::legacy;
  const FitResult b = analysis::fit(neq, local);
  const analysis::Comparison c = analysis::compare({{"equilibrium", eq, a}, {"two-site", neq, b}});
  ASSERT_EQ(c.rows.size(), 2u);
  EXPECT_EQ(c.rows[0].label, "equilibrium");
  EXPECT_EQ(c.rows[1].criteria.p, 5);
  EXPECT_NEAR(c.rows[0].weight + c.rows[1].weight, 1.0, 1e-12);
  ASSERT_EQ(c.nested.size(), 1u);
  EXPECT_EQ(c.nested[0].small, 0);
  EXPECT_EQ(c.nested[0].large, 1);
  EXPECT_TRUE(c.nested[0].at_boundary);
  EXPECT_EQ(c.nested[0].extra, (std::vector<std::string>{"BETA", "OMEGA"}));
  EXPECT_EQ(c.nested[0].df1, 2);
  EXPECT_EQ(c.nested[0].df2, int(eq.observations.size()) - 5);
}

// Statistics of the public API: names and positions of the varied
// coefficients, a row-major correlation matrix with a unit diagonal, and
// intervals about the fitted values; where the data cannot determine a
// coefficient, the verdict names it and every error is NaN.
TEST(AnalysisStatistics, VariedCoefficientsAndTheirIntervals) {
  const Problem depth =
      read_deck(std::string(BTCFIT_STATS_TEST_DATA) + "/decks/equilibrium-flux-production/deck");
  FitOptions local;
  local.method = FitMethod::least_squares;
  local.numerics = Numerics::legacy;
  const FitResult fit = analysis::fit(depth, local);
  const analysis::Statistics st = analysis::statistics(depth, fit);
  EXPECT_EQ(st.names, (std::vector<std::string>{"V", "D", "R", "MU"}));
  EXPECT_EQ(st.positions, (std::vector<int>{1, 2, 3, 5}));
  ASSERT_EQ(st.verdict, analysis::Verdict::determined) << st.message;
  ASSERT_EQ(st.correlation.size(), 16u);
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_NEAR(st.correlation[5 * k], 1.0, 1e-12);
    EXPECT_LT(st.ci_lower[k], st.values[k]);
    EXPECT_GT(st.ci_upper[k], st.values[k]);
  }
  EXPECT_EQ(st.numerics, Numerics::legacy);
  EXPECT_EQ(st.ssq, fit.ssq);

  // Reduced concentrations of one distance: R is not determined apart
  // from V and D.
  const Problem reduced = multipulse();
  const analysis::Statistics singular = analysis::statistics(reduced, analysis::fit(reduced));
  EXPECT_EQ(singular.verdict, analysis::Verdict::singular);
  EXPECT_NE(singular.message.find("cannot determine R"), std::string::npos) << singular.message;
  EXPECT_FALSE(singular.undetermined.empty());
  for (double se : singular.std_error) EXPECT_TRUE(std::isnan(se));
}

}  // namespace
