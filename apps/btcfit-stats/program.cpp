#include "apps/btcfit-stats/program.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "btcfit/btcfit.hpp"
#include "apps/btcfit-stats/analysis_output.hpp"
#include "apps/btcfit-stats/deck_analysis.hpp"
#include "apps/btcfit-stats/deck_fit.hpp"
#include "analysis/fit_statistics.hpp"
#include "apps/btcfit-stats/plot_svg.hpp"
#include "apps/btcfit-stats/summary.hpp"

namespace btcfit::stats {
namespace {

constexpr const char* kUsage =
    "usage: btcfit-stats [--method METHOD] DECK [-o PREFIX] [--json]\n"
    "       btcfit-stats compare [--method METHOD] DECK DECK [DECK...] [-o PREFIX] [--json]";

constexpr const char* kHelp =
    "usage: btcfit-stats [--method METHOD] DECK [-o PREFIX] [--units L,T] [--json]\n"
    "       btcfit-stats compare [--method METHOD] DECK DECK [DECK...] [-o PREFIX] [--json]\n"
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
    "Then: a local refinement of the search's set (bounded Levenberg-Marquardt\n"
    "within the coefficients' bounds), saying whether the search's set is at a\n"
    "local minimum of SSQ; profile-likelihood intervals beside the linearized\n"
    "ones (each coefficient held at values on both sides, the others refined;\n"
    "the interval holds SSQ <= SSQ_min (1 + F(0.95; 1, n - p)/(n - p)), cut at\n"
    "the bounds); and the information criteria AIC, AICc and BIC.\n"
    "\n"
    "compare fits each deck (all with the same observations) and gives a table\n"
    "of p, SSQ, AICc, delta AICc, Akaike weight and BIC, and the F test of the\n"
    "extra coefficients for each nested pair (the same model with fewer varied\n"
    "coefficients, or model 1 within 3, 2 within 4).\n"
    "\n"
    "Options:\n"
    "  --method METHOD\n"
    "              how the deck is fitted: annealing (the default: btcfit's own\n"
    "              search and fitted set, legacy numerics), least_squares (a\n"
    "              bounded Levenberg-Marquardt descent from the deck's initial\n"
    "              values) or global (descents from starts spread over the\n"
    "              bounds, the initial values among them); the last two on\n"
    "              accurate numerics\n"
    "  -o PREFIX   also write PREFIX.svg (observed concentrations as points and\n"
    "              the fitted curve as a line, one colour per distance, or per\n"
    "              time for depth profiles) and PREFIX.csv (the fitted curves on\n"
    "              a fine grid: distance,time,concentration), and for each\n"
    "              varied coefficient PREFIX-profile-NAME.svg (its profile);\n"
    "              with compare, PREFIX.svg with every model's curve\n"
    "  --units L,T units of length and time for the plot's axes and legend,\n"
    "              for example --units cm,h\n"
    "  --json      write the whole summary as one JSON document instead\n"
    "  -h, --help  show this help\n"
    "\n"
    "Exit status: 0 done; 1 the deck is rejected (as btcfit would reject it),\n"
    "or compared decks do not hold the same observations; 2 wrong arguments,\n"
    "or a file that cannot be read or written.\n";

struct Arguments {
  bool compare = false;
  std::vector<std::string> decks;
  std::optional<std::string> prefix;
  bool json = false;
  bool help = false;
  FitMethod method = FitMethod::annealing;
  bool method_given = false;
  std::optional<PlotUnits> units;
};

// Parses the arguments; returns an error text, or nothing when they are
// fine.
std::optional<std::string> parse(const std::vector<std::string>& args,
                                 Arguments& parsed) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      parsed.help = true;
      return std::nullopt;
    }
  }
  std::size_t first = 0;
  if (!args.empty() && args[0] == "compare") {
    parsed.compare = true;
    first = 1;
  }
  for (std::size_t i = first; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-o") {
      if (i + 1 >= args.size()) return "option -o needs a PREFIX";
      if (parsed.prefix) return "option -o given twice";
      parsed.prefix = args[++i];
      if (parsed.prefix->empty()) return "option -o needs a non-empty PREFIX";
    } else if (a == "--method") {
      if (i + 1 >= args.size()) return "option --method needs annealing, least_squares or global";
      if (parsed.method_given) return "option --method given twice";
      parsed.method_given = true;
      const std::string& m = args[++i];
      if (m == "annealing") {
        parsed.method = FitMethod::annealing;
      } else if (m == "least_squares") {
        parsed.method = FitMethod::least_squares;
      } else if (m == "global") {
        parsed.method = FitMethod::global;
      } else {
        return "unknown method '" + m + "' (annealing, least_squares or global)";
      }
    } else if (a == "--units") {
      if (i + 1 >= args.size()) return "option --units needs LENGTH,TIME (for example cm,h)";
      if (parsed.units) return "option --units given twice";
      const std::string& u = args[++i];
      const auto comma = u.find(',');
      if (comma == std::string::npos || comma == 0 || comma + 1 == u.size() ||
          u.find(',', comma + 1) != std::string::npos) {
        return "option --units needs LENGTH,TIME (for example cm,h), not '" + u + "'";
      }
      parsed.units = PlotUnits{u.substr(0, comma), u.substr(comma + 1)};
    } else if (a == "--json") {
      if (parsed.json) return "option --json given twice";
      parsed.json = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return "unknown option '" + a + "'";
    } else {
      if (a.empty()) return "empty DECK name";
      if (!parsed.compare && !parsed.decks.empty()) return "only one DECK may be given";
      parsed.decks.push_back(a);
    }
  }
  if (parsed.compare) {
    if (parsed.decks.size() < 2) return "compare needs at least two DECKs";
  } else if (parsed.decks.empty()) {
    return "no DECK given";
  }
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


// Observations of compared decks that differ.
class MismatchError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

int run_single(const Arguments& parsed, std::FILE* out) {
  FitOptions fit_options;
  fit_options.method = parsed.method;
  const FittedProblem fit = fit_deck(parsed.decks.front(), 0, fit_options);
  const StatisticsOptions options;
  const FitAnalysis analysis = analyse_fit(fit, options, true, parsed.prefix ? 6 : 0);
  std::vector<std::string> files;
  if (parsed.prefix) {
    const DeckPlot plot = deck_plot(fit, 201, parsed.units.value_or(PlotUnits{}));
    write_file(*parsed.prefix + ".svg", render_svg(plot.figure));
    write_file(*parsed.prefix + ".csv", curve_csv(plot));
    files = {*parsed.prefix + ".svg", *parsed.prefix + ".csv"};
    if (analysis.profiles) {
      for (std::size_t j = 0; j < fit.varied.size(); ++j) {
        const std::string name =
            *parsed.prefix + "-profile-" +
            file_name_part(coefficient_name(fit.problem, fit.varied[j])) + ".svg";
        write_file(name, render_svg(profile_plot(fit, analysis, int(j))));
        files.push_back(name);
      }
    }
  }
  if (parsed.json) {
    std::fputs(json_summary(fit, analysis, options, files).c_str(), out);
  } else {
    const std::string summary =
        format_summary(summary_input(fit, analysis.statistics, options), analysis.statistics) +
        format_analysis(fit, analysis);
    std::fputs(summary.c_str(), out);
    if (parsed.prefix) {
      std::fprintf(out, "\nWritten: %s.svg (plot), %s.csv (fitted curves)\n",
                   parsed.prefix->c_str(), parsed.prefix->c_str());
      if (files.size() > 2) {
        std::fprintf(out, "Profiles: %s-profile-NAME.svg for", parsed.prefix->c_str());
        for (std::size_t j = 0; j < fit.varied.size(); ++j) {
          std::fprintf(out, "%s %s", j ? "," : "",
                       file_name_part(coefficient_name(fit.problem, fit.varied[j])).c_str());
        }
        std::fputs("\n", out);
      }
    }
  }
  return kExitOk;
}

int run_compare(const Arguments& parsed, std::FILE* out) {
  // Every deck is read and checked before the first (long) fit.
  std::vector<Problem> problems;
  for (const std::string& deck : parsed.decks) {
    problems.push_back(check_problem(read_deck(std::filesystem::path(deck))));
  }
  for (std::size_t i = 1; i < problems.size(); ++i) {
    if (const auto why = observation_mismatch(problems[0], problems[i])) {
      throw MismatchError("compare: " + parsed.decks[i] + " does not hold the observations of " +
                          parsed.decks[0] + ": " + *why);
    }
  }
  const StatisticsOptions options;
  std::vector<FittedProblem> fits;
  std::vector<FitAnalysis> analyses;
  for (const std::string& deck : parsed.decks) {
    FitOptions fit_options;
    fit_options.method = parsed.method;
    fits.push_back(fit_deck(deck, 0, fit_options));
    analyses.push_back(analyse_fit(fits.back(), options, false));
  }
  const Comparison comparison = compare_fitted(fits, analyses);
  std::vector<std::string> files;
  if (parsed.prefix) {
    write_file(*parsed.prefix + ".svg", render_svg(comparison_plot(fits)));
    files.push_back(*parsed.prefix + ".svg");
  }
  if (parsed.json) {
    std::fputs(json_comparison(fits, analyses, comparison, files).c_str(), out);
  } else {
    std::fputs(format_comparison(fits, analyses, comparison).c_str(), out);
    if (parsed.prefix) {
      std::fprintf(out, "\nWritten: %s.svg (every model's curve)\n", parsed.prefix->c_str());
    }
  }
  return kExitOk;
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
    const int status = parsed.compare ? run_compare(parsed, out) : run_single(parsed, out);
    std::fflush(out);
    return status;
  } catch (const ProblemError& e) {
    std::fprintf(err, "btcfit-stats: %s\n", e.what());
    return kExitRejected;
  } catch (const MismatchError& e) {
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
