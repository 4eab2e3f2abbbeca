// The console program's command line: `btcfit`, `btcfit DECK [REPORT]`,
// `btcfit --help`, `btcfit --version`.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace btcfit {

struct CommandLine {
  enum class Action {
    dialogue,  // no arguments: ask for the two file names
    fit,       // fit `deck`, write the report to `report`
    help,      // show the usage
    version,   // show the program's name and version
    wrong,     // an unknown option or too many arguments: `error` says which
  };
  Action action = Action::dialogue;
  std::string deck;
  std::string report;
  std::string error;
};

// Reads the arguments that follow the program's name. Options come before
// the file names; "--" ends the options, so that a name may begin with "-".
CommandLine parse_command_line(const std::vector<std::string>& arguments);

// The report's name when only the deck is given: the deck's name with its
// extension (the part from the last dot of the file name on, if any)
// replaced by ".out", in the deck's folder.
std::string default_report_name(const std::string& deck);

// The text of `btcfit --help`, one screen.
std::string usage_text();

// Runs what the arguments ask for with the console on `in` and `out`,
// diagnostics and usage errors on `err`, and returns the exit status.
int run_command_line(const std::vector<std::string>& arguments, std::FILE* in,
                     std::FILE* out, std::FILE* err, int threads);

}  // namespace btcfit
