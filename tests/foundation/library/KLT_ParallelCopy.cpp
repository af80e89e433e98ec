// A library with a copy of the thread pool of its own, as the plug-in
// has: loaded into a program that lends its pool, its calls run there.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <new>
#include <thread>

#include "KLF_Parallel.h"

namespace {

// Tasks on any thread but the caller's throw; the caller's first task
// waits until one has.
struct Throwing : KLF_ParallelJob {
  long caller = syscall(SYS_gettid);
  std::atomic<u32> thrown{0};
  void RunTask(u32 index, u32) override {
    if (syscall(SYS_gettid) != caller) {
      thrown.fetch_add(1);
      throw std::bad_alloc();
    }
    for (u32 spin = 0; index == 0 && !thrown.load() && spin < 20000000; ++spin) std::this_thread::yield();
  }
};

}  // namespace

// The run's result and, after it, the job's code and the tasks thrown.
extern "C" __attribute__((visibility("default"))) u8 KLT_CopyRunThrowing(u32 threads, u32 count, u16* error,
                                                                         u32* thrown) {
  Throwing job;
  const u8 ran = KLF_Parallel::Run(threads, count, job);
  *error = job.GetError();
  *thrown = job.thrown.load();
  return ran;
}
