// Runs the host program as a user does, through a shell, and collects its
// exit code and everything it printed (standard output and error; a pipe,
// not a terminal).
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace hostprogram {

struct Outcome {
  int code = -1;
  std::string out;
};

inline Outcome RunProgram(const std::string& args) {
  std::string cmd = std::string(KLF_HOST_PROGRAM) + " " + args + " 2>&1";
  Outcome o;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return o;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0) o.out.append(buf, n);
  int status = pclose(p);
  o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return o;
}

}  // namespace hostprogram
