// The two numerics through the public API, and problems with more
// observations than a deck holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "btcfit/btcfit.hpp"
#include "support/program_run.hpp"

namespace {

using namespace btcfit;
using btcfit::testing_support::data_path;

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A breakthrough curve of `n` observations at 10, 20 and 30 cm in turn
// (every 90 consecutive ones include the largest distance), sampled every
// 0.005 days, of the equilibrium flux model with V, D and R varied. The
// observed values are the legacy model's at the "true" set, rounded to
// 1e-3 as a sensor would report them, so no fit reaches SSQ 0.
Problem long_curve(Model model, int n) {
  Problem p;
  p.model = model;
  if (model == Model::nonequilibrium_flux) {
    p.coefficients = coefficients_by_name(
        model, {{"V", {"V", 25.0, 1.0, 100.0, true}},
                {"D", {"D", 30.0, 1.0, 500.0, true}},
                {"R", {"R", 1.5, 1.0, 10.0, false}},
                {"T0", {"T0", 2.0, 0.0, 5.0, false}},
                {"BETA", {"BETA", 0.6, 0.05, 1.0, false}},
                {"OMEGA", {"OMEGA", 0.5, 0.01, 5.0, false}}});
  } else {
    p.coefficients = coefficients_by_name(model, {{"V", {"V", 25.0, 1.0, 100.0, true}},
                                                  {"D", {"D", 30.0, 1.0, 500.0, true}},
                                                  {"R", {"R", 1.5, 1.0, 10.0, true}},
                                                  {"T0", {"T0", 2.0, 0.0, 5.0, false}}});
  }
  for (int i = 0; i < n; ++i) p.observations.push_back({0.0, 10.0 * (1 + i % 3), 0.005 * (i + 1)});
  std::vector<double> truth;
  for (const Coefficient& c : p.coefficients) truth.push_back(c.initial);
  truth[0] = 24.0;
  truth[1] = 33.0;
  const std::vector<double> c = evaluate(p, truth, {Numerics::legacy, 2});
  for (int i = 0; i < n; ++i) p.observations[i].concentration = std::round(c[i] * 1000.0) / 1000.0;
  return p;
}

std::vector<double> initial_set(const Problem& p) {
  std::vector<double> b;
  for (const Coefficient& c : p.coefficients) b.push_back(c.initial);
  return b;
}

// The sum the search forms: observations in order, from 0.
double ssq_of(const Problem& p, const std::vector<double>& calculated) {
  double ssq = 0.0;
  for (std::size_t i = 0; i < p.observations.size(); ++i) {
    const double r = p.observations[i].concentration - calculated[i];
    ssq = ssq + r * r;
  }
  return ssq;
}

// A fit stopped (not refused) after outer iteration `last`, the best set so
// far returned: 1 + 500 * last sums of squares over every observation.
FitResult stopped_fit(const Problem& p, Numerics numerics, int threads, int last = 2) {
  std::atomic<bool> cancel{false};
  FitOptions options;
  options.threads = threads;
  options.numerics = numerics;
  options.cancel = &cancel;
  options.return_when_cancelled = true;
  options.progress = [&](const ProgressLine& line) {
    if (line.iteration == last) cancel = true;
  };
  return fit(p, options);
}

TEST(Numerics, DefaultsAndNames) {
  EXPECT_EQ(EvaluateOptions{}.numerics, Numerics::accurate);
  EXPECT_FALSE(FitOptions{}.numerics.has_value());
  EXPECT_STREQ(numerics_name(Numerics::legacy), "legacy");
  EXPECT_STREQ(numerics_name(Numerics::accurate), "accurate");
  EXPECT_EQ(Problem{}.input_concentration, 1.0);
  const Problem p = long_curve(Model::equilibrium_flux, 3);
  EXPECT_THROW(evaluate(p, initial_set(p), {static_cast<Numerics>(7), 1}), ProblemError);
}

// Legacy values of 3000 observations are those of the same observations
// 90 at a time, each group a problem of its own with the same largest
// distance: bit for bit, the grouping changes nothing. Both numerics give
// the same values on one thread and on two.
TEST(Numerics, ThousandsOfObservationsEvaluated) {
  for (Model model : {Model::equilibrium_flux, Model::nonequilibrium_flux,
                      Model::stream_tube_pulse_resident}) {
    Problem p = long_curve(model == Model::stream_tube_pulse_resident ? Model::equilibrium_flux
                                                                      : model,
                           3000);
    if (model == Model::stream_tube_pulse_resident) {
      p.model = model;
      p.coefficients = coefficients_by_name(model, {{"V", {"V", 25.0, 1.0, 100.0, true}},
                                                    {"ALPHA", {"ALPHA", 1.0, 0.1, 5.0, true}},
                                                    {"T0", {"T0", 2.0, 0.0, 5.0, false}},
                                                    {"SIGMA", {"SIGMA", 0.3, 0.1, 1.0, false}}});
    }
    const std::vector<double> b = initial_set(p);
    const std::vector<double> legacy = evaluate(p, b, {Numerics::legacy, 1});
    ASSERT_EQ(legacy.size(), 3000u);
    for (std::size_t first = 0; first < 3000; first += 90) {
      const std::size_t count = std::min<std::size_t>(90, 3000 - first);
      Problem group = p;
      group.observations.assign(p.observations.begin() + first,
                                p.observations.begin() + first + count);
      const std::vector<double> part = evaluate(group, b, {Numerics::legacy, 1});
      for (std::size_t i = 0; i < count; ++i) {
        ASSERT_TRUE(same_bits(part[i], legacy[first + i])) << int(model) << " " << first + i;
      }
    }
    EXPECT_EQ(evaluate(p, b, {Numerics::legacy, 2}), legacy);
    const std::vector<double> accurate = evaluate(p, b, {Numerics::accurate, 1});
    EXPECT_EQ(evaluate(p, b, {Numerics::accurate, 2}), accurate);
    // The numerics differ by the legacy error, whose largest values against
    // the 30-digit reference table (docs/accuracy.md) are 4.6e-5 for code 2,
    // 3.4e-2 for code 4 and 4.7e-4 for code 5 without decay or production;
    // tolerances with a margin, as the kernel's own comparison takes them
    // (tests/models/test_accurate_legacy.cpp).
    const double tolerance = model == Model::nonequilibrium_flux ? 6e-2 : 1e-3;
    double largest = 0.0;
    for (std::size_t i = 0; i < 3000; ++i) {
      ASSERT_TRUE(std::isfinite(accurate[i])) << i;
      largest = std::max(largest, std::fabs(accurate[i] - legacy[i]));
    }
    EXPECT_LT(largest, tolerance) << int(model);
    EXPECT_GT(largest, 0.0) << int(model);
  }
}

// The legacy fit of 3000 observations judges the sums of squares of the
// legacy values in observation order; the accurate fit those of the
// accurate values. Its fitted SSQ is, bit for bit, the sum formed from
// evaluate's values for the fitted set, and so are the calculated values.
TEST(Numerics, ThousandsOfObservationsFitted) {
  const Problem p = long_curve(Model::equilibrium_flux, 3000);
  for (Numerics numerics : {Numerics::legacy, Numerics::accurate}) {
    const FitResult r = stopped_fit(p, numerics, 2);
    EXPECT_EQ(r.numerics, numerics);
    EXPECT_EQ(r.termination, Termination::cancelled);
    ASSERT_EQ(r.progress.size(), 3u);
    const std::vector<double> initial = evaluate(p, initial_set(p), {numerics, 1});
    EXPECT_TRUE(same_bits(r.progress[0].ssq, ssq_of(p, initial)));
    const std::vector<double> fitted = evaluate(p, r.coefficients, {numerics, 1});
    EXPECT_TRUE(same_bits(r.ssq, ssq_of(p, fitted)));
    EXPECT_EQ(r.calculated, fitted);
    // The search improves on the initial set, whose V and D are off.
    EXPECT_LT(r.ssq, r.progress[0].ssq);
    // The same fit on one thread.
    const FitResult one = stopped_fit(p, numerics, 1);
    EXPECT_EQ(one.coefficients, r.coefficients);
  }
}

// The accurate annealing fit of the two-site golden deck, stopped after
// three outer iterations (the whole fit takes about a minute): the same
// search judging the accurate model's sums of squares. The legacy fit
// stopped alike prints the golden report's first progress lines. The
// initial SSQ of the two differ by what the legacy error at the initial
// set makes of it, and the searches then take different paths.
TEST(Numerics, AccurateFitOfAGoldenDeck) {
  const Problem deck = read_deck(data_path("golden/nonequilibrium-flux/deck"));
  const FitResult legacy = stopped_fit(deck, Numerics::legacy, 2, 3);
  const FitResult accurate = stopped_fit(deck, Numerics::accurate, 2, 3);
  EXPECT_EQ(legacy.numerics, Numerics::legacy);
  EXPECT_EQ(accurate.numerics, Numerics::accurate);
  ASSERT_EQ(legacy.progress.size(), 4u);
  ASSERT_EQ(accurate.progress.size(), 4u);
  const std::string report =
      testing_support::read_file(data_path("golden/nonequilibrium-flux/report.out"));
  for (const ProgressLine& line : legacy.progress) {
    EXPECT_NE(report.find(progress_text(line) + "\r\n"), std::string::npos) << line.iteration;
  }
  // Iteration 0 is the initial set: its SSQ is each numerics' own.
  const std::vector<double> b0 = initial_set(deck);
  const std::vector<double> c0 = evaluate(deck, b0, {Numerics::legacy, 1});
  const std::vector<double> a0 = evaluate(deck, b0, {Numerics::accurate, 1});
  EXPECT_TRUE(same_bits(legacy.progress[0].ssq, ssq_of(deck, c0)));
  EXPECT_TRUE(same_bits(accurate.progress[0].ssq, ssq_of(deck, a0)));
  // With d = legacy - accurate at each observation and r the legacy
  // residual, the accurate residual is r + d, so the two SSQ differ by at
  // most sum(2|r||d| + d^2) (plus rounding, 1e-12 relative); they do
  // differ, the two-site legacy quadrature being off by up to 3.7e-2.
  double bound = 0.0;
  for (std::size_t i = 0; i < c0.size(); ++i) {
    const double d = c0[i] - a0[i];
    bound += 2.0 * std::fabs(deck.observations[i].concentration - c0[i]) * std::fabs(d) + d * d;
  }
  bound += 1e-12 * legacy.progress[0].ssq;
  EXPECT_NE(accurate.progress[0].ssq, legacy.progress[0].ssq);
  EXPECT_LE(std::fabs(accurate.progress[0].ssq - legacy.progress[0].ssq), bound);
  // Different sums, different decisions: the paths part.
  EXPECT_NE(accurate.progress[3].coefficients, legacy.progress[3].coefficients);
  // The fitted SSQ is that of the accurate values of the fitted set.
  EXPECT_TRUE(same_bits(accurate.ssq,
                        ssq_of(deck, evaluate(deck, accurate.coefficients,
                                              {Numerics::accurate, 1}))));
}

// The lines of `report` after the first line that holds `heading`, up to
// the next empty line or the end.
std::vector<std::string> block_after(const std::string& report, const std::string& heading) {
  std::vector<std::string> lines;
  std::size_t at = report.find(heading);
  if (at == std::string::npos) return lines;
  at = report.find("\r\n", at) + 2;
  while (at < report.size()) {
    const std::size_t end = report.find("\r\n", at);
    if (end == std::string::npos || end == at) break;
    lines.push_back(report.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

// A report of a problem beyond the deck's 90 observations lists every one
// of them, in the echo and in the final table, in the layout of the 90 a
// deck holds: its first 90 lines of each are those of the report of the
// first 90 observations fitted alike.
TEST(Numerics, ReportOfMoreObservationsThanADeckHolds) {
  Problem p = long_curve(Model::equilibrium_flux, 200);
  p.report.listing = Listing::observed_data;
  const FitResult r = stopped_fit(p, Numerics::legacy, 1, 1);
  ASSERT_EQ(r.calculated.size(), 200u);
  std::ostringstream text;
  write_report(p, r, text);
  Problem first = p;
  first.observations.resize(90);
  std::ostringstream text90;
  write_report(first, stopped_fit(first, Numerics::legacy, 1, 1), text90);
  const std::vector<std::string> echo = block_after(text.str(), "OBS. NO.");
  const std::vector<std::string> echo90 = block_after(text90.str(), "OBS. NO.");
  ASSERT_EQ(echo.size(), 200u);
  ASSERT_EQ(echo90.size(), 90u);
  EXPECT_EQ(std::vector<std::string>(echo.begin(), echo.begin() + 90), echo90);
  EXPECT_NE(echo[199].find("200"), std::string::npos) << echo[199];
  const std::vector<std::string> table = block_after(text.str(), "CALCULATED C");
  ASSERT_EQ(table.size(), 200u);
  EXPECT_EQ(block_after(text90.str(), "CALCULATED C").size(), 90u);
}

}  // namespace
