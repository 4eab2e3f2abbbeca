// What the companion adds to the statistics at the search's set: the
// local refinement from that set, the information criteria, the profile
// intervals, and the comparison of several fits of the same observations.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analysis/fit_analysis.hpp"
#include "apps/btcfit-stats/deck_fit.hpp"
#include "apps/btcfit-stats/plot_svg.hpp"
#include "analysis/profile.hpp"
#include "analysis/refine.hpp"

namespace btcfit::stats {

// One figure with the observations and every fit's curves: one series per
// fit (and per distance or time, where there are several), the
// observations drawn with the first fit's series.
Figure comparison_plot(const std::vector<FittedProblem>& fits, int grid_points = 201);

// The profile of varied coefficient j: the profile SSQ, the threshold and
// the parabola of the linearized interval, SSQ_min + s²(v − b)²/se².
Figure profile_plot(const FittedProblem& fit, const FitAnalysis& analysis, int j);

// Coefficient name turned into a file name part (letters, digits, '-' and
// '_' kept, everything else '_').
std::string file_name_part(const std::string& name);

}  // namespace btcfit::stats
