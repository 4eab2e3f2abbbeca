// Uses the installed library as another project would. Arguments: a deck
// and its reference report. Prints one line per check and exits 1 when
// any fails.
#include <btcfit/analysis.hpp>
#include <btcfit/btcfit.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
  if (!ok) ++failures;
}

std::string file_text(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: consumer DECK REPORT\n");
    return 2;
  }
  // A deck read, fitted and reported.
  const btcfit::Problem problem = btcfit::read_deck(argv[1]);
  const btcfit::FitResult result = btcfit::fit(problem);
  std::ostringstream report;
  btcfit::write_report(problem, result, report);
  check(report.str() == file_text(argv[2]), "report of the fitted deck equals the reference");

  // A problem built in code, without any deck.
  btcfit::Problem column;
  column.model = btcfit::Model::equilibrium_resident;
  column.coefficients = {{"V", 20, 1, 50, true},   {"D", 10, 1, 100, true},
                         {"R", 1, 1, 5, false},     {"T0", 3, 0, 5, false},
                         {"MU", 0, 0, 0, false},    {"GAMMA", 0, 0, 0, false}};
  column.input_concentration = 1.0;
  for (int i = 1; i <= 10; ++i) column.observations.push_back({0.0, 30.0, 0.5 * i});
  const std::vector<double> c = btcfit::evaluate(column, {20, 10, 1, 3, 0, 0});
  bool rises = c.size() == 10;
  for (std::size_t i = 1; i < c.size() && i < 4; ++i) rises = rises && c[i] > c[i - 1];
  check(rises && c[0] >= 0.0 && c[9] <= 1.0, "breakthrough curve evaluated without a deck");

  // A deck error with its record number.
  std::istringstream bad("         1\n         2       1.0\n");
  int record = -1;
  try {
    btcfit::read_deck(bad);
  } catch (const btcfit::DeckError& e) {
    record = e.record();
  }
  check(record == 2, "DeckError names record 2");

  // A fit cancelled from another thread once it has started.
  btcfit::Problem slow = problem;
  slow.model = btcfit::Model::nonequilibrium_flux;
  slow.coefficients[4] = {"BETA", 0.5, 0.05, 1.0, true};
  slow.coefficients[5] = {"OMEGA", 0.5, 0.01, 5.0, true};
  std::atomic<bool> started{false};
  std::atomic<bool> cancel{false};
  btcfit::FitOptions options;
  options.cancel = &cancel;
  // The first progress line waits for the other thread's flag, so that the
  // fit cannot end before it is cancelled.
  options.progress = [&](const btcfit::ProgressLine&) {
    started = true;
    while (!cancel) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  std::chrono::steady_clock::time_point set_at;
  std::thread stopper([&] {
    while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    set_at = std::chrono::steady_clock::now();
    cancel = true;
  });
  bool cancelled = false;
  try {
    btcfit::fit(slow, options);
  } catch (const btcfit::Cancelled&) {
    cancelled = true;
  }
  const auto ended = std::chrono::steady_clock::now();
  stopper.join();
  std::printf("the cancelled fit ended %.4f s after its flag was set\n",
              std::chrono::duration<double>(ended - set_at).count());
  check(cancelled, "a cancelled fit throws Cancelled");

  // The analysis library: the column above, its curve with a little
  // alternating noise as observations, fitted, refined, and a profile
  // interval of D.
  for (std::size_t i = 0; i < column.observations.size(); ++i) {
    column.observations[i].concentration = c[i] + (i % 2 == 0 ? 0.01 : -0.01);
  }
  const btcfit::FitResult column_fit = btcfit::analysis::fit(column);
  const btcfit::analysis::Refinement refined = btcfit::analysis::refine(column, column_fit);
  check(refined.result.ssq <= column_fit.ssq, "the refinement does not raise SSQ");
  const btcfit::analysis::ProfileInterval d = btcfit::analysis::profile(column, column_fit, "D");
  std::printf("profile interval of D: %.6g .. %.6g about %.6g (linearized %.6g .. %.6g)\n",
              d.lower, d.upper, d.value, d.linear_lower, d.linear_upper);
  check(d.lower < d.value && d.value < d.upper, "the profile interval of D holds its value");
  return failures == 0 ? 0 : 1;
}
