// Evaluation of the observations of one model call side by side.
//
// A pool of worker threads is started once per run. For each model call the
// calling thread and the workers take observation numbers from a shared
// counter and each evaluates its observations on its own copy of the working
// fields (ModelWork). The numbers are handed out costliest first, by the
// times the observations took in the previous call, so that no participant
// is left with a long observation at the end while the others wait. Every
// observation's value depends only on the working fields as the call
// prepared them and on the observation itself, so the results are
// bit-identical to a serial evaluation, whichever thread computes which
// observation.
//
// The same threads also run longer jobs, one part per thread (run_each):
// the annealing search evaluates its trials ahead on them.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "problem/problem_record.hpp"

namespace btcfit {

class ObservationPool {
 public:
  // Evaluates observation j on the participant's own working fields.
  using Task = double (*)(const void* context, ModelWork& work, int j);

  // Starts `threads` - 1 workers (none for 1 or less); the calling thread
  // is the last participant.
  explicit ObservationPool(int threads);
  ~ObservationPool();
  ObservationPool(const ObservationPool&) = delete;
  ObservationPool& operator=(const ObservationPool&) = delete;

  // Number of threads that take part in an evaluation, the caller included.
  int participants() const { return static_cast<int>(workers_.size()) + 1; }

  // Runs task(context, copy, j) for j = 1..n and stores the results in
  // out[j]. Every participant starts from its own copy of `work`; on return
  // `work` holds the fields as the evaluation of observation n left them,
  // as after a serial evaluation.
  void run(int n, ModelWork& work, Task task, const void* context,
           std::array<double, MAXOBS + 1>& out);

  // Runs job(context, i) once on each participant i that joins: 0 is the
  // caller, the workers that are ready in time take 1, 2, ... Returns when
  // the caller's part and every part that joined have returned. The job
  // must not depend on any worker joining; it must not throw.
  using Job = void (*)(void* context, int participant);
  void run_each(Job job, void* context);

  // The number of threads this machine offers the program.
  static int machine_threads();

 private:
  void worker_loop();
  // Takes observations until none is left.
  void take_observations();

  // Puts the observation numbers 1..n in order_, costliest first.
  void plan(int n);

  std::vector<std::thread> workers_;
  // Evaluation order of this call and the seconds each observation took in
  // the last call (0 before the first).
  std::array<int, MAXOBS> order_{};
  std::array<double, MAXOBS + 1> seconds_{};
  int planned_count_ = 0;
  // Publishes the job set up in the fields below, runs the caller's part
  // and waits for the workers that joined.
  void publish_and_join(void (*own_part)(ObservationPool&));

  // The job of the current generation: job_ if set, else the observations.
  Job job_ = nullptr;
  void* job_context_ = nullptr;
  Task task_ = nullptr;
  const void* context_ = nullptr;
  const ModelWork* source_ = nullptr;
  ModelWork last_work_{};
  double* out_ = nullptr;
  int count_ = 0;
  std::atomic<int> next_{0};      // observations handed out so far
  std::atomic<int> finished_{0};  // workers done with the current job
  // Job generation in the upper 32 bits, a "closed" bit, and the number of
  // participants that joined the job in the low bits. A worker joins only an
  // open job, so the caller never waits for a worker that was not
  // scheduled in time: it closes the job when it runs out of observations
  // and waits for those that joined.
  std::atomic<std::uint64_t> state_{0};
  std::uint32_t generation_ = 0;
  std::atomic<bool> stopping_{false};
};

}  // namespace btcfit
