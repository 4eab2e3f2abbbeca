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
#include "models/exponential_erfc_batch.hpp"

namespace btcfit {

namespace {

constexpr double kPi = double(3.141593f);
// Stands for 1/(4 pi) in the resident production term.
constexpr double kQuarterInvPi = double(0.079577f);

static_assert(kPi == 3.1415929794311523);
static_assert(kQuarterInvPi == 0.0795769989490509);

// A tube without decay (mu = 0) as both passes see it.
struct PlainTube {
  double v, D, vXD, X;
  bool flux;

  // Arguments of E1 = EXF(0, (X - v tau)/s) and E2 = EXF(v X/D, (X + v tau)/s).
  void erfc_args(double tau, double* As, double* Bs) const {
    const double s = std::sqrt(4.0 * D * tau);
    As[0] = 0.0;
    Bs[0] = (X - v * tau) / s;
    As[1] = vXD;
    Bs[1] = (X + v * tau) / s;
  }

  // Step response A of a pass from its E1 and E2; E3 is returned as well.
  double step(double tau, double E1, double E2, double& E3) const {
    double P1, P3;
    if (flux) {
      E3 = 0.0;
      P1 = 0.0;
      P3 = 0.5;
    } else {
      E3 = exf_one(-((X - v * tau) * (X - v * tau)) / (4.0 * D * tau), 0.0);
      P1 = v * std::sqrt(tau / (kPi * D));
      P3 = -0.5 * (1.0 + vXD + v * v * tau / D);
    }
    return 0.5 * E1 + P1 * E3 + P3 * E2;
  }
};

constexpr int kMaxTubes = kExfBatchMax / 4;  // four EXF calls per tube

// MOD12 without decay for K tubes at the same X and T: the EXF calls of
// both passes of all the tubes (E1 and E2 of each) go through one batch;
// every value is formed as in a pass of one tube on its own.
void mod12_plain(int K, const ModelWork* const* ws, double* const* Ys, double X, double T) {
  PlainTube tube[kMaxTubes];
  double As[kExfBatchMax], Bs[kExfBatchMax], E[kExfBatchMax];
  int at1[kMaxTubes], at2[kMaxTubes];  // first lane of pass 1, pass 2 (-1: skipped)
  int n = 0;
  const double tau1 = T;
  const bool run1 = !(tau1 <= 0.0);
  for (int k = 0; k < K; ++k) {
    const ModelWork& w = *ws[k];
    PlainTube& tb = tube[k];
    tb.v = w.VELO;
    tb.D = w.DISP;
    tb.vXD = tb.v * X / tb.D;
    tb.X = X;
    tb.flux = (w.MODE == 2);
    at1[k] = at2[k] = -1;
    if (run1) {
      at1[k] = n;
      tb.erfc_args(tau1, As + n, Bs + n);
      n += 2;
    }
    const double tau2 = T - w.TPUL;
    if (!(tau2 <= 0.0)) {
      at2[k] = n;
      tb.erfc_args(tau2, As + n, Bs + n);
      n += 2;
    }
  }
  if (n == 0) return;
  exf_batch(n, As, Bs, E);

  for (int k = 0; k < K; ++k) {
    const ModelWork& w = *ws[k];
    const PlainTube& tb = tube[k];
    double& Y = *Ys[k];
    const double CI = w.CI;
    const double C0 = w.C0;
    const double gamma = w.PAR6;
    const double v = tb.v;
    const double D = tb.D;
    if (at1[k] >= 0) {
      const double tau = tau1;
      const double E1 = E[at1[k]];
      const double E2 = E[at1[k] + 1];
      double E3;
      const double A = tb.step(tau, E1, E2, E3);
      double G = 0.0;
      if (gamma != 0.0) {
        if (tb.flux) {
          G = gamma * (tau + ((X - v * tau) / (2.0 * v)) * E1 -
                       ((X + v * tau) / (2.0 * v)) * E2);
        } else {
          G = gamma *
              (tau + ((X - v * tau + D / v) / (2.0 * v)) * E1 -
               std::sqrt(kQuarterInvPi * tau / D) * (X + v * tau + 2.0 * D / v) * E3 +
               ((X + v * tau) * (X + v * tau) / (4.0 * D) + tau / 2.0 - D / (2.0 * v * v)) *
                   E2);
        }
      }
      Y = CI + (C0 - CI) * A + G;
    }
    if (at2[k] >= 0) {
      double E3;
      Y = Y - C0 * tb.step(T - w.TPUL, E[at2[k]], E[at2[k] + 1], E3);
    }
  }
}

}  // namespace

void MOD12_pair(const ModelWork& w1, double& Y1, const ModelWork& w2, double& Y2, double X,
                double T) {
  if (w1.PAR5 == 0.0 && w2.PAR5 == 0.0) {
    const ModelWork* ws[2] = {&w1, &w2};
    double* Ys[2] = {&Y1, &Y2};
    mod12_plain(2, ws, Ys, X, T);
    return;
  }
  MOD12(w1, Y1, X, T);
  MOD12(w2, Y2, X, T);
}

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
    const ModelWork* ws[1] = {&w};
    double* Ys[1] = {&Y};
    mod12_plain(1, ws, Ys, X, T);
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
      // The step response, as without decay.
      const PlainTube tube{v, D, v * X / D, X, flux};
      const double A1 = (X - v * tau) / s;
      const double E1 = exf_one(0.0, A1);
      const double E2 = exf_one(tube.vXD, A2);
      double E3;
      const double A = tube.step(tau, E1, E2, E3);
      B = (1.0 - A) * exf_one(-mu * tau, 0.0);
    }

    const double wr = std::sqrt(v * v + 4.0 * mu * D);
    const double em = exf_one((v - wr) * X / (2.0 * D), (X - wr * tau) / s);
    const double ep = exf_one((v + wr) * X / (2.0 * D), (X + wr * tau) / s);
    if (flux) {
      H = 0.5 * em + 0.5 * ep;
    } else {
      H = (v / (v + wr)) * em + (v / (v - wr)) * ep +
          (v * v / (2.0 * mu * D)) * exf_one(v * X / D - mu * tau, A2);
    }

    if (pass == 2) {
      Y = Y - C0 * H;
      return;
    }
    Y = Ginf + (CI - Ginf) * B + (C0 - Ginf) * H;
  }
}

}  // namespace btcfit
