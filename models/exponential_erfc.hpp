// exp(A)*erfc(B) with fixed guards against overflow and underflow.
#pragma once

namespace btcfit {

// Returns exp(A)*erfc(B), formed as exp(A - B*B) times an approximation of
// exp(B*B)*erfc(B). Exponents outside the window +-100 give fixed values
// (mostly 0). EXF(a, 0) serves as a guarded exponential:
// 0.9999999105930328*exp(a), or 0 when |a| > 100.
double EXF(double A, double B);

}  // namespace btcfit
