// The replay and the writers that put a result back into the host's planes.
#include <atomic>
#include <cstring>

#include "CKLF_Image.h"
#include "CPluginMain.h"
#include "CTessaretteRecordCodec.h"
#include "KLF_Parallel.h"

namespace {

// (fore x m + (255 - m) x back) / 255 for every m.
void BlendTable(u8 fore, u8 back, u8 table[256]) {
  for (u32 m = 0; m < 256; ++m) table[m] = static_cast<u8>((fore * m + (255 - m) * back) / 255);
}

const u8 kMaxPlanes = 5;
// Bytes of one task when a plane is scanned side by side.
const u64 kBlendBand = 1 << 16;

// Frees the engine's pieces when the apply ends (they point into planes
// that the apply owns); its pieces get their images when rendered.
struct PieceRelease {
  CTessarette& engine;
  explicit PieceRelease(CTessarette& e) : engine(e) { engine.SetImagesOnRender(1); }
  ~PieceRelease() {
    engine.FreeSpliting();
    engine.SetImagesOnRender(0);
  }
};
const u32 kTableSide = 100;

}  // namespace

void CPluginMain::i_PrepareEngine() {
  CTessarette::DOCUMENT doc;
  doc.colorKind = m_pluginData.colorKind;
  doc.filterArea = m_pluginData.filterArea;
  doc.layerAccess = m_engineLayerAccess;
  doc.layers = &m_layerSource;
  m_engine.SetDocument(doc);
  m_engine.SetProgress(&m_hostProgress);
  m_engine.SetThreads(m_pluginData.threads);
}

u8 CPluginMain::i_CheckEngineSize(i32 width, i32 height) {
  u8 planes = static_cast<u8>(m_pluginData.planes + 1);
  if (width <= 0 || height <= 0 || width > CTessarette::kMaxSide || height > CTessarette::kMaxSide ||
      !klFits32(static_cast<u64>(width) * static_cast<u64>(height) * planes)) {
    HostSetRetCode_BadParam();
    return Fail(klErrBadArg);
  }
  return 1;
}

u8 CPluginMain::i_ReplaySettings(CKLF_Mem& block) {
  // Pieces of an earlier run point into buffers that are gone.
  m_engine.FreeSpliting();
  u8 layout = 0;
  u32 count = 0;
  const u8* records = nullptr;
  if (!m_engine.InitFromLastSettingsBinary(&block, layout, count, records)) return FailFrom(m_engine, klErrNotFormat);
  // An opaque document's alpha would be 255 everywhere: the thin knife's
  // cut and the composition go without it, so it is not made.
  if (!PrepareCompositeAlpha(layout || i_OpaqueThinCut() ? 0 : 1)) return 0;
  return layout ? Apply_DrawSpliting() : Apply_SplittingNoUI(count, records);
}

u8 CPluginMain::Apply_DrawSpliting() {
  const kltPLUGINDATA_s& pd = m_pluginData;
  m_engine.SetProgress(&m_hostProgress);
  m_hostProgress.Progress(0, nullptr);
  const kltRECT_s r = pd.filterRect;
  i64 w64 = static_cast<i64>(r.right) - r.left, h64 = static_cast<i64>(r.bottom) - r.top;
  if (w64 > CTessarette::kMaxSide || h64 > CTessarette::kMaxSide) w64 = -1;
  const i32 w = static_cast<i32>(w64), h = static_cast<i32>(h64);
  if (!i_CheckEngineSize(w, h)) return 0;
  const u32 n = static_cast<u32>(w) * static_cast<u32>(h);
  CKLF_Mem mask;
  if (!mask.alloc(n)) return FailFrom(mask, klErrNoMemory);
  m_hostProgress.Progress(5, nullptr);
  if (!m_engine.DrawSplitting(w, h, mask.GetPtr(), static_cast<u32>(w), 5, 95)) return FailFrom(m_engine, klErrBadArg);
  const u8 colours = static_cast<u8>(pd.planes - pd.transparency);
  if (pd.editableTransparency) {
    if (!HostPutChanel(static_cast<u8>(pd.planes - 1), r, mask.GetPtr(), static_cast<u32>(w))) return 0;
    for (u8 c = 0; c < colours; ++c)
      if (!HostPutChanel(c, r, pd.foreColor[c])) return 0;
  } else {
    CKLF_Mem plane;
    if (!plane.alloc(n)) return FailFrom(plane, klErrNoMemory);
    const u8* m = mask.GetPtr();
    u8* out = plane.GetPtr();
    for (u8 c = 0; c < colours; ++c) {
      u8 table[256];
      BlendTable(pd.foreColor[c], pd.backColor[c], table);
      for (u32 i = 0; i < n; ++i) out[i] = table[m[i]];
      if (!HostPutChanel(c, r, out, static_cast<u32>(w))) return 0;
    }
  }
  m_hostProgress.Progress(100, nullptr);
  return 1;
}

u8 CPluginMain::Apply_SplittingUI(CKLF_Image* image) {
  const kltPLUGINDATA_s& pd = m_pluginData;
  if (pd.colorKind != 1 || !image || image->GetImageMode() != 2) return Fail(klErrBadArg);
  const kltRECT_s r = pd.filterRect;
  const i32 w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0 || image->GetImageWidth() != w || image->GetImageHeight() != h) return Fail(klErrBadArg);
  u8* planes[5];
  u32 stride = 0;
  if (image->GetImageChannels(planes, stride) != 4) return FailFrom(*image, klErrBadArg);
  m_engine.SetProgress(&m_hostProgress);
  m_hostProgress.Progress(0, nullptr);
  if (!pd.editableTransparency) {
    const u8* a = planes[3];
    for (u8 c = 0; c < 3; ++c) {
      m_hostProgress.Progress(static_cast<u8>(30 * c), nullptr);
      u8* v = planes[c];
      for (i32 y = 0; y < h; ++y)
        for (i32 x = 0; x < w; ++x) {
          size_t i = static_cast<size_t>(y) * stride + x;
          v[i] = static_cast<u8>((a[i] * v[i] + (255 - a[i]) * pd.backColor[c]) / 255);
        }
      m_hostProgress.Progress(static_cast<u8>(30 * c + 15), nullptr);
      if (!HostPutChanel(c, r, v, stride)) return 0;
    }
  } else {
    for (u8 c = 0; c < pd.planes; ++c) {
      if (c >= 4) {
        HostSetRetCode_BadParam();
        return Fail(klErrBadArg);
      }
      m_hostProgress.Progress(static_cast<u8>(25 * c), nullptr);
      if (!HostPutChanel(c, r, planes[c], stride)) return 0;
    }
  }
  m_hostProgress.Progress(100, nullptr);
  return 1;
}

u8 CPluginMain::Apply_SplittingNoUI(u32 count, const u8* records) {
  const kltPLUGINDATA_s& pd = m_pluginData;
  m_engine.SetProgress(&m_hostProgress);
  m_hostProgress.Progress(0, nullptr);
  const i32 w = m_alphaWidth, h = m_alphaHeight;
  const u8 n = static_cast<u8>(pd.planes - pd.transparency);
  const u64 planeSize = static_cast<u64>(w) * static_cast<u64>(h);
  // The document's planes (the pieces' sources), then, once cut, the
  // composed planes and their alpha: the pieces are composed batch by batch
  // as they render, over the document's colours where no piece lies.
  CKLF_Mem source, composed;
  const u8* limit = nullptr;
  u8* out[kMaxPlanes];
  {
    PieceRelease release(m_engine);
    if (!i_CutFilterArea(records ? count : 0, records, 0, source, limit)) return 0;
    if (!composed.alloc(static_cast<u32>(planeSize * (n + 1u)))) {
      HostSetRetCode_MemFull();
      return FailFrom(composed, klErrNoMemory);
    }
    u8* planes[kMaxPlanes];
    for (u8 c = 0; c < n; ++c) planes[c] = source.GetPtr() + planeSize * c;
    for (u8 c = 0; c <= n; ++c) out[c] = composed.GetPtr() + planeSize * c;
    if (!m_engine.RenderAndCombine(w, h, out, static_cast<u32>(w), static_cast<u8>(n + 1), limit,
                                   static_cast<u32>(w), 60, 90, planes))
      return FailFrom(m_engine, klErrBadArg);
  }
  source.free();
  return i_WriteComposed(out, n);
}

// The filter rectangle's colour planes into source (progress 0..7), cut
// into pieces (7..60) limited by the composite alpha (limit: null when it
// limits nothing), each piece given its stored record.
u8 CPluginMain::i_CutFilterArea(u32 count, const u8* records, u8 withSelection, CKLF_Mem& source, const u8*& limit) {
  const kltPLUGINDATA_s& pd = m_pluginData;
  const i32 w = m_alphaWidth, h = m_alphaHeight;
  if (!m_alphaPtr && !i_OpaqueThinCut()) return Fail(klErrEmpty);
  if (!i_CheckEngineSize(w, h)) return 0;
  const u8 n = static_cast<u8>(pd.planes - pd.transparency);
  const u64 planeSize = static_cast<u64>(w) * static_cast<u64>(h);
  // An alpha opaque everywhere limits nothing; for the thin knife, whose
  // regions' bounds are tight (and which has no knife piece), the cut
  // without it gives the same pieces, so it is let go before the planes
  // are taken.
  limit = m_alphaPtr;
  if (limit && m_engine.m_thinKnife && i_AlphaOpaque(planeSize)) {
    m_alpha.free();
    m_alphaPtr = nullptr;
    limit = nullptr;
  }
  if (!source.alloc(static_cast<u32>(planeSize * n))) {
    HostSetRetCode_MemFull();
    return FailFrom(source, klErrNoMemory);
  }
  u8* planes[kMaxPlanes];
  for (u8 c = 0; c < n; ++c) planes[c] = source.GetPtr() + planeSize * c;
  for (u8 c = 0; c < n; ++c) {
    m_hostProgress.Progress(c, nullptr);
    if (!HostGetChanel(c, pd.filterRect, planes[c], static_cast<u32>(w))) return 0;
  }
  m_hostProgress.Progress(7, nullptr);
  if (!m_engine.SplitCells(w, h, const_cast<u8*>(limit), static_cast<u32>(w), planes, static_cast<u32>(w), n, 7, 60,
                           0))
    return FailFrom(m_engine, klErrBadArg);
  return i_GiveRecords(count, records, withSelection);
}

u8 CPluginMain::CutPieces(CKLF_Mem& block, CKLF_Mem& source) {
  m_engine.FreeSpliting();
  m_engine.SetImagesOnRender(0);
  i_PrepareRun();
  u8 layout = 0;
  u32 count = 0;
  const u8* records = nullptr;
  if (!m_engine.InitFromLastSettingsBinary(&block, layout, count, records)) return FailFrom(m_engine, klErrNotFormat);
  const u8* limit = nullptr;
  u8 ok = PrepareCompositeAlpha(1) && i_CutFilterArea(records ? count : 0, records, 1, source, limit);
  if (ok && !m_engine.RenderAllPieces(60, 100)) ok = FailFrom(m_engine, 0);
  // Image overlays have read the layers they need.
  i_ReleaseSuites();
  return ok;
}

u8 CPluginMain::i_OpaqueThinCut() const {
  return !m_pluginData.transparency && !m_pluginData.hostMask && m_engine.m_thinKnife;
}

u8 CPluginMain::i_AlphaOpaque(u64 size) const {
  const u8* a = m_alphaPtr;
  const u64 bands = (size + kBlendBand - 1) / kBlendBand;
  std::atomic<u8> opaque{1};
  KLF_Parallel::ForEach(m_engine.GetThreads(), static_cast<u32>(bands), [&](u32 band, u32) noexcept {
    const u64 end = (band + 1) * kBlendBand < size ? (band + 1) * kBlendBand : size;
    u8 all = 255;
    for (u64 i = band * kBlendBand; i < end; ++i) all &= a[i];
    if (all != 255) opaque.store(0);
  });
  return opaque.load();
}

// Gives every piece its stored record: records in the pieces' own order,
// else matched by row and column (rows and columns below 100, a later
// record of a cell winning); no record, the defaults. The records' selected
// bytes are taken too with withSelection.
u8 CPluginMain::i_GiveRecords(u32 count, const u8* records, u8 withSelection) {
  const u32 pieces = m_engine.GetPieceCount();
  if (pieces == 0) return 1;
  const u32 kSize = CTessaretteRecordCodec::kSize;
  CTessarette::SFX_ONEPIECE rec;
  bool ordered = count == pieces;
  for (u32 i = 0; i < count && ordered; ++i) {
    const CTessarette::SPLITEDCELL* cell = m_engine.GetPiece(i);
    ordered = CTessaretteRecordCodec::Decode(records + static_cast<u64>(i) * kSize, kSize, rec) &&
              rec.column == cell->column && rec.row == cell->row;
  }
  CKLF_Mem table;
  i32* slot = nullptr;
  if (count > 0 && !ordered) {
    if (!table.alloc(kTableSide * kTableSide * sizeof(i32))) return FailFrom(table, klErrNoMemory);
    slot = reinterpret_cast<i32*>(table.GetPtr());
    for (u32 i = 0; i < kTableSide * kTableSide; ++i) slot[i] = -1;
    for (u32 i = 0; i < count; ++i) {
      if (CTessaretteRecordCodec::Decode(records + static_cast<u64>(i) * kSize, kSize, rec) &&
          rec.row < kTableSide && rec.column < kTableSide)
        slot[rec.row * kTableSide + rec.column] = static_cast<i32>(i);
    }
  }
  for (u32 i = 0; i < pieces; ++i) {
    const CTessarette::SPLITEDCELL* cell = m_engine.GetPiece(i);
    i64 which = count > 0 && ordered ? static_cast<i64>(i) : -1;
    if (slot && cell->column < kTableSide && cell->row < kTableSide)
      which = slot[cell->row * kTableSide + cell->column];
    if (which >= 0 && (!CTessaretteRecordCodec::Decode(records + static_cast<u64>(which) * kSize, kSize, rec) ||
                       !m_engine.RecordToPiece(rec, i, 1, withSelection)))
      return Fail(klErrBadArg);
  }
  return 1;
}

// Writes the composed planes (n colour planes and the alpha after them,
// filter rectangle sized) from progress 92: the colours, then the alpha as
// the transparency, or the colours laid over the background colour.
u8 CPluginMain::i_WriteComposed(u8* const* planes, u8 n) {
  const kltPLUGINDATA_s& pd = m_pluginData;
  const kltRECT_s r = pd.filterRect;
  const u32 w = static_cast<u32>(m_alphaWidth);
  const u8* a = planes[n];  // the composed alpha
  u8 percent = 92;
  const u8 last = pd.editableTransparency ? n : static_cast<u8>(n - 1);
  for (u8 c = 0; c <= last; ++c) {
    const u8 plane = c < n ? c : static_cast<u8>(pd.planes - 1);
    if (plane >= kMaxPlanes) {
      HostSetRetCode_BadParam();
      return Fail(klErrBadArg);
    }
    m_hostProgress.Progress(percent, nullptr);
    percent = static_cast<u8>(percent + 2);
    if (pd.editableTransparency) {
      if (!HostPutChanel(plane, r, planes[c], w)) return 0;
      continue;
    }
    // Laid over the background colour straight into the host's bands.
    struct Blend {
      const u8* v;
      const u8* a;
      u32 back, width;
      static void Rows(void* user, u32 row, u32 rows, u8* dst, i64 dstRowBytes) {
        const Blend& b = *static_cast<const Blend*>(user);
        const u32 width = b.width;
        const u16 back = static_cast<u16>(b.back);
        for (u32 y = 0; y < rows; ++y) {
          const u64 at = static_cast<u64>(row + y) * width;
          const u8* __restrict v = b.v + at;
          const u8* __restrict a = b.a + at;
          u8* __restrict d = dst + static_cast<i64>(y) * dstRowBytes;
          // In 16 bits (the sum is at most 255 x 255), divided by 255 as
          // (s + 1 + s / 256) / 256, exact for every such sum.
          for (u32 x = 0; x < width; ++x) {
            const u16 s = static_cast<u16>(a[x] * v[x] + (255 - a[x]) * back);
            d[x] = static_cast<u8>((s + 1 + (s >> 8)) >> 8);
          }
        }
      }
    } blend = {planes[c], a, pd.backColor[c], w};
    if (!HostPutChanelRows(plane, r, Blend::Rows, &blend)) return 0;
  }
  m_hostProgress.Progress(100, nullptr);
  return 1;
}
