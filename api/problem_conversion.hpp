// The public Problem and the engine's problem record, each made from the
// other.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "btcfit/problem.hpp"
#include "problem/problem_record.hpp"

namespace btcfit {

// The record of a checked problem (check_problem), filled as the deck
// reader fills it for the deck of that problem. The observation tables
// hold the observations when there are at most MAXOBS of them; with more,
// NOB is 0 and the caller evaluates them itself (model_values). XMAX is
// the largest distance of all observations either way.
std::unique_ptr<ProblemRecord> record_of(const Problem& problem);

// Refusals that evaluate applies to what it is handed beside the problem
// (check_problem applies them to the problem's own observations): a
// negative distance or time of a point (`which` names it, as in
// "point 3's"); a largest distance of 0 where the model or the reduced
// time is scaled with it (`what` names the distances); coefficient values
// for which the model is not defined or that are not finite numbers.
void require_point(double distance, double time, const std::string& which);
void require_scale(const Problem& problem, double largest, const std::string& what);
void require_coefficient_values(Model model, std::span<const double> coefficients);

// The problem of a record as the deck reader leaves it, marked as read
// from a deck (from_deck).
Problem problem_of(const ProblemRecord& rec);

}  // namespace btcfit
