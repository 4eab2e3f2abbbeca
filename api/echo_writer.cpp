#include "api/echo_writer.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "report/run_report.hpp"

namespace btcfit {

void EchoWriter::control_read(const ProblemRecord& rec) {
  if (pd_file_ && rec.IOUT >= 2) {
    std::FILE* f = std::fopen("pd.dat", "wb");
    if (f == nullptr) {
      throw IoError(7, "pd.dat", std::string("cannot open for writing: ") + std::strerror(errno));
    }
    OutputUnit pd(7, "pd.dat", f, true);
    write_pd_label(rec.IOUT, pd);
    pd.close();
  }
  if (rec.NOECHO != 0) return;
  write_echo_banner(rec.work.MODE, rec.ILSQ != 0, rec.obs.IRED, report_);
  write_echo_banner_bottom(report_);
}

void EchoWriter::concentrations_read(const ProblemRecord& rec) {
  if (rec.NOECHO != 0) return;
  std::vector<std::string> names;
  std::vector<EchoCoefficient> coefficients;
  for (int k = 1; k <= rec.obs.NCOEF; ++k) {
    const CoefName& n = rec.CNAME[k];
    names.emplace_back(n.head.data(), n.head.size());
    names.back().append(n.tail.data(), n.tail.size());
  }
  for (int k = 1; k <= rec.obs.NCOEF; ++k) coefficients.push_back({names[k - 1], rec.coef(k, 1)});
  write_echo_initial_values(rec.work.MODE, coefficients, rec.pulses.NPULSE, rec.work.CI,
                            rec.work.C0, report_);
}

void EchoWriter::pulses_begin(const ProblemRecord& rec) {
  if (rec.NOECHO == 0) write_echo_pulse_heading(rec.work.MODE, report_);
}

void EchoWriter::pulse_read(const ProblemRecord& rec, int j) {
  if (rec.NOECHO != 0) return;
  const PulseGroup& p = rec.pulses;
  write_echo_pulse_line(rec.work.MODE, j, p.TPULSE[j], p.TPULSE[j + 1], p.CPULSE[j], report_);
}

void EchoWriter::deck_read(const ProblemRecord& rec) {
  if (rec.IOUT != 1) return;
  const int nob = rec.obs.NOB > 0 ? rec.obs.NOB : 0;
  write_echo_observed_data(std::span(rec.COBS).subspan(1, nob),
                           std::span(rec.obs.XOBS).subspan(1, nob),
                           std::span(rec.obs.TOBS).subspan(1, nob), report_);
}

}  // namespace btcfit
