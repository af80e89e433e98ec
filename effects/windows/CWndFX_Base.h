// The common base of the effect windows: a modeless window the main window
// opens in Puzzle mode to edit one effect on the listed pieces. It owns what
// the windows share: the common controls ("FX" + name + "_Ok", "_Cancel",
// "_CloseX", "_Help", "_Reset", "_Preview" button and check box, "_AAdjust",
// the spread directions "_AT" ... "_ATR" and "_ARND", "_Status", "_GFrm",
// "_Object"), the sample preview (the "_Object" picture under the effect
// over a checkerboard in the main window's transparency colours), value 1,
// value 2 and the mode saying which one is edited, the parameter sets, the
// spread, the status line, the timers and the road to the main window
// (CFXEffectRecords, CFXSchedule).
//
// A window is made by its subclass: the effect name and index, its
// parameter sets (CFXParamSet, registered in its constructor) and its
// sample preview (UpdatePreview). Windows with other controls override
// OnCreateControls, OnCtrlMessage and OnCtrlLostFocus (calling the base
// first), and the hooks of the spread (AddSpreadFields, OnEnableSpread)
// and of Init (OnInitValues) for the fields the sets do not cover.
//
// Cost: a slider move renders the sample picture once; the pieces are
// re-rendered by the main window at most once a 50 ms burst of finished
// edits. Limits: eight parameter sets, sixteen spread fields.
#pragma once

#include "CEffectWindowServices.h"
#include "CFXEffectRecords.h"
#include "CFXParamSet.h"
#include "CFXSchedule.h"
#include "CFXStatusLine.h"
#include "CKLF_CtrlButton.h"
#include "CKLF_CtrlRadioButton.h"
#include "CKLF_CtrlStaticImage.h"
#include "CKLF_CtrlStaticText.h"
#include "CKLF_ImageFX.h"
#include "CKLF_Window.h"

class CWndFX_Base : public CKLF_Window, public CEffectWindowServices, private CFXSchedulePort {
 public:
  static constexpr u32 kMaxParamSets = 8;
  static constexpr u32 kMaxFields = 16;
  // name: the short effect name ("blur", "bc", "opac" ...); effect: the
  // engine's effect index.
  CWndFX_Base(const char* name, u8 effect);
  ~CWndFX_Base() override;

  // ---- The main window's side
  u8 CreateEffectWindow(const char* resource, kltSIZE_s position) override;
  void ShowEffectWindow() override;

  // ---- Window operations
  // The timers stop, OK or Cancel runs, the main window leaves its effect
  // mode and the platform window closes (the object stays for the main
  // window to delete). While the main window renders, OK is refused, and
  // Cancel stops the render and closes once it has stopped.
  void Close() override;
  // While it closes (OK's or Cancel's render runs the windows' events) the
  // window takes no mouse or keys.
  int32_t OnPlatformEvent(const KLP_Event& event) override;
  u8 OnCreate(CKLF_LayerSet* set, u16 w, u16 h) override;
  void OnTimer(u16 id) override;
  // Return closes as OK, Escape as Cancel (also from an edit line, whose
  // edit they end first).
  u8 OnKeyDown(u8 key, u8 mods) override;
  u8 OnAboveControl(u32 id) override;
  // 0 until created; the common controls, the parameter sets, the Help
  // menu's choice and the accelerators passed on to the main window.
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;
  void OnCtrlLostFocus(u32 id) override;

  // ---- Effect window operations
  // Results into the working records and the pieces re-rendered, then the
  // position and the main-preview switch stored.
  virtual void OnOk();
  // Backups into the working records and the pieces re-rendered.
  virtual void OnCancel();
  virtual void OnReset() { Init(); }
  virtual u8 OnPreparePieces();
  virtual void EnableAutoAdjustments(u8 on);
  virtual void OnAutoAdjustments(u8 on);
  virtual void OnMainPreview(u8) {}
  // Renders the sample picture with the mode's record.
  virtual void UpdatePreview() {}
  // The edit lines show the mode's values.
  virtual void OnChangeMode(u8 mode);
  virtual void DoUpdateMainWindow(u8 force);
  virtual void DoRegenerateData();
  // Value 1 and value 2 from the pieces and the defaults, the controls
  // set from them, the spread off.
  virtual void Init();
  virtual void OnChangeAAMode(u8) { Changes(CFXSchedule::kDeferred); }

  // OK on or off (Cancel and the close box stay on).
  void EnableModalityButtons(u8 on) override;
  void ResetAADirection();
  void SetMode(u8 mode);
  void ChangeMode(u8 mode) {
    if (GetMode() != mode) SetMode(mode);
  }
  u8 GetMode() const { return m_mode; }
  void RedrawPreview();
  // Nothing once the window closes: a field it commits as it loses the
  // keys during OK's or Cancel's render changes no record.
  void Changes(u16 t) {
    if (!m_closing) m_schedule.Changes(t);
  }
  u8 GetAAMode() const;
  void UpdateStatus(const char* text) { m_schedule.UpdateStatus(text); }

  // ---- State read by the parameter sets, the subclasses and the tests
  CFXEffectRecords& Records() { return m_records; }
  const CKLF_String& GetEffectName() const { return m_name; }
  u8 IsCreated() const { return m_created; }
  // The document's colour kind: 0 grey, 1 RGB, 2 CMYK.
  u8 GetColorKind() const { return m_colorKind; }
  u8 IsAutoOn() const { return m_auto && m_auto->GetCheck(); }
  u8 IsMainPreviewOn() override { return m_mainPreview && m_mainPreview->GetCheck(); }
  // The spread as the controls set it.
  virtual void GetSpread(CFXEffectRecords::SPREAD& spread);
  // The random spread's source (the C library's rand() by default).
  void SetRandomSource(CFXSpread::RandomProc random) { m_randomSource = random; }
  CFXSchedule& Schedule() { return m_schedule; }
  // The sample preview's rectangle and result layer.
  kltRECT_s GetPreviewRect() const { return m_previewRect; }
  CKLF_Layer& ResultLayer() { return m_resultLayer; }
  CKLF_CtrlStaticImage* SampleImage() const { return m_object; }
  // The resource name "FX" + effect name + suffix.
  CKLF_String ResName(const char* suffix) const;
  // A control of the window's resources by its full name; null (and the
  // window's error) when it is missing.
  template <class C>
  C* AddNamed(const char* name, u8 type, u32* id = nullptr) {
    const i32 i = AddControl(name, type);
    if (i < 0) return nullptr;
    if (id) *id = static_cast<u32>(i);
    return static_cast<C*>(GetControl(static_cast<u32>(i)));
  }
  // An edit line of a parameter: the edit font, numbers only (negatives
  // where allowed), the shared colours.
  CKLF_CtrlEditLine* AddEdit(const char* name, u8 negatives, u32* id);
  // The layer of a named rectangle: RGBA over it, cleared to colour with
  // alpha 0 and added to the window's layers. Mode 1 makes it RGB: opaque,
  // its colours go to the screen as they are (a blend at full alpha comes
  // out a level off), for the colour swatches.
  u8 AddRectLayer(const char* name, kltRECT_s& rect, CKLF_Layer& layer, kltRGBA8 colour, u8 mode = 2);
  // "Memory allocation problem..." over this window.
  void TellNoMemory();

 protected:
  // Called from the subclass's constructor, in the order the controls are
  // to be added.
  void AddParamSet(CFXParamSet* set);
  // The subclass's controls: the parameter sets' range bars, "A" boxes,
  // edit lines and sliders, in that order.
  virtual u8 OnCreateControls();
  // After created is set, before Init.
  virtual void OnCreated() {}
  // Init's own part of a window, after value 1 and value 2 were loaded and
  // before the sets' sliders are set from them.
  virtual void OnInitValues() {}
  // The spread's fields the parameter sets do not give; their count.
  virtual u32 AddSpreadFields(CFXSpread::FIELDSTATE* /*out*/, u32 /*room*/) { return 0; }
  // The window's own controls when the spread is switched on or off, after
  // the sets' and before the sample preview is rendered.
  virtual void OnEnableSpread(u8 /*on*/) {}
  // value 1's sliders are set with a message in Init (the slider handler
  // then runs), else silently and the handlers are run while dragging.
  void SetInitNotifies(u8 on) { m_initNotifies = on; }
  // The sample picture's part under the preview as the effect's source and
  // the result layer's part as its destination.
  CKLF_ImageFX& SampleFX() { return m_fx; }
  // A preview effect's end: one that ran out of memory is told (the
  // sample shows without it); one that refuses shows nothing.
  void Previewed(u8 ok);
  CKLF_Font* GetInfoFont() const { return GetFont(m_infoFont); }
  // The value-2 frame, the sample picture's control.
  CKLF_CtrlStaticImage* FrameImage() const { return m_frame; }
  // The record of the mode's value as the preview shows it (the spread's
  // unchecked boxes at the engine's default).
  void PreviewRecord(u8* out);
  CFXParamSet* ParamSet(u32 i) const { return i < m_setCount ? m_sets[i] : nullptr; }
  u32 ParamSetCount() const { return m_setCount; }
  CEffectWindowServices::Owner* GetOwner() const { return mainWindow; }

 private:
  // CFXSchedulePort
  u8 StartTimer(u16 id, u32 ms) override { return SetTimer(ms, id); }
  void StopTimer(u16 id) override { KillTimer(id); }
  void RegenerateData() override { DoRegenerateData(); }
  u8 IsMainWindowBusy() override { return mainWindow && mainWindow->IsRerenderBusy(); }
  u8 IsPressHeld() override { return IsMouseCaptured(); }
  u8 AreModalityButtonsEnabled() override { return m_ok && m_ok->IsEnabled(); }
  void UpdateMainWindow(u8 force) override { DoUpdateMainWindow(force); }

  // The steps of OnCreate.
  u8 i_TakeOwner();
  u8 i_CreatePreviewLayers();
  u8 i_AddCommonControls();
  template <class C>
  u8 i_Add(const char* suffix, u8 type, C*& control);
  u8 i_SetSampleSource();
  void i_ReadMainPreview();
  u8 i_OnCommonControl(u32 id, u8 type, void* data);
  void i_HelpMenu();
  void i_StoreSettings();
  // Closes as OK (1) or Cancel (0).
  void i_CloseAs(u8 ok);
  void i_EnableButtons(u8 ok, u8 cancel);

  CKLF_String m_name;
  u8 m_closedByOk;
  // A Cancel came while the main window rendered: the window closes once
  // the render has stopped.
  u8 m_closePending;
  u8 m_closing;
  u8 m_colorKind;
  u8 m_created;
  u8 m_mode;
  u8 m_initNotifies;
  kltRGBA8 m_alpha[2];
  u32 m_editFont;
  u32 m_infoFont;
  // Common controls.
  CKLF_CtrlButton* m_help;
  CKLF_CtrlButton* m_closeBox;
  CKLF_CtrlButton* m_ok;
  CKLF_CtrlButton* m_cancel;
  CKLF_CtrlButton* m_reset;
  CKLF_CtrlButton* m_previewButton;
  CKLF_CtrlStaticImage* m_object;
  CKLF_CtrlStaticImage* m_frame;
  CKLF_CtrlButton* m_random;
  // Top, top-left, left, bottom-left, bottom, bottom-right, right, top-right.
  CKLF_CtrlRadioButton* m_direction[8];
  CKLF_CtrlCheckBox* m_mainPreview;
  CKLF_CtrlCheckBox* m_auto;
  CKLF_CtrlStaticText* m_status;
  CFXStatusLine m_statusLine;
  // The sample preview.
  u32 m_checkerLayerId;
  kltRECT_s m_previewRect;
  CKLF_Layer m_checkerLayer;
  u32 m_resultLayerId;
  CKLF_Layer m_resultLayer;
  CKLF_ImageFX m_fx;
  CFXParamSet* m_sets[kMaxParamSets];
  CFXSpread::FIELDSTATE m_fields[kMaxFields];
  u32 m_setCount;
  CFXSpread::RandomProc m_randomSource;
  CFXEffectRecords m_records;
  CFXSchedule m_schedule;
};
