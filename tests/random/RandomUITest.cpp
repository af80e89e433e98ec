// The whole dialog under random input: seeded streams of events over an
// RGB and a grey document, judged by the runs' outcomes and the
// sanitizers; the logs of the seeds that failed replayed as regression
// cases; and, when asked, a soak over a seed range whose failing logs stay
// in the build folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "random/RandomUI.h"

namespace {

std::string LogFolder() {
  const std::string folder = std::string(KLF_BINARY_DIR) + "/random-logs";
  std::filesystem::create_directories(folder);
  return folder;
}

// Runs a seed with its log on disk (a sanitizer's stop keeps it); the log
// goes when the seed passed.
randomui::Outcome Seed(uint32_t seed, uint32_t events, bool grey) {
  const std::string path = LogFolder() + "/seed-" + std::to_string(seed) + (grey ? "-grey" : "-rgb") + ".log";
  randomui::Outcome o = randomui::RunSeed(seed, events, grey, path);
  for (const std::string& f : o.faults) ADD_FAILURE() << "seed " << seed << ": " << f;
  if (!o.faults.empty()) ADD_FAILURE() << "the event log to keep under tests/random/cases: " << path;
  else if (!std::getenv("KLF_RANDOM_KEEP")) std::filesystem::remove(path);
  return o;
}

std::string ReadText(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

// About 5,000 events a seed, each seed a test of its own (they run side
// by side); odd seeds on an RGB document, even ones on a grey one. Each
// reaches every window its document allows (a grey one has neither hue
// and saturation nor the pieces' export) and ends runs both ways.
class RandomUISeed : public testing::TestWithParam<uint32_t> {};

TEST_P(RandomUISeed, ReachesEveryWindowAndFindsNothing) {
  const uint32_t seed = GetParam();
  const bool grey = seed % 2 == 0;
  const randomui::Coverage c = Seed(seed, 5000, grey).coverage;
  std::printf("seed %u: %s\n", seed, c.Summary().c_str());
  EXPECT_GE(c.events, 5000u);
  EXPECT_EQ(c.allWindows.size(), 22u);
  for (const std::string& w : c.allWindows) {
    const bool allowed = !(grey && (w == "FXhsl" || w == "Export"));
    EXPECT_TRUE(!allowed || c.windows.count(w)) << w;
  }
  EXPECT_GE(c.controls.size(), 150u);
  EXPECT_GE(c.applied, 1u);
  EXPECT_GE(c.cancelled, 1u);
}

INSTANTIATE_TEST_SUITE_P(CI, RandomUISeed, testing::Values(1u, 2u, 3u, 4u));

// A log replays the very runs it was written from, and a seed gives the
// same stream twice: nothing but the seed steers a run.
TEST(RandomUI, ASeedAndItsLogGiveTheSameRuns) {
  const randomui::Outcome first = randomui::RunSeed(11, 800, false);
  const randomui::Outcome again = randomui::RunSeed(11, 800, false);
  const randomui::Outcome replayed = randomui::ReplayLog(first.log);
  for (const std::string& f : first.faults) ADD_FAILURE() << f;
  for (const std::string& f : replayed.faults) ADD_FAILURE() << "replayed: " << f;
  EXPECT_EQ(again.log, first.log);
  EXPECT_EQ(replayed.log, first.log);
  // The replay reaches what the stream reached.
  EXPECT_EQ(replayed.coverage.Summary(), first.coverage.Summary());
  EXPECT_GT(first.coverage.events, 800u);
}

// Every seed that once failed, by its log.
TEST(RandomUI, EveryKeptCaseReplaysWithoutAFault) {
  const std::filesystem::path folder = std::filesystem::path(KLF_TEST_DATA_DIR) / "random" / "cases";
  uint32_t cases = 0, colours = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    if (e.path().extension() != ".log") continue;
    ++cases;
    const randomui::Outcome o = randomui::ReplayLog(ReadText(e.path()));
    for (const std::string& f : o.faults) ADD_FAILURE() << e.path().filename() << ": " << f;
    EXPECT_GT(o.coverage.events, 0u) << e.path().filename();
    colours += o.coverage.colours;
  }
  EXPECT_GT(cases, 0u);
  EXPECT_GT(colours, 0u);  // the platform's chooser answered the host's picker
}

// Outside CI: KLF_RANDOM_LOG=path replays one log; KLF_RANDOM_SEEDS=first-last
// (or one seed; and KLF_RANDOM_EVENTS=n) run a soak, KLF_RANDOM_KEEP keeping
// every log; KLF_RANDOM_SLOW_MS=n prints each event that took more than n ms
// of wall time (the main thread's waits for a processor left out), with its
// CPU time on the main thread and on all threads.
TEST(RandomUI, SoakOverASeedRange) {
  if (const char* log = std::getenv("KLF_RANDOM_LOG")) {
    const randomui::Outcome o = randomui::ReplayLog(ReadText(log));
    for (const std::string& f : o.faults) ADD_FAILURE() << f;
    std::printf("%s\n", o.coverage.Summary().c_str());
    return;
  }
  const char* seeds = std::getenv("KLF_RANDOM_SEEDS");
  if (!seeds) GTEST_SKIP() << "KLF_RANDOM_SEEDS=first-last (and KLF_RANDOM_EVENTS=n) ask for a soak";
  unsigned first = 0, last = 0;
  const int read = std::sscanf(seeds, "%u-%u", &first, &last);
  ASSERT_GE(read, 1);
  if (read == 1) last = first;
  const char* events = std::getenv("KLF_RANDOM_EVENTS");
  const uint32_t n = events ? static_cast<uint32_t>(std::strtoul(events, nullptr, 10)) : 5000;
  randomui::Coverage total;
  for (uint32_t seed = first; seed <= last; ++seed) {
    const randomui::Outcome o = Seed(seed, n, seed % 2 == 0);
    std::printf("seed %u: %s\n", seed, o.faults.empty() ? "sound" : "FAILED");
    total.Add(o.coverage);
  }
  std::printf("%s\nnot reached:%s\n", total.Summary().c_str(), total.Unreached().c_str());
}
