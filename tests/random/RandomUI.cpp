#include "RandomUI.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>

#include "KLP_File.h"
#include "plugin/PluginRunSupport.h"

namespace randomui {
namespace {

using plugintest::Bytes;
using plugintest::PluginRun;

// ---------------------------------------------------------------------------
// Steps and their lines

enum Kind : uint8_t { kSelect, kDown, kUp, kMove, kWheel, kKey, kKeyDown, kKeyUp, kTick, kHostColour, kKindCount };

// A step's line: the clock advance, the kind, the window (mouse steps and
// select) and the numbers: down/up x y button mods, move x y mods, wheel x y
// delta mods, keys virtual-key character mods, hostcolour chosen r g b.
const struct {
  const char* name;
  bool window;
  uint32_t numbers;
} kKinds[kKindCount] = {{"select", true, 0}, {"down", true, 4},   {"up", true, 4},      {"move", true, 3},
                        {"wheel", true, 4},  {"key", false, 3},   {"keydown", false, 3}, {"keyup", false, 3},
                        {"tick", false, 0},  {"hostcolour", false, 4}};

struct Step {
  Kind kind = kTick;
  uint32_t dt = 0;
  std::string window;
  std::vector<int32_t> n;
};

std::string Format(const Step& s) {
  std::string line = std::to_string(s.dt) + " " + kKinds[s.kind].name;
  if (kKinds[s.kind].window) line += " " + s.window;
  for (int32_t v : s.n) line += " " + std::to_string(v);
  return line;
}

bool Parse(const std::string& line, Step& s) {
  std::istringstream in(line);
  std::string kind;
  if (!(in >> s.dt >> kind)) return false;
  uint32_t k = 0;
  while (k < kKindCount && kind != kKinds[k].name) ++k;
  if (k == kKindCount) return false;
  s.kind = static_cast<Kind>(k);
  if (kKinds[k].window && !(in >> s.window)) return false;
  s.n.assign(kKinds[k].numbers, 0);
  for (int32_t& v : s.n)
    if (!(in >> v)) return false;
  return true;
}

// One dialog run of a log: its rand() seed, its steps and the answers its
// questions got, in order.
struct RunScript {
  uint32_t srandSeed = 0;
  std::vector<Step> steps;
  std::deque<std::string> menus, files, colours;
};

struct Script {
  bool grey = false;
  uint32_t seed = 0;
  std::vector<RunScript> runs;
};

bool ParseLog(const std::string& text, Script& out, std::string& error) {
  std::istringstream in(text);
  std::string line;
  bool haveDoc = false;
  for (uint32_t no = 1; std::getline(in, line); ++no) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string head;
    words >> head;
    std::string rest;
    std::getline(words, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    if (head == "doc") {
      std::string kind;
      haveDoc = static_cast<bool>(std::istringstream(rest) >> kind >> out.seed);
      out.grey = kind == "grey";
    } else if (head == "run") {
      out.runs.emplace_back();
      out.runs.back().srandSeed = static_cast<uint32_t>(std::strtoul(rest.c_str(), nullptr, 10));
    } else if (out.runs.empty()) {
      error = "line " + std::to_string(no) + ": before the first run";
      return false;
    } else if (head == "menu") {
      out.runs.back().menus.push_back(rest);
    } else if (head == "file") {
      out.runs.back().files.push_back(rest);
    } else if (head == "colour") {
      out.runs.back().colours.push_back(rest);
    } else {
      Step s;
      if (!Parse(line, s)) {
        error = "line " + std::to_string(no) + ": " + line;
        return false;
      }
      out.runs.back().steps.push_back(s);
    }
  }
  if (!haveDoc) error = "no doc line";
  return haveDoc;
}

// ---------------------------------------------------------------------------
// Keys

struct KeyStroke {
  uint8_t vk;
  uint8_t ch;
};

// Virtual keys of the toolkit's special keys and of F1..F12, and of the
// punctuation an accelerator may name (the US layout's).
const KeyStroke kSpecialKeys[] = {{0x7E, 0x1E}, {0x7D, 0x1F}, {0x7B, 0x1C}, {0x7C, 0x1D}, {0x33, 8},
                                  {0x75, 127},  {0x73, 1},    {0x77, 4},    {0x30, '\t'}, {0x24, '\r'},
                                  {0x35, 27}};
const uint8_t kSpecialWeights[] = {5, 5, 5, 5, 3, 3, 2, 2, 3, 1, 1};
const uint8_t kFunctionKeys[12] = {0x7A, 0x78, 0x63, 0x76, 0x60, 0x61, 0x62, 0x64, 0x65, 0x6D, 0x67, 0x6F};
const KeyStroke kPunctuation[] = {{0x18, '='}, {0x2B, ','}, {0x1B, '-'}, {0x2F, '.'},  {0x29, ';'},
                                  {0x2C, '/'}, {0x32, '`'}, {0x21, '['}, {0x1E, ']'},  {0x2A, '\\'},
                                  {0x27, '\''}, {0x45, '+'}, {0x4E, '_'}};

// The key that types an accelerator's key (letter, digit, punctuation or
// F-key code); vk none when this layout has no such key.
KeyStroke StrokeFor(uint8_t key) {
  if (key >= 'A' && key <= 'Z') return {klpVKLetters[key - 'A'], static_cast<uint8_t>(key - 'A' + 'a')};
  if (key >= '0' && key <= '9') return {klpVKDigits[key - '0'], key};
  if (key >= klKeyF1 && key <= klKeyF12) return {kFunctionKeys[key - klKeyF1], 0x10};
  for (const KeyStroke& p : kPunctuation)
    if (p.ch == key) return p;
  return {klpVKNone, 0};
}

KeyStroke StrokeForChar(char c) {
  if (c >= 'a' && c <= 'z') return {klpVKLetters[c - 'a'], static_cast<uint8_t>(c)};
  return StrokeFor(static_cast<uint8_t>(c));
}

uint32_t PlatformMods(uint8_t accelPrimary, uint8_t commandKey, uint8_t option, uint8_t shift) {
  uint32_t m = 0;
  if (accelPrimary) m |= commandKey ? klpCmdKey : klpControlKey;
  if (option) m |= klpOptionKey;
  if (shift) m |= klpShiftKey;
  return m;
}

constexpr uint32_t kAccelEntry = 108;  // bytes an accelerator table entry

// ---------------------------------------------------------------------------
// Controls

bool EndsWithNoCase(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != tail[i]) return false;
  return true;
}

// Controls that end their window: 1 the cancelling kind, 2 the accepting.
int CloserKind(const std::string& name) {
  for (const char* t : {"_cancel", "_closex", "_no", "tocutterclose"})
    if (EndsWithNoCase(name, t)) return 1;
  for (const char* t : {"_ok", "_okl", "_okr", "_yesl", "_yesr", "_apply", "_applylm"})
    if (EndsWithNoCase(name, t)) return 2;
  return 0;
}

bool Interactive(u8 type) {
  return type != klCtrlStaticText && type != klCtrlProgress && type != klCtrlStaticImage;
}

bool HasArea(const kltRECT_s& r) { return r.right > r.left && r.bottom > r.top && r.left > -32000; }

std::string Name(const CKLF_Window* w) { return w->GetName().GetStr(); }
std::string Name(const CKLF_Window& w) { return w.GetName().GetStr(); }

// The control a press at a window point reaches (controls are offered the
// mouse from the last added to the first; pictures and texts let it pass);
// null when none.
CKLF_Control* ControlAt(CKLF_Window& w, i32 x, i32 y) {
  for (u32 i = w.GetControlCount(); i-- > 0;) {
    CKLF_Control* c = w.GetControl(i);
    if (Interactive(c->GetType()) && !c->IsCtrlFiltered() && c->PtInControl(static_cast<i16>(x), static_cast<i16>(y)))
      return c;
  }
  return nullptr;
}

// A window's shown control of that name, the last added (a button after
// the check box of the same name); null when none.
CKLF_Control* Shown(CKLF_Window& w, const char* name) {
  CKLF_Control* found = nullptr;
  for (u32 i = 0; i < w.GetControlCount(); ++i)
    if (w.GetControl(i)->GetName() == name && HasArea(w.GetControl(i)->GetRenderRect())) found = w.GetControl(i);
  return found;
}

// ---------------------------------------------------------------------------
// The session

int32_t LaunchNothing(const char*) { return klpNoErr; }

const char* const kFileKinds[] = {"klph", "klpk", "klpd", "png", "eps", "ai", "psd"};

class Session {
 public:
  Session(bool generate, uint32_t seed, bool grey, const std::string& logPath);
  ~Session();
  // Generates runs until about `events` steps were taken.
  void Generate(uint32_t events);
  void Replay(const Script& script);
  Outcome& Result() { return m_out; }

 private:
  struct Rng {
    std::mt19937 g;
    uint32_t Below(uint32_t n) { return n ? static_cast<uint32_t>(g() % n) : 0; }
    bool Chance(uint32_t percent) { return Below(100) < percent; }
    int32_t Between(int32_t lo, int32_t hi) { return lo + static_cast<int32_t>(Below(static_cast<uint32_t>(hi - lo + 1))); }
  };

  // Runs
  void SetUpDocument();
  void OneRun(uint32_t srandSeed);
  void Judge(int16_t result, const std::vector<Bytes>& before);
  // Where the document differs from planes, and the kind of block stored.
  std::string Difference(const std::vector<Bytes>& planes);
  void Fault(const std::string& what);
  void Write(const std::string& line);

  // The loop's step: one step of the stream a turn.
  void Turn(uint64_t generation);
  // With KLF_RANDOM_SLOW_MS set: the step under way ends; a line when it
  // took longer than that, besides the main thread's waits for a processor.
  void EndOfStep();
  bool NextStep(Step& s);
  void Execute(const Step& s);
  void Mouse(const Step& s, CKLF_Window* w);
  void Key(uint16_t kind, int32_t vk, int32_t ch, uint32_t mods);

  // Windows
  std::vector<CKLF_Window*> InputWindows();
  CKLF_Window* FindWindow(const std::string& name);
  // The windows open now, with the resource file's windows and
  // accelerators the first time the application is there.
  void NoteWindows(const std::vector<CKLF_Window*>& wins, Coverage& into);
  // The accelerators a key step sends to the active window.
  void NoteAccelerators(const Step& s);

  // The generator
  void PlanRandom();
  bool PlanGoal();
  bool GoalHop(const std::string& target, CKLF_Window*& w, const char*& control, const char*& item);
  void PlanPointer(CKLF_Window& w);
  void PlanKeys();
  void PlanEnding();
  CKLF_Control* PickControl(CKLF_Window& w);
  kltPOS PointIn(CKLF_Window& w, CKLF_Control* c);
  bool EndsTheRun(CKLF_Window& w, i32 x, i32 y);
  uint32_t PickMods();
  uint32_t Think() { return m_rng.Below(8) == 0 ? m_rng.Between(200, 900) : m_rng.Between(0, 120); }
  void Push(Kind kind, uint32_t dt, const std::string& window, std::vector<int32_t> n);
  void PushClick(CKLF_Window& w, kltPOS p, int32_t button, uint32_t mods, bool twice);
  void PushDrag(CKLF_Window& w, kltPOS from, kltPOS to, uint32_t mods, bool space);
  void PushType(uint32_t count);
  void PushKey(KeyStroke k, uint32_t mods, uint32_t dt);
  // Up to turns notches either way.
  void PushWheel(CKLF_Window& w, kltPOS p, int32_t turns, uint32_t mods);
  void PushCloser(CKLF_Window& w, CKLF_Control* c);
  void PushClose(CKLF_Window& w, int wanted = 1);

  // Answers
  int32_t AnswerMenu(const std::vector<KLP_MenuItem>& items);
  KLP_FileAnswer AnswerFile(const KLP_FileQuestion& q);
  KLP_FileAnswer FileFromLine(const std::string& line);
  bool AnswerColour(uint16_t rgb[3]);
  std::string NewFile(const KLP_FileQuestion& q);
  std::vector<std::string> OfferedFiles(const KLP_FileQuestion& q);

  bool m_generate;
  bool m_grey;
  uint32_t m_seed;
  Rng m_rng;
  PluginRun m_run;
  std::string m_files;
  std::FILE* m_logFile = nullptr;
  Outcome m_out;
  Coverage& m_cov = m_out.coverage;
  std::vector<Bytes> m_first;  // the document as set up
  KLP_LaunchHook m_oldLaunch;

  // The run under way.
  uint64_t m_generation = 0;  // turns of other runs do nothing
  bool m_stopped = false;
  uint32_t m_budget = 0;      // steps the generator may still take
  uint32_t m_endingTurns = 0;
  bool m_endOk = false;
  std::deque<Step> m_pending;
  RunScript* m_script = nullptr;  // replaying
  size_t m_scriptAt = 0;
  int32_t m_held = 0;  // the mouse button down
  uint32_t m_fileCount = 0;
  std::string m_goal;      // a window not reached yet that the stream heads for
  uint32_t m_goalHops = 0;
  std::string m_wantItem;  // the item the next menu answers, when offered

  // The windows as the generator met them when it planned (what it heads
  // for); what the steps reached is m_cov.
  Coverage m_planned;

  // Slow steps: the bound in ms (0: none asked), the step under way and
  // the clocks it started at.
  uint64_t m_slowMs = 0;
  std::string m_stepWindow, m_stepLine;
  uint64_t m_stepWall = 0, m_stepQueued = 0, m_stepCpu = 0, m_stepMainCpu = 0;
  bool m_stepOpen = false;
};

// A clock's reading in ns: the monotonic wall clock, the process's CPU
// time (all its threads) or the calling thread's.
uint64_t ClockNs(clockid_t clock) {
  timespec t{};
  if (clock_gettime(clock, &t) != 0) return 0;
  return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

// The time in ns the calling thread has waited for a processor, ready to
// run (0 where the system does not tell): a busy machine's share of the
// wall time.
uint64_t QueuedNs() {
  std::FILE* f = std::fopen("/proc/thread-self/schedstat", "r");
  if (!f) return 0;
  unsigned long long run = 0, queued = 0;
  const int read = std::fscanf(f, "%llu %llu", &run, &queued);
  std::fclose(f);
  return read == 2 ? queued : 0;
}

Session::Session(bool generate, uint32_t seed, bool grey, const std::string& logPath)
    : m_generate(generate), m_grey(grey), m_seed(seed), m_rng{std::mt19937(seed)} {
  m_files = m_run.dir.File("files");
  std::filesystem::create_directory(m_files);
  if (!logPath.empty()) m_logFile = std::fopen(logPath.c_str(), "w");
  if (const char* slow = std::getenv("KLF_RANDOM_SLOW_MS")) m_slowMs = std::strtoull(slow, nullptr, 10);
  m_oldLaunch = KLP_SetLaunchHook(LaunchNothing);
  m_run.ui.SetMenuAnswerer([this](const std::vector<KLP_MenuItem>& items) { return AnswerMenu(items); });
  m_run.ui.SetFileAnswerer([this](const KLP_FileQuestion& q) { return AnswerFile(q); });
  m_run.ui.SetColourAnswerer([this](uint16_t rgb[3]) { return AnswerColour(rgb); });
  // The host's picker is the platform's chooser until a step scripts it.
  m_run.host.SetColourChooser([this]() -> CKLP_UIPlatform* { return &m_run.ui; });
  Write("# random events over the dialog, seed " + std::to_string(seed));
  Write(std::string("doc ") + (grey ? "grey " : "rgb ") + std::to_string(seed));
  SetUpDocument();
}

Session::~Session() {
  KLP_SetLaunchHook(m_oldLaunch);
  if (m_logFile) std::fclose(m_logFile);
}

void Session::Write(const std::string& line) {
  m_out.log += line + "\n";
  if (m_logFile) {
    std::fputs((line + "\n").c_str(), m_logFile);
    std::fflush(m_logFile);
  }
}

void Session::Fault(const std::string& what) {
  m_out.faults.push_back("run " + std::to_string(m_cov.runs) + ", event " + std::to_string(m_cov.events) + ": " + what);
}

// A small document with a picture that differs from piece to piece, and
// two layers beside the filtered one for the image overlay's picker.
void Session::SetUpDocument() {
  const int32_t w = m_grey ? 56 : 64, h = m_grey ? 40 : 48;
  m_run.Document(m_grey ? klpModeGray : klpModeRGB, w, h, !m_grey, m_seed);
  CKLT_FilterHost::Layer doc;
  doc.id = 1, doc.name = "Background", doc.document = true;
  doc.rect = doc.bounds = {0, 0, w, h};
  m_run.host.AddLayer(doc);
  CKLT_FilterHost::Layer spot;
  spot.id = 2, spot.name = "Spot";
  spot.rect = spot.bounds = {w / 4, h / 4, w / 2, h / 2};
  const size_t n = static_cast<size_t>(w / 4) * static_cast<size_t>(h / 4);
  for (int p = 0; p < m_run.host.ColourPlanes(); ++p) spot.planes.push_back(Bytes(n, static_cast<uint8_t>(60 * p + 40)));
  spot.transparency.assign(n, 200);
  m_run.host.AddLayer(spot);
  m_run.host.SetMergedIsDocument();
  m_first = m_run.Planes();
}

// ---- Runs

// Runs of a few thousand events each, ended by OK or Cancel, until the
// stream is spent: the later runs start from what the earlier stored.
void Session::Generate(uint32_t events) {
  // A stream that keeps ending its runs early still ends.
  for (uint32_t runs = 0; events > 0 && runs < 200 && m_out.faults.empty(); ++runs) {
    m_budget = std::min<uint32_t>(events, static_cast<uint32_t>(m_rng.Between(800, 2500)));
    events -= m_budget;
    m_endOk = m_rng.Chance(50);
    OneRun(static_cast<uint32_t>(m_rng.g()));
    events += m_budget;  // what a run ended early left
  }
}

void Session::Replay(const Script& script) {
  for (const RunScript& r : script.runs) {
    RunScript copy = r;
    m_script = &copy;
    m_scriptAt = 0;
    OneRun(r.srandSeed);
    m_script = nullptr;
  }
}

void Session::OneRun(uint32_t srandSeed) {
  Write("run " + std::to_string(srandSeed));
  std::srand(srandSeed);
  ++m_cov.runs;
  ++m_generation;
  m_stopped = false;
  m_endingTurns = 0;
  m_pending.clear();
  m_held = 0;
  const std::vector<Bytes> before = m_run.Planes();
  const uint32_t events = m_cov.events;
  const uint32_t stalls = m_run.ui.Log().stalls;
  const size_t alerts = m_run.ui.Log().alerts.size();
  const uint64_t generation = m_generation;
  m_run.Then([this, generation] { Turn(generation); });
  const int16_t result = m_run.Dialog();
  EndOfStep();
  m_cov.alerts += static_cast<uint32_t>(m_run.ui.Log().alerts.size() - alerts);
  // A document left with nothing to cut opens no dialog: the next run
  // starts from the first document again.
  const bool opened = m_cov.events != events;
  if (m_run.ui.Log().stalls != stalls && !m_stopped) Fault("a loop ran out of events");
  ++m_generation;  // the turn left queued belongs to this run
  Write("# result " + std::to_string(result));
  Judge(result, before);
  if (!opened) m_run.SetPlanes(m_first);
}

void Session::Judge(int16_t result, const std::vector<Bytes>& before) {
  if (m_App) Fault("the application outlived the run");
  std::string left;
  for (CKLF_Window* w : InputWindows()) left += " " + Name(w);
  if (!left.empty()) Fault("windows outlived the run:" + left);
  if (m_run.ui.GetLoopDepth() != 0) Fault("a loop outlived the run");
  if (result == klpResUserCanceled) {
    ++m_cov.cancelled;
    if (m_run.Planes() != before) Fault("Cancel changed the document");
    return;
  }
  if (result != klpResNoErr) return Fault("the run answered " + std::to_string(result));
  ++m_cov.applied;
  const std::vector<Bytes> applied = m_run.Planes();
  const std::vector<CKLT_FilterHost::DescRecord> descriptor = m_run.host.Descriptor();
  const bool hadDescriptor = m_run.host.HasDescriptor();
  // "last.data" alone, then the scripting parameters the run left.
  for (const bool fromFile : {true, false}) {
    if (!fromFile && !hadDescriptor) break;
    if (fromFile) m_run.host.ClearDescriptor();
    else m_run.host.SetDescriptor(descriptor);
    m_run.SetPlanes(before);
    const int16_t replayed = m_run.Replay();
    const char* what = fromFile ? "the replay of last.data" : "the replay of the scripting parameters";
    if (replayed != klpResNoErr) Fault(std::string(what) + " answered " + std::to_string(replayed));
    else if (m_run.Planes() != applied) Fault(std::string(what) + " differs from what OK wrote: " + Difference(applied));
  }
  if (hadDescriptor) m_run.host.SetDescriptor(descriptor);
  m_run.SetPlanes(applied);
}

std::string Session::Difference(const std::vector<Bytes>& planes) {
  const std::vector<Bytes> now = m_run.Planes();
  const Bytes block = m_run.LastData();
  std::string out = block.empty() ? "no block" : block[0] ? "Puzzle-mode block" : "Layout-mode block";
  size_t count = 0;
  for (size_t p = 0; p < now.size(); ++p)
    for (size_t i = 0; i < now[p].size(); ++i) {
      if (now[p][i] == planes[p][i]) continue;
      if (count++ == 0) {
        const size_t w = static_cast<size_t>(m_run.host.Width());
        out += ", first in plane " + std::to_string(p) + " at " + std::to_string(i % w) + "," + std::to_string(i / w) +
               ": " + std::to_string(planes[p][i]) + " against " + std::to_string(now[p][i]);
      }
    }
  return out + ", " + std::to_string(count) + " bytes";
}

// ---- The loop's turns

void Session::EndOfStep() {
  if (!m_stepOpen) return;
  m_stepOpen = false;
  const unsigned long long wall = (ClockNs(CLOCK_MONOTONIC) - m_stepWall) / 1000000u,
                           queued = (QueuedNs() - m_stepQueued) / 1000000u,
                           cpu = (ClockNs(CLOCK_PROCESS_CPUTIME_ID) - m_stepCpu) / 1000000u,
                           main = (ClockNs(CLOCK_THREAD_CPUTIME_ID) - m_stepMainCpu) / 1000000u;
  // What the machine's other work took from the main thread does not count.
  if (wall - std::min(queued, wall) > m_slowMs)
    std::printf("slow event %u: %llu ms wall (%llu ms of it waiting for a processor), %llu ms CPU on the main thread, "
                "%llu ms CPU on all threads (%s, %s)\n",
                m_cov.events, wall, queued, main, cpu, m_stepWindow.c_str(), m_stepLine.c_str());
}

void Session::Turn(uint64_t generation) {
  if (generation != m_generation || m_stopped) return;
  EndOfStep();
  // Queued first: the step may open a loop that needs the next turn.
  m_run.Then([this, generation] { Turn(generation); });
  Step s;
  if (!NextStep(s)) {
    m_stopped = true;
    return;
  }
  Execute(s);
}

bool Session::NextStep(Step& s) {
  if (!m_generate) {
    if (m_scriptAt < m_script->steps.size()) return s = m_script->steps[m_scriptAt++], true;
    Fault("the log's run ended without ending the dialog");
    return false;
  }
  if (m_pending.empty()) {
    if (m_budget == 0) {
      if (++m_endingTurns > 80) {
        std::string open;
        for (CKLF_Window* w : InputWindows()) open += " " + Name(w);
        Fault("the windows would not close:" + open);
        return false;
      }
      PlanEnding();
    } else {
      PlanRandom();
    }
  }
  s = m_pending.front();
  m_pending.pop_front();
  if (m_budget > 0) --m_budget;
  return true;
}

void Session::Execute(const Step& s) {
  Write(Format(s));
  ++m_cov.events;
  NoteWindows(InputWindows(), m_cov);
  if (s.kind == kKey) NoteAccelerators(s);
  if (m_slowMs) {
    // Keys and ticks go to the active window.
    CKLF_Window* to = kKinds[s.kind].window ? nullptr : dynamic_cast<CKLF_Window*>(
                                                            m_run.ui.GetWindowClient(m_run.ui.GetActiveWindow()));
    m_stepWindow = kKinds[s.kind].window ? s.window : to ? Name(to) : "-";
    m_stepLine = kKinds[s.kind].name;
    for (int32_t v : s.n) m_stepLine += " " + std::to_string(v);
    m_stepOpen = true;
    m_stepWall = ClockNs(CLOCK_MONOTONIC);
    m_stepQueued = QueuedNs();
    m_stepCpu = ClockNs(CLOCK_PROCESS_CPUTIME_ID);
    m_stepMainCpu = ClockNs(CLOCK_THREAD_CPUTIME_ID);
  }
  if (s.dt) m_run.ui.AdvanceClock(s.dt);
  CKLF_Window* w = kKinds[s.kind].window ? FindWindow(s.window) : nullptr;
  switch (s.kind) {
    case kSelect:
      if (w) m_run.ui.SelectWindow(w->GetWindowHandle());
      break;
    case kDown:
    case kUp:
    case kMove:
    case kWheel: Mouse(s, w); break;
    case kKey:
      Key(klpKeyDown, s.n[0], s.n[1], static_cast<uint32_t>(s.n[2]));
      Key(klpKeyUp, s.n[0], s.n[1], static_cast<uint32_t>(s.n[2]));
      break;
    case kKeyDown: Key(klpKeyDown, s.n[0], s.n[1], static_cast<uint32_t>(s.n[2])); break;
    case kKeyUp: Key(klpKeyUp, s.n[0], s.n[1], static_cast<uint32_t>(s.n[2])); break;
    case kHostColour:
      // 2: the host's picker is the platform's chooser again.
      if (s.n[0] == 2) m_run.host.ForgetPickedColour();
      else
        m_run.host.SetPickedColour(s.n[0] != 0, static_cast<uint8_t>(s.n[1]), static_cast<uint8_t>(s.n[2]),
                                   static_cast<uint8_t>(s.n[3]));
      break;
    default: break;
  }
}

void Session::Mouse(const Step& s, CKLF_Window* w) {
  KLP_Point at = m_run.ui.GetMousePosition();
  // Without its window (gone, or shut out by a modal loop) only the release
  // goes, to end the press's grab.
  if (w) {
    const kltRECT_s r = w->GetWindowRect();
    at = {r.left + s.n[0], r.top + s.n[1]};
  } else if (s.kind != kUp) {
    return;
  }
  const uint32_t mods = static_cast<uint32_t>(s.n.back());
  if (w && (s.kind == kDown || s.kind == kWheel)) {
    if (CKLF_Control* c = ControlAt(*w, s.n[0], s.n[1])) m_cov.controls.insert(Name(w) + ">" + c->GetName().GetStr());
  }
  switch (s.kind) {
    case kDown:
      m_held = s.n[2];
      m_run.ui.PostMouse(klpMouseDown, at.x, at.y, static_cast<uint8_t>(s.n[2]), mods);
      break;
    case kUp:
      m_run.ui.PostMouse(klpMouseUp, at.x, at.y, static_cast<uint8_t>(s.n[2]), mods);
      m_held = 0;
      break;
    case kMove:
      m_run.ui.PostMouse(m_held ? klpMouseDragged : klpMouseMoved, at.x, at.y, static_cast<uint8_t>(m_held), mods);
      break;
    default: m_run.ui.PostWheel(at.x, at.y, s.n[2], mods); break;
  }
}

void Session::Key(uint16_t kind, int32_t vk, int32_t ch, uint32_t mods) {
  m_run.ui.PostKey(kind, static_cast<uint8_t>(vk), static_cast<uint8_t>(ch), mods);
}

// ---- Windows

std::vector<CKLF_Window*> Session::InputWindows() {
  std::vector<CKLF_Window*> out;
  for (KLP_WindowID id : m_run.ui.GetInputWindows())
    if (auto* w = dynamic_cast<CKLF_Window*>(m_run.ui.GetWindowClient(id))) out.push_back(w);
  return out;
}

CKLF_Window* Session::FindWindow(const std::string& name) {
  for (CKLF_Window* w : InputWindows())
    if (Name(w) == name) return w;
  return nullptr;
}

void Session::NoteWindows(const std::vector<CKLF_Window*>& wins, Coverage& into) {
  if (into.allWindows.empty() && m_App && m_App->GetStorage()) {
    CKLF_StringArray names;
    // The toolkit's demo window shares the resource file but is no part of
    // the dialog.
    if (m_App->GetStorage()->GetAllRecords("UIResources>Windows", names))
      for (u32 i = 0; i < names.GetSize(); ++i)
        if (names[i] != "Demo") into.allWindows.insert(names[i].GetStr());
    u32 count = 0;
    const u8* table = m_App->GetAccelerators(count);
    for (u32 i = 0; i < count; ++i)
      into.acceleratorTable.insert(static_cast<uint16_t>(table[i * kAccelEntry + 6] | table[i * kAccelEntry + 7] << 8));
  }
  for (CKLF_Window* w : wins) {
    if (!into.windows.insert(Name(w)).second) continue;
    for (u32 i = 0; i < w->GetControlCount(); ++i)
      if (Interactive(w->GetControl(i)->GetType()))
        into.offeredControls.insert(Name(w) + ">" + w->GetControl(i)->GetName().GetStr());
  }
}

void Session::NoteAccelerators(const Step& s) {
  u32 count = 0;
  const u8* table = m_App ? m_App->GetAccelerators(count) : nullptr;
  auto* to = dynamic_cast<CKLF_Window*>(m_run.ui.GetWindowClient(m_run.ui.GetActiveWindow()));
  if (!table || !to) return;
  for (u32 i = 0; i < count; ++i) {
    const u8* e = table + i * kAccelEntry;
    const KeyStroke k = StrokeFor(e[4]);
    if (k.vk != klpVKNone && k.vk == s.n[0] && k.ch == s.n[1] &&
        PlatformMods(e[0], e[3], e[1], e[2]) == static_cast<uint32_t>(s.n[2]))
      m_cov.accelerators.insert(Name(to) + ">" + std::to_string(e[6] | e[7] << 8));
  }
}

// ---- The generator

void Session::Push(Kind kind, uint32_t dt, const std::string& window, std::vector<int32_t> n) {
  Step s;
  s.kind = kind;
  s.dt = dt;
  s.window = window;
  s.n = std::move(n);
  m_pending.push_back(std::move(s));
}

uint32_t Session::PickMods() {
  static const uint32_t kMods[] = {klpShiftKey, klpOptionKey, klpCmdKey, klpControlKey, klpShiftKey | klpOptionKey,
                                   klpCmdKey | klpShiftKey, klpCmdKey | klpOptionKey,
                                   klpCmdKey | klpShiftKey | klpOptionKey};
  return m_rng.Chance(60) ? 0 : kMods[m_rng.Below(8)];
}

void Session::PlanRandom() {
  const std::vector<CKLF_Window*> wins = InputWindows();
  NoteWindows(wins, m_planned);
  const uint32_t roll = m_rng.Below(100);
  if (wins.empty() || roll < 6) return Push(kTick, m_rng.Between(30, 2500), "", {});
  if (roll < 7) {
    const int chosen = m_rng.Chance(50) ? 2 : m_rng.Chance(80) ? 1 : 0;
    return Push(kHostColour, Think(), "", {chosen, m_rng.Between(0, 255), m_rng.Between(0, 255), m_rng.Between(0, 255)});
  }
  if (roll < 11 && PlanGoal()) return;
  CKLF_Window* w = wins[m_rng.Below(static_cast<uint32_t>(wins.size()))];
  if (w->GetWindowHandle() != m_run.ui.GetActiveWindow()) Push(kSelect, Think(), Name(w), {});
  if (roll < 22) return PlanKeys();
  if (roll < 30) {
    for (uint32_t k = 1 + m_rng.Below(3); k-- > 0;) {
      const kltPOS p = PointIn(*w, m_rng.Chance(70) ? PickControl(*w) : nullptr);
      Push(kMove, m_rng.Between(10, 200), Name(w), {p.x, p.y, 0});
    }
    return;
  }
  PlanPointer(*w);
}

// Now and then a step toward a window the stream has not reached: the
// press (and the menu item) that opens it, or the one that leads there
// (the Cutter's cut for Puzzle mode, a selection for the effect buttons).
// A goal is dropped after a few steps that do not reach it.
bool Session::PlanGoal() {
  if (!m_goal.empty() && (m_planned.windows.count(m_goal) || m_goalHops > 8)) m_goal.clear();
  if (m_goal.empty()) {
    std::vector<std::string> open;
    // A grey document has neither hue and saturation nor the pieces' export.
    for (const std::string& w : m_planned.allWindows)
      if (!m_planned.windows.count(w) && !(m_grey && (w == "FXhsl" || w == "Export"))) open.push_back(w);
    if (open.empty()) return false;
    m_goal = open[m_rng.Below(static_cast<uint32_t>(open.size()))];
    m_goalHops = 0;
  }
  CKLF_Window* w = nullptr;
  const char* control = nullptr;
  const char* item = "";
  ++m_goalHops;
  if (!GoalHop(m_goal, w, control, item)) {
    m_goal.clear();
    return false;
  }
  CKLF_Control* c = Shown(*w, control);
  // A window in front (a modal one, an effect window) keeps the way shut:
  // it goes first.
  CKLF_Window* front = InputWindows()[0];
  if (!c || !c->IsEnabled() || (front->IsModal() && front != w)) {
    if (front == w || (m_App && front == m_App->GetMainWnd())) return false;
    PushClose(*front);
    return true;
  }
  m_wantItem = item;
  PushCloser(*w, c);
  return true;
}

bool Session::GoalHop(const std::string& target, CKLF_Window*& w, const char*& control, const char*& item) {
  CWnd_Main* main = PluginRun::Main();
  if (!main) return false;
  const bool layout = main->IsLayoutMode();
  CKLF_Window* cutter = FindWindow("Cutter");
  auto hop = [&](CKLF_Window* in, const char* c, const char* i = "") {
    w = in, control = c, item = i;
    return in != nullptr;
  };
  static const char* const kEffects[][2] = {{"FXblur", "Main_FXBlur"},  {"FXbc", "Main_FXBC"},
                                            {"FXopac", "Main_FXOpacity"}, {"FXbevel", "Main_FXBevel"},
                                            {"FXhsl", "Main_FXHSL"},     {"FXcovr", "Main_FXCOver"},
                                            {"FXmblur", "Main_FXMBlur"}, {"FXstroke", "Main_FXStroke"},
                                            {"FXiovr", "Main_FXIOver"}};
  const char* effect = nullptr;
  for (const auto& e : kEffects)
    if (target == e[0] || (target == "Layers" && std::string(e[0]) == "FXiovr")) effect = e[1];
  if (target == "Layers" && FindWindow("FXiovr")) return hop(FindWindow("FXiovr"), "FXiovr_ChooseImage");
  const bool cutterTarget = target == "Cutter" || target == "PresMng" || target == "ShapeName" ||
                            target == "AutoLayout" || target == "CMuts";
  if (cutterTarget && !cutter) return layout ? hop(main, "Main_Relayout") : hop(main, "Main_Main", "Relayout...");
  if (target == "PresMng") return hop(cutter, "Cutter_Presets");
  if (target == "ShapeName") return hop(cutter, "Cutter_AddToPM");
  if (target == "AutoLayout") return hop(cutter, "Cutter_AutoLayout");
  if (target == "CMuts") return hop(cutter, "Cutter_Clone", "Clone With Custom Mutation...");
  if (target == "About") return hop(main, "Main_Help", "About Plug-in...");
  if (target == "Pref") return hop(main, "Main_Main", "Preferences...");
  if (target == "ChannelList") return hop(main, "Main_Select", "Load Selection...");
  if (target == "ExportLM") return layout && hop(main, "Main_Export");
  if (target != "Export" && !effect) return false;
  // Puzzle mode first: the Cutter's cut.
  if (layout) return cutter ? hop(cutter, "Cutter_Cut") : hop(main, "Main_Relayout");
  if (!effect) return hop(main, "Main_Export");
  CKLF_Control* button = Shown(*main, effect);
  if (button && !button->IsEnabled()) return hop(main, "Main_Select", "Select All Pieces");
  return hop(main, effect);
}

// The controls of a window by weight: the big canvas and the value
// controls most, the enabled before the disabled, the texts hardly, and
// the ending buttons seldom (never the main window's: the run ends when
// the stream is spent).
CKLF_Control* Session::PickControl(CKLF_Window& w) {
  const bool main = m_App && &w == m_App->GetMainWnd();
  std::vector<std::pair<CKLF_Control*, uint32_t>> weights;
  uint32_t total = 0;
  for (u32 i = 0; i < w.GetControlCount(); ++i) {
    CKLF_Control* c = w.GetControl(i);
    if (!HasArea(c->GetRenderRect())) continue;
    uint32_t weight = c->IsEnabled() ? 20 : 2;
    switch (c->GetType()) {
      case klCtrlStaticText:
      case klCtrlProgress: weight = 1; break;
      case klCtrlStaticImage: weight = 4; break;
      case klCtrlPreview: weight *= 5; break;
      case klCtrlEditLine:
      case klCtrlSlider:
      case klCtrlScrollBar: weight = weight * 3 / 2; break;
      default: break;
    }
    if (CloserKind(c->GetName().GetStr())) weight = main ? 0 : 3;
    // What the stream never pressed draws it on (the windows behind it).
    else if (c->IsEnabled() && !m_cov.controls.count(Name(w) + ">" + c->GetName().GetStr())) weight *= 4;
    total += weight;
    weights.push_back({c, weight});
  }
  uint32_t pick = m_rng.Below(total);
  for (const auto& cw : weights) {
    if (pick < cw.second) return cw.first;
    pick -= cw.second;
  }
  return nullptr;
}

kltPOS Session::PointIn(CKLF_Window& w, CKLF_Control* c) {
  kltRECT_s r = c ? c->GetRenderRect() : w.GetClientRect();
  if (c && (c->GetType() == klCtrlRadioButton || c->GetType() == klCtrlCheckBox) && m_rng.Chance(50))
    r.right = std::min(r.right, r.left + 14);  // the box
  return {m_rng.Between(r.left, r.right - 1), m_rng.Between(r.top, r.bottom - 1)};
}

// A press there would end the run: the main window's own ending buttons,
// which only the ending presses.
bool Session::EndsTheRun(CKLF_Window& w, i32 x, i32 y) {
  if (!m_App || &w != m_App->GetMainWnd()) return false;
  CKLF_Control* c = ControlAt(w, x, y);
  return c && CloserKind(c->GetName().GetStr());
}

void Session::PlanPointer(CKLF_Window& w) {
  CKLF_Control* c = m_rng.Chance(75) ? PickControl(w) : nullptr;
  kltPOS p = PointIn(w, c);
  for (int tries = 0; EndsTheRun(w, p.x, p.y); ++tries) {
    if (tries == 4) return Push(kTick, m_rng.Between(30, 300), "", {});
    p = PointIn(w, nullptr);
  }
  const u8 type = c ? c->GetType() : 0;
  const uint32_t mods = PickMods();
  const uint32_t roll = m_rng.Below(100);
  auto elsewhere = [&] {
    kltPOS q = PointIn(w, c && m_rng.Chance(60) ? c : nullptr);
    return EndsTheRun(w, q.x, q.y) ? p : q;
  };
  switch (type) {
    case klCtrlSlider:
    case klCtrlScrollBar:
    case klCtrlRuler:
      if (roll < 50) return PushDrag(w, p, elsewhere(), mods, false);
      if (roll < 85) return PushClick(w, p, 1, mods, roll >= 78);
      return PushWheel(w, p, 3, mods);
    case klCtrlEditLine:
      if (roll < 10) return PushWheel(w, p, 1, mods);
      PushClick(w, p, 1, 0, roll < 20);
      if (roll < 75) PushType(1 + m_rng.Below(5));
      return;
    case klCtrlList:
      if (roll < 15) return PushWheel(w, p, 1, mods);
      if (roll < 25) return PushDrag(w, p, elsewhere(), mods, false);
      PushClick(w, p, 1, mods, roll < 50);
      if (roll >= 85) PushKey(kSpecialKeys[m_rng.Below(2)], 0, Think());
      return;
    case klCtrlPreview:
      if (roll < 40) return PushDrag(w, p, elsewhere(), mods, m_rng.Chance(15));
      if (roll < 55) return PushWheel(w, p, 3, mods);
      return PushClick(w, p, roll < 65 ? 2 : 1, mods, roll >= 90);
    default:
      if (roll < 8) return PushDrag(w, p, elsewhere(), mods, false);
      if (roll < 16) return PushWheel(w, p, 1, mods);
      return PushClick(w, p, roll < 24 ? 2 : 1, mods, roll >= 90);
  }
}

void Session::PushClick(CKLF_Window& w, kltPOS p, int32_t button, uint32_t mods, bool twice) {
  const std::string name = Name(w);
  const int32_t m = static_cast<int32_t>(mods);
  Push(kDown, Think(), name, {p.x, p.y, button, m});
  Push(kUp, m_rng.Between(20, 150), name, {p.x, p.y, button, m});
  if (!twice) return;
  Push(kDown, m_rng.Between(20, 120), name, {p.x + m_rng.Between(-1, 1), p.y + m_rng.Between(-1, 1), button, m});
  Push(kUp, m_rng.Between(20, 120), name, {p.x, p.y, button, m});
}

void Session::PushDrag(CKLF_Window& w, kltPOS from, kltPOS to, uint32_t mods, bool space) {
  const std::string name = Name(w);
  const int32_t m = static_cast<int32_t>(mods);
  if (space) Push(kKeyDown, Think(), "", {klpVKSpace, ' ', 0});
  Push(kDown, Think(), name, {from.x, from.y, 1, m});
  const int32_t moves = m_rng.Between(1, 6);
  for (int32_t k = 1; k <= moves; ++k) {
    const int32_t x = from.x + (to.x - from.x) * k / moves + (k < moves ? m_rng.Between(-3, 3) : 0);
    const int32_t y = from.y + (to.y - from.y) * k / moves + (k < moves ? m_rng.Between(-3, 3) : 0);
    Push(kMove, m_rng.Between(10, 80), name, {x, y, m});
  }
  Push(kUp, m_rng.Between(10, 200), name, {to.x, to.y, 1, m});
  if (space) Push(kKeyUp, m_rng.Between(10, 100), "", {klpVKSpace, ' ', 0});
}

void Session::PushWheel(CKLF_Window& w, kltPOS p, int32_t turns, uint32_t mods) {
  const int32_t delta = m_rng.Between(1, turns);
  Push(kWheel, Think(), Name(w), {p.x, p.y, m_rng.Chance(50) ? delta : -delta, static_cast<int32_t>(mods)});
}

void Session::PushKey(KeyStroke k, uint32_t mods, uint32_t dt) {
  if (k.vk == klpVKNone && !k.ch) return;
  Push(kKey, dt, "", {k.vk, k.ch, static_cast<int32_t>(mods)});
}

// Typing into the focused line: digits mostly, a sign, a point, letters,
// and now and then a key that leaves it.
void Session::PushType(uint32_t count) {
  static const char kTyped[] = "0123456789012345678901234-.az";
  for (uint32_t i = 0; i < count; ++i)
    PushKey(StrokeForChar(kTyped[m_rng.Below(sizeof kTyped - 1)]), 0, m_rng.Between(30, 200));
  if (m_rng.Chance(30)) PushKey(kSpecialKeys[m_rng.Chance(50) ? 8 : 4], 0, m_rng.Between(30, 200));  // Tab, Backspace
  else if (m_rng.Chance(20)) PushKey(kSpecialKeys[9], 0, m_rng.Between(30, 200));  // Return
}

void Session::PlanKeys() {
  const uint32_t roll = m_rng.Below(100);
  u32 count = 0;
  const u8* table = m_App ? m_App->GetAccelerators(count) : nullptr;
  if (roll < 40 && count) {
    const u8* e = table + m_rng.Below(count) * kAccelEntry;
    const KeyStroke k = StrokeFor(e[4]);
    return PushKey(k, PlatformMods(e[0], e[3], e[1], e[2]), Think());
  }
  if (roll < 75) {
    uint32_t total = 12, pick = 0;  // the F-keys one each
    for (uint8_t wgt : kSpecialWeights) total += wgt;
    pick = m_rng.Below(total);
    for (size_t i = 0; i < sizeof kSpecialWeights; ++i) {
      if (pick < kSpecialWeights[i]) return PushKey(kSpecialKeys[i], PickMods(), Think());
      pick -= kSpecialWeights[i];
    }
    return PushKey({kFunctionKeys[pick], 0x10}, PickMods(), Think());
  }
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789-=[].,;/";
  PushKey(StrokeForChar(kChars[m_rng.Below(sizeof kChars - 1)]), m_rng.Chance(25) ? PickMods() : 0, Think());
}

// Closing, front first: a modal window by its cancelling (else accepting)
// button or Escape, an effect window by OK or Cancel, then the main window
// by the ending the run was given.
void Session::PlanEnding() {
  const std::vector<CKLF_Window*> wins = InputWindows();
  CKLF_Window* main = m_App ? m_App->GetMainWnd() : nullptr;
  if (wins.empty() || !main) return Push(kTick, 100, "", {});
  CKLF_Window* target = nullptr;
  if (wins[0]->IsModal() || std::find(wins.begin(), wins.end(), main) == wins.end()) target = wins[0];
  for (CKLF_Window* w : wins)
    if (!target && w != main && Name(w).compare(0, 2, "FX") == 0) target = w;
  if (!target) {
    CWnd_Main* m = PluginRun::Main();
    const CWnd_Main::Control ends[2][2] = {{CWnd_Main::kCancel, CWnd_Main::kCloseX},
                                           {CWnd_Main::kApply, CWnd_Main::kApplyLM}};
    for (CWnd_Main::Control e : ends[m_endOk]) {
      CKLF_Control* c = m ? m->GetNamedControl(e) : nullptr;
      if (c && c->IsEnabled()) return PushCloser(*main, c);
    }
    return Push(kTick, 100, "", {});  // a render under way
  }
  PushClose(*target, Name(*target).compare(0, 2, "FX") == 0 && m_endOk ? 2 : 1);
}

// A window closed by its button of the kind wanted (1 cancelling, 2
// accepting), else any closer, else Escape.
void Session::PushClose(CKLF_Window& w, int wanted) {
  CKLF_Control* best = nullptr;
  for (u32 i = 0; i < w.GetControlCount(); ++i) {
    CKLF_Control* c = w.GetControl(i);
    const int kind = CloserKind(c->GetName().GetStr());
    if (kind && c->IsEnabled() && HasArea(c->GetRenderRect()) && (!best || kind == wanted)) best = c;
  }
  if (best) return PushCloser(w, best);
  if (w.GetWindowHandle() != m_run.ui.GetActiveWindow()) Push(kSelect, 50, Name(w), {});
  PushKey(kSpecialKeys[10], 0, 100);  // Escape
}

void Session::PushCloser(CKLF_Window& w, CKLF_Control* c) {
  if (w.GetWindowHandle() != m_run.ui.GetActiveWindow()) Push(kSelect, 50, Name(&w), {});
  const kltRECT_s r = c->GetRenderRect();
  PushClick(w, {(r.left + r.right) / 2, (r.top + r.bottom) / 2}, 1, 0, false);
}

// ---- Answers

int32_t Session::AnswerMenu(const std::vector<KLP_MenuItem>& items) {
  ++m_cov.menus;
  int32_t answer = -1;
  for (const KLP_MenuItem& item : items)
    if (!item.separator && !item.disabled) m_cov.offeredItems.insert(item.text);
  if (m_generate) {
    std::vector<int32_t> usable, fresh;
    for (size_t i = 0; i < items.size(); ++i)
      if (!items[i].separator && !items[i].disabled) {
        usable.push_back(static_cast<int32_t>(i));
        if (!m_cov.menuItems.count(items[i].text)) fresh.push_back(static_cast<int32_t>(i));
      }
    // Items never chosen first, half the time.
    if (!fresh.empty() && m_rng.Chance(50)) usable = fresh;
    if (!usable.empty() && !m_rng.Chance(15)) answer = usable[m_rng.Below(static_cast<uint32_t>(usable.size()))];
    for (size_t i = 0; i < items.size(); ++i)
      if (!m_wantItem.empty() && !items[i].separator && !items[i].disabled && items[i].text == m_wantItem)
        answer = static_cast<int32_t>(i);
    m_wantItem.clear();
  } else if (m_script && !m_script->menus.empty()) {
    answer = std::atoi(m_script->menus.front().c_str());
    m_script->menus.pop_front();
  }
  Write("menu " + std::to_string(answer));
  if (answer >= 0 && static_cast<size_t>(answer) < items.size()) m_cov.menuItems.insert(items[answer].text);
  return answer;
}

bool Session::AnswerColour(uint16_t rgb[3]) {
  ++m_cov.colours;
  std::string line = "-";
  if (m_generate) {
    if (!m_rng.Chance(30))
      line = std::to_string(m_rng.Below(256)) + " " + std::to_string(m_rng.Below(256)) + " " + std::to_string(m_rng.Below(256));
  } else if (m_script && !m_script->colours.empty()) {
    line = m_script->colours.front();
    m_script->colours.pop_front();
  }
  Write("colour " + line);
  unsigned c[3];
  if (std::sscanf(line.c_str(), "%u %u %u", &c[0], &c[1], &c[2]) != 3) return false;
  for (int i = 0; i < 3; ++i) rgb[i] = static_cast<uint16_t>((c[i] & 255) * 257);
  return true;
}

std::vector<std::string> Session::OfferedFiles(const KLP_FileQuestion& q) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(m_files))
    if (e.is_regular_file() && (!q.offer || q.offer(e.path().filename().string())))
      names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A new file for an open question to find: random bytes, or the head of a
// file the run saved, under a name the question offers.
std::string Session::NewFile(const KLP_FileQuestion& q) {
  std::vector<std::string> kinds;
  for (const char* k : kFileKinds)
    if (!q.offer || q.offer(std::string("x.") + k)) kinds.push_back(k);
  if (kinds.empty()) return "";
  const std::string name = "j" + std::to_string(++m_fileCount) + "." + kinds[m_rng.Below(static_cast<uint32_t>(kinds.size()))];
  const std::vector<std::string> offered = OfferedFiles(q);
  if (!offered.empty() && m_rng.Chance(50)) {
    const std::string from = offered[m_rng.Below(static_cast<uint32_t>(offered.size()))];
    const size_t size = klftest::ReadFileBytes(m_files + "/" + from).size();
    return name + " cut " + from + " " + std::to_string(m_rng.Below(static_cast<uint32_t>(size + 1)));
  }
  return name + " junk " + std::to_string(m_rng.Below(600)) + " " + std::to_string(m_rng.Below(1u << 30));
}

KLP_FileAnswer Session::AnswerFile(const KLP_FileQuestion& q) {
  ++m_cov.fileQuestions;
  std::string line = "-";
  if (m_generate) {
    const uint32_t roll = m_rng.Below(100);
    const std::vector<std::string> offered = OfferedFiles(q);
    const size_t dot = q.proposedName.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : q.proposedName.substr(dot);
    if (roll < 15) line = "-";
    else if (roll < 19) line = "/";  // the folder itself
    else if (roll < 23) line = "none/x" + ext;  // inside a folder that is not there
    else if (q.save) line = !offered.empty() && roll < 45 ? offered[m_rng.Below(static_cast<uint32_t>(offered.size()))]
                                                         : "s" + std::to_string(++m_fileCount) + ext;
    else if (!offered.empty() && roll < 70) line = offered[m_rng.Below(static_cast<uint32_t>(offered.size()))];
    else line = NewFile(q);
    if (line.empty()) line = "-";
  } else if (m_script && !m_script->files.empty()) {
    line = m_script->files.front();
    m_script->files.pop_front();
  }
  Write("file " + line);
  return FileFromLine(line);
}

// A file answer's line: "-" cancels, "/" is the files folder, else a name
// inside it, made first when "junk size seed" (random bytes) or "cut from
// length" (the head of another file) follows.
KLP_FileAnswer Session::FileFromLine(const std::string& line) {
  std::istringstream in(line);
  std::string name, how, from;
  in >> name >> how;
  if (name.empty() || name == "-") return {};
  if (name == "/") return {true, m_files};
  const std::string path = m_files + "/" + name;
  if (how == "junk") {
    uint32_t size = 0, seed = 0;
    in >> size >> seed;
    std::mt19937 g(seed);
    Bytes bytes(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(g());
    klftest::WriteFileBytes(path, bytes);
  } else if (how == "cut") {
    size_t length = 0;
    in >> from >> length;
    Bytes bytes = klftest::ReadFileBytes(m_files + "/" + from);
    bytes.resize(std::min(bytes.size(), length));
    klftest::WriteFileBytes(path, bytes);
  }
  return {true, path};
}

std::string Share(size_t part, size_t whole) {
  return std::to_string(part) + "/" + std::to_string(whole);
}

}  // namespace

void Coverage::Add(const Coverage& o) {
  windows.insert(o.windows.begin(), o.windows.end());
  allWindows.insert(o.allWindows.begin(), o.allWindows.end());
  controls.insert(o.controls.begin(), o.controls.end());
  offeredControls.insert(o.offeredControls.begin(), o.offeredControls.end());
  accelerators.insert(o.accelerators.begin(), o.accelerators.end());
  acceleratorTable.insert(o.acceleratorTable.begin(), o.acceleratorTable.end());
  menuItems.insert(o.menuItems.begin(), o.menuItems.end());
  offeredItems.insert(o.offeredItems.begin(), o.offeredItems.end());
  events += o.events, runs += o.runs, applied += o.applied, cancelled += o.cancelled;
  fileQuestions += o.fileQuestions, menus += o.menus, colours += o.colours, alerts += o.alerts;
}

std::string Coverage::Unreached() const {
  std::string out;
  for (const std::string& c : offeredControls)
    if (!controls.count(c)) out += " " + c;
  for (const std::string& m : offeredItems)
    if (!menuItems.count(m)) out += " \"" + m + "\"";
  return out;
}

std::string Coverage::Summary() const {
  size_t mainAccels = 0;
  for (const std::string& a : accelerators) mainAccels += a.compare(0, 5, "Main>") == 0;
  size_t pressed = 0;
  for (const std::string& c : controls) pressed += offeredControls.count(c);
  std::string unreached;
  for (const std::string& w : allWindows)
    if (!windows.count(w)) unreached += " " + w;
  return std::to_string(events) + " events, " + std::to_string(runs) + " runs (" + std::to_string(applied) + " OK, " +
         std::to_string(cancelled) + " Cancel); windows " + Share(windows.size(), allWindows.size()) + ", controls " +
         Share(pressed, offeredControls.size()) + ", main window accelerators " +
         Share(mainAccels, acceleratorTable.size()) + ", menu items " + Share(menuItems.size(), offeredItems.size()) +
         "; " + std::to_string(menus) + " menus, " + std::to_string(fileQuestions) + " file questions, " +
         std::to_string(colours) + " colour choosers, " + std::to_string(alerts) + " alerts; windows not reached:" +
         unreached;
}

Outcome RunSeed(uint32_t seed, uint32_t events, bool grey, const std::string& logPath) {
  Session s(true, seed, grey, logPath);
  s.Generate(events);
  return s.Result();
}

Outcome ReplayLog(const std::string& log) {
  Script script;
  std::string error;
  if (!ParseLog(log, script, error)) {
    Outcome bad;
    bad.faults.push_back("the log does not read: " + error);
    return bad;
  }
  Session s(false, script.seed, script.grey, "");
  s.Replay(script);
  return s.Result();
}

}  // namespace randomui
