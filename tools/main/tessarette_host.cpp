// tessarette-host: runs the filter plug-in on an image file from the shell.
#include <malloc.h>
#include <signal.h>

#include <cerrno>
#include <csignal>

#include "CKLP_ReplaceFile.h"
#include "CKLT_HostRunner.h"
#include "CKLT_PluginFolder.h"

namespace {

void OnSignal(int signal);

void Handle(int signal) {
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

// An interrupted write leaves no hidden temporary file (nor the plug-in's
// private folder): it is removed and the program ends on the signal, as it
// would have without the handler.
// Once a set's files are being renamed into place, the run first names
// what it placed (its run ends with 128 + the signal), then ends so.
void OnSignal(int signal) {
  const int saved = errno;
  if (CKLP_ReplaceFile::KeepEnding(signal)) {
    Handle(signal);  // the handler was reset to the default one
    errno = saved;
    return;
  }
  CKLP_ReplaceFile::RemoveTemporaries();
  CKLT_PluginFolder::RemoveOnSignal();
  std::raise(signal);  // the handler was reset to the default one
  errno = saved;
}

void RemoveTemporariesOnSignals() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old;
    // A signal ignored from the start (nohup, a background job) stays so.
    if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    Handle(signal);
  }
}

void EndOn(int signal) {
  CKLP_ReplaceFile::RemoveTemporaries();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// glibc raises its threshold for blocks taken from the system at each
// large block freed, up to 32 MiB, and gives each thread a heap of its own:
// the blocks a phase of the run frees on its threads then stay resident in
// heaps the next phase, on other threads, does not use (beyond the memory
// budget, and more when the piece count beside the plug-in frees its knife
// mask first). One heap for every thread lets each phase take what the
// last freed. Blocks of 1 MiB or more (planes, whole images, the cut's
// scratch, large pieces' images, which the render keeps from batch to
// batch) are mapped and returned when freed: from the heap, the holes the
// cut's scratch leaves between the pieces' masks stayed resident, 5 to 14
// MiB at 6 MP as the threads happened to take and free them. A fresh
// mapping costs a page fault a page: smaller blocks (masks, pieces' work)
// come from the heap, whose free top is kept up to 64 MiB (not glibc's
// 128 KiB once the threshold is fixed) so that the next piece does not
// fault it in again. The heap grows 1 MiB beyond each request rather than
// 128 KiB: every growth holds up the threads touching its pages, and the
// cut's workers take their pieces' masks side by side (24 MP cut 30 x 20:
// 387 growths a run by 128 KiB, 67 by 1 MiB).
// Refused (a sanitizer's allocator), only that margin is lost.
void SetHeapPolicy() {
#if defined(__GLIBC__)
  (void)mallopt(M_ARENA_MAX, 1);
  (void)mallopt(M_MMAP_THRESHOLD, 1 << 20);
  (void)mallopt(M_TRIM_THRESHOLD, 64 << 20);
  (void)mallopt(M_TOP_PAD, 1 << 20);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  SetHeapPolicy();
  // A write beyond the file-size limit fails with EFBIG instead of ending
  // the program, so the old file is kept and the reason said.
  std::signal(SIGXFSZ, SIG_IGN);
  RemoveTemporariesOnSignals();
  const int code = CKLT_HostRunner::Main(argc, argv, stdout, stderr);
  if (code > CKLT_HostRunner::kExitSignal) EndOn(code - CKLT_HostRunner::kExitSignal);
  return code;
}
