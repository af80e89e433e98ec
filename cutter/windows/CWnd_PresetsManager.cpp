// The preset manager's creation, the list and the page kept in step with
// the library, the mouse, keys and control messages.
#include "CWnd_PresetsManager.h"

#include <cstdint>
#include <cstdio>

#include "CKLF_App.h"
#include "CKLF_CtrlButton.h"
#include "CKLF_CtrlList.h"
#include "CKLF_CtrlScrollBar.h"
#include "CKLF_CtrlStaticImage.h"

const char* const CWnd_PresetsManager::kGroup = "PresetsManager";

namespace {

typedef CWnd_PresetsManager W;

// Resource name and kind of every control, by W::CONTROL; the scroll bars'
// names come from kBars by the platform's arrow style.
const CCutterDialog::CONTROLENTRY kControls[W::kControlCount] = {
    {"PresMng_Help", klCtrlButton},         {"PresMng_CloseX", klCtrlButton},
    {"PresMng_SaveSet", klCtrlButton},      {"PresMng_ReplaceSet", klCtrlButton},
    {"PresMng_LoadSet", klCtrlButton},      {"PresMng_LoadShape", klCtrlButton},
    {"PresMng_RenShape", klCtrlButton},     {"PresMng_DelShape", klCtrlButton},
    {"PresMng_Sort", klCtrlButton},         {"PresMng_ToCutter", klCtrlButton},
    {"PresMng_ToCutterClose", klCtrlButton}, {"PresMng_Done", klCtrlButton},
    {"PresMng_Sico", klCtrlRadioButton},    {"PresMng_Lico", klCtrlRadioButton},
    {"PresMng_List", klCtrlList},           {nullptr, klCtrlButton},
    {nullptr, klCtrlButton},                {nullptr, klCtrlScrollBar},
    {nullptr, klCtrlButton},                {nullptr, klCtrlButton},
    {nullptr, klCtrlScrollBar},             {"PresMng_Status", klCtrlStaticText},
    {"PresMng_BigIcoBg", klCtrlStaticImage}, {"PresMng_SmallIcoBg", klCtrlStaticImage},
    {"PresMng_BigIcoName1", klCtrlStaticText}, {"PresMng_BigIcoName2", klCtrlStaticText}};

// The scroll bars' parts from kVBottom to kHBar: both arrows at the far
// end (0), or one at each end (1).
const char* const kBars[2][6] = {
    {"PresMng_ScrollV_Bottom", "PresMng_ScrollV_TopMAC", "PresMng_ScrollV_MAC", "PresMng_ScrollH_Right",
     "PresMng_ScrollH_LeftMAC", "PresMng_ScrollH_MAC"},
    {"PresMng_ScrollV_Bottom", "PresMng_ScrollV_TopNR", "PresMng_ScrollV_NR", "PresMng_ScrollH_Right",
     "PresMng_ScrollH_LeftNR", "PresMng_ScrollH_NR"}};

// Buttons drawn at this opacity while disabled.
const W::CONTROL kDimmed[] = {W::kSaveSet, W::kRenShape, W::kDelShape, W::kToCutter, W::kToCutterClose};

KLP_FileRef FolderOf(CCutterFilesPort* files) {
  return files || !m_App ? KLP_FileRef() : m_App->GetStorageFolder();
}

}  // namespace

CWnd_PresetsManager::CWnd_PresetsManager(CCutterServices* cutter, CCutterMainPort* main, CCutterFilesPort* files)
    : CCutterDialog(main, "Pres Mng", "Cutter"),
      m_cutter(cutter),
      m_folderFiles(FolderOf(files)),
      m_lib(files ? files : &m_folderFiles, this),
      m_opened(0),
      m_written(0),
      m_closing(0),
      m_placingBar(0) {}

CWnd_PresetsManager::~CWnd_PresetsManager() { WriteLibrary(); }

// ---- Creation.

u8 CWnd_PresetsManager::i_ReadGeometry() {
  CPresetsPreview::GEOMETRY g;
  char name[32];
  u8 ok = GetResourceRect("PresMng_Preview", g.preview);
  for (u32 k = 0; ok && k < CPresetsPreview::kSmallCells; ++k) {
    std::snprintf(name, sizeof(name), "PresMng_SelSmallIco%u", k + 1);
    ok = GetResourceRect(name, g.smallSel[k]);
    std::snprintf(name, sizeof(name), "PresMng_SmallIco%u", k + 1);
    ok = ok && GetResourceRect(name, g.small[k]);
  }
  for (u32 k = 0; ok && k < CPresetsPreview::kBigCells; ++k) {
    std::snprintf(name, sizeof(name), "PresMng_SelBigIco%u", k + 1);
    ok = GetResourceRect(name, g.bigSel[k]);
    std::snprintf(name, sizeof(name), "PresMng_BigIco%u", k + 1);
    ok = ok && GetResourceRect(name, g.big[k]);
  }
  if (!ok) return Fail(klErrUIResource);
  m_preview.SetGeometry(g);
  return 1;
}

u8 CWnd_PresetsManager::i_CreateControls() {
  CONTROLENTRY table[kControlCount];
  const u8 style = CKLF_App::GetScrollStyle_TwoSideArrows() ? 1 : 0;
  for (u32 c = 0; c < kControlCount; ++c) table[c] = kControls[c];
  for (u32 b = 0; b < 6; ++b) table[kVBottom + b].name = kBars[style][b];
  return i_AddControls(table, kControlCount, 0, kBigName1);
}

// The highlight layer, then the shape layer above it: the knives in the
// shape layer's alpha over dark grey.
u8 CWnd_PresetsManager::i_CreateLayers() {
  const kltRECT_s r = m_preview.GetGeometry().preview;
  if (!m_highlightLayer.Create(r, 2) || !m_shapeLayer.Create(r, 2))
    return FailFrom(m_highlightLayer.GetError() ? m_highlightLayer : m_shapeLayer, klErrNoMemory);
  m_highlightLayer.Set(kltRGBA8{0, 0, 0, 0}, 15);
  m_shapeLayer.Set(kltRGBA8{70, 70, 70, 0}, 15);
  if (LSAddLayer(&m_highlightLayer) < 0 || LSAddLayer(&m_shapeLayer) < 0) return Fail(klErrNoMemory);
  return 1;
}

void CWnd_PresetsManager::i_SetupControls() {
  static_cast<CKLF_CtrlButton*>(GetCtrl(kHelp))->SetMenuMode(1);
  for (CONTROL c : kDimmed) GetCtrl(c)->SetDisabledOpacity(78);
  GetCtrl(kSico)->SetCheck(1, 0);
  GetCtrl(kLico)->SetCheck(0, 0);
  auto* vBar = static_cast<CKLF_CtrlScrollBar*>(GetCtrl(kVBar));
  vBar->SetButtons(GetCtrl(kVTop)->GetControlID(), GetCtrl(kVBottom)->GetControlID());
  i_HBar()->SetButtons(GetCtrl(kHLeft)->GetControlID(), GetCtrl(kHRight)->GetControlID());
  i_HBar()->InvertWheel(1);
  i_List()->SetOptions(1, 1, 16, 6, 2, vBar->GetControlID());
  static_cast<CKLF_CtrlStaticImage*>(GetCtrl(kBigIcoBg))->SetOpacity(0);
}

u8 CWnd_PresetsManager::OnCreate(CKLF_LayerSet*, u16, u16) {
  if (!i_ReadGeometry()) return 0;
  CKLF_Font* info = i_Font("Info Font");
  CKLF_Font* list = info ? i_Font("List Font") : nullptr;
  CKLF_Font* small = list ? i_Font("Small 7 Normal") : nullptr;
  if (!small || !i_CreateControls()) return 0;
  i_SetupControls();
  i_List()->SetFont(list);
  if (!i_CreateLayers() || !i_AddControls(kControls, kControlCount, kBigName1)) return 0;
  for (CONTROL c : {kBigName1, kBigName2}) {
    auto* label = static_cast<CKLF_CtrlStaticText*>(GetCtrl(c));
    label->SetFont(small);
    label->SetText("", 0, 0, 10);
    label->SetOpacity(0);
  }
  if (!i_StartStatus(kStatus, info)) return 0;
  m_lib.Open(m_App ? m_App->GetStorage() : nullptr);
  m_opened = 1;
  m_built = 1;
  i_Refresh(0);
  i_List()->SetFocus(1);
  OnAboveControl(0xFFFFFFFFu);
  return 1;
}

// ---- Closing.

void CWnd_PresetsManager::Close() {
  if (!m_closing) {
    m_closing = 1;
    KillTimer(1);
    const kltRECT_s r = GetWindowRect();
    if (m_main && GetWindowHandle()) m_main->PutWindowPosition("Pres Mng", "Cutter", kltPOS{r.left, r.top});
  }
  CCutterDialog::Close();
  WriteLibrary();
}

void CWnd_PresetsManager::WriteLibrary() {
  if (!m_opened || m_written) return;
  m_written = 1;
  m_lib.Close();
}

// ---- The list and the page from the library.

CKLF_CtrlList* CWnd_PresetsManager::i_List() const { return static_cast<CKLF_CtrlList*>(GetCtrl(kList)); }

CKLF_CtrlScrollBar* CWnd_PresetsManager::i_HBar() const {
  return static_cast<CKLF_CtrlScrollBar*>(GetCtrl(kHBar));
}

// Only the rows the list holds (it may end early, memory short).
void CWnd_PresetsManager::i_ListToLibrary() {
  CKLF_CtrlList* list = i_List();
  for (u32 i = 0; i < m_lib.GetCount(); ++i) {
    u8 selected = 0;
    if (list->GetItem(i, nullptr, &selected, nullptr) && selected != m_lib.IsSelected(i))
      m_lib.SetSelected(i, selected);
  }
}

// A row that finds no memory is told: the list ends before it (a list
// shorter than the library, which the next change builds anew).
void CWnd_PresetsManager::i_LibraryToList() {
  CKLF_CtrlList* list = i_List();
  const u32 n = m_lib.GetCount();
  if (list->GetItemsCount() != n) {
    list->RemoveAllItems(0, 0);
    u8 failed = 0;
    for (u32 i = 0; i < n && !failed; ++i)
      failed = list->AddItem(m_lib.GetName(i), m_lib.IsSelected(i), reinterpret_cast<void*>(static_cast<uintptr_t>(i)),
                             1) < 0;
    list->UpdateAfterChanges();
    if (failed) Alert("Memory allocation problem...", "Error!");
    return;
  }
  u8 changed = 0;
  for (u32 i = 0; i < n; ++i) {
    CKLF_String text;
    u8 selected = 0;
    list->GetItem(i, &text, &selected, nullptr);
    const CKLF_String name(m_lib.GetName(i));
    const u8 want = m_lib.IsSelected(i);
    if (text == name && selected == want) continue;
    void* user = reinterpret_cast<void*>(static_cast<uintptr_t>(i));
    changed = 1;
    if (name.IsError() || !list->SetItem(i, &name, &want, &user, 0)) {
      // The rows go, to be built anew at the next change.
      list->RemoveAllItems(0, 0);
      Alert("Memory allocation problem...", "Error!");
      break;
    }
  }
  if (changed) list->UpdateAfterChanges();
}

void CWnd_PresetsManager::i_UpdateButtons() {
  const u32 n = m_lib.GetSelectedCount();
  for (CONTROL c : {kSaveSet, kDelShape})
    if (i_Enabled(c) != (n >= 1)) GetCtrl(c)->Enable(n >= 1);
  for (CONTROL c : {kRenShape, kToCutter, kToCutterClose})
    if (i_Enabled(c) != (n == 1)) GetCtrl(c)->Enable(n == 1);
}

void CWnd_PresetsManager::i_Refresh(u8 follow) {
  if (!m_built) return;
  i_LibraryToList();
  if (follow) m_preview.FollowSelection(m_lib.GetFirstSelected(), m_lib.GetCount());
  m_preview.ClampFirst(m_lib.GetCount());
  // The bar reports its placement; a first record past its range (on the
  // last page) stays what it is.
  u32 total = 0, visible = 0;
  m_preview.GetScrollInfo(m_lib.GetCount(), total, visible);
  m_placingBar = 1;
  i_HBar()->SetInfo(total, visible);
  i_HBar()->SetPosition(m_preview.GetFirst());
  m_placingBar = 0;
  i_UpdateButtons();
  i_RedrawPreview();
}

void CWnd_PresetsManager::i_RedrawPreview() {
  const u8 small = m_preview.IsSmallView();
  static_cast<CKLF_CtrlStaticImage*>(GetCtrl(kBigIcoBg))->SetOpacity(small ? 0 : 255);
  static_cast<CKLF_CtrlStaticImage*>(GetCtrl(kSmallIcoBg))->SetOpacity(small ? 255 : 0);
  m_preview.Draw(m_lib, m_shapeLayer, m_highlightLayer);
  for (u32 k = 0; !small && k < CPresetsPreview::kBigCells; ++k) {
    auto* label = static_cast<CKLF_CtrlStaticText*>(GetCtrl(kBigName1 + k));
    const u32 i = m_preview.GetFirst() + k;
    label->SetText(i < m_lib.GetCount() ? m_lib.GetName(i) : "");
    label->Redraw();
  }
  const kltRECT_s r = m_preview.GetGeometry().preview;
  RenderRect(r);
  UpdateRect(r);
}

void CWnd_PresetsManager::i_SetView(u8 small) {
  m_preview.SetSmallView(small);
  for (CONTROL c : {kBigName1, kBigName2}) {
    auto* label = static_cast<CKLF_CtrlStaticText*>(GetCtrl(c));
    label->SetOpacity(small ? 0 : 255);
    label->Redraw();
  }
  i_Refresh(1);
}

// ---- Mouse and keys.

// The cells show the list: the keys go on from the cell clicked.
void CWnd_PresetsManager::i_SelectCell(i32 record, u8 mods) {
  const u32 i = static_cast<u32>(record);
  i_List()->SetFocus(1);
  i_List()->SelectItems(i, i, (mods & klModCommand) ? 0 : 1, 1, 1, 1, 0);
  i_ListToLibrary();
  i_UpdateButtons();
  i_RedrawPreview();
}

u8 CWnd_PresetsManager::OnLMouseUp(i16 x, i16 y, u8 mods) {
  const i32 r = m_built ? m_preview.RecordAt(x, y, m_lib.GetCount()) : -1;
  if (r < 0) return 0;
  i_SelectCell(r, mods);
  return 1;
}

u8 CWnd_PresetsManager::OnLMouseDoubleClick(i16 x, i16 y, u8) {
  if (m_built && (m_preview.RecordAt(x, y, m_lib.GetCount()) >= 0 || i_List()->PtAboveControl(x, y)))
    OnDblClickOnItem();
  return 1;
}

void CWnd_PresetsManager::OnDblClickOnItem() {
  const u8 option = GetKeysStatus() & klModOption;
  if (!option && i_Enabled(kToCutter)) {
    opToCutter();
  } else if (option && i_Enabled(kToCutterClose)) {
    opToCutter();
    EndModal(0);
  }
}

u8 CWnd_PresetsManager::OnKeyDown(u8 key, u8) {
  if (!m_built) return 0;
  switch (key) {
    case klKeyEscape: EndModal(0); return 1;
    case klKeyDelete:
      if (i_Enabled(kDelShape)) opDeleteShape();
      return 1;
    case klKeyReturn: OnDblClickOnItem(); return 1;
    default: return 0;
  }
}

u8 CWnd_PresetsManager::OnKeyChar(u8 ch, u8) {
  if (m_built && (ch == 'R' || ch == 'r') && i_Enabled(kRenShape)) opRenameShape(-1);
  return 0;
}

u8 CWnd_PresetsManager::OnAboveControl(u32 id) {
  i_ShowTip(id, kGroup);
  return 1;
}

// ---- Control messages.

u32 CWnd_PresetsManager::OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) {
  if (!m_built) return 0;
  if (msg == klMsgAccelerator && !name) {
    if (id == kCmdSelectAll) opSelectAll();
    else if (id == kCmdInvertSelection) opInvertSelection();
    else return 0;
    return 1;
  }
  if (msg == klMsgMenu) return i_OnMenu(data);
  const i32 c = ControlOf(id);
  if (type == klCtrlList) {
    i_ListToLibrary();
    i_Refresh(1);
    return 1;
  }
  if (type == klCtrlRadioButton && (c == kSico || c == kLico)) {
    i_SetView(GetCtrl(kSico)->GetCheck());
    return 1;
  }
  if (c == kHBar && (msg == klMsgValueSet || msg == klMsgValueDragging) && data && !m_placingBar) {
    m_preview.ScrollTo(*static_cast<u32*>(data), m_lib.GetCount());
    i_RedrawPreview();
    return 1;
  }
  return type == klCtrlButton && msg == klMsgClick ? i_OnClick(c) : 0;
}

u32 CWnd_PresetsManager::i_OnClick(i32 c) {
  switch (c) {
    case kHelp: DoHelpMenu(kHelp); return 0;
    case kCloseX:
    case kDone: EndModal(0); return 1;
    case kSaveSet: opSaveSet(); return 1;
    case kReplaceSet: opLoadSet(1); return 1;
    case kLoadSet: opLoadSet(0); return 1;
    case kLoadShape: opLoadShape(); return 1;
    case kRenShape: opRenameShape(-1); return 1;
    case kDelShape: opDeleteShape(); return 1;
    case kSort: opSort(); return 1;
    case kToCutter: opToCutter(); return 1;
    case kToCutterClose:
      opToCutter();
      EndModal(0);
      return 1;
    default: return 0;
  }
}
