// Whole runs on the project's own decks, each compared byte for byte with a
// report that was checked by hand against the record layouts: the echo
// variants of every model family, and realistic fits of every model code.
#include <gtest/gtest.h>

#include <string>

#include "support/program_run.hpp"

namespace {

using namespace btcfit::testing_support;

struct DeckCase {
  const char* name;
  bool twice;  // run a second time to show the report is the same
};

class ProjectDeck : public ::testing::TestWithParam<DeckCase> {};

TEST_P(ProjectDeck, ReproducesCheckedReport) {
  const std::string name = GetParam().name;
  const std::string dir = data_path("decks/" + name);
  const std::string deck = read_file(dir + "/deck");
  const ProgramRun run = run_deck(deck, name);
  EXPECT_EQ(run.status, 0) << run.diagnostics;
  EXPECT_EQ(run.diagnostics, "");
  EXPECT_EQ(run.console,
            " Enter Input file name --> \r\n Enter Output file name -> \r\n");
  ASSERT_TRUE(run.report.has_value());
  EXPECT_EQ(*run.report, read_file(dir + "/report.out"));
  EXPECT_EQ(run.pd, read_file_if_exists(dir + "/pd.dat"));
  if (GetParam().twice) {
    const ProgramRun again = run_deck(deck, name + "-again");
    EXPECT_EQ(again.report, run.report);
    EXPECT_EQ(again.pd, run.pd);
  }
}

std::string test_name(const ::testing::TestParamInfo<DeckCase>& info) {
  return test_name_of(info.param.name);
}

// Echo variants: the initial set reproduces the observations (or there are
// none), so the search ends at once and the echo is what is tested.
INSTANTIATE_TEST_SUITE_P(
    Echo, ProjectDeck,
    ::testing::Values(DeckCase{"nonequilibrium-lsq-reduced", false},
                      DeckCase{"load-pulses", false},
                      DeckCase{"multipulse-noecho", false},
                      DeckCase{"no-observation-records", false},
                      DeckCase{"pulse-count-negative", false},
                      DeckCase{"wide-values", false},
                      DeckCase{"nan-decay", false}),
    test_name);

INSTANTIATE_TEST_SUITE_P(
    EquilibriumFit, ProjectDeck,
    ::testing::Values(DeckCase{"equilibrium-depth-decay", true},
                      DeckCase{"equilibrium-flux-production", true},
                      DeckCase{"equilibrium-pulses-reduced", true},
                      DeckCase{"equilibrium-reduced-time", true}),
    test_name);

INSTANTIATE_TEST_SUITE_P(
    NonequilibriumFit, ProjectDeck,
    ::testing::Values(DeckCase{"nonequilibrium-resident", false},
                      DeckCase{"nonequilibrium-tailing", false}),
    test_name);

INSTANTIATE_TEST_SUITE_P(
    StochasticFit, ProjectDeck,
    ::testing::Values(DeckCase{"stochastic-resident-pulses", false},
                      DeckCase{"stochastic-flux-decay", false},
                      DeckCase{"stochastic-load-profile", false},
                      DeckCase{"stochastic-flux-loads", false}),
    test_name);

// Control field 7 of the example deck: 1 echoes the observed data; 2 and 3
// (or more) write pd.dat with the distance or the time label; anything else
// does neither. The report differs from the example only by the block of
// observed data.
struct OutputSwitch {
  const char* value;  // columns 61-70 of record 2
  bool observed_block;
  const char* pd;  // expected pd.dat, or nullptr for none
};

class OutputSwitchTest : public ::testing::TestWithParam<OutputSwitch> {};

TEST_P(OutputSwitchTest, EchoAndAuxiliaryFile) {
  std::string deck = read_file(data_path("golden/example/deck"));
  const std::size_t record2 = deck.find('\n') + 1;
  deck.replace(record2 + 60, 10, GetParam().value);
  const std::string dir = make_work_dir("iout");
  write_file(dir + "/deck.in", deck);
  write_file(dir + "/pd.dat", "left alone\r\n");
  const ProgramRun run = run_in(dir, "deck.in\nreport.out\n");
  EXPECT_EQ(run.status, 0) << run.diagnostics;

  std::string expected = read_file(data_path("golden/example/report.out"));
  if (!GetParam().observed_block) {
    const std::size_t from = expected.find("\r\n\r\n           OBSERVED DATA");
    const std::size_t to = expected.find("\r\n\r\n    N     SSQ");
    expected.erase(from, to - from);
  }
  ASSERT_TRUE(run.report.has_value());
  EXPECT_EQ(*run.report, expected);
  EXPECT_EQ(run.pd, GetParam().pd != nullptr ? std::string(GetParam().pd)
                                             : std::string("left alone\r\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Values, OutputSwitchTest,
    ::testing::Values(OutputSwitch{"         0", false, nullptr},
                      OutputSwitch{"         1", true, nullptr},
                      OutputSwitch{"         2", false, " DISTANCE      \r\n"},
                      OutputSwitch{"         3", false, " TIME          \r\n"},
                      OutputSwitch{"        17", false, " TIME          \r\n"},
                      OutputSwitch{"        -2", false, nullptr}));

// Replies to the prompts: a name longer than 15 characters opens the file
// named by its first 15; a second run with the same report name replaces the
// earlier report.
TEST(ConsoleDialogue, LongReplyIsCutAfter15Characters) {
  const std::string dir = make_work_dir("long");
  write_file(dir + "/deck-with-a-lon", read_file(data_path("golden/example/deck")));
  const ProgramRun run =
      run_in(dir, "deck-with-a-long-name.in\nreport.out-and-more\n", "report.out-and-");
  EXPECT_EQ(run.status, 0) << run.diagnostics;
  ASSERT_TRUE(run.report.has_value());
  EXPECT_EQ(*run.report, read_file(data_path("golden/example/report.out")));
}

TEST(ConsoleDialogue, SecondRunReplacesTheReport) {
  const std::string dir = make_work_dir("twice");
  write_file(dir + "/deck.in", read_file(data_path("golden/example/deck")));
  write_file(dir + "/report.out", std::string(20000, 'x'));
  const ProgramRun run = run_in(dir, "deck.in\nreport.out\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(*run.report, read_file(data_path("golden/example/report.out")));
}

}  // namespace
