// The plain-text summary of a fit: the varied coefficients with value,
// standard error and confidence interval; the correlation matrix; the fit
// measures.
#pragma once

#include <string>
#include <vector>

#include "analysis/fit_statistics.hpp"

namespace btcfit::stats {

struct SummaryInput {
  std::vector<std::string> heading;  // lines printed first, as given
  std::vector<std::string> names;    // varied coefficients
  std::vector<double> values;        // fitted values
  std::vector<std::string> fixed;    // "T0 = 2" entries of fixed coefficients
  std::vector<std::string> notes;    // printed after the coefficient table
  std::string step_rule;             // how the Jacobian steps were chosen
  double confidence = 0.95;
};

std::string format_summary(const SummaryInput& input, const FitStatistics& st);

}  // namespace btcfit::stats
