#include "CExportLMDialogModel.h"

#include <cstring>

#include "CKLF_Storage.h"
#include "CLayoutModel.h"

const char* const CExportLMDialogModel::kFolder = "Export LM Settings";

CExportLMDialogModel::SETTINGS CExportLMDialogModel::Read(CKLF_Storage* store) {
  SETTINGS s = Defaults();
  if (!store) return s;
  CKLF_String key;
  u8 v = 0;
  if (store->GetRec(key.Format("%s>ExportWhat", kFolder), v)) s.what = v;
  if (store->GetRec(key.Format("%s>ExportTo", kFolder), v)) s.to = v;
  return s;
}

u8 CExportLMDialogModel::Write(CKLF_Storage* store, const SETTINGS& s) {
  if (!store) return 0;
  if (store->GetRecType(kFolder) != CKLF_Storage::klRecFolder && !store->AddFolder(kFolder)) return 0;
  CKLF_String key;
  return store->SetRecord(key.Format("%s>ExportWhat", kFolder), s.what) &&
         store->SetRecord(key.Format("%s>ExportTo", kFolder), s.to);
}

CExportLMDialogModel::FACTS CExportLMDialogModel::Count(const CLayoutModel& layout) {
  FACTS f = {};
  u32 unselectedShown = 0;
  f.pieces = layout.TotalKnifeCount();
  for (u32 i = 0; i < f.pieces; ++i) {
    const CLayoutModel::KNIFESTRUCT& k = *layout.NthKnife(i);
    f.selected += k.selected ? 1 : 0;
    f.hidden += k.hidden ? 1 : 0;
    f.selectedHidden += k.selected && k.hidden ? 1 : 0;
    unselectedShown += !k.selected && !k.hidden ? 1 : 0;
  }
  f.anySelected = f.selected > 0;
  f.notAllSelected = f.selected < f.pieces;
  f.unselectedShown = unselectedShown > 0;
  f.anyHidden = f.hidden > 0;
  return f;
}

CExportLMDialogModel::CExportLMDialogModel(const FACTS& facts, const SETTINGS& settings)
    : m_facts(facts), m_settings(settings), m_result(0), m_controls() {
  OnChangeSettings();
}

void CExportLMDialogModel::OnChangeSettings() {
  SETTINGS& s = m_settings;
  if (s.what == kSelected && !m_facts.anySelected) s.what = kAll;
  m_result = s.what == kSelected ? m_facts.selected - m_facts.selectedHidden : m_facts.pieces - m_facts.hidden;
  m_controls[0] = CONTROL{"ExportLM_Export", m_result > 0, 0};
  m_controls[1] = CONTROL{"ExportLM_Selected", m_facts.anySelected, s.what == kSelected};
  m_controls[2] = CONTROL{"ExportLM_All", 1, s.what == kAll};
  m_controls[3] = CONTROL{"ExportLM_ToEPS", 1, s.to == kToEPS};
  m_controls[4] = CONTROL{"ExportLM_ToAI", 1, s.to == kToAI};
}

u8 CExportLMDialogModel::OnControl(const char* name, u8 on) {
  static const struct {
    const char* name;
    u8 to;
    u8 value;
  } kRadios[] = {{"ExportLM_Selected", 0, kSelected}, {"ExportLM_All", 0, kAll}, {"ExportLM_ToEPS", 1, kToEPS},
                 {"ExportLM_ToAI", 1, kToAI}};
  for (const auto& r : kRadios) {
    if (!name || std::strcmp(name, r.name) != 0) continue;
    if (on) (r.to ? m_settings.to : m_settings.what) = r.value;
    OnChangeSettings();
    return 1;
  }
  return 0;
}

u8 CExportLMDialogModel::DisplayText(CKLF_String& out) const {
  CKLF_String result;
  const u8 made = m_result == 0   ? !(result = " --- ").IsError()
                  : m_result == 1 ? !(result = "1 knife").IsError()
                                  : result.Format("%d knives", static_cast<int>(m_result)) != nullptr;
  return made && CExportDialogModel::StatisticsText("Knives' Statistics:\n", m_facts, result, out);
}
