#include "CExportDialogModel.h"

#include <cstring>

#include "CKLF_Storage.h"
#include "CTessarette.h"

namespace {

typedef CExportDialogModel M;

const char* const kRecords[] = {"ExportWhat",        "ExportTo",          "NamingMode",      "IncludeComposite",
                                "ExportWOBevel",     "IncludeHiddenPieces", "PreservePosition"};
const char kDashes[] = "---------------------------------\n";

u8* Field(M::SETTINGS& s, u32 i) {
  u8* fields[] = {&s.what, &s.to, &s.naming, &s.composite, &s.withoutBevel, &s.hidden, &s.fullCanvas};
  return fields[i];
}

// Radio buttons: (name, which setting, value); check boxes: value 0.
struct Named {
  const char* name;
  u32 field;
  u8 value;
};
const Named kNamed[] = {{"Export_Merged", 0, M::kMerged},          {"Export_Selected", 0, M::kSelected},
                        {"Export_All", 0, M::kAll},                {"Export_ToPSD", 1, M::kToPSD},
                        {"Export_ToPNG", 1, M::kToPNG},            {"Export_NamingSimple", 2, M::kSimple},
                        {"Export_NamingExtended", 2, M::kExtended}, {"Export_Composite", 3, 0},
                        {"Export_WOBevel", 4, 0},                  {"Export_Hidden", 5, 0},
                        {"Export_FullCanvas", 6, 0}};

}  // namespace

const char* const CExportDialogModel::kFolder = "Export Settings";

CExportDialogModel::SETTINGS CExportDialogModel::Defaults() { return SETTINGS{kSelected, kToPSD, kExtended, 1, 0, 0, 1}; }

CExportDialogModel::SETTINGS CExportDialogModel::Read(CKLF_Storage* store) {
  SETTINGS s = Defaults();
  CKLF_String key;
  for (u32 i = 0; store && i < 7; ++i) {
    u8 v = 0;
    if (store->GetRec(key.Format("%s>%s", kFolder, kRecords[i]), v)) *Field(s, i) = v;
  }
  return s;
}

u8 CExportDialogModel::Write(CKLF_Storage* store, const SETTINGS& s) {
  if (!store) return 0;
  if (store->GetRecType(kFolder) != CKLF_Storage::klRecFolder && !store->AddFolder(kFolder)) return 0;
  SETTINGS copy = s;
  CKLF_String key;
  for (u32 i = 0; i < 7; ++i)
    if (!store->SetRecord(key.Format("%s>%s", kFolder, kRecords[i]), *Field(copy, i))) return 0;
  return 1;
}

CExportDialogModel::FACTS CExportDialogModel::Count(const CTessarette& engine) {
  FACTS f = {};
  u32 unselectedShown = 0;
  f.pieces = engine.GetPieceCount();
  for (u32 i = 0; i < f.pieces; ++i) {
    const CTessarette::SPLITEDCELL& c = *engine.GetPiece(i);
    f.selected += c.selected ? 1 : 0;
    f.hidden += c.visible ? 0 : 1;
    f.selectedHidden += c.selected && !c.visible ? 1 : 0;
    unselectedShown += !c.selected && c.visible ? 1 : 0;
  }
  f.anySelected = f.selected > 0;
  f.notAllSelected = f.selected < f.pieces;
  f.unselectedShown = unselectedShown > 0;
  f.anyHidden = f.hidden > 0;
  return f;
}

u8 CExportDialogModel::LayerName(u8 naming, u32 number, u32 piece, u32 row, u32 column, CKLF_String& out) {
  if (naming == kSimple) return out.Format("Layer %u", number) != nullptr;
  return out.Format("L%u - Piece: %u (R: %u / C: %u)", number, piece, row, column) != nullptr;
}

u8 CExportDialogModel::FileSuffix(u8 naming, u32 number, u32 piece, u32 row, u32 column, CKLF_String& out) {
  if (naming == kSimple) return out.Format("_%04u", number) != nullptr;
  return out.Format("_F%04u-Piece%u_R%u_C%u", number, piece, row, column) != nullptr;
}

u8 CExportDialogModel::StatisticsText(const char* header, const FACTS& f, const char* result, CKLF_String& out) {
  return out.Format("%s%s Total :\t%d\n Selected :\t%d\n%s Shown...\n ...total :\t%d\n ...selected :\t%d\n\n"
                    " Hidden...\n ...total :\t%d\n ...selected :\t%d\n%s%sResult: %s",
                    header, kDashes, static_cast<int>(f.pieces), static_cast<int>(f.selected), kDashes,
                    static_cast<int>(f.pieces - f.hidden), static_cast<int>(f.selected - f.selectedHidden),
                    static_cast<int>(f.hidden), static_cast<int>(f.selectedHidden), kDashes, kDashes,
                    result) != nullptr;
}

CExportDialogModel::CExportDialogModel(const FACTS& facts, const SETTINGS& settings)
    : m_facts(facts), m_settings(settings), m_compositeAllowed(0), m_hiddenAllowed(0), m_fullCanvasAllowed(0),
      m_result(0), m_controls() {
  OnChangeSettings();
}

void CExportDialogModel::i_Set(u32 slot, const char* name, u8 enabled, u8 checked) {
  m_controls[slot] = CONTROL{name, enabled, checked};
}

void CExportDialogModel::OnChangeSettings() {
  SETTINGS& s = m_settings;
  const FACTS& f = m_facts;
  if (s.what == kSelected && !f.anySelected) s.what = kAll;
  m_compositeAllowed = f.anySelected && s.what == kSelected && f.notAllSelected && f.unselectedShown;
  m_hiddenAllowed = s.to == kToPSD && f.anyHidden && s.what != kMerged &&
                    (s.what == kAll || (s.what == kSelected && f.selectedHidden > 0));
  m_fullCanvasAllowed = s.to == kToPNG && s.what != kMerged;
  const u8 psd = s.to == kToPSD;
  if (s.what == kMerged)
    m_result = 1;
  else if (s.what == kSelected)
    m_result = (psd && s.hidden && m_hiddenAllowed ? f.selected : f.selected - f.selectedHidden) +
               (m_compositeAllowed && s.composite ? 1 : 0);
  else
    m_result = psd && s.hidden && m_hiddenAllowed ? f.pieces : f.pieces - f.hidden;
  const u8 naming = m_result > 0 && s.what != kMerged;
  i_Set(0, "Export_Export", m_result > 0, 0);
  i_Set(1, "Export_Merged", 1, s.what == kMerged);
  i_Set(2, "Export_Selected", f.anySelected, s.what == kSelected);
  i_Set(3, "Export_All", 1, s.what == kAll);
  i_Set(4, "Export_ToPSD", 1, psd);
  i_Set(5, "Export_ToPNG", 1, s.to == kToPNG);
  i_Set(6, "Export_NamingSimple", naming, s.naming == kSimple);
  i_Set(7, "Export_NamingExtended", naming, s.naming == kExtended);
  i_Set(8, "Export_Composite", m_compositeAllowed, s.composite != 0);
  i_Set(9, "Export_WOBevel", s.what != kMerged, s.withoutBevel != 0);
  i_Set(10, "Export_Hidden", m_hiddenAllowed, s.hidden != 0);
  i_Set(11, "Export_FullCanvas", m_fullCanvasAllowed, s.fullCanvas != 0);
}

u8 CExportDialogModel::OnControl(const char* name, u8 on) {
  for (const Named& n : kNamed) {
    if (!name || std::strcmp(name, n.name) != 0) continue;
    u8* field = Field(m_settings, n.field);
    if (n.value)
      *field = on ? n.value : *field;
    else
      *field = on ? 1 : 0;
    OnChangeSettings();
    return 1;
  }
  return 0;
}

CExportDialogModel::SETTINGS CExportDialogModel::Effective() const {
  SETTINGS s = m_settings;
  s.composite = m_compositeAllowed && s.composite ? 1 : 0;
  s.hidden = m_hiddenAllowed && s.hidden ? 1 : 0;
  s.fullCanvas = m_fullCanvasAllowed && s.fullCanvas ? 1 : 0;
  if (s.what == kMerged) s.withoutBevel = 0;
  return s;
}

u8 CExportDialogModel::EnabledIn(const CONTROL* controls, u32 count, const char* name) {
  for (u32 i = 0; name && i < count; ++i)
    if (controls[i].name && std::strcmp(name, controls[i].name) == 0) return controls[i].enabled;
  return 0;
}

u8 CExportDialogModel::DisplayText(CKLF_String& out) const {
  CKLF_String result;
  const u8 png = m_settings.to == kToPNG;
  const u8 made = m_result == 0   ? !(result = " --- ").IsError()
                  : m_result == 1 ? !(result = png ? "1 file" : "1 layer").IsError()
                                  : result.Format(png ? "%d files" : "%d layers", static_cast<int>(m_result)) != nullptr;
  return made && StatisticsText("Pieces' Statistics:\n", m_facts, result, out);
}

u8 CExportDialogModel::NamingExample(CKLF_String& out) const {
  const u8 png = m_settings.to == kToPNG;
  CKLF_String part;
  if (m_result == 0) return !(out = " ---").IsError();
  if (m_settings.what == kMerged) return !(out = png ? "[file]" : "Merged").IsError();
  if (png) return FileSuffix(m_settings.naming, 112, 95, 8, 12, part) && out.Format("[file]%s", part.GetStr());
  return LayerName(m_settings.naming, 112, 95, 8, 12, out);
}

u8 CExportDialogModel::Question(CKLF_String& header, CKLF_String& text, u8& ask) const {
  ask = 1;
  if (m_settings.to == kToPSD && m_result > kManyLayers)
    return !(header = "You are about to save more than 100 layers!").IsError() &&
           !(text = "An old versions of Adobe Photoshop and some over hosts,\nmay not open such PSD document.").IsError();
  if (m_settings.to == kToPNG && m_result > kManyFiles)
    return header.Format("You are about to save very many files (%d)!", static_cast<int>(m_result)) &&
           !(text = "Please, make sure you know what you do...").IsError();
  ask = 0;
  return 1;
}
