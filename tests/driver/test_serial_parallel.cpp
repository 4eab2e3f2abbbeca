// The observations of a model call may be evaluated side by side; reports
// must not change by a single character. Each reference deck and each of
// the project's decks is run through the library serially and with several
// threads, and both reports must equal the checked report.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "driver/run.hpp"
#include "support/program_run.hpp"

namespace {

using namespace btcfit::testing_support;

// Runs the program in-process in a fresh directory with `threads` threads.
std::string report_with_threads(const std::string& deck, int threads,
                                const std::string& tag) {
  const std::string dir = make_work_dir(tag);
  write_file(dir + "/deck.in", deck);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  char replies[] = "deck.in\nreport.out\n";
  std::FILE* in = fmemopen(replies, sizeof replies - 1, "r");
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int status = btcfit::run_program(in, out, err, threads);
  std::fclose(in);
  std::fclose(out);
  std::fclose(err);
  std::filesystem::current_path(previous);
  EXPECT_EQ(status, 0);
  return read_file(dir + "/report.out");
}

class SerialAndParallel : public ::testing::TestWithParam<const char*> {};

TEST_P(SerialAndParallel, SameReport) {
  const std::string name = GetParam();
  const std::string dir = data_path(name);
  const std::string deck = read_file(dir + "/deck");
  const std::string expected = read_file(dir + "/report.out");
  std::string tag = name;
  for (char& c : tag)
    if (c == '/') c = '-';
  // The program itself (as the deck tests run it) evaluates in parallel on
  // any machine with more than one core; the serial path must agree.
  EXPECT_EQ(report_with_threads(deck, 1, tag + "-serial"), expected);
  // More threads than cores still gives the same report; once per model
  // family is enough.
  if (name.rfind("golden/", 0) == 0) {
    EXPECT_EQ(report_with_threads(deck, 3, tag + "-parallel"), expected);
  }
}

std::string test_name(const ::testing::TestParamInfo<const char*>& info) {
  std::string s = info.param;
  for (char& c : s)
    if (c == '-' || c == '/') c = '_';
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Decks, SerialAndParallel,
    ::testing::Values("golden/example", "golden/equilibrium-multipulse",
                      "golden/nonequilibrium-flux", "golden/stochastic-pulse",
                      "golden/stochastic-load", "decks/nonequilibrium-lsq-reduced",
                      "decks/load-pulses", "decks/nonequilibrium-resident",
                      "decks/nonequilibrium-tailing",
                      "decks/stochastic-resident-pulses",
                      "decks/stochastic-flux-decay",
                      "decks/stochastic-load-profile",
                      "decks/stochastic-flux-loads"),
    test_name);

}  // namespace
