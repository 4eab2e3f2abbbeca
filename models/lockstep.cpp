// Thread-local reuse of the storage of paused computations.
#include "models/lockstep.hpp"

#include <new>
#include <vector>

namespace btcfit::lockstep_detail {

namespace {

constexpr int kSizes = 4;         // sizes kept
constexpr std::size_t kKept = 256;  // blocks kept per size

struct FrameCache {
  std::size_t size[kSizes] = {};
  std::vector<void*> spare[kSizes];

  ~FrameCache() {
    for (auto& blocks : spare) {
      for (void* b : blocks) ::operator delete(b);
    }
  }
};

thread_local FrameCache cache;

}  // namespace

void* take_frame(std::size_t size) {
  for (int i = 0; i < kSizes; ++i) {
    if (cache.size[i] == size) {
      if (cache.spare[i].empty()) break;
      void* b = cache.spare[i].back();
      cache.spare[i].pop_back();
      return b;
    }
    if (cache.size[i] == 0) {
      cache.size[i] = size;
      cache.spare[i].reserve(kKept);
      break;
    }
  }
  return ::operator new(size);
}

void give_frame(void* frame, std::size_t size) noexcept {
  for (int i = 0; i < kSizes; ++i) {
    if (cache.size[i] == size) {
      if (cache.spare[i].size() < kKept) {
        cache.spare[i].push_back(frame);
        return;
      }
      break;
    }
  }
  ::operator delete(frame);
}

}  // namespace btcfit::lockstep_detail
