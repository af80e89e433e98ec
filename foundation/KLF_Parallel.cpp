#include "KLF_Parallel.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>

#include "CKLF_ErrorManager.h"

namespace {

// The code of the exception being handled: 17 for an allocation.
u16 CaughtCode() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return klErrNoMemory;
  } catch (const std::length_error&) {
    return klErrNoMemory;
  } catch (...) {
    return klErrBadArg;
  }
}

// A task, or a poll, whose exception fails the job on the thread it was
// thrown on.
void RunTaskOf(KLF_ParallelJob& job, u32 index, u32 worker) {
  try {
    job.RunTask(index, worker);
  } catch (...) {
    job.Fail(CaughtCode());
  }
}

u8 PollOf(KLF_ParallelJob& job, u32 done) {
  try {
    return job.Poll(done);
  } catch (...) {
    job.Fail(CaughtCode());
    return 0;
  }
}

// One call's tasks, handed out in index order to whichever thread asks.
// The fields below the atomics are under the pool's lock.
struct Call {
  KLF_ParallelJob* job = nullptr;
  u32 count = 0;
  std::atomic<u32> next{0};
  std::atomic<u32> done{0};
  std::atomic<u8> stop{0};
  u32 want = 0;     // helpers it may take
  u32 joined = 0;   // helpers that took a worker number, 1..joined
  u32 running = 0;  // helpers at work on it
  Call* below = nullptr;

  // Takes and runs tasks until none is left, a stop is asked or the job
  // has failed.
  void Work(u32 worker, u8 polling) {
    while (!stop.load(std::memory_order_relaxed)) {
      const u32 i = next.fetch_add(1, std::memory_order_relaxed);
      if (i >= count) return;
      RunTaskOf(*job, i, worker);
      if (job->GetError()) {
        stop.store(1, std::memory_order_relaxed);
        return;
      }
      const u32 finished = done.fetch_add(1, std::memory_order_acq_rel) + 1;
      if (polling && !PollOf(*job, finished)) stop.store(1, std::memory_order_relaxed);
    }
  }
  // A helper joining now would find a task and a worker number.
  u8 Open() const {
    return joined < want && next.load(std::memory_order_relaxed) < count && !stop.load(std::memory_order_relaxed);
  }
};

const u32 kMaxHelpers = KLF_Parallel::kMaxThreads - 1;

// The process's helper threads, started when a call first wants more than
// are idle and kept until the owner goes away (process exit, or the
// library unloaded). A call is open while it has tasks left and fewer
// helpers than it may take; an idle helper joins the newest open call
// (an inner call first, which its outer task waits for) and, done there,
// looks for the next. A caller never waits for a busy helper, so nested
// and concurrent calls always finish: at worst a caller runs its tasks
// alone. Every field is under m_lock.
class Pool {
 public:
  Pool();
  ~Pool();
  void Open(Call& call);
  void Close(Call& call);
  // Held across fork so the child gets the lock in a known state.
  void BeforeFork() { m_lock.lock(); }
  void AfterForkInParent() { m_lock.unlock(); }
  void AfterForkInChild();

 private:
  void i_Loop();
  Call* i_Joinable() const;

  std::mutex m_lock;
  std::condition_variable m_work, m_finished;
  std::thread* m_threads[kMaxHelpers];
  Call* m_open = nullptr;  // the newest first
  u32 m_size = 0, m_idle = 0;
  u8 m_quit = 0;
};

std::atomic<Pool*> g_pool{nullptr};

Pool::Pool() {
  g_pool.store(this);
  pthread_atfork(
      [] {
        if (Pool* p = g_pool.load()) p->BeforeFork();
      },
      [] {
        if (Pool* p = g_pool.load()) p->AfterForkInParent();
      },
      [] {
        if (Pool* p = g_pool.load()) p->AfterForkInChild();
      });
}

Pool::~Pool() {
  g_pool.store(nullptr);
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_quit = 1;
  }
  m_work.notify_all();
  for (u32 i = 0; i < m_size; ++i) {
    std::thread* t = m_threads[i];
    // A helper ending the process from inside a task cannot join itself.
    if (t->get_id() == std::this_thread::get_id()) t->detach();
    else t->join();
    delete t;
  }
}

Call* Pool::i_Joinable() const {
  Call* c = m_open;
  while (c && !c->Open()) c = c->below;
  return c;
}

// Wakes as many idle helpers as the call may take, and starts new ones
// while the pool is smaller than that.
void Pool::Open(Call& call) {
  u32 wake = 0;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    call.below = m_open;
    m_open = &call;
    wake = m_idle < call.want ? m_idle : call.want;
    for (u32 started = 0; m_size < call.want && m_idle + started < call.want; ++started) {
      std::thread* t = new (std::nothrow) std::thread;
      if (!t) break;
      try {
        *t = std::thread([this] { i_Loop(); });
      } catch (...) {
        delete t;
        break;
      }
      m_threads[m_size++] = t;
    }
  }
  for (u32 i = 0; i < wake; ++i) m_work.notify_one();
}

// No helper joins from now on; those at work are waited for.
void Pool::Close(Call& call) {
  std::unique_lock<std::mutex> hold(m_lock);
  Call** link = &m_open;
  while (*link && *link != &call) link = &(*link)->below;
  if (*link) *link = call.below;
  m_finished.wait(hold, [&call] { return call.running == 0; });
}

void Pool::i_Loop() {
  std::unique_lock<std::mutex> hold(m_lock);
  for (;;) {
    Call* call = i_Joinable();
    if (!call) {
      if (m_quit) return;
      ++m_idle;
      m_work.wait(hold);
      --m_idle;
      continue;
    }
    const u32 worker = ++call->joined;
    ++call->running;
    hold.unlock();
    call->Work(worker, 0);
    hold.lock();
    if (--call->running == 0) m_finished.notify_all();
  }
}

// Only the forking thread lives on in the child: the helpers' threads are
// not there to join, and new ones start when a call wants them. The
// condition variables are made anew: those helpers still count as their
// waiters, for whom a signal would wait forever.
void Pool::AfterForkInChild() {
  m_size = 0;
  m_idle = 0;
  m_open = nullptr;
  new (&m_work) std::condition_variable;
  new (&m_finished) std::condition_variable;
  m_lock.unlock();
}

Pool& ThePool() {
  static Pool pool;
  return pool;
}

}  // namespace

u32 KLF_Parallel::MachineThreads() {
  const u32 n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : (n > kMaxThreads ? kMaxThreads : n);
}

u32 KLF_Parallel::Resolve(u32 threads) {
  if (threads == 0) return MachineThreads();
  return threads > kMaxThreads ? kMaxThreads : threads;
}

namespace {

u8 RunHere(u32 threads, u32 count, KLF_ParallelJob& job) {
  Call call;
  call.job = &job;
  call.count = count;
  if (threads == 1) {
    call.Work(0, 1);
    return call.done.load() == count && !job.GetError() ? 1 : 0;
  }
  Pool& pool = ThePool();
  call.want = threads - 1;
  pool.Open(call);
  call.Work(0, 1);
  pool.Close(call);
  return call.done.load() == count && !job.GetError() ? 1 : 0;
}

typedef void (*TaskProc)(void* job, u32 index, u32 worker);
typedef u8 (*PollProc)(void* job, u32 done);
typedef u8 (*SharedRunProc)(u32 threads, u32 count, TaskProc task, PollProc poll, void* job);

// A job of another copy of this code, seen through plain functions only.
struct ForeignJob : KLF_ParallelJob {
  TaskProc task;
  PollProc poll;
  void* job;
  void RunTask(u32 index, u32 worker) override { task(job, index, worker); }
  u8 Poll(u32 done) override { return poll(job, done); }
};

// This copy's job seen through plain functions, which no exception leaves;
// a failed job's tasks left are passed over and its poll stops the run.
void SharedTask(void* job, u32 index, u32 worker) {
  KLF_ParallelJob& j = *static_cast<KLF_ParallelJob*>(job);
  if (!j.GetError()) RunTaskOf(j, index, worker);
}
u8 SharedPoll(void* job, u32 done) {
  KLF_ParallelJob& j = *static_cast<KLF_ParallelJob*>(job);
  return !j.GetError() && PollOf(j, done) ? 1 : 0;
}

}  // namespace

// A program that exports this entry lends its pool to the libraries it
// loads, so a plug-in's calls and the program's share one set of threads.
// Plain functions cross over, never a class, so copies built apart agree.
extern "C" __attribute__((visibility("default"))) u8 KLF_ParallelRunShared1(u32 threads, u32 count, TaskProc task,
                                                                           PollProc poll, void* job) {
  // The caller is another copy of this code, so its counts are checked again.
  if (count == 0) return 1;
  threads = KLF_Parallel::Resolve(threads);
  if (threads > count) threads = count;
  ForeignJob foreign;
  foreign.task = task;
  foreign.poll = poll;
  foreign.job = job;
  return RunHere(threads, count, foreign);
}

namespace {

// The program's entry when it exports one that is not this copy's.
SharedRunProc FindProgramPool() {
  void* found = dlsym(RTLD_DEFAULT, "KLF_ParallelRunShared1");
  SharedRunProc proc = reinterpret_cast<SharedRunProc>(found);
  return proc == &KLF_ParallelRunShared1 ? nullptr : proc;
}

}  // namespace

u8 KLF_Parallel::Run(u32 threads, u32 count, KLF_ParallelJob& job) {
  job.m_error.store(0);
  if (count == 0) return 1;
  threads = Resolve(threads);
  if (threads > count) threads = count;
  if (threads > 1) {
    static const SharedRunProc program = FindProgramPool();
    if (program) return program(threads, count, SharedTask, SharedPoll, &job) && !job.GetError() ? 1 : 0;
  }
  return RunHere(threads, count, job);
}
