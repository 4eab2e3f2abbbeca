// Equilibrium convection-dispersion solution for one rectangular pulse.
//
// The pulse is the difference of two step inputs: pass 1 (tau = T) gives the
// step response that starts at time 0, with the initial-concentration and
// production terms; pass 2 (tau = T - TPUL) subtracts C0 times the step
// response of the step that ends the pulse. A pass with tau <= 0 is skipped.
// Resident concentrations use the third-type inlet condition. All rates and
// transport parameters arrive already divided by the retardation factor.
#include "models/equilibrium.hpp"

#include <cmath>

#include "models/exponential_erfc.hpp"

namespace btcfit {

namespace {

constexpr double kPi = double(3.141593f);
// Stands for 1/(4 pi) in the resident production term.
constexpr double kQuarterInvPi = double(0.079577f);

static_assert(kPi == 3.1415929794311523);
static_assert(kQuarterInvPi == 0.0795769989490509);

}  // namespace

void MOD12(const ModelWork& w, double& Y, double X, double T) {
  const double CI = w.CI;
  const double C0 = w.C0;
  const double v = w.VELO;
  const double D = w.DISP;
  const double T0 = w.TPUL;
  const double mu = w.PAR5;
  const double gamma = w.PAR6;
  const bool flux = (w.MODE == 2);

  if (mu == 0.0) {
    for (int pass = 1; pass <= 2; ++pass) {
      double A = 0.0;
      double G = 0.0;
      const double tau = (pass == 1) ? T : T - T0;
      if (tau <= 0.0) continue;

      const double s = std::sqrt(4.0 * D * tau);
      const double A1 = (X - v * tau) / s;
      const double A2 = (X + v * tau) / s;
      const double E1 = EXF(0.0, A1);
      const double E2 = EXF(v * X / D, A2);
      double E3, P1, P3;
      if (flux) {
        E3 = 0.0;
        P1 = 0.0;
        P3 = 0.5;
      } else {
        E3 = EXF(-((X - v * tau) * (X - v * tau)) / (4.0 * D * tau), 0.0);
        P1 = v * std::sqrt(tau / (kPi * D));
        P3 = -0.5 * (1.0 + v * X / D + v * v * tau / D);
      }
      A = 0.5 * E1 + P1 * E3 + P3 * E2;

      if (pass == 2) {
        Y = Y - C0 * A;
        return;
      }
      if (gamma != 0.0) {
        if (flux) {
          G = gamma * (tau + ((X - v * tau) / (2.0 * v)) * E1 -
                       ((X + v * tau) / (2.0 * v)) * E2);
        } else {
          G = gamma *
              (tau + ((X - v * tau + D / v) / (2.0 * v)) * E1 -
               std::sqrt(kQuarterInvPi * tau / D) * (X + v * tau + 2.0 * D / v) * E3 +
               ((X + v * tau) * (X + v * tau) / (4.0 * D) + tau / 2.0 - D / (2.0 * v * v)) * E2);
        }
      }
      Y = CI + (C0 - CI) * A + G;
    }
    return;
  }

  // First-order decay: G_inf is the steady state of production against decay.
  const double Ginf = gamma / mu;
  for (int pass = 1; pass <= 2; ++pass) {
    double B = 0.0;
    double H = 0.0;
    const double tau = (pass == 1) ? T : T - T0;
    if (tau <= 0.0) continue;

    const double s = std::sqrt(4.0 * D * tau);
    const double A2 = (X + v * tau) / s;
    if (pass == 1) {
      const double A1 = (X - v * tau) / s;
      const double E1 = EXF(0.0, A1);
      const double E2 = EXF(v * X / D, A2);
      double E3, P1, P3;
      if (flux) {
        E3 = 0.0;
        P1 = 0.0;
        P3 = 0.5;
      } else {
        E3 = EXF(-((X - v * tau) * (X - v * tau)) / (4.0 * D * tau), 0.0);
        P1 = v * std::sqrt(tau / (kPi * D));
        P3 = -0.5 * (1.0 + v * X / D + v * v * tau / D);
      }
      const double A = 0.5 * E1 + P1 * E3 + P3 * E2;
      B = (1.0 - A) * EXF(-mu * tau, 0.0);
    }

    const double wr = std::sqrt(v * v + 4.0 * mu * D);
    const double em = EXF((v - wr) * X / (2.0 * D), (X - wr * tau) / s);
    const double ep = EXF((v + wr) * X / (2.0 * D), (X + wr * tau) / s);
    if (flux) {
      H = 0.5 * em + 0.5 * ep;
    } else {
      H = (v / (v + wr)) * em + (v / (v - wr)) * ep +
          (v * v / (2.0 * mu * D)) * EXF(v * X / D - mu * tau, A2);
    }

    if (pass == 2) {
      Y = Y - C0 * H;
      return;
    }
    Y = Ginf + (CI - Ginf) * B + (C0 - Ginf) * H;
  }
}

}  // namespace btcfit
