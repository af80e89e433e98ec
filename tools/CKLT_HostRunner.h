// The host program's run: parses the command line, reads the document
// (and a selection), loads the plug-in, serves it through CKLT_FilterHost
// as an image host does (About, or Parameters / Prepare / Start / Continue
// / Finish), keeps the scripting descriptor in a file between runs (record
// and play), shows the progress, writes the result and maps the
// plug-in's result to an exit code with a one-line message.
//
// Cost: the document is held whole, plus one canvas copy of the filtered
// layer and of every layer offered to the plug-in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class CKLT_HostRunner {
 public:
  struct Options {
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
    int layer = -1;        // index of the filtered layer, bottom first; -1 the top one
    int16_t mode = -1;     // a colour mode to convert to first; -1 keeps the file's
    uint8_t fore[3] = {0, 0, 0};
    uint8_t back[3] = {255, 255, 255};
    double dpi = 0;        // 0 keeps the file's
    int32_t maxSpace = 8 << 20;
    int64_t cancelAfter = -1;
    // The settings the replay uses: a file, else the default layout with
    // these grid counts (0: the default grid) in Puzzle or Layout mode;
    // `last` hands none (the plug-in's own last settings).
    std::string settings;
    std::string saveSettings;
    int columns = 0;
    int rows = 0;
    bool layoutMode = false;
    bool last = false;
  };

  // Exit codes of the program.
  enum {
    kExitOk = 0,
    kExitCancelled = 1,
    kExitMemory = 2,
    kExitBadParameters = 3,
    kExitBadMode = 4,
    kExitOtherResult = 5,
    kExitFiles = 10,
    kExitUsage = 64
  };

  // 0 to run, 1 when help was asked for, -1 with a reason in error.
  static int ParseArgs(const std::vector<std::string>& args, Options& options, std::string& error);
  static const char* Usage();
  static int ExitCodeFor(int16_t result);
  static std::string MessageFor(int16_t result);

  // Runs with the options; progress goes to progressOut (null: none), as a
  // redrawn bar on a terminal, else as a line at each quarter passed.
  // Returns the exit code; message is the one line to show.
  int Run(const Options& options, FILE* progressOut, std::string& message);
  int16_t LastResult() const { return m_lastResult; }

 private:
  int16_t m_lastResult = 0;
};
