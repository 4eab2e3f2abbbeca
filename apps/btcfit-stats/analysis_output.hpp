// The companion's text and JSON for the refinement, the criteria, the
// profile intervals and the comparison of fits.
#pragma once

#include <string>
#include <vector>

#include "apps/btcfit-stats/deck_analysis.hpp"
#include "apps/btcfit-stats/deck_fit.hpp"

namespace btcfit::stats {

// The sections that follow the statistics in the summary of one deck:
// local refinement, profile intervals (when computed) and information
// criteria.
std::string format_analysis(const DeckFit& fit, const DeckAnalysis& analysis);

// The summary of `btcfit-stats compare`.
std::string format_comparison(const std::vector<DeckFit>& fits,
                              const std::vector<DeckAnalysis>& analyses,
                              const Comparison& comparison);

// The whole summary of one deck as a JSON document (schema in
// docs/stats.md); `files` are the files written.
std::string json_summary(const DeckFit& fit, const DeckAnalysis& analysis,
                         const StatisticsOptions& options, const std::vector<std::string>& files);

// The comparison as a JSON document.
std::string json_comparison(const std::vector<DeckFit>& fits,
                            const std::vector<DeckAnalysis>& analyses,
                            const Comparison& comparison,
                            const std::vector<std::string>& files);

}  // namespace btcfit::stats
