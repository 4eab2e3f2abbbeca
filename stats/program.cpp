#include "stats/program.hpp"

#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "btcfit/btcfit.hpp"
#include "stats/deck_fit.hpp"
#include "stats/fit_statistics.hpp"
#include "stats/plot_svg.hpp"
#include "stats/summary.hpp"

namespace btcfit::stats {
namespace {

constexpr const char* kUsage = "usage: btcfit-stats DECK [-o PREFIX]";

constexpr const char* kHelp =
    "usage: btcfit-stats DECK [-o PREFIX]\n"
    "\n"
    "Fits the deck DECK exactly as btcfit does (same deck reader, same\n"
    "annealing search, same fitted set) and reports how well the fitted\n"
    "coefficients are determined. btcfit's own files are not written.\n"
    "\n"
    "The summary on standard output gives, for each varied coefficient, its\n"
    "value, standard error and 95 % confidence interval (Student t with n - p\n"
    "degrees of freedom), then the correlation matrix of the varied\n"
    "coefficients, then n, p, SSQ, s^2 = SSQ/(n - p), RMSE = sqrt(SSQ/n) and\n"
    "R^2 of observed against calculated concentrations. The covariance is\n"
    "s^2 (J^T J)^-1, with the Jacobian J of the calculated concentrations\n"
    "taken by central differences with steps\n"
    "  h_k = 1e-5 * max(|b_k|, 0.01 * (upper bound - lower bound)).\n"
    "Where n <= p, or J^T J is singular, the summary says so (naming the\n"
    "coefficient the data cannot determine) instead of giving numbers.\n"
    "\n"
    "Options:\n"
    "  -o PREFIX   also write PREFIX.svg (observed concentrations as points and\n"
    "              the fitted curve as a line, one colour per distance, or per\n"
    "              time for depth profiles) and PREFIX.csv (the fitted curves on\n"
    "              a fine grid: distance,time,concentration)\n"
    "  -h, --help  show this help\n"
    "\n"
    "Exit status: 0 done; 1 the deck is rejected (as btcfit would reject it);\n"
    "2 wrong arguments, or a file that cannot be read or written.\n";

struct Arguments {
  std::string deck;
  std::optional<std::string> prefix;
  bool help = false;
};

// Parses the arguments; returns an error text, or nothing when they are
// fine.
std::optional<std::string> parse(const std::vector<std::string>& args,
                                 Arguments& parsed) {
  bool have_deck = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      parsed.help = true;
      return std::nullopt;
    }
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-o") {
      if (i + 1 >= args.size()) return "option -o needs a PREFIX";
      if (parsed.prefix) return "option -o given twice";
      parsed.prefix = args[++i];
      if (parsed.prefix->empty()) return "option -o needs a non-empty PREFIX";
    } else if (a.size() > 1 && a[0] == '-') {
      return "unknown option '" + a + "'";
    } else {
      if (have_deck) return "only one DECK may be given";
      parsed.deck = a;
      have_deck = true;
    }
  }
  if (!have_deck || parsed.deck.empty()) return "no DECK given";
  return std::nullopt;
}

class WriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void write_file(const std::string& path, const std::string& content) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    throw WriteError("cannot open " + path + " for writing: " + std::strerror(errno));
  }
  const bool written = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  const int saved = errno;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    throw WriteError("cannot write " + path + ": " +
                     std::strerror(written ? errno : saved));
  }
}

}  // namespace

int run_stats_program(const std::vector<std::string>& args, std::FILE* out,
                      std::FILE* err) {
  Arguments parsed;
  if (const auto problem = parse(args, parsed)) {
    std::fprintf(err, "btcfit-stats: %s\n%s\n", problem->c_str(), kUsage);
    return kExitUsage;
  }
  if (parsed.help) {
    std::fputs(kHelp, out);
    return kExitOk;
  }

  try {
    const DeckFit fit = fit_deck(parsed.deck);
    const StatisticsOptions options;
    const FitStatistics st =
        compute_fit_statistics(varied_model(fit), fit_problem(fit), options);
    const std::string summary = format_summary(summary_input(fit, st, options), st);
    std::fputs(summary.c_str(), out);
    if (parsed.prefix) {
      const DeckPlot plot = deck_plot(fit);
      write_file(*parsed.prefix + ".svg", render_svg(plot.figure));
      write_file(*parsed.prefix + ".csv", curve_csv(plot));
      std::fprintf(out, "\nWritten: %s.svg (plot), %s.csv (fitted curves)\n",
                   parsed.prefix->c_str(), parsed.prefix->c_str());
    }
    std::fflush(out);
    return kExitOk;
  } catch (const ProblemError& e) {
    std::fprintf(err, "btcfit-stats: %s\n", e.what());
    return kExitRejected;
  } catch (const DeckError& e) {
    std::fprintf(err, "btcfit-stats: %s\n", e.what());
    return kExitIo;
  } catch (const WriteError& e) {
    std::fprintf(err, "btcfit-stats: %s\n", e.what());
    return kExitIo;
  }
}

}  // namespace btcfit::stats
