// btcfit-stats as a user meets it: the command line, the decks that
// btcfit rejects, and whole runs on the reference decks, whose fitted set
// must be the one in btcfit's report.
#include "stats/program.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/stats/svg_structure.hpp"

namespace btcfit::stats {
namespace {

namespace fs = std::filesystem;

const std::string kUsage = "usage: btcfit-stats DECK [-o PREFIX]";

std::string golden(const std::string& name) {
  return std::string(BTCFIT_STATS_TEST_DATA) + "/golden/" + name;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string read_back(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buf[4096];
  std::size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, got);
  return text;
}

struct Outcome {
  int status;
  std::string out, err;
};

Outcome run(const std::vector<std::string>& args) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  Outcome o;
  o.status = run_stats_program(args, out, err);
  o.out = read_back(out);
  o.err = read_back(err);
  std::fclose(out);
  std::fclose(err);
  return o;
}

// A fresh empty folder, removed at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "btcfit-stats-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Exit status of a shell command.
int shell(const std::string& command) {
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// The lines of a report without their CR LF endings.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The last line of the progress table in a report: the line before the
// empty lines that precede the "OBSERVED C" heading.
std::string final_progress_line(const std::string& report) {
  const auto lines = lines_of(report);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find("OBSERVED C") == std::string::npos) continue;
    std::size_t j = i;
    while (j > 0 && lines[j - 1].empty()) --j;
    return j > 0 ? lines[j - 1] : std::string();
  }
  return {};
}

TEST(Arguments, HelpExplainsTheProgram) {
  for (const char* flag : {"--help", "-h"}) {
    const Outcome o = run({flag});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find(kUsage), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("standard error"), std::string::npos);
    EXPECT_NE(o.out.find("PREFIX.svg"), std::string::npos);
    EXPECT_TRUE(o.err.empty());
  }
}

TEST(Arguments, WrongArgumentsGiveUsageAndStatus2) {
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"-o"},
      {"deck.in", "-o"},
      {"-o", "plot"},
      {"--bogus", "deck.in"},
      {"deck.in", "-x"},
      {"one.in", "two.in"},
      {"deck.in", "-o", "a", "-o", "b"},
      {"deck.in", "-o", ""},
  };
  for (const auto& args : wrong) {
    const Outcome o = run(args);
    std::string shown;
    for (const auto& a : args) shown += " '" + a + "'";
    EXPECT_EQ(o.status, 2) << shown;
    EXPECT_EQ(o.err.rfind("btcfit-stats: ", 0), 0u) << shown << ": " << o.err;
    EXPECT_NE(o.err.find(kUsage), std::string::npos) << shown << ": " << o.err;
    EXPECT_TRUE(o.out.empty()) << shown;
  }
}

TEST(Arguments, ExecutableExitStatuses) {
  TempDir dir;
  const std::string exe = BTCFIT_STATS_EXE;
  const std::string err = (dir.path() / "err").string();
  EXPECT_EQ(shell("'" + exe + "' > /dev/null 2> '" + err + "'"), 2);
  EXPECT_NE(read_file(err).find(kUsage), std::string::npos);
  EXPECT_EQ(shell("'" + exe + "' --frobnicate x > /dev/null 2> '" + err + "'"), 2);
  EXPECT_EQ(shell("'" + exe + "' --help > /dev/null 2> '" + err + "'"), 0);
}

TEST(Arguments, MissingDeckIsAnInputFailure) {
  TempDir dir;
  const std::string deck = (dir.path() / "no-such-deck").string();
  const Outcome o = run({deck});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err.rfind("btcfit-stats: unit 5 (" + deck + "): cannot open", 0), 0u)
      << o.err;
}

TEST(Arguments, UnwritablePrefixIsAnOutputFailure) {
  TempDir dir;
  const Outcome o = run({golden("example/deck"), "-o",
                         (dir.path() / "missing-folder" / "plot").string()});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("btcfit-stats: cannot open"), std::string::npos) << o.err;
}

// btcfit's message for a deck it rejects, with its program prefix removed.
std::string btcfit_rejection(const std::string& deck, int& status) {
  TempDir dir;
  fs::copy_file(deck, dir.path() / "deck.in");
  const std::string command = "cd '" + dir.path().string() +
                              "' && printf 'deck.in\\nreport.out\\n' | '" +
                              BTCFIT_EXE + "' > /dev/null 2> err";
  status = shell(command);
  std::string err = read_file(dir.path() / "err");
  const std::string prefix = "btcfit: ";
  return err.rfind(prefix, 0) == 0 ? err.substr(prefix.size()) : err;
}

TEST(RejectedDecks, SameMessageAndStatusAsBtcfit) {
  for (const char* name : {"bad-pulse-count", "bad-bounds"}) {
    const std::string deck = golden(std::string(name) + "/deck");
    int btcfit_status = 0;
    const std::string message = btcfit_rejection(deck, btcfit_status);
    ASSERT_FALSE(message.empty()) << name;
    const Outcome o = run({deck});
    EXPECT_EQ(o.status, 1) << name;
    EXPECT_EQ(o.status, btcfit_status) << name;
    EXPECT_EQ(o.err, "btcfit-stats: " + message) << name;
    EXPECT_TRUE(o.out.empty()) << name;
  }
}

// Whole runs on the reference decks.
struct GoldenCase {
  const char* name;
  int observations;
  const char* expect;  // a phrase the summary must hold
};

void PrintTo(const GoldenCase& c, std::ostream* os) { *os << c.name; }

class GoldenDeck : public testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenDeck, SameFittedSetAsBtcfitSummaryAndPlot) {
  const GoldenCase& c = GetParam();
  TempDir dir;
  const std::string prefix = (dir.path() / "fit").string();
  const Outcome o = run({golden(std::string(c.name) + "/deck"), "-o", prefix});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(o.err.empty()) << o.err;

  // The fitted set: btcfit's final progress line, character for character.
  const std::string expected =
      final_progress_line(read_file(golden(std::string(c.name) + "/report.out")));
  ASSERT_FALSE(expected.empty());
  EXPECT_NE(o.out.find("\n" + expected + "\n"), std::string::npos)
      << "expected line:\n" << expected << "\nsummary:\n" << o.out;

  // The summary's three parts.
  const auto varied = o.out.find("Varied coefficients");
  const auto measures = o.out.find("Fit measures");
  ASSERT_NE(varied, std::string::npos);
  ASSERT_NE(measures, std::string::npos);
  EXPECT_LT(varied, measures);
  EXPECT_NE(o.out.find("observations n                          " +
                       std::to_string(c.observations) + "\n"),
            std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find(c.expect), std::string::npos) << o.out;

  // The plot: these decks observe at one distance, so one series with a
  // point per observation and one fitted path; the CSV holds its curve.
  const std::string svg = read_file(prefix + ".svg");
  const auto series = svg_series(svg);
  ASSERT_EQ(series.size(), 1u) << svg;
  EXPECT_EQ(series[0].points, c.observations);
  EXPECT_EQ(series[0].paths, 1);
  EXPECT_EQ(series[0].label.rfind("x = ", 0), 0u);
  EXPECT_NE(svg.find(">time</text>"), std::string::npos);
  EXPECT_NE(svg.find("concentration</text>"), std::string::npos);
  const auto csv = lines_of(read_file(prefix + ".csv"));
  ASSERT_EQ(csv.size(), 202u);
  EXPECT_EQ(csv[0], "distance,time,concentration");
}

INSTANTIATE_TEST_SUITE_P(
    Decks, GoldenDeck,
    testing::Values(
        GoldenCase{"example", 3, "3 observations cannot determine 3 varied coefficients"},
        GoldenCase{"equilibrium-multipulse", 24,
                   "J^T J is singular: the data cannot determine"},
        // The two slow decks (several seconds each).
        GoldenCase{"nonequilibrium-flux", 18, "Correlation matrix"},
        GoldenCase{"stochastic-load", 12, "Correlation matrix"}),
    [](const testing::TestParamInfo<GoldenCase>& info) {
      std::string name = info.param.name;
      for (char& ch : name) {
        if (ch == '-') ch = '_';
      }
      return name;
    });

// A deck written here: model 2, V and D varied, R and the pulse fixed.
std::string small_deck(const std::vector<std::array<double, 3>>& obs) {
  std::string deck;
  char line[128];
  deck += "         0\n";
  std::snprintf(line, sizeof line, "%10d%10d%10d%10d%10d%10d%10d\n", 2, 1, 0, 0,
                int(obs.size()), 1, 0);
  deck += line;
  deck += "    V         D         R         T0        MU        GAMMA \n";
  deck += "      20.0      15.0       1.0     100.0       0.0       0.0\n";
  deck += "         1         1         0         0         0         0\n";
  deck += "       1.0       1.0       1.0       0.0       0.0       0.0\n";
  deck += "     100.0     100.0      10.0     200.0       1.0       1.0\n";
  deck += "       0.0       1.0         1\n";
  for (const auto& o : obs) {
    std::snprintf(line, sizeof line, "%10.4f%10.4f%10.4f\n", o[0], o[1], o[2]);
    deck += line;
  }
  return deck;
}

TEST(Plot, OneSeriesPerDistanceForBreakthroughCurves) {
  TempDir dir;
  const fs::path deck = dir.path() / "two-distances.in";
  std::ofstream(deck) << small_deck({{0.02, 10, 0.3}, {0.35, 10, 0.5}, {0.80, 10, 0.8},
                                     {0.97, 10, 1.2}, {0.01, 20, 0.5}, {0.20, 20, 0.9},
                                     {0.62, 20, 1.2}, {0.91, 20, 1.6}, {0.99, 20, 2.2}});
  const std::string prefix = (dir.path() / "p").string();
  const Outcome o = run({deck.string(), "-o", prefix});
  ASSERT_EQ(o.status, 0) << o.err;
  const auto series = svg_series(read_file(prefix + ".svg"));
  ASSERT_EQ(series.size(), 2u);
  EXPECT_EQ(series[0].label, "x = 10");
  EXPECT_EQ(series[0].points, 4);
  EXPECT_EQ(series[1].label, "x = 20");
  EXPECT_EQ(series[1].points, 5);
  EXPECT_EQ(series[0].paths, 1);
  EXPECT_EQ(series[1].paths, 1);
  EXPECT_NE(series[0].colour, series[1].colour);
  const auto csv = lines_of(read_file(prefix + ".csv"));
  EXPECT_EQ(csv.size(), 1u + 2u * 201u);
  EXPECT_EQ(csv[1], "10,0,0");
}

TEST(Plot, OneSeriesPerTimeForDepthProfiles) {
  TempDir dir;
  const fs::path deck = dir.path() / "profiles.in";
  std::ofstream(deck) << small_deck({{0.99, 2, 1.0}, {0.90, 10, 1.0}, {0.45, 20, 1.0},
                                     {0.10, 30, 1.0}, {0.99, 10, 2.0}, {0.93, 20, 2.0},
                                     {0.70, 35, 2.0}, {0.30, 50, 2.0}});
  const std::string prefix = (dir.path() / "p").string();
  const Outcome o = run({deck.string(), "-o", prefix});
  ASSERT_EQ(o.status, 0) << o.err;
  const std::string svg = read_file(prefix + ".svg");
  const auto series = svg_series(svg);
  ASSERT_EQ(series.size(), 2u);
  EXPECT_EQ(series[0].label, "t = 1");
  EXPECT_EQ(series[0].points, 4);
  EXPECT_EQ(series[1].label, "t = 2");
  EXPECT_EQ(series[1].points, 4);
  EXPECT_NE(svg.find(">distance</text>"), std::string::npos);
  // Summary: V and D are determined by these profiles.
  EXPECT_NE(o.out.find("Correlation matrix"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("fixed: R = 1, T0 = 100, MU = 0, GAMMA = 0"), std::string::npos)
      << o.out;
}

}  // namespace
}  // namespace btcfit::stats
