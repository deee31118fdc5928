// The drawing thread pool. Worker k (from 1) has seat k, the calling thread seat 0. A dispatch
// writes the job, opens the seats of its thread count, and wakes the workers; each worker that
// wakes while its seat is open takes it and claims parts, one bit each in the claim mask of the
// share that holds the part. A seat claims its own share of the parts first (part p belongs to seat
// p * threads / parts, the same share every job, so a thread keeps drawing the rows whose memory
// its cache holds), then any left. When the calling thread has no part left to claim it closes the
// seats, so a worker the system does not schedule in time misses the job instead of holding it up,
// and it waits until every worker that took a seat has left; only then is the job written again. A
// worker that has left looks for the next job for a few microseconds, since a frame's draws follow
// each other closely and a parked worker takes tens of microseconds to wake, all of which the
// calling thread draws alone; then it parks on the job counter (a futex wait). A worker that kept
// looking would burn a core through every gap between frames, which in a saver paced at 60 frames a
// second cost more processor time than the second thread saved. Workers do not look when the pool
// has more threads than the processor has cores: a looking worker would take a core from one that
// draws. The calling thread looks for a short while for the workers to leave, since they are
// drawing their last parts, unless the job has more threads than the processor has cores (a thread
// that looks would take a core from one that draws). The pool only grows, up to the largest thread
// count asked for, and its threads end with the process.
#include "platform/dx5/raster_workers.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dx5/raster.h"

namespace {

constexpr int kMaxThreads = 64;  // a seat is a bit of one 64-bit word
// With no limit set, a draw takes one thread per this many pixels of its target.
constexpr int64_t kPixelsPerThread = int64_t{1024} * 768;

// How long the dispatching thread looks for the workers to leave before parking.
constexpr std::chrono::microseconds kLookBeforeParking{50};
// How long a worker that has left a job looks for the next before parking: a frame's draws and
// clears mostly come within it (measured at 1920 x 1080 on two cores: about 3% faster than parking
// at once, at the same processor time).
constexpr std::chrono::microseconds kLookForNextJob{30};

std::atomic<int> threadLimit{0};  // 0: one per core

// Waits while busy() holds, for at most `limit`; the caller parks after if need be.
template <class Busy>
void LookWhile(std::chrono::microseconds limit, Busy busy) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (busy() && std::chrono::steady_clock::now() < end) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
}

// The seats of workers 1..threads-1.
constexpr uint64_t WorkerSeats(int threads) {
  return threads >= kMaxThreads ? ~uint64_t{1} : (uint64_t{1} << threads) - 2;
}

class WorkerPool {
 public:
  ~WorkerPool() {
    stopping_.store(true);
    jobs_.fetch_add(1);
    jobs_.notify_all();
    for (std::thread& t : workers_) t.join();
  }

  void Run(int threads, int parts, void (*job)(void*, int), void* context) {
    const std::lock_guard<std::mutex> one(dispatch_);
    while (static_cast<int>(workers_.size()) + 1 < threads) {
      const int seat = static_cast<int>(workers_.size()) + 1;
      workers_.emplace_back([this, seat] { Work(seat); });
      poolThreads_.store(seat + 1, std::memory_order_relaxed);
    }
    job_ = job;
    context_ = context;
    threads_ = threads;
    parts_ = parts;
    for (int seat = 0; seat < threads; ++seat) claimed_[seat].parts.store(0, std::memory_order_relaxed);
    left_.store(0, std::memory_order_relaxed);
    const uint64_t open = WorkerSeats(threads);
    seats_.store(open, std::memory_order_release);
    jobs_.fetch_add(1, std::memory_order_release);
    jobs_.notify_all();
    RunParts(0);
    const int seated = std::popcount(open & ~seats_.exchange(0, std::memory_order_acq_rel));
    if (threads <= cores_)
      LookWhile(kLookBeforeParking, [&] { return left_.load(std::memory_order_acquire) != seated; });
    for (int gone = left_.load(std::memory_order_acquire); gone != seated; gone = left_.load(std::memory_order_acquire))
      left_.wait(gone);
  }

 private:
  // The first part of `seat`'s own share.
  int ShareStart(int seat) const { return (seat * parts_ + threads_ - 1) / threads_; }
  // The seat whose share holds `part`.
  int ShareOf(int part) const { return part * threads_ / parts_; }

  bool Claim(int part) {
    const uint64_t bit = uint64_t{1} << part;
    std::atomic<uint64_t>& word = claimed_[ShareOf(part)].parts;
    return (word.load(std::memory_order_relaxed) & bit) == 0 &&
           (word.fetch_or(bit, std::memory_order_acq_rel) & bit) == 0;
  }

  // Runs the parts of the current job this seat can claim: its own share in order, then the
  // others' from the last part back, where their owners reach them last.
  void RunParts(int seat) {
    const int first = ShareStart(seat), end = ShareStart(seat + 1);
    for (int part = first; part < end; ++part)
      if (Claim(part)) job_(context_, part);
    for (int part = parts_ - 1; part >= 0; --part)
      if ((part < first || part >= end) && Claim(part)) job_(context_, part);
  }

  // Takes `seat` if the current job has it open; the job's fields are then this job's until the
  // worker leaves.
  bool TakeSeat(uint64_t bit) {
    uint64_t seats = seats_.load(std::memory_order_acquire);
    do {
      if ((seats & bit) == 0) return false;
    } while (!seats_.compare_exchange_weak(seats, seats & ~bit, std::memory_order_acq_rel, std::memory_order_acquire));
    return true;
  }

  void Work(int seat) {
    const uint64_t bit = uint64_t{1} << seat;
    for (;;) {
      const uint32_t seen = jobs_.load(std::memory_order_acquire);
      if (stopping_.load()) return;
      if (TakeSeat(bit)) {
        RunParts(seat);
        left_.fetch_add(1, std::memory_order_release);
        left_.notify_one();
      }
      if (poolThreads_.load(std::memory_order_relaxed) <= cores_)
        LookWhile(kLookForNextJob, [&] { return jobs_.load(std::memory_order_acquire) == seen; });
      jobs_.wait(seen);
    }
  }

  std::mutex dispatch_;               // one job at a time
  std::vector<std::thread> workers_;  // worker k has seat k + 1
  std::atomic<uint32_t> jobs_{0};     // jobs dispatched so far, what parked workers wait on
  std::atomic<uint64_t> seats_{0};    // the current job's seats not yet taken, closed or not given
  // The current job's parts claimed so far, a word for each seat's share. A thread claims its own
  // share's parts in a cache line of its own, which stays in its processor's cache; with one word
  // for all, every claim moved the line between the processors (about a quarter of a microsecond
  // each way on a host whose two processors share no cache: two threads dispatching 32 short parts
  // took 5.3 us a job with one word, 3.0 us with a word a share).
  struct alignas(64) Claims {
    std::atomic<uint64_t> parts{0};
  };
  Claims claimed_[kMaxThreads];
  std::atomic<int> left_{0};         // workers that took a seat of the current job and left it
  std::atomic<int> poolThreads_{1};  // the workers and the calling thread
  const int cores_ = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  std::atomic<bool> stopping_{false};
  void (*job_)(void*, int) = nullptr;
  void* context_ = nullptr;
  int threads_ = 1, parts_ = 0;
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

void RunOnRasterWorkers(int threads, int parts, void (*job)(void*, int), void* context) {
  if (threads <= 1 || parts <= 1) {
    for (int part = 0; part < parts; ++part) job(context, part);
    return;
  }
  Pool().Run(std::min(threads, kMaxThreads), parts, job, context);
}
