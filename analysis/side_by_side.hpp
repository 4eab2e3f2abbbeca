// Independent jobs of the analysis side by side on a few threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace btcfit::stats {

// Calls job(i) for every i in 0 .. n-1, on up to `threads` threads (on this
// one alone when that is 1 or there is at most one job), each thread taking
// the next index not yet taken; returns when all are done. Which thread runs
// which index varies from run to run, so a job writes only the results of
// its own index.
template <class Job>
void side_by_side(int n, int threads, const Job& job) {
  const int workers = std::clamp(threads, 1, std::max(n, 1));
  if (workers == 1) {
    for (int i = 0; i < n; ++i) job(i);
    return;
  }
  std::atomic<int> next{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < workers; ++t) {
    pool.emplace_back([&] {
      for (int i = next++; i < n; i = next++) job(i);
    });
  }
  for (std::thread& th : pool) th.join();
}

}  // namespace btcfit::stats
