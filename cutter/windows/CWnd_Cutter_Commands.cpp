// The Cutter window's control messages, accelerators and pop-up menus, and
// the knife shape files and exports its menus and buttons run.
#include <cstring>

#include "CKLF_App.h"
#include "CKLF_CtrlEditLine.h"
#include "CKLF_PlatformFileDialog.h"
#include "CKLF_PlatformPopupMenu.h"
#include "CKnifeShapeFile.h"
#include "CKnifeShapeVector.h"
#include "CWnd_AutoLayout.h"
#include "CWnd_Cutter.h"
#include "CWnd_CustomMutations.h"
#include "CWnd_PresetsManager.h"

namespace {

typedef CWnd_Cutter W;

const char kMemoryProblem[] = "Memory allocation problem...";

// What each button does.
struct BUTTONCOMMAND {
  W::CONTROL control;
  void (*run)(W& window, CCutterModel& model);
};

const BUTTONCOMMAND kButtons[] = {
    {W::kHelp, [](W& w, CCutterModel&) { w.DoHelpMenu(); }},
    {W::kCloseX, [](W&, CCutterModel& m) { m.OnCancel(); }},
    {W::kCancel, [](W&, CCutterModel& m) { m.OnCancel(); }},
    {W::kFlipH, [](W&, CCutterModel& m) { m.opFlipH(); }},
    {W::kFlipU, [](W&, CCutterModel& m) { m.opFlipU(); }},
    {W::kSave, [](W& w, CCutterModel&) { w.DoSaveMenu(); }},
    {W::kLoad, [](W& w, CCutterModel&) { w.opLoadShape(); }},
    {W::kReClone, [](W&, CCutterModel& m) { m.NotifyMain_ShapeChanged(1); }},
    {W::kClone, [](W& w, CCutterModel&) { w.DoCloneMenu(); }},
    {W::kCut, [](W&, CCutterModel& m) { m.OnCut(); }},
    {W::kReset, [](W&, CCutterModel& m) { m.OnBtnReset(); }},
    {W::kRedo, [](W&, CCutterModel& m) { m.opRedo(); }},
    {W::kUndo, [](W&, CCutterModel& m) { m.opUndo(); }},
    {W::kPresets, [](W& w, CCutterModel&) { w.DoPresMngWindow(); }},
    {W::kAddToPM, [](W& w, CCutterModel&) { w.DoAddShapeToPresets(); }},
    {W::kAutoLayout, [](W& w, CCutterModel&) { w.DoAutoLayoutWindow(); }},
};

// The clone-mode menu: text and command, 0 for a separator.
const struct {
  const char* text;
  u16 command;
} kCloneMenu[] = {{"No Cloning", 16},
                  {nullptr, 0},
                  {"Clone Without Mutation", 17},
                  {nullptr, 0},
                  {"Clone With Low Mutation", 18},
                  {"Clone With Medium Mutation", 19},
                  {"Clone With High Mutation", 20},
                  {"Clone With Extreme Mutation", 21},
                  {nullptr, 0},
                  {"Clone With Custom Mutation...", W::kCmdCustomMutation}};

const char kKnifeFilter[] = "Kelvanos Tessarette Knife Shape (.klph)";
const char kShapesFolder[] = "shapes";
const u32 kTypeEPS = 0x45505346;  // 'EPSF'
const u32 kTypeText = 0x54455854;  // 'TEXT'

}  // namespace

u32 CWnd_Cutter::OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) {
  if (!m.built) return 0;
  if (m.cutting) {
    if (msg != klMsgClick || i_ControlOf(id) != kAbort) return 0;
    m.DoEsc();
    return 1;
  }
  // Accelerators the Cutter does not take go to the main window unchanged,
  // which may replace the Cutter: nothing of it is touched after that.
  if (msg == klMsgAccelerator && !name) return i_OnAccelerator(msg, id, name, type, data);
  u32 handled = 0;
  const i32 c = i_ControlOf(id);
  if (msg == klMsgMenu)
    handled = data ? i_OnMenu(*static_cast<u16*>(data)) : 0;
  else if (c < 0)
    return 0;
  else if (msg == klMsgClick)
    handled = i_OnClick(static_cast<CONTROL>(c), data);
  else if ((msg == klMsgValueSet || msg == klMsgValueDragging) && data && type == klCtrlSlider)
    handled = i_OnSlider(static_cast<CONTROL>(c), *static_cast<u32*>(data), msg == klMsgValueDragging);
  else if (msg == klMsgEditChanged && data)
    handled = i_OnEdit(static_cast<CONTROL>(c), static_cast<CKLF_String*>(data)->GetStr());
  i_Sync();
  return handled;
}

u32 CWnd_Cutter::i_OnAccelerator(u16 msg, u32 command, const char* name, u8 type, void* data) {
  if (m.OnAccelerator(command)) {
    i_Sync();
    return 1;
  }
  if (command == 36) {
    DoShaperMenu({m_preview.left, m_preview.top});
    return 1;
  }
  CKLF_Window* parent = GetParent();
  return parent ? parent->OnCtrlMessage(msg, command, name, type, data) : 0;
}

u32 CWnd_Cutter::i_OnClick(CONTROL c, void*) {
  const u8 check = GetCtrl(c)->GetCheck();
  switch (c) {
    case kAntiAliasing: m.OnAntiAliasing(check); return 1;
    case kRazorCut: m.OnRazorCut(check); return 1;
    case kLinkRC: m.linkRC = check; return 1;
    case kZoom1:
    case kZoom2:
    case kZoom4:
      if (check) m.SetZoom(static_cast<u8>(c - kZoom1));
      return 1;
    default: break;
  }
  for (const BUTTONCOMMAND& b : kButtons)
    if (b.control == c) {
      b.run(*this, m);
      return 1;
    }
  return 0;
}

u32 CWnd_Cutter::i_OnSlider(CONTROL c, u32 value, u8 dragging) {
  switch (c) {
    case kSmoothSlider: m.OnSldrSmoothness(value, dragging); return 1;
    case kRowsSlider: m.OnSldrRows(value, dragging, GetKeysStatus()); return 1;
    case kColumnsSlider: m.OnSldrColumns(value, dragging, GetKeysStatus()); return 1;
    case kThickSlider: m.OnSldrKnifeTh(value, dragging); return 1;
    case kKnobSlider: m.OnSldrKnobSize(value, dragging); return 1;
    default: return 0;
  }
}

u32 CWnd_Cutter::i_OnEdit(CONTROL c, const char* text) {
  switch (c) {
    case kSmoothEdit: m.OnEditSmoothness(text); return 1;
    case kRowsEdit: m.OnEditRows(text); return 1;
    case kColumnsEdit: m.OnEditColumns(text); return 1;
    case kThickEdit: m.OnEditKnifeTh(text); return 1;
    case kKnobEdit: m.OnEditKnobSize(text); return 1;
    default: return 0;
  }
}

// A typed value is committed when its line loses the focus; the lines lose
// it also when a cut filters the input, which commits nothing. A line left
// as it was when it took the focus commits nothing either: the rows field,
// focused when the window opens, would lay the grid out anew, and a mixed
// thickness (" ???") would become 1.
void CWnd_Cutter::OnCtrlLostFocus(u32 id) {
  CKLF_Window::OnCtrlLostFocus(id);
  const i32 c = i_ControlOf(id);
  if (!m.built || m.cutting || c < static_cast<i32>(kSmoothEdit) || c > static_cast<i32>(kKnobEdit)) return;
  const auto* edit = static_cast<CKLF_CtrlEditLine*>(GetControl(id));
  if (!edit->IsEditedSinceFocus()) return;
  const CKLF_String text = edit->GetText();
  switch (c) {
    case kSmoothEdit: m.OnEditSmoothnessLF(text.GetStr()); break;
    case kRowsEdit: m.OnEditRowsLF(text.GetStr()); break;
    case kColumnsEdit: m.OnEditColumnsLF(text.GetStr()); break;
    case kThickEdit: m.OnEditKnifeThLF(text.GetStr()); break;
    default: m.OnEditKnobSizeLF(text.GetStr()); break;
  }
  i_Sync();
}

// ---- Pop-up menus.

kltPOS CWnd_Cutter::i_MenuPoint(CONTROL c) const {
  const kltRECT_s r = GetCtrl(c)->GetRenderRect();
  return {r.left, r.bottom};
}

u32 CWnd_Cutter::i_OnMenu(u16 command) {
  if (m.GetMainPort()->HelpMenuDispatcher(command, this)) return 1;
  switch (command) {
    case kCmdSaveShape: return opSaveShapeKLPH();
    case kCmdExportEPS: return opExportShape(0);
    case kCmdExportAI: return opExportShape(1);
    case kCmdCustomMutation: return SetCustomMutationsMode(), 1;
    default: return m.OnShaperCommand(command);
  }
}

void CWnd_Cutter::DoHelpMenu() {
  CKLF_PlatformPopupMenu menu;
  menu.Create();
  m.GetMainPort()->FillHelpMenu(&menu, 0);
  const kltPOS at = i_MenuPoint(kHelp);
  if (menu.GetItemCount() > 0) menu.DoPopup(this, static_cast<i16>(at.x), static_cast<i16>(at.y), 0);
}

void CWnd_Cutter::DoSaveMenu() {
  CKLF_PlatformPopupMenu menu;
  menu.Create();
  menu.AddItem("Save as Kelvanos Knife Shape 2.0...", kCmdSaveShape, 0, 0);
  menu.AddSeparator();
  menu.AddItem("Export as Encapsulated PostScript (EPS)...", kCmdExportEPS, 0, 0);
  menu.AddItem("Export as Adobe Illustrator (AI)...", kCmdExportAI, 0, 0);
  const kltPOS at = i_MenuPoint(kSave);
  menu.DoPopup(this, static_cast<i16>(at.x), static_cast<i16>(at.y), 0);
}

void CWnd_Cutter::DoCloneMenu() {
  CKLF_PlatformPopupMenu menu;
  menu.Create();
  for (const auto& e : kCloneMenu) {
    if (!e.text) {
      menu.AddSeparator();
      continue;
    }
    menu.AddItem(e.text, e.command, m.cloneMode == e.command - 16u, 0);
  }
  const kltPOS at = i_MenuPoint(kClone);
  menu.DoPopup(this, static_cast<i16>(at.x), static_cast<i16>(at.y), 0);
}

void CWnd_Cutter::DoShaperMenu(kltPOS at) {
  CCutterModel::SHAPERMENUITEM items[CCutterModel::kShaperMenuItems];
  const u32 n = m.GetShaperMenu(items);
  CKLF_PlatformPopupMenu menu;
  menu.Create();
  for (u32 i = 0; i < n; ++i) {
    const CCutterModel::SHAPERMENUITEM& e = items[i];
    if (e.command == 0) {
      menu.AddSeparator();
      continue;
    }
    const char key[2] = {e.key, 0};
    menu.AddItem(e.text, e.command, e.ticked, e.disabled, e.shortcut & CCutterModel::kCommand ? 1 : 0,
                 e.shortcut & CCutterModel::kShift ? 1 : 0, e.shortcut & CCutterModel::kOption ? 1 : 0,
                 e.key ? key : nullptr);
  }
  menu.DoPopup(this, static_cast<i16>(at.x), static_cast<i16>(at.y), 0);
}

// ---- Dialogs. Each runs to its end here; a dialog that cannot be made
// ends the command.

void CWnd_Cutter::DoPresMngWindow() { CWnd_PresetsManager::Open(this, &m, m.GetMainPort(), nullptr); }

void CWnd_Cutter::DoAddShapeToPresets() { CWnd_PresetsManager::AddCutterShape(this, &m, m.GetMainPort(), nullptr); }

// The main window lays the layout and sets the counts shown here.
void CWnd_Cutter::DoAutoLayoutWindow() { CWnd_AutoLayout::Open(this, m.GetMainPort()); }

void CWnd_Cutter::SetCustomMutationsMode() {
  f32 s = 0, u = 0, h = 0;
  if (!CWnd_CustomMutations::Open(this, m.GetMainPort(), s, u, h)) return;
  m.mutS = s;
  m.mutU = u;
  m.mutH = h;
  m.OnCloneModeChanged(6);
}

// ---- Files.

u8 CWnd_Cutter::i_SaveDialog(const char* filter, const char* extension, u32 fileType, const char* title,
                             const char* name, u8 (*writer)(CKLF_StdFile*, void*)) {
  CKLF_PlatformFileDialog dialog;
  CKLF_StringArray extensions;
  if (extensions.Add(CKLF_String(extension), 0) < 0 || !dialog.AddFilter(filter, &extensions, fileType))
    return Alert(kMemoryProblem, "Error!"), 0;
  dialog.SetDefaultPathToAppRoot(kShapesFolder);
  dialog.SetDefaultSaveName(name);
  dialog.SetWindowTitle(title);
  return dialog.DoFileSaveDialog(writer, &m, this, fileType, 0);
}

u8 CWnd_Cutter::opSaveShapeKLPH() {
  return i_SaveDialog(kKnifeFilter, "klph", CKnifeShapeFile::kFileType, "Save Knife Shape As...", "Untitled.klph",
                      stSaveShapeToFile);
}

u8 CWnd_Cutter::opExportShape(u8 ai) {
  if (ai)
    return i_SaveDialog("Adobe Illustrator (.ai)", "ai", kTypeText, "Export Knife Shape As...", "Untitled.ai",
                        stExportAI);
  return i_SaveDialog("Encapsulated PostScript (.eps)", "eps", kTypeEPS, "Export Knife Shape As...", "Untitled.eps",
                      stExportEPS);
}

u8 CWnd_Cutter::opLoadShape() {
  CKLF_PlatformFileDialog dialog;
  CKLF_StringArray extensions;
  if (extensions.Add(CKLF_String("klph"), 0) < 0 || !dialog.AddFilter(kKnifeFilter, &extensions, CKnifeShapeFile::kFileType))
    return Alert(kMemoryProblem, "Error!"), 0;
  dialog.SetDefaultPathToAppRoot(kShapesFolder);
  dialog.SetWindowTitle("Load Knife Shape...");
  if (!dialog.DoFileOpenDialog(this, 0)) return 0;
  CKLF_StdFile file;
  if (!dialog.OpenFileByResult(&file, 1)) {
    Alert("Error reading data file...", "Error!");
    return 0;
  }
  return m.opLoadShapeFromFile(&file);
}

u8 CWnd_Cutter::stSaveShapeToFile(CKLF_StdFile* file, void* model) {
  return static_cast<CCutterModel*>(model)->opSaveShapeToFile(file);
}

namespace {

u8 ExportShape(CKLF_StdFile* file, void* model, u8 ai) {
  CCutterModel* m = static_cast<CCutterModel*>(model);
  CCutterModel::SHAPE shape;
  m->GetShape(shape);
  CKnifeShapeVector vector;
  if (vector.Write(file, shape, ai)) return 1;
  m->GetWindowPort()->Alert("Cannot write file...", "Error!");
  return 0;
}

}  // namespace

u8 CWnd_Cutter::stExportEPS(CKLF_StdFile* file, void* model) { return ExportShape(file, model, 0); }
u8 CWnd_Cutter::stExportAI(CKLF_StdFile* file, void* model) { return ExportShape(file, model, 1); }
