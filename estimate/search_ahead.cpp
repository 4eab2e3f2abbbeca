// Trials evaluated ahead of their judgement.
//
// Almost every trial of the search is rejected, and a rejected trial leaves the
// current set as it was: the next trial set is then drawn from the same set
// with the next steps of the stream. So while one thread evaluates a trial,
// the others evaluate the trials that follow it, drawn on the assumption
// that the trials before them are rejected, each on its own copy of the
// record. The trials are judged one by one in their order, exactly as the
// serial search judges them; a trial drawn from a set that is no longer the
// current one (after an acceptance, or after an outer iteration restarts
// from a best set that changed since), or evaluated from fields other than
// those its predecessor left, is thrown away with all that follow it and
// drawn and evaluated again. Every judged sum of squares is therefore the
// one the serial search computes, and the report is the same to the last
// digit.
#include <bit>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "btcfit/errors.hpp"
#include "estimate/annealing.hpp"
#include "estimate/search_state.hpp"
#include "models/call_fields.hpp"
#include "models/observation_pool.hpp"
#include "problem/model_traits.hpp"

namespace btcfit {
namespace {

// Trials drawn at most, from the next one to judge on, per thread: enough
// for a thread to go on while another finishes a costlier trial, few
// enough to waste little work when a trial is accepted.
constexpr int kAheadPerThread = 2;

bool same_set(const CoefColumn& a, const CoefColumn& b, int ncoef) {
  for (int row = ncoef; row < 2 * ncoef; ++row) {
    if (std::bit_cast<std::uint64_t>(a[row]) != std::bit_cast<std::uint64_t>(b[row])) return false;
  }
  return true;
}

class SearchAhead {
 public:
  SearchAhead(ProblemRecord& rec, SearchState& state, UniformStream& RANDOM5, float R1,
              const SearchControl& control, int threads)
      : rec_(rec),
        state_(state),
        control_(control),
        window_(kAheadPerThread * threads),
        slots_(window_),
        gen_steps_(RANDOM5),
        gen_R1_(R1),
        gen_base_(rec.COEF[0]),
        gen_entry_(CallFields::of(rec)),
        last_steps_(RANDOM5),
        last_R1_(R1),
        last_exit_(gen_entry_),
        start_(std::make_unique<ProblemRecord>(rec)) {}

  static void part(void* self, int participant) {
    static_cast<SearchAhead*>(self)->take_part(participant);
  }

  // Leaves the record, the step stream and the progress lines as the serial
  // search leaves them; rethrows a failure of the progress sink or of a
  // draw, and throws Cancelled when the search was cancelled.
  void finish(UniformStream& RANDOM5, float& R1, SearchOutcome& outcome) {
    if (failure_) std::rethrow_exception(failure_);
    if (cancelled_) throw Cancelled();
    outcome.thrown_away = thrown_away_;
    outcome.fields_differed = fields_differed_;
    last_exit_.give_to(rec_);
    for (int row = rec_.obs.NCOEF; row < 2 * rec_.obs.NCOEF; ++row) rec_.COEF[1][row] = last_trial_[row];
    RANDOM5 = last_steps_;
    R1 = last_R1_;
    state_.hand_on_lines(control_);
  }

 private:
  enum class Stage { drawn, taken, done };

  struct Slot {
    std::uint64_t seq = 0;  // number of the trial in the search, from 0
    Stage stage = Stage::drawn;
    CoefColumn base{};   // the set it was drawn from
    CoefColumn trial{};  // the trial set
    UniformStream steps_after;  // the step stream after its draws
    float R1_after = 0.0f;
    CallFields entry;  // the fields its model call starts from
    CallFields exit;   // the fields the call left
    double ssq = 0.0;
  };

  Slot* slot_of(std::uint64_t seq) {
    return seq < drawn_ ? &slots_[seq % window_] : nullptr;
  }

  // Draws the next trial on the assumption that every trial before it is
  // rejected.
  void draw_next() {
    const std::uint64_t seq = drawn_;
    // An outer iteration starts from the best set.
    if (seq % kTrialsPerIteration == 0) gen_base_ = rec_.COEF[2];
    Slot& s = slots_[seq % window_];
    s.seq = seq;
    s.stage = Stage::drawn;
    s.base = gen_base_;
    draw_trial_set(rec_, gen_base_, s.trial, gen_steps_, gen_R1_);
    s.steps_after = gen_steps_;
    s.R1_after = gen_R1_;
    s.entry = gen_entry_;
    predict_call_fields(rec_.obs, s.trial, gen_entry_);
    ++drawn_;
  }

  // True when the next trial to judge was drawn from the current set and
  // its call starts from the fields the last judged call left.
  bool next_trial_holds(const Slot* s) {
    const bool iteration_start = judged_ % kTrialsPerIteration == 0;
    const CoefColumn& base = s != nullptr ? s->base : (iteration_start ? rec_.COEF[2] : gen_base_);
    if (!same_set(base, rec_.COEF[0], rec_.obs.NCOEF)) return false;
    const CallFields& entry = s != nullptr ? s->entry : gen_entry_;
    if (same_call_inputs(entry, last_exit_, rec_.obs.NOB, rec_.pulses.NPULSE)) return true;
    ++fields_differed_;
    return false;
  }

  // Throws away the trials from the next one to judge on and draws them
  // again from the current set.
  void draw_again() {
    for (std::uint64_t seq = judged_; seq < drawn_; ++seq) {
      if (slots_[seq % window_].stage == Stage::done) ++thrown_away_;
    }
    ++epoch_;
    drawn_ = judged_;
    gen_steps_ = last_steps_;
    gen_R1_ = last_R1_;
    gen_base_ = rec_.COEF[0];
    gen_entry_ = last_exit_;
  }

  // Whether every trial in the window from the next one to judge on has
  // been evaluated (for control.judge_full_window).
  bool window_done() {
    for (std::uint64_t seq = judged_; seq < judged_ + window_; ++seq) {
      const Slot* s = slot_of(seq);
      if (s == nullptr || s->stage != Stage::done) return false;
    }
    return true;
  }

  // Judges the evaluated trials that are next in order.
  void judge_ready() {
    while (!state_.ended()) {
      Slot* s = slot_of(judged_);
      if (!next_trial_holds(s)) {
        draw_again();
        return;
      }
      if (s == nullptr || s->stage != Stage::done) return;
      if (control_.judge_full_window && !window_done()) return;
      state_.judge(s->trial, s->ssq);
      last_trial_ = s->trial;
      last_exit_ = s->exit;
      last_steps_ = s->steps_after;
      last_R1_ = s->R1_after;
      ++judged_;
    }
  }

  // The first trial within the window that nobody evaluates yet.
  Slot* next_to_evaluate() {
    for (std::uint64_t seq = judged_; seq < judged_ + window_; ++seq) {
      if (seq == drawn_) draw_next();
      Slot& s = slots_[seq % window_];
      if (s.stage == Stage::drawn) return &s;
    }
    return nullptr;
  }

  void take_part(int participant) {
    auto mine = std::make_unique<ProblemRecord>(*start_);
    std::unique_lock lock(mutex_);
    for (;;) {
      if (participant == 0 && !stopped_) {
        try {
          state_.hand_on_lines(control_);
        } catch (...) {
          failure_ = std::current_exception();
          stopped_ = true;
        }
      }
      if (!stopped_ && control_.cancel != nullptr &&
          control_.cancel->load(std::memory_order_relaxed)) {
        cancelled_ = true;
        stopped_ = true;
      }
      if (stopped_ || state_.ended()) break;
      Slot* s = nullptr;
      try {
        s = next_to_evaluate();
      } catch (...) {
        // A trial set that cannot be drawn (its bounds are never reached).
        failure_ = std::current_exception();
        stopped_ = true;
        break;
      }
      if (s == nullptr) {
        changed_.wait(lock);
        continue;
      }
      s->stage = Stage::taken;
      const std::uint64_t seq = s->seq;
      const std::uint64_t epoch = epoch_;
      const CoefColumn trial = s->trial;
      s->entry.give_to(*mine);
      lock.unlock();
      const double ssq = sum_of_squares(*mine, trial);
      CallFields exit = CallFields::of(*mine);
      lock.lock();
      if (epoch == epoch_) {
        s = slot_of(seq);
        s->exit = exit;
        s->ssq = ssq;
        s->stage = Stage::done;
        judge_ready();
      } else {
        ++thrown_away_;
      }
      changed_.notify_all();
    }
    changed_.notify_all();
  }

  ProblemRecord& rec_;
  SearchState& state_;
  const SearchControl& control_;
  const std::uint64_t window_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Slot> slots_;
  std::uint64_t epoch_ = 0;   // counts the times trials were thrown away
  std::uint64_t judged_ = 0;  // trials judged so far
  std::uint64_t drawn_ = 0;   // trials drawn so far (in this epoch)
  // The draw of the next trial: step stream, the set it is drawn from and
  // the fields its call is predicted to start from.
  UniformStream gen_steps_;
  float gen_R1_;
  CoefColumn gen_base_;
  CallFields gen_entry_;
  // After the last judged trial.
  UniformStream last_steps_;
  float last_R1_;
  CoefColumn last_trial_{};
  CallFields last_exit_;
  std::int64_t thrown_away_ = 0;
  std::int64_t fields_differed_ = 0;
  bool stopped_ = false;
  bool cancelled_ = false;
  std::exception_ptr failure_;
  std::unique_ptr<ProblemRecord> start_;  // the record the threads copy
};

}  // namespace

bool search_ahead(ProblemRecord& rec, SearchState& state, UniformStream& RANDOM5, float& R1,
                  const SearchControl& control, SearchOutcome& outcome) {
  ObservationPool* pool = control.pool;
  if (pool == nullptr || pool->participants() < 2 ||
      model_traits(rec.work.MODE).family == ModelFamily::equilibrium) {
    return false;
  }
  SearchAhead ahead(rec, state, RANDOM5, R1, control, pool->participants());
  pool->run_each(SearchAhead::part, &ahead);
  ahead.finish(RANDOM5, R1, outcome);
  return true;
}

}  // namespace btcfit
