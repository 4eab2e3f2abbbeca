// The console program's run for the page: one deck in, the report, pd.dat,
// the exit status and the diagnostic out, exactly as the program gives them;
// and the library's deck writer and model evaluation for the page's form and
// plot.
//
// The page's script (engine_api.js) puts the deck at deck.in in the module's
// in-memory file system and the report at report.out, a character device
// whose bytes it receives as they are written; pd.dat and diagnostic.txt are
// plain files that it reads afterwards.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "btcfit/btcfit.hpp"
#include "apps/btcfit/run.hpp"

namespace {

// The two replies of the console dialogue.
constexpr char kReplies[] = "deck.in\nreport.out\n";

void write_message(const char* path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace

extern "C" {

// Runs one fit on one thread (the page's module has no threads). Returns
// the program's exit status.
int btcfit_run_deck() {
  std::FILE* console_in = ::fmemopen(const_cast<char*>(kReplies), std::strlen(kReplies), "r");
  std::FILE* console_out = std::fopen("/dev/null", "w");
  std::FILE* diagnostics = std::fopen("diagnostic.txt", "w");
  int status = btcfit::kExitIoFailure;
  if (console_in != nullptr && console_out != nullptr && diagnostics != nullptr) {
    status = btcfit::run_program(console_in, console_out, diagnostics, 1);
  }
  for (std::FILE* f : {console_in, console_out, diagnostics}) {
    if (f != nullptr) std::fclose(f);
  }
  return status;
}

// Writes the deck of the problem that the page's form describes to
// form-deck.in. names: one line per coefficient; bounds: initial, lower and
// upper value of each coefficient in turn; pulses: time and value of each
// pulse (none: one pulse); observations: concentration, distance and time of
// each. Returns 0, or 1 with the reason in message.txt.
int btcfit_write_deck(int model, int data_form, int listing, int echo, const char* names,
                      const double* values, const int* varied, double initial_concentration,
                      double input_concentration, int pulse_count, const double* pulses,
                      int observation_count, const double* observations) {
  try {
    btcfit::Problem p;
    p.model = static_cast<btcfit::Model>(model);
    p.data_form = static_cast<btcfit::DataForm>(data_form);
    p.report.listing = static_cast<btcfit::Listing>(listing);
    p.report.echo = echo != 0;
    p.report.least_squares_line = true;
    const int n = btcfit::coefficient_count(p.model);
    std::string all_names(names);
    for (int k = 0; k < n; ++k) {
      btcfit::Coefficient c;
      const std::size_t end = all_names.find('\n');
      c.name = all_names.substr(0, end);
      all_names.erase(0, end == std::string::npos ? all_names.size() : end + 1);
      c.initial = values[3 * k];
      c.lower = values[3 * k + 1];
      c.upper = values[3 * k + 2];
      c.varied = varied[k] != 0;
      p.coefficients.push_back(c);
    }
    p.initial_concentration = initial_concentration;
    p.input_concentration = input_concentration;
    for (int j = 0; j < pulse_count; ++j) p.pulses.push_back({pulses[2 * j], pulses[2 * j + 1]});
    for (int i = 0; i < observation_count; ++i) {
      p.observations.push_back(
          {observations[3 * i], observations[3 * i + 1], observations[3 * i + 2]});
    }
    std::ofstream out("form-deck.in", std::ios::binary | std::ios::trunc);
    btcfit::write_deck(p, out);
    return 0;
  } catch (const std::exception& e) {
    write_message("message.txt", e.what());
    return 1;
  }
}

// The model's concentrations at n points (distances[i], times[i]) for the
// coefficients of the problem in deck.in, into result. Returns 0, or 1 with
// the reason in message.txt.
int btcfit_curve(const double* coefficients, int n, const double* distances,
                 const double* times, double* result) {
  try {
    const btcfit::Problem p = btcfit::read_deck("deck.in");
    const std::size_t count = static_cast<std::size_t>(btcfit::coefficient_count(p.model));
    const std::vector<double> c = btcfit::evaluate(
        p, std::span<const double>(coefficients, count),
        std::span<const double>(distances, static_cast<std::size_t>(n)),
        std::span<const double>(times, static_cast<std::size_t>(n)));
    std::copy(c.begin(), c.end(), result);
    return 0;
  } catch (const std::exception& e) {
    write_message("message.txt", e.what());
    return 1;
  }
}

// What the page shows beside the report, of the problem in deck.in, into
// deck-summary.txt: the model code, the coefficients (name, a tab and 1 when varied, one a line, after
// a line with their count) and the observations (a line with their count,
// then concentration, distance and time a line, in the shortest form that
// reads back to the same double). Returns 0, or 1 with the reason in
// message.txt.
int btcfit_describe_deck() {
  try {
    const btcfit::Problem p = btcfit::read_deck("deck.in");
    std::ofstream out("deck-summary.txt", std::ios::binary | std::ios::trunc);
    out << static_cast<int>(p.model) << '\n' << p.coefficients.size() << '\n';
    for (const btcfit::Coefficient& c : p.coefficients) {
      out << c.name << '\t' << (c.varied ? 1 : 0) << '\n';
    }
    out << p.observations.size() << '\n';
    char line[128];
    for (const btcfit::Observation& o : p.observations) {
      std::snprintf(line, sizeof line, "%.17g %.17g %.17g\n", o.concentration, o.distance, o.time);
      out << line;
    }
    return 0;
  } catch (const std::exception& e) {
    write_message("message.txt", e.what());
    return 1;
  }
}

// The model's own names of its coefficients, one a line, into names.txt.
// Returns 0, or 1 with the reason in message.txt.
int btcfit_coefficient_names(int model) {
  try {
    std::ofstream out("names.txt", std::ios::binary | std::ios::trunc);
    for (const std::string& name : btcfit::coefficient_names(static_cast<btcfit::Model>(model))) {
      out << name << '\n';
    }
    return 0;
  } catch (const std::exception& e) {
    write_message("message.txt", e.what());
    return 1;
  }
}

}  // extern "C"
