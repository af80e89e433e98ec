#include <dirent.h>
#include <dlfcn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "KLF_Parallel.h"

#if defined(__SANITIZE_THREAD__)
#define KLF_TEST_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KLF_TEST_TSAN 1
#endif
#endif

namespace {

// ThreadSanitizer keeps a thread of its own.
#ifdef KLF_TEST_TSAN
const u32 kOwnThreads = 2;
#else
const u32 kOwnThreads = 1;
#endif

long Tid() { return syscall(SYS_gettid); }

u32 ProcessThreads() {
  DIR* d = opendir("/proc/self/task");
  if (!d) return 0;
  u32 n = 0;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;
}

// A few thousand steps of a mixing function, so tasks overlap in time.
u64 Mix(u64 seed, u32 steps) {
  u64 x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (u32 i = 0; i < steps; ++i) x = (x ^ (x >> 29)) * 0xBF58476D1CE4E5B9ull + i;
  return x;
}

// Each task works in its worker's scratch and checks that no other task
// of the call holds the same worker number meanwhile.
struct CheckedJob : KLF_ParallelJob {
  u32 threads = 1, steps = 2000;
  std::vector<u64> out;
  std::vector<std::vector<u64>> scratch;
  std::atomic<u8> busy[KLF_Parallel::kMaxThreads] = {};
  std::atomic<u32> outOfRange{0}, shared{0};
  std::mutex tidsLock;
  std::set<long> tids;
  CheckedJob(u32 t, u32 count) : threads(t), out(count, 0), scratch(KLF_Parallel::kMaxThreads) {}
  void RunTask(u32 index, u32 worker) override {
    if (worker >= threads) {
      outOfRange.fetch_add(1);
      return;
    }
    if (busy[worker].exchange(1)) shared.fetch_add(1);
    std::vector<u64>& s = scratch[worker];
    s.assign(8, 0);
    for (u32 k = 0; k < 8; ++k) s[k] = Mix(index * 8 + k, steps);
    u64 sum = 0;
    for (u64 v : s) sum = sum * 31 + v;
    out[index] = sum;
    busy[worker].store(0);
    std::lock_guard<std::mutex> hold(tidsLock);
    tids.insert(Tid());
  }
};

std::vector<u64> Expected(u32 count, u32 steps) {
  CheckedJob job(1, count);
  job.steps = steps;
  for (u32 i = 0; i < count; ++i) job.RunTask(i, 0);
  return job.out;
}

}  // namespace

TEST(Parallel, WorkerNumbersResultsAndThreadCountAtEveryThreadCount) {
  const u32 count = 97;
  const std::vector<u64> expected = Expected(count, 2000);
  for (u32 threads : {1u, 3u, 4u, 8u}) {
    for (u32 round = 0; round < 20; ++round) {
      CheckedJob job(threads, count);
      ASSERT_EQ(KLF_Parallel::Run(threads, count, job), 1) << threads;
      EXPECT_EQ(job.out, expected) << threads;
      EXPECT_EQ(job.outOfRange.load(), 0u) << threads;
      EXPECT_EQ(job.shared.load(), 0u) << threads;
      EXPECT_LE(job.tids.size(), threads < count ? threads : count) << threads;
    }
  }
  // Fewer tasks than threads: no more threads than tasks work on them.
  CheckedJob few(8, 2);
  ASSERT_EQ(KLF_Parallel::Run(8, 2, few), 1);
  EXPECT_LE(few.tids.size(), 2u);
  EXPECT_EQ(few.outOfRange.load(), 0u);
  CheckedJob none(8, 0);
  EXPECT_EQ(KLF_Parallel::Run(8, 0, none), 1);
}

TEST(Parallel, ThreadsStartOnceAndNeverExceedTheCountAsked) {
  // Every thread that ever runs a task over many calls, counted by id:
  // helpers started per call would give new ids each time.
  std::set<long> seen;
  u32 most = 0;
  for (u32 threads : {2u, 3u, 8u, 4u}) {
    for (u32 round = 0; round < 100; ++round) {
      CheckedJob job(threads, 64);
      job.steps = 200;
      ASSERT_EQ(KLF_Parallel::Run(threads, 64, job), 1);
      seen.insert(job.tids.begin(), job.tids.end());
      const u32 now = ProcessThreads();
      most = now > most ? now : most;
    }
  }
  EXPECT_LE(seen.size(), 8u);
  EXPECT_LE(most, 7u + kOwnThreads);
  EXPECT_GE(most, 2u);
  // A forked child has none of the parent's helpers (they were waiting for
  // work); its calls start their own, call after call. A child that hangs
  // is ended by the alarm.
#ifndef KLF_TEST_TSAN
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(60);
    const std::vector<u64> expected = Expected(40, 200);
    bool ok = true;
    for (u32 round = 0; ok && round < 200; ++round) {
      CheckedJob job(4, 40);
      job.steps = 200;
      ok = KLF_Parallel::Run(4, 40, job) && job.out == expected && job.shared.load() == 0;
    }
    _exit(ok && ProcessThreads() <= 4 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
#endif
}

TEST(Parallel, NestedAndConcurrentCallsFinishWithTheirOwnResults) {
  const std::vector<u64> inner = Expected(16, 500);
  // Every outer task runs an inner call; inner calls poll on the thread
  // that made them, and run three deep.
  struct Outer : KLF_ParallelJob {
    const std::vector<u64>* expected;
    u32 depth = 0;
    std::atomic<u32> wrong{0}, polledElsewhere{0};
    void RunTask(u32, u32) override {
      struct Inner : CheckedJob {
        long caller = Tid();
        std::atomic<u32>* elsewhere;
        Inner(std::atomic<u32>* e) : CheckedJob(4, 16), elsewhere(e) { steps = 500; }
        u8 Poll(u32) override {
          if (Tid() != caller) elsewhere->fetch_add(1);
          return 1;
        }
      } job(&polledElsewhere);
      if (!KLF_Parallel::Run(4, 16, job) || job.out != *expected || job.shared.load() || job.outOfRange.load())
        wrong.fetch_add(1);
      if (depth < 2) {
        Outer deeper;
        deeper.expected = expected;
        deeper.depth = depth + 1;
        if (!KLF_Parallel::Run(3, 3, deeper) || deeper.wrong.load() || deeper.polledElsewhere.load())
          wrong.fetch_add(1);
      }
    }
  };
  Outer outer;
  outer.expected = &inner;
  ASSERT_EQ(KLF_Parallel::Run(4, 8, outer), 1);
  EXPECT_EQ(outer.wrong.load(), 0u);
  EXPECT_EQ(outer.polledElsewhere.load(), 0u);

  // Unrelated threads calling at once, at different thread counts.
  const std::vector<u64> expected = Expected(50, 300);
  std::atomic<u32> wrong{0};
  std::vector<std::thread> callers;
  for (u32 c = 0; c < 6; ++c)
    callers.emplace_back([&, c] {
      const u32 threads = 2 + c % 4 * 2;
      for (u32 round = 0; round < 30; ++round) {
        CheckedJob job(threads, 50);
        job.steps = 300;
        if (!KLF_Parallel::Run(threads, 50, job) || job.out != expected || job.shared.load() ||
            job.outOfRange.load())
          wrong.fetch_add(1);
      }
    });
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(wrong.load(), 0u);
}

TEST(Parallel, PollRunsOnTheCallingThreadAndAZeroStopsTheHandingOut) {
  struct Stopping : KLF_ParallelJob {
    long caller = Tid();
    u32 stopAt = 5;
    std::atomic<u32> ran{0}, polls{0}, elsewhere{0}, lastSeen{0};
    std::atomic<u64> sink{0};
    void RunTask(u32 index, u32) override {
      ran.fetch_add(1);
      sink.fetch_add(Mix(index, 20000));
    }
    u8 Poll(u32 done) override {
      polls.fetch_add(1);
      lastSeen.store(done);
      if (Tid() != caller) elsewhere.fetch_add(1);
      return done < stopAt;
    }
  };
  for (u32 threads : {1u, 4u}) {
    Stopping job;
    EXPECT_EQ(KLF_Parallel::Run(threads, 20000, job), 0) << threads;
    EXPECT_EQ(job.elsewhere.load(), 0u);
    EXPECT_GE(job.lastSeen.load(), job.stopAt);
    // After the stop only tasks already handed out finish.
    EXPECT_LT(job.ran.load(), 10000u) << threads;
    if (threads == 1) {
      EXPECT_EQ(job.ran.load(), job.stopAt);
    }
  }
  // The same count of polls as tasks on one thread, all ran: success.
  Stopping all;
  all.stopAt = 1000;
  EXPECT_EQ(KLF_Parallel::Run(1, 30, all), 1);
  EXPECT_EQ(all.polls.load(), 30u);
}

TEST(Parallel, HelpersFreedByOneCallJoinACallAlreadyUnderWay) {
  // Beside call A, which takes every idle helper, call B starts with none;
  // once A is done its helpers must come to B's remaining tasks.
  struct Sleeping : KLF_ParallelJob {
    u32 ms, threads;
    std::atomic<u8>* started;
    std::atomic<u32> badWorker{0};
    std::atomic<u8> busy[8] = {};
    std::mutex lock;
    std::set<long> tids;
    Sleeping(u32 m, u32 t, std::atomic<u8>* s) : ms(m), threads(t), started(s) {}
    void RunTask(u32, u32 worker) override {
      if (worker >= threads || busy[worker].exchange(1)) badWorker.fetch_add(1);
      if (started) started->store(1);
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      if (worker < threads) busy[worker].store(0);
      std::lock_guard<std::mutex> hold(lock);
      tids.insert(Tid());
    }
  };
  std::atomic<u8> aStarted{0};
  Sleeping a(20, 8, &aStarted), b(2, 8, nullptr);
  ASSERT_TRUE(KLF_Parallel::For(2, 2, [&](u32 task, u32) {
    if (task == 1) {
      ASSERT_TRUE(KLF_Parallel::Run(8, 7, a));
      return;
    }
    while (!aStarted.load()) std::this_thread::yield();
    ASSERT_TRUE(KLF_Parallel::Run(8, 60, b));
  }));
  EXPECT_EQ(a.badWorker.load() + b.badWorker.load(), 0u);
  EXPECT_GT(b.tids.size(), 2u);
  EXPECT_LE(b.tids.size(), 8u);
}

extern "C" u8 KLF_ParallelRunShared1(u32 threads, u32 count, void (*task)(void*, u32, u32), u8 (*poll)(void*, u32),
                                     void* job);

TEST(Parallel, TheSharedEntryHoldsItsCallerToTheLimits) {
  // What a library's copy hands over: plain functions and its job.
  struct Counted {
    std::atomic<u32> ran{0}, polls{0}, badWorker{0}, byCaller{0};
  } counted;
  auto task = [](void* j, u32, u32 worker) {
    Counted* c = static_cast<Counted*>(j);
    if (worker >= 3) c->badWorker.fetch_add(1);
    if (worker == 0) c->byCaller.fetch_add(1);
    c->ran.fetch_add(1);
  };
  auto poll = [](void* j, u32) -> u8 {
    static_cast<Counted*>(j)->polls.fetch_add(1);
    return 1;
  };
  const u32 before = ProcessThreads();
  EXPECT_EQ(KLF_ParallelRunShared1(100000, 3, task, poll, &counted), 1);
  EXPECT_EQ(counted.ran.load(), 3u);
  EXPECT_EQ(counted.badWorker.load(), 0u);
  // Helpers may take every task: the caller polls after each of its own.
  EXPECT_EQ(counted.polls.load(), counted.byCaller.load());
  EXPECT_LE(ProcessThreads(), before > 8 ? before : 8);
  EXPECT_EQ(KLF_ParallelRunShared1(4, 0, task, poll, &counted), 1);
  EXPECT_EQ(counted.ran.load(), 3u);
}

namespace {

// Tasks on helpers fail in one of several ways, the caller's first task
// waiting until one has: the failure always comes from another thread
// than the one that called Run.
struct FailingJob : KLF_ParallelJob {
  enum How { kNone, kBadAlloc, kLengthError, kOther, kFailCall };
  How how = kBadAlloc;
  long caller = Tid();
  std::atomic<u32> ran{0}, failed{0};
  std::atomic<u64> sink{0};
  void RunTask(u32 index, u32) override {
    ran.fetch_add(1);
    if (Tid() == caller) {
      // Bounded: with no helper at all the caller runs every task.
      for (u32 spin = 0; how != kNone && index == 0 && !failed.load() && spin < 20000000; ++spin)
        std::this_thread::yield();
      sink.fetch_add(Mix(index, 2000));
      return;
    }
    if (how != kNone) failed.fetch_add(1);
    switch (how) {
      case kNone: sink.fetch_add(Mix(index, 2000)); return;
      case kBadAlloc: throw std::bad_alloc();
      case kLengthError: std::vector<u64>().reserve(std::vector<u64>().max_size() + 1); return;
      case kOther: throw std::runtime_error("not memory");
      case kFailCall: return Fail(33);
    }
  }
};

}  // namespace

TEST(Parallel, ATaskThatFailsOnAHelperStopsTheRunAndSaysWhy) {
  const struct {
    FailingJob::How how;
    u16 code;
  } rows[] = {{FailingJob::kBadAlloc, 17}, {FailingJob::kLengthError, 17}, {FailingJob::kOther, 1},
              {FailingJob::kFailCall, 33}};
  const u32 count = 20000;
  for (const auto& row : rows) {
    FailingJob job;
    job.how = row.how;
    EXPECT_EQ(KLF_Parallel::Run(4, count, job), 0) << row.code;
    EXPECT_EQ(job.GetError(), row.code);
    EXPECT_GE(job.failed.load(), 1u);
    // Only tasks already under way finish once one has failed.
    EXPECT_LT(job.ran.load(), count / 2) << row.code;
    // The same job runs afresh.
    job.how = FailingJob::kNone;
    EXPECT_EQ(KLF_Parallel::Run(4, 200, job), 1) << row.code;
    EXPECT_EQ(job.GetError(), 0);
  }
  // On one thread the caller's own task fails the run.
  struct Own : KLF_ParallelJob {
    std::atomic<u32> ran{0};
    void RunTask(u32 index, u32) override {
      ran.fetch_add(1);
      if (index == 2) throw std::bad_alloc();
    }
  } own;
  EXPECT_EQ(KLF_Parallel::Run(1, 50, own), 0);
  EXPECT_EQ(own.GetError(), 17);
  EXPECT_EQ(own.ran.load(), 3u);
  // A body of For, and its code.
  u16 error = 0;
  EXPECT_EQ(KLF_Parallel::For(4, 64, [](u32 i, u32) {
              if (i == 40) throw std::bad_alloc();
            }, &error), 0);
  EXPECT_EQ(error, 17);
  EXPECT_EQ(KLF_Parallel::For(4, 64, [](u32, u32) {}, &error), 1);
  EXPECT_EQ(error, 0);
}

TEST(Parallel, APollThatThrowsFailsTheRunAsOutOfMemory) {
  // Not as a cancel. The helpers' tasks wait for the first poll: the
  // caller runs a task.
  struct Throwing : KLF_ParallelJob {
    long caller = Tid();
    std::atomic<u8> polled{0};
    void RunTask(u32, u32) override {
      for (u32 spin = 0; Tid() != caller && !polled.load() && spin < 20000000; ++spin) std::this_thread::yield();
    }
    u8 Poll(u32) override {
      polled.store(1);
      throw std::bad_alloc();
    }
  };
  for (u32 threads : {1u, 4u}) {
    Throwing job;
    EXPECT_EQ(KLF_Parallel::Run(threads, 5000, job), 0) << threads;
    EXPECT_EQ(job.GetError(), 17) << threads;
  }
}

TEST(Parallel, TheSharedEntryKeepsAForeignTasksExceptionOnItsThread) {
  // A copy that lets an exception out of its task: the run ends as failed.
  struct Counted {
    std::atomic<u32> ran{0};
  } counted;
  auto task = [](void* j, u32 index, u32) {
    static_cast<Counted*>(j)->ran.fetch_add(1);
    if (index % 7 == 3) throw std::bad_alloc();
  };
  auto poll = [](void*, u32) -> u8 { return 1; };
  EXPECT_EQ(KLF_ParallelRunShared1(4, 10000, task, poll, &counted), 0);
  EXPECT_LT(counted.ran.load(), 10000u);
}

TEST(Parallel, ALibrarysTaskThatThrowsOnTheLentPoolFailsItsOwnJob) {
  void* copy = dlopen(KLT_PARALLEL_COPY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(copy, nullptr) << dlerror();
  typedef u8 (*RunThrowing)(u32, u32, u16*, u32*);
  RunThrowing run = reinterpret_cast<RunThrowing>(dlsym(copy, "KLT_CopyRunThrowing"));
  ASSERT_NE(run, nullptr);
  // The program's helpers are started; the library's calls start none.
  CheckedJob warm(4, 64);
  ASSERT_EQ(KLF_Parallel::Run(4, 64, warm), 1);
  const u32 before = ProcessThreads();
  u16 error = 0;
  u32 thrown = 0;
  EXPECT_EQ(run(4, 20000, &error, &thrown), 0);
  EXPECT_EQ(error, 17);
  EXPECT_GE(thrown, 1u);
  EXPECT_LT(thrown, 20000u);
  EXPECT_EQ(ProcessThreads(), before);
  dlclose(copy);
}
