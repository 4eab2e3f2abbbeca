#include "report/run_report.hpp"

#include <string>
#include <vector>

namespace btcfit {

void write_echo_banner(int model, bool least_squares_line, int data_form, OutputUnit& report) {
  static const Layout title(
      "('1',TR10,82('*'),/,TR11,'*',TR80,'*',/,TR11,'*',TR10,'ONE-DIMENSIONAL "
      "CONVECTION-DISPERSION EQ. SOLUTION',TR20,'*')");
  static const Layout least_squares(
      "(TR11,'*',TR10,'NON-LINEAR LEAST-SQUARES ANALYSIS',TR37,'*')");
  static const Layout blank_line("(TR11,'*',TR80,'*')");
  static const Layout family_lines[4] = {
      Layout("(TR11,'*',TR10,'DETERMINISTIC LINEAR EQUILIBRIUM ADSORPTION FOR "
             "PULSE INJECTION',TR7,'*',/,TR11,'*',TR10,'WITH FIRST- AND "
             "ZERO-ORDERPRODUCTION AND DECAY',TR23,'*')"),
      Layout("(TR11,'*',TR10,'DETERMINISTIC TWO-SITE/TWO-REGION NONEQUILIBRIUM "
             "MODEL FOR    ',TR8,'*',/,TR11,'*',TR10,'PULSE-TYPE INJECTION WITH "
             "NO PRODUCTION OR DECAY',TR22,'*')"),
      Layout("(TR11,'*',TR10,'STOCHASTIC TRANSPORT MODEL WITH EQUILIBRIUM "
             "ADSORPTION',TR16,'*',/,TR11,'*',TR10,'ZERO-ORDER PRODUCTION AND "
             "FIRST-ORDER DECAY FOR UNIFORM PULSE INPUT',TR3,'*')"),
      Layout("(TR11,'*',TR10,'STOCHASTIC TRANSPORT MODEL WITH EQUILIBRIUM "
             "ADSORPTION',TR16,'*',/,TR11,'*',TR10,'ZERO-ORDER PRODUCTION AND "
             "FIRST-ORDER DECAY FOR UNIFORM SOLUTE LOAD',TR3,'*')"),
  };
  static const Layout resident(
      "(TR11,'*',TR10,'SOLUTION FOR RESIDENT CONCENTRATIONS',TR34,'*')");
  static const Layout flux(
      "(TR11,'*',TR10,'SOLUTION FOR FLUX CONCENTRATIONS',TR38,'*')");
  static const Layout reduced(
      "(TR11,'*',TR10,'REDUCED CONCENTRATION DATA',TR44,'*')");
  static const Layout reduced_time(
      "(TR11,'*',TR10,'REDUCED CONCENTRATION AND TIME DATA',TR35,'*')");

  write_record(title, {}, report);
  if (least_squares_line) write_record(least_squares, {}, report);
  write_record(blank_line, {}, report);
  // Family and concentration mode follow from the model code.
  const int family = (model - 1) / 2;
  if (family >= 0 && family <= 3) write_record(family_lines[family], {}, report);
  const int concentration = model - 2 * family;
  if (concentration == 1) write_record(resident, {}, report);
  if (concentration == 2) write_record(flux, {}, report);
  if (data_form == 1) write_record(reduced, {}, report);
  if (data_form == 2) write_record(reduced_time, {}, report);
  write_record(blank_line, {}, report);
}

void write_echo_banner_bottom(OutputUnit& report) {
  static const Layout bottom("(TR11,'*',TR80,'*',/,TR11,82('*'))");
  write_record(bottom, {}, report);
}

void write_echo_initial_values(int model, std::span<const EchoCoefficient> coefficients,
                               int pulse_count, double ci, double c0, OutputUnit& report) {
  static const Layout heading(
      "(/,/,TR11,'INITIAL VALUES OF COEFFICIENTS',/,TR11,30('='),/,TR12,'NAME',"
      "TR11,'INITIAL VALUE')");
  static const Layout coefficient("(TR11,A6,4('.'),F12.4)");
  static const Layout initial("(TR11,'CI',8('.'),F12.4)");
  static const Layout input("(TR11,'C0',8('.'),F12.4)");

  write_record(heading, {}, report);
  for (std::size_t k = 1; k <= coefficients.size(); ++k) {
    // With several pulses the pulse duration comes from the pulse table.
    if (k == 4 && pulse_count > 1) continue;
    const EchoCoefficient& c = coefficients[k - 1];
    write_record(coefficient, {c.name, c.value}, report);
  }
  write_record(initial, {ci}, report);
  if (pulse_count == 1 || model >= 7) write_record(input, {c0}, report);
}

void write_echo_pulse_heading(int model, OutputUnit& report) {
  static const Layout pulses(
      "(/,TR11,5('-'),'INFLUENT CONCENTRATIONS FOR MULTIPLE PULSES',5('-'),/,"
      "TR15,'NO',TR7,'START TIME',TR9,'END TIME',TR4,'CONCENTRATION')");
  static const Layout loads(
      "(/,TR11,7('-'),'INFLUENT MASS LOADS FOR MULTIPLE PULSES',7('-'),/,TR15,"
      "'NO',TR7,'START TIME',TR9,'M0/THETA')");
  write_record(model >= 7 ? loads : pulses, {}, report);
}

void write_echo_pulse_line(int model, int j, double start, double end, double value,
                           OutputUnit& report) {
  static const Layout line("(TR11,I5,3(TR7,F10.4))");
  if (model >= 7) {
    write_record(line, {j, start, value}, report);
  } else {
    write_record(line, {j, start, end, value}, report);
  }
}

void write_echo_observed_data(std::span<const double> concentration,
                              std::span<const double> distance, std::span<const double> time,
                              OutputUnit& report) {
  static const Layout heading(
      "(/,/,TR11,'OBSERVED DATA',/,TR11,13('='),/,TR11,'OBS. NO.',TR5,"
      "'CONCENTRATION',TR6,'DISTANCE',TR9,'TIME')");
  static const Layout line("(TR11,I5,TR6,F12.4,TR4,F12.4,TR4,F12.4)");
  write_record(heading, {}, report);
  for (std::size_t i = 0; i < concentration.size(); ++i) {
    write_record(line, {std::int32_t(i + 1), concentration[i], distance[i], time[i]}, report);
  }
}

void write_progress_heading(OutputUnit& report) {
  static const Layout heading(
      "(/,/,TR4,'N',TR5,'SSQ',TR7,'V',TR8,'D',TR8,'R',TR7,'T',TR7,'BETA',TR5,"
      "'ALPHA')");
  write_record(heading, {}, report);
}

void write_progress_line(std::int32_t iteration, double ssq,
                         std::span<const double> coefficients, OutputUnit& report) {
  // Seven-coefficient models write the seventh value as one more field on
  // the same line.
  static const Layout six("(I5,F10.6,6F9.5)");
  static const Layout seven("(I5,F10.6,7F9.5)");
  constexpr std::size_t kMost = 7;
  const std::size_t n = coefficients.size() < kMost ? coefficients.size() : kMost;
  FieldValue values[2 + kMost] = {iteration, ssq, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  for (std::size_t k = 0; k < n; ++k) values[2 + k] = FieldValue(coefficients[k]);
  write_record(n == 7 ? seven : six, std::span<const FieldValue>(values, 2 + n), report);
}

void write_final_table(std::span<const double> observed, std::span<const double> calculated,
                       OutputUnit& report) {
  static const Layout heading("(/,/,TR5,'OBSERVED C',TR5,'CALCULATED C')");
  static const Layout pairs("(F13.4,TR6,F13.4)");
  write_record(heading, {}, report);
  std::vector<FieldValue> values;
  values.reserve(2 * observed.size());
  for (std::size_t i = 0; i < observed.size(); ++i) {
    values.emplace_back(observed[i]);
    values.emplace_back(calculated[i]);
  }
  write_record(pairs, values, report);
}

void write_pd_label(std::int32_t output_switch, OutputUnit& pd) {
  static const Layout label_layout("(A15)");
  const char* label = output_switch == 2 ? " DISTANCE      " : " TIME          ";
  write_record(label_layout, {std::string_view(label, 15)}, pd);
}

}  // namespace btcfit
