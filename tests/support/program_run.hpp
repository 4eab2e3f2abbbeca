// Runs the built program as a user would: in a fresh working directory,
// with the deck as a file and the two replies on standard input.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace btcfit::testing_support {

struct ProgramRun {
  int status = -1;
  std::string console;      // standard output
  std::string diagnostics;  // standard error
  std::optional<std::string> report;  // report.out, if it exists
  std::optional<std::string> pd;      // pd.dat, if it exists
  std::string directory;              // where it ran
};

std::string read_file(const std::string& path);
std::optional<std::string> read_file_if_exists(const std::string& path);
void write_file(const std::string& path, const std::string& text);

// A new empty directory under the test temporary directory.
std::string make_work_dir(const std::string& tag);

// Runs the program in `dir` with `replies` on standard input (the deck and
// any other files must already be there). The report name is taken from
// the replies; `report_name` says which file to collect as the report.
ProgramRun run_in(const std::string& dir, const std::string& replies,
                  const std::string& report_name = "report.out");

// Runs the program in `dir` with `arguments` on its command line and
// standard input empty. Collects the report from `report_path` (relative to
// `dir` or absolute) and pd.dat from `dir`.
ProgramRun run_with_arguments(const std::string& dir, const std::vector<std::string>& arguments,
                              const std::string& report_path);

// Writes `deck` as deck.in in a new directory and runs the program with the
// replies "deck.in" and "report.out".
ProgramRun run_deck(const std::string& deck, const std::string& tag);

// Path of a file of the test data.
std::string data_path(const std::string& relative);

// A deck's folder name as a test name: letters, digits and underscores.
std::string test_name_of(const std::string& folder);

}  // namespace btcfit::testing_support
