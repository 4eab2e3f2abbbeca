// Equilibrium convection-dispersion solution for one rectangular pulse.
#pragma once

#include "driver/problem_record.hpp"

namespace btcfit {

// Concentration at distance X and time T (since the start of the pulse) for
// linear equilibrium adsorption with first-order decay (PAR5) and zero-order
// production (PAR6), all already divided by the retardation factor. Reads
// CI, C0, VELO, DISP, TPUL, PAR5, PAR6 and MODE (2 = flux, anything else
// resident) from `w`. Y is written only when T > 0.
void MOD12(const ModelWork& w, double& Y, double X, double T);

// MOD12 on two tubes (w1 into Y1, w2 into Y2) at the same X and T, with the
// result bits of two separate calls; the two are evaluated side by side.
// One call of MOD12 as data: the fields of the working copy that MOD12
// reads, where it is evaluated, and Y (in: the value that stays when no
// pass applies, T <= 0; out: the concentration).
// (No default values: arrays of these are filled field by field.)
struct PulseSolution {
  double v;      // VELO
  double D;      // DISP
  double TPUL;
  double CI;
  double C0;
  double mu;     // PAR5
  double gamma;  // PAR6
  double X;
  double T;
  double Y;
  bool flux;     // MODE == 2
};

PulseSolution pulse_solution(const ModelWork& w, double Y, double X, double T);

// MOD12 for q[0..K-1], each with the result bits of a call on its own; the
// solutions without decay have their erfc products evaluated together.
void MOD12_many(int K, PulseSolution* q);

}  // namespace btcfit
