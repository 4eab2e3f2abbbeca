// A fit with its statistics, refinement, criteria, profile intervals and
// the comparison of several fits as JSON documents (the schema of
// btcfit-stats --json, described in docs/stats.md).
#pragma once

#include <string>
#include <vector>

#include "analysis/fit_analysis.hpp"

namespace btcfit::stats {

// The names of the varied coefficients, in order.
std::vector<std::string> varied_names(const FittedProblem& fit);

// (start SSQ − refined SSQ) / start SSQ; 0 when the start SSQ is 0.
double relative_decrease(const Refinement& r);

// "determined", "too_few_observations", "not_finite" or "singular".
const char* verdict_name(Verdict v);

// The whole summary of one fit as a JSON document (schema in
// docs/stats.md); `files` are the files written.
std::string json_summary(const FittedProblem& fit, const FitAnalysis& analysis,
                         const StatisticsOptions& options, const std::vector<std::string>& files);

// The comparison as a JSON document.
std::string json_comparison(const std::vector<FittedProblem>& fits,
                            const std::vector<FitAnalysis>& analyses,
                            const Comparison& comparison,
                            const std::vector<std::string>& files);

}  // namespace btcfit::stats
