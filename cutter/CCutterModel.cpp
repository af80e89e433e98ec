// The Cutter model's lifecycle, services to the main window, undo,
// configuration records and command dispatch.
#include "CCutterModel.h"

#include <cstring>

#include "CKnifeShapeFile.h"
#include "CTessarette.h"
#include "KLF_ShapeValues.h"

namespace {

const f64 kDefaultH[5] = {0, -0.165, -0.297, -0.165, 0};
const f64 kDefaultU[5] = {0.434, 0.3515, 0.5, 0.6485, 0.566};

// MutS, MutU, MutH of clone modes 0..5 (mode 0 keeps the amounts).
const f32 kCloneAmounts[6][3] = {{0, 0, 0},       {0, 0, 0},         {0.2f, 0.1f, 0.1f},
                                 {0.4f, 0.2f, 0.2f}, {0.6f, 0.35f, 0.35f}, {0.8f, 0.5f, 0.5f}};

CCutterWindowPort g_noWindow;
CCutterMainPort g_noMain;

}  // namespace

CCutterModel::CCutterModel() : m_window(&g_noWindow), m_main(&g_noMain) {}

CCutterModel::~CCutterModel() {}

void CCutterModel::SetPorts(CCutterWindowPort* window, CCutterMainPort* main) {
  m_window = window ? window : &g_noWindow;
  m_main = main ? main : &g_noMain;
}

void CCutterModel::i_GetLive(SHAPE& s) const { GetShape(s); }

void CCutterModel::i_SetLive(const SHAPE& s) {
  nodeCount = s.nodeCount > kMaxNodes ? static_cast<u8>(kMaxNodes) : s.nodeCount;
  for (u32 i = 0; i < nodeCount; ++i) {
    nodes[i] = s.nodes[i];
    nodeSelected[i] = s.selected[i] ? 1 : 0;
    nodeS[i] = s.S[i];
  }
}

void CCutterModel::i_Controls() {
  if (built) m_window->ControlsChanged();
}

// ---- Services to the main window.

void CCutterModel::opSetShapeFromData(SHAPE* shape, u8 notify) {
  if (!shape) return;
  nodeCount = shape->nodeCount > kMaxNodes ? static_cast<u8>(kMaxNodes) : shape->nodeCount;
  for (u32 i = 0; i < nodeCount; ++i) {
    nodes[i] = shape->nodes[i];
    nodeS[i] = shape->S[i];
    klClampShapeNode(nodes[i].H, nodes[i].U, nodeS[i]);
    nodeSelected[i] = 1;
  }
  DoRedrawSpline();
  OnNewOperation(0);
  OnChangeNodeSelection();
  if (notify) NotifyMain_ShapeChanged(1);
}

i32 CCutterModel::ExtSetRows(u16 n) {
  rows = BringInto1to100(n);
  i_Controls();
  return 0;
}

i32 CCutterModel::ExtSetColumns(u16 n) {
  columns = BringInto1to100(n);
  i_Controls();
  return 0;
}

void CCutterModel::NotifiedByMain_NewThickness(u16 t, u8 mixed, u8 thin) {
  notifyGuard = 1;
  thickness = BringInto1to100(t);
  thicknessMixed = mixed ? 1 : 0;
  razorCut = thin ? 1 : 0;
  i_Controls();
  notifyGuard = 0;
}

void CCutterModel::NotifiedByMain_NewKnobSize(u16 size, u8 mixed) {
  notifyGuard = 1;
  knobSize = CapAt100(size);
  knobSizeMixed = mixed ? 1 : 0;
  i_Controls();
  notifyGuard = 0;
}

void CCutterModel::SetInitialStatesToControls() { i_Controls(); }

void CCutterModel::settings_SaveWindowPosition() { m_window->SaveWindowPosition(); }

// ---- Lifecycle.

u8 CCutterModel::OnCreate(u16 previewWidth, u16 previewHeight) {
  if (previewWidth < kMinPreviewSide || previewHeight < kMinPreviewSide) return Fail(klErrBadArg);
  if (!m_splineLayer.Create(previewWidth, previewHeight, 2)) return FailFrom(m_splineLayer, klErrNoMemory);
  if (!m_extrasLayer.Create(previewWidth, previewHeight, 2)) return FailFrom(m_extrasLayer, klErrNoMemory);
  m_splineLayer.Set(kltRGBA8{255, 145, 25, 0}, 255);
  SetInitialStatesToControls();
  if (!settings_LoadLastKnife()) return 0;
  if (!DoRedrawSpline() && GetError() == klErrNoMemory) return 0;
  if (!UndoInit()) return 0;
  built = 1;
  OnChangeNodeSelection();
  CTessarette* engine = m_main->GetEngine();
  if (!engine || engine->GetPieceCount() == 0) closingRestores = 0;
  // The layout as it was, for Reset: a Cutter without it does not open.
  if (!m_main->settings_SaveCurLayoutAndCellSettingsToMem(&m_layoutSnapshot, m_layoutSnapshotLength)) {
    m_layoutSnapshotLength = 0;
    return Fail(klErrNoMemory);
  }
  if (!settings_LoadCutterOptions()) return 0;
  i_Controls();
  return 1;
}

u8 CCutterModel::Close() {
  if (closingRestores) {
    if (!cutMade) OnBtnReset();
  } else if (!cutMade) {
    return 0;
  }
  settings_SaveWindowPosition();
  m_window->CloseWindow();
  m_main->OnCutterClose();
  return 1;
}

u8 CCutterModel::OnCancel() {
  cutMade = 0;
  return Close();
}

u8 CCutterModel::OnCut() {
  if (!DoCutting()) return 0;
  cutMade = 1;
  // Settings the store cannot keep are told; the cut stands.
  if ((m_conf && !settings_SaveLastKnife()) || (m_conf && !settings_SaveCutterOptions()))
    m_window->Alert(GetError() == klErrNoMemory ? "Memory allocation problem..." : "Cannot write file...", "Error!");
  return Close();
}

void CCutterModel::DoEsc() {
  if (cutting) {
    abortCut = 1;
    return;
  }
  if (m_drag.handle || m_drag.node || m_drag.band) {
    m_drag.handle = m_drag.node = m_drag.band = m_drag.rotate = 0;
    UndoRestore();
    return;
  }
  Close();
}

void CCutterModel::OnBtnReset() {
  if (m_layoutSnapshotLength == 0) return;
  m_main->uncm_SaveState(0, 4);
  if (!m_main->settings_LoadCurLayoutAndCellSettingsFromMem(m_layoutSnapshot.GetPtr(), m_layoutSnapshotLength, 1) ||
      !settings_LoadLastKnife()) {
    m_window->Alert("Memory allocation problem...", "Error!");
    return;
  }
  DoRedrawSpline();
  if (!UndoInit()) m_window->Alert("Memory allocation problem...", "Error!");
  u16 v = 0, h = 0;
  u8 razor = 1, aa = 1;
  m_main->GetLayoutState(v, h, razor, aa);
  rows = BringInto1to100(static_cast<u32>(h) + 1);
  columns = BringInto1to100(static_cast<u32>(v) + 1);
  razorCut = razor ? 1 : 0;
  antiAliasing = aa ? 1 : 0;
  cloneMode = 1;
  mutS = mutU = mutH = 0;
  OnChangeNodeSelection();
  SetInitialStatesToControls();
  SetDocumentRecords(nullptr, 0);
}

// ---- Knife shape files.

u8 CCutterModel::opSaveShapeToFile(CKLF_StdFile* file) {
  SHAPE s;
  i_GetLive(s);
  CKnifeShapeFile f;
  if (f.Write(file, s)) return 1;
  m_window->Alert(f.GetAlert(), "Error!");
  return FailFrom(f, klErrFileWrite);
}

u8 CCutterModel::opLoadShapeFromFile(CKLF_StdFile* file) {
  SHAPE s;
  std::memset(&s, 0, sizeof(s));
  CKnifeShapeFile f;
  if (!f.Read(file, s)) {
    m_window->Alert(f.GetAlert(), "Error!");
    return FailFrom(f, klErrNotFormat);
  }
  opSetShapeFromData(&s, 1);
  return 1;
}

// ---- Undo.

u8 CCutterModel::UndoInit() {
  SHAPE s;
  i_GetLive(s);
  const u8 kept = m_undo.Init(s);
  i_Controls();
  return kept ? 1 : FailFrom(m_undo, klErrNoMemory);
}

void CCutterModel::OnNewOperation(u8 check) {
  SHAPE s;
  i_GetLive(s);
  // A snapshot that cannot be had leaves the list as it was; the edit stands.
  m_undo.Push(s, check);
  i_Controls();
}

void CCutterModel::UndoRestore() {
  SHAPE s;
  if (!m_undo.Current(s)) return;
  i_SetLive(s);
  DoRedrawSpline();
  OnChangeNodeSelection();
  NotifyMain_ShapeChanged(0);
}

void CCutterModel::i_Step(u8 redo) {
  SHAPE s;
  if (!(redo ? m_undo.Redo(s) : m_undo.Undo(s))) {
    m_window->Beep();
    return;
  }
  UndoRestore();
  i_Controls();
}

void CCutterModel::opUndo() { i_Step(0); }
void CCutterModel::opRedo() { i_Step(1); }

// ---- Settings.

void CCutterModel::settings_SetDefaultKnife() {
  nodeCount = 5;
  for (u32 i = 0; i < 5; ++i) {
    nodes[i].H = kDefaultH[i];
    nodes[i].U = kDefaultU[i];
    nodeS[i] = 0.5;
    nodeSelected[i] = 1;
  }
}

// A shape not stored, or not whole, gives the default knife.
u8 CCutterModel::settings_LoadLastKnife() {
  u16 stored = 0;
  const auto absent = [&]() -> u8 {
    if (m_conf && !m_conf->IsRecordAbsent()) return FailFrom(*m_conf, klErrNoMemory);
    settings_SetDefaultKnife();
    return 1;
  };
  if (!m_conf || !m_conf->GetRec("LastShape>NodesCount", stored)) return absent();
  SHAPE s;
  std::memset(&s, 0, sizeof(s));
  s.nodeCount = static_cast<u8>(stored > kMaxNodes ? kMaxNodes : stored);
  CKLF_String key;
  static const char* const kKeys[3] = {"LastShape>H%u", "LastShape>U%u", "LastShape>S%u"};
  for (u32 i = 0; i < s.nodeCount; ++i) {
    f64 h = 0, u = 0, sm = 0;
    f64* values[3] = {&h, &u, &sm};
    for (u32 k = 0; k < 3; ++k) {
      if (!key.Format(kKeys[k], i)) return FailFrom(key, klErrNoMemory);
      if (!m_conf->GetRec(key, *values[k])) return absent();
    }
    if (!klShapeNodeFinite(h, u, sm)) {
      settings_SetDefaultKnife();
      return 1;
    }
    klClampShapeNode(h, u, sm);
    s.nodes[i] = {h, u};
    s.S[i] = sm;
    s.selected[i] = 1;
  }
  i_SetLive(s);
  return 1;
}

u8 CCutterModel::settings_SaveLastKnife() {
  if (!m_conf) return 0;
  if ((m_conf->GetRecType("LastShape") != CKLF_Storage::klRecFolder && !m_conf->AddFolder("LastShape")) ||
      !m_conf->SetRecord("LastShape>NodesCount", static_cast<u16>(nodeCount)))
    return FailFrom(*m_conf, klErrBadArg);
  CKLF_String key;
  for (u32 i = 0; i < nodeCount; ++i) {
    if (!key.Format("LastShape>H%u", i) || !m_conf->SetRecord(key, nodes[i].H) || !key.Format("LastShape>U%u", i) ||
        !m_conf->SetRecord(key, nodes[i].U) || !key.Format("LastShape>S%u", i) || !m_conf->SetRecord(key, nodeS[i]))
      return key.IsError() ? FailFrom(key, klErrNoMemory) : FailFrom(*m_conf, klErrBadArg);
  }
  return 1;
}

u8 CCutterModel::settings_LoadCutterOptions() {
  if (!m_conf) return 1;
  u8 v = 0;
  if (!m_conf->GetRec("Cutter Settings>LinkRC", v) && !m_conf->IsRecordAbsent())
    return FailFrom(*m_conf, klErrNoMemory);
  linkRC = v ? 1 : 0;
  i_Controls();
  return 1;
}

u8 CCutterModel::settings_SaveCutterOptions() {
  if (!m_conf) return 0;
  if ((m_conf->GetRecType("Cutter Settings") != CKLF_Storage::klRecFolder && !m_conf->AddFolder("Cutter Settings")) ||
      !m_conf->SetRecord("Cutter Settings>LinkRC", static_cast<u8>(linkRC ? 1 : 0)))
    return FailFrom(*m_conf, klErrBadArg);
  return 1;
}

// ---- Commands.

void CCutterModel::OnAntiAliasing(u8 on) {
  antiAliasing = on ? 1 : 0;
  m_main->OnCutterUpdateAntiAliasing(antiAliasing);
}

void CCutterModel::SetZoom(u8 z) {
  zoom = z > 2 ? 2 : z;
  DoRedrawSpline();
}

void CCutterModel::OnCloneModeChanged(u32 mode) {
  if (mode >= kCloneModes) return;
  cloneMode = mode;
  if (mode >= 1 && mode <= 5) {
    mutS = kCloneAmounts[mode][0];
    mutU = kCloneAmounts[mode][1];
    mutH = kCloneAmounts[mode][2];
  }
  recloneEnabled = cloneMode > 0 && (GetSelectedNodesCount() > 0 || nodeCount == 0);
  i_Controls();
  NotifyMain_ShapeChanged(1);
}

void CCutterModel::NotifyMain_ShapeChanged(u8 flag) {
  if (cloneMode != 0) m_main->OnCutterUpdateShape(mutS, mutH, mutU, flag, 1);
}

u8 CCutterModel::OnShaperCommand(u16 command) {
  if (command >= 16 && command <= 21) {
    OnCloneModeChanged(command - 16u);
    return 1;
  }
  switch (command) {
    case 48: opSelectAllNodes(); break;
    case 49: opUnSelectAllNodes(); break;
    case 50: opInvertSelection(); break;
    case 51: opDelSelectedNodes(); break;
    case 52: DoHideExtras(); break;
    case 53: DoHideNodes(); break;
    case 60: opDistribute(0); break;
    case 61: opDistribute(1); break;
    case 62: opUndo(); break;
    case 63: opRedo(); break;
    default:
      if (command < 54 || command > 59) return 0;
      opAlign(static_cast<u8>(command - 54));
  }
  return 1;
}

u8 CCutterModel::OnAccelerator(u32 command) {
  switch (command) {
    case 1:
    case 8: DoHideExtras(); return 1;
    case 2: opSelectAllNodes(); return 1;
    case 5:
    case 9: DoHideNodes(); return 1;
    case 10: opInvertSelection(); return 1;
    case 11: opUnSelectAllNodes(); return 1;
    default: return 0;
  }
}

u32 CCutterModel::GetShaperMenu(SHAPERMENUITEM* items) const {
  const u32 sel = GetSelectedNodesCount();
  const u8 none = sel == 0;
  const SHAPERMENUITEM menu[kShaperMenuItems] = {
      {"Undo", 62, static_cast<u8>(!CanUndo()), 0, 0, 0},
      {"Redo", 63, static_cast<u8>(!CanRedo()), 0, 0, 0},
      {"", 0, 0, 0, 0, 0},
      {"Select All", 48, static_cast<u8>(sel == nodeCount), 0, kCommand, 'A'},
      {"Deselect", 49, none, 0, kCommand, 'D'},
      {"Inverse Selection", 50, 0, 0, kCommand | kShift, 'I'},
      {"", 0, 0, 0, 0, 0},
      {"Align Top", 54, none, 0, 0, 0},
      {"Align Vertical Center", 55, none, 0, 0, 0},
      {"Align Bottom", 56, none, 0, 0, 0},
      {"Align Left", 57, none, 0, 0, 0},
      {"Align Horizontal Center", 58, none, 0, 0, 0},
      {"Align Right", 59, none, 0, 0, 0},
      {"", 0, 0, 0, 0, 0},
      {"Distribute Vertically", 60, static_cast<u8>(sel <= 2), 0, 0, 0},
      {"Distribute Horizontally", 61, static_cast<u8>(sel <= 2), 0, 0, 0},
      {"", 0, 0, 0, 0, 0},
      {"Delete", 51, none, 0, 0, 0},
      {"", 0, 0, 0, 0, 0},
      {"Show Extras", 52, 0, extrasVisible, kCommand, 'H'},
      {"Show Anchor Points", 53, 0, static_cast<u8>(nodesShown && extrasVisible), kShift, 'H'},
  };
  std::memcpy(items, menu, sizeof(menu));
  return kShaperMenuItems;
}
