#include "FailingAllocations.h"

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <new>

namespace {

std::atomic<bool> g_armed{false};
std::atomic<bool> g_otherThreads{false};
std::atomic<long> g_owner{0};
std::atomic<int64_t> g_left{0};
std::atomic<uint64_t> g_failed{0};

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

void* operator new(std::size_t n) {
  static const NewProc next = Next<NewProc>("_Znwm");
  if (ShouldFail()) throw std::bad_alloc();
  return next(n);
}

void* operator new[](std::size_t n) {
  static const NewProc next = Next<NewProc>("_Znam");
  if (ShouldFail()) throw std::bad_alloc();
  return next(n);
}

void* operator new(std::size_t n, const std::nothrow_t& tag) noexcept {
  static const NothrowNewProc next = Next<NothrowNewProc>("_ZnwmRKSt9nothrow_t");
  return ShouldFail() ? nullptr : next(n, tag);
}

void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept {
  static const NothrowNewProc next = Next<NothrowNewProc>("_ZnamRKSt9nothrow_t");
  return ShouldFail() ? nullptr : next(n, tag);
}
