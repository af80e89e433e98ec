// The host program's run: checks every file it will read or write (it
// replaces regular files only, no two outputs may be one file and no
// output a file it reads, but -o the input), refuses settings the plug-in could not replay,
// reads the document (and a selection) within the memory budget, loads the
// plug-in, serves it through CKLT_FilterHost as an image host does (About,
// or Parameters / Prepare / Start / Continue / Finish), keeps the scripting
// descriptor in a file between runs (record and play; settings too large
// for it are handed to a copy of the plug-in as its "last.data", and a
// script that could not hold them is refused), shows the
// progress and the plug-in's alerts, writes the result through an
// all-or-nothing replacement and maps the plug-in's result to an exit code
// with a one-line message, which names what a failing run had already put
// in place (exports, saved settings, the output). What it changes or
// cannot keep is said on the error stream as a note, and so is a cut whose
// pieces differ from the layout's cells (knives that cross). A replay whose cut gives no piece,
// or more than the plug-in takes, is refused as bad parameters, nothing
// written.
//
// Cost: the document's layers at their own sizes and what the plug-in asks
// for; a filtered layer that covers the canvas lends its planes to the host
// (else a canvas-sized copy), and the merged document is a copy unless it is
// that one opaque layer. Counting a puzzle's pieces draws the knives over
// the filtered area twice more and counts their regions (CKLT_PieceCount),
// about a twentieth of a whole run; on more than one thread while the
// plug-in runs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "CKLT_FilterHost.h"
#include "CKLT_HostDocument.h"
#include "CKLT_HostOptions.h"
#include "CKLT_PieceCount.h"
#include "CKLT_PluginFolder.h"

class CKLT_HostRunner {
 public:
  // Exit codes of the program.
  enum {
    kExitOk = 0,
    kExitCancelled = 1,
    kExitMemory = 2,
    kExitBadParameters = 3,
    kExitBadMode = 4,
    kExitOtherResult = 5,
    kExitNoDisplay = 6,
    kExitFiles = 10,
    kExitUsage = 64,
    kExitInternal = 70,
    // Plus the ending signal that came while the export placed its files:
    // the run named them, and the program ends on the signal.
    kExitSignal = 128
  };

  // A file the run writes or reads, by the option that names it; a side
  // output (any written file but -o) may not be a file the run reads, and
  // -o only the input.
  struct NamedFile {
    const char* option;
    std::string path;
    bool side;
  };
  // What the options say the run writes (the export's files as it makes
  // their names; PNG pieces excepted, named by the export itself) and
  // reads.
  // false without memory for them.
  [[nodiscard]] static bool Targets(const CKLT_HostOptions& o, std::vector<NamedFile>& targets);
  static std::vector<NamedFile> Reads(const CKLT_HostOptions& o);
  // Every target is a regular file or none, no two are one file, and none
  // is a file read but -o the input: else false with the reason.
  [[nodiscard]] static bool CheckTargets(const std::vector<NamedFile>& targets, const std::vector<NamedFile>& reads,
                           std::string& message);

  // Every file read that exists is a regular file: else false with the
  // reason.
  [[nodiscard]] static bool CheckReads(const std::vector<NamedFile>& reads, std::string& message);

  static int ExitCodeFor(int16_t result);
  static std::string MessageFor(int16_t result);
  // What the program holds besides a document and the run's work on it, on
  // threads (0: the machine's): its code, the plug-in's and the libraries',
  // their data and the stacks (6 MiB and 13 KiB a thread measured).
  static uint64_t OwnBytes(uint32_t threads);

  // Runs as the options say; notes, and progress unless quiet, go to err.
  // Returns the exit code; message is the one line to show last.
  [[nodiscard]] int Run(const CKLT_HostOptions& options, FILE* err, std::string& message);
  // The program's run from its main's arguments: the options parsed (the
  // help on out), the run, its last line ("tessarette-host: ...") on out
  // when done and on err otherwise; an allocation that throws ends it out
  // of memory. Returns the exit code.
  static int Main(int argc, const char* const* argv, FILE* out, FILE* err);
  int16_t LastResult() const { return m_lastResult; }

 private:
  static const int kGoOn = -1;

  [[nodiscard]] int i_CheckFiles(std::string& message);
  [[nodiscard]] int i_CheckRecording(std::string& message) const;
  [[nodiscard]] int i_LoadDocument(std::string& message);
  [[nodiscard]] int i_ChooseLayer(std::string& message);
  [[nodiscard]] int i_ServeDocument(std::string& message);
  [[nodiscard]] int i_ServeSelection(std::string& message);
  [[nodiscard]] int i_HandSettings(std::string& message);
  [[nodiscard]] int i_CheckLastSettings(std::string& message);
  [[nodiscard]] int i_Export(std::string& message);
  [[nodiscard]] int i_SaveSettings(std::string& message);
  [[nodiscard]] int i_RunPlugin(std::string& message);
  [[nodiscard]] int i_CountPieces(std::string& message);
  bool i_CountWanted() const;
  void i_CountNow();
  [[nodiscard]] bool i_CutRefused(int16_t result, std::string& message);
  uint32_t i_CountThreads() const;
  [[nodiscard]] bool i_Count(CKLT_PieceCount::Counts& counts, std::string& error) const;
  void i_NoteCounts(bool counted, const CKLT_PieceCount::Counts& counts, const std::string& error) const;
  void i_NoteUnusedColours(bool layoutMode) const;
  [[nodiscard]] int i_Explain(int16_t result, std::string& message) const;
  [[nodiscard]] int i_WriteOutput(std::string& message);
  [[nodiscard]] int i_RefuseEmptyScript(std::string& message) const;
  std::string i_PluginPath() const;
  void i_Note(const std::string& text) const;

  const CKLT_HostOptions* m_options = nullptr;
  FILE* m_err = nullptr;
  CKLT_HostDocument m_doc;
  std::unique_ptr<CKLT_FilterHost> m_host;
  size_t m_target = 0;
  bool m_targetOffCanvas = false;
  bool m_lent = false;  // the target layer's planes are the host's document planes
  bool m_scriptPlayed = false;
  bool m_scriptDamaged = false;  // the played script's block is one the plug-in's replay refuses
  // The replay's pieces as counted (m_countRan), while the plug-in runs
  // when threads are to spare.
  CKLT_PieceCount::Counts m_counts;
  std::string m_countError;
  bool m_counted = false;
  bool m_countRan = false;
  std::vector<CKLT_FilterHost::DescRecord> m_script;
  std::vector<uint8_t> m_block;  // the settings handed over; empty when not known
  // The settings do not fit the descriptor: they are the plug-in's
  // "last.data" in a folder of its own.
  bool m_handedAsFile = false;
  CKLT_PluginFolder m_folder;
  std::vector<std::string> m_placed;  // each file or set put in place, by its option
  int16_t m_lastResult = 0;
};
