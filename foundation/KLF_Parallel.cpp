#include "KLF_Parallel.h"

#include <atomic>
#include <thread>

namespace {

struct Shared {
  KLF_ParallelJob* job;
  u32 count;
  std::atomic<u32> next{0};
  std::atomic<u32> done{0};
  std::atomic<u8> stop{0};

  // Takes and runs tasks until none is left or a stop is asked.
  void Work(u32 worker, u8 polling) {
    while (!stop.load(std::memory_order_relaxed)) {
      const u32 i = next.fetch_add(1, std::memory_order_relaxed);
      if (i >= count) return;
      job->RunTask(i, worker);
      const u32 finished = done.fetch_add(1, std::memory_order_acq_rel) + 1;
      if (polling && !job->Poll(finished)) stop.store(1, std::memory_order_relaxed);
    }
  }
};

}  // namespace

u32 KLF_Parallel::MachineThreads() {
  const u32 n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : (n > kMaxThreads ? kMaxThreads : n);
}

u32 KLF_Parallel::Resolve(u32 threads) {
  if (threads == 0) return MachineThreads();
  return threads > kMaxThreads ? kMaxThreads : threads;
}

u8 KLF_Parallel::Run(u32 threads, u32 count, KLF_ParallelJob& job) {
  if (count == 0) return 1;
  threads = Resolve(threads);
  if (threads > count) threads = count;
  Shared s;
  s.job = &job;
  s.count = count;
  std::thread helpers[kMaxThreads];
  u32 started = 0;
  try {
    for (; started + 1 < threads; ++started) helpers[started] = std::thread([&s, started] { s.Work(started + 1, 0); });
  } catch (...) {
    // Fewer helpers: the threads that run share the tasks.
  }
  s.Work(0, 1);
  for (u32 i = 0; i < started; ++i) helpers[i].join();
  return s.done.load() == count ? 1 : 0;
}
