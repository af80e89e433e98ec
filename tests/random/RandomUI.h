// A random user of the whole dialog: the plug-in's UI run on the headless
// platform through the in-memory filter host, fed one event a loop turn
// from a seeded stream (clicks, double clicks, drags, wheel turns and hovers
// at points of the windows that take input, mostly on their controls; keys
// and the accelerators; the clock moved on to fire the timers), with the
// menus, file questions and colour choosers answered at random from what
// they offer (the host's colour picker now scripted, now the platform's
// chooser). When the stream is spent the windows are closed and the run
// ends by OK or Cancel; a stream that ends the run earlier starts another
// one on the document the last left.
//
// Each run is judged: after OK the document must equal a replay of the
// stored "last.data" (and of the scripting parameters), after Cancel it must
// be unchanged; no window, loop or application may outlive the run. The
// sanitizers judge the rest.
//
// Everything the stream did is written as an event log, one line a step,
// that replays the same runs without the generator (the kept regression
// cases). File questions are answered inside the run's temporary folder.
//
// With KLF_RANDOM_SLOW_MS=n in the environment, each event whose turns
// took more than n ms of wall time, not counting the main thread's waits
// for a processor (a busy machine's share), prints a line "slow event I:
// W ms wall (Q ms of it waiting for a processor), M ms CPU on the main
// thread, T ms CPU on all threads (WINDOW, EVENT)".
// What a stream reached is counted as its steps run, so a log's replay
// reaches the same.
//
// Cost: one loop turn an event; a redraw of the windows touched. Limits:
// small documents (the replay check renders each applied run again).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace randomui {

// What a stream reached, summed over runs.
struct Coverage {
  std::set<std::string> windows;          // names of windows that took input
  std::set<std::string> allWindows;       // every window of the resource file
  std::set<std::string> controls;         // "Window>Control" pressed while enabled
  std::set<std::string> offeredControls;  // the interactive controls of the windows seen
  std::set<std::string> accelerators;     // "Window>command" sent
  std::set<uint16_t> acceleratorTable;    // commands of the accelerator table
  std::set<std::string> menuItems;        // items chosen
  std::set<std::string> offeredItems;     // enabled items offered
  uint32_t events = 0, runs = 0, applied = 0, cancelled = 0;
  uint32_t fileQuestions = 0, menus = 0, colours = 0, alerts = 0;

  void Add(const Coverage& o);
  // One line of shares: windows, controls, accelerators, menu items.
  std::string Summary() const;
  // The controls never pressed and the menu items never chosen.
  std::string Unreached() const;
};

struct Outcome {
  std::vector<std::string> faults;  // empty when every run was sound
  Coverage coverage;
  std::string log;  // the event log written
};

// A seeded stream of about `events` events on a small document (grey or
// RGB with transparency); the log also goes to logPath as it is written
// (kept by a run a sanitizer stops) when one is given.
Outcome RunSeed(uint32_t seed, uint32_t events, bool grey, const std::string& logPath = "");
// The runs of an event log again, judged the same way.
Outcome ReplayLog(const std::string& log);

}  // namespace randomui
