// The echo of the problem in the report: the boxed banner, the initial
// coefficient values, the input concentrations, the pulse table and the
// observed data. Each block is written as soon as the deck records it shows
// have been read.
#pragma once

#include "driver/problem_record.hpp"
#include "report/record_layout.hpp"

namespace btcfit {

// Upper part of the box: title, least-squares line, model family,
// concentration mode and data form.
void echo_banner(const ProblemRecord& rec, OutputUnit& report);
// The two closing lines of the box.
void echo_banner_bottom(OutputUnit& report);
// Initial coefficient values, CI and (when it applies) C0.
void echo_initial_values(const ProblemRecord& rec, OutputUnit& report);
// Heading of the pulse table (several pulses).
void echo_pulse_heading(const ProblemRecord& rec, OutputUnit& report);
// Line of pulse j, right after its record has been read.
void echo_pulse_line(const ProblemRecord& rec, int j, OutputUnit& report);
// Table of the observations.
void echo_observed_data(const ProblemRecord& rec, OutputUnit& report);

}  // namespace btcfit
