// Problems the models cannot evaluate are refused with a ProblemError that
// names the field, before any value is computed; a deck the console
// program accepts keeps the console program's behaviour on the legacy
// path.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "btcfit/btcfit.hpp"
#include "support/program_run.hpp"

namespace {

using namespace btcfit;

// Fit options for one thread with the given numerics (unset: the fit's
// default).
FitOptions one_thread(std::optional<Numerics> numerics = {}) {
  FitOptions o;
  o.threads = 1;
  o.numerics = numerics;
  return o;
}


// A problem built in code for each model family: V, D and R varied,
// observations at 10 and 30 cm.
Problem built(Model model) {
  Problem p;
  p.model = model;
  const std::vector<std::string> names = coefficient_names(model);
  const double initial[] = {25.0, 30.0, 1.5, 2.0, 0.5, 0.4, 0.5};
  for (std::size_t k = 0; k < names.size(); ++k) {
    p.coefficients.push_back({names[k], initial[k], initial[k], initial[k], false});
  }
  if (coefficient_count(model) == 7) p.coefficients[1].initial = 1.0;  // a dispersivity
  for (int k = 0; k < 3; ++k) {
    Coefficient& c = p.coefficients[k];
    c.lower = 0.5 * c.initial;
    c.upper = 2.0 * c.initial;
    c.varied = true;
  }
  p.observations = {{0.05, 10.0, 1.0}, {0.62, 30.0, 2.0}, {0.91, 30.0, 3.0}};
  return p;
}

struct Refusal {
  const char* name;
  Model model;
  std::function<void(Problem&)> change;
  const char* message;  // a part of what() that names the field
};

const Model kFlux = Model::equilibrium_flux;
const Model kTwoSite = Model::nonequilibrium_resident;
const Model kTube = Model::stream_tube_pulse_flux;

const std::vector<Refusal>& refusals() {
  static const std::vector<Refusal> cases = {
      {"InputConcentrationZero", kFlux, [](Problem& p) { p.input_concentration = 0.0; },
       "the input concentration C0 is 0"},
      {"InputEqualsInitialReduced", kFlux,
       [](Problem& p) {
         p.initial_concentration = 1.0;
         p.data_form = DataForm::reduced_concentration;
       },
       "C0 equals the initial concentration CI (1) with reduced data"},
      {"NegativeTime", kFlux, [](Problem& p) { p.observations[1].time = -0.5; },
       "observation 2's time is -0.5; times are 0 or more"},
      {"NegativeDistance", kTube, [](Problem& p) { p.observations[2].distance = -1.0; },
       "observation 3's distance is -1; distances are 0 or more"},
      {"TwoSiteAllAtTheInlet", kTwoSite,
       [](Problem& p) {
         for (Observation& o : p.observations) o.distance = 0.0;
       },
       "the largest observation distance is 0; model 3 is scaled with it"},
      {"ReducedTimeAllAtTheInlet", kFlux,
       [](Problem& p) {
         for (Observation& o : p.observations) o.distance = 0.0;
         p.data_form = DataForm::reduced_concentration_and_time;
       },
       "the largest observation distance is 0; reduced times are scaled with it"},
      {"VelocityZero", kFlux,
       [](Problem& p) {
         p.coefficients[0].varied = false;
         p.coefficients[0].initial = 0.0;
       },
       "coefficient 1 (V) has the initial value 0; it must be above 0"},
      {"StreamTubeVelocityNegative", kTube,
       [](Problem& p) {
         p.coefficients[0].varied = false;
         p.coefficients[0].initial = -2.0;
       },
       "coefficient 1 (V) has the initial value -2; it must be above 0 (the model takes its "
       "logarithm)"},
      {"DispersionLowerBoundZero", kFlux, [](Problem& p) { p.coefficients[1].lower = 0.0; },
       "coefficient 2 (D) is varied with the lower bound 0; it must stay above 0 (the model "
       "divides by it)"},
      {"DispersivityZero", kTube,
       [](Problem& p) {
         p.coefficients[1].varied = false;
         p.coefficients[1].initial = 0.0;
       },
       "coefficient 2 (ALPHA) has the initial value 0"},
      {"RetardationZero", kTwoSite,
       [](Problem& p) {
         p.coefficients[2].varied = false;
         p.coefficients[2].initial = 0.0;
       },
       "coefficient 3 (R) has the initial value 0"},
      {"BetaZero", kTwoSite, [](Problem& p) { p.coefficients[4].initial = 0.0; },
       "coefficient 5 (BETA) has the initial value 0"},
      {"SigmaNegative", kTube, [](Problem& p) { p.coefficients[6].initial = -0.1; },
       "coefficient 7 (SIGMA) has the initial value -0.10000000000000001; it must be 0 or more "
       "(it is a standard deviation)"},
      {"BoundsCross", kFlux,
       [](Problem& p) {
         p.coefficients[2].lower = 3.0;
         p.coefficients[2].upper = 2.0;
       },
       "coefficient 3 (R) is varied between bounds that cross: the lower bound 3 is above the "
       "upper bound 2"},
      {"NamesOfOtherPositions", kFlux,
       [](Problem& p) {
         p.coefficients[0].name = "D";
         p.coefficients[1].name = " v";
       },
       "coefficient 1 is named \"D\", the model's name of coefficient 2, coefficient 2 is named "
       "\" v\", the model's name of coefficient 1; model 2 takes its coefficients in the order "
       "V, D, R, T0, MU, GAMMA"},
  };
  return cases;
}

std::string refusal_of(const std::function<void()>& call) {
  try {
    call();
  } catch (const ProblemError& e) {
    return e.what();
  }
  return "(no ProblemError)";
}

std::string test_name(const ::testing::TestParamInfo<Refusal>& info) { return info.param.name; }

class Refused : public ::testing::TestWithParam<Refusal> {};

// check_problem, evaluate with either numerics (at the observations and at
// points) and fit with either numerics refuse the problem built in code
// with the same message.
TEST_P(Refused, EveryDoorSaysWhy) {
  Problem p = built(GetParam().model);
  ASSERT_NO_THROW(check_problem(p));
  GetParam().change(p);
  const std::string message = GetParam().message;
  const std::vector<double> b = [&] {
    std::vector<double> set;
    for (const Coefficient& c : built(GetParam().model).coefficients) set.push_back(c.initial);
    return set;
  }();
  const std::vector<double> x = {30.0}, t = {1.0};
  const std::vector<std::function<void()>> doors = {
      [&] { check_problem(p); },
      [&] { check_problem(p, Numerics::accurate); },
      [&] { evaluate(p, b, {Numerics::legacy, 1}); },
      [&] { evaluate(p, b); },
      [&] { evaluate(p, b, x, t); },
      [&] { fit(p, one_thread()); },
      [&] {
        fit(p, one_thread(Numerics::accurate));
      },
  };
  for (std::size_t d = 0; d < doors.size(); ++d) {
    const std::string what = refusal_of(doors[d]);
    EXPECT_NE(what.find(message), std::string::npos) << "door " << d << ": " << what;
  }
}

INSTANTIATE_TEST_SUITE_P(Problems, Refused, ::testing::ValuesIn(refusals()), test_name);

// What evaluate is handed beside the problem is held to the same rules.
TEST(RefusedPoints, NegativePointsAndUndefinedCoefficients) {
  const Problem p = built(kFlux);
  const std::vector<double> b = {25.0, 30.0, 1.5, 2.0, 0.0, 0.0};
  struct Case {
    const char* name;
    std::function<void()> call;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"NegativePointTime",
       [&] { evaluate(p, b, std::vector<double>{30, 30}, std::vector<double>{1, -1}); },
       "point 2's time is -1"},
      {"NegativePointDistance",
       [&] { evaluate(p, b, std::vector<double>{-30}, std::vector<double>{1}); },
       "point 1's distance is -30"},
      {"PointsOfATwoSiteProblemAllAtTheInlet",
       [&] {
         Problem q = built(kTwoSite);
         q.observations.clear();
         evaluate(q, std::vector<double>{25.0, 30.0, 1.5, 2.0, 0.5, 0.4}, std::vector<double>{0, 0},
                  std::vector<double>{1, 2});
       },
       "the largest distance of the points is 0"},
      {"DispersionZeroEvaluated", [&] { evaluate(p, {25.0, 0.0, 1.5, 2.0, 0.0, 0.0}); },
       "coefficient 2 (D) is 0; it must be above 0"},
      {"RetardationNegativeEvaluated",
       [&] { evaluate(p, {25.0, 30.0, -1.0, 2.0, 0.0, 0.0}, {Numerics::legacy, 1}); },
       "coefficient 3 (R) is -1; it must be above 0"},
      {"NoObservationsFitted",
       [&] {
         Problem q = p;
         q.observations.clear();
         fit(q, one_thread());
       },
       "the problem has no observations; a fit needs at least one"},
      {"DeckOfMoreThan90Written",
       [&] {
         Problem q = p;
         q.observations.resize(91, q.observations[1]);
         std::ostringstream deck;
         write_deck(q, deck);
       },
       "the problem has 91 observations; a deck holds at most 90"},
  };
  for (const Case& c : cases) {
    const std::string what = refusal_of(c.call);
    EXPECT_NE(what.find(c.message), std::string::npos) << c.name << ": " << what;
  }
}

// The deck text of a problem the console program accepts although a
// problem built in code like it would be refused: C0 of 0 with measured
// data (it then computes 0 everywhere), the names of the first two
// coefficients swapped, D's lower bound 0, and no observation records (the
// console program then takes its 3 observations as zeros, all at the
// inlet at time 0).
const char* kAcceptedDeck =
    "         1\n"
    "         2         0         0         0         3         0         0\n"
    "    D         V         R         T0        MU        GAMMA \n"
    "      25.0      30.0       1.5       2.0       0.0       0.0\n"
    "         1         1         0         0         0         0\n"
    "       1.0       0.0       1.0       0.0       0.0       0.0\n"
    "     100.0     500.0      10.0       5.0       0.0       0.0\n"
    "       0.0       0.0         1\n";

// read_deck marks the problem; with legacy numerics it is held only to what
// the console program accepts, with accurate numerics to every rule
// (except the names: a deck's names are free labels).
TEST(RefusedDeck, ConsoleDeckKeepsItsBehaviourOnTheLegacyPath) {
  std::istringstream text(kAcceptedDeck);
  const Problem deck = read_deck(text);
  EXPECT_TRUE(deck.from_deck);
  ASSERT_EQ(deck.observations.size(), 3u);
  EXPECT_EQ(deck.observations[2].distance, 0.0);
  EXPECT_NO_THROW(check_problem(deck));
  // The console program's search: C0 = 0 computes 0 for the zero
  // observations, SSQ 0, the goal at once.
  const FitResult r = fit(deck, one_thread());
  EXPECT_EQ(r.termination, Termination::goal_reached);
  EXPECT_EQ(r.iterations, 1);
  const std::vector<double> b = {25.0, 30.0, 1.5, 2.0, 0.0, 0.0};
  const std::vector<double> x = {30.0}, t = {1.0};
  EXPECT_EQ(evaluate(deck, b, x, t, {Numerics::legacy, 1}), std::vector<double>{0.0});
  // Accurate numerics apply the rules, and so does a fit that asks for them.
  const std::string c0 = "the input concentration C0 is 0";
  EXPECT_NE(refusal_of([&] { check_problem(deck, Numerics::accurate); }).find(c0),
            std::string::npos);
  EXPECT_NE(refusal_of([&] { evaluate(deck, b, x, t); }).find(c0), std::string::npos);
  EXPECT_NE(refusal_of([&] { fit(deck, one_thread(Numerics::accurate)); }).find(c0),
            std::string::npos);
  // The same problem with the flag cleared is one built in code.
  Problem in_code = deck;
  in_code.from_deck = false;
  EXPECT_NE(refusal_of([&] { check_problem(in_code); }).find("is named \"D\""),
            std::string::npos);
  // Mended values: the deck's names stay free labels under either numerics.
  Problem mended = deck;
  mended.input_concentration = 1.0;
  mended.coefficients[1].lower = 1.0;
  mended.observations = {{0.5, 30.0, 1.0}};
  EXPECT_NO_THROW(check_problem(mended, Numerics::accurate));
  EXPECT_NO_THROW(evaluate(mended, b));
}

}  // namespace
