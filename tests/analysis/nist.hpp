// NIST StRD nonlinear regression problems: the reader of their files and
// the models of the ones the stats tests use.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <fstream>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/fit_statistics.hpp"

namespace btcfit::stats {

struct NistProblem {
  std::vector<double> x, y;
  std::vector<double> start1, start2;
  std::vector<double> certified, certified_sd;
  double certified_ssq = 0.0;
  double certified_residual_sd = 0.0;
  int certified_dof = 0;
};

inline std::string nist_path(const std::string& name) {
  return std::string(BTCFIT_STATS_TEST_DATA) + "/nist/" + name + ".dat";
}

// Reads a NIST StRD nonlinear regression file: the parameter lines
// "b1 = start1 start2 value sd", the residual lines, and the data pairs
// "y x" after the second "Data:" line.
inline NistProblem read_nist(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << "cannot open " << path;
  NistProblem p;
  std::string line;
  int data_headers = 0;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string first;
    words >> first;
    if (first.size() >= 2 && first[0] == 'b' && std::isdigit(first[1])) {
      std::string eq;
      double start1, start2, value, sd;
      if (words >> eq >> start1 >> start2 >> value >> sd && eq == "=") {
        p.start1.push_back(start1);
        p.start2.push_back(start2);
        p.certified.push_back(value);
        p.certified_sd.push_back(sd);
      }
    } else if (line.find("Residual Sum of Squares:") != std::string::npos) {
      p.certified_ssq = std::stod(line.substr(line.find(':') + 1));
    } else if (line.find("Residual Standard Deviation:") != std::string::npos) {
      p.certified_residual_sd = std::stod(line.substr(line.find(':') + 1));
    } else if (line.find("Degrees of Freedom:") != std::string::npos) {
      p.certified_dof = std::stoi(line.substr(line.find(':') + 1));
    } else if (first == "Data:") {
      ++data_headers;
    } else if (data_headers == 2) {
      std::istringstream pair(line);
      double y, x;
      if (pair >> y >> x) {
        p.y.push_back(y);
        p.x.push_back(x);
      }
    }
  }
  return p;
}

// The model function y = f(x; b) of a problem, by the problem's name.
using NistFunction = double (*)(double x, const double* b);

inline NistFunction nist_function(const std::string& name) {
  if (name == "Misra1a" || name == "BoxBOD") {
    return [](double x, const double* b) { return b[0] * (1.0 - std::exp(-b[1] * x)); };
  }
  if (name == "Bennett5") {
    return [](double x, const double* b) { return b[0] * std::pow(b[1] + x, -1.0 / b[2]); };
  }
  if (name == "Eckerle4") {
    return [](double x, const double* b) {
      const double z = (x - b[2]) / b[1];
      return b[0] / b[1] * std::exp(-0.5 * z * z);
    };
  }
  if (name == "MGH09") {
    return [](double x, const double* b) {
      return b[0] * (x * x + x * b[1]) / (x * x + x * b[2] + b[3]);
    };
  }
  if (name == "MGH10") {
    return [](double x, const double* b) { return b[0] * std::exp(b[1] / (x + b[2])); };
  }
  if (name == "Rat42") {
    return [](double x, const double* b) { return b[0] / (1.0 + std::exp(b[1] - b[2] * x)); };
  }
  if (name == "Rat43") {
    return [](double x, const double* b) {
      return b[0] / std::pow(1.0 + std::exp(b[1] - b[2] * x), 1.0 / b[3]);
    };
  }
  if (name == "Thurber") {
    return [](double x, const double* b) {
      const double x2 = x * x, x3 = x2 * x;
      return (b[0] + b[1] * x + b[2] * x2 + b[3] * x3) /
             (1.0 + b[4] * x + b[5] * x2 + b[6] * x3);
    };
  }
  ADD_FAILURE() << "no model for " << name;
  return [](double, const double*) { return 0.0; };
}

inline Model nist_model(const std::string& name, const std::vector<double>& x) {
  const NistFunction f = nist_function(name);
  return [f, x](std::span<const double> b, std::span<double> out) {
    for (std::size_t i = 0; i < x.size(); ++i) out[i] = f(x[i], b.data());
  };
}

// Number of significant decimal digits in which `a` agrees with `ref`.
inline double agreeing_digits(double a, double ref) {
  const double rel = std::fabs(a - ref) / std::fabs(ref);
  return rel == 0.0 ? 17.0 : -std::log10(rel);
}

}  // namespace btcfit::stats
