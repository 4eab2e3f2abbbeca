#include "support/program_run.hpp"

#if defined(_WIN32)
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace btcfit::testing_support {

namespace fs = std::filesystem;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::optional<std::string> read_file_if_exists(const std::string& path) {
  if (!fs::exists(path)) return std::nullopt;
  return read_file(path);
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

namespace {

int process_id() {
#if defined(_WIN32)
  return _getpid();
#else
  return static_cast<int>(::getpid());
#endif
}

// A word for the command processor: in single quotes for the POSIX shell,
// in double quotes for Windows' cmd (whose file names hold no quote).
std::string shell_quoted(const std::string& word) {
#if defined(_WIN32)
  return "\"" + word + "\"";
#else
  std::string q = "'";
  for (char c : word) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
#endif
}

// Runs `arguments` for the program in `dir` with standard input from
// `input` and the two output streams into .console and .diagnostics there,
// and returns the program's exit status.
int run_program_in(const std::string& dir, const std::vector<std::string>& arguments,
                   const std::string& input) {
#if defined(_WIN32)
  // Absolute names with the drive, in Windows' spelling, so that cmd takes
  // neither for a switch; the whole line in one more pair of quotes, which
  // cmd /c takes off.
  const auto windows_name = [](const std::string& name) {
    return fs::absolute(fs::path(name)).make_preferred().string();
  };
  std::string command = "\"cd /d " + shell_quoted(windows_name(dir)) + " && " +
                        shell_quoted(windows_name(BTCFIT_EXE));
#else
  std::string command = "cd " + shell_quoted(dir) + " && '" BTCFIT_EXE "'";
#endif
  for (const std::string& a : arguments) {
    command += ' ';
    command += shell_quoted(a);
  }
  command += " < ";
  command += input;
  command += " > .console 2> .diagnostics";
#if defined(_WIN32)
  command += '"';
  return std::system(command.c_str());
#else
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
#endif
}

}  // namespace

std::string make_work_dir(const std::string& tag) {
  static std::atomic<int> counter{0};
  const char* tmp = std::getenv("TMPDIR");
  fs::path base = (tmp != nullptr ? fs::path(tmp) : fs::temp_directory_path()) /
                  ("btcfit-tests-" + std::to_string(process_id()));
  fs::path dir = base / (tag + "-" + std::to_string(counter++));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

ProgramRun run_in(const std::string& dir, const std::string& replies,
                  const std::string& report_name) {
  write_file(dir + "/.replies", replies);
  ProgramRun run;
  run.directory = dir;
  run.status = run_program_in(dir, {}, ".replies");
  run.console = read_file(dir + "/.console");
  run.diagnostics = read_file(dir + "/.diagnostics");
  run.report = read_file_if_exists(dir + "/" + report_name);
  run.pd = read_file_if_exists(dir + "/pd.dat");
  return run;
}

ProgramRun run_with_arguments(const std::string& dir, const std::vector<std::string>& arguments,
                              const std::string& report_path) {
  write_file(dir + "/.replies", "");
  ProgramRun run;
  run.directory = dir;
  run.status = run_program_in(dir, arguments, ".replies");
  run.console = read_file(dir + "/.console");
  run.diagnostics = read_file(dir + "/.diagnostics");
  const fs::path report = fs::path(report_path).is_absolute() ? fs::path(report_path)
                                                              : fs::path(dir) / report_path;
  run.report = read_file_if_exists(report.string());
  run.pd = read_file_if_exists(dir + "/pd.dat");
  return run;
}

ProgramRun run_deck(const std::string& deck, const std::string& tag) {
  const std::string dir = make_work_dir(tag);
  write_file(dir + "/deck.in", deck);
  return run_in(dir, "deck.in\nreport.out\n");
}

std::string data_path(const std::string& relative) {
  return std::string(BTCFIT_TEST_DATA) + "/" + relative;
}

std::string test_name_of(const std::string& folder) {
  std::string s = folder;
  for (char& c : s) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return s;
}

}  // namespace btcfit::testing_support
