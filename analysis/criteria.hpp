// Information criteria of least-squares fits and the comparison of fits of
// the same observations.
//
// Gaussian errors of one unknown variance σ²: the maximised
// log-likelihood is −(n/2)(ln(2π SSQ/n) + 1), and the criteria count σ² as
// a parameter, k = p + 1. The constant n(ln 2π + 1) is left out (it is the
// same for every fit of the same observations):
//
//   AIC  = n ln(SSQ/n) + 2k
//   AICc = AIC + 2k(k + 1)/(n − k − 1)      (NaN when n − k − 1 <= 0)
//   BIC  = n ln(SSQ/n) + k ln n
//
// Among fits of the same observations, ΔAICc_i = AICc_i − min AICc and the
// Akaike weight w_i = exp(−ΔAICc_i/2) / Σ_j exp(−ΔAICc_j/2).
//
// Nested fits (the smaller one is the larger one with some coefficients
// held fixed) are compared by the F test of the extra coefficients:
//   F = ((SSQ_small − SSQ_large)/(p_large − p_small)) / (SSQ_large/(n − p_large))
// with p_large − p_small and n − p_large degrees of freedom; the p-value is
// the upper tail probability of F.
#pragma once

#include <string>
#include <vector>

namespace btcfit::stats {

struct Criteria {
  double aic = 0.0;
  double aicc = 0.0;
  double bic = 0.0;
};

// The criteria for n observations, p varied coefficients and SSQ. NaN
// where not defined (SSQ <= 0, n <= 0, or n − p − 2 <= 0 for AICc).
Criteria information_criteria(int n, int p, double ssq);

struct FTest {
  int df1 = 0;            // p_large − p_small
  int df2 = 0;            // n − p_large
  double f = 0.0;         // the statistic (0 when SSQ_small <= SSQ_large)
  double p_value = 1.0;   // P(F(df1, df2) > f)
};

// The F test of the larger fit against the nested smaller one. NaN
// statistic and p-value where the degrees of freedom are not positive or
// SSQ_large is 0.
FTest nested_f_test(int n, int p_small, double ssq_small, int p_large, double ssq_large);

// Upper quantile F(level; df1, df2) (level 0.95: exceeded with probability
// 0.05). NaN for degrees of freedom below 1.
double f_quantile(double level, int df1, int df2);

// One fit entering a comparison.
struct ComparedFit {
  std::string label;  // e.g. the deck's path
  int model = 0;      // model code
  int n = 0;
  int p = 0;
  double ssq = 0.0;
};

struct ComparisonRow {
  Criteria criteria;
  double delta_aicc = 0.0;
  double weight = 0.0;  // Akaike weight from AICc
};

// ΔAICc and Akaike weights of fits of the same observations (rows in the
// order of `fits`). Where some AICc is not defined every Δ and weight is
// NaN.
std::vector<ComparisonRow> compare_fits(const std::vector<ComparedFit>& fits);

}  // namespace btcfit::stats
