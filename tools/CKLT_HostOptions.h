// The host program's command line: the options, their table, the parser
// and the help text made from the table. Options that cannot act together
// are refused here; those whose conflict depends on files (a --script that
// is played) are refused by the run.
//
// Options defined elsewhere join through AddTable: each one parses its own
// value into the options and shows in --help after the program's own. The
// layout shaping options (CKLT_LayoutShaper) parse themselves and follow
// --save-settings in the help.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "CKLF_PNGEncoder.h"
#include "CKLT_HostExport.h"
#include "CKLT_LayoutShaper.h"

struct CKLT_HostOptions {
  std::string input;
  std::string output;
  std::string selection;
  std::string plugin;
  std::string script;
  bool dialog = false;
  bool about = false;
  bool lockTransparency = false;
  bool noFilterCase = false;
  bool quiet = false;
  bool timings = false;  // the wall time of each step on the error stream
  int layer = -1;     // index of the filtered layer, bottom first; -1 the topmost visible one
  int16_t mode = -1;  // a colour mode to convert to first; -1 keeps the file's
  uint8_t fore[3] = {0, 0, 0};
  uint8_t back[3] = {255, 255, 255};
  bool foreGiven = false;
  bool backGiven = false;
  double dpi = 0;  // 0 keeps the file's
  int32_t maxSpace = 8 << 20;
  uint64_t memoryBudget = 0;  // 0: DefaultMemoryBudget()
  int64_t cancelAfter = -1;
  uint32_t threads = 0;  // the plug-in's and the PNG writer's; 0: the machine's
  CKLF_PNGEncoder::Settings png = CKLF_PNGEncoder::DefaultSettings();
  bool pngGiven = false;  // a --png-* option was given
  bool levelGiven = false;
  bool strategyGiven = false;
  // The settings the replay uses: a file, else the default layout with
  // these grid counts (0: the default grid) in Puzzle or Layout mode;
  // `last` hands none (the plug-in's own last settings).
  std::string settings;
  std::string saveSettings;
  int columns = 0;
  int rows = 0;
  bool layoutMode = false;
  bool last = false;
  // How the default layout is shaped.
  CKLT_LayoutShaper::Options shape;
  // What is exported beside the run (its options: CKLT_HostExport).
  CKLT_HostExport::Options exports;

  // One option: its names, the name of its value in the help (null for a
  // flag), its help text ("\n" starts another help line) and what it does
  // with its value (null for a flag): false with a reason.
  struct OptionEntry {
    const char* name;
    const char* shortName;
    const char* value;
    const char* help;
    bool (*take)(CKLT_HostOptions& options, const char* value, std::string& error);
  };

  // A table of options, linked after the tables known before it.
  struct OptionTable {
    const OptionEntry* entries;
    size_t count;
    OptionTable* next;
  };
  // Makes a table of further options known to the parser: kept, not
  // copied, and nothing allocated (a static initialiser calls it).
  static void AddTable(OptionTable& table);

  // 0 to run, 1 when help was asked for, -1 with a reason in error. An
  // option that takes a value may be given once.
  [[nodiscard]] static int Parse(const std::vector<std::string>& args, CKLT_HostOptions& options, std::string& error);
  static std::string Usage();
  // A number as options take it: plain decimal digits alone (no sign, no
  // space), within low..high.
  static bool ParseNumber(const char* s, uint64_t low, uint64_t high, uint64_t& out);
  // A file option's value into out; an empty name is refused.
  [[nodiscard]] static bool TakeFileName(const char* option, const char* value, std::string& out, std::string& error);
  // Names for a message: "a", "a and b", "a, b and c" (with another last
  // joint, "a or b").
  static std::string Listed(const std::vector<std::string>& names, const char* lastJoint = " and ");

  // Half the machine's memory, or half the process's memory limit when
  // that is lower.
  static uint64_t DefaultMemoryBudget();
  uint64_t Budget() const { return memoryBudget ? memoryBudget : DefaultMemoryBudget(); }

 private:
  [[nodiscard]] bool i_Check(std::string& error) const;
};
