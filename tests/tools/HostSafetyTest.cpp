// The host program on bad input and failing disks: it refuses with a
// clear reason and the right exit code before the filter runs, never
// crashes or throws, never leaves a broken or half-written file, and keeps
// its memory within a budget.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "CKLP_ReplaceFile.h"
#include "CKLT_HostRunner.h"
#include "ProgramRun.h"
#include "imaging/JpegTestUtil.h"
#include "imaging/PngTestUtil.h"
#include "support/TestSupport.h"

namespace {

using namespace hostprogram;
namespace fs = std::filesystem;

const std::string kTestPlugin = std::string("--plugin ") + KLF_TEST_PLUGIN_LIBRARY + " -q ";
const std::string kCrashers = std::string(KLF_TEST_DATA_DIR) + "/";

CKLT_HostDocument Noise(int16_t mode, int32_t w, int32_t h, uint32_t seed) {
  std::mt19937 rng(seed);
  return OneLayer(mode, w, h, [&](int, int32_t) { return static_cast<uint8_t>(rng()); });
}

TEST(HostSafety, RefusesBeforeTheFilterRunsAndSaysWhy) {
  klftest::TempDir dir;
  const std::string d = dir.Path() + "/";
  fs::create_directory(d + "sub");
  Write(Noise(klpModeRGB, 23, 17, 1), d + "in.png");
  Write(Noise(klpModeCMYK, 8, 8, 2), d + "c.psd");
  WriteZipPsd(Noise(klpModeGray, 8, 8, 3), d + "zip.psd", true);
  klftest::WriteFileBytes(d + "notes.txt", {'h', 'e', 'l', 'l', 'o', '\n'});
  klftest::WriteFileBytes(d + "cut.klpd", {'K', 'L', 'T', 'S', '3', '0', 1, 0, 0});
  ASSERT_EQ(mkfifo((d + "pipe.so").c_str(), 0666), 0);
  const std::string in = " " + d + "in.png", out = " -o " + d + "out.png";
  const int usage = CKLT_HostRunner::kExitUsage;
  const struct {
    std::string args;
    int code;
    std::string says;
    std::string env = "";  // before the program; with one, no plug-in of the test's
  } rows[] = {
      {d + "sub" + out, CKLT_HostRunner::kExitUsage, "is a folder"},
      {"--settings " + d + "sub" + in + out, CKLT_HostRunner::kExitUsage, "is a folder"},
      {"--script " + d + "sub" + in + out, CKLT_HostRunner::kExitUsage, "is a folder"},
      {"--selection " + d + "sub" + in + out, CKLT_HostRunner::kExitUsage, "is a folder"},
      {d + "missing.png" + out, CKLT_HostRunner::kExitFiles, "No such file or directory"},
      {in + " -o " + d + "nofolder/out.png", CKLT_HostRunner::kExitFiles, "No such file or directory"},
      {in + " -o " + d + "out.jpg", CKLT_HostRunner::kExitUsage, "must be a .png or .psd"},
      {d + "c.psd" + out, CKLT_HostRunner::kExitUsage, "write the CMYK document as .psd, or convert it with --mode rgb"},
      {"--settings " + d + "notes.txt" + in + out, CKLT_HostRunner::kExitFiles, "not a settings file"},
      {"--settings " + d + "in.png" + in + out, CKLT_HostRunner::kExitFiles, "not a settings file"},
      {"--settings " + d + "cut.klpd" + in + out, CKLT_HostRunner::kExitFiles, "damaged settings document"},
      {d + "zip.psd" + out, CKLT_HostRunner::kExitFiles, "-compress RLE"},
      {kCrashers + "imaging/crashers/png_width_70000.png" + out, CKLT_HostRunner::kExitFiles,
       "at most 65535 pixels a side"},
      {"--memory-budget 100G " + kCrashers + "imaging/crashers/psd_canvas_65535_one_pixel_layer.psd" + out,
       CKLT_HostRunner::kExitFiles, "the PSD file is damaged (its image data is shorter than its size needs)"},
      {kCrashers + "imaging/crashers/psd_canvas_65535_one_pixel_layer.psd" + out, CKLT_HostRunner::kExitMemory,
       "(see --memory-budget)"},
      {"--memory-budget 1G " + kCrashers + "tools/crashers/png_1bit_20000x20000.png" + out,
       CKLT_HostRunner::kExitMemory, "more than the memory budget of 1.0 GiB"},
      {"--max-space 10" + in + out, CKLT_HostRunner::kExitMemory, "too little memory"},
      // -o may be the input alone of the files read; a plug-in must be a file.
      {"--selection " + d + "c.psd" + in + " -o " + d + "c.psd", usage, "-o " + d + "c.psd is the --selection mask"},
      {"--settings " + d + "cut.klpd" + in + " -o " + d + "sub/../cut.klpd", usage, "is the --settings file read"},
      {in + out, usage, "TESSARETTE_PLUGIN " + d + "pipe.so is a FIFO", "TESSARETTE_PLUGIN=" + d + "pipe.so"},
      {"--plugin " + d + "pipe.so" + in + out, usage, "--plugin " + d + "pipe.so is a FIFO", "env"},
      // An option of one value given twice; numbers of plain decimal digits.
      {in + out + " --output " + d + "b.png", usage, "--output is given twice (" + d + "out.png, then " + d + "b.png)"},
      {"--export-pieces p.png --export-pieces q.png" + in + out, usage, "--export-pieces is given twice"},
      {"--knob-size 30 --grid 2x2 --knob-size 30" + in + out, usage, "--knob-size is given twice (30, then 30)"},
      {"--grid ' 3x2'" + in + out, usage, "bad --grid  3x2"},
      {"--grid '3x2 '" + in + out, usage, "bad --grid 3x2 "},
      {"--threads +4" + in + out, usage, "bad --threads +4"},
      {"--layer -0" + in + out, usage, "bad --layer -0"},
      {"--memory-budget +8M" + in + out, usage, "bad --memory-budget +8M"},
      {"--random-knots 5 --seed ' 7'" + in + out, usage, "bad --seed  7"},
  };
  const size_t files = FileCount(d);
  for (const auto& row : rows) {
    Outcome o = RunProgram((row.env.empty() ? kTestPlugin : "-q ") + row.args, row.env + " timeout 60");
    EXPECT_EQ(o.code, row.code) << row.args << "\n" << o.out;
    EXPECT_TRUE(Has(o, row.says)) << row.args << "\n" << o.out;
    EXPECT_EQ(FileCount(d), files) << row.args;  // nothing written, nothing left behind
  }
}

TEST(HostSafety, AFailedWriteKeepsTheOldFile) {
  klftest::TempDir dir;
  const std::string d = dir.Path() + "/";
  Write(Noise(klpModeRGB, 300, 200, 4), d + "in.png");  // noise: a PNG of about 180 KB
  Write(Noise(klpModeRGB, 4, 4, 5), d + "out.png");
  const std::vector<uint8_t> old = klftest::ReadFileBytes(d + "out.png");
  for (const char* name : {"out.png", "new.psd"}) {
    Outcome o = RunProgram(kTestPlugin + d + "in.png -o " + d + name, "ulimit -f 64;");
    EXPECT_EQ(o.code, CKLT_HostRunner::kExitFiles) << o.out;
    EXPECT_TRUE(Has(o, "File too large")) << o.out;
  }
  EXPECT_EQ(klftest::ReadFileBytes(d + "out.png"), old);
  EXPECT_FALSE(fs::exists(d + "new.psd"));
  EXPECT_EQ(FileCount(d), 2u) << "no temporary file is left";
  // One that fails after it put files in place keeps them, each whole, and
  // names them again in its last line (the PSD, about 420 KB, beyond the limit).
  Outcome failed = RunProgram(kTestPlugin + "--grid 3x2 --export-pieces " + d + "p.png --export-cropped " +
                                  "--export-knives " + d + "k.eps --save-settings " + d + "s.klpd " + d +
                                  "in.png -o " + d + "new.psd",
                              "ulimit -f 200;");
  EXPECT_EQ(failed.code, CKLT_HostRunner::kExitFiles);
  EXPECT_TRUE(Has(failed, "saved the settings to " + d + "s.klpd\n") &&
              Has(failed, "(already put in place by this run, and kept: 6 PNG files of --export-pieces " + d +
                              "p.png, --export-knives " + d + "k.eps and --save-settings " + d + "s.klpd)\n"))
      << failed.out;
  EXPECT_EQ(FileCount(d), 2u + 6 + 2) << "the pieces, the knives and the settings, no output";

  // The output may be the input, also through a link: the file is replaced
  // whole and the link stays a link.
  fs::create_symlink(d + "in.png", d + "link.png");
  CKLT_HostDocument expect = Read(d + "in.png");
  for (auto& p : expect.layers[0].planes)
    for (auto& v : p) v ^= 255;
  Outcome o = RunProgram(kTestPlugin + d + "in.png -o " + d + "link.png");
  ASSERT_EQ(o.code, 0) << o.out;
  EXPECT_TRUE(fs::is_symlink(d + "link.png"));
  EXPECT_EQ(Read(d + "in.png").layers[0].planes, expect.layers[0].planes);
}

TEST(HostSafety, OutputsThatCannotBeKeptAreRefusedFirst) {
  klftest::TempDir dir;
  const std::string d = dir.Path() + "/";
  // Wider than PSD holds: refused before the run, naming PNG, which takes it.
  Write(Noise(klpModeGray, 30001, 1, 7), d + "wide.png");
  Outcome o = RunProgram(kTestPlugin + d + "wide.png -o " + d + "wide.psd");
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitUsage) << o.out;
  EXPECT_TRUE(Has(o, "30001 x 1 pixels and PSD files hold 30000 pixels a side at most: write it as .png")) << o.out;
  EXPECT_FALSE(Has(o, "%")) << "refused before the plug-in ran";
  EXPECT_FALSE(fs::exists(d + "wide.psd"));
  Write(Noise(klpModeGray, 1, 30000, 8), d + "tall.png");
  EXPECT_EQ(RunProgram(kTestPlugin + d + "tall.png -o " + d + "tall.psd").code, 0);
  EXPECT_EQ(RunProgram(kTestPlugin + d + "wide.png -o " + d + "wide2.png").code, 0);

  // A read-only file is not replaced, though its folder may be written; a
  // writable one is.
  Write(Noise(klpModeRGB, 4, 4, 9), d + "in.png");
  Write(Noise(klpModeRGB, 4, 4, 10), d + "kept.png");
  const std::vector<uint8_t> old = klftest::ReadFileBytes(d + "kept.png");
  fs::permissions(d + "kept.png", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  for (const std::string option : {" -o ", " --save-settings "}) {
    const std::string rest = option == " -o " ? "" : " -o " + d + "o.png";
    o = RunProgram(kTestPlugin + d + "in.png" + option + d + "kept.png" + rest);
    EXPECT_EQ(o.code, CKLT_HostRunner::kExitFiles) << o.out;
    EXPECT_TRUE(Has(o, "cannot write " + d + "kept.png: the file is read-only")) << o.out;
  }
  EXPECT_EQ(klftest::ReadFileBytes(d + "kept.png"), old);
  fs::permissions(d + "kept.png", fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(RunProgram(kTestPlugin + d + "in.png -o " + d + "kept.png").code, 0);
  EXPECT_NE(klftest::ReadFileBytes(d + "kept.png"), old);
}

// Runs the program with args (what it prints into log when one is named),
// sends it signal once ready(folder) holds, and returns how it ended
// (waitpid's status; -1 when it ended first).
int InterruptedRun(const std::vector<std::string>& args, const std::string& folder, int signal,
                   const std::function<bool(const std::string&)>& ready, const std::string& log = "") {
  const pid_t pid = fork();
  if (pid == 0) {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, SIG_DFL);
    const int fd = log.empty() ? -1 : open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!log.empty() && (fd < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0)) _exit(127);
    std::vector<char*> argv = {const_cast<char*>(KLF_HOST_PROGRAM)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(KLF_HOST_PROGRAM, argv.data());
    _exit(127);
  }
  bool sent = false;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (!sent && ready(folder)) sent = kill(pid, signal) == 0;
    usleep(500);
  }
  return sent ? status : -1;
}

// Entries of folder whose names start with prefix.
size_t Count(const std::string& folder, const std::string& prefix) {
  size_t n = 0;
  for (const auto& e : fs::directory_iterator(folder)) n += e.path().filename().string().rfind(prefix, 0) == 0;
  return n;
}

// As above, once the temporary output file appears.
int InterruptedWrite(const std::vector<std::string>& args, const std::string& folder, int signal) {
  return InterruptedRun(args, folder, signal, [](const std::string& f) { return Count(f, ".out.png.") > 0; });
}

TEST(HostSafety, AnInterruptedWriteLeavesNoTemporaryFile) {
  klftest::TempDir dir;
  const std::string d = dir.Path() + "/";
  Write(Noise(klpModeRGB, 1500, 1000, 11), d + "in.png");  // noise: a slow PNG to write at level 9
  Write(Noise(klpModeRGB, 4, 4, 12), d + "out.png");
  const std::vector<uint8_t> old = klftest::ReadFileBytes(d + "out.png");
  const std::vector<std::string> args = {"--plugin", KLF_TEST_PLUGIN_LIBRARY, "-q", "--threads", "1",
                                         "--png-level", "9", "--png-strategy", "default", d + "in.png",
                                         "-o", d + "out.png"};
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    const int status = InterruptedWrite(args, d, signal);
    ASSERT_NE(status, -1) << "the write ended before it could be interrupted";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_EQ(FileCount(d), 2u) << "no temporary file is left";
    EXPECT_EQ(klftest::ReadFileBytes(d + "out.png"), old);
  }
}

// Every file of a folder with its bytes.
std::vector<std::pair<std::string, std::vector<uint8_t>>> Listing(const std::string& dir) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> out;
  for (const auto& e : fs::directory_iterator(dir))
    out.emplace_back(e.path().filename().string(), klftest::ReadFileBytes(e.path().string()));
  std::sort(out.begin(), out.end());
  return out;
}

// An export of 600 PNG files interrupted at any thread count leaves the
// folder as it was: no temporary, no new file, an earlier export of
// another layout untouched.
TEST(HostSafety, AnInterruptedExportLeavesTheFolderAsItWas) {
  klftest::TempDir dir;
  const std::string d = dir.Path() + "/";
  Write(Noise(klpModeRGB, 600, 400, 13), d + "in.png");
  for (int k = 1; k <= 40; k += 3)
    ASSERT_TRUE(klftest::WriteFileBytes(d + "p_F" + std::to_string(10000 + k).substr(1) + "-Piece" + std::to_string(k) +
                                            "_R1_C" + std::to_string(k) + ".png",
                                        std::vector<uint8_t>(k, 1)));
  const auto before = Listing(d);
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGINT};
  const char* threads[] = {"1", "8", "64", "256"};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(threads[i]);
    const std::vector<std::string> args = {"-q",           "--threads",   threads[i],    "--grid",
                                           "30x20",        d + "in.png",  "-o",          d + "out.png",
                                           "--export-pieces", d + "p.png", "--export-what", "all"};
    // Well into the export: many temporaries, or a new file in place.
    const size_t earlier = Count(d, "p_");
    const int status = InterruptedRun(args, d, signals[i], [&](const std::string& f) {
      return Count(f, ".p_") >= 40 || Count(f, "p_") > earlier;
    });
    ASSERT_NE(status, -1) << "the export ended before it could be interrupted";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signals[i]) << status;
    EXPECT_EQ(Listing(d), before);
  }
  // A signal once the files are being renamed into place lets the renames
  // finish: the whole set, no temporary.
  for (const char* t : {"1", "64"}) {
    klftest::TempDir other;
    const std::string o = other.Path() + "/";
    fs::copy_file(d + "in.png", o + "in.png");
    const std::vector<std::string> args = {"-q",  "--threads",   t,          "--grid",          "30x20", o + "in.png",
                                           "-o",  o + "out.png", "--export-pieces", o + "p.png", "--export-what", "all"};
    // A fast run may be past the renames when the signal comes; the set is
    // whole either way.
    InterruptedRun(args, o, SIGTERM, [&](const std::string& f) { return Count(f, "p_") > 0; });
    EXPECT_EQ(Count(o, ".p_"), 0u) << t;
    EXPECT_EQ(Count(o, "p_"), 600u) << t;
  }
}

// A signal while a set's files are renamed into place (each rename slowed
// down) lets the renames finish; the run names the set as a failing run
// does, writes nothing after it and ends on the signal.
TEST(HostSafety, AnInterruptedSetNamesWhatItPlaced) {
  klftest::TempDir dir;
  const std::string d = dir.Path() + "/";
  Write(Noise(klpModeRGB, 240, 160, 19), d + "in.png");
  const char* asan = getenv("ASAN_OPTIONS");
  const std::string kept = asan ? asan : "";
  setenv("ASAN_OPTIONS", (kept + ":verify_asan_link_order=0").c_str(), 1);
  setenv("LD_PRELOAD", KLF_SLOW_RENAMES_LIBRARY, 1);
  setenv("KLF_SLOW_RENAMES", "/p_", 1);
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    klftest::TempDir logs;
    for (const auto& e : fs::directory_iterator(d))
      if (e.path().filename() != "in.png") fs::remove(e.path());
    const int status = InterruptedRun({"-q", "--threads", "1", "--grid", "8x5", d + "in.png", "-o", d + "out.png",
                                       "--export-what", "all", "--export-pieces", d + "p.png"},
                                      d, signal, [](const std::string& f) { return Count(f, "p_") > 0; },
                                      logs.File("log"));
    const std::vector<uint8_t> bytes = klftest::ReadFileBytes(logs.File("log"));
    const std::string said(bytes.begin(), bytes.end());
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status << said;
    EXPECT_EQ(Count(d, "p_"), 40u);
    EXPECT_EQ(Count(d, ".p_") + Count(d, "out.png"), 0u) << "nothing left or written after the set";
    EXPECT_NE(said.find("exported 40 PNG files ("), std::string::npos) << said;
    EXPECT_NE(said.find(std::string("interrupted (") + strsignal(signal) +
                        ") while the exported files were put in place (already put in place by this run, and kept: "
                        "40 PNG files of --export-pieces " + d + "p.png)\n"),
              std::string::npos)
        << said;
  }
  unsetenv("KLF_SLOW_RENAMES");
  unsetenv("LD_PRELOAD");
  if (asan)
    setenv("ASAN_OPTIONS", kept.c_str(), 1);
  else
    unsetenv("ASAN_OPTIONS");
}

// Exports into one folder at once. One that waits for another's set says
// so after a moment and still ends cleanly on Ctrl-C. Of two placed right
// one after the other, the later counts the earlier's files it did not
// replace (2 x 2 then 3 x 2: 2; the other way: 4), the earlier none.
TEST(HostSafety, ExportsIntoOneFolderAtOnce) {
  klftest::TempDir dir, logs;
  const std::string d = dir.Path() + "/", holds = "note: " + dir.Path() + " still holds ";
  Write(Noise(klpModeRGB, 60, 40, 18), d + "in.png");
  const auto run = [&](const std::string& grid) {
    return kTestPlugin + "--grid " + grid + " " + d + "in.png -o " + d + grid +
           ".png --export-what all --export-pieces " + d + "p.png";
  };
  const int folder = open(d.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);  // held as by a set being placed
  ASSERT_TRUE(folder >= 0 && flock(folder, LOCK_EX) == 0);
  const auto before = Listing(d);
  const int status = InterruptedRun(
      {"-q", "--grid", "2x2", d + "in.png", "-o", d + "o.png", "--export-pieces", d + "p.png"}, d, SIGINT,
      [&](const std::string&) {
        const std::vector<uint8_t> said = klftest::ReadFileBytes(logs.File("log"));
        return std::string(said.begin(), said.end()).find("waiting for another export into " +
                                                          fs::canonical(d).string()) != std::string::npos;
      },
      logs.File("log"));
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_EQ(Listing(d), before);
  for (int round = 0; round < 3; ++round) {
    Outcome a, b;
    std::thread first([&] { a = RunProgram(run("2x2")); }), second([&] { b = RunProgram(run("3x2")); });
    for (int i = 0; i < 60000 && Count(d, ".p_") < 4 + 6; ++i) usleep(1000);  // both waiting
    EXPECT_EQ(flock(folder, LOCK_UN), 0);
    first.join(), second.join();
    const bool aFirst = !Has(a, holds);
    EXPECT_TRUE(a.code == 0 && b.code == 0 && Has(b, holds) == aFirst) << a.out << b.out;
    EXPECT_TRUE(Has(aFirst ? b : a, holds + (aFirst ? "2" : "4") + " files")) << a.out << b.out;
    for (const auto& e : fs::directory_iterator(d))
      if (e.path().filename().string().rfind("p_", 0) == 0) fs::remove(e.path());
    ASSERT_EQ(flock(folder, LOCK_EX), 0);
  }
  close(folder);
}

// What goes before the program to limit its allocations: no block above
// mb MiB under the sanitizers (their runtime alone needs more address
// space than the limit), the address space to releaseKiB in Release.
std::string AllocationLimit(int mb, long releaseKiB) {
#if defined(__SANITIZE_ADDRESS__)
  (void)releaseKiB;
  return "ASAN_OPTIONS=$ASAN_OPTIONS:allocator_may_return_null=1:max_allocation_size_mb=" + std::to_string(mb);
#elif defined(__SANITIZE_THREAD__)
  (void)releaseKiB;
  return "TSAN_OPTIONS=$TSAN_OPTIONS:allocator_may_return_null=1:max_allocation_size_mb=" + std::to_string(mb);
#else
  (void)mb;
  return "ulimit -v " + std::to_string(releaseKiB) + ";";
#endif
}

// Allocations above 16 MB fail (address space in Release builds): a
// layer's planes are not made before its size is checked.
const int kNoLargeAllocationMB = 16;
const long kNoLargeAllocationKiB = 60000;

// A PNG of w x h declaring depth and type (a two-colour palette and its
// transparency for type 3) whose image data is one chunk of at least the
// bytes that can hold the image: a stream whose first rows have the filter
// given, zeros after it; or bytes that are no zlib stream; the CRC broken
// when asked.
pngtest::Bytes HostilePng(uint32_t w, uint32_t h, uint8_t depth, uint8_t type, uint8_t interlace, int filter,
                          bool badCrc) {
  pngtest::Bytes file = pngtest::Start(w, h, depth, type, interlace);
  if (type == 3) pngtest::PutChunk(file, "PLTE", {0, 0, 0, 255, 255, 255}), pngtest::PutChunk(file, "tRNS", {0});
  const uint64_t rowBytes = (static_cast<uint64_t>(w) * depth * (type == 2 ? 3 : 1) + 7) / 8 + 1;
  pngtest::Bytes rows(rowBytes * 64, 0), data = {0x78, 0};  // no zlib header
  for (uint64_t y = 0; filter >= 0 && y < 64; ++y) rows[y * rowBytes] = static_cast<uint8_t>(filter);
  if (filter >= 0) data = pngtest::Deflated(rows), data.resize(data.size() - 4);
  data.resize(std::max<size_t>(data.size(), (rowBytes - 1) * h / 1032 + 64), 0);
  pngtest::PutChunk(file, "IDAT", data);
  if (badCrc) file[file.size() - 1] ^= 1;
  pngtest::PutChunk(file, "IEND", {});
  return file;
}

// An interlaced 8-bit palette file with a transparent entry, w x h pixels
// of index 0, whose image data decodes soundly to the last row of the last
// pass; its Adler-32 is wrong.
pngtest::Bytes LateDamagedPng(uint32_t w, uint32_t h) {
  static const uint32_t kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                         {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};  // x, y, steps
  uint64_t raw = 0;  // each pass's rows, a filter byte each
  for (const auto& p : kPasses)
    if (w > p[0] && h > p[1]) raw += (h - p[1] + p[3] - 1) / p[3] * ((w - p[0] + p[2] - 1) / p[2] + 1);
  pngtest::Bytes data = pngtest::Deflated(pngtest::Bytes(raw, 0), 9);
  data.back() ^= 1;
  pngtest::Bytes file = pngtest::Start(w, h, 8, 3, 1);
  pngtest::PutChunk(file, "PLTE", {0, 0, 0, 255, 255, 255}), pngtest::PutChunk(file, "tRNS", {0});
  pngtest::PutChunk(file, "IDAT", data);
  pngtest::PutChunk(file, "IEND", {});
  return file;
}

TEST(HostSafety, HostileDocumentsStayWithinMemory) {
  klftest::TempDir dir;
  // 2000 layers of one pixel over a 2048 x 2048 canvas: kept at their own
  // sizes, well within a small budget, and all written back.
  const std::string psd = kCrashers + "imaging/crashers/psd_2000_layers_on_2048_canvas.psd";
  Outcome o = RunProgram(kTestPlugin + "--memory-budget 256M " + psd + " -o " + dir.File("out.psd"));
  ASSERT_EQ(o.code, 0) << o.out;
  EXPECT_EQ(Read(dir.File("out.psd")).layers.size(), 2000u);
  // A 65535 x 65535 layer whose channels carry nothing has no pixels: no
  // plane is made for it, and with nothing to filter the run says why.
  o = RunProgram(std::string("-q --plugin ") + KLF_PLUGIN_LIBRARY + " --memory-budget 64M " + kCrashers +
                 "imaging/crashers/psd_layer_65535_empty_channels.psd -o " + dir.File("e.psd"));
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitCancelled) << o.out;
  EXPECT_TRUE(Has(o, "carries no pixels") && Has(o, "has no pixels on the canvas, so there was nothing to filter"))
      << o.out;

  // Damaged files under 1 MB are refused at their first damage, before
  // what their headers declare is allocated (PNG: images of about 440 MB
  // at three colour types, interlaced too; damage past the first rows, and
  // after the last pass where the planes with the whole decoded image
  // outweigh the image data):
  // within 2 CPU seconds and an address space under 64 MB.
  std::mt19937 rng(31);
  const auto padded = [&](bool progressive) {  // 21000 x 21000 declared, comments to 983 KB
    const jpegtest::Bytes small = jpegtest::Encode(16, 16, JCS_GRAYSCALE, 1, progressive, rng, 0, 1, {}, 128);
    return jpegtest::WithSegments(jpegtest::Resized(small, 21000, 21000), 0xFE, 15, jpegtest::Bytes(65533, 'x'));
  };
  const jpegtest::Bytes arithmetic = jpegtest::Encode(640, 480, JCS_RGB, 3, true, rng, 0, 1, {}, -1, nullptr, 0,
                                                      [](jpeg_compress_struct& c) { c.arith_code = TRUE; });
  const struct {
    jpegtest::Bytes file;
    const char* says;
  } damaged[] = {
      {jpegtest::RepeatedScans(4000, 4000, 500, 63, true), "Inconsistent progression sequence for component 0"},
      {padded(true), "Scans of 6 bytes cannot hold the image's 6890625 blocks"},
      {padded(false), "Scans of 3 bytes cannot hold the image's 6890625 blocks"},
      {jpegtest::Bytes(arithmetic.begin(), arithmetic.begin() + arithmetic.size() / 2), "Premature end of JPEG file"},
      {HostilePng(21000, 21000, 1, 3, 0, -1, false), "IDAT: incorrect header check"},
      {HostilePng(21000, 21000, 1, 3, 0, 5, false), "bad adaptive filter value"},
      {HostilePng(21000, 21000, 1, 3, 0, 0, true), "IDAT: CRC error"},
      {HostilePng(21000, 21000, 1, 3, 1, -1, false), "IDAT: incorrect header check"},
      {HostilePng(21000, 21000, 1, 3, 1, 5, false), "bad adaptive filter value"},
      {HostilePng(21000, 21000, 1, 3, 1, 0, true), "IDAT: CRC error"},
      {HostilePng(21000, 21000, 8, 0, 0, -1, false), "IDAT: incorrect header check"},
      {HostilePng(21000, 21000, 8, 0, 0, 5, false), "bad adaptive filter value"},
      {HostilePng(21000, 21000, 8, 0, 0, 0, true), "IDAT: CRC error"},
      {HostilePng(12000, 12000, 8, 2, 0, -1, false), "IDAT: incorrect header check"},
      {HostilePng(12000, 12000, 8, 2, 0, 5, false), "bad adaptive filter value"},
      {HostilePng(12000, 12000, 8, 2, 0, 0, true), "IDAT: CRC error"},
      {HostilePng(21000, 21000, 1, 3, 0, 0, false), "IDAT: incorrect data check"},  // 64 sound rows
      // Damage after the last pass: the planes (81 MB) fit what 20 KB of
      // image data may cost, not with the whole decoded image beside them.
      {LateDamagedPng(4500, 4500), "IDAT: incorrect data check"},
  };
  for (const auto& row : damaged) {
    ASSERT_LT(row.file.size(), 1u << 20);
    ASSERT_TRUE(klftest::WriteFileBytes(dir.File("in"), row.file));
    // Threads of 1 MiB stacks: the machine's threads fit the address space too.
    o = RunProgram(kTestPlugin + "--memory-budget 100G " + dir.File("in") + " -o " + dir.File("out.png"),
                   "ulimit -t 2; ulimit -s 1024; " + AllocationLimit(kNoLargeAllocationMB, kNoLargeAllocationKiB));
    EXPECT_EQ(o.code, CKLT_HostRunner::kExitFiles) << o.out;
    EXPECT_TRUE(Has(o, std::string(" file is damaged (") + row.says)) << o.out;
  }
}

void Be(std::vector<uint8_t>& b, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A 64 x 48 RGB PSD with one layer of w x h whose channels (ids) are
// PackBits runs of one value: 2 bytes a 128 pixels, the row counts left
// 0 (the reader does not need them).
std::vector<uint8_t> OneLayerPsd(uint32_t w, uint32_t h, const std::vector<int>& ids, const std::string& name = "big") {
  const uint64_t field = (name.size() + 4) / 4 * 4;
  std::vector<uint8_t> row;
  for (uint32_t x = 0; x < w; x += 128) row.insert(row.end(), {uint8_t(w - x >= 128 ? 0x81 : 257 - (w - x)), 7});
  const uint64_t channel = 2 + 2ull * h + row.size() * h;
  std::vector<uint8_t> b = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3};
  Be(b, 48, 4), Be(b, 64, 4), Be(b, 8, 2), Be(b, 3, 2), Be(b, 0, 4), Be(b, 0, 4);
  const uint64_t info = 2 + 18 + 6 * ids.size() + 16 + 8 + field + channel * ids.size();
  Be(b, info + (info & 1) + 8, 4), Be(b, info + (info & 1), 4), Be(b, 1, 2);
  Be(b, 0, 4), Be(b, 0, 4), Be(b, h, 4), Be(b, w, 4), Be(b, ids.size(), 2);
  for (int id : ids) Be(b, static_cast<uint16_t>(id), 2), Be(b, channel, 4);
  b.insert(b.end(), {'8', 'B', 'I', 'M', 'n', 'o', 'r', 'm', 255, 0, 0, 0});
  Be(b, 8 + field, 4), Be(b, 0, 4), Be(b, 0, 4), Be(b, name.size(), 1), b.insert(b.end(), name.begin(), name.end());
  b.resize(b.size() + field - 1 - name.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    Be(b, 1, 2), b.resize(b.size() + 2ull * h);
    for (uint32_t y = 0; y < h; ++y) b.insert(b.end(), row.begin(), row.end());
  }
  b.resize(b.size() + (info & 1) + 4);
  Be(b, 0, 2), b.resize(b.size() + 64 * 48 * 3, 128);
  return b;
}

TEST(HostSafety, PsdLayersAreCheckedBeforeTheyAreDecoded) {
  klftest::TempDir dir;
  // A 2^29 x 1 layer, 8 MB of runs: beyond the sides the program takes.
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("wide.psd"), OneLayerPsd(1u << 29, 1, {0})));
  // 65535 x 512 in four channels, 2 MB: its planes, the reader's, and the
  // filtered layer's new ones need 270 MB.
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("large.psd"), OneLayerPsd(65535, 512, {-1, 0, 1, 2})));
  const struct {
    const char* file;
    const char* budget;
    int code;
    const char* says;
  } rows[] = {
      {"wide.psd", "2G", CKLT_HostRunner::kExitFiles,
       "layer \"big\" is 536870912 x 1 pixels; layers may be at most 65535 pixels a side"},
      {"large.psd", "200M", CKLT_HostRunner::kExitMemory, "needs about 266 MiB of memory, more than the memory budget"},
  };
  for (const auto& row : rows) {
    const Outcome o = RunProgram(kTestPlugin + "--threads 1 --memory-budget " + row.budget + " " + dir.File(row.file) +
                                     " -o " + dir.File("out.png"),
                                 AllocationLimit(kNoLargeAllocationMB, kNoLargeAllocationKiB));
    EXPECT_EQ(o.code, row.code) << row.file << "\n" << o.out;
    EXPECT_TRUE(Has(o, row.says)) << row.file << "\n" << o.out;
  }
  EXPECT_FALSE(fs::exists(dir.File("out.png")));
}

// Layer names a PSD output cannot keep whole are cut between characters (a
// UTF-8 sequence or a byte): 63 bytes, 55 in the Pascal name read back; said.
TEST(HostSafety, LayerNamesAreCutBetweenCharactersAndSaid) {
  klftest::TempDir dir;
  std::string e, smile = "x";
  for (int i = 0; i < 40; ++i) e += "\xC3\xA9";
  for (int i = 0; i < 15; ++i) smile += "\xF0\x9F\x98\x80";
  const struct {
    std::string name;
    size_t kept, units, readBack;
  } rows[] = {{std::string(200, 'a'), 63, 63, 55}, {e, 62, 31, 54},           {smile, 61, 31, 53},
              {std::string(60, 'b'), 60, 60, 55},  {std::string(54, 'c') + "\xE9\xE9", 56, 56, 55},
              {"short", 5, 5, 5}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(klftest::WriteFileBytes(dir.File("in.psd"), OneLayerPsd(64, 48, {0, 1, 2}, row.name)));
    const Outcome o = RunProgram(kTestPlugin + dir.File("in.psd") + " -o " + dir.File("out.psd"));
    ASSERT_EQ(o.code, 0) << o.out;
    const std::vector<uint8_t> b = klftest::ReadFileBytes(dir.File("out.psd"));
    const size_t pascal = psdtest::WalkPsd(b).recordAt[0] + 66, luni = pascal + (b.at(pascal) & ~3u) + 4 + 12;
    EXPECT_EQ(psdtest::Be32(b, luni), row.units);
    EXPECT_EQ(Read(dir.File("out.psd")).layers.at(0).name, row.name.substr(0, row.readBack));
    const std::string said = "note: " + dir.File("out.psd") + ": layer \"" + row.name + "\"";
    EXPECT_EQ(Has(o, said + (row.kept < row.name.size() ? " is written as \"" + row.name.substr(0, row.kept) : ":")),
              row.readBack < row.name.size()) << o.out;
  }
}

// The program's exit code (-1: it did not end by itself) and its peak
// resident memory, run as RunProgram runs it, its output dropped. The peak
// counts what the child held before it became the program, a copy of this
// process's memory: what the heap has freed is given back first.
int PeakRun(const std::string& args, uint64_t& peak) {
  const std::string command = "exec " + std::string(KLF_HOST_PROGRAM) + " " + args + " > /dev/null 2>&1";
  malloc_trim(0);
  const pid_t pid = fork();
  if (pid == 0) execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr)), _exit(127);
  int status = 0;
  struct rusage use = {};
  if (pid < 0 || wait4(pid, &status, 0, &use) != pid) return -1;
  peak = static_cast<uint64_t>(use.ru_maxrss) * 1024;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Documents whose run the estimate puts at the budget, converted or not, cut
// as the plug-in takes most memory: a byte less is refused, saying both sizes
// apart; at the budget the peak stays within it (where no sanitizer adds).
TEST(HostSafety, RunsStayWithinTheMemoryBudgetInEveryMode) {
  klftest::TempDir dir;
  Write(Noise(klpModeGray, 700, 500, 15), dir.File("grey.png"));
  Write(OneLayer(klpModeRGB, 600, 500, [](int c, int32_t i) { return static_cast<uint8_t>(i * (c + 3)); },
                 [](int32_t i) { return static_cast<uint8_t>(i / 600); }),
        dir.File("rgba.png"));
  CKLT_HostDocument layered = Noise(klpModeGray, 640, 480, 16);
  layered.layers.push_back(Noise(klpModeGray, 400, 300, 17).layers[0]);
  layered.layers[1].left = 300, layered.layers[1].alpha = layered.layers[1].planes[0];
  Write(layered, dir.File("layers.psd"));
  const char* modes[] = {"", "gray", "", "rgb", "cmyk"};  // by klpMode
  const std::pair<const char*, int16_t> rows[] = {
      {"grey.png", 0},   {"grey.png", klpModeRGB},   {"grey.png", klpModeCMYK},
      {"rgba.png", 0},   {"rgba.png", klpModeCMYK},  {"rgba.png", klpModeGray},
      {"layers.psd", 0}, {"layers.psd", klpModeRGB}, {"layers.psd", klpModeCMYK}};
  for (const auto& [file, mode] : rows) {
    SCOPED_TRACE(std::string(file) + " " + modes[mode]);
    CKLT_HostDocument doc;
    std::string error;
    doc.threads = 2, doc.runMode = mode ? mode : -1, doc.ownBytes = CKLT_HostRunner::OwnBytes(2);
    ASSERT_EQ(doc.ReadFile(dir.File(file), UINT64_MAX, error), CKLT_HostDocument::kOk) << error;
    const std::string run = std::string("--plugin ") + KLF_PLUGIN_LIBRARY + " --threads 2 --grid 2x1 --thickness 5 " +
                            (mode ? std::string("--mode ") + modes[mode] : "") + " " + dir.File(file) + " -o " +
                            dir.File("out.psd") + " --memory-budget ";
    const Outcome refused = RunProgram(run + std::to_string(doc.runBytes - 1));
    EXPECT_EQ(refused.code, CKLT_HostRunner::kExitMemory) << refused.out;
    EXPECT_TRUE(Has(refused, "needs about " + std::to_string(doc.runBytes) + " bytes")) << refused.out;
    uint64_t peak = 0;
    EXPECT_EQ(PeakRun(run + std::to_string(doc.runBytes), peak), 0);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LE(peak, doc.runBytes);
#endif
  }
}

// A socket bound at path (closed: the node stays).
bool MakeSocket(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un a = {};
  a.sun_family = AF_UNIX;
  if (fd < 0 || path.size() >= sizeof(a.sun_path)) return false;
  std::strcpy(a.sun_path, path.c_str());
  const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
  close(fd);
  return ok;
}

// Room for the program and a 2000 x 1500 document (about 15 MB of address
// space), not for the plug-in's cut of it (about 45 MB); no block above
// 4 MiB under the sanitizers.
const long kReleaseAddressSpaceKiB = 26000;
const int kBlockMB = 4;

std::string Quote(const std::string& s) { return "'" + s + "'"; }


TEST(HostSafety, OnlyRegularFilesAreReplaced) {
  klftest::TempDir dir;
  const std::string d = dir.Path() + "/";
  Write(Noise(klpModeRGB, 30, 20, 13), d + "in.png");
  ASSERT_EQ(mkfifo((d + "pipe.png").c_str(), 0666), 0);
  ASSERT_TRUE(MakeSocket(d + "sock.psd"));
  fs::create_directory(d + "folder.eps");
  fs::create_symlink(d + "pipe.png", d + "link.png");
  // A link to nothing is not written through (cp refuses it too): the
  // check that two outputs are one file would see its target.
  fs::create_symlink(d + "nofolder/gone.psd", d + "dangling.psd");
  std::vector<std::pair<std::string, std::string>> nodes = {
      {"pipe.png", "is a FIFO"},
      {"sock.psd", "is a socket"},
      {"folder.eps", "is a folder"},
      {"link.png", "is a FIFO"},
      {"dangling.psd", "is a symbolic link to " + d + "nofolder/gone.psd, which does not exist"}};
  // A device node like the system's null device, where one can be made.
  if (geteuid() == 0 && mknod((d + "null.ai").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
    nodes.push_back({"null.ai", "is a character device"});
  const std::string in = " " + Quote(d + "in.png") + " ";
  for (const auto& node : nodes) {
    for (const char* option : {"-o", "--save-settings", "--script", "--export-pieces", "--export-knives"}) {
      const std::string rest = std::string(option) == "-o" ? "" : " -o " + Quote(d + "out.png");
      const Outcome o = RunProgram(kTestPlugin + in + option + " " + Quote(d + node.first) + rest);
      SCOPED_TRACE(std::string(option) + " " + node.first + "\n" + o.out);
      EXPECT_EQ(o.code, CKLT_HostRunner::kExitUsage);
      EXPECT_TRUE(Has(o, std::string(option) + " " + d + node.first + " " + node.second));
      EXPECT_FALSE(fs::exists(d + "out.png"));
    }
    EXPECT_FALSE(fs::is_regular_file(d + node.first)) << node.first;
  }
  EXPECT_TRUE(fs::is_fifo(d + "pipe.png") && fs::is_socket(d + "sock.psd") && fs::is_directory(d + "folder.eps"));
  EXPECT_TRUE(fs::is_symlink(d + "dangling.psd"));
  // Nor through the writer, whatever a check before it saw.
  fs::create_symlink(d + "gone.png", d + "dangling.png");
  CKLP_ReplaceFile file;
  std::string reason;
  EXPECT_FALSE(file.Begin(d + "dangling.png", reason));
  EXPECT_TRUE(fs::is_symlink(d + "dangling.png") && !fs::exists(d + "gone.png")) << reason;

  // What is read is looked at before it is opened: a FIFO would wait for a
  // writer for ever.
  const std::string out = " -o " + Quote(d + "out.png");
  for (const char* option : {"", "--selection ", "--settings "}) {
    const std::string args = *option ? in + option + Quote(d + "pipe.png") : Quote(d + "pipe.png");
    const Outcome o = RunProgram(kTestPlugin + args + out, "timeout 60");
    SCOPED_TRACE(args + "\n" + o.out);
    EXPECT_EQ(o.code, CKLT_HostRunner::kExitUsage);
    EXPECT_TRUE(Has(o, d + "pipe.png is a FIFO: only a regular file is read"));
  }
  EXPECT_FALSE(fs::exists(d + "out.png"));
}

TEST(HostSafety, NoTwoOutputsAreOneFile) {
  klftest::TempDir dir;
  const std::string d = dir.Path() + "/";
  Write(Noise(klpModeRGB, 30, 20, 14), d + "in.png");
  fs::create_directory(d + "sub");
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  for (const char* name : {"o.png", "o.psd", "e.psd", "s.klpd", "p_F0001-Piece1_R1_C1.png"})
    klftest::WriteFileBytes(d + name, old);
  fs::create_symlink(d + "o.png", d + "link.png");
  fs::create_symlink(d + "new.png", d + "dangling.png");
  fs::create_hard_link(d + "s.klpd", d + "hard.klpd");
  const std::string in = Quote(d + "in.png") + " --grid 2x2 ";
  const std::string rows[] = {
      "-o " + d + "o.png --script " + d + "o.png",
      "-o " + d + "o.psd --export-pieces " + d + "o.psd",
      "-o " + d + "out.png --save-settings " + d + "e.psd --export-pieces " + d + "e.psd",
      "-o " + d + "link.png --save-settings " + d + "o.png",
      "-o " + d + "o.png --script " + d + "sub/../o.png",
      "-o " + d + "out.png --save-settings " + d + "s.klpd --export-knives " + d + "hard.klpd.eps --script " +
          d + "hard.klpd",
      // Files that are yet to be made.
      "-o " + d + "new.psd --export-pieces " + d + "sub/../new.psd",
      // The names the PNG pieces export will write.
      "-o " + d + "p_F0001-Piece1_R1_C1.png --export-pieces " + d + "p.png",
      "-o " + d + "out.png --save-settings " + d + "sub/../p_F0001-Piece1_R1_C1.png --export-pieces " + d + "p.png",
      "-o " + d + "o.png --export-pieces " + d + "o.png --export-what merged",
      "-o " + d + "out.png --export-pieces " + d + "q.png --export-naming simple --script " + d + "q_0004.png",
  };
  const size_t files = FileCount(d);
  for (const std::string& row : rows) {
    const Outcome o = RunProgram(kTestPlugin + in + row);
    SCOPED_TRACE(row + "\n" + o.out);
    EXPECT_EQ(o.code, CKLT_HostRunner::kExitUsage);
    EXPECT_TRUE(Has(o, "are one file: one would be lost"));
    EXPECT_FALSE(Has(o, "exported")) << "refused before anything is written";
    EXPECT_EQ(FileCount(d), files);
    for (const char* name : {"o.png", "o.psd", "e.psd", "s.klpd", "p_F0001-Piece1_R1_C1.png"})
      EXPECT_EQ(klftest::ReadFileBytes(d + name), old) << name;
  }
  // A link to a file yet to be made is not written through: refused before
  // it could stand for another output.
  const Outcome dangling = RunProgram(kTestPlugin + in + "-o " + d + "new.png --save-settings " + d + "dangling.png");
  EXPECT_EQ(dangling.code, CKLT_HostRunner::kExitUsage);
  EXPECT_TRUE(Has(dangling, "dangling.png is a symbolic link to " + d + "new.png, which does not exist")) << dangling.out;
  EXPECT_EQ(FileCount(d), files);
  // Names apart run: the PNG pieces beside an output of another name.
  const Outcome o = RunProgram(kTestPlugin + in + "-o " + d + "p.png --export-pieces " + d + "p.png");
  EXPECT_EQ(o.code, 0) << o.out;
}

TEST(HostSafety, SideOutputsNeverReplaceWhatIsRead) {
  klftest::TempDir dir;
  const std::string d = dir.Path() + "/";
  Write(Noise(klpModeRGB, 30, 20, 15), d + "photo.png");
  Write(Noise(klpModeGray, 30, 20, 16), d + "mask.png");
  Outcome o = RunProgram(kTestPlugin + "--grid 2x2 --save-settings " + d + "a.klpd " + d + "photo.png -o " + d + "x.png");
  ASSERT_EQ(o.code, 0) << o.out;
  fs::create_symlink(d + "photo.png", d + "photo-link.png");
  fs::create_hard_link(d + "mask.png", d + "mask-hard.png");
  const std::vector<uint8_t> photo = klftest::ReadFileBytes(d + "photo.png"),
                             mask = klftest::ReadFileBytes(d + "mask.png"),
                             settings = klftest::ReadFileBytes(d + "a.klpd");
  const std::string run = d + "photo.png -o " + d + "out.png ";
  const struct {
    std::string args;
    const char* says;
  } rows[] = {
      {"--save-settings " + d + "photo.png " + run, "is the input document"},
      {"--grid 2x2 --script " + d + "sub/../photo.png " + run, "is the input document"},
      {"--export-pieces " + d + "photo-link.png --export-what merged " + run, "is the input document"},
      {"--selection " + d + "mask.png --save-settings " + d + "mask-hard.png " + run, "is the --selection mask"},
      {"--selection " + d + "mask.png --script " + d + "mask.png " + run, "is the --selection mask"},
      {"--settings " + d + "a.klpd --script " + d + "a.klpd " + run, "is the --settings file read"},
      {"--settings " + d + "a.klpd --save-settings " + d + "sub/../a.klpd " + run, "is the --settings file read"},
  };
  fs::create_directory(d + "sub");
  for (const auto& row : rows) {
    o = RunProgram(kTestPlugin + row.args);
    SCOPED_TRACE(row.args + "\n" + o.out);
    EXPECT_EQ(o.code, CKLT_HostRunner::kExitUsage);
    EXPECT_TRUE(Has(o, row.says));
    EXPECT_FALSE(fs::exists(d + "out.png"));
  }
  EXPECT_EQ(klftest::ReadFileBytes(d + "photo.png"), photo);
  EXPECT_EQ(klftest::ReadFileBytes(d + "mask.png"), mask);
  EXPECT_EQ(klftest::ReadFileBytes(d + "a.klpd"), settings);
  // -o may still be the input.
  o = RunProgram(kTestPlugin + "--grid 2x2 " + d + "photo.png -o " + d + "photo-link.png");
  EXPECT_EQ(o.code, 0) << o.out;
  EXPECT_NE(klftest::ReadFileBytes(d + "photo.png"), photo);
}

TEST(HostSafety, AllocationFailureIsOutOfMemory) {
  // A plug-in whose allocation throws: the program ends as out of memory.
  klftest::TempDir dir;
  Write(Noise(klpModeGray, 4, 4, 6), dir.File("in.png"));
  Outcome o = RunProgram(kTestPlugin + dir.File("in.png") + " -o " + dir.File("out.png"), "KLT_TEST_PLUGIN_THROW=1");
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitMemory) << o.out;
  EXPECT_TRUE(Has(o, "out of memory")) << o.out;
  EXPECT_FALSE(fs::exists(dir.File("out.png")));

  // The plug-in's own allocation fails while the host's smaller ones do
  // not: its replay ends out of memory, not as a cancel.
  Write(OneLayer(klpModeGray, 2000, 1500, [](int, int32_t i) { return static_cast<uint8_t>(i * 7); }),
        dir.File("big.png"));
  o = RunProgram(std::string("-q --threads 1 --memory-budget 1G --plugin ") + KLF_PLUGIN_LIBRARY + " " +
                     dir.File("big.png") + " -o " +
                     dir.File("out.png"),
                 AllocationLimit(kBlockMB, kReleaseAddressSpaceKiB));
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitMemory) << o.out;
  EXPECT_TRUE(Has(o, "the plug-in ran out of memory (-108)")) << o.out;
  EXPECT_FALSE(fs::exists(dir.File("out.png")));
}

}  // namespace

// A damaged PNG, as the document and as a --selection mask, is refused in
// the decoder's words (a failed check after more data than the image), and
// one read without a damaged chunk says so.
TEST(HostSafety, DamagedPngIsRefusedOrWhatIsLeftOutSaid) {
  klftest::TempDir dir;
  const std::string d = dir.Path() + "/";
  Write(Noise(klpModeRGB, 64, 48, 14), d + "in.png");
  pngtest::Bytes white(65 * 48, 255), checked = pngtest::Start(64, 48, 8, 0), keyed = checked;  // all selected
  for (size_t y = 0; y < 48; ++y) white[y * 65] = 0;
  pngtest::Bytes stream = pngtest::Deflated(pngtest::Bytes(65 * 49, 0));
  pngtest::PutChunk(checked, "IDAT", (stream.back() ^= 1, stream));
  pngtest::PutChunk(keyed, "tRNS", {0, 9}), keyed.back() ^= 1;
  pngtest::PutChunk(keyed, "IDAT", pngtest::Deflated(white));
  for (pngtest::Bytes* file : {&checked, &keyed}) {
    pngtest::PutChunk(*file, "IEND", {});
    ASSERT_TRUE(klftest::WriteFileBytes(d + "grey.png", *file));
    for (const std::string& args : {d + "grey.png", "--selection " + d + "grey.png " + d + "in.png"}) {
      const Outcome o = RunProgram(kTestPlugin + args + " -o " + d + "out.png");
      EXPECT_EQ(o.code, file == &keyed ? 0 : CKLT_HostRunner::kExitFiles) << o.out;
      EXPECT_TRUE(Has(o, d + "grey.png: " +
                             (file == &keyed ? "a tRNS chunk (transparency) is left out (tRNS: CRC error)"
                                             : "the PNG file is damaged (IDAT: incorrect data check)")))
          << o.out;
    }
  }
}

// A file whose image data cannot hold the image its header declares (16
// bytes for 21000 x 21000 pixels, in each colour type, interlaced too) is
// refused as damaged before any plane is allocated, as the document and
// as a --selection mask; a mask of another size than the document's is
// refused from its header, before it is decoded. Under the allocation
// limit, planes of the declared size would end the program out of memory.
TEST(HostSafety, DeclaredSizesAreJudgedBeforePlanesAreAllocated) {
  klftest::TempDir dir;
  const std::string d = dir.Path() + "/";
  Write(Noise(klpModeRGB, 64, 48, 14), d + "in.png");
  // One thread: a helper's first allocation takes an arena of its own,
  // which the address space left does not always hold.
  const std::string run = kTestPlugin + "--threads 1 --memory-budget 100G ", out = " -o " + d + "out.png";
  const struct {
    uint8_t type, interlace;
  } shapes[] = {{0, 0}, {2, 0}, {3, 0}, {4, 0}, {6, 0}, {6, 1}};
  for (const auto& shape : shapes) {
    pngtest::Bytes file = pngtest::Start(21000, 21000, 8, shape.type, shape.interlace);
    if (shape.type == 3) pngtest::PutChunk(file, "PLTE", pngtest::Bytes(12, 7)), pngtest::PutChunk(file, "tRNS", {0});
    pngtest::PutChunk(file, "IDAT", pngtest::Deflated(pngtest::Bytes(16, 0)));
    pngtest::PutChunk(file, "IEND", {});
    ASSERT_TRUE(klftest::WriteFileBytes(d + "huge.png", file));
    for (const std::string& args : {d + "huge.png", "--selection " + d + "huge.png " + d + "in.png"}) {
      const Outcome o = RunProgram(run + args + out, AllocationLimit(kBlockMB, kReleaseAddressSpaceKiB));
      SCOPED_TRACE(std::to_string(shape.type) + " " + args + "\n" + o.out);
      EXPECT_EQ(o.code, CKLT_HostRunner::kExitFiles);
      EXPECT_TRUE(Has(o, "cannot read " + d + "huge.png: the PNG file is damaged (too little image data for 21000 x "
                         "21000 pixels)"));
    }
  }
  // A sound mask of 6000 x 4000, 25 KB of image data.
  pngtest::Bytes mask = pngtest::Start(6000, 4000, 8, 0);
  pngtest::PutChunk(mask, "IDAT", pngtest::Deflated(pngtest::Bytes(6001u * 4000, 0), 9));
  pngtest::PutChunk(mask, "IEND", {});
  ASSERT_TRUE(klftest::WriteFileBytes(d + "mask.png", mask));
  const Outcome o = RunProgram(run + "--selection " + d + "mask.png " + d + "in.png" + out,
                               AllocationLimit(kBlockMB, kReleaseAddressSpaceKiB));
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitUsage) << o.out;
  EXPECT_TRUE(Has(o, "the selection must have the document's size (64 x 48)")) << o.out;
  EXPECT_FALSE(fs::exists(d + "out.png"));
}
