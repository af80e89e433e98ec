// tessarette-host: runs the filter plug-in on an image file from the shell.
#include <cstdio>
#include <string>
#include <vector>

#include "CKLT_HostRunner.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  CKLT_HostRunner::Options options;
  std::string error;
  int parsed = CKLT_HostRunner::ParseArgs(args, options, error);
  if (parsed == 1) {
    std::fputs(CKLT_HostRunner::Usage(), stdout);
    return 0;
  }
  if (parsed < 0) {
    std::fprintf(stderr, "tessarette-host: %s (see --help)\n", error.c_str());
    return CKLT_HostRunner::kExitUsage;
  }
  CKLT_HostRunner runner;
  std::string message;
  int code = runner.Run(options, stderr, message);
  std::fprintf(code == 0 ? stdout : stderr, "tessarette-host: %s\n", message.c_str());
  return code;
}
