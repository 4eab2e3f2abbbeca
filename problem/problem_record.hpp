// The problem record: the single store of one problem.
//
// One instance lives for the whole run and is passed by reference to every
// routine; nothing here is global. The fields keep the short upper-case names
// under which they appear in the deck description and the report, and every
// table is numbered from 1 as in the deck and the report (element 0 of each
// array is never used).
//
// The working fields of a model evaluation (group MODAT2) live in their own
// struct, ModelWork, so that a worker can evaluate observations on its own
// copy while other workers do the same.
#pragma once

#include <array>
#include <cstdint>

namespace btcfit {

inline constexpr int MAXOBS = 90;    // observations
inline constexpr int MAXPULSE = 10;  // pulses or mass inputs
inline constexpr int MAXCOEF = 7;    // coefficient positions
inline constexpr int COEFROWS = 14;  // rows of one coefficient set

// MODAT1: observation positions and the counts and flags of the problem.
struct ObservationGroup {
  std::array<double, MAXOBS + 1> XOBS{};  // distance of observation i
  std::array<double, MAXOBS + 1> TOBS{};  // time of observation i
  std::array<std::int32_t, MAXCOEF + 1> IVAR{};  // 0 fixed, nonzero varied
  std::int32_t NOB = 0;    // number of observations
  std::int32_t IRED = 0;   // 0 measured, 1 reduced C, 2 reduced C and time
  std::int32_t NCOEF = 0;  // the model code's coefficient count
};

// MODAT2: input concentrations, the model code and the working parameters
// through which the model routines hand values to one another.
struct ModelWork {
  double CI = 0.0;      // initial concentration of the profile
  double C0 = 0.0;      // input concentration (of the current pulse)
  double TMLOAD = 0.0;  // solute load: input mass over C0
  double XMAX = 0.0;    // largest observation distance
  double VELO = 0.0;    // velocity handed to the solution routines
  double DISP = 0.0;    // dispersion term handed to the solution routines
  double TPUL = 0.0;    // pulse duration in use
  double PAR5 = 0.0;    // parameter derived from coefficient 5
  double PAR6 = 0.0;    // parameter derived from coefficient 6
  double RFAC = 0.0;    // retardation factor
  double VLNMU = 0.0;   // stream tubes: mean of ln v
  double SIGMA = 0.0;   // stream tubes: standard deviation of ln v
  double ALPHA = 0.0;   // stream tubes: dispersivity
  double XCUR = 0.0;    // distance (or dimensionless distance) in work
  double TCUR = 0.0;    // time (or dimensionless time) in work
  std::int32_t MODE = 0;  // model code 1..8 (its traits: problem/model_traits.hpp)
};

// MODAT3: the pulse tables.
struct PulseGroup {
  // Codes 1-6: TPULSE(j) start and TPULSE(j+1) end of pulse j; TPULSE(1)
  // stays 0. Codes 7-8: TPULSE(j) is the time of mass input j.
  std::array<double, MAXPULSE + 3> TPULSE{};
  std::array<double, MAXPULSE + 1> CPULSE{};  // concentration or mass
  double CISAVE = 0.0;  // CI as it was when the evaluation started
  std::int32_t NPULSE = 0;
};

// A coefficient name as the deck holds it: a 4-character and a
// 2-character part.
struct CoefName {
  std::array<char, 4> head{' ', ' ', ' ', ' '};
  std::array<char, 2> tail{' ', ' '};
};

// One coefficient set: coefficient k sits in row NCOEF + k (rows 1..NCOEF
// unused). Element 0 is row 1.
using CoefColumn = std::array<double, COEFROWS>;

struct ProblemRecord {
  ObservationGroup obs;  // MODAT1
  ModelWork work;        // MODAT2
  PulseGroup pulses;     // MODAT3

  // Driver tables.
  std::array<double, MAXOBS + 1> CCALC{};  // calculated concentrations
  std::array<double, MAXOBS + 1> COBS{};   // observed concentrations
  // Three coefficient sets: COEF[0] current, COEF[1] trial, COEF[2] best.
  std::array<CoefColumn, 3> COEF{};
  std::array<double, MAXCOEF + 1> BMIN{};
  std::array<double, MAXCOEF + 1> BMAX{};
  std::array<CoefName, MAXCOEF + 1> CNAME{};
  // Input concentration of deck record 8, kept apart from C0 (which the
  // pulse superposition overwrites): the reference of reduced
  // concentrations.
  double C0DECK = 0.0;
  std::int32_t IOUT = 0;    // 1 echo observed data; 2, 3+ write pd.dat
  std::int32_t NOECHO = 0;  // nonzero suppresses the banner and echo
  std::int32_t ILSQ = 0;    // nonzero adds the least-squares banner line
  std::int32_t IDATA = 0;   // 1: NOB observation records follow
  std::int32_t IFIRST = 0;  // value of the first deck record; no effect

  // Coefficient k (1..NCOEF) of set `column` (1 current, 2 trial, 3 best).
  double& coef(int k, int column) {
    return COEF[column - 1][obs.NCOEF + k - 1];
  }
  double coef(int k, int column) const {
    return COEF[column - 1][obs.NCOEF + k - 1];
  }
};

}  // namespace btcfit
