// The reference table of tests/data/accurate (generate.py there): model
// values at 30 significant digits, computed with mpmath independently of
// the program, read into problem records for the model routines.
#pragma once

#include <array>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "problem/model_traits.hpp"
#include "problem/problem_record.hpp"

namespace btcfit::testing_accurate {

struct ReferenceRow {
  int line = 0;  // in reference.csv
  int code = 0;
  int ired = 0;
  std::array<double, 7> b{};  // b1..b7 (b7 unused below code 5)
  double CI = 0.0, C0 = 0.0, XMAX = 0.0;
  int npulse = 1;
  std::vector<double> tpulse, cpulse;
  double x = 0.0, t = 0.0;
  double c = 0.0;  // the reference value, in the form the model returns

  // The problem record and coefficient set of this row (one observation
  // at x, t).
  ProblemRecord record() const {
    ProblemRecord rec;
    rec.obs.NCOEF = model_traits(code).coefficient_count;
    rec.obs.IRED = ired;
    rec.obs.NOB = 1;
    rec.obs.XOBS[1] = x;
    rec.obs.TOBS[1] = t;
    rec.work.MODE = code;
    rec.work.CI = CI;
    rec.work.C0 = C0;
    rec.work.XMAX = XMAX;
    rec.C0DECK = C0;
    rec.pulses.NPULSE = npulse;
    for (std::size_t i = 0; i < tpulse.size(); ++i) rec.pulses.TPULSE[i + 1] = tpulse[i];
    for (std::size_t i = 0; i < cpulse.size(); ++i) rec.pulses.CPULSE[i + 1] = cpulse[i];
    return rec;
  }
  CoefColumn coefficients() const {
    CoefColumn B{};
    const int ncoef = model_traits(code).coefficient_count;
    for (int k = 1; k <= ncoef; ++k) B[ncoef + k - 1] = b[k - 1];
    return B;
  }
};

inline std::vector<double> split_numbers(const std::string& s) {
  std::vector<double> out;
  std::stringstream in(s);
  std::string item;
  while (std::getline(in, item, ';')) out.push_back(std::stod(item));
  return out;
}

inline std::vector<ReferenceRow> read_reference(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::vector<ReferenceRow> rows;
  std::string line;
  std::getline(in, line);  // header
  int number = 1;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty()) continue;
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string item;
    while (std::getline(ss, item, ',')) f.push_back(item);
    if (f.size() != 18) throw std::runtime_error(path + ": bad row " + std::to_string(number));
    ReferenceRow r;
    r.line = number;
    r.code = std::stoi(f[0]);
    r.ired = std::stoi(f[1]);
    for (int k = 0; k < 7; ++k) r.b[k] = f[2 + k].empty() ? 0.0 : std::stod(f[2 + k]);
    r.CI = std::stod(f[9]);
    r.C0 = std::stod(f[10]);
    r.XMAX = std::stod(f[11]);
    r.npulse = std::stoi(f[12]);
    r.tpulse = split_numbers(f[13]);
    r.cpulse = split_numbers(f[14]);
    r.x = std::stod(f[15]);
    r.t = std::stod(f[16]);
    r.c = std::stod(f[17]);
    rows.push_back(r);
  }
  return rows;
}

}  // namespace btcfit::testing_accurate
