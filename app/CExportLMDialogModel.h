// The knife export dialog without its window: its two settings and their
// records ("Export LM Settings>..."), the facts about the knives of the
// three lists it opens with, the rules of its controls, the count of
// knives the export writes and the statistics text.
//
// Cost: counting is one pass over the knives. Limits: the layout's.
#pragma once

#include "CExportDialogModel.h"

class CLayoutModel;

class CExportLMDialogModel {
 public:
  enum : u8 { kSelected = 2, kAll = 3 };
  enum : u8 { kToEPS = 1, kToAI = 2 };

  struct SETTINGS {
    u8 what;
    u8 to;
  };
  typedef CExportDialogModel::FACTS FACTS;
  typedef CExportDialogModel::CONTROL CONTROL;
  static constexpr u32 kControls = 5;

  static const char* const kFolder;  // "Export LM Settings"

  static SETTINGS Defaults() { return SETTINGS{kSelected, kToEPS}; }
  static SETTINGS Read(CKLF_Storage* store);
  [[nodiscard]] static u8 Write(CKLF_Storage* store, const SETTINGS& s);
  // Over every knife of the three lists.
  static FACTS Count(const CLayoutModel& layout);

  CExportLMDialogModel(const FACTS& facts, const SETTINGS& settings);

  void OnChangeSettings();
  u8 OnControl(const char* name, u8 on);

  const SETTINGS& Settings() const { return m_settings; }
  const CONTROL* Controls() const { return m_controls; }
  u8 IsEnabled(const char* name) const { return CExportDialogModel::EnabledIn(m_controls, kControls, name); }
  u32 Result() const { return m_result; }
  u8 CanExport() const { return m_result > 0; }
  // 0 without memory for the text.
  [[nodiscard]] u8 DisplayText(CKLF_String& out) const;

 private:
  FACTS m_facts;
  SETTINGS m_settings;
  u32 m_result;
  CONTROL m_controls[kControls];
};
