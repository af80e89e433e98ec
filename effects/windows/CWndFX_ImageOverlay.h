// The image overlay window ("FXiovr"): the opacity (in percent, stored
// 0..255) at which a document layer is laid over each listed piece, one
// value or spread (always: it has no "A" box), and where the layer comes
// from: automatic (the engine picks, per piece, the smallest layer that
// covers it) or one layer chosen in the document layer picker among those
// that cover the listed pieces' area. A released slider updates the main
// window at once. The sample preview shows a second picture over the
// sample at the edited opacity; no document pixels are involved.
#pragma once

#include "CWndFX_Base.h"

class CWnd_LayersList;

class CWndFX_ImageOverlay : public CWndFX_Base {
 public:
  // The source menu's commands.
  enum : u16 { kCmdAuto = 32, kCmdChoose = 33 };

  CWndFX_ImageOverlay();
  ~CWndFX_ImageOverlay() override;

  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;
  u8 OnPreparePieces() override;
  void Init() override;
  void UpdatePreview() override;

  // The source text from value 1's source.
  void UpdateDisplay();
  // Runs the layer picker; a layer chosen with OK becomes both values'
  // source.
  void DoLayersWindow();
  // The union of the listed pieces' rectangles in document coordinates.
  kltRECT_s GetPiecesArea() const { return m_area; }
  // The picker while it runs, else null.
  CWnd_LayersList* RunningPicker() const { return m_picker; }

 protected:
  u8 OnCreateControls() override;
  void OnCreated() override;

 private:
  CTessarette::SFX_IMAGEOVERLAY& i_Value(u8 which);
  void i_SourceMenu();

  CFXParamSet m_opacity;
  CKLF_CtrlButton* m_choose;
  CKLF_CtrlStaticImage* m_overlay;
  CKLF_CtrlStaticText* m_source;
  kltRECT_s m_area;
  CWnd_LayersList* m_picker;
};
