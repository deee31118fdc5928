// The drawing thread pool. A dispatch publishes the job's parts in one atomic word (generation,
// part count, next part) and wakes the workers; the calling thread and every worker that wakes
// claim parts from that word until none are left, so a worker the system does not schedule in time
// leaves its part to the others instead of holding the draw up. The dispatch returns when every
// claimed part has finished; the job's fields are written again only after that, and a worker
// reads them only for a part it claimed. Workers park on the word (a futex wait, no spinning). The
// pool only grows, up to the largest count asked for, and its threads end with the process.
#include "platform/dx5/raster_workers.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dx5/raster.h"

namespace {

constexpr int kMaxThreads = 64;
// With no limit set, a draw takes one thread per this many pixels of its target.
constexpr int64_t kPixelsPerThread = int64_t{1024} * 768;

std::atomic<int> threadLimit{0};  // 0: one per core

// The job word: generation in bits 32..63, part count in 16..31, next unclaimed part in 0..15.
constexpr uint64_t Word(uint64_t generation, uint64_t count, uint64_t next) {
  return (generation << 32) | (count << 16) | next;
}
constexpr int CountOf(uint64_t word) { return static_cast<int>((word >> 16) & 0xFFFF); }
constexpr int NextOf(uint64_t word) { return static_cast<int>(word & 0xFFFF); }

class WorkerPool {
 public:
  ~WorkerPool() {
    stopping_.store(true);
    word_.fetch_add(Word(1, 0, 0));
    word_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  void Run(int count, void (*job)(void*, int), void* context) {
    const std::lock_guard<std::mutex> one(dispatch_);
    while (static_cast<int>(threads_.size()) + 1 < count) threads_.emplace_back([this] { Work(); });
    job_ = job;
    context_ = context;
    done_.store(0);
    const uint64_t generation = (word_.load() >> 32) + 1;
    word_.store(Word(generation, static_cast<uint64_t>(count), 0), std::memory_order_release);
    word_.notify_all();
    while (ClaimAndRun()) {
    }
    for (int finished = done_.load(std::memory_order_acquire); finished != count;
         finished = done_.load(std::memory_order_acquire))
      done_.wait(finished);
  }

 private:
  // Claims the next part of the current job and runs it; false when no part was left.
  bool ClaimAndRun() {
    uint64_t word = word_.load(std::memory_order_acquire);
    do {
      if (NextOf(word) >= CountOf(word)) return false;
    } while (!word_.compare_exchange_weak(word, word + 1, std::memory_order_acq_rel, std::memory_order_acquire));
    job_(context_, NextOf(word));
    done_.fetch_add(1, std::memory_order_release);
    done_.notify_one();
    return true;
  }

  void Work() {
    for (;;) {
      while (ClaimAndRun()) {
      }
      const uint64_t word = word_.load(std::memory_order_acquire);
      if (stopping_.load()) return;
      if (NextOf(word) >= CountOf(word)) word_.wait(word);
    }
  }

  std::mutex dispatch_;  // one draw at a time
  std::vector<std::thread> threads_;
  std::atomic<uint64_t> word_{0};
  std::atomic<int> done_{0};
  std::atomic<bool> stopping_{false};
  void (*job_)(void*, int) = nullptr;
  void* context_ = nullptr;
};

WorkerPool& Pool() {
  static WorkerPool pool;
  return pool;
}

}  // namespace

void RasterSetThreadLimit(int limit) { threadLimit.store(std::clamp(limit, 0, kMaxThreads)); }

int RasterThreadCount() {
  const int limit = threadLimit.load();
  if (limit > 0) return limit;
  return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxThreads);
}

int RasterThreadsFor(int64_t pixels) {
  if (threadLimit.load() > 0) return RasterThreadCount();
  const int64_t needed = std::max<int64_t>(pixels / kPixelsPerThread, 1);
  return static_cast<int>(std::min<int64_t>(needed, RasterThreadCount()));
}

void RunOnRasterWorkers(int count, void (*job)(void*, int), void* context) {
  if (count <= 1) {
    job(context, 0);
    return;
  }
  Pool().Run(std::min(count, kMaxThreads), job, context);
}
