// The public API as a client sees it: the report written from a Problem and
// its FitResult, decks written and read back, the typed errors, evaluation
// at arbitrary points, and cancellation.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "btcfit/btcfit.hpp"
#include "support/program_run.hpp"

namespace {

using namespace btcfit;
using btcfit::testing_support::data_path;
using btcfit::testing_support::read_file;

std::string golden(const std::string& name, const std::string& file) {
  return data_path("golden/" + name + "/" + file);
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The example deck's problem, built in code.
Problem example_problem() {
  Problem p;
  p.model = Model::equilibrium_flux;
  p.coefficients = {{"V", 25.0, 1.0, 100.0, true},  {"D", 30.0, 1.0, 500.0, true},
                    {"R", 1.5, 1.0, 10.0, true},    {"T0", 2.0, 0.0, 5.0, false},
                    {"MU", 0.0, 0.0, 0.0, false},   {"GAMMA", 0.0, 0.0, 0.0, false}};
  p.observations = {{0.05, 30.0, 1.0}, {0.62, 30.0, 2.0}, {0.91, 30.0, 3.0}};
  p.input_concentration = 1.0;
  p.report.listing = Listing::observed_data;
  return p;
}

// A deck folder of the test data ("golden/example") and whether its fit is
// quick enough for the sanitized build.
struct DeckFolder {
  const char* folder;
  bool quick;
};

class LibraryDeck : public ::testing::TestWithParam<DeckFolder> {};

std::string folder_name(const ::testing::TestParamInfo<DeckFolder>& info) {
  return testing_support::test_name_of(info.param.folder);
}

// read_deck, fit and write_report give the console program's report.
TEST_P(LibraryDeck, ReportAsTheConsoleProgramWritesIt) {
  const std::string folder = data_path(GetParam().folder);
#ifdef BTCFIT_SANITIZED
  if (!GetParam().quick) GTEST_SKIP() << "long fit: left to the unsanitized build";
#endif
  const Problem problem = read_deck(folder + "/deck");
  const FitResult result = fit(problem);
  std::ostringstream report;
  write_report(problem, result, report);
  EXPECT_EQ(report.str(), read_file(folder + "/report.out"));
}

// A written deck reads back to the same problem, bit for bit.
TEST_P(LibraryDeck, WrittenDeckReadsBackTheSameProblem) {
  const Problem problem = check_problem(read_deck(data_path(GetParam().folder) + "/deck"));
  std::stringstream deck;
  write_deck(problem, deck);
  const Problem back = read_deck(deck);
  EXPECT_EQ(back.model, problem.model);
  EXPECT_EQ(back.data_form, problem.data_form);
  EXPECT_EQ(back.report.echo, problem.report.echo);
  EXPECT_EQ(back.report.least_squares_line, problem.report.least_squares_line);
  EXPECT_EQ(back.report.listing, problem.report.listing);
  EXPECT_TRUE(same_bits(back.initial_concentration, problem.initial_concentration));
  EXPECT_TRUE(same_bits(back.input_concentration, problem.input_concentration));
  ASSERT_EQ(back.coefficients.size(), problem.coefficients.size());
  for (std::size_t k = 0; k < problem.coefficients.size(); ++k) {
    const Coefficient& a = back.coefficients[k];
    const Coefficient& b = problem.coefficients[k];
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.varied, b.varied);
    EXPECT_TRUE(same_bits(a.initial, b.initial) && same_bits(a.lower, b.lower) &&
                same_bits(a.upper, b.upper))
        << "coefficient " << k + 1;
  }
  ASSERT_EQ(back.pulses.size(), problem.pulses.size());
  for (std::size_t j = 0; j < problem.pulses.size(); ++j) {
    EXPECT_TRUE(same_bits(back.pulses[j].time, problem.pulses[j].time));
    EXPECT_TRUE(same_bits(back.pulses[j].value, problem.pulses[j].value));
  }
  ASSERT_EQ(back.observations.size(), problem.observations.size());
  for (std::size_t i = 0; i < problem.observations.size(); ++i) {
    const Observation& a = back.observations[i];
    const Observation& b = problem.observations[i];
    EXPECT_TRUE(same_bits(a.concentration, b.concentration) && same_bits(a.distance, b.distance) &&
                same_bits(a.time, b.time))
        << "observation " << i + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Decks, LibraryDeck,
    ::testing::Values(DeckFolder{"golden/example", true},
                      DeckFolder{"golden/equilibrium-multipulse", true},
                      DeckFolder{"golden/nonequilibrium-flux", false},
                      DeckFolder{"golden/stochastic-pulse", false},
                      DeckFolder{"golden/stochastic-load", false},
                      // Echo variants whose searches end at once.
                      DeckFolder{"decks/nonequilibrium-lsq-reduced", true},
                      DeckFolder{"decks/load-pulses", true},
                      DeckFolder{"decks/multipulse-noecho", true},
                      DeckFolder{"decks/no-observation-records", true},
                      DeckFolder{"decks/pulse-count-negative", true},
                      DeckFolder{"decks/wide-values", true},
                      DeckFolder{"decks/nan-decay", true},
                      DeckFolder{"decks/equilibrium-reduced-time", true}),
    folder_name);

TEST(LibraryDeckWriting, ValuesTooLongForTheFieldAreRefused) {
  Problem p = example_problem();
  p.observations[0].concentration = 0.1234567891234;
  std::ostringstream deck;
  EXPECT_THROW(write_deck(p, deck), ProblemError);
  p.observations[0].concentration = 1.25e-7;  // fits as "1.25e-7"
  EXPECT_NO_THROW(write_deck(p, deck));
}

TEST(LibraryErrors, DeckErrorNamesRecordAndColumns) {
  std::istringstream deck(
      "         1\n"
      "         2         1         0         1       1.0         0         0\n");
  try {
    read_deck(deck);
    FAIL() << "no DeckError";
  } catch (const DeckError& e) {
    EXPECT_EQ(e.record(), 2);
    EXPECT_EQ(e.first_column(), 41);
    EXPECT_EQ(e.last_column(), 50);
    EXPECT_NE(std::string(e.what()).find("unreadable integer in columns 41-50 of record 2"),
              std::string::npos)
        << e.what();
  }
  EXPECT_THROW(read_deck(std::filesystem::path("/nonexistent/deck.in")), DeckError);
}

struct RefusedProblem {
  const char* name;
  std::function<void(Problem&)> change;
  const char* message;
};

TEST(LibraryErrors, RefusedProblemsThrowProblemError) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<RefusedProblem> cases = {
      {"ModelNine", [](Problem& p) { p.model = static_cast<Model>(9); }, "model code 9"},
      {"FiveCoefficients", [](Problem& p) { p.coefficients.pop_back(); }, "takes 6"},
      {"NameTooLong", [](Problem& p) { p.coefficients[0].name = "VELOCITY"; }, "at most 6"},
      {"NotANumber", [nan](Problem& p) { p.observations[1].time = nan; }, "observation 2"},
      {"OnePulse", [](Problem& p) { p.pulses = {{1.0, 1.0}}; }, "1 pulses"},
      {"BoundsTooClose",
       [](Problem& p) {
         p.coefficients[2].lower = 1.5;
         p.coefficients[2].upper = 1.5000001;
       },
       "closer than 0.001"},
  };
  for (const RefusedProblem& c : cases) {
    Problem p = example_problem();
    c.change(p);
    try {
      FitOptions one_thread;
      one_thread.threads = 1;
      fit(p, one_thread);
      ADD_FAILURE() << c.name << ": no ProblemError";
    } catch (const ProblemError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
  const Problem p = example_problem();
  const std::vector<double> five(5, 1.0);
  EXPECT_THROW(evaluate(p, five), ProblemError);
  const std::vector<double> six = {25, 30, 1.5, 2, 0, 0};
  const std::vector<double> x(3, 30.0), t(2, 1.0);
  EXPECT_THROW(evaluate(p, six, x, t), ProblemError);
}

// Points in groups of 90, on one or two threads, give the values of the
// same points as observations.
TEST(LibraryEvaluate, PointsGiveTheValuesOfObservations) {
  for (Model model : {Model::equilibrium_flux, Model::nonequilibrium_resident}) {
    Problem p = example_problem();
    p.model = model;
    p.coefficients[4] = {"BETA", 0.5, 0.0, 1.0, false};
    p.coefficients[5] = {"OMEGA", 0.4, 0.0, 1.0, false};
    std::vector<double> x, t;
    p.observations.clear();
    for (int i = 0; i < 200; ++i) {
      x.push_back(10.0 + (i % 3) * 10.0);
      t.push_back(0.05 * (i + 1));
      if (i < 90) p.observations.push_back({0.0, x.back(), t.back()});
    }
    p.observations.back().distance = 30.0;  // the same largest distance
    const std::vector<double> b = {25, 30, 1.5, 2, 0.5, 0.4};
    const std::vector<double> at_observations = evaluate(p, b, {Numerics::legacy, 1});
    const std::vector<double> one = evaluate(p, b, x, t, {Numerics::legacy, 1});
    const std::vector<double> two = evaluate(p, b, x, t, {Numerics::legacy, 2});
    ASSERT_EQ(one.size(), 200u);
    for (std::size_t i = 0; i < 200; ++i) {
      EXPECT_TRUE(same_bits(one[i], two[i])) << i;
      if (i < 89) {
        EXPECT_TRUE(same_bits(one[i], at_observations[i])) << i;
      }
    }
  }
}

// Cancelled from the progress callback at iteration 2: the fit throws
// Cancelled and hands on no later line, on one thread or several.
TEST(LibraryCancel, SetFlagEndsTheFit) {
  const Problem problem = read_deck(golden("nonequilibrium-flux", "deck"));
  for (int threads : {1, 2}) {
    std::atomic<bool> cancel{false};
    int last = -1;
    FitOptions options;
    options.threads = threads;
    options.cancel = &cancel;
    options.progress = [&](const ProgressLine& line) {
      last = line.iteration;
      if (line.iteration == 2) cancel = true;
    };
    EXPECT_THROW(fit(problem, options), Cancelled) << threads << " threads";
    EXPECT_EQ(last, 2) << threads << " threads";
  }
}

// With return_when_cancelled the fit returns the best set of the lines
// handed on so far: its SSQ is that of the last line, and the result says
// it was cancelled.
TEST(LibraryCancel, BestSetSoFarOnRequest) {
  const Problem problem = read_deck(golden("nonequilibrium-flux", "deck"));
  std::atomic<bool> cancel{false};
  FitOptions options;
  options.threads = 1;
  options.cancel = &cancel;
  options.return_when_cancelled = true;
  options.progress = [&](const ProgressLine& line) {
    if (line.iteration == 3) cancel = true;
  };
  const FitResult r = fit(problem, options);
  EXPECT_EQ(r.termination, Termination::cancelled);
  ASSERT_EQ(r.progress.size(), 4u);
  EXPECT_EQ(r.iterations, 3);
  EXPECT_EQ(r.coefficients, r.progress.back().coefficients);
  EXPECT_EQ(r.ssq, r.progress.back().ssq);
}

// What the result says of the search, on the reference decks: why it ended
// (read off the report: the last progress line's iteration against the
// 100-iteration stall and the 9999 limit), the coefficients varied after
// the deck's corrections (with several pulses T0 is not varied even where
// the deck's flag says so), and which of them ended on a bound.
TEST(LibraryFitResult, SaysWhyAndWhatTheSearchVaried) {
  struct Case {
    const char* folder;
    std::vector<bool> varied;
  };
  const std::vector<Case> cases = {
      {"golden/example", {true, true, true, false, false, false}},
      // Four pulses: T0, flagged in the deck, is not varied.
      {"decks/equilibrium-pulses-reduced", {true, true, true, false, false, false}},
      // Reduced time: V, flagged in the deck, is not varied.
      {"decks/equilibrium-reduced-time", {false, true, true, false, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    const Problem problem = read_deck(data_path(std::string(c.folder) + "/deck"));
    const FitResult r = fit(problem);
    EXPECT_EQ(r.method, FitMethod::annealing);
    EXPECT_EQ(r.numerics, Numerics::legacy);
    EXPECT_EQ(r.varied, c.varied);
    // A search that ends before its limit with an SSQ above the goal has
    // stalled.
    if (r.ssq > 1e-4 && r.iterations < 9999) {
      EXPECT_EQ(r.termination, Termination::stalled);
    }
    EXPECT_EQ(r.evaluations, 2 + 500LL * (r.iterations - 1));
    ASSERT_EQ(r.at_bound.size(), r.coefficients.size());
    for (std::size_t k = 0; k < r.coefficients.size(); ++k) {
      const Coefficient& b = problem.coefficients[k];
      const bool on = r.coefficients[k] == b.lower || r.coefficients[k] == b.upper;
      EXPECT_EQ(r.at_bound[k], r.varied[k] && on) << k;
    }
  }
}

// Options that cannot be used are refused before any work, with the reason.
TEST(LibraryFitOptions, InvalidOptionsSayWhy) {
  struct Case {
    const char* name;
    std::function<void(FitOptions&)> change;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"negative threads", [](FitOptions& o) { o.threads = -1; }, "threads is -1"},
      {"negative starts", [](FitOptions& o) { o.starts = -2; }, "starts is -2"},
      {"no agreeing descent", [](FitOptions& o) { o.agreeing_descents = 0; },
       "agreeing_descents is 0"},
      {"negative neighbourhood", [](FitOptions& o) { o.neighbourhood_batches = -1; },
       "neighbourhood_batches is -1"},
      {"unknown method", [](FitOptions& o) { o.method = static_cast<FitMethod>(7); },
       "method 7"},
  };
  EXPECT_TRUE(FitOptions{}.valid());
  for (const Case& c : cases) {
    FitOptions o;
    c.change(o);
    std::string why;
    EXPECT_FALSE(o.valid(&why)) << c.name;
    EXPECT_NE(why.find(c.reason), std::string::npos) << c.name << ": " << why;
    try {
      fit(example_problem(), o);
      ADD_FAILURE() << c.name << ": no ProblemError";
    } catch (const ProblemError& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
    }
  }
}

// Coefficients given by their model names: placed in deck order under their
// names, the ones left out fixed at their defaults, unknown names and
// missing coefficients without default refused by name.
TEST(LibraryNames, CoefficientsByName) {
  const std::vector<Coefficient> c = coefficients_by_name(
      Model::equilibrium_flux, {{"D", {"x", 30.0, 1.0, 500.0, true}},
                                {"V", {"", 25.0, 1.0, 100.0, true}}});
  ASSERT_EQ(c.size(), 6u);
  const std::vector<std::string> names = {"V", "D", "R", "T0", "MU", "GAMMA"};
  const std::vector<double> initial = {25.0, 30.0, 1.0, 1e30, 0.0, 0.0};
  for (std::size_t k = 0; k < c.size(); ++k) {
    EXPECT_EQ(c[k].name, names[k]);
    EXPECT_EQ(c[k].initial, initial[k]);
    EXPECT_EQ(c[k].varied, k < 2) << k;
  }
  EXPECT_EQ(coefficient_names(Model::stream_tube_load_flux),
            (std::vector<std::string>{"V", "ALPHA", "R", "M0", "MU", "GAMMA", "SIGMA"}));

  struct Refused {
    Model model;
    std::map<std::string, Coefficient> given;
    const char* message;
  };
  const std::vector<Refused> refused = {
      {Model::equilibrium_flux, {{"V", {}}, {"D", {}}, {"BETA", {}}},
       "model 2 has no coefficient named \"BETA\"; its names are V, D, R, T0, MU, GAMMA"},
      {Model::nonequilibrium_flux, {{"V", {}}, {"D", {}}, {"BETA", {}}},
       "model 4 needs coefficient OMEGA (it has no default)"},
      {Model::equilibrium_resident, {{"V", {}}}, "model 1 needs coefficient D"},
  };
  for (const Refused& r : refused) {
    try {
      coefficients_by_name(r.model, r.given);
      ADD_FAILURE() << r.message;
    } catch (const ProblemError& e) {
      EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
