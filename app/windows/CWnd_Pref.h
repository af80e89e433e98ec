// The preferences dialog from the resource "Pref": a thin window over a
// copy of CPreferences. Radio buttons choose a checkerboard or a solid
// colour for transparency and for the area outside the image, a click on
// a swatch opens the colour picker for its colour (and switches its group
// to the swatch's kind), the sample shows both, the check box fits the
// preview on start and the edit line holds the hidden knives' opacity in
// per cent (10 to 50). OK (or Return) ends the dialog with 1, Cancel, the
// close box and Escape with 0. CMainDialogs opens it.
//
// Cost: a change redraws the sample (its area twice) and the swatches.
#pragma once

#include "CKLF_Layer.h"
#include "CPreferences.h"
#include "CWnd_Dialog.h"

class CWnd_Pref : public CWnd_Dialog {
 public:
  // The controls in the order they are made (their ids).
  enum CONTROL : u32 {
    kDisOpacity, kCloseX, kCancel, kOk, kHelp, kFCB, kFSolid, kTCB, kTSolid, kStatus, kFitOnLoad,
    kControlCount
  };
  // The sample, then the swatches in CPreferences::Swatch order.
  enum PICTURE : u32 { kSample = 0, kSwatch0 = 1, kPictures = 1 + CPreferences::kSwatches };
  static const char* const kName;  // "Pref": the resource
  static const char* const kTips;  // "Preferences": the tips' window
  // The edit line's colours, in SetColors order.
  static const kltRGBA8 kEditColors[10];

  CWnd_Pref(CMainWindowPort& port, const CPreferences& values);
  ~CWnd_Pref() override;

  // The rectangles, the pictures and the controls showing the values; 0
  // when a rectangle or a control is missing.
  u8 OnCreate(CKLF_LayerSet* layers, u16 width, u16 height) override;
  // A swatch opens the colour picker; elsewhere nothing.
  u8 OnLMouseDown(i16 x, i16 y, u8 mods) override;
  // Over no control: the tips of the sample and the swatches.
  u8 OnMouseMove(i16 x, i16 y, u8 mods) override;
  u8 OnAboveControl(u32 id) override;
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;
  void OnCtrlLostFocus(u32 id) override;
  u8 OnReturn() override;

  // The opacity typed, and the text put right when the line is left.
  void OnEdit(const char* text);
  void OnEdit_LF();
  // A swatch's colour from the colour picker; nothing when cancelled.
  void OnSwatch(CPreferences::Swatch swatch);
  void RedrawColors();
  void DoRedrawPreview();

  const CPreferences& GetValues() const { return m_values; }
  kltRECT_s GetPictureRect(PICTURE p) const { return m_rects[p]; }

 protected:
  u8 i_TipState(const CKLF_Control*) const override { return 1; }

 private:
  u8 i_CreatePictures();
  void i_SetUpControls(i32 editFont);
  // The picture under a window point; kPictures when none.
  u32 i_PictureAt(i16 x, i16 y) const;
  void i_ShowPicture(u32 p);

  CPreferences m_values;
  kltRECT_s m_rects[kPictures];
  CKLF_Layer m_layers[kPictures];
  const char* m_zone;
};
