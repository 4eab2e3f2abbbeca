#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <cstdio>
#include <string>
#include <vector>

#include "estimate/annealing.hpp"
#include "estimate/final_results.hpp"
#include "models/model.hpp"
#include "report/run_report.hpp"

namespace {

using namespace btcfit;

// The example problem: flux concentrations, equilibrium model, three
// observations at 30 cm, V, D and R varied.
std::unique_ptr<ProblemRecord> example_problem() {
  auto rec = std::make_unique<ProblemRecord>();
  rec->work.MODE = 2;
  rec->obs.NCOEF = 6;
  rec->obs.NOB = 3;
  const double initial[] = {25.0, 30.0, 1.5, 2.0, 0.0, 0.0};
  const double lower[] = {1.0, 1.0, 1.0, 0.0, 0.0, 0.0};
  const double upper[] = {100.0, 500.0, 10.0, 5.0, 0.0, 0.0};
  for (int k = 1; k <= 6; ++k) {
    rec->coef(k, 1) = initial[k - 1];
    rec->BMIN[k] = lower[k - 1];
    rec->BMAX[k] = upper[k - 1];
    rec->obs.IVAR[k] = k <= 3 ? 1 : 0;
  }
  rec->work.C0 = 1.0;
  rec->C0DECK = 1.0;
  rec->pulses.NPULSE = 1;
  const double cobs[] = {0.05, 0.62, 0.91};
  for (int i = 1; i <= 3; ++i) {
    rec->COBS[i] = cobs[i - 1];
    rec->obs.XOBS[i] = 30.0;
    rec->obs.TOBS[i] = double(i);
  }
  rec->work.XMAX = 30.0;
  return rec;
}

std::span<const double> deck_order(const ProblemRecord& rec, const CoefColumn& set) {
  return std::span(set).subspan(rec.obs.NCOEF, rec.obs.NCOEF);
}

// The progress table as the console program writes it.
SearchOutcome run_search(ProblemRecord& rec, OutputUnit& out) {
  write_progress_heading(out);
  SearchControl control;
  control.progress = [&](std::int32_t n, double ssq, const CoefColumn& set) {
    write_progress_line(n, ssq, deck_order(rec, set), out);
  };
  return run_search(rec, control);
}

// The closing lines of the report: the last progress line repeated and the
// table of observed against calculated concentrations.
void write_final_results(ProblemRecord& rec, const SearchOutcome& outcome, OutputUnit& out) {
  final_concentrations(rec, nullptr);
  write_progress_line(outcome.N, outcome.SSQ, deck_order(rec, rec.COEF[0]), out);
  const int nob = rec.obs.NOB;
  write_final_table(std::span(rec.COBS).subspan(1, nob), std::span(rec.CCALC).subspan(1, nob),
                    out);
}

// Runs `body` with an OutputUnit on a temporary file and returns the
// records written, without their CR LF.
template <class Body>
std::vector<std::string> capture(Body body) {
  std::FILE* f = std::tmpfile();
  {
    OutputUnit out(6, "report", f, false);
    body(out);
    out.flush();
  }
  std::rewind(f);
  std::vector<std::string> lines;
  std::string line;
  for (int ch; (ch = std::fgetc(f)) != EOF;) {
    if (ch == '\n') {
      EXPECT_FALSE(line.empty() || line.back() != '\r') << "record without CR LF";
      if (!line.empty()) line.pop_back();
      lines.push_back(line);
      line.clear();
    } else {
      line += static_cast<char>(ch);
    }
  }
  std::fclose(f);
  return lines;
}

TEST(AnnealingSteps, FirstStepsOfARun) {
  UniformStream steps;
  float r1 = 5139.0f;
  const double expected[] = {-0.1372651955077826, 0.1764002111017735,
                             -0.10621194997745675};
  for (double e : expected) {
    steps.draw(r1);
    EXPECT_EQ(step_from_draw(r1), e);
  }
}

TEST(AnnealingSteps, FirstTrialMovesTheVariedCoefficientsInOrder) {
  auto rec = example_problem();
  rec->obs.IVAR[3] = 0;  // coefficients 1 and 2 varied
  UniformStream steps;
  float r1 = 5139.0f;
  draw_trial_set(*rec, steps, r1);
  EXPECT_EQ(rec->coef(1, 2), 25.0 + -0.1372651955077826);
  EXPECT_EQ(rec->coef(2, 2), 30.0 + 0.1764002111017735);
  for (int k = 3; k <= 6; ++k) EXPECT_EQ(rec->coef(k, 2), rec->coef(k, 1));
  EXPECT_EQ(steps.state(), 2020783275);  // two draws, no more
  draw_trial_set(*rec, steps, r1);
  EXPECT_EQ(rec->coef(1, 2), 25.0 + -0.10621194997745675);
}

TEST(AnnealingSteps, ValueOnABoundStaysWithoutRedraw) {
  for (bool upper : {true, false}) {
    auto rec = example_problem();
    rec->obs.IVAR[2] = rec->obs.IVAR[3] = 0;
    const double landing = 25.0 + -0.1372651955077826;
    if (upper) {
      rec->BMAX[1] = landing;
    } else {
      rec->BMIN[1] = landing;
    }
    UniformStream steps;
    float r1 = 5139.0f;
    draw_trial_set(*rec, steps, r1);
    EXPECT_EQ(rec->coef(1, 2), landing);
    EXPECT_EQ(steps.state(), 336804921);  // exactly one draw
  }
}

TEST(AnnealingSteps, ValueOutsideIsUndoneAndRedrawn) {
  auto rec = example_problem();
  rec->obs.IVAR[2] = rec->obs.IVAR[3] = 0;
  rec->BMIN[1] = 25.0;  // the first step (negative) leaves the range
  UniformStream steps;
  float r1 = 5139.0f;
  draw_trial_set(*rec, steps, r1);
  // Undone by subtraction, then moved by the second draw's step.
  const double undone = (25.0 + -0.1372651955077826) - -0.1372651955077826;
  EXPECT_EQ(rec->coef(1, 2), undone + 0.1764002111017735);
  EXPECT_EQ(steps.state(), 2020783275);
}

TEST(AnnealingSearch, InitialSetAtTheGoalEndsAtOnce) {
  auto rec = example_problem();
  MODEL(*rec, rec->COEF[0], rec->CCALC);
  for (int i = 1; i <= 3; ++i) rec->COBS[i] = rec->CCALC[i];
  SearchOutcome outcome;
  const auto lines = capture([&](OutputUnit& out) {
    outcome = run_search(*rec, out);
    write_final_results(*rec, outcome, out);
  });
  EXPECT_EQ(outcome.N, 1);
  EXPECT_EQ(outcome.SSQ, 0.0);
  const std::vector<std::string> expected = {
      "",
      "",
      "    N     SSQ       V        D        R       T       BETA     ALPHA",
      "    0  0.000000 25.00000 30.00000  1.50000  2.00000  0.00000  0.00000",
      "    1  0.000000 25.00000 30.00000  1.50000  2.00000  0.00000  0.00000",
      "",
      "",
      "     OBSERVED C     CALCULATED C",
  };
  ASSERT_EQ(lines.size(), expected.size() + 3);
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]);
}

TEST(AnnealingSearch, NothingVariedEndsAtIteration102) {
  auto rec = example_problem();
  for (int k = 1; k <= 6; ++k) rec->obs.IVAR[k] = 0;
  SearchOutcome outcome;
  const auto lines = capture([&](OutputUnit& out) { outcome = run_search(*rec, out); });
  // Every trial repeats the current set, is accepted, and never improves
  // on the best: one failure per outer iteration until more than 100.
  EXPECT_EQ(outcome.N, 102);
  ASSERT_EQ(lines.size(), 3u + 102u);
  EXPECT_EQ(lines[3].substr(0, 5), "    0");
  EXPECT_EQ(lines.back().substr(0, 5), "  101");
  for (std::size_t i = 4; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].substr(5), lines[3].substr(5));
  }
}

TEST(AnnealingSearch, NotANumberEndsTheSearchAtOnce) {
  auto rec = example_problem();
  rec->coef(3, 1) = 0.0;  // R = 0 divides by zero in the model
  rec->BMIN[3] = 0.0;
  SearchOutcome outcome;
  capture([&](OutputUnit& out) { outcome = run_search(*rec, out); });
  EXPECT_EQ(outcome.N, 1);
  EXPECT_TRUE(std::isnan(outcome.SSQ));
}

TEST(AnnealingSearch, SameProblemSameTable) {
  auto a = example_problem();
  auto b = example_problem();
  const auto first = capture([&](OutputUnit& out) { run_search(*a, out); });
  const auto second = capture([&](OutputUnit& out) { run_search(*b, out); });
  EXPECT_EQ(first, second);
  EXPECT_EQ(first.size(), 3u + 113u);  // lines 0 to 112, as in the reference run
  EXPECT_EQ(first.back(),
            "  112  0.000267 18.76458 32.12851  1.18985  2.00000  0.00000  0.00000");
}

TEST(FinalResults, NoObservationsGiveOneEmptyLine) {
  auto rec = example_problem();
  rec->obs.NOB = 0;
  const auto lines = capture([&](OutputUnit& out) {
    write_final_results(*rec, SearchOutcome{1, 0.0}, out);
  });
  const std::vector<std::string> expected = {
      "    1  0.000000 25.00000 30.00000  1.50000  2.00000  0.00000  0.00000",
      "", "", "     OBSERVED C     CALCULATED C", ""};
  EXPECT_EQ(lines, expected);
}

TEST(FinalResults, WideValuesBecomeAsterisks) {
  auto rec = example_problem();
  rec->COBS[1] = -1.0e9;
  const auto lines = capture([&](OutputUnit& out) {
    write_final_results(*rec, SearchOutcome{1, 0.0}, out);
  });
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[4].substr(0, 13), "*************");
  EXPECT_EQ(lines[4].size(), 32u);
}

}  // namespace

namespace {

struct Line {
  std::int32_t N;
  double SSQ;
  std::vector<double> set;
};

std::vector<Line> progress_of(ProblemRecord& rec, SearchControl control, SearchOutcome& outcome) {
  std::vector<Line> lines;
  control.progress = [&](std::int32_t n, double ssq, const CoefColumn& set) {
    const auto b = deck_order(rec, set);
    lines.push_back({n, ssq, std::vector<double>(b.begin(), b.end())});
  };
  outcome = run_search(rec, control);
  return lines;
}

// The caller's sums of squares, here MODEL's own over a copy of the record:
// the search draws, judges and ends exactly as with its own, and asks for
// one sum per set it judges (the initial set and 500 per outer iteration
// before the last).
TEST(AnnealingSums, CallersSumsOfSquaresGiveTheSameSearch) {
  auto own = example_problem();
  SearchOutcome own_outcome;
  const std::vector<Line> expected = progress_of(*own, SearchControl{}, own_outcome);

  auto rec = example_problem();
  auto copy = example_problem();
  long long calls = 0;
  SearchControl control;
  control.sum_of_squares = [&](const CoefColumn& set) {
    ++calls;
    return sum_of_squares(*copy, set);
  };
  SearchOutcome outcome;
  const std::vector<Line> lines = progress_of(*rec, control, outcome);
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].N, expected[i].N);
    EXPECT_EQ(std::memcmp(&lines[i].SSQ, &expected[i].SSQ, sizeof(double)), 0) << i;
    EXPECT_EQ(lines[i].set, expected[i].set) << i;
  }
  EXPECT_EQ(outcome.N, own_outcome.N);
  EXPECT_EQ(outcome.end, own_outcome.end);
  EXPECT_EQ(calls, 1 + 500LL * (outcome.N - 1));
  // The record's calculated concentrations are the caller's business.
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(rec->CCALC[i], 0.0);
}

// The search judges whatever the caller's sums say: a constant offset of 1
// keeps every decision (differences are what count, up to rounding) but
// the goal is never reached.
TEST(AnnealingSums, SearchJudgesTheCallersSums) {
  auto rec = example_problem();
  auto copy = example_problem();
  SearchControl control;
  control.sum_of_squares = [&](const CoefColumn& set) { return 1.0 + sum_of_squares(*copy, set); };
  SearchOutcome outcome;
  const std::vector<Line> lines = progress_of(*rec, control, outcome);
  for (const Line& line : lines) EXPECT_GE(line.SSQ, 1.0);
  EXPECT_NE(outcome.end, SearchEnd::goal_reached);
}

}  // namespace
