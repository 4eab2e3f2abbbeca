// Model concentrations computed to close to double precision.
//
// The same models as MODEL (models/model.hpp), coefficient for coefficient:
// the same pulse superposition and solute loads, decay and production,
// initial concentration and reduced form. Only the numerics differ: the
// closed forms are built from a correctly scaled erfc, the two-site and
// stream-tube integrals are taken by adaptive Gauss-Kronrod quadrature over
// their whole range, and no single-precision constant is left. Every
// elementary function is the project's own (fixed_exp, fixed_log) or
// std::sqrt, so the values do not depend on the C library.
#pragma once

#include <span>

#include "problem/problem_record.hpp"

namespace btcfit {

// The model's concentrations at any number of points for coefficient set B
// (coefficient k at B[NCOEF + k - 1]), computed to close to double
// precision. `rec` gives the model code, pulses, CI, C0, the data form and
// XMAX exactly as MODEL reads them (its observation tables are not used);
// the result is in the form MODEL gives (reduced when IRED asks for it;
// times in `times` are reduced times when IRED is 2, as in the observation
// table). distances, times and concentrations have the same length. Pure:
// `rec` is only read, so calls may run side by side.
void accurate_model(const ProblemRecord& rec, const CoefColumn& B,
                    std::span<const double> distances, std::span<const double> times,
                    std::span<double> concentrations);

}  // namespace btcfit
