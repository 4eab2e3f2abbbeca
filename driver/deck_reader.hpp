// Reading the input deck into the problem record, with the echo of the
// problem written into the report as each block's records are read.
#pragma once

#include <stdexcept>
#include <string>

#include "driver/problem_record.hpp"
#include "report/record_layout.hpp"

namespace btcfit {

// A deck that the program refuses to run: beyond the fixed maxima of the
// tables, or with bounds that the search could never satisfy. The run ends
// with exit status 1 and the message on standard error.
class DeckRejected : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the whole deck from `deck` into `rec` (zero-filled on entry),
// writing the echo blocks into `report`. When `write_pd_file` is true and the
// control record asks for it, pd.dat is created in the working directory
// right after the control record (and the banner) are read.
// Throws IoError on an unreadable field or early end of file, DeckRejected
// on a deck beyond the table maxima.
void read_deck(ProblemRecord& rec, InputUnit& deck, OutputUnit& report,
               bool write_pd_file);

// The guard run after the echo and before the search: every varied
// coefficient must be placeable within its bounds. Throws DeckRejected.
void check_search_bounds(const ProblemRecord& rec);

}  // namespace btcfit
