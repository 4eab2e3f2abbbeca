#include "apps/btcfit/command_line.hpp"

#include <filesystem>

#include "apps/btcfit/run.hpp"

#ifndef BTCFIT_VERSION
#error "BTCFIT_VERSION must be defined by the build"
#endif

namespace btcfit {

CommandLine parse_command_line(const std::vector<std::string>& arguments) {
  CommandLine line;
  std::vector<std::string> names;
  bool options_ended = false;
  for (const std::string& a : arguments) {
    if (!options_ended && a.size() > 1 && a[0] == '-') {
      if (a == "--") {
        options_ended = true;
      } else if (a == "--help" || a == "-h") {
        line.action = CommandLine::Action::help;
        return line;
      } else if (a == "--version") {
        line.action = CommandLine::Action::version;
        return line;
      } else {
        line.action = CommandLine::Action::wrong;
        line.error = "unknown option '" + a + "'";
        return line;
      }
      continue;
    }
    names.push_back(a);
  }
  if (names.size() > 2) {
    line.action = CommandLine::Action::wrong;
    line.error = "too many arguments: " + std::to_string(names.size()) +
                 " file names where DECK and REPORT are the most";
    return line;
  }
  for (const std::string& n : names) {
    if (n.empty()) {
      line.action = CommandLine::Action::wrong;
      line.error = "an empty file name";
      return line;
    }
  }
  if (names.empty()) {
    // "btcfit --" alone is the dialogue as well.
    line.action = CommandLine::Action::dialogue;
    return line;
  }
  line.action = CommandLine::Action::fit;
  line.deck = names[0];
  line.report = names.size() == 2 ? names[1] : default_report_name(names[0]);
  return line;
}

std::string default_report_name(const std::string& deck) {
  std::filesystem::path p(deck);
  p.replace_extension(".out");
  return p.string();
}

std::string usage_text() {
  return "Usage: btcfit [DECK [REPORT]]\n"
         "Fits a transport model to the breakthrough data of an input deck and\n"
         "writes the report: the problem, the search's progress and the observed\n"
         "against the fitted concentrations.\n"
         "\n"
         "  btcfit               ask for the deck's and the report's names (at most\n"
         "                       15 characters each) on the console\n"
         "  btcfit DECK          fit DECK; the report is DECK with its extension\n"
         "                       replaced by .out (deck.in -> deck.out)\n"
         "  btcfit DECK REPORT   fit DECK, write the report to REPORT\n"
         "  btcfit --help        show this text (also -h)\n"
         "  btcfit --version     show the version\n"
         "\n"
         "File names may be of any length, with their folders. When the deck asks\n"
         "for it, pd.dat is written in the working directory. \"--\" ends the\n"
         "options, for a file name that begins with \"-\".\n"
         "\n"
         "Exit status: 0 the fit ran to its end, 1 the deck is refused, 2 an\n"
         "input/output failure or a wrong command line.\n";
}

int run_command_line(const std::vector<std::string>& arguments, std::FILE* in,
                     std::FILE* out, std::FILE* err, int threads) {
  const CommandLine line = parse_command_line(arguments);
  switch (line.action) {
    case CommandLine::Action::dialogue:
      return run_program(in, out, err, threads);
    case CommandLine::Action::fit:
      return run_files(line.deck, line.report, err, threads);
    case CommandLine::Action::help:
      std::fputs(usage_text().c_str(), out);
      return std::fflush(out) == 0 ? kExitNormal : kExitIoFailure;
    case CommandLine::Action::version:
      std::fputs("btcfit " BTCFIT_VERSION "\n", out);
      return std::fflush(out) == 0 ? kExitNormal : kExitIoFailure;
    case CommandLine::Action::wrong:
      break;
  }
  std::fprintf(err, "btcfit: %s (btcfit --help shows the usage)\n", line.error.c_str());
  return kExitUsage;
}

}  // namespace btcfit
