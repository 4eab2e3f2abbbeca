// The console program's command line: `btcfit DECK [REPORT]` with names of
// any length, `--help`, `--version`, and the one-line refusal of a wrong
// command line. The reports are compared with the reference run of the
// example deck (tests/data/golden/example), byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "apps/btcfit/command_line.hpp"
#include "support/program_run.hpp"

namespace {

using namespace btcfit::testing_support;
namespace fs = std::filesystem;

std::string example_deck() { return read_file(data_path("golden/example/deck")); }
std::string example_report() { return read_file(data_path("golden/example/report.out")); }

int line_count(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// Where the deck is put (relative to the working directory), the arguments
// after the program's name ("@" stands for the working directory's
// absolute path), and where the report must appear.
struct NamedRun {
  const char* name;
  const char* deck;
  std::vector<std::string> arguments;
  const char* report;
};

class CommandLineRun : public ::testing::TestWithParam<NamedRun> {};

TEST_P(CommandLineRun, WritesTheReferenceReport) {
  const NamedRun& c = GetParam();
  const std::string dir = make_work_dir("args");
  fs::create_directories(fs::path(dir) / fs::path(c.deck).parent_path());
  write_file(dir + "/" + c.deck, example_deck());
  std::vector<std::string> arguments;
  for (std::string a : c.arguments) {
    if (a.rfind("@", 0) == 0) a = dir + a.substr(1);
    arguments.push_back(a);
  }
  const ProgramRun run = run_with_arguments(dir, arguments, c.report);
  EXPECT_EQ(run.status, 0) << run.diagnostics;
  EXPECT_EQ(run.diagnostics, "");
  // No dialogue: nothing on the console.
  EXPECT_EQ(run.console, "");
  ASSERT_TRUE(run.report.has_value()) << "no report at " << c.report;
  EXPECT_EQ(*run.report, example_report());
  // The example deck does not ask for pd.dat.
  EXPECT_FALSE(run.pd.has_value());
  EXPECT_EQ(read_file(dir + "/" + c.deck), example_deck());
}

INSTANTIATE_TEST_SUITE_P(
    Names, CommandLineRun,
    ::testing::Values(
        // Names far longer than the dialogue's 15 characters, with folders.
        NamedRun{"RelativeLongNames", "field runs of 2024/column_2024_run1.in",
                 {"field runs of 2024/column_2024_run1.in",
                  "field runs of 2024/column_2024_run1_fitted.out"},
                 "field runs of 2024/column_2024_run1_fitted.out"},
        NamedRun{"AbsoluteLongNames", "decks/a folder with a long name/column_2024_run1.in",
                 {"@/decks/a folder with a long name/column_2024_run1.in",
                  "@/decks/../column_2024_run1.out"},
                 "column_2024_run1.out"},
        // REPORT left out: the deck's name with .out for its extension.
        NamedRun{"DefaultReportName", "column_2024_run1.in", {"column_2024_run1.in"},
                 "column_2024_run1.out"},
        NamedRun{"DefaultReportBesideTheDeck", "runs.v2/deck.dat", {"@/runs.v2/deck.dat"},
                 "runs.v2/deck.out"},
        NamedRun{"DefaultReportNoExtension", "deck", {"deck"}, "deck.out"},
        // "--" ends the options: a name may begin with "-".
        NamedRun{"NameAfterDoubleDash", "-deck.in", {"--", "-deck.in"}, "-deck.out"}),
    [](const auto& info) { return std::string(info.param.name); });

// pd.dat stays in the working directory, wherever the deck and report are.
TEST(CommandLine, PdFileInTheWorkingDirectory) {
  const std::string golden = data_path("golden/equilibrium-multipulse");
  const std::string dir = make_work_dir("args-pd");
  fs::create_directories(dir + "/in a folder");
  write_file(dir + "/in a folder/equilibrium_multipulse.in", read_file(golden + "/deck"));
  const ProgramRun run = run_with_arguments(dir, {"in a folder/equilibrium_multipulse.in"},
                                            "in a folder/equilibrium_multipulse.out");
  EXPECT_EQ(run.status, 0) << run.diagnostics;
  ASSERT_TRUE(run.report.has_value());
  EXPECT_EQ(*run.report, read_file(golden + "/report.out"));
  EXPECT_EQ(run.pd, read_file_if_exists(golden + "/pd.dat"));
  EXPECT_FALSE(fs::exists(dir + "/in a folder/pd.dat"));
}

// The report never overwrites the deck, however the two names are written.
TEST(CommandLine, ReportNamedAsTheDeckIsRefused) {
  const std::vector<std::vector<std::string>> cases = {
      {"a long folder name/deck.out", "a long folder name/./deck.out"},
      {"@/a long folder name/deck.out", "a long folder name/../a long folder name/deck.out"},
      // The default report name is the deck's own.
      {"a long folder name/deck.out"},
#if defined(_WIN32)
      // Names that differ only in case lead to one file on Windows.
      {"a long folder name/deck.out", "A LONG FOLDER NAME/DECK.OUT"},
#endif
  };
  for (const auto& arguments : cases) {
    const std::string dir = make_work_dir("args-same");
    fs::create_directories(dir + "/a long folder name");
    write_file(dir + "/a long folder name/deck.out", example_deck());
    std::vector<std::string> args;
    for (std::string a : arguments) args.push_back(a.rfind("@", 0) == 0 ? dir + a.substr(1) : a);
    const ProgramRun run = run_with_arguments(dir, args, "a long folder name/deck.out");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.diagnostics.find("the report file is the input deck itself"),
              std::string::npos)
        << run.diagnostics;
    EXPECT_EQ(line_count(run.diagnostics), 1) << run.diagnostics;
    EXPECT_EQ(read_file(dir + "/a long folder name/deck.out"), example_deck());
  }
}

TEST(CommandLine, MissingDeckNamedWhole) {
  const std::string dir = make_work_dir("args-missing");
  const std::string deck = "no such folder of decks/column_2024_run1.in";
  const ProgramRun run = run_with_arguments(dir, {deck, "column_2024_run1.out"},
                                            "column_2024_run1.out");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.diagnostics.find("unit 5 (" + deck + ")"), std::string::npos)
      << run.diagnostics;
  // The report is created before the deck is opened, as in the dialogue.
  EXPECT_EQ(run.report, std::optional<std::string>(""));
}

TEST(CommandLine, HelpIsOneScreenOnStandardOutput) {
  for (const char* option : {"--help", "-h"}) {
    const std::string dir = make_work_dir("args-help");
    const ProgramRun run = run_with_arguments(dir, {option}, "none");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.diagnostics, "");
    EXPECT_EQ(run.console, btcfit::usage_text());
    EXPECT_EQ(run.console.rfind("Usage: btcfit [DECK [REPORT]]\n", 0), 0u) << run.console;
    // One screen: at most 24 lines of at most 80 characters.
    EXPECT_LE(line_count(run.console), 24);
    std::istringstream lines(run.console);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
    for (const char* word : {"--help", "--version", "DECK", "REPORT", ".out", "pd.dat"}) {
      EXPECT_NE(run.console.find(word), std::string::npos) << word;
    }
  }
}

TEST(CommandLine, VersionIsTheProjectVersion) {
  const std::string dir = make_work_dir("args-version");
  const ProgramRun run = run_with_arguments(dir, {"--version"}, "none");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.diagnostics, "");
  // The version of the project() call in the top CMakeLists.txt.
  EXPECT_EQ(run.console, "btcfit " BTCFIT_PROJECT_VERSION "\n");
}

// A wrong command line: one line on standard error, status 2, no file
// touched and no dialogue.
struct WrongLine {
  const char* name;
  std::vector<std::string> arguments;
  const char* says;
};

class WrongCommandLine : public ::testing::TestWithParam<WrongLine> {};

TEST_P(WrongCommandLine, OneLineAndStatus2) {
  const WrongLine& c = GetParam();
  const std::string dir = make_work_dir("args-wrong");
  write_file(dir + "/deck.in", example_deck());
  const ProgramRun run = run_with_arguments(dir, c.arguments, "deck.out");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.console, "");
  EXPECT_EQ(line_count(run.diagnostics), 1) << run.diagnostics;
  EXPECT_EQ(run.diagnostics.rfind("btcfit: ", 0), 0u) << run.diagnostics;
  EXPECT_EQ(run.diagnostics.back(), '\n');
  EXPECT_NE(run.diagnostics.find(c.says), std::string::npos) << run.diagnostics;
  EXPECT_NE(run.diagnostics.find("--help"), std::string::npos) << run.diagnostics;
  EXPECT_FALSE(run.report.has_value());
  EXPECT_FALSE(fs::exists(dir + "/report.out"));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, WrongCommandLine,
    ::testing::Values(WrongLine{"UnknownLongOption", {"--frobnicate"}, "'--frobnicate'"},
                      WrongLine{"UnknownShortOption", {"-x", "deck.in"}, "'-x'"},
                      WrongLine{"OptionAfterNames", {"deck.in", "--verbose"}, "'--verbose'"},
                      WrongLine{"ThreeNames", {"deck.in", "deck.out", "more"}, "too many"},
                      WrongLine{"EmptyName", {""}, "empty file name"}),
    [](const auto& info) { return std::string(info.param.name); });

// The reading of the arguments, in the process.
TEST(CommandLine, ParseActions) {
  using Action = btcfit::CommandLine::Action;
  struct Case {
    std::vector<std::string> arguments;
    Action action;
    const char* deck;
    const char* report;
  };
  const std::vector<Case> cases = {
      {{}, Action::dialogue, "", ""},
      {{"--"}, Action::dialogue, "", ""},
      {{"a.in"}, Action::fit, "a.in", "a.out"},
      {{"a.in", "b.txt"}, Action::fit, "a.in", "b.txt"},
      {{"-"}, Action::fit, "-", "-.out"},
      {{"--version", "a.in"}, Action::version, "", ""},
      {{"a.in", "--help"}, Action::help, "", ""},
      {{"--", "--help"}, Action::fit, "--help", "--help.out"},
      {{"--bogus", "--help"}, Action::wrong, "", ""},
  };
  for (const Case& c : cases) {
    const btcfit::CommandLine line = btcfit::parse_command_line(c.arguments);
    EXPECT_EQ(line.action, c.action) << ::testing::PrintToString(c.arguments);
    EXPECT_EQ(line.deck, c.deck);
    EXPECT_EQ(line.report, c.report);
  }
}

TEST(CommandLine, DefaultReportName) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"column_2024_run1.in", "column_2024_run1.out"},
      {"deck", "deck.out"},
      {"deck.tar.in", "deck.tar.out"},  // only the last extension
      {"runs.v2/deck", "runs.v2/deck.out"},  // a dot in the folder is no extension
      {"/data/field runs/deck.dat", "/data/field runs/deck.out"},
      {".hidden", ".hidden.out"},  // a leading dot starts no extension
      {"deck.out", "deck.out"},  // the deck's own name: refused by the run
  };
  for (const auto& [deck, report] : cases) {
    EXPECT_EQ(btcfit::default_report_name(deck), report) << deck;
  }
}

}  // namespace
