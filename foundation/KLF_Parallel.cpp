#include "KLF_Parallel.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

namespace {

// One call's tasks, handed out in index order to whichever thread asks.
struct Call {
  KLF_ParallelJob* job = nullptr;
  u32 count = 0;
  std::atomic<u32> next{0};
  std::atomic<u32> done{0};
  std::atomic<u8> stop{0};
  u32 running = 0;  // helpers at work on it, under the pool's lock

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

// A pool thread; call and worker are set by the caller that lends it.
struct Helper {
  std::thread thread;
  std::condition_variable wake;
  Call* call = nullptr;
  u32 worker = 0;
  u8 started = 0;
};

const u32 kMaxHelpers = KLF_Parallel::kMaxThreads - 1;

// The process's helper threads, started when a call first wants more than
// are idle and kept until the owner goes away (process exit, or the
// library unloaded). Every field is under m_lock. A caller lends idle
// helpers and never waits for a busy one, so nested and concurrent calls
// always finish: at worst a caller runs its tasks alone.
class Pool {
 public:
  Pool();
  ~Pool();
  u32 Lend(Call& call, u32 want, Helper** lent);
  void Reclaim(Call& call, Helper** lent, u32 n);
  // Held across fork so the child gets the lock in a known state.
  void BeforeFork() { m_lock.lock(); }
  void AfterForkInParent() { m_lock.unlock(); }
  void AfterForkInChild();

 private:
  Helper* i_Start(Call& call, u32 worker);
  void i_Loop(Helper& h);

  std::mutex m_lock;
  std::condition_variable m_finished;
  Helper* m_all[kMaxHelpers];
  Helper* m_idle[kMaxHelpers];
  u32 m_size = 0, m_idleCount = 0;
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
  for (u32 i = 0; i < m_size; ++i) {
    Helper* h = m_all[i];
    h->wake.notify_one();
    // A helper ending the process from inside a task cannot join itself.
    if (h->thread.get_id() == std::this_thread::get_id()) h->thread.detach();
    else h->thread.join();
    delete h;
  }
}

Helper* Pool::i_Start(Call& call, u32 worker) {
  Helper* h = new (std::nothrow) Helper;
  if (!h) return nullptr;
  h->call = &call;
  h->worker = worker;
  try {
    h->thread = std::thread([this, h] { i_Loop(*h); });
  } catch (...) {
    delete h;
    return nullptr;
  }
  m_all[m_size++] = h;
  return h;
}

// Idle helpers first, then new ones while the pool is smaller than this
// call wants; their worker numbers are 1..n.
u32 Pool::Lend(Call& call, u32 want, Helper** lent) {
  u32 n = 0;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    for (; n < want && m_idleCount; ++n) {
      Helper* h = m_idle[--m_idleCount];
      h->call = &call;
      h->worker = n + 1;
      lent[n] = h;
    }
    for (; n < want && m_size < want; ++n) {
      Helper* h = i_Start(call, n + 1);
      if (!h) break;
      lent[n] = h;
    }
  }
  for (u32 i = 0; i < n; ++i) lent[i]->wake.notify_one();
  return n;
}

// Helpers lent but not yet awake go back idle (a loaded machine need not
// wait for them); those at work are waited for.
void Pool::Reclaim(Call& call, Helper** lent, u32 n) {
  std::unique_lock<std::mutex> hold(m_lock);
  for (u32 i = 0; i < n; ++i) {
    Helper* h = lent[i];
    if (h->call != &call || h->started) continue;
    h->call = nullptr;
    m_idle[m_idleCount++] = h;
  }
  m_finished.wait(hold, [&call] { return call.running == 0; });
}

void Pool::i_Loop(Helper& h) {
  std::unique_lock<std::mutex> hold(m_lock);
  for (;;) {
    h.wake.wait(hold, [this, &h] { return h.call || m_quit; });
    if (!h.call) return;
    Call& call = *h.call;
    h.started = 1;
    ++call.running;
    hold.unlock();
    call.Work(h.worker, 0);
    hold.lock();
    h.call = nullptr;
    h.started = 0;
    m_idle[m_idleCount++] = &h;
    if (--call.running == 0) m_finished.notify_all();
  }
}

// Only the forking thread lives on in the child: the helpers' records
// stay behind unjoined, as there are no threads to join, and new ones
// start when a call wants them.
void Pool::AfterForkInChild() {
  m_size = 0;
  m_idleCount = 0;
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
    return call.done.load() == count ? 1 : 0;
  }
  Pool& pool = ThePool();
  Helper* lent[kMaxHelpers];
  const u32 n = pool.Lend(call, threads - 1, lent);
  call.Work(0, 1);
  pool.Reclaim(call, lent, n);
  return call.done.load() == count ? 1 : 0;
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

void TaskOf(void* job, u32 index, u32 worker) { static_cast<KLF_ParallelJob*>(job)->RunTask(index, worker); }
u8 PollOf(void* job, u32 done) { return static_cast<KLF_ParallelJob*>(job)->Poll(done); }

}  // namespace

// A program that exports this entry lends its pool to the libraries it
// loads, so a plug-in's calls and the program's share one set of threads.
// Plain functions cross over, never a class, so copies built apart agree.
extern "C" __attribute__((visibility("default"))) u8 KLF_ParallelRunShared1(u32 threads, u32 count, TaskProc task,
                                                                           PollProc poll, void* job) {
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
  if (count == 0) return 1;
  threads = Resolve(threads);
  if (threads > count) threads = count;
  if (threads > 1) {
    static const SharedRunProc program = FindProgramPool();
    if (program) return program(threads, count, TaskOf, PollOf, &job);
  }
  return RunHere(threads, count, job);
}
