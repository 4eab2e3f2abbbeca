// btcfit: analytical solutions of the one-dimensional convection-dispersion
// equation fitted to breakthrough data.
//
//   btcfit::Problem problem = btcfit::read_deck("column.in");
//   btcfit::FitResult result = btcfit::fit(problem);
//   btcfit::write_report(problem, result, std::cout);
//
// Link with the CMake target btcfit::btcfit (find_package(btcfit CONFIG)).
#pragma once

#include "btcfit/errors.hpp"
#include "btcfit/fit.hpp"
#include "btcfit/problem.hpp"
