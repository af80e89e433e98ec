// Every allocation of a run failed in turn, each run in a process of its
// own as the program runs it (its main's code, in-process): the run ends
// done with the bytes of the run in which nothing failed, or out of memory
// (exit code 2, saying so) with every file as it was or as that run writes
// it. The user's own files (read-only ones named as an export's fallbacks
// would be among them) stay untouched, no temporary is left and nothing
// aborts; sanitized, nothing leaks. The program's start, its static
// initialisers included, is swept as a program of its own with the failing
// allocations preloaded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "CKLT_HostDocument.h"
#include "CKLT_HostRunner.h"
#include "FailingAllocations.h"
#include "imaging/IccTestUtil.h"
#include "imaging/JpegTestUtil.h"
#include "imaging/PngTestUtil.h"
#include "support/TestSupport.h"
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

namespace fs = std::filesystem;
using klftest::AllocationPoints;
typedef CKLT_HostRunner R;

const char kLibrary[] = "libtessarette_plugin.so";

// Sanitized, a run takes several times as long and its end is searched for
// leaks: every fifth point of a run is swept there (in a minute on two
// cores), every point in the optimised build.
#if defined(__SANITIZE_ADDRESS__)
const uint64_t kStride = 5;
#else
const uint64_t kStride = 1;
#endif

// A folder for the runs, in memory where the system has such a folder:
// each run syncs its files dozens of times.
struct Folder {
  std::string path;
  Folder() {
    std::string pattern =
        (access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm") : fs::temp_directory_path().string()) +
        "/klfsweep-XXXXXX";
    if (mkdtemp(pattern.data())) path = pattern;
  }
  ~Folder() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

// A file's bytes and permission bits; a folder has its mode alone. The
// stamp tells a file that was not touched since it was last read.
struct Entry {
  std::string bytes;
  unsigned mode = 0;
  bool folder = false;
  struct stat stamp = {};
  bool operator==(const Entry& o) const { return bytes == o.bytes && mode == o.mode && folder == o.folder; }
};
typedef std::map<std::string, Entry> Tree;

bool Untouched(const struct stat& a, const struct stat& b) {
  return a.st_ino == b.st_ino && a.st_dev == b.st_dev && a.st_size == b.st_size && a.st_mode == b.st_mode &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

std::string ReadBytes(const std::string& path) {
  const std::vector<uint8_t> b = klftest::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

// Everything in a slot's folders by its path there, the plug-in itself
// left out; a file untouched since known is not read again.
Tree Snapshot(const std::string& slot, const Tree* known = nullptr) {
  Tree t;
  for (const auto& e : fs::recursive_directory_iterator(slot)) {
    const std::string path = e.path().string();
    const std::string name = path.substr(slot.size() + 1);
    if ((name.rfind("work", 0) != 0 && name.rfind("plugin", 0) != 0) || e.path().filename() == kLibrary) continue;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    Entry& x = t[name];
    x.mode = st.st_mode & 07777;
    x.folder = S_ISDIR(st.st_mode);
    x.stamp = st;
    if (!S_ISREG(st.st_mode)) continue;
    const auto was = known ? known->find(name) : t.end();
    x.bytes = known && was != known->end() && Untouched(was->second.stamp, st) ? was->second.bytes : ReadBytes(path);
  }
  return t;
}

// Back to the tree it was from the one it is now: what is not in it goes,
// what differs is written again. The tree it is then.
Tree Restore(const std::string& slot, const Tree& was, const Tree& now) {
  for (auto it = now.rbegin(); it != now.rend(); ++it)
    if (!was.count(it->first)) fs::remove_all(slot + "/" + it->first);
  for (const auto& [name, e] : was) {
    const std::string path = slot + "/" + name;
    const auto at = now.find(name);
    if (at != now.end() && at->second == e) continue;
    if (e.folder) {
      fs::create_directories(path);
    } else {
      chmod(path.c_str(), 0600);
      EXPECT_TRUE(klftest::WriteFileBytes(path, std::vector<uint8_t>(e.bytes.begin(), e.bytes.end()))) << path;
    }
    chmod(path.c_str(), e.mode);
  }
  return Snapshot(slot, &now);
}

// What a run reports to the parent, in memory both share.
struct Report {
  int finished;
  int code;
  int failed;
  int leaked;
  uint64_t counted;
  char message[512];
};

// The last line a run wrote (without "tessarette-host: ").
std::string LastLine(const std::string& text) {
  std::string line = text.substr(0, text.find_last_not_of('\n') + 1);
  line = line.substr(line.rfind('\n') == std::string::npos ? 0 : line.rfind('\n') + 1);
  const std::string program = "tessarette-host: ";
  return line.compare(0, program.size(), program) == 0 ? line.substr(program.size()) : line;
}

// One run in a child, in the slot's folder work, whose point-th allocation
// fails (0: none); its notes go to the slot's err.txt.
pid_t Start(const std::string& slot, const std::vector<std::string>& args, uint64_t point, Report* report) {
  std::memset(report, 0, sizeof(*report));
  const pid_t pid = fork();
  if (pid != 0) return pid;
  FILE* err = std::fopen((slot + "/err.txt").c_str(), "w");
  if (!err || chdir((slot + "/work").c_str()) != 0) _exit(99);
  setvbuf(err, nullptr, _IONBF, 0);
  dup2(fileno(err), 1);
  dup2(fileno(err), 2);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  AllocationPoints::Arm(point);
  const int code = R::Main(static_cast<int>(argv.size()), argv.data(), err, err);
  report->failed = AllocationPoints::Failed();
  report->counted = AllocationPoints::Counted();
  AllocationPoints::Disarm();
  report->code = code;
  std::snprintf(report->message, sizeof(report->message), "%s", LastLine(ReadBytes(slot + "/err.txt")).c_str());
  report->finished = 1;
#if defined(__SANITIZE_ADDRESS__)
  // What the run left allocated and unreachable leaked on its way out.
  report->leaked = __lsan_do_recoverable_leak_check();
#endif
  _exit(0);
}

bool RunUnfailed(const std::string& slot, const std::vector<std::string>& args, Report* report) {
  int status = 0;
  return waitpid(Start(slot, args, 0, report), &status, 0) > 0 && WIFEXITED(status) && report->finished &&
         report->code == R::kExitOk;
}

// The sample picture at a quarter of its sides (300 x 200), averaged.
bool WritePicture(const std::string& path) {
  CKLT_HostDocument doc;
  doc.threads = 1;  // no helper thread left for the runs' processes
  std::string error;
  if (doc.ReadFile(std::string(KLF_TEST_DATA_DIR) + "/../tools/sample/lake.png", UINT64_MAX, error) !=
      CKLT_HostDocument::kOk)
    return false;
  CKLT_HostDocument::Layer& l = doc.layers.at(0);
  const int32_t w = doc.width / 4, h = doc.height / 4;
  for (std::vector<uint8_t>& plane : l.planes) {
    std::vector<uint8_t> small(static_cast<size_t>(w) * h);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        unsigned sum = 8;
        for (int32_t i = 0; i < 16; ++i) sum += plane[static_cast<size_t>(4 * y + i / 4) * doc.width + 4 * x + i % 4];
        small[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(sum / 16);
      }
    plane.swap(small);
  }
  l.alpha.clear();
  doc.width = l.width = w;
  doc.height = l.height = h;
  return doc.Write(path, error);
}

// A slot's folders: the plug-in (a copy, whose files its runs write
// beside it, with those of an earlier run of other settings unless the
// run is the first; what else that run writes stays as the user's) and
// the user's folder, with the picture, old outputs and read-only files
// named as the export's fallbacks would name its files.
void MakeSlot(const std::string& slot, const std::string& picture, bool firstRun, int columns, int rows,
              const std::vector<std::string>& layout, Report* report, const std::string& input = "in.png") {
  fs::create_directories(slot + "/plugin");
  fs::create_directories(slot + "/work/px");
  fs::copy_file(KLF_PLUGIN_LIBRARY, slot + "/plugin/" + kLibrary);
  fs::copy_file(picture, slot + "/work/in.png");
  if (input != "in.png") fs::copy_file(fs::path(picture).parent_path() / input, slot + "/work/" + input);
  if (!firstRun) {
    std::vector<std::string> earlier = {"tessarette-host", "--plugin", std::string("../plugin/") + kLibrary,
                                        "--threads", "1", "in.png", "-o", "earlier.png"};
    earlier.insert(earlier.begin() + 5, layout.begin(), layout.end());
    EXPECT_TRUE(RunUnfailed(slot, earlier, report)) << report->message;
    fs::remove(slot + "/work/earlier.png");
  }
  const auto put = [&](const std::string& name, const std::string& bytes, unsigned mode) {
    EXPECT_TRUE(klftest::WriteFileBytes(slot + "/work/" + name, std::vector<uint8_t>(bytes.begin(), bytes.end())));
    chmod((slot + "/work/" + name).c_str(), mode);
  };
  for (const char* old : {"o.png", "o.psd", "k.eps", "s.klpd"}) put(old, std::string("an earlier ") + old, 0644);
  put("px/p.png", "the user's px/p.png", 0644);
  for (const char* mine : {"Pieces", "Pieces.psd", "Pieces.eps"}) put(mine, std::string("the user's ") + mine, 0444);
  for (int r = 1, n = 1; r <= rows; ++r)
    for (int c = 1; c <= columns; ++c, ++n) {
      char name[64];
      std::snprintf(name, sizeof(name), "p_F%04d-Piece%d_R%d_C%d.png", n, n, r, c);
      put(name, std::string("the user's ") + name, 0444);
    }
}

// A fault's words with digits folded, so that faults of one kind at
// different files or pieces read alike.
std::string Folded(const std::string& s) {
  std::string out;
  for (char c : s)
    if (!(c >= '0' && c <= '9'))
      out += c;
    else if (out.empty() || out.back() != '#')
      out += '#';
  return out;
}

bool SaysOutOfMemory(const char* message) {
  return std::strstr(message, "out of memory") || std::strstr(message, std::strerror(ENOMEM));
}

// What is wrong with a run's end, in a few words; empty when nothing is.
// Done, every file is as the unfailed run wrote it; out of memory, each
// is as it was or as written (absent counts as a state).
std::string Judge(int status, const Report& r, const Tree& was, const Tree& written, const Tree& now) {
  if (!WIFEXITED(status) || !r.finished)
    return WIFSIGNALED(status) ? "aborted (signal " + std::to_string(WTERMSIG(status)) + ")" : "ended unfinished";
  const std::string said = std::string(": ") + r.message;
  if (r.code != R::kExitOk && r.code != R::kExitMemory) return "exit " + std::to_string(r.code) + Folded(said);
  if (r.code == R::kExitMemory && !SaysOutOfMemory(r.message)) return "exit 2 not saying out of memory" + Folded(said);
  if (r.leaked) return "exit " + std::to_string(r.code) + ", memory leaked";
  const auto same = [](const Tree& t, Tree::const_iterator at, Tree::const_iterator other, const Tree& o) {
    return at == t.end() ? other == o.end() : other != o.end() && at->second == other->second;
  };
  std::string wrong;
  for (const Tree* t : {&now, &was, &written})
    for (const auto& [name, e] : *t) {
      const auto n = now.find(name), a = was.find(name), b = written.find(name);
      const bool asWritten = same(now, n, b, written), asWas = same(now, n, a, was);
      const std::string listed = " " + Folded(name) + ";";
      if ((r.code == R::kExitOk ? !asWritten : !asWritten && !asWas) && wrong.find(listed) == std::string::npos)
        wrong += listed;
    }
  if (wrong.empty()) return "";
  return (r.code == R::kExitOk ? "exit 0, files not as written:"
                                : "exit 2, files neither as they were nor as written:") + wrong;
}

struct Job {
  const char* name;
  std::vector<std::string> args;
  bool firstRun;  // no earlier run left its files beside the plug-in
  int columns, rows;  // the grid laid; 0 x 0 when args lay the layout
  const char* input = "in.png";  // made by WriteInputs
  const char* output = "o.png";
  std::vector<std::string> earlier = {"--grid", "3x3"};  // the earlier run's layout
};

// The photographs some jobs read, small (120 x 80), beside in.png: a
// camera's JPEG (its resolution and orientation in EXIF, a profile), a PNG
// with a profile, a PNG stored turned (its orientation in eXIf, two
// resolutions), a CMYK JPEG and a progressive one.
bool TurnedPng(CKLT_HostDocument doc, const std::string& path) {
  std::string error;
  doc.icc.clear();
  doc.resolution = 300, doc.verticalResolution = 100;
  return doc.Write(path, error) &&
         klftest::WriteFileBytes(path, pngtest::Inserted(klftest::ReadFileBytes(path), "IDAT", "eXIf",
                                                         jpegtest::ExifOrientation(6, 0, 0, true)));
}

bool WriteInputs(const std::string& folder) {
  std::mt19937 rng(61);
  const jpegtest::Bytes rgb = icctest::Profile("RGB ", 3), cmyk = icctest::Profile("CMYK", 4);
  const jpegtest::Bytes camera = jpegtest::Encode(120, 80, JCS_RGB, 3, false, rng, 0, 1, rgb);
  CKLT_HostDocument png;
  std::string error;
  if (png.ReadFile(folder + "/in.png", UINT64_MAX, error) != CKLT_HostDocument::kOk) return false;
  png.icc = rgb;
  return klftest::WriteFileBytes(folder + "/exif.jpg",
                                 jpegtest::WithExif(camera, jpegtest::ExifOrientation(6, 300, 300))) &&
         klftest::WriteFileBytes(folder + "/cmyk.jpg", jpegtest::Encode(120, 80, JCS_CMYK, 4, false, rng, 0, 1, cmyk)) &&
         klftest::WriteFileBytes(folder + "/prog.jpg", jpegtest::Encode(120, 80, JCS_RGB, 3, true, rng, 1, 96)) &&
         png.Write(folder + "/iccp.png", error) && TurnedPng(png, folder + "/turned.png");
}

void PrintTo(const Job& job, std::ostream* out) { *out << job.name; }

class AllocationSweep : public testing::TestWithParam<Job> {};

// The host program itself, the failing allocations preloaded with its
// point-th allocation failed (0: none): its exit status, its output and
// the preloaded library's report.
struct Launch {
  int status = -1;
  std::string out, err, report;
};

Launch RunProgram(const std::string& folder, const std::vector<std::string>& args, uint64_t point) {
  Launch l;
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0) env.push_back(*e);
  // A sanitized program takes the library in front of the sanitizer's.
  const char* asan = getenv("ASAN_OPTIONS");
  env.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0");
  env.push_back(std::string("LD_PRELOAD=") + KLF_FAILING_PRELOAD);
  env.push_back("KLF_FAIL_ALLOCATION=" + std::to_string(point));
  env.push_back("KLF_ALLOCATION_REPORT_FD=3");
  std::vector<char*> argv, envp;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  const std::string out = folder + "/out.txt", err = folder + "/err.txt", report = folder + "/report.txt";
  const pid_t pid = fork();
  if (pid == 0) {
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int r = open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (o < 0 || e < 0 || r < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || dup2(r, 3) < 0) _exit(99);
    execve(KLF_HOST_PROGRAM, argv.data(), envp.data());
    _exit(99);
  }
  if (pid < 0 || waitpid(pid, &l.status, 0) != pid) return l;
  l.out = ReadBytes(out);
  l.err = ReadBytes(err);
  l.report = ReadBytes(report);
  return l;
}

}  // namespace

TEST_P(AllocationSweep, EveryPointEndsDoneOrOutOfMemory) {
  const Job& job = GetParam();
  const Folder root;
  ASSERT_FALSE(root.path.empty());
  ASSERT_TRUE(WritePicture(root.path + "/in.png"));
  ASSERT_TRUE(WriteInputs(root.path));
  const unsigned slots = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  Report* reports = static_cast<Report*>(
      mmap(nullptr, sizeof(Report) * slots, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(reports, MAP_FAILED);
  std::vector<std::string> slot(slots);
  std::vector<Tree> base(slots);  // each slot's tree before a run
  for (unsigned i = 0; i < slots; ++i) {
    slot[i] = root.path + "/slot" + std::to_string(i);
    MakeSlot(slot[i], root.path + "/in.png", job.firstRun, job.columns, job.rows, job.earlier, &reports[i],
             job.input);
    base[i] = Snapshot(slot[i]);
  }
  std::vector<std::string> args = {"tessarette-host", "--plugin", std::string("../plugin/") + kLibrary,
                                   "--threads", "1", job.input, "-o", job.output};
  const std::string grid = std::to_string(job.columns) + "x" + std::to_string(job.rows);
  if (job.columns > 0) args.insert(args.begin() + 5, {"--grid", grid});
  args.insert(args.end(), job.args.begin(), job.args.end());
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(RunUnfailed(slot[0], args, &reports[0])) << reports[0].message;
  const uint64_t points = reports[0].counted;
  const Tree written = Snapshot(slot[0], &base[0]);
  base[0] = Restore(slot[0], base[0], written);
  // The faults by kind, with the points that show them and the notes of
  // the first one's run.
  std::map<std::string, std::vector<uint64_t>> wrong;
  std::map<std::string, std::string> notes;
  std::vector<uint64_t> running(slots, 0);
  std::vector<pid_t> pids(slots, 0);
  uint64_t next = 1, unfailed = 0;
  for (unsigned busy = 0;;) {
    for (unsigned i = 0; i < slots && next <= points; ++i)
      if (!running[i]) running[i] = next, pids[i] = Start(slot[i], args, next, &reports[i]), next += kStride, ++busy;
    if (!busy) break;
    int status = 0;
    const pid_t pid = wait(&status);
    ASSERT_GT(pid, 0);
    unsigned i = 0;
    while (i < slots && pids[i] != pid) ++i;
    ASSERT_LT(i, slots);
    const Tree now = Snapshot(slot[i], &base[i]);
    const std::string fault = Judge(status, reports[i], base[i], written, now);
    if (!fault.empty() && wrong[fault].empty()) notes[fault] = ReadBytes(slot[i] + "/err.txt").substr(0, 4000);
    if (!fault.empty()) wrong[fault].push_back(running[i]);
    unfailed += reports[i].finished && !reports[i].failed;
    base[i] = Restore(slot[i], base[i], now);
    running[i] = 0;
    --busy;
  }
  munmap(reports, sizeof(Report) * slots);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s: %llu points (every %llu swept), %zu kinds of fault, %.1f s\n", job.name,
              static_cast<unsigned long long>(points), static_cast<unsigned long long>(kStride), wrong.size(),
              seconds);
  for (const auto& [fault, at] : wrong)
    ADD_FAILURE() << at.size() << " points (the first " << at[0] << "): " << fault << "\n" << notes[fault];
  // Each point failed an allocation: a run with none failed went another way.
  EXPECT_EQ(unfailed, 0u);
}

// The PNG set of 8 x 5 pieces repeats each piece's points 40 times over
// (4,000 points, 40 s on two cores): swept whole when disabled tests are
// asked for, and as 4 x 2 pieces otherwise.
INSTANTIATE_TEST_SUITE_P(Jobs, AllocationSweep,
                         testing::Values(Job{"Plain", {}, true, 8, 5},
                                         Job{"PSD", {"--export-pieces", "o.psd"}, false, 8, 5},
                                         Job{"PNGSet", {"--export-pieces", "px/p.png"}, false, 4, 2},
                                         Job{"Knives", {"--export-knives", "k.eps"}, false, 8, 5},
                                         Job{"Settings", {"--save-settings", "s.klpd"}, false, 8, 5},
                                         Job{"ExifIccJpeg", {}, false, 2, 2, "exif.jpg"},
                                         Job{"IccpPng", {}, false, 2, 2, "iccp.png"},
                                         Job{"TurnedPng", {}, false, 2, 2, "turned.png", "o.psd"},
                                         Job{"CmykJpeg", {}, false, 2, 2, "cmyk.jpg", "o.psd"},
                                         Job{"ProgressiveJpeg", {}, false, 2, 2, "prog.jpg"},
                                         Job{"TrianglesPSD", {"--triangles", "2x3", "--export-pieces", "o.psd"},
                                             false, 0, 0},
                                         Job{"HexagonsPNGSet",
                                             {"--hexagons", "2x2", "--regular", "--export-pieces", "px/p.png"},
                                             false, 0, 0},
                                         Job{"HexagonsKnives",
                                             {"--hexagons", "2x2", "--regular", "--export-knives", "k.eps"},
                                             false, 0, 0},
                                         Job{"SavedTrianglesKnives", {"--settings", "t.klpd", "--export-knives", "k.eps"},
                                             false, 0, 0, "in.png", "o.png",
                                             {"--triangles", "2x3", "--save-settings", "t.klpd"}}),
                         [](const testing::TestParamInfo<Job>& p) { return std::string(p.param.name); });
INSTANTIATE_TEST_SUITE_P(DISABLED_Whole, AllocationSweep,
                         testing::Values(Job{"PNGSet8x5", {"--export-pieces", "px/p.png"}, false, 8, 5}),
                         [](const testing::TestParamInfo<Job>& p) { return std::string(p.param.name); });

// From its static initialisers on, every allocation of the program's help
// failed in turn: it ends with the help, or out of memory; never aborts.
TEST(AllocationSweepStart, EveryPointEndsDoneOrOutOfMemory) {
  const Folder folder;
  ASSERT_FALSE(folder.path.empty());
  const std::vector<std::string> args = {"tessarette-host", "--help"};
  const Launch unfailed = RunProgram(folder.path, args, 0);
  ASSERT_TRUE(WIFEXITED(unfailed.status) && WEXITSTATUS(unfailed.status) == 0) << unfailed.err;
  unsigned long long points = 0;
  int failed = 1;
  ASSERT_EQ(std::sscanf(unfailed.report.c_str(), "counted %llu failed %d", &points, &failed), 2) << unfailed.report;
  ASSERT_GT(points, 0u);
  std::map<std::string, std::vector<uint64_t>> wrong;
  for (uint64_t point = 1; point <= points; ++point) {
    const Launch l = RunProgram(folder.path, args, point);
    std::string fault;
    if (!WIFEXITED(l.status))
      fault = WIFSIGNALED(l.status) ? "aborted (signal " + std::to_string(WTERMSIG(l.status)) + "): " + l.err
                                    : "ended unfinished";
    else if (WEXITSTATUS(l.status) == R::kExitOk && l.out != unfailed.out)
      fault = "exit 0 without the help";
    else if (WEXITSTATUS(l.status) == R::kExitMemory && !SaysOutOfMemory(l.err.c_str()))
      fault = "exit 2 not saying out of memory: " + l.err;
    else if (WEXITSTATUS(l.status) != R::kExitOk && WEXITSTATUS(l.status) != R::kExitMemory)
      fault = "exit " + std::to_string(WEXITSTATUS(l.status)) + ": " + l.err;
    else if (l.report.find("failed 1") == std::string::npos)
      fault = "the allocation was not failed";
    if (!fault.empty()) wrong[Folded(fault)].push_back(point);
  }
  std::printf("start and help: %llu points, %zu kinds of fault\n", points, wrong.size());
  for (const auto& [fault, at] : wrong)
    ADD_FAILURE() << at.size() << " points (the first " << at[0] << "): " << fault;
}
