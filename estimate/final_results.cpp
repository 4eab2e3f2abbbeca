#include "estimate/final_results.hpp"

#include <vector>

#include "models/model.hpp"

namespace btcfit {

void write_final_results(ProblemRecord& rec, const SearchOutcome& outcome,
                         OutputUnit& report) {
  static const Layout heading("(/,/,TR5,'OBSERVED C',TR5,'CALCULATED C')");
  static const Layout pairs("(F13.4,TR6,F13.4)");

  // The last progress line, repeated under the number at which the search
  // ended.
  write_progress_line(rec, outcome.N, outcome.SSQ, report);
  // The search's last evaluation was for a trial set: evaluate the best.
  MODEL(rec, rec.COEF[0], rec.CCALC);
  write_record(heading, {}, report);
  std::vector<FieldValue> values;
  values.reserve(2 * MAXOBS);
  for (int i = 1; i <= rec.obs.NOB; ++i) {
    values.emplace_back(rec.COBS[i]);
    values.emplace_back(rec.CCALC[i]);
  }
  write_record(pairs, values, report);
}

}  // namespace btcfit
