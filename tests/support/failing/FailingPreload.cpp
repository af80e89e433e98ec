// The failing allocations as a library preloaded into a program: armed
// from its environment, KLF_FAIL_ALLOCATION=n fails the n-th allocation
// from when the libraries it needs have started (the program's static
// initialisers come after); with KLF_FAIL_FLOOR=bytes, only allocations of
// that many bytes or more are counted and failed. At exit, "counted N failed F" goes to the
// descriptor KLF_ALLOCATION_REPORT_FD names.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "FailingAllocations.h"

namespace {

__attribute__((constructor)) void ArmFromEnvironment() {
  const char* floor = std::getenv("KLF_FAIL_FLOOR");
  if (const char* n = std::getenv("KLF_FAIL_ALLOCATION"))
    klftest::AllocationPoints::Arm(std::strtoull(n, nullptr, 10), floor ? std::strtoull(floor, nullptr, 10) : 0);
}

__attribute__((destructor)) void ReportAtExit() {
  const char* fd = std::getenv("KLF_ALLOCATION_REPORT_FD");
  if (!fd) return;
  const bool failed = klftest::AllocationPoints::Failed();
  const unsigned long long counted = klftest::AllocationPoints::Counted();
  klftest::AllocationPoints::Disarm();
  char line[64];
  const int n = std::snprintf(line, sizeof(line), "counted %llu failed %d\n", counted, failed ? 1 : 0);
  if (n > 0 && write(std::atoi(fd), line, static_cast<size_t>(n)) != n) _exit(98);
}

}  // namespace
