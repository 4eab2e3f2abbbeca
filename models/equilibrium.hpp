// Equilibrium convection-dispersion solution for one rectangular pulse.
#pragma once

#include "problem/problem_record.hpp"

namespace btcfit {

// Concentration at distance X and time T (since the start of the pulse) for
// linear equilibrium adsorption with first-order decay (PAR5) and zero-order
// production (PAR6), all already divided by the retardation factor. Reads
// CI, C0, VELO, DISP, TPUL, PAR5, PAR6 and MODE (flux or resident
// concentrations, as the code's traits say) from `w`. Y is written only when T > 0.
void MOD12(const ModelWork& w, double& Y, double X, double T);

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
  bool flux;     // flux (not resident) concentrations
};

// Solutions without decay (mu = 0) as arrays, K <= kPlainMax: solution k
// has the fields v[k], D[k], ... of a PulseSolution; Y[k] in and out.
struct PlainSolutions {
  const double* v;
  const double* D;
  const double* X;
  const double* T;
  const double* TPUL;
  const double* CI;
  const double* C0;
  const double* gamma;
  const bool* flux;
  double* Y;
};

// Most solutions in one call of plain_solutions.
inline constexpr int kPlainMax = 16;

// MOD12 for K <= kPlainMax solutions without decay, each with the result
// bits of a call on its own (their erfc products evaluated together).
void plain_solutions(int K, const PlainSolutions& a);

PulseSolution pulse_solution(const ModelWork& w, double Y, double X, double T);

// MOD12 for q[0..K-1], each with the result bits of a call on its own; the
// solutions without decay have their erfc products evaluated together.
void MOD12_many(int K, PulseSolution* q);

}  // namespace btcfit
