#include "FailingAllocations.h"

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>

namespace {

std::atomic<bool> g_armed{false};
std::atomic<bool> g_otherThreads{false};
std::atomic<long> g_owner{0};
std::atomic<int64_t> g_left{0};
std::atomic<uint64_t> g_failed{0};

// Read and written with the compiler's atomic builtins: std::atomic's
// members may be left out of line, and instrumented (see Fails).
bool g_pointsArmed = false;
uint64_t g_count = 0;
uint64_t g_at = 0;
uint64_t g_floor = 0;
bool g_pointFailed = false;
klftest::AllocationPoints::FailureHook g_hook = nullptr;
// Inside an operator new, whose own malloc is not counted again.
thread_local int t_inside = 0;

struct Inside {
  Inside() { ++t_inside; }
  ~Inside() { --t_inside; }
};

long Tid() { return syscall(SYS_gettid); }

bool ShouldFail() {
  if (!g_armed.load(std::memory_order_acquire)) return false;
  if (g_otherThreads.load(std::memory_order_relaxed) && Tid() == g_owner.load(std::memory_order_relaxed)) return false;
  if (g_left.fetch_sub(1, std::memory_order_relaxed) > 0) return false;
  g_failed.fetch_add(1, std::memory_order_relaxed);
  return true;
}

// The operator new this one stands in front of (the C++ library's, or a
// sanitizer's), so that its delete still matches.
template <class Proc>
Proc Next(const char* name) {
  return reinterpret_cast<Proc>(dlsym(RTLD_NEXT, name));
}

typedef void* (*NewProc)(std::size_t);
typedef void* (*NothrowNewProc)(std::size_t, const std::nothrow_t&);

}  // namespace

klftest::FailingAllocations::FailingAllocations(Threads threads, uint64_t after) {
  g_otherThreads.store(threads == kOtherThreads);
  g_owner.store(Tid());
  g_left.store(static_cast<int64_t>(after));
  g_failed.store(0);
  g_armed.store(true, std::memory_order_release);
}

klftest::FailingAllocations::~FailingAllocations() { g_armed.store(false, std::memory_order_release); }

uint64_t klftest::FailingAllocations::Failed() const { return g_failed.load(); }

void klftest::AllocationPoints::Arm(uint64_t n, uint64_t floor) {
  __atomic_store_n(&g_count, 0, __ATOMIC_SEQ_CST);
  __atomic_store_n(&g_at, n, __ATOMIC_SEQ_CST);
  __atomic_store_n(&g_floor, floor, __ATOMIC_SEQ_CST);
  __atomic_store_n(&g_pointFailed, false, __ATOMIC_SEQ_CST);
  __atomic_store_n(&g_pointsArmed, true, __ATOMIC_SEQ_CST);
}

void klftest::AllocationPoints::SetFailureHook(FailureHook hook) { __atomic_store_n(&g_hook, hook, __ATOMIC_SEQ_CST); }

void klftest::AllocationPoints::Disarm() { __atomic_store_n(&g_pointsArmed, false, __ATOMIC_SEQ_CST); }

uint64_t klftest::AllocationPoints::Counted() { return __atomic_load_n(&g_count, __ATOMIC_SEQ_CST); }

bool klftest::AllocationPoints::Failed() { return __atomic_load_n(&g_pointFailed, __ATOMIC_SEQ_CST); }

// The C library's loader allocates before a sanitizer has set up its
// shadow memory: nothing here is instrumented.
__attribute__((no_sanitize_address)) bool klftest::AllocationPoints::Fails(uint64_t bytes) {
  if (!__atomic_load_n(&g_pointsArmed, __ATOMIC_ACQUIRE) || t_inside) return false;
  if (bytes < __atomic_load_n(&g_floor, __ATOMIC_RELAXED)) return false;
  if (__atomic_add_fetch(&g_count, 1, __ATOMIC_RELAXED) != __atomic_load_n(&g_at, __ATOMIC_RELAXED)) return false;
  __atomic_store_n(&g_pointFailed, true, __ATOMIC_RELAXED);
  if (FailureHook hook = __atomic_load_n(&g_hook, __ATOMIC_ACQUIRE)) hook();
  errno = ENOMEM;
  return true;
}

void* operator new(std::size_t n) {
  static const NewProc next = Next<NewProc>("_Znwm");
  if (ShouldFail() || klftest::AllocationPoints::Fails(n)) throw std::bad_alloc();
  Inside inside;
  return next(n);
}

void* operator new[](std::size_t n) {
  static const NewProc next = Next<NewProc>("_Znam");
  if (ShouldFail() || klftest::AllocationPoints::Fails(n)) throw std::bad_alloc();
  Inside inside;
  return next(n);
}

void* operator new(std::size_t n, const std::nothrow_t& tag) noexcept {
  static const NothrowNewProc next = Next<NothrowNewProc>("_ZnwmRKSt9nothrow_t");
  if (ShouldFail() || klftest::AllocationPoints::Fails(n)) return nullptr;
  Inside inside;
  return next(n, tag);
}

void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept {
  static const NothrowNewProc next = Next<NothrowNewProc>("_ZnamRKSt9nothrow_t");
  if (ShouldFail() || klftest::AllocationPoints::Fails(n)) return nullptr;
  Inside inside;
  return next(n, tag);
}
