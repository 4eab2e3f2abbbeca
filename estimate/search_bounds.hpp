// The guard run before the search: every varied coefficient must be
// placeable within its bounds by the search's steps in a reasonable number
// of draws.
#pragma once

#include <string>

#include "problem/problem_record.hpp"

namespace btcfit {

// Narrowest bound interval of a varied coefficient. A trial step is uniform
// in [-0.2, 0.2] and lands within bounds of width w around a value inside
// them with probability min(w, 0.2) / 0.4 at least; below this width a trial
// set takes hundreds of draws per coefficient, and near the steps' resolution
// (about 2.4e-8, from the single-precision draws) it is never found.
inline constexpr double kNarrowestInterval = 1.0e-3;

// Throws ProblemError naming the first varied coefficient that the search
// cannot place: bounds crossed or equal, narrower than kNarrowestInterval,
// or an initial value more than 0.2 outside them.
void check_search_bounds(const ProblemRecord& rec);

// The message for varied coefficient k that cannot be placed within its
// bounds, for the guard and for the search's own limit on draws.
std::string unplaceable_message(const ProblemRecord& rec, int k,
                                const std::string& reason);

}  // namespace btcfit
