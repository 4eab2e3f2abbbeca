// Trials of the search may be evaluated ahead on other threads, and the
// observations of a model call side by side; reports must not change by a
// single character. Each reference deck and each of the project's decks is
// run through the library serially and with several threads, and both
// reports must equal the checked report.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "apps/btcfit/run.hpp"
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
  std::FILE* err = std::fopen(".diagnostics", "wb");
  const int status = btcfit::run_files("deck.in", "report.out", err, threads);
  std::fclose(err);
  std::filesystem::current_path(previous);
  EXPECT_EQ(status, 0) << read_file(dir + "/.diagnostics");
  return read_file(dir + "/report.out");
}

struct DeckRun {
  const char* path;
  bool long_fit;  // seconds of search rather than a fraction of one
};

class SerialAndParallel : public ::testing::TestWithParam<DeckRun> {};

TEST_P(SerialAndParallel, SameReport) {
  const std::string name = GetParam().path;
  const std::string dir = data_path(name);
  const std::string deck = read_file(dir + "/deck");
  const std::string expected = read_file(dir + "/report.out");
#ifdef BTCFIT_SANITIZED
  // Under a sanitizer the project's long fits run once, through the
  // program (the deck tests); the reference decks still run both ways.
  if (name.rfind("golden/", 0) != 0 && GetParam().long_fit) {
    GTEST_SKIP() << "long fit: serial rerun left to the unsanitized build";
  }
#endif
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

std::string test_name(const ::testing::TestParamInfo<DeckRun>& info) {
  std::string s = info.param.path;
  for (char& c : s)
    if (c == '-' || c == '/') c = '_';
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Decks, SerialAndParallel,
    ::testing::Values(DeckRun{"golden/example", false},
                      DeckRun{"golden/equilibrium-multipulse", false},
                      DeckRun{"golden/nonequilibrium-flux", true},
                      DeckRun{"golden/stochastic-pulse", true},
                      DeckRun{"golden/stochastic-load", true},
                      DeckRun{"decks/nonequilibrium-lsq-reduced", false},
                      DeckRun{"decks/load-pulses", false},
                      DeckRun{"decks/nonequilibrium-resident", true},
                      DeckRun{"decks/nonequilibrium-tailing", true},
                      DeckRun{"decks/stochastic-resident-pulses", true},
                      DeckRun{"decks/stochastic-flux-decay", true},
                      DeckRun{"decks/stochastic-load-profile", false},
                      DeckRun{"decks/stochastic-flux-loads", true}),
    test_name);

}  // namespace
