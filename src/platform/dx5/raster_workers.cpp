// The drawing thread pool. Workers wait on a generation counter (a futex wait, no spinning); a
// dispatch stores the job, bumps the generation and wakes them; each worker whose index is below
// the job's count runs its part, and every worker counts itself done, so the job's fields are not
// written again while any worker may still read them. The pool only grows, up to the largest count
// asked for, and its threads end with the process.
#include "platform/dx5/raster_workers.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dx5/raster.h"

namespace {

constexpr int kMaxThreads = 64;

std::atomic<int> threadLimit{0};  // 0: one per core

class WorkerPool {
 public:
  ~WorkerPool() {
    stopping_.store(true);
    generation_.fetch_add(1);
    generation_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  void Run(int count, void (*job)(void*, int), void* context) {
    const std::lock_guard<std::mutex> one(dispatch_);
    const uint32_t before = generation_.load();
    while (static_cast<int>(threads_.size()) + 1 < count) {
      const int index = static_cast<int>(threads_.size()) + 1;
      threads_.emplace_back([this, index, before] { Work(index, before); });
    }
    job_ = job;
    context_ = context;
    count_ = count;
    pending_.store(static_cast<int>(threads_.size()));
    generation_.fetch_add(1, std::memory_order_release);
    generation_.notify_all();
    job(context, 0);
    for (int left = pending_.load(std::memory_order_acquire); left != 0;
         left = pending_.load(std::memory_order_acquire))
      pending_.wait(left);
  }

 private:
  // `seen` is the generation before the first job this worker takes part in.
  void Work(int index, uint32_t seen) {
    for (;;) {
      generation_.wait(seen);
      seen = generation_.load(std::memory_order_acquire);
      if (stopping_.load()) return;
      if (index < count_) job_(context_, index);
      if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) pending_.notify_one();
    }
  }

  std::mutex dispatch_;  // one draw at a time
  std::vector<std::thread> threads_;
  std::atomic<uint32_t> generation_{0};
  std::atomic<int> pending_{0};
  std::atomic<bool> stopping_{false};
  void (*job_)(void*, int) = nullptr;
  void* context_ = nullptr;
  int count_ = 0;
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

void RunOnRasterWorkers(int count, void (*job)(void*, int), void* context) {
  if (count <= 1) {
    job(context, 0);
    return;
  }
  Pool().Run(std::min(count, kMaxThreads), job, context);
}
