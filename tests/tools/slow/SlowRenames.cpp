// rename() slowed down in a program it is preloaded into: each rename of a
// name holding KLF_SLOW_RENAMES waits 20 ms once made, so that a test can
// send a signal while a set of files is renamed into place.
#include <dlfcn.h>
#include <time.h>

#include <cstdlib>
#include <cstring>

extern "C" int rename(const char* from, const char* to) {
  static const auto next = reinterpret_cast<int (*)(const char*, const char*)>(dlsym(RTLD_NEXT, "rename"));
  const int done = next(from, to);
  const char* slow = std::getenv("KLF_SLOW_RENAMES");
  if (slow && *slow && to && std::strstr(to, slow)) {
    const struct timespec pause = {0, 20000000};
    nanosleep(&pause, nullptr);
  }
  return done;
}
