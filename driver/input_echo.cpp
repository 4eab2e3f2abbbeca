#include "driver/input_echo.hpp"

#include <string_view>

namespace btcfit {
namespace {

std::string_view head(const CoefName& n) { return {n.head.data(), n.head.size()}; }
std::string_view tail(const CoefName& n) { return {n.tail.data(), n.tail.size()}; }

}  // namespace

void echo_banner(const ProblemRecord& rec, OutputUnit& report) {
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
  if (rec.ILSQ != 0) write_record(least_squares, {}, report);
  write_record(blank_line, {}, report);
  // Family and concentration mode follow from the model code; codes outside
  // 1..8 never get this far.
  const int mode = rec.work.MODE;
  const int family = (mode - 1) / 2;
  if (family >= 0 && family <= 3) write_record(family_lines[family], {}, report);
  const int concentration = mode - 2 * family;
  if (concentration == 1) write_record(resident, {}, report);
  if (concentration == 2) write_record(flux, {}, report);
  if (rec.obs.IRED == 1) write_record(reduced, {}, report);
  if (rec.obs.IRED == 2) write_record(reduced_time, {}, report);
  write_record(blank_line, {}, report);
}

void echo_banner_bottom(OutputUnit& report) {
  static const Layout bottom("(TR11,'*',TR80,'*',/,TR11,82('*'))");
  write_record(bottom, {}, report);
}

void echo_initial_values(const ProblemRecord& rec, OutputUnit& report) {
  static const Layout heading(
      "(/,/,TR11,'INITIAL VALUES OF COEFFICIENTS',/,TR11,30('='),/,TR12,'NAME',"
      "TR11,'INITIAL VALUE')");
  static const Layout coefficient("(TR11,A4,A2,4('.'),F12.4)");
  static const Layout initial("(TR11,'CI',8('.'),F12.4)");
  static const Layout input("(TR11,'C0',8('.'),F12.4)");

  write_record(heading, {}, report);
  const int npulse = rec.pulses.NPULSE;
  for (int k = 1; k <= rec.obs.NCOEF; ++k) {
    // With several pulses the pulse duration comes from the pulse table.
    if (k == 4 && npulse > 1) continue;
    write_record(coefficient,
                 {head(rec.CNAME[k]), tail(rec.CNAME[k]), rec.coef(k, 1)},
                 report);
  }
  write_record(initial, {rec.work.CI}, report);
  if (npulse == 1 || rec.work.MODE >= 7) {
    write_record(input, {rec.work.C0}, report);
  }
}

void echo_pulse_heading(const ProblemRecord& rec, OutputUnit& report) {
  static const Layout pulses(
      "(/,TR11,5('-'),'INFLUENT CONCENTRATIONS FOR MULTIPLE PULSES',5('-'),/,"
      "TR15,'NO',TR7,'START TIME',TR9,'END TIME',TR4,'CONCENTRATION')");
  static const Layout loads(
      "(/,TR11,7('-'),'INFLUENT MASS LOADS FOR MULTIPLE PULSES',7('-'),/,TR15,"
      "'NO',TR7,'START TIME',TR9,'M0/THETA')");
  write_record(rec.work.MODE >= 7 ? loads : pulses, {}, report);
}

void echo_pulse_line(const ProblemRecord& rec, int j, OutputUnit& report) {
  static const Layout line("(TR11,I5,3(TR7,F10.4))");
  const auto& p = rec.pulses;
  if (rec.work.MODE >= 7) {
    write_record(line, {j, p.TPULSE[j], p.CPULSE[j]}, report);
  } else {
    write_record(line, {j, p.TPULSE[j], p.TPULSE[j + 1], p.CPULSE[j]}, report);
  }
}

void echo_observed_data(const ProblemRecord& rec, OutputUnit& report) {
  static const Layout heading(
      "(/,/,TR11,'OBSERVED DATA',/,TR11,13('='),/,TR11,'OBS. NO.',TR5,"
      "'CONCENTRATION',TR6,'DISTANCE',TR9,'TIME')");
  static const Layout line("(TR11,I5,TR6,F12.4,TR4,F12.4,TR4,F12.4)");
  write_record(heading, {}, report);
  for (int i = 1; i <= rec.obs.NOB; ++i) {
    write_record(line, {i, rec.COBS[i], rec.obs.XOBS[i], rec.obs.TOBS[i]},
                 report);
  }
}

}  // namespace btcfit
