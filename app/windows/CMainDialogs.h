// The main window's dialogs as its commands open them, each modal over the
// main window that the port stands for (its window, its plug-in object,
// the application's tips and Help menu, its message box, alerts and
// progress): the piece export and the knife export with their settings in
// the configuration store and the files they write, the channel selection
// and the preferences. The main window routes its commands here (Puzzle
// mode's export and channel selection, Layout mode's export and channel
// selection through CLayoutView::AskChannelMap, the preferences) and shows
// what comes back.
//
// Cost: the dialogs' own; an export costs what CExportRun or CExportKnives
// does.
#pragma once

#include "CLayoutView.h"
#include "CPreferences.h"

class CKLF_Image;
class CKLF_Mem;
class CKLF_Window;
class CLayoutModel;
class CMainWindowPort;
class CTessarette;

class CMainDialogs {
 public:
  enum OUTCOME : u8 {
    kNotOpened = 0,  // no plug-in object, or the window could not be made
    kRefused,        // not an RGB document (the user was told)
    kCancelled,      // the dialog or the save question was cancelled
    kExported,       // every file was written
    kFailed          // a file could not be written (the user was told)
  };
  struct EXPORTED {
    u8 outcome;
    u32 files;    // files written (also when a later one failed)
    u32 skipped;  // PNG pieces with nothing on the canvas, not written
  };

  static constexpr const char* kUnsupportedHeader = "Unsupported Color mode for Export!";
  static constexpr const char* kUnsupportedText = "Export feature is supported ONLY for \ndocuments in the RGB color mode.";
  static constexpr const char* kExporting = "Exporting is in progress:";

  // The piece export of an RGB document: the dialog over the engine's
  // pieces with the stored settings, at its stored place; on Export the
  // settings are stored, the save question asks for the PSD file or the
  // PNG files' name, and the export run writes them (each file through a
  // temporary file renamed into place).
  static EXPORTED DoExportDialog(CMainWindowPort& port, CTessarette& engine);
  // The knife export of the layout's knives: the dialog, the settings
  // stored, the save question for the EPS or AI file, the file written.
  static EXPORTED DoExportLMDialog(CMainWindowPort& port, CLayoutModel& layout);

  // The channel selection for pieces or knives (the tips speak of them),
  // combining allowed when something is selected, over the document's
  // picture (null: none): 1 when it ended with OK, with the mode, the
  // invert flag and the map (kept in map) in choice.
  static u8 DoChannelDialog(CMainWindowPort& port, const CKLF_Image* thumbnail, u8 combineAllowed, u8 knives,
                            CKLF_Mem& map, CLayoutView::CHANNELMAP& choice);

  // The preferences, centred: 1 when the dialog ended with OK; prefs then
  // holds the new values and the configuration store has them, for the
  // main window to show. Otherwise nothing changes.
  static u8 DoPrefDialog(CMainWindowPort& port, CPreferences& prefs);

  // A chosen save path with the extension added when the name lacks it
  // (whatever its case).
  // 0 without memory for it.
  [[nodiscard]] static u8 WithExtension(const char* path, const char* extension, CKLF_String& out);

 private:
  // Creates the window from the resource name at the position stored under
  // name and parent (centred without a parent name), over the main window,
  // and runs it; -1 when it could not be made, or its position could not
  // be read for want of memory (the dialog's error says why).
  static i32 i_RunModal(CKLF_Window& dialog, CMainWindowPort& port, const char* name, const char* parent);
};
