// The public Problem and the engine's problem record, each made from the
// other.
#pragma once

#include <memory>

#include "btcfit/problem.hpp"
#include "problem/problem_record.hpp"

namespace btcfit {

// The record of a checked problem (check_problem), filled as the deck
// reader fills it for the deck of that problem.
std::unique_ptr<ProblemRecord> record_of(const Problem& problem);

// The problem of a record as the deck reader leaves it.
Problem problem_of(const ProblemRecord& rec);

}  // namespace btcfit
