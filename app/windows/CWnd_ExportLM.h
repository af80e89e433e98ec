// The knife export dialog from the resource "ExportLM": a thin window over
// CExportLMDialogModel. Its radio buttons follow the model, the knives'
// statistics show its text, and Export (or Return) ends the dialog with 1
// when some knife would be exported; Cancel, the close box and Escape end
// it with 0.
// CMainDialogs opens it.
//
// Cost: a change of a setting redraws the statistics. Limits: the model's.
#pragma once

#include "CExportLMDialogModel.h"
#include "CWnd_Dialog.h"

class CWnd_ExportLM : public CWnd_Dialog {
 public:
  // The controls in the order they are made (their ids).
  enum CONTROL : u32 {
    kCloseX, kCancel, kExport, kHelp, kSelected, kAll, kToEPS, kToAI, kStatus, kDisplay,
    kControlCount
  };
  static const char* const kName;  // "ExportLM": the resource, the tips' window and the position

  CWnd_ExportLM(CMainWindowPort& port, const CExportLMDialogModel::FACTS& facts,
                const CExportLMDialogModel::SETTINGS& settings);
  ~CWnd_ExportLM() override;

  u8 OnCreate(CKLF_LayerSet* layers, u16 width, u16 height) override;
  // Over no control: the statistics' tip.
  u8 OnMouseMove(i16 x, i16 y, u8 mods) override;
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;

  void OnChangeSettings();
  void UpdateDisplay();
  void OnOK();

  const CExportLMDialogModel& GetModel() const { return m_model; }

 protected:
  // Return presses Export, the default button.
  u8 OnReturn() override { return OnOK(), 1; }

 private:
  CExportLMDialogModel m_model;
};
