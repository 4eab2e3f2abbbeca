// Reading the input deck into the problem record. A listener hears of each
// block as soon as its records have been read, so that the console program
// can write the echo (and pd.dat) in their place: a deck that fails
// part-way leaves the report as far as it was read.
#pragma once

#include "problem/problem_record.hpp"
#include "report/record_layout.hpp"

namespace btcfit {

class DeckListener {
 public:
  virtual ~DeckListener() = default;
  // Records 1 and 2 (the control record) are read and accepted; NCOEF is
  // not yet set.
  virtual void control_read(const ProblemRecord&) {}
  // Records 3 to 8: coefficients, bounds, CI, C0 and the pulse count.
  virtual void concentrations_read(const ProblemRecord&) {}
  // Several pulses follow (before the first pulse record is read).
  virtual void pulses_begin(const ProblemRecord&) {}
  // The record of pulse (or load) j has been read.
  virtual void pulse_read(const ProblemRecord&, int /*j*/) {}
  // The observations have been read: the deck is complete.
  virtual void deck_read(const ProblemRecord&) {}
};

// Reads the whole deck from `deck` into `rec` (zero-filled on entry),
// telling `listener` of each block. Applies the deck's silent corrections
// (BETA's upper bound, the pulse count, the variation of the pulse duration
// with several pulses and of the velocity with reduced time).
// Throws IoError on an unreadable field or early end of file, ProblemError
// on a model code outside 1..8 or a deck beyond the table maxima.
void read_deck(ProblemRecord& rec, InputUnit& deck, DeckListener& listener);

// Tells `listener` of the blocks of `rec` in the order the reader does, as
// if `rec` had just been read.
void replay_deck(const ProblemRecord& rec, DeckListener& listener);

}  // namespace btcfit
