#include "CModeControls.h"

namespace {

typedef CModeControls C;

// Layout-mode tools: hidden in Puzzle mode.
const char* const kLayoutTools[] = {"Main_ApplyLM", "Main_AddKnives", "Main_DelKnives", "Main_ResetKnots"};
// Puzzle-mode commands hidden in Layout mode.
const char* const kPuzzleOnly[] = {"Main_Relayout", "Main_Apply"};
// Puzzle-mode commands that Layout mode leaves alone.
const char* const kPuzzleShared[] = {"Main_Show", "Main_Hide",   "Main_RevShowHide", "Main_Cancel", "Main_Export",
                                     "Main_CloseX", "Main_Main", "Main_Select",      "Main_Adjust"};
const char* const kEffects[] = {"Main_FXBevel",   "Main_FXHSL",   "Main_FXBC",     "Main_FXBlur", "Main_FXMBlur",
                                "Main_FXOpacity", "Main_FXCOver", "Main_FXStroke", "Main_FXIOver"};

C::CONTROLSTATE State(const char* name, u8 type, u8 enabled, u8 opacity, u8 visible = C::kKeep) {
  return C::CONTROLSTATE{name, type, enabled, opacity, visible};
}

}  // namespace

void CModeControls::GetStates(u8 layoutMode, u8 effectWindowOpen, u8 layerAccess, f32 randomKnotsAmount,
                              CONTROLSTATE out[kCount]) {
  u32 n = 0;
  const u8 free = effectWindowOpen ? 0 : 1;
  if (layoutMode) {
    for (const char* name : kLayoutTools) {
      const bool add = name == kLayoutTools[1];
      out[n++] = State(name, kButton, add ? 0 : 1, kDimmed);
    }
    out[n++] = State("Main_RndKnots", kButton, randomKnotsAmount != 0.0f ? 1 : 0, kDimmed);
    out[n++] = State("Main_RndKnots", kSlider, 1, kDimmed);
    out[n++] = State("Main_RndKnots", kEditLine, 1, kDimmed, 1);
    for (const char* name : kPuzzleOnly) out[n++] = State(name, kButton, 0, kHidden);
    for (const char* name : kPuzzleShared) out[n++] = State(name, kButton, kKeep, kKeep);
    for (const char* name : kEffects) {
      out[n++] = State(name, kCheckBox, 0, kHidden);
      out[n++] = State(name, kButton, 0, kHidden);
    }
    return;
  }
  for (const char* name : kLayoutTools) out[n++] = State(name, kButton, 0, kHidden);
  out[n++] = State("Main_RndKnots", kButton, 0, kHidden);
  out[n++] = State("Main_RndKnots", kSlider, 0, kHidden);
  out[n++] = State("Main_RndKnots", kEditLine, 0, kHidden, 0);
  for (const char* name : kPuzzleOnly) out[n++] = State(name, kButton, free, kDimmed);
  for (const char* name : kPuzzleShared) out[n++] = State(name, kButton, free, kDimmed);
  for (const char* name : kEffects) {
    const u8 on = name == kEffects[8] ? (free && layerAccess ? 1 : 0) : free;
    out[n++] = State(name, kCheckBox, on, kDimmed);
    out[n++] = State(name, kButton, on, kDimmed);
  }
}
