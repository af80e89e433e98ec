// Allocations that fail on demand, for tests of what the code does when
// memory runs out: while a FailingAllocations lives, operator new fails on
// the threads it names once `after` of their allocations have succeeded
// (the throwing forms throw std::bad_alloc, the nothrow forms answer
// null). A test program linked with it has its operator new replaced (the
// aligned forms excepted), passing every other allocation on; the C
// library's malloc is left alone unless FailingMallocs.cpp is linked too.
#pragma once

#include <cstdint>

namespace klftest {

class FailingAllocations {
 public:
  // kOtherThreads: every thread but the one that makes the object.
  enum Threads { kAnyThread, kOtherThreads };

  FailingAllocations(Threads threads, uint64_t after);
  ~FailingAllocations();
  FailingAllocations(const FailingAllocations&) = delete;
  FailingAllocations& operator=(const FailingAllocations&) = delete;

  // Allocations failed so far.
  uint64_t Failed() const;
};

// Allocations failed one at a time, for a sweep over every allocation a
// run makes: once armed with n, the n-th allocation from then on (on any
// thread) fails once and every other one succeeds, as when memory runs
// short for a moment and comes back. operator new is counted; so are
// malloc, calloc and realloc in a program linked with FailingMallocs.cpp
// as well, an operator new's own malloc not twice. Allocations under the
// floor (bytes; 0 by default) are neither counted nor failed.
class AllocationPoints {
 public:
  // Fails the n-th allocation from now; 0 fails none and only counts.
  static void Arm(uint64_t n, uint64_t floor = 0);
  static void Disarm();
  // Allocations counted since Arm, and whether the n-th one was failed.
  static uint64_t Counted();
  static bool Failed();
  // Whether the allocation of that many bytes asked for now is the one to
  // fail (errno is then ENOMEM); for the replaced allocators.
  static bool Fails(uint64_t bytes);
  // Called on the failing thread, inside the allocator, as the allocation
  // fails; null (the default) for nothing.
  typedef void (*FailureHook)();
  static void SetFailureHook(FailureHook hook);
};

}  // namespace klftest
