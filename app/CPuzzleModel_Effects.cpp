// Piece effects: on-masks, switching, copy, paste and reset, the needs-render
// rule, re-rendering with recombination, and the effect windows.
#include <algorithm>
#include <cstring>

#include "CPuzzleModel.h"
#include "KLF_Parallel.h"

namespace {

typedef CTessarette::SPLITEDCELL Cell;
typedef CPuzzleModel M;
enum : u32 { R = CTessarette::FX_RENDERED, W = CTessarette::FX_WORKING };

const char kRendering[] = "Rendering is in progress:";
const char kMsgMemory[] = "Memory allocation problem...";
const char kMsgTitle[] = "Error!";

// The on byte of an effect in one copy of a piece's records.
u8& OnByte(Cell& c, u8 effect, u32 copy) {
  switch (effect) {
    case M::kBlur: return c.blur[copy].enabled;
    case M::kBevel: return c.bevel[copy].enabled;
    case M::kHSL: return c.hsl[copy].enabled;
    case M::kColorOverlay: return c.colorOverlay[copy].enabled;
    case M::kBC: return c.bc[copy].enabled;
    case M::kMotionBlur: return c.mblur[copy].enabled;
    case M::kOpacity: return c.opacity[copy].enabled;
    case M::kInvert: return c.invert[copy];
    case M::kStroke: return c.stroke[copy].enabled;
    default: return c.imageOverlay[copy].enabled;
  }
}

// The working record of one effect takes the rendered one.
void RenderedToWorking(Cell& c, u8 effect) {
  switch (effect) {
    case M::kBlur: c.blur[W] = c.blur[R]; break;
    case M::kBevel: c.bevel[W] = c.bevel[R]; break;
    case M::kHSL: c.hsl[W] = c.hsl[R]; break;
    case M::kColorOverlay: c.colorOverlay[W] = c.colorOverlay[R]; break;
    case M::kBC: c.bc[W] = c.bc[R]; break;
    case M::kMotionBlur: c.mblur[W] = c.mblur[R]; break;
    case M::kOpacity: c.opacity[W] = c.opacity[R]; break;
    case M::kInvert: c.invert[W] = c.invert[R]; break;
    case M::kStroke: c.stroke[W] = c.stroke[R]; break;
    default: c.imageOverlay[W] = c.imageOverlay[R]; break;
  }
}

u16 PieceMask(const Cell& c) {
  u16 mask = c.visible ? M::kBitShown : M::kBitHidden;
  for (u8 e = 0; e < M::kEffectCount; ++e)
    if (OnByte(const_cast<Cell&>(c), e, R)) mask = static_cast<u16>(mask | (1u << e));
  return mask;
}

// An effect needs a render when its on bytes differ, or when it is on and
// one of the fields that shape the image differs.
bool Differs(u8 workingOn, u8 renderedOn, bool fields) {
  return workingOn != renderedOn || (workingOn && fields);
}

// The red, green and blue bytes of two colour lines.
bool RgbDiffers(const u8* a, const u8* b) { return std::memcmp(a + 1, b + 1, 3) != 0; }

bool BevelDiffers(const CTessarette::SFX_BEVEL& w, const CTessarette::SFX_BEVEL& r) {
  return std::memcmp(w.light, r.light, sizeof(w.light)) != 0 || w.highlightOpacity != r.highlightOpacity ||
         RgbDiffers(w.highlightColor, r.highlightColor) || w.shadowOpacity != r.shadowOpacity ||
         RgbDiffers(w.shadowColor, r.shadowColor) || w.size != r.size || w.depth != r.depth ||
         w.soften != r.soften;
}

}  // namespace

u16 CPuzzleModel::i_pmfx_GetFXOnSelection(i32 piece) const {
  const u32 n = i_Count();
  if (n == 0) return 0;
  if (piece != kSelection) return i_Valid(piece) ? PieceMask(*m_engine.GetPiece(static_cast<u32>(piece))) : 0;
  u16 mask = 0;
  bool any = false;
  for (int pass = 0; pass < 2 && !any; ++pass) {
    for (u32 i = 0; i < n; ++i) {
      const Cell& c = *m_engine.GetPiece(i);
      if (pass == 0 && !c.selected) continue;
      mask = static_cast<u16>(mask | PieceMask(c));
      any = true;
    }
  }
  return mask;
}

void CPuzzleModel::OnCommonFXChanged() {
  if (layoutMode || effectWindowOpen) return;
  static const struct {
    const char* name;
    u8 effect;
  } kSwitches[] = {{"Main_FXBlur", kBlur},          {"Main_FXBevel", kBevel},     {"Main_FXHSL", kHSL},
                   {"Main_FXCOver", kColorOverlay}, {"Main_FXBC", kBC},           {"Main_FXMBlur", kMotionBlur},
                   {"Main_FXOpacity", kOpacity},    {"Main_FXStroke", kStroke},   {"Main_FXIOver", kImageOverlay}};
  const u16 mask = i_pmfx_GetFXOnSelection(kSelection);
  for (const auto& s : kSwitches) m_port.SetControlCheck(s.name, (mask >> s.effect) & 1);
  const u8 keep = CModeControls::kKeep;
  m_port.SetControlState({"Main_Show", CModeControls::kButton, static_cast<u8>(mask & kBitHidden ? 1 : 0), keep, keep});
  m_port.SetControlState({"Main_Hide", CModeControls::kButton, static_cast<u8>(mask & kBitShown ? 1 : 0), keep, keep});
}

void CPuzzleModel::pmfx_SwitchFX(u8 effect, u8 explicitValue, u8 value) {
  if (!explicitValue && menuEffectMask == kMaskUnknown) menuEffectMask = i_pmfx_GetFXOnSelection(kSelection);
  i_DestroyEffectWindow();
  CKLF_DWordArray targets, list;
  if (!i_Targets(contextPiece, targets) || effect >= kEffectCount) return;
  const u16 reference = contextPiece == kSelection ? menuEffectMask : i_pmfx_GetFXOnSelection(contextPiece);
  const u8 on = explicitValue ? (value ? 1 : 0) : ((reference >> effect) & 1 ? 0 : 1);
  // The pieces that change, listed before any changes.
  for (u32 i = 0; i < targets.GetSize(); ++i)
    if (OnByte(*m_engine.GetPiece(targets[i]), effect, R) != on && list.Add(targets[i]) < 0)
      return (void)i_NoMemoryForList(list);
  for (u32 i = 0; i < list.GetSize(); ++i) {
    Cell& c = *m_engine.GetPiece(list[i]);
    RenderedToWorking(c, effect);
    OnByte(c, effect, W) = on;
  }
  if (list.GetSize() == 0) return;
  pmop_RerenderPieces(&list, 1, 1);
  OnCommonFXChanged();
}

void CPuzzleModel::pmop_CopyAdjustments(i32 piece) {
  i32 from = piece;
  if (piece == kSelection) {
    from = -1;
    for (u32 i = 0; i < i_Count() && from < 0; ++i)
      if (m_engine.GetPiece(i)->selected) from = static_cast<i32>(i);
  }
  if (!i_Valid(from)) return;
  m_engine.PieceToRecord(static_cast<u32>(from), clipboard);
  clipboardEmpty = 0;
}

void CPuzzleModel::pmop_PasteAdjustments(i32 piece) {
  if (clipboardEmpty) return;
  i_DestroyEffectWindow();
  CKLF_DWordArray targets;
  if (!i_Targets(piece, targets)) return;
  for (u32 i = 0; i < targets.GetSize(); ++i) m_engine.RecordToPiece(clipboard, targets[i], 0, 0);
  pmop_RerenderPieces(&targets, 1, 1);
  OnCommonFXChanged();
}

void CPuzzleModel::pmop_ResetAdjustments() {
  i_DestroyEffectWindow();
  CKLF_DWordArray targets;
  if (!i_Targets(kSelection, targets)) return;
  CTessarette::SFX_ONEPIECE defaults;
  m_engine.GetDefaultRecord(defaults);
  for (u32 i = 0; i < targets.GetSize(); ++i) {
    m_engine.RecordToPiece(defaults, targets[i], 0, 0);
    Cell& c = *m_engine.GetPiece(targets[i]);
    if (c.visible) continue;
    // Shown again, and rendered again whatever its effects were.
    c.visible = 1;
    c.bevel[R].enabled = 0;
  }
  pmop_RerenderPieces(&targets, 1, 1);
  OnCommonFXChanged();
}

u8 CPuzzleModel::i_pmop_CheckPieceFXUpdates(i32 piece) const {
  if (!i_Valid(piece)) return 0;
  const Cell& c = *m_engine.GetPiece(static_cast<u32>(piece));
  const auto& op = c.opacity;
  if (Differs(op[W].enabled, op[R].enabled, op[W].opacity != op[R].opacity)) return 1;
  if (c.invert[W] != c.invert[R]) return 1;
  const auto& io = c.imageOverlay;
  if (Differs(io[W].enabled, io[R].enabled,
              io[W].opacity != io[R].opacity || io[W].sourceMode != io[R].sourceMode || io[W].layerId != io[R].layerId))
    return 1;
  const auto& co = c.colorOverlay;
  if (Differs(co[W].enabled, co[R].enabled, co[W].opacity != co[R].opacity || RgbDiffers(co[W].color, co[R].color)))
    return 1;
  // Hue/saturation runs on RGB documents only.
  const auto& hsl = c.hsl;
  if (m_engine.m_colorKind == 1 &&
      Differs(hsl[W].enabled, hsl[R].enabled,
              hsl[W].hue != hsl[R].hue || hsl[W].saturation != hsl[R].saturation || hsl[W].lightness != hsl[R].lightness))
    return 1;
  if (Differs(c.blur[W].enabled, c.blur[R].enabled, c.blur[W].radius != c.blur[R].radius)) return 1;
  const auto& bc = c.bc;
  if (Differs(bc[W].enabled, bc[R].enabled, bc[W].brightness != bc[R].brightness || bc[W].contrast != bc[R].contrast))
    return 1;
  const auto& mb = c.mblur;
  if (Differs(mb[W].enabled, mb[R].enabled, mb[W].angle != mb[R].angle || mb[W].radius != mb[R].radius)) return 1;
  const auto& st = c.stroke;
  if (Differs(st[W].enabled, st[R].enabled,
              st[W].opacity != st[R].opacity || st[W].size != st[R].size || RgbDiffers(st[W].color, st[R].color)))
    return 1;
  return Differs(c.bevel[W].enabled, c.bevel[R].enabled, BevelDiffers(c.bevel[W], c.bevel[R])) ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Re-rendering

u8 CPuzzleModel::pmop_RerenderPieces(CKLF_DWordArray* pieces, u8 redraw, u8 live) {
  if (m_busy) {
    m_restart = 1;
    return 1;
  }
  m_busy = 1;
  m_restart = 0;
  m_stop = 0;
  Progress progress(m_port, kRendering);
  // The union of what was rendered is kept across restarts: a piece
  // rendered before one needs no second render, but its area must still
  // be recombined. So is the area a stopped re-render left.
  kltRECT_s area = m_unrecombined;
  m_unrecombined = klNullRect;
  RenderPass pass = kPassDone;
  for (;;) {
    progress.Report(0);
    pass = i_RenderList(pieces, live, area, progress);
    if (pass == kPassRestart) {
      m_restart = 0;
      live = 1;
      continue;
    }
    if (pass == kPassStopped) {
      m_unrecombined = area;
      break;
    }
    if (klIsNullRect(area)) break;
    progress.Report(70);
    if (!i_Recombine(area, redraw, 70, 100) && !m_stop) pass = kPassFailed;
    area = klNullRect;
    // A request that came while recombining (the progress pumps events).
    if (pass != kPassDone || !m_restart || m_stop) break;
    m_restart = 0;
    live = 1;
  }
  progress.Report(100);
  m_busy = 0;
  m_restart = 0;
  m_stop = 0;
  if (pass != kPassFailed) return 1;
  m_port.Alert(kMsgMemory, kMsgTitle);
  return FailFrom(m_engine, klErrNoMemory);
}

u8 CPuzzleModel::pmop_CompleteResult() {
  CKLF_DWordArray all;
  const u32 n = i_Count();
  if (!all.SetArraySize(n)) return i_NoMemoryForList(all);
  for (u32 i = 0; i < n; ++i)
    if (all.Add(i) < 0) return i_NoMemoryForList(all);
  return pmop_RerenderPieces(&all, 0, 0);
}

u8 CPuzzleModel::i_Recombine(kltRECT_s area, u8 redraw, u8 from, u8 to) {
  if (pmop_DoRerenderRect(area, redraw, from, to)) return 1;
  const kltRECT_s whole = {0, 0, static_cast<i32>(m_width), static_cast<i32>(m_height)};
  i_GrowUnion(m_unrecombined, klIsNullRect(area) ? whole : area);
  return 0;
}

// The pieces that need it are rendered side by side: all in one batch, or,
// while an effect window is open and live is set, in batches of one piece a
// thread with events pumped before each; a request that came meanwhile
// restarts the pass, a stop ends it.
CPuzzleModel::RenderPass CPuzzleModel::i_RenderList(CKLF_DWordArray* list, u8 live, kltRECT_s& area,
                                                    Progress& progress) {
  const u32 n = list ? list->GetSize() : 0;
  const u8 pump = effectWindowOpen && live;
  const u32 most = pump ? KLF_Parallel::Resolve(m_engine.GetThreads()) : n;
  CKLF_Mem batchMem;
  u32* batch = n ? reinterpret_cast<u32*>(batchMem.alloc(most * 4u)) : nullptr;
  if (n && !batch) return Fail(klErrNoMemory, kPassFailed);
  for (u32 i = 0; i < n;) {
    progress.Report(static_cast<u32>(static_cast<u64>(i) * 70 / n));
    if (pump) {
      m_port.PumpEvents();
      if (m_stop) return kPassStopped;
      if (m_restart) return kPassRestart;
    }
    u32 count = 0;
    for (; i < n && count < most; ++i) {
      u32 index = 0;
      if (i >= list->GetSize() || !list->GetAt(i, index)) continue;
      if (index <= 0x7FFFFFFFu && i_pmop_CheckPieceFXUpdates(static_cast<i32>(index))) batch[count++] = index;
    }
    const u8 ok = count == 0 || i_RenderPieces(batch, count);
    // A batch that failed half way may have rendered some of its pieces.
    for (u32 k = 0; k < count; ++k) i_GrowUnion(area, m_engine.GetPiece(batch[k])->rect);
    if (!ok) return kPassFailed;
  }
  return kPassDone;
}

u8 CPuzzleModel::pmop_DoRerenderRect(kltRECT_s rect, u8 redraw, u8 from, u8 to) {
  u8* planes[5] = {};
  u32 stride = 0;
  if (resultImage.GetImageMode() != 2 || resultImage.GetImageWidth() != m_width ||
      resultImage.GetImageHeight() != m_height || !resultImage.GetImageChannels(planes, stride))
    return Fail(klErrEmpty);
  i_ShowSourceIn(rect, planes, stride);
  u8 ok = 0;
  {
    // Union 0, as the replay composes: pieces' soft edges share their
    // pixels (a union would leave a seam of partial alpha along thick
    // knives, and OK would write other bytes than the replay).
    Progress progress(m_port, kRendering);
    StoppableProgress stoppable(progress.Get(), m_stop);
    CKLF_Progress* previous = m_engine.GetProgress();
    m_engine.SetProgress(&stoppable);
    ok = m_engine.CombineSplitedCells(static_cast<i32>(m_width), static_cast<i32>(m_height), planes, stride, 4,
                                      m_alpha, m_width, rect, 0, from, to);
    m_engine.SetProgress(previous);
  }
  // A stopped recombination shows nothing half done: the next one follows.
  if (redraw && (ok || !m_stop)) m_port.RedrawPreview(1);
  return ok ? 1 : FailFrom(m_engine, klErrBadArg);
}

void CPuzzleModel::i_ShowSourceIn(kltRECT_s rect, u8* const planes[], u32 stride) {
  u8* from[5] = {};
  u32 fromStride = 0;
  if (!m_source || m_source->GetImageWidth() != m_width || m_source->GetImageHeight() != m_height ||
      m_source->GetImageChannels(from, fromStride) < 3)
    return;
  const bool whole = klIsNullRect(rect);
  const i64 left = whole ? 0 : std::max<i64>(rect.left, 0), top = whole ? 0 : std::max<i64>(rect.top, 0);
  const i64 right = whole ? m_width : std::min<i64>(rect.right, m_width);
  const i64 bottom = whole ? m_height : std::min<i64>(rect.bottom, m_height);
  for (u8 c = 0; c < 3 && right > left; ++c)
    for (i64 y = top; y < bottom; ++y)
      std::memcpy(planes[c] + y * stride + left, from[c] + y * fromStride + left, static_cast<size_t>(right - left));
}

// ---------------------------------------------------------------------------
// Effect windows

void CPuzzleModel::EnterFXMode() {
  effectWindowOpen = 1;
  OnChangeMode();
  unpm_PreSave();
}

void CPuzzleModel::ExitFXMode() {
  effectWindowOpen = 0;
  OnChangeMode();
  OnCommonFXChanged();
  unpm_SaveState(1);
}

u8 CPuzzleModel::i_OpenEffectWindow(u8 effect) {
  if (effect == kHSL && m_engine.m_colorKind != 1) return Fail(klErrUnsupported);
  i_DestroyEffectWindow();
  const char* name = CEffectWindowServices::ResourceName(effect);
  if (!name) return Fail(klErrBadArg);
  effectWindow = m_port.NewEffectWindow(effect);
  if (!effectWindow) return Fail(klErrWindowCreate);
  // The window's own owner when it gave one (the main window), else this.
  if (!effectWindow->mainWindow) effectWindow->mainWindow = this;
  kltSIZE_s at = klNullSize;
  const u8 placed = m_port.GetWindowPosition(name, "MAIN", at);
  if (!placed || !effectWindow->CreateEffectWindow(name, at)) {
    i_DestroyEffectWindow();
    if (placed) return Fail(klErrWindowCreate);
    m_port.Alert(kMsgMemory, kMsgTitle);
    return Fail(klErrNoMemory);
  }
  EnterFXMode();
  effectWindow->ShowEffectWindow();
  return 1;
}
