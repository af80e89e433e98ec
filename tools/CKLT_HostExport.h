// The host program's export: the pieces of the layout it replays as one
// layered PSD file or as PNG files, and its knives as an EPS or AI file,
// with the export dialogs' choices and through the same export run as the
// dialogs. The pieces are cut in the program by the plug-in's own replay
// code on the document the plug-in is served (the same filter area, the
// same pieces and effects, the records' selection and visibility), before
// the plug-in runs. Its options join the program's through their own table.
//
// Cost: one more cut and render of the document, and the export's.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class CKLT_FilterHost;
struct CKLT_HostOptions;

class CKLT_HostExport {
 public:
  // The export options (CKLT_HostOptions::exports).
  struct Options {
    std::string pieces;  // .psd: layers; .png: a file a piece named after it
    std::string knives;  // .eps or .ai
    uint8_t what = 2;    // 1 merged, 2 selected (all when none is), 3 all
    uint8_t naming = 2;  // 1 simple, 2 extended
    bool composite = true;
    bool withoutBevel = false;
    bool hidden = false;
    bool fullCanvas = true;
    uint8_t knivesWhat = 2;  // 2 selected (all when none is), 3 all
    bool any = false;        // some export option was given

    bool Wanted() const { return !pieces.empty() || !knives.empty(); }
  };

  // The options against the rest of the command line and the files: -1
  // when they may run, else the program's exit code with the reason (64
  // for an export option without an export, an export of no layout as
  // with --dialog or --about, or a file kind it does not make; 10 for a
  // file that cannot be written).
  [[nodiscard]] static int Check(const CKLT_HostOptions& o, std::string& error);

  // Exports as the options say from the settings the host holds (the
  // scripting descriptor, or with --last the plug-in's "last.data"), or
  // from handed when given (settings too large for the descriptor); notes
  // what it wrote on err, and adds each file or set it put in place to
  // placed (by its option), also when it fails after. PNG pieces are
  // named first and refused (64) when a name is another file of the run
  // or not a regular file. -1 to go on, else an exit code of the program
  // with message.
  [[nodiscard]] static int Run(CKLT_FilterHost& host, const CKLT_HostOptions& o, FILE* err, std::string& message,
                               std::vector<std::string>& placed, const std::vector<uint8_t>* handed = nullptr);
};
