// libFuzzer target: the input bytes are an input deck.
//
// The deck is read into a zero-filled problem record with the echo written
// to /dev/null (pd.dat is never written), and the guard that runs before the
// search is applied. A clean end is a complete read, an input/output
// diagnostic (IoError) or a refused deck (ProblemError). Anything else is a
// finding: a crash, a sanitizer report, another exception escaping, a hang,
// or a problem record left outside the limits that the search relies on.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "btcfit/errors.hpp"
#include "api/deck_reader.hpp"
#include "api/echo_writer.hpp"
#include "estimate/search_bounds.hpp"
#include "problem/problem_record.hpp"
#include "report/record_layout.hpp"

namespace {

using namespace btcfit;

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "deck_reader_fuzz: %s\n", what);
  std::abort();
}

// What the search and the model routines take for granted after a deck
// has been read without complaint.
void check_record(const ProblemRecord& rec) {
  const int mode = rec.work.MODE;
  if (mode < 1 || mode > 8) broken("model code outside 1..8");
  if (rec.obs.NCOEF != (mode >= 5 ? 7 : 6)) broken("NCOEF does not follow MODE");
  if (rec.pulses.NPULSE < 1 || rec.pulses.NPULSE > MAXPULSE)
    broken("pulse count outside 1..MAXPULSE");
  if (rec.obs.NOB > MAXOBS) broken("more observations than the tables hold");
  if (rec.pulses.NPULSE > 1 && rec.obs.IVAR[4] != 0)
    broken("pulse duration varied with several pulses");
  if (rec.obs.IRED == 2 && rec.obs.IVAR[1] != 0)
    broken("velocity varied with reduced time");
  if ((mode == 3 || mode == 4) && (rec.BMAX[5] == 0.0 || rec.BMAX[5] > 1.0))
    broken("upper bound of beta not corrected");
}

std::FILE* null_sink() {
  static std::FILE* f = std::fopen("/dev/null", "wb");
  if (f == nullptr) broken("cannot open /dev/null");
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // fmemopen refuses a buffer of size 0; an empty deck is an empty
  // temporary file instead.
  std::FILE* in = size > 0
                      ? fmemopen(const_cast<std::uint8_t*>(data), size, "rb")
                      : std::tmpfile();
  if (in == nullptr) broken("cannot open the deck in memory");

  auto rec = std::make_unique<ProblemRecord>();
  InputUnit deck(5, "deck.in", in, true);
  OutputUnit report(6, "report.out", null_sink(), false);
  try {
    EchoWriter echo(report, false);
    read_deck(*rec, deck, echo);
    check_record(*rec);
    check_search_bounds(*rec);
  } catch (const IoError&) {
  } catch (const ProblemError&) {
  }
  return 0;
}
