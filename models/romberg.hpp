// Romberg quadrature in the logarithm of the integration variable.
#pragma once

#include <cmath>

#include "models/lockstep.hpp"

namespace btcfit {

// Integrates F over [A, B] (0 < A < B) by trapezoid sums on halved steps in
// u = ln x, using a Richardson table only to decide when to stop. S receives
// the trapezoid sum of the last level (the upper end term is never added and
// F is never evaluated at B). S = 0 and no call of F when A >= B.
//
// F is any callable double(double); it is a template parameter so that the
// integrand is inlined into the loop. An F that also has a member
// batch(const double* x, double* f, int n) is called through it only: once
// for the abscissae of levels 1 to 5 (always needed), then once per further
// level, with the same abscissae and the same order of summation.
template <class Integrand>
void ROMB(Integrand&& F, double& S, double A, double B);

// ROMB for a batch integrand as a computation that pauses for the
// integrand values (one request for levels 1 to 5, one per further level);
// S is set as ROMB sets it and must outlive it. FA, if given, is F(A),
// which is then not asked for.
Steps romberg_steps(double& S, double A, double B, const double* FA = nullptr);

}  // namespace btcfit

#include "models/romberg_impl.hpp"
