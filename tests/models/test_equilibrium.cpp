// Equilibrium solution for one rectangular pulse.
#include <gtest/gtest.h>

#include <cmath>

#include "models/equilibrium.hpp"

namespace btcfit {
namespace {

// X = 2, v = 1, D = 0.5, T0 = 1, C0 = 1 throughout the reference values.
ModelWork reference_work(double CI, double mu, double gamma, int mode) {
  ModelWork w;
  w.CI = CI;
  w.C0 = 1.0;
  w.VELO = 1.0;
  w.DISP = 0.5;
  w.TPUL = 1.0;
  w.PAR5 = mu;
  w.PAR6 = gamma;
  w.MODE = mode;
  return w;
}

struct Case {
  const char* what;
  double CI, mu, gamma, T;
  int mode;
  double expected;  // 8 decimals: tolerance 0.5e-8
};

class EquilibriumValues : public ::testing::TestWithParam<Case> {};

TEST_P(EquilibriumValues, MatchesReference) {
  const Case& c = GetParam();
  SCOPED_TRACE(c.what);
  const ModelWork w = reference_work(c.CI, c.mu, c.gamma, c.mode);
  double Y = -7.0;
  MOD12(w, Y, 2.0, c.T);
  EXPECT_NEAR(Y, c.expected, 0.5e-8);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EquilibriumValues,
    ::testing::Values(
        Case{"plain resident", 0.0, 0.0, 0.0, 1.5, 1, 0.29902572},
        Case{"plain flux", 0.0, 0.0, 0.0, 1.5, 2, 0.42996788},
        Case{"inside the pulse", 0.0, 0.0, 0.0, 0.5, 1, 0.00974234},
        Case{"production resident", 0.2, 0.0, 0.05, 1.5, 1, 0.50537290},
        Case{"production flux", 0.2, 0.0, 0.05, 1.5, 2, 0.60151692},
        Case{"decay resident", 0.2, 0.1, 0.05, 1.5, 1, 0.45117857},
        Case{"decay flux", 0.2, 0.1, 0.05, 1.5, 2, 0.54081217},
        // The code's traits choose the form: odd codes (and codes outside
        // 1..8) resident, even codes flux, as the stream tubes ask of it.
        Case{"code 3 is resident", 0.2, 0.1, 0.05, 1.5, 3, 0.45117857},
        Case{"code 0 is resident", 0.2, 0.0, 0.05, 1.5, 0, 0.50537290},
        Case{"code 6 is flux", 0.0, 0.0, 0.0, 1.5, 6, 0.42996788},
        Case{"code 7 is resident", 0.0, 0.0, 0.0, 1.5, 7, 0.29902572}));

TEST(Equilibrium, NonPositiveTimeLeavesYAlone) {
  for (int mode : {1, 2}) {
    for (double mu : {0.0, 0.1}) {
      const ModelWork w = reference_work(0.2, mu, 0.05, mode);
      for (double T : {0.0, -0.5, -3.0}) {
        double Y = 123.456;
        MOD12(w, Y, 2.0, T);
        EXPECT_EQ(Y, 123.456);
      }
    }
  }
}

TEST(Equilibrium, InputEqualToInitialInsidePulseIsExact) {
  for (int mode : {1, 2}) {
    ModelWork w = reference_work(0.37, 0.0, 0.0, mode);
    w.C0 = 0.37;
    for (double T : {0.1, 0.5, 1.0}) {
      double Y = 0.0;
      MOD12(w, Y, 2.0, T);
      EXPECT_EQ(Y, 0.37);
    }
  }
}

TEST(Equilibrium, SecondPassIsTheShiftedStep) {
  // After the pulse: Y(T) = step(T) - C0 * step(T - T0), where the step
  // response with CI = 0 is the value at the same point of an endless pulse.
  for (int mode : {1, 2}) {
    for (double mu : {0.0, 0.1}) {
      SCOPED_TRACE(mode * 10 + (mu != 0.0));
      ModelWork w = reference_work(0.0, mu, 0.0, mode);
      double Y = 0.0;
      MOD12(w, Y, 2.0, 2.75);
      ModelWork endless = w;
      endless.TPUL = 1e6;
      double step1 = 0.0, step2 = 0.0;
      MOD12(endless, step1, 2.0, 2.75);
      MOD12(endless, step2, 2.0, 1.75);
      EXPECT_NEAR(Y, step1 - step2, 1e-15);
    }
  }
}

TEST(Equilibrium, PassTwoUsesCallersYWhenPassOneIsSkipped) {
  // A negative pulse duration makes pass 2 apply while pass 1 does not:
  // the subtraction then works on the value passed in.
  ModelWork w = reference_work(0.0, 0.0, 0.0, 2);
  double ref = 0.0;
  w.TPUL = 1e6;
  MOD12(w, ref, 2.0, 1.0);
  w.TPUL = -1.0;
  double Y = 5.0;
  MOD12(w, Y, 2.0, 0.0);
  EXPECT_NEAR(Y, 5.0 - ref, 1e-15);
}

TEST(Equilibrium, ApproachesInputAndSteadyState) {
  // Long after the start of an endless pulse the profile holds C0 (no decay)
  // or the steady state of production against decay.
  ModelWork w = reference_work(0.2, 0.0, 0.0, 1);
  w.TPUL = 1e9;
  double Y = 0.0;
  MOD12(w, Y, 2.0, 200.0);
  EXPECT_NEAR(Y, 1.0, 1e-6);
  w.MODE = 2;
  MOD12(w, Y, 2.0, 200.0);
  EXPECT_NEAR(Y, 1.0, 1e-6);
  // Far ahead of the front only the initial value remains.
  w.MODE = 1;
  MOD12(w, Y, 60.0, 1.0);
  EXPECT_NEAR(Y, 0.2, 1e-12);
}

TEST(Equilibrium, FluxAgreesWithClosedFormErfc) {
  // Flux step response, CI = 0, no rates: 0.5 erfc(A1) + 0.5 exp(vx/D)
  // erfc(A2), to the accuracy of the erfc approximation (1.5e-7 in erfc,
  // magnified by exp(vx/D) = e^4 in the second term).
  ModelWork w = reference_work(0.0, 0.0, 0.0, 2);
  w.TPUL = 1e9;
  for (double T : {0.25, 1.0, 2.0, 4.0}) {
    SCOPED_TRACE(T);
    const double s = std::sqrt(4.0 * 0.5 * T);
    const double exact = 0.5 * std::erfc((2.0 - T) / s) +
                         0.5 * std::exp(4.0) * std::erfc((2.0 + T) / s);
    double Y = 0.0;
    MOD12(w, Y, 2.0, T);
    EXPECT_NEAR(Y, exact, 1e-5);
  }
}

}  // namespace
}  // namespace btcfit
