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
// OnCreateControls, OnCtrlMessage (calling the base first) and, where a
// record has fields the sets do not cover, the spread's and the preview's
// operations.
//
// Cost: a slider move renders the sample picture once; the pieces are
// re-rendered by the main window at most once a 50 ms burst of finished
// edits. Limits: eight parameter sets.
#pragma once

#include "CEffectWindowServices.h"
#include "CFXEffectRecords.h"
#include "CFXParamSet.h"
#include "CFXSchedule.h"
#include "CKLF_CtrlButton.h"
#include "CKLF_CtrlRadioButton.h"
#include "CKLF_CtrlStaticImage.h"
#include "CKLF_CtrlStaticText.h"
#include "CKLF_ImageFX.h"
#include "CKLF_Window.h"

class CWndFX_Base : public CKLF_Window, public CEffectWindowServices, private CFXSchedulePort {
 public:
  static constexpr u32 kMaxParamSets = 8;
  // The edit lines' colours, in SetColors order.
  static const kltRGBA8 kEditColors[10];

  // name: the short effect name ("blur", "bc", "opac" ...); effect: the
  // engine's effect index.
  CWndFX_Base(const char* name, u8 effect);
  ~CWndFX_Base() override;

  // ---- The main window's side
  u8 CreateEffectWindow(const char* resource, kltSIZE_s position) override;
  void ShowEffectWindow() override;

  // ---- Window operations
  // Refused while the main window renders; otherwise the timers stop, OK or
  // Cancel runs, the main window leaves its effect mode and the platform
  // window closes (the object stays for the main window to delete).
  void Close() override;
  u8 OnCreate(CKLF_LayerSet* set, u16 w, u16 h) override;
  void OnTimer(u16 id) override;
  // Return closes as OK, Escape as Cancel.
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

  void EnableModalityButtons(u8 on) override;
  void ResetAADirection();
  void SetMode(u8 mode);
  void ChangeMode(u8 mode) {
    if (GetMode() != mode) SetMode(mode);
  }
  u8 GetMode() const { return m_mode; }
  void RedrawPreview();
  void Changes(u16 t) { m_schedule.Changes(t); }
  u8 GetAAMode() const;
  void UpdateStatus(const char* text) { m_schedule.UpdateStatus(text); }

  // ---- State read by the parameter sets, the subclasses and the tests
  CFXEffectRecords& Records() { return m_records; }
  const CKLF_String& GetEffectName() const { return m_name; }
  u8 IsCreated() const { return m_created; }
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

 protected:
  // Called from the subclass's constructor, in the order the controls are
  // to be added.
  void AddParamSet(CFXParamSet* set);
  // The subclass's controls: the parameter sets' range bars, "A" boxes,
  // edit lines and sliders, in that order.
  virtual u8 OnCreateControls();
  // After created is set, before Init.
  virtual void OnCreated() {}
  // value 1's sliders are set with a message in Init (the slider handler
  // then runs), else silently and the handlers are run while dragging.
  void SetInitNotifies(u8 on) { m_initNotifies = on; }
  // The sample picture's part under the preview as the effect's source and
  // the result layer's part as its destination.
  CKLF_ImageFX& SampleFX() { return m_fx; }
  u8 GetColorKind() const { return m_colorKind; }
  CFXParamSet* ParamSet(u32 i) const { return i < m_setCount ? m_sets[i] : nullptr; }
  u32 ParamSetCount() const { return m_setCount; }
  CEffectWindowServices::Owner* GetOwner() const { return mainWindow; }

 private:
  // CFXSchedulePort
  void StartTimer(u16 id, u32 ms) override { SetTimer(ms, id); }
  void StopTimer(u16 id) override { KillTimer(id); }
  void RegenerateData() override { DoRegenerateData(); }
  u8 IsMainWindowBusy() override { return mainWindow && mainWindow->IsRerenderBusy(); }
  u8 AreModalityButtonsEnabled() override { return m_ok && m_ok->IsEnabled(); }
  void UpdateMainWindow(u8 force) override { DoUpdateMainWindow(force); }
  u8 GetStatusOpacity() override { return m_status ? m_status->GetOpacity() : 255; }
  void SetStatusOpacity(u8 opacity) override;
  void SetStatusText(const CKLF_String& text) override;

  // The steps of OnCreate.
  u8 i_TakeOwner();
  u8 i_CreatePreviewLayers();
  u8 i_AddCommonControls();
  template <class C>
  u8 i_Add(const char* suffix, u8 type, C*& control, u32* id = nullptr);
  u8 i_SetSampleSource();
  void i_ReadMainPreview();
  u8 i_OnCommonControl(u32 id, u8 type, void* data);
  void i_HelpMenu();
  void i_StoreSettings();

  CKLF_String m_name;
  u8 m_closedByOk;
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
  // The sample preview.
  u32 m_checkerLayerId;
  kltRECT_s m_previewRect;
  CKLF_Layer m_checkerLayer;
  u32 m_resultLayerId;
  CKLF_Layer m_resultLayer;
  CKLF_ImageFX m_fx;
  CFXParamSet* m_sets[kMaxParamSets];
  CFXSpread::FIELDSTATE m_fields[kMaxParamSets];
  u32 m_setCount;
  CFXSpread::RandomProc m_randomSource;
  CFXEffectRecords m_records;
  CFXSchedule m_schedule;
};
