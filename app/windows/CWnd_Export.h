// The piece export dialog from the resource "Export": a thin window over
// CExportDialogModel. Its radio buttons and check boxes follow the
// model's settings and rules, the statistics and the naming example show
// the model's texts, and Export asks first when the export is very large
// (more than 100 layers or 500 files) before the dialog ends with 1;
// Return presses Export. Cancel, the close box and Escape end it with 0.
// CMainDialogs opens it.
//
// Cost: a change of a setting redraws the two texts. Limits: the model's.
#pragma once

#include "CExportDialogModel.h"
#include "CWnd_Dialog.h"

class CWnd_Export : public CWnd_Dialog {
 public:
  // The controls in the order they are made (their ids).
  enum CONTROL : u32 {
    kHelp, kCloseX, kExport, kCancel, kMerged, kSelected, kAll, kToPSD, kToPNG, kNamingSimple, kNamingExtended,
    kComposite, kWOBevel, kHidden, kFullCanvas, kStatus, kDisplay, kNamingDisp,
    kControlCount
  };
  static const char* const kName;  // "Export": the resource, the tips' window and the position

  CWnd_Export(CMainWindowPort& port, const CExportDialogModel::FACTS& facts,
              const CExportDialogModel::SETTINGS& settings);
  ~CWnd_Export() override;

  // The controls, the texts and the status timer; 0 with error 192 when a
  // resource is missing.
  u8 OnCreate(CKLF_LayerSet* layers, u16 width, u16 height) override;
  // Over no control: the tips of the statistics and the naming example.
  u8 OnMouseMove(i16 x, i16 y, u8 mods) override;
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;

  // The controls follow the model, then the texts.
  void OnChangeSettings();
  void UpdateDisplay();
  // Ends the dialog with 1 unless nothing would be exported or the user
  // declines the question about a very large export.
  void OnOK();

  const CExportDialogModel& GetModel() const { return m_model; }

 protected:
  // Return presses Export, the default button.
  u8 OnReturn() override { return OnOK(), 1; }

 private:
  CExportDialogModel m_model;
};
