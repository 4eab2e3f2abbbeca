// Decks typed by hand go wrong in many ways. Each case must end with one
// diagnostic line, the right exit status, and the report as far as it had
// been written when the problem was found; the deck itself stays intact.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "support/program_run.hpp"

namespace {

using namespace btcfit::testing_support;

std::vector<std::string> split_records(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string join_records(const std::vector<std::string>& lines, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n && i < lines.size(); ++i) out += lines[i] + "\r\n";
  return out;
}

// The example deck, one string per record.
std::vector<std::string> example_records() {
  return split_records(read_file(data_path("golden/example/deck")));
}

std::string deck_of(const std::vector<std::string>& records) {
  std::string out;
  for (const auto& r : records) out += r + "\n";
  return out;
}

// Lines of the example report written before each point of failure.
constexpr std::size_t kNothing = 0;
constexpr std::size_t kBanner = 12;          // box, after the control record
constexpr std::size_t kInitialValues = 25;   // after record 8
constexpr std::size_t kObservedData = 33;    // the whole echo

struct BadDeck {
  const char* name;
  std::function<std::string()> deck;
  int status;
  const char* message;  // regular expression the diagnostic must contain
  std::size_t report_lines;
};

std::string truncated_after(std::size_t records) {
  auto r = example_records();
  r.resize(records);
  return deck_of(r);
}

std::string with_field(std::size_t record, std::size_t column,
                       const std::string& text) {
  auto r = example_records();
  std::string& line = r[record - 1];
  if (line.size() < column - 1 + text.size()) line.resize(column - 1 + text.size(), ' ');
  line.replace(column - 1, text.size(), text);
  return deck_of(r);
}

const std::vector<BadDeck>& bad_decks() {
  static const std::vector<BadDeck> cases = {
      {"EmptyFile", [] { return std::string(); }, 2,
       R"(unit 5 \(deck\.in\): end of file while reading record 1)", kNothing},
      {"OnlyRecord1", [] { return truncated_after(1); }, 2,
       "end of file while reading record 2", kNothing},
      {"EndsAfterControl", [] { return truncated_after(2); }, 2,
       "end of file while reading record 3", kBanner},
      {"EndsAfterNames", [] { return truncated_after(3); }, 2,
       "end of file while reading record 4", kBanner},
      {"EndsAfterValues", [] { return truncated_after(4); }, 2,
       "end of file while reading record 5", kBanner},
      {"EndsAfterFlags", [] { return truncated_after(5); }, 2,
       "end of file while reading record 6", kBanner},
      {"EndsAfterLowerBounds", [] { return truncated_after(6); }, 2,
       "end of file while reading record 7", kBanner},
      {"EndsAfterUpperBounds", [] { return truncated_after(7); }, 2,
       "end of file while reading record 8", kBanner},
      {"EndsBeforeObservations", [] { return truncated_after(8); }, 2,
       "end of file while reading record 9", kInitialValues},
      {"EndsInsideObservations", [] { return truncated_after(10); }, 2,
       "end of file while reading record 11", kInitialValues},
      {"ModelCodeWithPoint", [] { return with_field(2, 1, "       2.0"); }, 2,
       R"(unreadable integer in columns 1-10 of record 2: "\s*2\.0")", kNothing},
      {"ObservationCountLetters", [] { return with_field(2, 41, "     three"); },
       2, "unreadable integer in columns 41-50 of record 2", kNothing},
      {"FlagWithPoint", [] { return with_field(5, 11, "       1.0"); }, 2,
       "unreadable integer in columns 11-20 of record 5", kBanner},
      {"InitialValueLetters", [] { return with_field(4, 1, "     25.0x"); }, 2,
       "unreadable real in columns 1-10 of record 4", kBanner},
      {"TabInBound", [] { return with_field(6, 21, "\t      1.0"); }, 2,
       "unreadable real in columns 21-30 of record 6", kBanner},
      {"ExponentOutOfRange", [] { return with_field(7, 1, "   1.0E999"); }, 2,
       "unreadable real in columns 1-10 of record 7", kBanner},
      {"ExponentWithoutDigits", [] { return with_field(7, 11, "     500.E"); },
       2, "unreadable real in columns 11-20 of record 7", kBanner},
      {"PulseCountWithPoint", [] { return with_field(8, 21, "       1.0"); }, 2,
       "unreadable integer in columns 21-30 of record 8", kBanner},
      {"ObservationLetters", [] { return with_field(10, 11, "      3O.0"); }, 2,
       "unreadable real in columns 11-20 of record 10", kInitialValues},
      {"ModelCodeNine", [] { return with_field(2, 1, "         9"); }, 1,
       "model code 9 .*outside 1\\.\\.8", kNothing},
      {"ModelCodeZero", [] { return with_field(2, 1, "         0"); }, 1,
       "model code 0 .*outside 1\\.\\.8", kNothing},
      {"TooManyObservations", [] { return with_field(2, 41, "        91"); }, 1,
       "91 observations; at most 90", kNothing},
      {"TooManyObservationsWithoutData",
       [] {
         auto r = example_records();
         r[1] = "         2         0         1         1       500         0         1";
         return deck_of(r);
       },
       1, "500 observations; at most 90", kNothing},
      {"TooManyPulses", [] { return with_field(8, 21, "        11"); }, 1,
       "11 pulses; at most 10", kBanner},
      {"LowerBoundAboveUpper", [] { return with_field(6, 1, "     200.0"); }, 1,
       R"(coefficient 1 \(V\).*bounds 200 \.\. 100)", kObservedData},
      {"BoundsWithNoRoom", [] { return with_field(6, 11, "     500.0"); }, 1,
       R"(coefficient 2 \(D\).*no room.*flag 0)", kObservedData},
      {"InitialValueFarOutside", [] { return with_field(7, 21, "       1.2"); },
       1, R"(coefficient 3 \(R\).*bounds 1 \.\. 1\.2.*initial value 1\.5)",
       kObservedData},
      // R varied between 1.5 and 1.5000001: no step of up to 0.2 would ever
      // land between them; refused before the search instead of running on.
      {"BoundsTooClose",
       [] {
         auto r = example_records();
         r[5].replace(20, 10, "       1.5");
         r[6].replace(20, 10, " 1.5000001");
         return deck_of(r);
       },
       1, R"(coefficient 3 \(R\).*bounds 1\.5 \.\. 1\.5000001.*closer than 0\.001.*widen them, or fix)",
       kObservedData},
  };
  return cases;
}

class BadDeckTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(BadDeckTest, EndsCleanlyWithReportSoFar) {
  const BadDeck& c = bad_decks()[GetParam()];
  const std::string deck = c.deck();
  const ProgramRun run = run_deck(deck, c.name);
  EXPECT_EQ(run.status, c.status) << run.diagnostics;
  // One line on standard error, naming the program.
  EXPECT_EQ(std::count(run.diagnostics.begin(), run.diagnostics.end(), '\n'), 1)
      << run.diagnostics;
  EXPECT_EQ(run.diagnostics.rfind("btcfit: ", 0), 0u) << run.diagnostics;
  EXPECT_TRUE(std::regex_search(run.diagnostics, std::regex(c.message)))
      << run.diagnostics;
  const auto golden = split_records(read_file(data_path("golden/example/report.out")));
  ASSERT_TRUE(run.report.has_value());
  EXPECT_EQ(*run.report, join_records(golden, c.report_lines));
  EXPECT_EQ(read_file(run.directory + "/deck.in"), deck);
  // Prompts were answered before anything went wrong.
  EXPECT_EQ(run.console,
            " Enter Input file name --> \r\n Enter Output file name -> \r\n");
}

INSTANTIATE_TEST_SUITE_P(Corpus, BadDeckTest,
                         ::testing::Range<std::size_t>(0, bad_decks().size()),
                         [](const auto& info) {
                           return std::string(bad_decks()[info.param].name);
                         });

// Decks that differ from the example only in how their lines end, or with
// text after the first field of record 1, give the same report.
struct Variant {
  const char* name;
  std::function<std::string(std::string)> change;
};

class DeckVariantTest : public ::testing::TestWithParam<Variant> {};

TEST_P(DeckVariantTest, GivesTheExampleReport) {
  const std::string deck = GetParam().change(read_file(data_path("golden/example/deck")));
  const ProgramRun run = run_deck(deck, GetParam().name);
  EXPECT_EQ(run.status, 0) << run.diagnostics;
  ASSERT_TRUE(run.report.has_value());
  EXPECT_EQ(*run.report, read_file(data_path("golden/example/report.out")));
}

INSTANTIATE_TEST_SUITE_P(
    LineEnds, DeckVariantTest,
    ::testing::Values(
        Variant{"CrLf",
                [](std::string d) {
                  std::string out;
                  for (char ch : d) {
                    if (ch == '\n') out += '\r';
                    out += ch;
                  }
                  return out;
                }},
        Variant{"NoFinalNewline",
                [](std::string d) {
                  d.pop_back();
                  return d;
                }},
        Variant{"TextAfterRecord1",
                [](std::string d) {
                  return d.replace(d.find('\n'), 0, " any text: not read");
                }},
        Variant{"SurplusLines",
                [](std::string d) { return d + "garbage that is never read\n"; }}),
    [](const auto& info) { return std::string(info.param.name); });

// Failures of the console and the files, outside the deck's contents.
TEST(RunFailures, MissingInputFileLeavesEmptyReport) {
  const std::string dir = make_work_dir("missing");
  const ProgramRun run = run_in(dir, "nosuch.in\nreport.out\n");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.diagnostics.find("unit 5 (nosuch.in)"), std::string::npos)
      << run.diagnostics;
  ASSERT_TRUE(run.report.has_value());
  EXPECT_EQ(*run.report, "");
}

TEST(RunFailures, MissingInputFileLeavesExistingReportAlone) {
  const std::string dir = make_work_dir("missing-keep");
  write_file(dir + "/report.out", "an earlier report\r\n");
  const ProgramRun run = run_in(dir, "nosuch.in\nreport.out\n");
  EXPECT_EQ(run.status, 2);
  // The report is opened first, so it is rewritten from its start.
  ASSERT_TRUE(run.report.has_value());
  EXPECT_EQ(*run.report, "");
}

TEST(RunFailures, StandardInputEndsBeforeReplies) {
  for (const char* replies : {"", "deck.in\n"}) {
    const std::string dir = make_work_dir("stdin");
    write_file(dir + "/deck.in", read_file(data_path("golden/example/deck")));
    const ProgramRun run = run_in(dir, replies);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.diagnostics.find("standard input"), std::string::npos)
        << run.diagnostics;
    EXPECT_FALSE(run.report.has_value());
  }
}

TEST(RunFailures, ReportNamedAsTheDeckIsRefused) {
  for (const char* replies : {"deck.in\ndeck.in\n", "deck.in\n./deck.in\n"}) {
    const std::string dir = make_work_dir("same");
    const std::string deck = read_file(data_path("golden/example/deck"));
    write_file(dir + "/deck.in", deck);
    const ProgramRun run = run_in(dir, replies, "deck.in");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.diagnostics.find("input deck"), std::string::npos)
        << run.diagnostics;
    EXPECT_EQ(read_file(dir + "/deck.in"), deck);
  }
}

TEST(RunFailures, ReportNamedPdDatWhenTheDeckWritesPdDat) {
  const std::string dir = make_work_dir("pd");
  std::string deck = read_file(data_path("golden/example/deck"));
  // Control field 7 = 2: the deck asks for pd.dat.
  auto r = split_records(deck);
  r[1].replace(69, 1, "2");
  deck = deck_of(r);
  write_file(dir + "/deck.in", deck);
  write_file(dir + "/pd.dat", "earlier\r\n");
  const ProgramRun run = run_in(dir, "deck.in\npd.dat\n");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.diagnostics.find("pd.dat"), std::string::npos) << run.diagnostics;
  EXPECT_EQ(read_file(dir + "/pd.dat"), "earlier\r\n");
}

TEST(RunFailures, FullDiskIsNotASuccess) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const std::string dir = make_work_dir("full");
  write_file(dir + "/deck.in", read_file(data_path("golden/example/deck")));
  const ProgramRun run = run_in(dir, "deck.in\n/dev/full\n", "none");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.diagnostics.find("unit 6 (/dev/full)"), std::string::npos)
      << run.diagnostics;
}

}  // namespace
