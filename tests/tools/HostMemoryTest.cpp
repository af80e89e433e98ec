// The host program's run, in this process, with memory running out on the
// helper threads or anywhere: it ends done or out of memory (exit code 2,
// saying so), never crashes, and leaves no temporary file.
#include <elf.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <random>

#include "CKLT_HostOptions.h"
#include "CKLT_HostRunner.h"
#include "CKLT_PluginLibrary.h"
#include "FailingAllocations.h"
#include "ProgramRun.h"
#include "support/TestSupport.h"

namespace {

using klftest::FailingAllocations;
namespace fs = std::filesystem;

size_t Temporaries(const std::string& dir) {
  size_t n = 0;
  for (const auto& e : fs::directory_iterator(dir)) n += e.path().filename().string().find(".tsr-tmp.") == 1;
  return n;
}

struct Outcome {
  int code = -1;
  std::string message;
  uint64_t failed = 0;
};

// A run as the program makes it, an allocation failure on this thread
// ending it as the program's main does.
Outcome RunFailing(const std::vector<std::string>& args, FailingAllocations::Threads threads, uint64_t after) {
  CKLT_HostOptions options;
  std::string error;
  EXPECT_EQ(CKLT_HostOptions::Parse(args, options, error), 0) << error;
  FILE* err = std::tmpfile();
  Outcome r;
  CKLT_HostRunner runner;
  bool threw = false;
  {
    FailingAllocations failing(threads, after);
    try {
      r.code = runner.Run(options, err, r.message);
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    r.failed = failing.Failed();
  }
  if (threw) r.code = CKLT_HostRunner::kExitMemory, r.message = "out of memory";
  std::fclose(err);
  return r;
}

}  // namespace

TEST(HostMemory, AllocationsFailingOnHelpersOrAnywhereEndTheRunAsOutOfMemory) {
  klftest::TempDir dir;
  std::mt19937 rng(7);
  hostprogram::Write(hostprogram::OneLayer(klpModeRGB, 96, 64, [&](int, int32_t) { return static_cast<uint8_t>(rng()); }),
                     dir.File("in.png"));
  const std::vector<std::string> args = {"--plugin", KLF_PLUGIN_LIBRARY, "-q", "--threads", "4", "--grid", "3x2",
                                         "--flip", "random", "--seed", "2", "--export-pieces", dir.File("p.png"),
                                         dir.File("in.png"), "-o", dir.File("out.png")};
  for (FailingAllocations::Threads threads : {FailingAllocations::kOtherThreads, FailingAllocations::kAnyThread}) {
    u32 outOfMemory = 0, done = 0;
    for (uint64_t after = 0;; after = after * 5 / 4 + 1) {
      SCOPED_TRACE(std::to_string(threads) + " " + std::to_string(after));
      const Outcome r = RunFailing(args, threads, after);
      EXPECT_TRUE(r.code == CKLT_HostRunner::kExitOk || r.code == CKLT_HostRunner::kExitMemory) << r.message;
      if (r.code == CKLT_HostRunner::kExitMemory) {
        ++outOfMemory;
        EXPECT_NE(r.message.find("out of memory"), std::string::npos) << r.message;
      } else {
        ++done;
      }
      EXPECT_EQ(Temporaries(dir.Path()), 0u);
      if (r.failed == 0) break;
    }
    EXPECT_GT(outOfMemory, 3u);
    EXPECT_GT(done, 0u);
  }
}

// A plug-in whose segments find no room to be mapped (its last one made
// far larger than the address space) fails to load as out of memory; a
// damaged one as a file error.
TEST(HostMemory, APlugInWithoutRoomToLoadIsOutOfMemory) {
  klftest::TempDir dir;
  // The loader gives up before it reads past the first pages.
  std::vector<uint8_t> lib(65536);
  FILE* f = std::fopen(KLF_TEST_PLUGIN_LIBRARY, "rb");
  ASSERT_NE(f, nullptr);
  lib.resize(std::fread(lib.data(), 1, lib.size(), f));
  std::fclose(f);
  ASSERT_GT(lib.size(), sizeof(Elf64_Ehdr));
  Elf64_Ehdr head;
  std::memcpy(&head, lib.data(), sizeof(head));
  size_t last = 0;
  for (size_t i = 0; i < head.e_phnum; ++i) {
    Elf64_Phdr ph;
    std::memcpy(&ph, lib.data() + head.e_phoff + i * head.e_phentsize, sizeof(ph));
    if (ph.p_type == PT_LOAD) last = head.e_phoff + i * head.e_phentsize;
  }
  ASSERT_NE(last, 0u);
  const uint64_t huge = uint64_t(1) << 47;
  std::memcpy(lib.data() + last + offsetof(Elf64_Phdr, p_memsz), &huge, sizeof(huge));
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("huge.so"), lib));
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("bad.so"), {1, 2, 3, 4}));
  CKLT_PluginLibrary library;
  std::string error;
  bool noMemory = false;
  EXPECT_FALSE(library.Load(dir.File("huge.so"), error, &noMemory));
  EXPECT_TRUE(noMemory) << error;
  EXPECT_NE(error.find("out of memory"), std::string::npos) << error;
  EXPECT_FALSE(library.Load(dir.File("bad.so"), error, &noMemory));
  EXPECT_FALSE(noMemory) << error;
}

// The loader's words sorted: only lack of room is out of memory; a segment
// that a noexec mount will not map, or a static TLS block too small for
// the library, is the file's failure.
TEST(HostMemory, PluginLoadRefusalsSorted) {
  typedef CKLT_PluginLibrary L;
  const char* mapped = "x.so: failed to map segment from shared object";
  EXPECT_EQ(L::Classify(mapped, false), L::kNoRoom);
  EXPECT_EQ(L::Classify(mapped, true), L::kNoExecMount);
  for (bool noExec : {false, true}) {
    EXPECT_EQ(L::Classify("x.so: cannot map zero-fill pages", noExec), L::kNoRoom);
    EXPECT_EQ(L::Classify("x.so: out of memory", noExec), L::kNoRoom);
    EXPECT_EQ(L::Classify("x.so: cannot create shared object descriptor", noExec), L::kNoRoom);
    EXPECT_EQ(L::Classify((std::string("x.so: ") + std::strerror(ENOMEM)).c_str(), noExec), L::kNoRoom);
    EXPECT_EQ(L::Classify("x.so: cannot allocate memory in static TLS block", noExec), L::kFileRefused);
    EXPECT_EQ(L::Classify("x.so: invalid ELF header", noExec), L::kFileRefused);
    EXPECT_EQ(L::Classify(nullptr, noExec), L::kFileRefused);
  }
}
