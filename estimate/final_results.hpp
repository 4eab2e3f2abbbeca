// The closing lines of the report: the last progress line repeated and the
// table of observed against calculated concentrations.
#pragma once

#include "driver/problem_record.hpp"
#include "estimate/annealing.hpp"
#include "report/record_layout.hpp"

namespace btcfit {

void write_final_results(ProblemRecord& rec, const SearchOutcome& outcome,
                         OutputUnit& report);

}  // namespace btcfit
