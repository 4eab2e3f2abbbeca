// The blocks of the report, formatted from plain values: the echo of the
// problem, the progress table of the search, the final table, and the one
// line of pd.dat. Callers hand over the values; nothing here knows where
// they come from.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "report/record_layout.hpp"

namespace btcfit {

// A coefficient as the echo shows it: its name (the deck's 6 characters,
// shorter names padded with blanks) and its initial value.
struct EchoCoefficient {
  std::string_view name;
  double value = 0.0;
};

// The boxed banner down to the data form (model code 1..8; data form 0, 1
// or 2), and its two closing lines.
void write_echo_banner(int model, bool least_squares_line, int data_form, OutputUnit& report);
void write_echo_banner_bottom(OutputUnit& report);

// The initial values: every coefficient but the pulse duration when there
// are several pulses, CI, and C0 where a single pulse (or solute loads) use
// it.
void write_echo_initial_values(int model, std::span<const EchoCoefficient> coefficients,
                               int pulse_count, double ci, double c0, OutputUnit& report);

// Heading of the table of pulses (codes 1-6) or solute loads (codes 7, 8),
// and the line of pulse j: start and end time and concentration, or for a
// load its time and mass (`end` is not shown).
void write_echo_pulse_heading(int model, OutputUnit& report);
void write_echo_pulse_line(int model, int j, double start, double end, double value,
                           OutputUnit& report);

// The table of observations (concentration, distance, time), numbered
// from 1.
void write_echo_observed_data(std::span<const double> concentration,
                              std::span<const double> distance, std::span<const double> time,
                              OutputUnit& report);

// The heading of the progress table, and one line: iteration, SSQ and the
// coefficients in deck order (6 or 7).
void write_progress_heading(OutputUnit& report);
void write_progress_line(std::int32_t iteration, double ssq,
                         std::span<const double> coefficients, OutputUnit& report);

// The table of observed against calculated concentrations.
void write_final_table(std::span<const double> observed, std::span<const double> calculated,
                       OutputUnit& report);

// The line of pd.dat: the label of the deck's output switch (2: distance,
// 3 or more: time).
void write_pd_label(std::int32_t output_switch, OutputUnit& pd);

}  // namespace btcfit
