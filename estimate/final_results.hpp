// The final results of a fit: the calculated concentrations of the best
// set.
#pragma once

#include "problem/problem_record.hpp"

namespace btcfit {

class ObservationPool;

// Evaluates the best set (COEF column 1 after the search) into rec.CCALC,
// on the record as the search left it: the values the report's final table
// shows.
void final_concentrations(ProblemRecord& rec, ObservationPool* pool);

}  // namespace btcfit
