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

// The numerics that compute a model's concentrations.
enum class Numerics : int {
  // The console program's values, bit for bit: the rational erfc
  // approximation, the Romberg sums and the guards of the legacy solutions.
  // The annealing search uses them by default, so that a fit reproduces
  // the console program's report.
  legacy = 0,
  // Every model code computed to close to double precision (about 1e-10
  // absolute in a reduced concentration or better), smooth in every
  // coefficient, distance and time.
  accurate = 1,
};

// "legacy" or "accurate".
const char* numerics_name(Numerics numerics);

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

// The input deck's limits: a deck holds at most 90 observations, and the
// console program and read_deck refuse more (write_deck too). A Problem
// built in code takes any number of observations.
inline constexpr int kMaxObservations = 90;
// Pulses or loads, of a deck and of every Problem: the models' pulse
// tables hold this many.
inline constexpr int kMaxPulses = 10;

// A complete problem. Built in code or read from a deck; the fit and the
// evaluation treat it as the console program treats the deck it was read
// from, including the deck's four silent corrections (applied by
// check_problem and by every function that takes a Problem):
//   - codes 3, 4: an upper bound of BETA of 0 or above 1 becomes 1;
//   - with several pulses the pulse duration (coefficient 4) is not varied;
//   - with reduced time the velocity (coefficient 1) is not varied.
struct Problem {
  Model model = Model::equilibrium_flux;
  // coefficient_count(model) coefficients in deck order.
  std::vector<Coefficient> coefficients;
  // Any number (a deck holds at most kMaxObservations).
  std::vector<Observation> observations;
  double initial_concentration = 0.0;  // CI: of the profile at time 0
  // C0: of the single pulse; with several pulses the reference of reduced
  // concentrations only (codes 1-6), or the concentration the loads refer
  // to (codes 7, 8). Not 0 (and not CI with reduced data). The default 1
  // makes reduced and measured concentrations the same when CI is 0.
  double input_concentration = 1.0;
  // Empty: one pulse of concentration C0 and duration T0 (codes 1-6), or
  // one load at time 0 (codes 7, 8). Otherwise 2 to kMaxPulses entries.
  std::vector<Pulse> pulses;
  DataForm data_form = DataForm::measured;
  ReportSwitches report;
  // Set by read_deck. A deck the console program accepts must behave as it
  // does there, so with legacy numerics (evaluate, the annealing fit,
  // write_report) a problem read from a deck is held only to what the
  // console program accepts, and its coefficient names stay free labels
  // whatever the numerics; accurate numerics apply every other refusal of
  // check_problem. A deck-read problem changed in code keeps the flag;
  // clear it to have the problem checked as one built in code.
  bool from_deck = false;
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

// The problem with the silent corrections applied, as evaluate and fit take
// it with `numerics`. Throws ProblemError, naming the field, its value and
// what would be accepted, for
//   - a model code outside 1..8, a coefficient count other than
//     coefficient_count(model), a name longer than 6 characters, one pulse
//     or more than kMaxPulses, or a value that is not a finite number;
// and, for a problem built in code (from_deck false) with either numerics
// and for every problem with accurate numerics (a deck read with legacy
// numerics keeps the console program's behaviour):
//   - an input concentration C0 of 0, or C0 equal to CI with reduced data
//     (the reduced form divides by C0 - CI);
//   - an observation with a negative distance or time;
//   - codes 3, 4, and every model with reduced time: a largest observation
//     distance of 0 (the two-site model and the reduced time are scaled
//     with it; single distances of 0 are fine, every model is defined at
//     the inlet);
//   - a V, D (codes 1-4), ALPHA (codes 5-8), R or BETA (codes 3, 4) that
//     is not above 0, and a SIGMA below 0: the initial value, and the
//     lower bound when the coefficient is varied (the models divide by
//     these, or take their logarithm);
//   - a varied coefficient whose lower bound is above its upper bound;
// and, for a problem built in code only (a deck's names are free labels):
//   - a coefficient whose name is the model's name of another position
//     (coefficient_names), for example "D" first and "V" second; names are
//     compared without case and surrounding blanks.
// Distances and times at which evaluate is asked for values are held to the
// same rules as the observations'.
Problem check_problem(const Problem& problem, Numerics numerics = Numerics::legacy);

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
