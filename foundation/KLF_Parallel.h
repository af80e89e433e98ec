// Independent tasks on a few threads: task indices 0..count-1 are handed
// out one at a time to the calling thread and up to threads - 1 helpers
// started for the call. A task may run on any thread, so its result must
// not depend on which one: callers give each worker its own buffers (the
// worker number, 0..threads-1, says whose) and write disjoint outputs,
// which keeps every result byte-identical to one thread.
//
// Progress and cancellation stay on the calling thread: Poll runs there
// between its tasks, and a 0 from it hands out no further task. A helper
// that cannot be started (std::thread throws) leaves its share to the
// threads that did start; nothing throws out of Run.
//
// Cost: one thread start per helper and call (tens of microseconds), so
// calls should carry milliseconds of work. Limits: at most 256 threads.
#pragma once

#include "KLF_Types.h"

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
};

namespace KLF_Parallel {

const u32 kMaxThreads = 256;

// The machine's hardware threads (at least 1, at most kMaxThreads).
u32 MachineThreads();
// 0 means the machine's threads; otherwise clamped to 1..kMaxThreads.
u32 Resolve(u32 threads);
// Runs every task unless Poll stops it; 1 when all ran. Uses at most
// min(threads, count) threads.
u8 Run(u32 threads, u32 count, KLF_ParallelJob& job);

// The same for a callable body(index, worker), without polling.
template <class Body>
u8 For(u32 threads, u32 count, Body&& body) {
  struct Job : KLF_ParallelJob {
    Body& b;
    explicit Job(Body& f) : b(f) {}
    void RunTask(u32 index, u32 worker) override { b(index, worker); }
  } job(body);
  return Run(threads, count, job);
}

}  // namespace KLF_Parallel
