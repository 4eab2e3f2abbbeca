// Information criteria, F tests and Akaike weights against values worked
// out by hand or taken from published tables of the F distribution.
#include "analysis/criteria.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace btcfit::stats {
namespace {

struct CriteriaCase {
  int n, p;
  double ssq;
  double aic, aicc, bic;  // NaN where not defined
};

TEST(InformationCriteria, FormulasWithTheVarianceCounted) {
  const double nan = std::nan("");
  // n = 20, p = 3, SSQ = 0.2: n ln(SSQ/n) = 20 ln 0.01 = −92.1034037…,
  // k = 4: AIC = −84.1034, AICc = AIC + 40/15, BIC = −92.1034 + 4 ln 20.
  const double fit20 = 20.0 * std::log(0.01);
  const std::vector<CriteriaCase> cases = {
      {20, 3, 0.2, fit20 + 8.0, fit20 + 8.0 + 40.0 / 15.0, fit20 + 4.0 * std::log(20.0)},
      // p = 0: k = 1, AICc adds 4/(n − 2).
      {10, 0, 10.0, 2.0, 2.0 + 4.0 / 8.0, std::log(10.0)},
      // n − k − 1 = 0: AICc not defined, AIC and BIC are.
      {5, 3, 5.0, 8.0, nan, 4.0 * std::log(5.0)},
      // SSQ = 0: nothing defined (the likelihood has no maximum).
      {5, 1, 0.0, nan, nan, nan},
  };
  for (const CriteriaCase& c : cases) {
    const Criteria got = information_criteria(c.n, c.p, c.ssq);
    for (const auto& [value, expected] :
         {std::pair{got.aic, c.aic}, {got.aicc, c.aicc}, {got.bic, c.bic}}) {
      if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(value)) << "n " << c.n << " p " << c.p;
      } else {
        EXPECT_NEAR(value, expected, 1e-12 * (1.0 + std::fabs(expected))) << "n " << c.n;
      }
    }
  }
}

TEST(FDistribution, QuantilesAndTailsOfPublishedTables) {
  // 95 % points of F: F(1, 14) = 4.600, F(2, 10) = 4.103, F(3, 20) = 3.098.
  EXPECT_NEAR(f_quantile(0.95, 1, 14), 4.60011, 1e-5);
  EXPECT_NEAR(f_quantile(0.95, 2, 10), 4.10282, 1e-5);
  EXPECT_NEAR(f_quantile(0.95, 3, 20), 3.09839, 1e-5);
  // F(1, ν) is the square of the t quantile for the two-sided level.
  EXPECT_NEAR(f_quantile(0.95, 1, 8), 2.306004135204166 * 2.306004135204166, 1e-9);
  EXPECT_TRUE(std::isnan(f_quantile(0.95, 1, 0)));

  // The statistic at the 95 % point has p-value 0.05.
  // SSQ 1.2 with p = 2 against SSQ 1.0 with p = 4, n = 14: df (2, 10),
  // F = (0.2/2)/(1.0/10) = 1.
  FTest t = nested_f_test(14, 2, 1.2, 4, 1.0);
  EXPECT_EQ(t.df1, 2);
  EXPECT_EQ(t.df2, 10);
  EXPECT_NEAR(t.f, 1.0, 1e-12);
  // P(F(2, 10) > 1) = (1 + 2/10)^(−5) = 0.401877…
  EXPECT_NEAR(t.p_value, std::pow(1.2, -5.0), 1e-12);
  t = nested_f_test(14, 2, 1.0 + 2.0 * 4.10282 / 10.0, 4, 1.0);
  EXPECT_NEAR(t.p_value, 0.05, 1e-5);
  // The larger fit worse than the smaller one: F = 0, p-value 1.
  t = nested_f_test(14, 2, 0.9, 4, 1.0);
  EXPECT_EQ(t.f, 0.0);
  EXPECT_NEAR(t.p_value, 1.0, 1e-15);
  EXPECT_TRUE(std::isnan(nested_f_test(4, 2, 1.0, 4, 0.5).p_value));  // n − p = 0
}

TEST(AkaikeWeights, FromDifferencesOfAICc) {
  // Three fits of 20 observations; the weights depend only on ΔAICc.
  const std::vector<ComparedFit> fits = {
      {"a", 2, 20, 2, 0.30}, {"b", 4, 20, 4, 0.12}, {"c", 4, 20, 3, 0.20}};
  const std::vector<ComparisonRow> rows = compare_fits(fits);
  ASSERT_EQ(rows.size(), 3u);
  double best = rows[0].criteria.aicc, total = 0.0, expected_total = 0.0;
  for (const ComparisonRow& r : rows) best = std::min(best, r.criteria.aicc);
  for (const ComparisonRow& r : rows) expected_total += std::exp(-0.5 * (r.criteria.aicc - best));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_NEAR(rows[i].delta_aicc, rows[i].criteria.aicc - best, 1e-12);
    EXPECT_GE(rows[i].delta_aicc, 0.0);
    EXPECT_NEAR(rows[i].weight, std::exp(-0.5 * rows[i].delta_aicc) / expected_total, 1e-12);
    total += rows[i].weight;
  }
  EXPECT_NEAR(total, 1.0, 1e-12);
  // b: 20 ln(0.006) + 10 + 60/14; c: 20 ln(0.01) + 8 + 40/15; a: 20 ln(0.015) + 6 + 24/16.
  EXPECT_EQ(rows[1].delta_aicc, 0.0);
  EXPECT_NEAR(rows[2].delta_aicc,
              20 * std::log(0.01 / 0.006) + 8 + 40.0 / 15 - 10 - 60.0 / 14, 1e-10);

  // A fit whose AICc is not defined leaves every weight undefined.
  const std::vector<ComparisonRow> undefined =
      compare_fits({{"a", 2, 5, 2, 0.3}, {"b", 4, 5, 4, 0.1}});
  EXPECT_TRUE(std::isnan(undefined[0].weight));
  EXPECT_TRUE(std::isnan(undefined[1].delta_aicc));
}

}  // namespace
}  // namespace btcfit::stats
