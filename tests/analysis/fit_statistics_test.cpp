// The fit statistics checked against answers known from outside the code:
// the certified values of the NIST StRD nonlinear regression problem
// Misra1a, and a straight-line fit whose covariance has a closed form.
#include "analysis/fit_statistics.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/analysis/nist.hpp"

namespace btcfit::stats {
namespace {

TEST(NistMisra1a, StandardDeviationsAgreeWithCertifiedValues) {
  const NistProblem nist = read_nist(nist_path("Misra1a"));
  ASSERT_EQ(nist.x.size(), 14u);
  ASSERT_EQ(nist.certified.size(), 2u);

  // y = b1 * (1 - exp(-b2 * x))
  const std::vector<double> x = nist.x;
  const Model model = [x](std::span<const double> b, std::span<double> out) {
    for (std::size_t i = 0; i < x.size(); ++i) {
      out[i] = b[0] * (1.0 - std::exp(-b[1] * x[i]));
    }
  };
  FitProblem problem;
  problem.names = {"b1", "b2"};
  problem.values = nist.certified;
  problem.observed = nist.y;

  const FitStatistics st = compute_fit_statistics(model, problem);
  ASSERT_EQ(st.verdict, Verdict::Determined) << st.message;
  EXPECT_EQ(st.n, 14);
  EXPECT_EQ(st.p, 2);
  EXPECT_EQ(st.dof, nist.certified_dof);

  // Residual sum of squares and residual standard deviation to the
  // certified digits (11 significant): within half a unit of the last one.
  EXPECT_NEAR(st.ssq, nist.certified_ssq, 0.5e-11);
  EXPECT_NEAR(std::sqrt(st.s2), nist.certified_residual_sd, 0.5e-11);

  for (std::size_t k = 0; k < 2; ++k) {
    const double digits = agreeing_digits(st.std_error[k], nist.certified_sd[k]);
    RecordProperty("sd_digits_b" + std::to_string(k + 1), std::to_string(digits));
    std::printf("  b%zu: standard error %.10e, certified %.10e, %.1f digits\n",
                k + 1, st.std_error[k], nist.certified_sd[k], digits);
    // At least 4 significant digits.
    EXPECT_LT(std::fabs(st.std_error[k] - nist.certified_sd[k]),
              0.5e-4 * std::fabs(nist.certified_sd[k]));
    // In fact the numerical Jacobian does far better than that.
    EXPECT_GT(digits, 7.0);
  }
  EXPECT_GT(st.correlation(0, 1), -1.0);
  EXPECT_LT(st.correlation(0, 1), 1.0);
  EXPECT_DOUBLE_EQ(st.correlation(0, 0), 1.0);
  EXPECT_DOUBLE_EQ(st.correlation(1, 0), st.correlation(0, 1));
}

// Straight line y = a + b x fitted by least squares: with x̄, Sxx and s²
// the closed forms are var(b) = s²/Sxx, var(a) = s²(1/n + x̄²/Sxx) and
// cov(a, b) = −x̄ s²/Sxx.
TEST(LinearModel, CovarianceHasTheClosedForm) {
  const std::vector<double> x = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const std::vector<double> y = {1.1, 2.9, 5.2, 6.8, 9.3, 10.9, 13.1, 15.2, 16.8, 19.1};
  const int n = int(x.size());
  double xbar = 0, ybar = 0;
  for (int i = 0; i < n; ++i) {
    xbar += x[i] / n;
    ybar += y[i] / n;
  }
  double sxx = 0, sxy = 0;
  for (int i = 0; i < n; ++i) {
    sxx += (x[i] - xbar) * (x[i] - xbar);
    sxy += (x[i] - xbar) * (y[i] - ybar);
  }
  const double b = sxy / sxx;
  const double a = ybar - b * xbar;
  double ssq = 0;
  for (int i = 0; i < n; ++i) ssq += std::pow(y[i] - a - b * x[i], 2);
  const double s2 = ssq / (n - 2);

  const Model line = [x](std::span<const double> c, std::span<double> out) {
    for (std::size_t i = 0; i < x.size(); ++i) out[i] = c[0] + c[1] * x[i];
  };
  FitProblem problem{{"a", "b"}, {a, b}, {}, y};
  const FitStatistics st = compute_fit_statistics(line, problem);
  ASSERT_EQ(st.verdict, Verdict::Determined) << st.message;

  // The Jacobian of a linear model is its design matrix.
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(st.jacobian(i, 0), 1.0, 1e-9);
    EXPECT_NEAR(st.jacobian(i, 1), x[i], 1e-9);
  }
  EXPECT_NEAR(st.ssq, ssq, 1e-12);
  EXPECT_NEAR(st.s2, s2, 1e-12);
  EXPECT_NEAR(st.covariance(1, 1), s2 / sxx, 1e-9 * s2 / sxx);
  EXPECT_NEAR(st.covariance(0, 0), s2 * (1.0 / n + xbar * xbar / sxx),
              1e-9 * s2);
  EXPECT_NEAR(st.covariance(0, 1), -xbar * s2 / sxx, 1e-9 * s2);
  EXPECT_NEAR(st.covariance(1, 0), st.covariance(0, 1), 1e-15);
  const double corr = -xbar / std::sqrt(1.0 / n * sxx + xbar * xbar);
  EXPECT_NEAR(st.correlation(0, 1), corr, 1e-9);

  // 95 % interval with the t quantile for 8 degrees of freedom.
  EXPECT_NEAR(st.t_quantile, 2.306004135204166, 1e-12);
  EXPECT_NEAR(st.ci_lower[1], b - 2.306004135204166 * std::sqrt(s2 / sxx), 1e-9);
  EXPECT_NEAR(st.ci_upper[1], b + 2.306004135204166 * std::sqrt(s2 / sxx), 1e-9);
  EXPECT_NEAR(st.rmse, std::sqrt(ssq / n), 1e-12);
}

// A model linear in three coefficients, y = c0 + c1 x + c2 x², at
// arbitrary (not fitted) coefficient values: the covariance is still
// s²(XᵀX)⁻¹ with s² of those values, XᵀX from exact integer sums.
TEST(LinearModel, QuadraticDesignMatchesNormalEquations) {
  const std::vector<double> x = {-3, -2, -1, 0, 1, 2, 3};
  const std::vector<double> y = {9.5, 4.2, 0.8, 0.1, 1.2, 3.9, 9.1};
  const Model quad = [x](std::span<const double> c, std::span<double> out) {
    for (std::size_t i = 0; i < x.size(); ++i) out[i] = c[0] + c[1] * x[i] + c[2] * x[i] * x[i];
  };
  // For x = -3..3: Σ1 = 7, Σx = 0, Σx² = 28, Σx³ = 0, Σx⁴ = 196, so
  // XᵀX = [[7,0,28],[0,28,0],[28,0,196]] and its inverse is
  // [[7/21, 0, -1/21], [0, 1/28, 0], [-1/21, 0, 1/84]].
  FitProblem problem{{"c0", "c1", "c2"}, {0.2, 0.05, 1.0}, {}, y};
  const FitStatistics st = compute_fit_statistics(quad, problem);
  ASSERT_EQ(st.verdict, Verdict::Determined) << st.message;
  const double s2 = st.ssq / 4.0;
  const double inv[3][3] = {{7.0 / 21, 0, -1.0 / 21}, {0, 1.0 / 28, 0}, {-1.0 / 21, 0, 1.0 / 84}};
  for (int j = 0; j < 3; ++j) {
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(st.covariance(j, k), s2 * inv[j][k], 1e-10) << j << "," << k;
    }
  }
  EXPECT_NEAR(st.correlation(0, 2), -1.0 / 21 / std::sqrt(7.0 / 21 / 84), 1e-10);
}

TEST(JacobianStep, ScaledToEachCoefficientWithAFloor) {
  EXPECT_DOUBLE_EQ(jacobian_step(25.0, 0.99, 1e-5), 25.0 * 1e-5);
  EXPECT_DOUBLE_EQ(jacobian_step(-4.0, 0.5, 1e-5), 4.0 * 1e-5);
  EXPECT_DOUBLE_EQ(jacobian_step(0.0, 0.5, 1e-5), 0.5 * 1e-5);
  EXPECT_DOUBLE_EQ(jacobian_step(1e-9, 0.01, 1e-5), 0.01 * 1e-5);
  EXPECT_DOUBLE_EQ(jacobian_step(0.0, 0.0, 1e-5), 1e-5);
}

TEST(StudentT, KnownQuantiles) {
  EXPECT_NEAR(student_t_quantile(0.95, 1), 12.706204736174698, 1e-9);
  EXPECT_NEAR(student_t_quantile(0.95, 12), 2.178812829663418, 1e-10);
  EXPECT_NEAR(student_t_quantile(0.95, 1000000), 1.959966, 1e-5);
  EXPECT_TRUE(std::isnan(student_t_quantile(0.95, 0)));
}

TEST(Undetermined, ProductOfTwoCoefficientsNamesThem) {
  // y = a·b·x: only the product is determined.
  const std::vector<double> x = {1, 2, 3, 4, 5};
  const Model m = [x](std::span<const double> c, std::span<double> out) {
    for (std::size_t i = 0; i < x.size(); ++i) out[i] = c[0] * c[1] * x[i];
  };
  FitProblem problem{{"V", "R"}, {2.0, 1.5}, {}, {3.1, 5.9, 9.2, 11.8, 15.1}};
  const FitStatistics st = compute_fit_statistics(m, problem);
  EXPECT_EQ(st.verdict, Verdict::Singular);
  EXPECT_NE(st.message.find("J^T J is singular"), std::string::npos) << st.message;
  EXPECT_NE(st.message.find("cannot determine"), std::string::npos) << st.message;
  EXPECT_NE(st.message.find("V"), std::string::npos) << st.message;
  EXPECT_NE(st.message.find("R"), std::string::npos) << st.message;
  EXPECT_EQ(st.undetermined.size(), 2u);
  EXPECT_TRUE(st.std_error.empty());
  // The fit measures are still there.
  EXPECT_GT(st.ssq, 0.0);
  EXPECT_EQ(st.dof, 3);
}

TEST(Undetermined, CoefficientWithoutInfluenceIsNamed) {
  const std::vector<double> x = {1, 2, 3, 4};
  const Model m = [x](std::span<const double> c, std::span<double> out) {
    for (std::size_t i = 0; i < x.size(); ++i) out[i] = c[0] + c[1] * x[i];
  };
  FitProblem problem{{"D", "GAMMA", "MU"}, {0.5, 2.0, 0.0}, {}, {2.4, 4.6, 6.5, 8.4}};
  const FitStatistics st = compute_fit_statistics(m, problem);
  EXPECT_EQ(st.verdict, Verdict::Singular);
  ASSERT_EQ(st.undetermined, std::vector<int>{2});
  EXPECT_NE(st.message.find("do not change with MU"), std::string::npos) << st.message;
}

TEST(Undetermined, TooFewObservations) {
  const Model m = [](std::span<const double> c, std::span<double> out) {
    out[0] = c[0];
    out[1] = c[0] + c[1];
  };
  FitProblem problem{{"V", "D"}, {1.0, 1.0}, {}, {1.0, 2.5}};
  const FitStatistics st = compute_fit_statistics(m, problem);
  EXPECT_EQ(st.verdict, Verdict::TooFewObservations);
  EXPECT_NE(st.message.find("2 observations cannot determine 2 varied coefficients"),
            std::string::npos)
      << st.message;
  EXPECT_TRUE(std::isnan(st.s2));
  EXPECT_TRUE(std::isnan(st.t_quantile));
  EXPECT_NEAR(st.ssq, 0.25, 1e-15);
  EXPECT_NEAR(st.rmse, std::sqrt(0.125), 1e-15);
}

TEST(FitMeasures, RSquaredIsSquaredCorrelation) {
  const std::vector<double> obs = {1.0, 2.0, 3.0, 4.0};
  // Calculated = 2·observed + 1 correlates perfectly whatever the SSQ.
  const Model m = [obs](std::span<const double> c, std::span<double> out) {
    for (std::size_t i = 0; i < obs.size(); ++i) out[i] = c[0] * obs[i] + 1.0;
  };
  FitProblem problem{{"k"}, {2.0}, {}, obs};
  const FitStatistics st = compute_fit_statistics(m, problem);
  EXPECT_NEAR(st.r2, 1.0, 1e-15);
  EXPECT_NEAR(st.ssq, 4.0 + 9.0 + 16.0 + 25.0, 1e-12);
}

TEST(FitMeasures, NoVariedCoefficient) {
  const Model m = [](std::span<const double>, std::span<double> out) {
    out[0] = 1.0;
    out[1] = 2.0;
    out[2] = 2.0;
  };
  FitProblem problem{{}, {}, {}, {1.0, 2.0, 3.0}};
  const FitStatistics st = compute_fit_statistics(m, problem);
  EXPECT_EQ(st.verdict, Verdict::Determined);
  EXPECT_EQ(st.p, 0);
  EXPECT_NEAR(st.s2, 1.0 / 3.0, 1e-15);
}

TEST(FitMeasures, NotFiniteModelIsReported) {
  const Model m = [](std::span<const double> c, std::span<double> out) {
    out[0] = std::log(c[0]);
    out[1] = 1.0;
    out[2] = 2.0;
  };
  FitProblem problem{{"V"}, {-1.0}, {}, {1.0, 2.0, 3.0}};
  const FitStatistics st = compute_fit_statistics(m, problem);
  EXPECT_EQ(st.verdict, Verdict::NotFinite);
}

}  // namespace
}  // namespace btcfit::stats
