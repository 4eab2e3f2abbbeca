// A transport problem: the model, its coefficients, the observations and the
// input of solute, as an input deck describes them.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace btcfit {

// The eight analytical solutions of the convection-dispersion equation.
// Resident models give the concentration in the liquid phase at a point,
// flux models the flux-averaged concentration. The number is the deck's
// model code.
enum class Model : int {
  equilibrium_resident = 1,      // linear equilibrium adsorption, decay, production
  equilibrium_flux = 2,
  nonequilibrium_resident = 3,   // two-site/two-region nonequilibrium
  nonequilibrium_flux = 4,
  stream_tube_pulse_resident = 5,  // stream tubes, log-normal velocities, pulse input
  stream_tube_pulse_flux = 6,
  stream_tube_load_resident = 7,   // stream tubes, log-normal velocities, solute load
  stream_tube_load_flux = 8,
};

// Number of coefficients of a model: 6 for codes 1 to 4, 7 for 5 to 8.
int coefficient_count(Model model);

// What the observed concentrations (and times) are.
enum class DataForm : int {
  measured = 0,                        // concentrations and times as measured
  reduced_concentration = 1,           // (C - CI) / (C0 - CI)
  // reduced C against reduced time v t / L, L the largest observation distance
  reduced_concentration_and_time = 2,
};

// One coefficient of the model, in deck order. Its meaning follows from its
// position and the model:
//   codes 1, 2: V (pore-water velocity), D (dispersion coefficient),
//               R (retardation factor), T0 (pulse duration), MU (first-order
//               decay rate), GAMMA (zero-order production rate);
//   codes 3, 4: V, D, R, T0, BETA (fraction of equilibrium sites or mobile
//               water, 0..1), OMEGA (dimensionless mass-transfer coefficient);
//   codes 5-8:  mean velocity, dispersivity, R, T0 (codes 5, 6) or input mass
//               over C0 (codes 7, 8), decay rate, production rate, and the
//               standard deviation of ln v (seventh).
// Units are the user's own, consistent ones (for example cm and days).
struct Coefficient {
  // Up to 6 characters, as the report shows them; trailing blanks do not
  // count. Leading blanks are kept (the report aligns names by position).
  std::string name;
  double initial = 0.0;  // the search's starting value
  double lower = 0.0;    // bounds of the search (used only when varied)
  double upper = 0.0;
  bool varied = false;   // false: the coefficient keeps its initial value
};

// One observed concentration at a distance and a time (or reduced time).
struct Observation {
  double concentration = 0.0;
  double distance = 0.0;
  double time = 0.0;
};

// One of several pulses (codes 1 to 6): the time at which pulse j ends (the
// first starts at time 0, each later one where the one before ended) and its
// concentration. For codes 7 and 8, one solute load: the time of the input
// and its mass over the water content.
struct Pulse {
  double time = 0.0;
  double value = 0.0;
};

// What the report shows besides the fit (the deck's control switches).
enum class Listing : int {
  none = 0,           // nothing more
  observed_data = 1,  // the observed data in the echo
  pd_distance = 2,    // the console program writes pd.dat labelled DISTANCE
  pd_time = 3,        // the console program writes pd.dat labelled TIME
};

struct ReportSwitches {
  bool echo = true;                 // the banner and the problem's echo
  bool least_squares_line = false;  // one more banner line
  Listing listing = Listing::none;
};

// At most 90 observations and 10 pulses or loads.
inline constexpr int kMaxObservations = 90;
inline constexpr int kMaxPulses = 10;

// A complete problem. Built in code or read from a deck; the fit and the
// evaluation treat it exactly as the console program treats the deck it was
// read from, including the deck's four silent corrections (applied by
// check_problem and by every function that takes a Problem):
//   - codes 3, 4: an upper bound of BETA of 0 or above 1 becomes 1;
//   - with several pulses the pulse duration (coefficient 4) is not varied;
//   - with reduced time the velocity (coefficient 1) is not varied.
struct Problem {
  Model model = Model::equilibrium_flux;
  // coefficient_count(model) coefficients in deck order.
  std::vector<Coefficient> coefficients;
  // At most kMaxObservations.
  std::vector<Observation> observations;
  double initial_concentration = 0.0;  // CI: of the profile at time 0
  // C0: of the single pulse; with several pulses the reference of reduced
  // concentrations only (codes 1-6), or the concentration the loads refer
  // to (codes 7, 8).
  double input_concentration = 0.0;
  // Empty: one pulse of concentration C0 and duration T0 (codes 1-6), or
  // one load at time 0 (codes 7, 8). Otherwise 2 to kMaxPulses entries.
  std::vector<Pulse> pulses;
  DataForm data_form = DataForm::measured;
  ReportSwitches report;
};

// The model's own names of its coefficients, deck order:
//   codes 1, 2: V, D, R, T0, MU, GAMMA;   codes 3, 4: V, D, R, T0, BETA, OMEGA;
//   codes 5, 6: V, ALPHA, R, T0, MU, GAMMA, SIGMA;
//   codes 7, 8: V, ALPHA, R, M0, MU, GAMMA, SIGMA.
// Throws ProblemError for a model code outside 1..8.
std::vector<std::string> coefficient_names(Model model);

// The coefficients of `model` in deck order from a map of the model's
// names (coefficient_names) to coefficients; each gets its model name.
// Coefficients left out are fixed at a default where the model has one:
// R = 1 (no retardation), T0 = 1e30 (a step input: the pulse never ends),
// MU = 0 and GAMMA = 0 (no decay, no production). V, D or ALPHA, BETA,
// OMEGA, SIGMA and M0 have no default. Throws ProblemError naming a key that
// is not one of the model's names, or a coefficient without default that is
// left out.
std::vector<Coefficient> coefficients_by_name(
    Model model, const std::map<std::string, Coefficient>& coefficients);

// The problem with the silent corrections applied. Throws ProblemError for a
// problem that cannot be evaluated: a model code outside 1..8, a coefficient
// count other than coefficient_count(model), a name longer than 6
// characters, more than kMaxObservations observations, one pulse or more
// than kMaxPulses, or a value that is not a finite number.
Problem check_problem(const Problem& problem);

// Reads an input deck (fixed-column records). Throws DeckError for a file
// that cannot be opened, an unreadable field or a missing record, and
// ProblemError for a deck the console program refuses after reading it
// (model code, counts). The search bounds are checked by fit(), not here.
Problem read_deck(const std::filesystem::path& path);
Problem read_deck(std::istream& deck);

// Writes `problem` as an input deck that reads back to the same problem and
// that the console program accepts. Every real is written in the shortest
// form that reads back to the same double; throws ProblemError when a value
// cannot be written exactly in the deck's 10-column fields (more than about
// 8 significant digits), or when check_problem refuses the problem.
void write_deck(const Problem& problem, std::ostream& out);

}  // namespace btcfit
