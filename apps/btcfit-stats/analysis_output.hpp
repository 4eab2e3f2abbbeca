// The companion's text and JSON for the refinement, the criteria, the
// profile intervals and the comparison of fits.
#pragma once

#include <string>
#include <vector>

#include "analysis/json_output.hpp"
#include "apps/btcfit-stats/deck_analysis.hpp"
#include "apps/btcfit-stats/deck_fit.hpp"

namespace btcfit::stats {

// The sections that follow the statistics in the summary of one deck:
// local refinement, profile intervals (when computed) and information
// criteria.
std::string format_analysis(const FittedProblem& fit, const FitAnalysis& analysis);

// The summary of `btcfit-stats compare`.
std::string format_comparison(const std::vector<FittedProblem>& fits,
                              const std::vector<FitAnalysis>& analyses,
                              const Comparison& comparison);

}  // namespace btcfit::stats
