// The document layer picker ("Layers"): a modal list of the host
// document's layers, from which the image overlay window takes the layer
// it lays over the pieces. Each row is marked "+" when the layer's content
// covers the whole target (the pieces' area in document coordinates), and
// the rows that do not may be hidden. The selected layer shows as a
// thumbnail: the target part of it when it covers the target, else the
// whole layer with a blinking marker where the target lies; OK is enabled
// only for a layer that covers the target.
//
// The caller sets the owner (for its display preferences, tips and Help
// menu), the plug-in object (the layer table and the host's channels), the
// target, the layer to preselect and the filter; creates the window
// movable-modal from "Layers", runs DoModal (1 OK, 0 Cancel, the close box
// or Esc) and reads the chosen layer (kNone when no acceptable layer was
// chosen) and the filter. Cost: a selection reads one thumbnail through
// the host.
#pragma once

#include "CEffectWindowServices.h"
#include "CFXLayerList.h"
#include "CFXStatusLine.h"
#include "CKLF_CtrlButton.h"
#include "CKLF_CtrlList.h"
#include "CKLF_CtrlRadioButton.h"
#include "CKLF_CtrlScrollBar.h"
#include "CKLF_CtrlStaticText.h"
#include "CKLF_Window.h"

class CPluginMain;

class CWnd_LayersList : public CKLF_Window {
 public:
  enum : u16 { kTimerStatus = 1, kTimerBlink = 2 };
  enum : u32 { kBlinkMs = 500 };

  CWnd_LayersList();
  ~CWnd_LayersList() override;

  // ---- The caller's side, before creation
  void SetOwner(CEffectWindowServices::Owner* owner) { m_owner = owner; }
  void SetPlugin(CPluginMain* plugin) { m_plugin = plugin; }
  void SetTarget(kltRECT_s target) { m_model.SetTarget(target); }
  // The layer to preselect (CFXLayerList::kNone for none); afterwards the
  // chosen layer.
  void SetChosenId(i32 id) { m_chosen = id; }
  i32 GetChosenId() const { return m_chosen; }
  void SetShowFiltered(u8 on) { m_filtered = on ? 1 : 0; }
  u8 GetShowFiltered() const { return m_filtered; }

  // ---- Window operations
  void Close() override;
  u8 OnCreate(CKLF_LayerSet* set, u16 w, u16 h) override;
  void OnTimer(u16 id) override;
  u8 OnMouseMove(i16 x, i16 y, u8 mods) override;
  // Return takes the OK road (even while OK is disabled), Esc cancels.
  u8 OnKeyDown(u8 key, u8 mods) override;
  u8 OnAboveControl(u32 id) override;
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;

  // The list from the layer table; the preselected layer (else row 0)
  // selected, which draws its thumbnail.
  void FillList();
  // The selected row's thumbnail and marker; OK and the chosen layer follow
  // whether the layer covers the target.
  void DoRedrawPreview();
  void UpdateStatus(const char* text) { m_fade.UpdateStatus(text); }

  // ---- State read by the tests
  CFXLayerList& Model() { return m_model; }
  CKLF_CtrlList* List() const { return m_list; }
  CKLF_CtrlButton* OkButton() const { return m_ok; }
  kltRECT_s GetPreviewRect() const { return m_previewRect; }
  CKLF_Layer& ThumbnailLayer() { return m_thumbLayer; }
  CKLF_Layer& MarkerLayer() { return m_markerLayer; }

 private:
  u8 i_AddControls();
  u8 i_AddScrollBar();
  u8 i_CreateLayers();
  void i_OnList();
  // No layer to show: OK disabled, the thumbnail black.
  void i_ShowNothing();
  void i_DrawMarker(u8 acceptable);
  void i_RedrawPreviewRect();

  CEffectWindowServices::Owner* m_owner;
  CPluginMain* m_plugin;
  u32 m_listFont;
  u32 m_infoFont;
  CKLF_CtrlButton* m_help;
  CKLF_CtrlButton* m_closeBox;
  CKLF_CtrlButton* m_ok;
  u32 m_okId;
  CKLF_CtrlButton* m_cancel;
  CKLF_CtrlScrollBar* m_scroll;
  CKLF_CtrlList* m_list;
  CKLF_CtrlRadioButton* m_showAll;
  CKLF_CtrlRadioButton* m_showFiltered;
  CKLF_CtrlStaticText* m_status;
  CFXStatusLine m_statusLine;
  kltRECT_s m_previewRect;
  CKLF_Layer m_thumbLayer;
  CKLF_Layer m_markerLayer;
  CFXLayerList m_model;
  CFXStatusFade m_fade;
  i32 m_chosen;
  u8 m_filtered;
  u32 m_remembered;
  // The mouse over the preview while no control is under it.
  u8 m_inPreview;
};
