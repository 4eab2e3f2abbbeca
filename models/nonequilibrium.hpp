// Two-site/two-region nonequilibrium solution (model codes 3 and 4).
#pragma once

#include "problem/problem_record.hpp"

namespace btcfit {

// Working parameters of codes 3 and 4 from coefficient set B (coefficient k
// at B[NCOEF + k - 1]): VELO = b1, DISP = Peclet number XMAX*b1/b2,
// PAR5 = min(b5, 0.9999)*R, PAR6 = b6. RFAC and TPUL are set by the caller.
void prepare_nonequilibrium(ModelWork& w, const CoefColumn& B, int NCOEF);

// Concentration caused by one pulse at distance X, time T since the pulse
// started. Reads XMAX, VELO, DISP, TPUL, PAR5, PAR6, RFAC, CI, C0, MODE;
// writes XCUR and TCUR. CP is left as passed when nothing applies.
void MOD34(ModelWork& w, double& CP, double X, double T);

// Integrand over the dimensionless equilibrium-phase time tau > 0; reads
// XCUR and TCUR as MOD34 left them.
double CC0(const ModelWork& w, double tau);

// f[i] = CC0(w, tau[i]) for i < n, bit for bit, with the J values of the
// batch evaluated side by side. No allocation.
void CC0_batch(const ModelWork& w, const double* tau, double* f, int n);

}  // namespace btcfit
