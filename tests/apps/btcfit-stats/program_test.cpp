// btcfit-stats as a user meets it: the command line, the decks that
// btcfit rejects, and whole runs on the reference decks, whose fitted set
// must be the one in btcfit's report.
#include "apps/btcfit-stats/program.hpp"

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

#include "btcfit/analysis.hpp"
#include "tests/apps/btcfit-stats/svg_structure.hpp"

namespace btcfit::stats {
namespace {

namespace fs = std::filesystem;

const std::string kUsage = "usage: btcfit-stats [--method METHOD] DECK [-o PREFIX]";
const std::string kCompareUsage =
    "       btcfit-stats compare [--method METHOD] DECK DECK [DECK...] [-o PREFIX] [--json]";

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
    EXPECT_NE(o.out.find(kCompareUsage), std::string::npos);
    EXPECT_NE(o.out.find("PREFIX-profile-NAME.svg"), std::string::npos);
    EXPECT_NE(o.out.find("--json"), std::string::npos);
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
      {"deck.in", "--json", "--json"},
      {"compare"},
      {"compare", "one.in"},
      {"compare", "one.in", "two.in", "-o"},
  };
  for (const auto& args : wrong) {
    const Outcome o = run(args);
    std::string shown;
    for (const auto& a : args) shown += " '" + a + "'";
    EXPECT_EQ(o.status, 2) << shown;
    EXPECT_EQ(o.err.rfind("btcfit-stats: ", 0), 0u) << shown << ": " << o.err;
    EXPECT_NE(o.err.find(kUsage), std::string::npos) << shown << ": " << o.err;
    EXPECT_NE(o.err.find(kCompareUsage), std::string::npos) << shown << ": " << o.err;
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
  std::vector<std::string> profiles;  // coefficients with a profile plot
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
  // The residual panel: one residual per observation; the legend lists
  // every coefficient.
  EXPECT_EQ(count_of(svg, "<circle class=\"residual\""), c.observations);
  EXPECT_NE(svg.find(">observed - fitted</text>"), std::string::npos);
  // The heading line and one line per coefficient (6, or 7 for the
  // stream tubes).
  const std::size_t coefficients =
      read_deck(golden(c.name) + "/deck").coefficients.size();
  EXPECT_EQ(count_of(svg, "<text class=\"note\""), int(coefficients) + 1);
  const auto csv = lines_of(read_file(prefix + ".csv"));
  ASSERT_EQ(csv.size(), 202u);
  EXPECT_EQ(csv[0], "distance,time,concentration");

  // The sections after the statistics, in order.
  const auto refinement = o.out.find("\nLocal refinement (bounded Levenberg-Marquardt");
  const auto profiles = o.out.find("\nProfile-likelihood intervals (95 %, about the refined set)");
  const auto criteria = o.out.find("\nInformation criteria (Gaussian errors");
  ASSERT_NE(refinement, std::string::npos) << o.out;
  ASSERT_NE(criteria, std::string::npos) << o.out;
  EXPECT_LT(measures, refinement);
  EXPECT_LT(refinement, criteria);
  EXPECT_NE(o.out.find("The search's set is"), std::string::npos) << o.out;
  EXPECT_EQ(profiles != std::string::npos, !c.profiles.empty()) << o.out;
  if (profiles != std::string::npos) {
    EXPECT_LT(refinement, profiles);
    EXPECT_LT(profiles, criteria);
  }
  // One profile plot per varied coefficient: the computed profile as
  // points on a line, the threshold, and the linearized parabola where
  // there is a standard error.
  for (const std::string& name : c.profiles) {
    const auto plot = svg_series(read_file(prefix + "-profile-" + name + ".svg"));
    ASSERT_GE(plot.size(), 2u) << name;
    EXPECT_EQ(plot[0].label, "profile SSQ");
    EXPECT_GE(plot[0].points, 5) << name;
    EXPECT_EQ(plot[1].label, "95 % threshold");
    EXPECT_EQ(plot[1].points, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Decks, GoldenDeck,
    testing::Values(
        GoldenCase{"example", 3, "3 observations cannot determine 3 varied coefficients", {}},
        GoldenCase{"equilibrium-multipulse", 24,
                   "J^T J is singular: the data cannot determine", {"V", "D", "R"}},
        // The two slow decks (several seconds each).
        GoldenCase{"nonequilibrium-flux", 18, "Correlation matrix",
                   {"D", "R", "BETA", "OMEGA"}},
        GoldenCase{"stochastic-load", 12, "Correlation matrix", {"ALPHA", "R", "SIGMA"}}),
    [](const testing::TestParamInfo<GoldenCase>& info) {
      std::string name = info.param.name;
      for (char& ch : name) {
        if (ch == '-') ch = '_';
      }
      return name;
    });

// A deck written here: model 2, V and D varied (or as `varied` says), R
// and the pulse fixed.
std::string small_deck(const std::vector<std::array<double, 3>>& obs,
                       const char* varied = "         1         1         0         0         0         0\n") {
  std::string deck;
  char line[128];
  deck += "         0\n";
  std::snprintf(line, sizeof line, "%10d%10d%10d%10d%10d%10d%10d\n", 2, 1, 0, 0,
                int(obs.size()), 1, 0);
  deck += line;
  deck += "    V         D         R         T0        MU        GAMMA \n";
  deck += "      20.0      15.0       1.0     100.0       0.0       0.0\n";
  deck += varied;
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

// Observations shared by the compared decks: two distances.
const std::vector<std::array<double, 3>> kCompared = {
    {0.02, 10, 0.3}, {0.35, 10, 0.5}, {0.80, 10, 0.8}, {0.97, 10, 1.2}, {0.01, 20, 0.5},
    {0.20, 20, 0.9}, {0.62, 20, 1.2}, {0.91, 20, 1.6}, {0.99, 20, 2.2}};
constexpr const char* kOnlyD = "         0         1         0         0         0         0\n";
constexpr const char* kVAndD = "         1         1         0         0         0         0\n";

TEST(Compare, TableNestedTestAndPlot) {
  TempDir dir;
  const fs::path small = dir.path() / "d.in", large = dir.path() / "vd.in";
  std::ofstream(small) << small_deck(kCompared, kOnlyD);
  std::ofstream(large) << small_deck(kCompared, kVAndD);
  const std::string prefix = (dir.path() / "cmp").string();
  const Outcome o = run({"compare", small.string(), large.string(), "-o", prefix});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(o.err.empty()) << o.err;
  EXPECT_NE(o.out.find("comparison of 2 fits of the same 9 observations"), std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find("  #  deck"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("dAICc   weight"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("  1  " + small.string()), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("  2  " + large.string()), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("  #1 within #2 (extra: V): F(1, 7) = "), std::string::npos) << o.out;
  EXPECT_EQ(o.out.find("#2 within #1"), std::string::npos) << o.out;
  // One line per model, the observations with the first.
  const auto series = svg_series(read_file(prefix + ".svg"));
  ASSERT_EQ(series.size(), 4u);  // 2 models × 2 distances
  EXPECT_EQ(series[0].points + series[1].points, 9);
  EXPECT_EQ(series[2].points + series[3].points, 0);
  for (const auto& s : series) EXPECT_EQ(s.paths, 1);
  EXPECT_EQ(series[0].label, "#1: model 2, p = 1, x = 10");
  EXPECT_EQ(series[3].label, "#2: model 2, p = 2, x = 20");

  // The same as JSON: the table and the nested pair.
  const Outcome j = run({"compare", small.string(), large.string(), "--json"});
  ASSERT_EQ(j.status, 0) << j.err;
  EXPECT_EQ(j.out.rfind("{\n  \"program\": \"btcfit-stats\",\n  \"command\": \"compare\"", 0), 0u)
      << j.out;
  for (const char* key : {"\"table\": [", "\"delta_aicc\": 0,", "\"nested\": [",
                          "\"extra\": [\"V\"]", "\"p_value\": ", "\"refinement\": {"}) {
    EXPECT_NE(j.out.find(key), std::string::npos) << key << "\n" << j.out;
  }
}

TEST(Compare, DifferentObservationsAreRejected) {
  TempDir dir;
  std::vector<std::array<double, 3>> moved = kCompared;
  moved[6][2] = 1.25;  // one time differs
  std::vector<std::array<double, 3>> fewer(kCompared.begin(), kCompared.end() - 1);
  const fs::path a = dir.path() / "a.in", b = dir.path() / "b.in", c = dir.path() / "c.in";
  std::ofstream(a) << small_deck(kCompared);
  std::ofstream(b) << small_deck(moved);
  std::ofstream(c) << small_deck(fewer);
  const Outcome o = run({"compare", a.string(), b.string()});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "btcfit-stats: compare: " + b.string() + " does not hold the observations of " +
                       a.string() + ": observation 7 has time 1.25 against 1.2\n");
  EXPECT_TRUE(o.out.empty());
  const Outcome f = run({"compare", a.string(), c.string()});
  EXPECT_EQ(f.status, 1);
  EXPECT_NE(f.err.find("8 observations against 9"), std::string::npos) << f.err;
  // Fewer than two decks: a usage error.
  const Outcome one = run({"compare", a.string()});
  EXPECT_EQ(one.status, 2);
  EXPECT_NE(one.err.find("compare needs at least two DECKs"), std::string::npos) << one.err;
}

TEST(Json, WholeSummaryOfOneDeck) {
  TempDir dir;
  const fs::path deck = dir.path() / "d.in";
  std::ofstream(deck) << small_deck(kCompared);
  const Outcome text = run({deck.string()});
  const Outcome o = run({deck.string(), "--json"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.find("Varied coefficients"), std::string::npos);  // JSON only
  EXPECT_EQ(o.out.rfind("{\n  \"program\": \"btcfit-stats\",\n  \"command\": \"fit\",\n", 0), 0u)
      << o.out;
  for (const char* key :
       {"\"statistics\": {", "\"verdict\": \"determined\"", "\"correlation\": [",
        "\"refinement\": {", "\"search_at_local_minimum\": ", "\"criteria\": {",
        "\"aicc\": ", "\"profiles\": {", "\"linearized_lower\": ", "\"points\": [",
        "\"files\": []"}) {
    EXPECT_NE(o.out.find(key), std::string::npos) << key << "\n" << o.out;
  }
  // The same fit as the text summary: btcfit's final progress line.
  const auto at = text.out.find("btcfit's final progress line for this deck:\n");
  ASSERT_NE(at, std::string::npos);
  const auto start = text.out.find('\n', at) + 1;
  const std::string progress = text.out.substr(start, text.out.find('\n', start) - start);
  EXPECT_NE(o.out.find("\"final_progress_line\": \"" + progress + "\""), std::string::npos)
      << progress;
}

// The analysis library gives the program's numbers: to_json of the same
// problem and fit is the program's --json document, character for
// character (the program adds nothing of its own to it).
TEST(StatsProgram, JsonEqualsTheAnalysisLibrarys) {
  for (const char* name : {"example", "equilibrium-multipulse"}) {
    const std::string deck = golden(name) + "/deck";
    const Outcome o = run({deck, "--json"});
    ASSERT_EQ(o.status, 0) << o.err;
    const Problem problem = read_deck(deck);
    analysis::JsonOptions options;
    options.label = deck;
    const std::string json = analysis::to_json(problem, analysis::fit(problem), options);
    EXPECT_EQ(o.out, json) << name;
  }
}

// --method: the fit of the deck by another method, named in the summary;
// an unknown method is refused with exit status 2.
TEST(StatsProgram, MethodOption) {
  const Outcome bad = run({"--method", "simplex", golden("example") + "/deck"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("unknown method 'simplex' (annealing, least_squares or global)"),
            std::string::npos)
      << bad.err;
  const Outcome twice = run({"--method", "global", "--method", "global", "x"});
  EXPECT_EQ(twice.status, 2);
  EXPECT_NE(twice.err.find("option --method given twice"), std::string::npos) << twice.err;
}

// --units: the axes and the legend carry the units of length and time.
TEST(StatsProgram, UnitsOnThePlot) {
  TempDir dir;
  const std::string prefix = (dir.path() / "plot").string();
  const Outcome o = run({golden("example") + "/deck", "-o", prefix, "--units", "cm,h"});
  ASSERT_EQ(o.status, 0) << o.err;
  const std::string svg = read_file(prefix + ".svg");
  EXPECT_NE(svg.find(">time (h)</text>"), std::string::npos) << svg;
  EXPECT_NE(svg.find("data-label=\"x = 30 cm\""), std::string::npos) << svg;
  for (const char* bad : {"cm", "cm,", ",h", "cm,h,s"}) {
    const Outcome refused = run({golden("example") + "/deck", "--units", bad});
    EXPECT_EQ(refused.status, 2) << bad;
    EXPECT_NE(refused.err.find("option --units needs LENGTH,TIME"), std::string::npos) << refused.err;
  }
}

}  // namespace
}  // namespace btcfit::stats
