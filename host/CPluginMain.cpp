#include "CPluginMain.h"

#include <cstring>

#include "CTessaretteRecordCodec.h"
#include "KLP_Alert.h"

namespace {

const char kLastSettingsFile[] = "last.data";
const char kConfFile[] = "plugin.conf";
const char kPositionsFolder[] = "Windows Positions";
const i32 kMaxTrimmedSide = 30000;

// The engine's alerts are the platform's modal alerts.
void ShowEngineAlert(const char* text, const char* title, void*) { KLP_ShowAlert(title, text); }

}  // namespace

CPluginMain::CPluginMain() : m_alphaPtr(nullptr), m_alphaWidth(0), m_alphaHeight(0), m_engineLayerAccess(0) {
  m_hostProgress.SetUserDataPtr(this);
  m_layerSource.SetPlugin(this);
  m_engine.SetAlertProc(ShowEngineAlert, nullptr);
}

CPluginMain::~CPluginMain() {}

// Each handler leaves its outcome in the host's result code.
void CPluginMain::HandleSelector(i16 selector) {
  switch (selector) {
    case klpSelectorAbout:
      (void)DoAbout();
      break;
    case klpSelectorParameters:
      (void)DoParameters();
      break;
    case klpSelectorPrepare:
      if (m_filterRecord) m_filterRecord->bufferSpace = 0;
      (void)DoPrepare();
      break;
    case klpSelectorStart:
      if (!FillPluginData())
        HostSetRetCode(GetError() == klErrNoMemory      ? klResMemFull
                       : GetError() == klErrUnsupported ? klResBadMode
                                                        : klResBadParam);
      else
        (void)DoStart();
      // No data for a following Continue.
      EmptyRects();
      // A host calls Finish only after a run that succeeded: a failed Start
      // ends the run, so the next Start without Parameters is a replay.
      if (HostGetRetCode() != klResNoError) m_dialogRequest = 0;
      // The suite and the layer table belong to this call of the host.
      i_ReleaseSuites();
      break;
    case klpSelectorContinue:
      (void)DoContinue();
      break;
    case klpSelectorFinish:
      (void)DoFinish();
      break;
    default:
      HostSetRetCode_BadParam();
      break;
  }
}

u8 CPluginMain::DoAbout() {
  if (!CKLF_8BFPluginVirtual::DoAbout() || i_RunUI(1) == -1) {
    HostSetRetCode_Cancel();
    return 0;
  }
  HostSetRetCode_NoError();
  return 1;
}

u8 CPluginMain::DoFinish() { return CKLF_8BFPluginVirtual::DoFinish(); }

void CPluginMain::i_PrepareRun() {
  KLP_FilterRecord* fr = m_filterRecord;
  const KLP_BasicSuite* basic = fr ? fr->basicSuite : nullptr;
  const KLP_DocumentInfo* doc = fr ? fr->documentInfo : nullptr;
  m_engineLayerAccess = (basic && basic->acquireSuite && doc && doc->layers) ? 1 : 0;
  i_PrepareEngine();
}

u8 CPluginMain::DoStart() {
  i_PrepareRun();
  // Without a store the run goes on (windows then open centred), unless
  // memory ran out for it.
  if (!ConfStorage_Open(kConfFile) && GetError() == klErrNoMemory) {
    HostSetRetCode_MemFull();
    return 0;
  }
  u8 ok = m_dialogRequest ? i_DialogRun() : i_Replay();
  if (!ConfStorage_Close() && GetError() == klErrNoMemory) {
    HostSetRetCode_MemFull();
    ok = 0;
  }
  return ok;
}

u8 CPluginMain::i_DialogRun() {
  // Pieces of an earlier run were cut from a window that is gone: the
  // dialog starts without pieces, its Cutter taking the stored records.
  m_engine.FreeSpliting();
  if (!PrepareCompositeAlpha(1)) {
    if (GetError() == klErrNoMemory)
      HostSetRetCode_MemFull();
    else
      HostSetRetCode_Cancel();
    return 0;
  }
  if (i_RunUI(0) == -1) {
    if (HostGetRetCode() == klResNoError) HostSetRetCode_Cancel();
    return 0;
  }
  return 1;
}

u8 CPluginMain::i_Replay() {
  HostSetRetCode_Cancel();
  ResetError();
  CKLF_Mem block;
  u8 display = 0;
  if (!ReadEncryptedScriptParameter_V2(block, display)) {
    // A descriptor that holds broken settings stops here with its code;
    // only a missing one falls back to the last run's file.
    if (HostGetRetCode() != klResCancel) return 0;
    if (!ConfFile_Read(block, kLastSettingsFile, m_folderName)) {
      if (GetError() == klErrNoMemory) HostSetRetCode_MemFull();
      return 0;
    }
    if (block.GetSize() == 0) return 0;
  }
  if (!i_ReplaySettings(block)) {
    // Plane transfers reset the host's result on their way: a replay that
    // fails after them must not report success; one that ran out of
    // memory says so.
    i16 code = HostGetRetCode();
    if (GetError() == klErrNoMemory) HostSetRetCode_MemFull();
    else if (code != klResMemFull && code != klResBadParam) HostSetRetCode_Cancel();
    return 0;
  }
  HostSetRetCode_NoError();
  return 1;
}

namespace {
CPluginUIRun::Runner g_uiRunner = nullptr;
}

void CPluginMain::SetUIRunner(CPluginUIRun::Runner runner) { g_uiRunner = runner; }

i32 CPluginMain::i_RunUI(u8 about) {
  CPluginUIRun* run = g_uiRunner ? g_uiRunner(*this, about) : nullptr;
  if (!run) return -1;
  const i32 loop = run->loop;
  // An apply that fails sets the host's result itself.
  const u8 failed = loop != -1 && !about && run->applied && !i_ApplyUIRun(*run);
  delete run;
  return loop == -1 || failed ? -1 : 0;
}

u8 CPluginMain::PrepareCompositeAlpha(u8 full) {
  kltPLUGINDATA_s& pd = m_pluginData;
  m_alphaPtr = nullptr;
  m_alphaWidth = m_alphaHeight = 0;
  i64 w = static_cast<i64>(pd.filterRect.right) - pd.filterRect.left;
  i64 h = static_cast<i64>(pd.filterRect.bottom) - pd.filterRect.top;
  if (w <= 0 || h <= 0 || !klFits32(static_cast<u64>(w) * static_cast<u64>(h))) {
    return Fail(w <= 0 || h <= 0 ? klErrEmpty : klErrNoMemory);
  }
  u8 alphaPlane = static_cast<u8>(pd.planes - 1);
  if (pd.transparency && !pd.hostMask && !pd.selection) {
    CKLF_Mem t;
    if (!t.alloc(static_cast<u32>(w * h))) return FailFrom(t, klErrNoMemory);
    if (!HostGetChanel(alphaPlane, pd.filterRect, t.GetPtr(), static_cast<u32>(w))) return 0;
    i64 left = w, top = h, right = -1, bottom = -1;
    for (i64 y = 0; y < h; ++y) {
      const u8* row = t.GetPtr() + y * w;
      i64 x0 = 0;
      while (x0 < w && !row[x0]) ++x0;
      if (x0 == w) continue;
      i64 x1 = w - 1;
      while (!row[x1]) --x1;
      if (x0 < left) left = x0;
      if (x1 > right) right = x1;
      if (y < top) top = y;
      bottom = y;
    }
    // Nothing visible: there is nothing to cut.
    if (right < 0) return Fail(klErrEmpty);
    if (right - left + 1 > kMaxTrimmedSide || bottom - top + 1 > kMaxTrimmedSide) return Fail(klErrBadArg);
    kltRECT_s r = {static_cast<i32>(pd.filterRect.left + left), static_cast<i32>(pd.filterRect.top + top),
                   static_cast<i32>(pd.filterRect.left + right + 1), static_cast<i32>(pd.filterRect.top + bottom + 1)};
    pd.filterRect = r;
    pd.filterArea.left = r.left + pd.origin.x;
    pd.filterArea.top = r.top + pd.origin.y;
    pd.filterArea.right = pd.filterArea.left + (r.right - r.left);
    pd.filterArea.bottom = pd.filterArea.top + (r.bottom - r.top);
    w = r.right - r.left;
    h = r.bottom - r.top;
    // The engine reads document layers at the filter area.
    i_PrepareEngine();
  }
  m_alphaWidth = static_cast<i32>(w);
  m_alphaHeight = static_cast<i32>(h);
  if (!full) return 1;

  u32 n = static_cast<u32>(w * h);
  if (!m_alpha.alloc(n)) return FailFrom(m_alpha, klErrNoMemory);
  u8* a = m_alpha.GetPtr();
  if (pd.transparency) {
    if (!HostGetChanel(alphaPlane, pd.filterRect, a, static_cast<u32>(w))) return 0;
    if (pd.hostMask) {
      CKLF_Mem mask;
      if (!mask.alloc(n)) return FailFrom(mask, klErrNoMemory);
      if (!HostGetChanel(255, pd.filterRect, mask.GetPtr(), static_cast<u32>(w))) return 0;
      const u8* m = mask.GetPtr();
      for (u32 i = 0; i < n; ++i) a[i] = static_cast<u8>(a[i] * m[i] / 255);
    }
  } else if (pd.hostMask) {
    if (!HostGetChanel(255, pd.filterRect, a, static_cast<u32>(w))) return 0;
  } else {
    std::memset(a, 255, n);
  }
  m_alphaPtr = a;
  return 1;
}

namespace {

// A name that fails is returned failed (IsError): upper-casing would
// clear its code.
CKLF_String WindowName(CKLF_String name) {
  if (name.IsError()) return name;
  name.TrimBoth();
  name.MakeUpper();
  if (name.GetLength() == 0) (void)(name = "--");
  return name;
}

i32 Clamp(i32 v, i32 low, i32 high) { return v < low ? low : v > high ? high : v; }

}  // namespace

kltSIZE_s CPluginMain::WindowPosFromConf(CKLF_String name, CKLF_String parent, kltSIZE_s def, u8 flag) {
  (void)def;
  (void)flag;
  ResetError();
  CKLF_Storage* store = ConfStorage_GetStorage();
  if (!store) return klNullSize;
  // A position that is not stored leaves the window where the toolkit
  // puts it.
  const CKLF_String window = WindowName(name), owner = WindowName(parent);
  CKLF_String key;
  if (name.IsError() || parent.IsError() || window.IsError() || owner.IsError() ||
      !key.Format("%s>%s>%s>", kPositionsFolder, window.GetStr(), owner.GetStr()))
    return Fail(klErrNoMemory, klNullSize);
  u32 left = 0, top = 0;
  if (!store->GetRec(key + "Left", left) || !store->GetRec(key + "Top", top))
    return store->IsRecordAbsent() ? klNullSize : FailFrom(*store, klErrNoMemory, klNullSize);
  return kltSIZE_s{Clamp(static_cast<i32>(left), -100, 7000), Clamp(static_cast<i32>(top), -10, 6000)};
}

u8 CPluginMain::PutWindowPosToConf(CKLF_String name, CKLF_String parent, kltPOS position) {
  CKLF_Storage* store = ConfStorage_GetStorage();
  if (!store) return 1;
  const CKLF_String folder = kPositionsFolder;
  const CKLF_String window = folder + ">" + WindowName(name);
  const CKLF_String owner = window + ">" + WindowName(parent);
  if (owner.IsError()) return FailFrom(owner, klErrNoMemory);
  // Folders that exist already are fine (their type is a folder's, 0).
  for (const CKLF_String* f : {&folder, &window, &owner}) {
    const u8 type = store->GetRecType(*f);
    if (type == CKLF_Storage::klRecMissing && store->GetError() == klErrNoMemory) return Fail(klErrNoMemory);
    if (type != 0 && !store->AddFolder(*f)) return FailFrom(*store, klErrNoMemory);
  }
  if (!store->SetRecord(owner + ">Left", static_cast<u32>(position.x)) ||
      !store->SetRecord(owner + ">Top", static_cast<u32>(position.y)))
    return FailFrom(*store, klErrNoMemory);
  return 1;
}

u8 CPluginMain::i_ApplyUIRun(CPluginUIRun& run) {
  if (run.layoutMode) {
    if (Apply_DrawSpliting()) return 1;
    HostSetRetCode_Cancel();
    return 0;
  }
  if (m_pluginData.colorKind == 1) {
    if (Apply_SplittingUI(run.resultImage)) return 1;
    HostSetRetCode_MemFull();
    return 0;
  }
  // Grey and CMYK: the pieces are cut and rendered anew from the effects
  // they showed, matched by row and column.
  run.FreeDisplayImages();
  const u32 n = m_engine.GetPieceCount();
  CKLF_Mem records;
  const u64 bytes = static_cast<u64>(n) * CTessaretteRecordCodec::kSize;
  if (!klFits32(bytes) || (n && !records.Zalloc(static_cast<u32>(bytes)))) {
    HostSetRetCode_MemFull();
    return Fail(klErrNoMemory);
  }
  for (u32 i = 0; i < n; ++i) {
    CTessarette::SFX_ONEPIECE rec;
    if (!m_engine.PieceToRecord(i, rec)) {
      HostSetRetCode_MemFull();
      return Fail(klErrBadArg);
    }
    CTessaretteRecordCodec::Encode(rec, records.GetPtr() + static_cast<u64>(i) * CTessaretteRecordCodec::kSize);
  }
  m_engine.FreeSpliting();
  if (Apply_SplittingNoUI(n, records.GetPtr())) return 1;
  HostSetRetCode_MemFull();
  return 0;
}
