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
void MOD12_pair(const ModelWork& w1, double& Y1, const ModelWork& w2, double& Y2, double X,
                double T);

}  // namespace btcfit
