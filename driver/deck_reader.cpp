#include "driver/deck_reader.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/input_echo.hpp"

namespace btcfit {
namespace {

// Largest admissible step of the search (the single-precision 0.2).
constexpr double kStepHalfWidth = double(0.2f);

std::string format_bound(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

std::string coefficient_label(const ProblemRecord& rec, int k) {
  std::string name(rec.CNAME[k].head.data(), rec.CNAME[k].head.size());
  name.append(rec.CNAME[k].tail.data(), rec.CNAME[k].tail.size());
  while (!name.empty() && name.back() == ' ') name.pop_back();
  while (!name.empty() && name.front() == ' ') name.erase(name.begin());
  std::string label = "coefficient " + std::to_string(k);
  if (!name.empty()) label += " (" + name + ")";
  return label;
}

void write_pd_file(ProblemRecord& rec) {
  static const Layout label_layout("(A15)");
  const char* label = rec.IOUT == 2 ? " DISTANCE      " : " TIME          ";
  std::memcpy(rec.PDLABEL.data(), label, rec.PDLABEL.size());
  std::FILE* f = std::fopen("pd.dat", "wb");
  if (f == nullptr) {
    throw IoError(7, "pd.dat",
                  std::string("cannot open for writing: ") + std::strerror(errno));
  }
  OutputUnit pd(7, "pd.dat", f, true);
  write_record(label_layout,
               {std::string_view(rec.PDLABEL.data(), rec.PDLABEL.size())}, pd);
  pd.close();
}

}  // namespace

void read_deck(ProblemRecord& rec, InputUnit& deck, OutputUnit& report,
               bool write_pd_file_too) {
  static const Layout integers7("(7I10)");
  static const Layout integers6("(6I10)");
  static const Layout reals7("(7F10.0)");
  static const Layout names("(7(TR4,A4,A2))");
  static const Layout concentrations("(2F10.0,I10)");

  auto& obs = rec.obs;
  auto& work = rec.work;
  auto& pulses = rec.pulses;

  // Records 1 and 2: the leading record and the control record.
  read_record(integers7, deck, {rec.IFIRST});
  read_record(integers7, deck,
              {work.MODE, rec.IDATA, obs.IRED, rec.ILSQ, obs.NOB, rec.NOECHO,
               rec.IOUT});
  if (work.MODE < 1 || work.MODE > 8) {
    throw DeckRejected("model code " + std::to_string(work.MODE) +
                       " in columns 1-10 of the control record is outside 1..8");
  }
  if (obs.NOB > MAXOBS) {
    throw DeckRejected("the deck gives " + std::to_string(obs.NOB) +
                       " observations; at most " + std::to_string(MAXOBS) +
                       " are allowed");
  }

  if (write_pd_file_too && rec.IOUT >= 2) write_pd_file(rec);
  if (rec.NOECHO == 0) echo_banner(rec, report);
  obs.NCOEF = work.MODE >= 5 ? 7 : 6;
  const int ncoef = obs.NCOEF;
  if (rec.NOECHO == 0) echo_banner_bottom(report);

  // Records 3 to 7: names, initial values, flags (two records with seven
  // coefficients), lower and upper bounds.
  {
    std::vector<FieldTarget> t;
    for (int k = 1; k <= ncoef; ++k) {
      t.emplace_back(rec.CNAME[k].head.data(), rec.CNAME[k].head.size());
      t.emplace_back(rec.CNAME[k].tail.data(), rec.CNAME[k].tail.size());
    }
    read_record(names, deck, t);
  }
  auto read_reals = [&](auto&& element) {
    std::vector<FieldTarget> t;
    for (int k = 1; k <= ncoef; ++k) t.emplace_back(element(k));
    read_record(reals7, deck, t);
  };
  read_reals([&](int k) -> double& { return rec.coef(k, 1); });
  {
    std::vector<FieldTarget> t;
    for (int k = 1; k <= ncoef; ++k) t.emplace_back(obs.IVAR[k]);
    read_record(integers6, deck, t);
  }
  read_reals([&](int k) -> double& { return rec.BMIN[k]; });
  read_reals([&](int k) -> double& { return rec.BMAX[k]; });

  // The fraction beta of the nonequilibrium model cannot exceed 1.
  if ((work.MODE == 3 || work.MODE == 4) &&
      (rec.BMAX[5] == 0.0 || rec.BMAX[5] > 1.0)) {
    rec.BMAX[5] = 1.0;
  }

  // Record 8: initial and input concentrations, number of pulses.
  read_record(concentrations, deck, {work.CI, work.C0, pulses.NPULSE});
  if (pulses.NPULSE <= 0) pulses.NPULSE = 1;
  if (pulses.NPULSE > MAXPULSE) {
    throw DeckRejected("the deck gives " + std::to_string(pulses.NPULSE) +
                       " pulses; at most " + std::to_string(MAXPULSE) +
                       " are allowed");
  }
  rec.C0DECK = work.C0;

  if (rec.NOECHO == 0) echo_initial_values(rec, report);

  // Records 9: one per pulse when there are several.
  if (pulses.NPULSE != 1) {
    if (rec.NOECHO == 0) echo_pulse_heading(rec, report);
    obs.IVAR[4] = 0;
    for (int j = 1; j <= pulses.NPULSE; ++j) {
      double& time = work.MODE >= 7 ? pulses.TPULSE[j] : pulses.TPULSE[j + 1];
      read_record(reals7, deck, {time, pulses.CPULSE[j]});
      if (rec.NOECHO == 0) echo_pulse_line(rec, j, report);
    }
  }

  // Records 10: the observations.
  if (rec.IDATA == 1) {
    work.XMAX = 0.0;
    for (int i = 1; i <= obs.NOB; ++i) {
      read_record(reals7, deck, {rec.COBS[i], obs.XOBS[i], obs.TOBS[i]});
      if (obs.XOBS[i] > work.XMAX) work.XMAX = obs.XOBS[i];
    }
  }

  // Reduced time is scaled by the velocity, which must then stay fixed.
  if (obs.IRED == 2) obs.IVAR[1] = 0;

  if (rec.IOUT == 1) echo_observed_data(rec, report);
}

void check_search_bounds(const ProblemRecord& rec) {
  for (int k = 1; k <= rec.obs.NCOEF; ++k) {
    if (rec.obs.IVAR[k] == 0) continue;
    const double lo = rec.BMIN[k];
    const double hi = rec.BMAX[k];
    const double value = rec.coef(k, 1);
    std::string problem;
    if (lo > hi) {
      problem = "its lower bound exceeds its upper bound";
    } else if (lo == hi) {
      problem =
          "its bounds leave no room to vary it (a fixed coefficient takes the "
          "flag 0)";
    } else if (value < lo - kStepHalfWidth || value > hi + kStepHalfWidth) {
      problem = "its initial value " + format_bound(value) +
                " lies more than 0.2 outside them";
    }
    if (!problem.empty()) {
      throw DeckRejected("varied " + coefficient_label(rec, k) +
                         " cannot be placed within its bounds " +
                         format_bound(lo) + " .. " + format_bound(hi) + ": " +
                         problem);
    }
  }
}

}  // namespace btcfit
