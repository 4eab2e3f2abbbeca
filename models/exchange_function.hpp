// Goldstein's J function of the two-site/two-region exchange.
#pragma once

namespace btcfit {

// J(a, b) = 1 - integral_0^a exp(-b - xi) I0(2 sqrt(b xi)) dxi, for
// non-negative a and b.
double GOLD(double a, double b);

// r[i] = GOLD(a[i], b[i]) for i < n, bit for bit: the series of several
// argument pairs are summed side by side, every other case goes through
// GOLD itself. No allocation.
void GOLD_batch(const double* a, const double* b, double* r, int n);

namespace gold_detail {

// The stopping test of the series, (D/T < 1e-8), as GOLD_batch decides it
// for two lanes at once, for T in [2^-990, 2^1000] and D >= 0: stop[j]
// from D[j] and T[j].
void series_stops(const double* D, const double* T, bool* stop);

// GOLD_batch with the series summed `group` (4 or 8; 8 needs AVX) at a
// time; GOLD_batch takes 8 where the processor has AVX.
void GOLD_batch_in_groups(const double* a, const double* b, double* r, int n, int group);

}  // namespace gold_detail

}  // namespace btcfit
