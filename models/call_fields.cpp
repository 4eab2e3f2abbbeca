#include "models/call_fields.hpp"
#include "problem/model_traits.hpp"

#include <bit>
#include <cstdint>

namespace btcfit {
namespace {

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

}  // namespace

CallFields CallFields::of(const ProblemRecord& rec) {
  return CallFields{rec.obs.TOBS, rec.work, rec.pulses.CISAVE, rec.CCALC};
}

void CallFields::give_to(ProblemRecord& rec) const {
  rec.obs.TOBS = TOBS;
  rec.work = work;
  rec.pulses.CISAVE = CISAVE;
  rec.CCALC = CCALC;
}

bool c0_is_set_by_every_call(const ModelWork& w, int npulse) {
  // Each pulse sets C0 to its own concentration; solute loads all share the
  // deck's C0.
  return npulse > 1 && !model_traits(w.MODE).load;
}

bool same_call_inputs(const CallFields& a, const CallFields& b, int nob, int npulse) {
  for (int j = 1; j <= nob; ++j) {
    if (!same_bits(a.TOBS[j], b.TOBS[j])) return false;
  }
  // VELO, DISP, TPUL, PAR5, PAR6, RFAC, VLNMU, SIGMA, ALPHA, XCUR, TCUR and
  // TMLOAD are set by every call before it reads them.
  const ModelWork& u = a.work;
  const ModelWork& v = b.work;
  if (u.MODE != v.MODE) return false;
  return same_bits(u.CI, v.CI) && (c0_is_set_by_every_call(u, npulse) || same_bits(u.C0, v.C0)) &&
         same_bits(u.XMAX, v.XMAX) && same_bits(a.CISAVE, b.CISAVE);
}

double reduced_time_factor(const ObservationGroup& obs, const ModelWork& w, const CoefColumn& B) {
  return obs.IRED == 2 ? w.XMAX / B[obs.NCOEF] : 1.0;
}

void predict_call_fields(const ObservationGroup& obs, const CoefColumn& B, CallFields& f) {
  f.CISAVE = f.work.CI;
  if (obs.IRED == 2) {
    const double FACT = reduced_time_factor(obs, f.work, B);
    for (int j = 1; j <= obs.NOB; ++j) f.TOBS[j] = (FACT * f.TOBS[j]) / FACT;
  }
}

}  // namespace btcfit
