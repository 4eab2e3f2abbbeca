// What one model call hands to the next.
//
// A model call changes the problem record in three places only: the
// observation times (a reduced-time problem turns them into real times and
// back, which may move them by a rounding each call), the working fields,
// and CI as saved at the start. Most working fields are set anew by every
// call from its coefficients and observations before they are read; the
// others (CI, C0, MODE, XMAX) and the times are what a call takes
// from the one before. Calls for several coefficient sets can therefore run
// side by side, each on its own copy of the record, once each starts from
// the fields that the call before it leaves.
#pragma once

#include <array>

#include "problem/problem_record.hpp"

namespace btcfit {

struct CallFields {
  std::array<double, MAXOBS + 1> TOBS{};
  ModelWork work{};
  double CISAVE = 0.0;
  // The concentrations the call calculated (not read by a call).
  std::array<double, MAXOBS + 1> CCALC{};

  static CallFields of(const ProblemRecord& rec);
  void give_to(ProblemRecord& rec) const;
};

// True when calls that start from `a` and from `b` compute the same: the
// fields that a call reads before setting them are equal bit for bit
// (`nob` observations, `npulse` pulses or loads).
bool same_call_inputs(const CallFields& a, const CallFields& b, int nob, int npulse);

// Whether every call sets C0 before reading it (so that it is not handed on).
bool c0_is_set_by_every_call(const ModelWork& w, int npulse);

// Turns `f`, the fields a call for set B starts from, into those it
// leaves, as far as they can be known without the evaluation: the
// observation times after their round trip through real times, and CI as
// saved. The other fields a call reads keep their values: a call leaves
// them as it found them.
void predict_call_fields(const ObservationGroup& obs, const CoefColumn& B, CallFields& f);

// Factor that turns the reduced times of the observations into real times
// for set B (1 unless IRED is 2).
double reduced_time_factor(const ObservationGroup& obs, const ModelWork& w, const CoefColumn& B);

}  // namespace btcfit
