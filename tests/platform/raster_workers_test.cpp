// The drawing thread pool: every part of a job runs exactly once, on no more threads than the job
// asked for, however many workers earlier jobs made, and jobs back to back neither lose nor repeat
// parts.
#include "platform/dx5/raster_workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/dx5/raster.h"

namespace {

// Counts the runs of each part and the threads that ran them.
struct Tally {
  std::atomic<int> runs[kMaxRasterParts] = {};
  std::mutex lock;
  std::set<std::thread::id> threads;

  static void Job(void* context, int part) {
    auto& tally = *static_cast<Tally*>(context);
    tally.runs[part].fetch_add(1);
    // A little work, so that a worker has the time to wake and take a seat.
    volatile uint64_t sink = 0;
    for (int i = 0; i < 2000; ++i) sink = sink + static_cast<uint64_t>(i) * part;
    const std::lock_guard<std::mutex> hold(tally.lock);
    tally.threads.insert(std::this_thread::get_id());
  }
};

class ThreadLimit {
 public:
  explicit ThreadLimit(int limit) { RasterSetThreadLimit(limit); }
  ~ThreadLimit() { RasterSetThreadLimit(0); }
};

TEST(RasterWorkers, EveryPartRunsOnceOnAtMostTheThreadsAsked) {
  const ThreadLimit limit(8);
  // First grow the pool to seven workers, so that smaller jobs have more workers than seats.
  for (int threads : {8, 2, 3, 5, 8, 1}) {
    for (int parts : {1, 2, 3, 7, 16, 33, kMaxRasterParts}) {
      Tally tally;
      RunOnRasterWorkers(threads, parts, &Tally::Job, &tally);
      for (int part = 0; part < kMaxRasterParts; ++part)
        ASSERT_EQ(tally.runs[part].load(), part < parts ? 1 : 0)
            << "part " << part << " of " << parts << " on " << threads << " threads";
      EXPECT_LE(static_cast<int>(tally.threads.size()), std::min(threads, parts))
          << parts << " parts on " << threads << " threads";
      if (threads == 1 || parts == 1) {
        EXPECT_EQ(tally.threads.count(std::this_thread::get_id()), 1u) << "a single part runs on the calling thread";
      }
    }
  }
}

TEST(RasterWorkers, JobsBackToBackNeitherLoseNorRepeatParts) {
  const ThreadLimit limit(4);
  // Short jobs one after another: workers still leaving one job while the next is dispatched.
  for (int job = 0; job < 3000; ++job) {
    const int threads = 2 + job % 3, parts = 1 + job % kMaxRasterParts;
    std::atomic<int> runs[kMaxRasterParts] = {};
    RunOnRasterWorkers(
        threads, parts, [](void* context, int part) { static_cast<std::atomic<int>*>(context)[part].fetch_add(1); },
        runs);
    for (int part = 0; part < parts; ++part) ASSERT_EQ(runs[part].load(), 1) << "job " << job << " part " << part;
  }
}

}  // namespace
