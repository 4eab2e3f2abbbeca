#include "estimate/final_results.hpp"

#include "models/model.hpp"

namespace btcfit {

void final_concentrations(ProblemRecord& rec, ObservationPool* pool) {
  // The search's last evaluation was for a trial set: evaluate the best.
  MODEL(rec, rec.COEF[0], rec.CCALC, pool);
}

}  // namespace btcfit
