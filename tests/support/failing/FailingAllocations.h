// Allocations that fail on demand, for tests of what the code does when
// memory runs out: while a FailingAllocations lives, operator new fails on
// the threads it names once `after` of their allocations have succeeded
// (the throwing forms throw std::bad_alloc, the nothrow forms answer
// null). A test program linked with it has its operator new replaced (the
// aligned forms excepted), passing every other allocation on; the C
// library's malloc is left alone.
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

}  // namespace klftest
