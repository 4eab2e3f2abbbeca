// Whole runs on the reference decks: report, console, pd.dat and exit
// status must match byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "support/program_run.hpp"

namespace {

using namespace btcfit::testing_support;

class GoldenDeck : public ::testing::TestWithParam<const char*> {};

TEST_P(GoldenDeck, ReproducesReferenceRun) {
  const std::string name = GetParam();
  const std::string golden = data_path("golden/" + name);
  const ProgramRun run = run_deck(read_file(golden + "/deck"), name);

  EXPECT_EQ(run.status, std::stoi(read_file(golden + "/status")))
      << run.diagnostics;
  EXPECT_EQ(run.console, read_file(golden + "/console.txt"));
  ASSERT_TRUE(run.report.has_value());
  EXPECT_EQ(*run.report, read_file(golden + "/report.out"));
  EXPECT_EQ(run.pd, read_file_if_exists(golden + "/pd.dat"));
  if (run.status != 0) {
    EXPECT_NE(run.diagnostics.find("btcfit: "), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Reference, GoldenDeck,
                         ::testing::Values("example", "equilibrium-multipulse",
                                           "bad-pulse-count", "bad-bounds",
                                           "nonequilibrium-flux",
                                           "stochastic-pulse",
                                           "stochastic-load",
                                           "negative-zero-result",
                                           "negative-zero-typed"),
                         [](const auto& info) { return test_name_of(info.param); });

}  // namespace
