#include "apps/btcfit/run.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <vector>
#include <memory>
#include <string>

#include "btcfit/btcfit.hpp"
#include "api/deck_reader.hpp"
#include "api/echo_writer.hpp"
#include "api/problem_conversion.hpp"
#include "apps/btcfit/file_identity.hpp"
#include "problem/problem_record.hpp"
#include "report/record_layout.hpp"
#include "report/run_report.hpp"

namespace btcfit {
namespace {

std::string trimmed_name(const std::array<char, 15>& field) {
  std::string name(field.data(), field.size());
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

// Asks for one file name: writes the prompt record, reads one reply record.
void ask(const Layout& prompt, OutputUnit& console_out, InputUnit& console_in,
         std::array<char, 15>& reply) {
  static const Layout answer("(A15)");
  write_record(prompt, {}, console_out);
  console_out.flush();
  read_record(answer, console_in, {FieldTarget(reply.data(), reply.size())});
}

// Whether the deck's control record asks for pd.dat. Read ahead of the run
// only to protect the report; any trouble reading it is left for the run
// itself to report in its place.
bool deck_asks_for_pd_file(const std::string& infile) {
  static const Layout integers7("(7I10)");
  std::FILE* f = std::fopen(infile.c_str(), "rb");
  if (f == nullptr) return false;
  InputUnit deck(5, infile, f, true);
  std::int32_t first = 0;
  std::int32_t control[7] = {};
  try {
    read_record(integers7, deck, {first});
    read_record(integers7, deck,
                {control[0], control[1], control[2], control[3], control[4],
                 control[5], control[6]});
  } catch (const IoError&) {
    return false;
  }
  return control[6] >= 2;
}

// The search's progress on a terminal: one line on standard error,
// rewritten in place after each outer iteration and erased at the end. Not
// written at all when standard error is not a terminal, so that logs and
// redirected output stay as they are.
class StatusLine {
 public:
  explicit StatusLine(std::FILE* terminal)
      : terminal_(terminal != nullptr && ::isatty(::fileno(terminal)) ? terminal : nullptr) {}
  ~StatusLine() { erase(); }

  void show(int iteration, double ssq) {
    if (terminal_ == nullptr) return;
    std::fprintf(terminal_, "\rbtcfit: iteration %d, best SSQ %.6g\x1b[K", iteration, ssq);
    std::fflush(terminal_);
    shown_ = true;
  }
  void erase() {
    if (!shown_) return;
    std::fputs("\r\x1b[K", terminal_);
    std::fflush(terminal_);
    shown_ = false;
  }

 private:
  std::FILE* terminal_;
  bool shown_ = false;
};

// The two file names from the console dialogue.
struct FileNames {
  std::string deck;
  std::string report;
};

FileNames ask_file_names(std::FILE* console_in_file, std::FILE* console_out_file) {
  static const Layout input_prompt("(' Enter Input file name --> ')");
  static const Layout output_prompt("(' Enter Output file name -> ')");

  OutputUnit console_out(6, "standard output", console_out_file, false);
  InputUnit console_in(5, "standard input", console_in_file, false);
  std::array<char, 15> input_reply{};
  std::array<char, 15> output_reply{};
  ask(input_prompt, console_out, console_in, input_reply);
  ask(output_prompt, console_out, console_in, output_reply);
  console_out.flush();
  return {trimmed_name(input_reply), trimmed_name(output_reply)};
}

void run(const std::string& infile, const std::string& outfile, int threads,
         std::FILE* diagnostics) {
  // Opening the report would truncate the deck if both names lead to the
  // same file.
  if (same_existing_file(infile, outfile)) {
    throw IoError(6, outfile, "the report file is the input deck itself; "
                              "refusing to overwrite it");
  }

  if (same_file_name(outfile, "pd.dat") && deck_asks_for_pd_file(infile)) {
    throw IoError(6, outfile, "the report file is pd.dat, which the deck "
                              "asks to be written too; choose another name");
  }

  std::FILE* report_file = std::fopen(outfile.c_str(), "wb");
  if (report_file == nullptr) {
    throw IoError(6, outfile,
                  std::string("cannot open for writing: ") + std::strerror(errno));
  }
  OutputUnit report(6, outfile, report_file, true);

  std::FILE* deck_file = std::fopen(infile.c_str(), "rb");
  if (deck_file == nullptr) {
    throw IoError(5, infile, std::string("cannot open: ") + std::strerror(errno));
  }
  InputUnit deck(5, infile, deck_file, true);

  // The echo goes into the report block by block as the deck is read.
  auto rec = std::make_unique<ProblemRecord>();
  EchoWriter echo(report, true);
  read_deck(*rec, deck, echo);
  const Problem problem = problem_of(*rec);

  FitOptions options;
  options.threads = threads;
  bool heading_written = false;
  StatusLine status(diagnostics);
  options.progress = [&](const ProgressLine& line) {
    status.show(line.iteration, line.ssq);
    if (!heading_written) {
      write_progress_heading(report);
      heading_written = true;
    }
    write_progress_line(line.iteration, line.ssq, line.coefficients, report);
  };
  const FitResult result = fit(problem, options);
  // The last progress line, repeated under the number at which the search
  // ended, and the table of observed against calculated concentrations.
  write_progress_line(result.iterations, result.ssq, result.coefficients, report);
  std::vector<double> observed;
  for (const Observation& o : problem.observations) observed.push_back(o.concentration);
  write_final_table(observed, result.calculated, report);
  report.close();
}

// The diagnostic line and exit status of a run that ends with an error.
template <class Run>
int with_diagnostics(std::FILE* diagnostics, Run&& body) {
  try {
    body();
    return kExitNormal;
  } catch (const ProblemError& e) {
    std::fprintf(diagnostics, "btcfit: %s\n", e.what());
    return kExitRejected;
  } catch (const IoError& e) {
    std::fprintf(diagnostics, "btcfit: %s\n", e.what());
    return kExitIoFailure;
  } catch (const std::exception& e) {
    // Nothing should get here (memory exhausted, say); end with a message
    // rather than an abort.
    std::fprintf(diagnostics, "btcfit: %s\n", e.what());
    return kExitIoFailure;
  }
}

}  // namespace

int run_program(std::FILE* console_in, std::FILE* console_out,
                std::FILE* diagnostics, int threads) {
  return with_diagnostics(diagnostics, [&] {
    const FileNames names = ask_file_names(console_in, console_out);
    run(names.deck, names.report, threads, diagnostics);
  });
}

int run_files(const std::string& deck, const std::string& report,
              std::FILE* diagnostics, int threads) {
  return with_diagnostics(diagnostics, [&] { run(deck, report, threads, diagnostics); });
}

}  // namespace btcfit
