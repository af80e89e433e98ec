// The failing allocations as a library preloaded into a program: armed
// from its environment, KLF_FAIL_ALLOCATION=n fails the n-th allocation
// from when the libraries it needs have started (the program's static
// initialisers come after); with KLF_FAIL_FLOOR=bytes, only allocations of
// that many bytes or more are counted and failed. At exit, "counted N failed F" goes to the
// descriptor KLF_ALLOCATION_REPORT_FD names. With KLF_ALLOCATION_DETAIL=1
// as well, the failed allocation's callers go there as it fails ("failed
// in: a < b < ...", each the function's exported name or its library's),
// and SIGUSR1 writes the allocations counted so far ("at N").
#include <dlfcn.h>
#include <execinfo.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FailingAllocations.h"

namespace {

int g_reportFd = -1;

void WriteLine(const char* line, size_t n) {
  if (g_reportFd >= 0 && write(g_reportFd, line, n) != static_cast<ssize_t>(n)) _exit(98);
}

// Runs inside the allocator: nothing here allocates (backtrace's unwinder
// is loaded before arming).
void ReportCallers() {
  void* frames[24];
  const int n = backtrace(frames, 24);
  char line[2048];
  size_t at = static_cast<size_t>(std::snprintf(line, sizeof(line), "failed in:"));
  const char* previous = "";
  for (int i = 1; i < n && at + 80 < sizeof(line); ++i) {
    Dl_info info;
    if (!dladdr(frames[i], &info) || !info.dli_fname) continue;
    const char* slash = std::strrchr(info.dli_fname, '/');
    const char* name = info.dli_sname ? info.dli_sname : slash ? slash + 1 : info.dli_fname;
    if (std::strcmp(name, previous) == 0) continue;
    at += static_cast<size_t>(std::snprintf(line + at, sizeof(line) - at, "%s %.60s", *previous ? " <" : "", name));
    previous = name;
  }
  line[at++] = '\n';
  WriteLine(line, at);
}

// A signal handler: digits by hand.
void ReportCount(int) {
  char digits[24];
  size_t n = 0;
  uint64_t v = klftest::AllocationPoints::Counted();
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
  } while (v /= 10);
  char line[32] = "at ";
  size_t at = 3;
  while (n) line[at++] = digits[--n];
  line[at++] = '\n';
  WriteLine(line, at);
}

__attribute__((constructor)) void ArmFromEnvironment() {
  if (const char* fd = std::getenv("KLF_ALLOCATION_REPORT_FD")) g_reportFd = std::atoi(fd);
  const char* detail = std::getenv("KLF_ALLOCATION_DETAIL");
  if (g_reportFd >= 0 && detail && std::strcmp(detail, "1") == 0) {
    void* warm[2];
    backtrace(warm, 2);
    klftest::AllocationPoints::SetFailureHook(ReportCallers);
    struct sigaction on = {};
    on.sa_handler = ReportCount;
    on.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &on, nullptr);
  }
  const char* floor = std::getenv("KLF_FAIL_FLOOR");
  if (const char* n = std::getenv("KLF_FAIL_ALLOCATION"))
    klftest::AllocationPoints::Arm(std::strtoull(n, nullptr, 10), floor ? std::strtoull(floor, nullptr, 10) : 0);
}

__attribute__((destructor)) void ReportAtExit() {
  if (g_reportFd < 0) return;
  const bool failed = klftest::AllocationPoints::Failed();
  const unsigned long long counted = klftest::AllocationPoints::Counted();
  klftest::AllocationPoints::Disarm();
  char line[64];
  const int n = std::snprintf(line, sizeof(line), "counted %llu failed %d\n", counted, failed ? 1 : 0);
  if (n > 0) WriteLine(line, static_cast<size_t>(n));
}

}  // namespace
