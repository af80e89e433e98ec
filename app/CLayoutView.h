// What the layout operations ask of the window that shows them: redraws,
// alerts, the status line's progress, the Layout-mode button states and
// the channel dialog. The main window implements it; without a window the
// operations run with no port at all (every call is then skipped), and
// tests implement only what they watch.
#pragma once

#include "KLF_Types.h"

class CLayoutView {
 public:
  // A document channel chosen in the channel selection dialog.
  struct CHANNELMAP {
    u8 mode;    // 0 New, 1 Add, 2 Subtract, 3 Intersect
    u8 invert;
    const u8* map;  // 8 bits a pixel, the size of the filtered area
    u32 width;
    u32 height;
    u32 stride;
  };

  static constexpr const char* kMemoryProblem = "Memory allocation problem...";
  static constexpr const char* kErrorTitle = "Error!";
  static constexpr const char* kSplitterProgress = "The Splitter's calculation is in progress:";

  virtual ~CLayoutView() {}

  // Redraw the splitting inside the last clip rectangles, then render and
  // update the preview.
  virtual void RedrawSplitting() {}
  // Repaint both split rulers and show them.
  virtual void RedrawRulers() {}
  // A modal alert ("Memory allocation problem...", "Error!").
  virtual void Alert(const char* text, const char* title) { (void)text, (void)title; }
  // The status line's progress of a long redraw, shown after the text
  // kSplitterProgress; -1 empties it.
  virtual void StatusProgress(i32 percent) { (void)percent; }
  // The knife selection changed: "Main_DelKnives", "Main_Show" and
  // "Main_Hide" follow the considered knives.
  virtual void OnKnifeSelectionChanged() {}
  // The knot selection changed: "Main_AddKnives" follows it.
  virtual void OnKnotSelectionChanged() {}
  // The knot random amount as the "Main_RndKnots" controls show it (0..100).
  virtual void ShowKnotRandomAmount(u32 percent) { (void)percent; }
  // Runs the modal "ChannelList" dialog for knives; 1 when it ended with OK
  // and filled choice.
  virtual u8 AskChannelMap(u8 anyKnifeSelected, CHANNELMAP& choice) {
    (void)anyKnifeSelected, (void)choice;
    return 0;
  }
};
