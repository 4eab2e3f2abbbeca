#include "api/deck_reader.hpp"

#include <string>
#include <vector>

#include "btcfit/errors.hpp"
#include "problem/model_traits.hpp"

namespace btcfit {

void read_deck(ProblemRecord& rec, InputUnit& deck, DeckListener& listener) {
  static const Layout integers7("(7I10)");
  static const Layout integers6("(6I10)");
  static const Layout reals7("(7F10.0)");
  static const Layout names("(7(TR4,A4,A2))");
  static const Layout concentrations("(2F10.0,I10)");

  auto& obs = rec.obs;
  auto& work = rec.work;
  auto& pulses = rec.pulses;

  // Records 1 and 2: the leading record and the control record.
  read_record(integers7, deck, {rec.IFIRST});
  read_record(integers7, deck,
              {work.MODE, rec.IDATA, obs.IRED, rec.ILSQ, obs.NOB, rec.NOECHO,
               rec.IOUT});
  if (!valid_model_code(work.MODE)) {
    throw ProblemError("model code " + std::to_string(work.MODE) +
                       " in columns 1-10 of the control record is outside 1..8");
  }
  if (obs.NOB > MAXOBS) {
    throw ProblemError("the deck gives " + std::to_string(obs.NOB) +
                       " observations; at most " + std::to_string(MAXOBS) +
                       " are allowed");
  }

  listener.control_read(rec);
  obs.NCOEF = model_traits(work.MODE).coefficient_count;
  const int ncoef = obs.NCOEF;

  // Records 3 to 7: names, initial values, flags (two records with seven
  // coefficients), lower and upper bounds.
  {
    std::vector<FieldTarget> t;
    for (int k = 1; k <= ncoef; ++k) {
      t.emplace_back(rec.CNAME[k].head.data(), rec.CNAME[k].head.size());
      t.emplace_back(rec.CNAME[k].tail.data(), rec.CNAME[k].tail.size());
    }
    read_record(names, deck, t);
  }
  auto read_reals = [&](auto&& element) {
    std::vector<FieldTarget> t;
    for (int k = 1; k <= ncoef; ++k) t.emplace_back(element(k));
    read_record(reals7, deck, t);
  };
  read_reals([&](int k) -> double& { return rec.coef(k, 1); });
  {
    std::vector<FieldTarget> t;
    for (int k = 1; k <= ncoef; ++k) t.emplace_back(obs.IVAR[k]);
    read_record(integers6, deck, t);
  }
  read_reals([&](int k) -> double& { return rec.BMIN[k]; });
  read_reals([&](int k) -> double& { return rec.BMAX[k]; });

  // The fraction beta of the nonequilibrium model cannot exceed 1.
  if (model_traits(work.MODE).family == ModelFamily::nonequilibrium &&
      (rec.BMAX[5] == 0.0 || rec.BMAX[5] > 1.0)) {
    rec.BMAX[5] = 1.0;
  }

  // Record 8: initial and input concentrations, number of pulses.
  read_record(concentrations, deck, {work.CI, work.C0, pulses.NPULSE});
  if (pulses.NPULSE <= 0) pulses.NPULSE = 1;
  if (pulses.NPULSE > MAXPULSE) {
    throw ProblemError("the deck gives " + std::to_string(pulses.NPULSE) +
                       " pulses; at most " + std::to_string(MAXPULSE) +
                       " are allowed");
  }
  rec.C0DECK = work.C0;

  listener.concentrations_read(rec);

  // Records 9: one per pulse when there are several.
  if (pulses.NPULSE != 1) {
    listener.pulses_begin(rec);
    obs.IVAR[4] = 0;
    for (int j = 1; j <= pulses.NPULSE; ++j) {
      double& time = model_traits(work.MODE).load ? pulses.TPULSE[j] : pulses.TPULSE[j + 1];
      read_record(reals7, deck, {time, pulses.CPULSE[j]});
      listener.pulse_read(rec, j);
    }
  }

  // Records 10: the observations.
  if (rec.IDATA == 1) {
    work.XMAX = 0.0;
    for (int i = 1; i <= obs.NOB; ++i) {
      read_record(reals7, deck, {rec.COBS[i], obs.XOBS[i], obs.TOBS[i]});
      if (obs.XOBS[i] > work.XMAX) work.XMAX = obs.XOBS[i];
    }
  }

  // Reduced time is scaled by the velocity, which must then stay fixed.
  if (obs.IRED == 2) obs.IVAR[1] = 0;

  listener.deck_read(rec);
}

void replay_deck(const ProblemRecord& rec, DeckListener& listener) {
  listener.control_read(rec);
  listener.concentrations_read(rec);
  if (rec.pulses.NPULSE != 1) {
    listener.pulses_begin(rec);
    for (int j = 1; j <= rec.pulses.NPULSE; ++j) listener.pulse_read(rec, j);
  }
  listener.deck_read(rec);
}

}  // namespace btcfit
