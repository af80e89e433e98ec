// Independent tasks on a few threads: task indices 0..count-1 are handed
// out in order, one at a time, to the calling thread and to up to
// threads - 1 helpers from a pool kept for the process. A task may
// run on any thread, so its result must not depend on which one: callers
// give each worker its own buffers (the worker number, 0..threads-1,
// unique among the call's tasks running at once, says whose) and write
// disjoint outputs, which keeps every result byte-identical to one thread.
//
// Progress and cancellation stay on the calling thread: Poll runs there
// between its tasks, and a 0 from it hands out no further task. The
// calling thread always works its own tasks and never waits for a busy
// helper, so a task may call Run (its thread works the inner tasks, and
// helpers join as they come free) and unrelated threads may call Run at
// once. A program that exports KLF_ParallelRunShared1 (a plain-function
// entry) lends its pool to the libraries it loads. A
// helper that cannot be started leaves its share to the threads that did
// start; nothing throws out of Run.
//
// A task fails its job with Fail(code), from any thread; a task or Poll
// that throws fails it too (17 for an allocation: std::bad_alloc or
// std::length_error; 1 for anything else), and the exception goes no
// further than the thread it was thrown on. Then no further task is handed
// out, Run answers 0 and the job's GetError the first code given; a 0
// without a code is a stop by Poll.
//
// Cost: helpers start once, on the first call that wants more than are
// idle, and stay until the process ends or the library is unloaded; the
// pool never holds more than the largest thread count asked, less one. A
// call costs a wake-up per helper (microseconds), so calls should carry
// tenths of milliseconds of work. Limits: at most 256 threads.
#pragma once

#include <atomic>
#include <type_traits>

#include "KLF_Types.h"

class KLF_ParallelJob;

namespace KLF_Parallel {
[[nodiscard]] u8 Run(u32 threads, u32 count, KLF_ParallelJob& job);
}

class KLF_ParallelJob {
 public:
  virtual ~KLF_ParallelJob() {}
  virtual void RunTask(u32 index, u32 worker) = 0;
  // On the calling thread after each of its tasks, with the count of
  // tasks finished so far; 0 stops handing out tasks.
  virtual u8 Poll(u32 done) {
    (void)done;
    return 1;
  }
  // The job's failure (0 is taken as 1); the first code stays.
  void Fail(u16 code) {
    u16 none = 0;
    m_error.compare_exchange_strong(none, code ? code : u16(1));
  }
  // The code of the last Run's failure; 0 when no task failed.
  u16 GetError() const { return m_error.load(); }

 private:
  friend u8 KLF_Parallel::Run(u32 threads, u32 count, KLF_ParallelJob& job);
  std::atomic<u16> m_error{0};
};

namespace KLF_Parallel {

const u32 kMaxThreads = 256;

// The machine's hardware threads (at least 1, at most kMaxThreads).
u32 MachineThreads();
// 0 means the machine's threads; otherwise clamped to 1..kMaxThreads.
u32 Resolve(u32 threads);
// Runs every task unless Poll stops it or a task fails; 1 when all ran.
// Uses at most min(threads, count) threads.
[[nodiscard]] u8 Run(u32 threads, u32 count, KLF_ParallelJob& job);

// The same for a callable body(index, worker), without polling; a 0 is a
// body that threw, its code in error when given.
template <class Body>
[[nodiscard]] u8 For(u32 threads, u32 count, Body&& body, u16* error = nullptr) {
  struct Job : KLF_ParallelJob {
    Body& b;
    explicit Job(Body& f) : b(f) {}
    void RunTask(u32 index, u32 worker) override { b(index, worker); }
  } job(body);
  const u8 ran = Run(threads, count, job);
  if (error) *error = job.GetError();
  return ran;
}

// The same for a body that throws nothing (declared noexcept): with no
// poll and no task that can fail, every task runs.
template <class Body>
void ForEach(u32 threads, u32 count, Body&& body) {
  static_assert(std::is_nothrow_invocable_v<Body&, u32, u32>, "a body that can throw runs through For");
  struct Job : KLF_ParallelJob {
    Body& b;
    explicit Job(Body& f) : b(f) {}
    void RunTask(u32 index, u32 worker) override { b(index, worker); }
  } job(body);
  (void)Run(threads, count, job);
}

}  // namespace KLF_Parallel
