// The echo of the problem in the report, written block by block as the
// deck reader tells of them; optionally pd.dat, right after the control
// record, where the deck asks for it.
#pragma once

#include <memory>

#include "api/deck_reader.hpp"
#include "report/record_layout.hpp"

namespace btcfit {

class EchoWriter : public DeckListener {
 public:
  // `pd_file`: create pd.dat in the working directory when the control
  // record asks for it.
  EchoWriter(OutputUnit& report, bool pd_file) : report_(report), pd_file_(pd_file) {}

  void control_read(const ProblemRecord& rec) override;
  void concentrations_read(const ProblemRecord& rec) override;
  void pulses_begin(const ProblemRecord& rec) override;
  void pulse_read(const ProblemRecord& rec, int j) override;
  void deck_read(const ProblemRecord& rec) override;

 private:
  OutputUnit& report_;
  bool pd_file_;
};

}  // namespace btcfit
