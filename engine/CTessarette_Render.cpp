// Rendering the pieces' effects through the effect engine and recombining
// the shown pieces.
#include <atomic>
#include <cstring>
#include <new>

#include "CTessarette.h"
#include "CTessaretteLayerSource.h"

namespace {

// Rows of one band of the recombination.
const u32 kBandRows = 32;

// A row of a piece laid over the composed planes: where the piece's alpha m
// is not 0, each colour takes the piece's where the composed alpha d is 0,
// else moves by m/256 of the way to it; the alpha takes m (scaled by the
// opacity o), or adds up. Branch-free over the row, so that it vectorises;
// pixels where m is 0 keep their bytes.
void ComposeRow(const CTessarette::SPLITEDCELL& c, size_t prow, u8* const* planes, size_t drow, u8* __restrict da,
                u32 colours, u32 alphaPlane, i32 n, i32 o, u8 unionAlpha) {
  const u8* __restrict pa = c.imgPlanes[alphaPlane] + prow;
  for (u32 p = 0; p < colours; p++) {
    const u8* __restrict pv = c.imgPlanes[p] + prow;
    u8* __restrict dv = planes[p] + drow;
    for (i32 k = 0; k < n; k++) {
      const i32 m = pa[k], d = da[k], v = pv[k], w = dv[k];
      const i32 mixed = d == 0 ? v : w + ((m * (v - w)) >> 8);
      dv[k] = static_cast<u8>(m ? mixed : w);
    }
  }
  for (i32 k = 0; k < n; k++) {
    const i32 m = pa[k], d = da[k];
    const i32 mo = o == 255 ? m : (m * o) >> 8;
    const i32 over = o == 255 ? (unionAlpha ? 255 - (((255 - d) * (255 - m)) >> 8) : 255)
                              : 255 - (((255 - d) * (255 - mo)) >> 8);
    da[k] = static_cast<u8>(m ? (d == 0 ? mo : over) : d);
  }
}
// Piece images one batch of RenderAndCombine may hold (beyond its first piece).
const u64 kBatchImageBytes = 16u << 20;

u8 RectEmpty(const kltRECT_s& r) { return r.left >= r.right || r.top >= r.bottom; }

// The colour line's bytes for the document's colour planes.
void ColorLine(u8 colorKind, const u8* line, u8* out) {
  if (colorKind == 2) {
    std::memcpy(out, line + 4, 4);
  } else if (colorKind == 1) {
    std::memcpy(out, line + 1, 3);
    out[3] = 0;
  } else {
    out[0] = out[1] = out[2] = line[0];
    out[3] = 0;
  }
}

}  // namespace

void CTessarette::i_SetFXData(u8 direction, u32 index, RenderContext& rc) {
  const SPLITEDCELL& c = m_cells[index];
  const u16 w = static_cast<u16>(c.rect.right - c.rect.left);
  const u16 h = static_cast<u16>(c.rect.bottom - c.rect.top);
  u8* piece[5];
  u8* work[5];
  for (u32 p = 0; p < 5; p++) {
    piece[p] = c.imgPlanes[p];
    work[p] = rc.workPlanes[p];
  }
  if (direction) {
    rc.fx.SetSource(work, rc.workStride, m_planeCount, 1, w, h);
    rc.fx.SetDestination(piece, c.imgStrides[0], m_planeCount, 1, w, h);
  } else {
    rc.fx.SetSource(piece, c.imgStrides[0], m_planeCount, 1, w, h);
    rc.fx.SetDestination(work, rc.workStride, m_planeCount, 1, w, h);
  }
}

void CTessarette::i_ColorFromLine(const u8* line, u8* out) const { ColorLine(m_colorKind, line, out); }

void CTessarette::i_PutDocumentLayerContentToDestinationImage(kltRECT_s rect, u8 automatic, i32 layerId,
                                                               CKLF_ImageFX& fx) {
  u8* planes[5];
  u32 stride = 0;
  u8 count = 0, alpha = 0;
  i32 w = 0, h = 0;
  fx.GetDestination(planes, stride, count, alpha, w, h);
  auto clear = [&]() {
    for (u32 p = 0; p < count; p++)
      for (i32 y = 0; y < h; y++) std::memset(planes[p] + static_cast<size_t>(y) * stride, 0, static_cast<size_t>(w));
  };
  clear();
  CTessaretteLayerSource* src = m_doc.layers;
  if (!m_doc.layerAccess || !src) return;
  const kltRECT_s area = m_doc.filterArea;
  kltRECT_s r = {rect.left + area.left, rect.top + area.top, rect.right + area.left, rect.bottom + area.top};
  if (!src->FillLayerTable(area, 0)) return;
  auto covers = [&](const kltRECT_s& b) {
    if (klIsNullRect(b) || RectEmpty(b)) return false;
    return b.left <= r.left && b.top <= r.top && b.right >= r.right && b.bottom >= r.bottom;
  };
  const u32 n = src->GetLayerCount();
  i32 chosen = -1;
  if (automatic) {
    u64 bestArea = 0;
    bool found = false;
    for (u32 i = 0; i < n; i++) {
      CTessaretteLayerSource::LAYERINFO info;
      if (!src->GetLayerInfo(i, info) || info.id == -1 || !covers(info.bounds)) continue;
      // Covering bounds are not empty, so both sides are positive; they may
      // exceed 2^31 for the host's widest layers.
      const u64 a = static_cast<u64>(static_cast<i64>(info.bounds.right) - info.bounds.left) *
                    static_cast<u64>(static_cast<i64>(info.bounds.bottom) - info.bounds.top);
      if (!found || a <= bestArea) {
        bestArea = a;
        chosen = info.id;
        found = true;
      }
    }
  } else {
    if (layerId == -2) return;
    bool found = false;
    for (u32 i = 0; i < n && !found; i++) {
      CTessaretteLayerSource::LAYERINFO info;
      if (src->GetLayerInfo(i, info) && info.id == layerId && covers(info.bounds)) found = true;
    }
    if (!found) return;
    chosen = layerId;
  }
  if (!src->ReadLayer(chosen, planes, stride, w, h, count, r)) clear();
}

u8 CTessarette::RenderPiece(u32 index) {
  if (index >= m_cellCount) return Fail(klErrBadArg);
  // A cancel leaves the piece as it was, without an error.
  if (i_Cancelled()) return 0;
  return i_RenderPiece(index, m_render) ? 1 : Fail(klErrNoMemory);
}

u8 CTessarette::RenderAllPieces(u8 low, u8 high) {
  if (!m_nested) m_lastProgress = -1;
  return i_RenderParallel(low, high, 1);
}

// Image overlays read document layers through the host, which is asked on
// the calling thread only.
u8 CTessarette::i_NeedsLayers(u32 index) const {
  return m_doc.layerAccess && m_doc.layers && m_cells[index].imageOverlay[FX_WORKING].enabled;
}

u32 CTessarette::i_RenderContexts(u32 count, u32 fxThreads) {
  m_render.fx.SetThreads(fxThreads);
  for (u32 i = 1; i < count; i++) {
    RenderContext*& rc = m_extraRender[i];
    if (!rc) rc = new (std::nothrow) RenderContext();
    if (!rc || !i_GrowWorkImage(*rc)) return i;
    rc->fx.SetThreads(fxThreads);
  }
  return count;
}

u8 CTessarette::i_RenderParallel(u8 low, u8 high, u8 cancellable) {
  return i_RenderRange(0, m_cellCount, low, high, cancellable);
}

// Pieces first..end-1; progress counts pieces of all m_cellCount.
u8 CTessarette::i_RenderRange(u32 first, u32 end, u8 low, u8 high, u8 cancellable) {
  if (first >= end) return 1;
  if (!i_GrowWorkImage(m_render)) return Fail(klErrNoMemory);
  CKLF_Mem orderBlock;
  if (!orderBlock.alloc((end - first) * 4u)) return FailFrom(orderBlock, klErrNoMemory);
  // Pieces that read layers first, then the others, each in piece order.
  u32* order = reinterpret_cast<u32*>(orderBlock.GetPtr());
  u32 serial = 0;
  for (u32 i = first; i < end; i++)
    if (i_NeedsLayers(i)) order[serial++] = i;
  for (u32 i = first, k = serial; i < end; i++)
    if (!i_NeedsLayers(i)) order[k++] = i;

  struct Job : KLF_ParallelJob {
    CTessarette* e;
    const u32* list;
    u32 offset;  // pieces rendered before this run
    u8 low, high, cancellable;
    std::atomic<u8> failed{0};
    void RunTask(u32 index, u32 worker) override {
      if (!e->i_RenderPiece(list[index], worker ? *e->m_extraRender[worker] : e->m_render)) failed.store(1);
    }
    u8 Poll(u32 done) override {
      e->SetLocalProgress(100.0 * (offset + done) / e->m_cellCount, low, high);
      return failed.load() || (cancellable && e->i_Cancelled()) ? 0 : 1;
    }
  } job;
  job.e = this;
  job.list = order;
  job.offset = first;
  job.low = low;
  job.high = high;
  job.cancellable = cancellable;
  const u32 threads = KLF_Parallel::Resolve(m_threads);
  m_render.fx.SetThreads(threads);
  if (!KLF_Parallel::Run(1, serial, job)) return job.failed.load() ? Fail(klErrNoMemory) : 0;
  const u32 rest = end - first - serial;
  if (rest == 0) return 1;
  // Fewer pieces than threads are rendered one after the other, each with
  // every thread in its effects: large pieces split finer than a piece a
  // task, and one work image is held rather than one a thread.
  const u32 workers = i_RenderContexts(threads < rest ? threads : rest, 1);
  i_RenderContexts(workers, workers < threads ? threads / workers : 1);
  job.list = order + serial;
  job.offset = first + serial;
  const u8 ok = KLF_Parallel::Run(workers, rest, job);
  m_render.fx.SetThreads(threads);
  return job.failed.load() ? Fail(klErrNoMemory) : ok;
}

// The piece's image block, made when it has none (zeroed).
u8 CTessarette::i_PieceImage(SPLITEDCELL& c) {
  if (c.imageBlock) return 1;
  const u32 rw = static_cast<u32>(c.rect.right - c.rect.left), area = rw * static_cast<u32>(c.rect.bottom - c.rect.top);
  CKLF_Mem* block = new (std::nothrow) CKLF_Mem();
  if (!block || !block->Zalloc(area * m_planeCount)) {
    delete block;
    return 0;
  }
  c.imageBlock = block;
  for (u32 p = 0; p < m_planeCount; p++) {
    c.imgPlanes[p] = block->GetPtr() + static_cast<size_t>(p) * area;
    c.imgStrides[p] = rw;
  }
  return 1;
}

void CTessarette::i_CopyPieceImage(u32 index, u8 toWork, RenderContext& rc) {
  const SPLITEDCELL& c = m_cells[index];
  const u32 rw = static_cast<u32>(c.rect.right - c.rect.left);
  const u32 rh = static_cast<u32>(c.rect.bottom - c.rect.top);
  for (u32 p = 0; p < m_planeCount; p++) {
    for (u32 y = 0; y < rh; y++) {
      u8* work = rc.workPlanes[p] + static_cast<size_t>(y) * rc.workStride;
      if (toWork)
        std::memcpy(work, c.srcPlanes[p] + static_cast<size_t>(y) * c.srcStrides[p], rw);
      else
        std::memcpy(c.imgPlanes[p] + static_cast<size_t>(y) * c.imgStrides[p], work, rw);
    }
  }
}

// Runs on any thread: a failure sets no error (the caller reports it).
u8 CTessarette::i_RenderPiece(u32 index, RenderContext& rc) {
  // A cut that stopped early has not laid out the work image for its pieces
  // (size and plane count); laying it out again costs nothing once grown.
  if (!i_GrowWorkImage(rc) || !i_PieceImage(m_cells[index])) return 0;
  i_CopyPieceImage(index, 1, rc);
  SPLITEDCELL& c = m_cells[index];
  c.opacity[FX_RENDERED] = c.opacity[FX_WORKING];
  // 1: the current result is in the work image. An effect that refuses or
  // fails leaves the result where it was.
  u8 dir = 1;
  const u8 noBlur = i_RenderColours(index, dir, rc);
  i_RenderBlurs(index, dir, noBlur, rc);
  i_RenderShading(index, dir, rc);
  if (dir == 1) i_CopyPieceImage(index, 0, rc);
  return 1;
}

// Invert, image overlay, colour overlay, hue/saturation, brightness and
// contrast. 1 when an opaque colour overlay rules the blurs out.
u8 CTessarette::i_RenderColours(u32 index, u8& dir, RenderContext& rc) {
  SPLITEDCELL& c = m_cells[index];
  auto ran = [&](u8 ok) { dir ^= ok ? 1 : 0; };
  if (c.invert[FX_WORKING]) {
    i_SetFXData(dir, index, rc);
    ran(rc.fx.Invert());
  }
  c.invert[FX_RENDERED] = c.invert[FX_WORKING];

  if (m_doc.layerAccess) {
    const SFX_IMAGEOVERLAY& io = c.imageOverlay[FX_WORKING];
    if (io.enabled) {
      i_SetFXData(dir, index, rc);
      i_PutDocumentLayerContentToDestinationImage(c.rect, io.sourceMode == 0 ? 1 : 0, io.layerId, rc.fx);
      ran(rc.fx.Combine_DonStoD(io.opacity));
    }
    c.imageOverlay[FX_RENDERED] = io;
  }

  u8 noBlur = 0;
  const SFX_COLOROVERLAY& co = c.colorOverlay[FX_WORKING];
  if (co.enabled) {
    u8 colour[4];
    i_ColorFromLine(co.color, colour);
    i_SetFXData(dir, index, rc);
    ran(rc.fx.ColorOverlay(colour, co.opacity));
    noBlur = co.opacity == 255 ? 1 : 0;
  }
  c.colorOverlay[FX_RENDERED] = co;

  const SFX_HSL& hsl = c.hsl[FX_WORKING];
  if (hsl.enabled && m_colorKind == 1) {
    i_SetFXData(dir, index, rc);
    ran(rc.fx.HSLCorrection(hsl.hue, hsl.saturation, hsl.lightness, 1));
  }
  c.hsl[FX_RENDERED] = hsl;

  const SFX_BC& bc = c.bc[FX_WORKING];
  if (bc.enabled) {
    i_SetFXData(dir, index, rc);
    ran(rc.fx.BrightnessContrast(bc.brightness, bc.contrast, 128));
  }
  c.bc[FX_RENDERED] = bc;
  return noBlur;
}

void CTessarette::i_RenderBlurs(u32 index, u8& dir, u8 noBlur, RenderContext& rc) {
  SPLITEDCELL& c = m_cells[index];
  auto ran = [&](u8 ok) { dir ^= ok ? 1 : 0; };
  const SFX_MBLUR& mb = c.mblur[FX_WORKING];
  if (mb.enabled && !noBlur) {
    i_SetFXData(dir, index, rc);
    ran(rc.fx.MotionBlur(mb.angle, mb.radius, 0, 1));
  }
  c.mblur[FX_RENDERED] = mb;

  const SFX_BLUR& b = c.blur[FX_WORKING];
  if (b.enabled && !noBlur) {
    i_SetFXData(dir, index, rc);
    ran(rc.fx.GaussianBlur(b.radius, 0, 1));
  }
  c.blur[FX_RENDERED] = b;
}

// Stroke, then bevel.
void CTessarette::i_RenderShading(u32 index, u8& dir, RenderContext& rc) {
  SPLITEDCELL& c = m_cells[index];
  auto ran = [&](u8 ok) { dir ^= ok ? 1 : 0; };
  u8 colour[4], colour2[4];
  const SFX_STROKE& st = c.stroke[FX_WORKING];
  if (st.enabled) {
    i_ColorFromLine(st.color, colour);
    i_SetFXData(dir, index, rc);
    ran(rc.fx.StrokeInside(colour, st.size, st.opacity));
  }
  c.stroke[FX_RENDERED] = st;

  const SFX_BEVEL& e = c.bevel[FX_WORKING];
  if (e.enabled) {
    i_ColorFromLine(e.highlightColor, colour);
    i_ColorFromLine(e.shadowColor, colour2);
    const klt3D_VECTOR light = {e.light[0], e.light[1], e.light[2]};
    i_SetFXData(dir, index, rc);
    ran(rc.fx.Bevel(e.size, e.depth, static_cast<f64>(e.soften), light, colour, e.highlightOpacity, colour2,
                   e.shadowOpacity));
  }
  c.bevel[FX_RENDERED] = e;
}

// ---------------------------------------------------------------------------
// Recombination

u8 CTessarette::CombineSplitedCells(i32 width, i32 height, u8** planes, u32 stride, u8 planeCount,
                                    const u8* mask, u32 maskStride, kltRECT_s rect, u8 unionAlpha, u8 low,
                                    u8 high) {
  if (!m_nested) m_lastProgress = -1;
  if (m_cellCount == 0) return 1;
  if (!i_CheckCombine(width, height, planes, stride, planeCount, mask, maskStride)) return 0;
  SetLocalProgress(0, low, high);
  if (i_Cancelled()) return 0;

  kltRECT_s r = rect;
  if (klIsNullRect(r)) {
    r = {0, 0, width, height};
  } else {
    if (r.left < 0) r.left = 0;
    if (r.top < 0) r.top = 0;
    if (r.right > width) r.right = width;
    if (r.bottom > height) r.bottom = height;
    if (RectEmpty(r)) return 1;
  }
  SetLocalProgress(1, low, high);
  if (i_Cancelled()) return 0;

  SetLocalProgress(5, low, high);
  if (i_Cancelled()) return 0;

  // Bands of rows are independent: each composes every piece over its rows.
  CombineTarget t = {r, planes, stride, planeCount, mask, maskStride, unionAlpha, nullptr};
  if (!i_CombineBands(t, 0, m_cellCount, 1, 1, 5.0, 85.0, low, high)) return 0;
  SetLocalProgress(90, low, high);
  if (i_Cancelled()) return 0;
  SetLocalProgress(100, low, high);
  if (i_Cancelled()) return 0;
  return 1;
}

u8 CTessarette::i_CheckCombine(i32 width, i32 height, u8** planes, u32 stride, u8 planeCount, const u8* mask,
                               u32 maskStride) {
  if (!planes || planeCount < 2 || planeCount > 5 || width <= 0 || height <= 0 ||
      stride < static_cast<u32>(width) || (mask && maskStride < static_cast<u32>(width)))
    return Fail(klErrBadArg);
  for (u32 p = 0; p < planeCount; p++)
    if (!planes[p]) return Fail(klErrBadArg);
  return 1;
}

u8 CTessarette::RenderAndCombine(i32 width, i32 height, u8** planes, u32 stride, u8 planeCount, const u8* mask,
                                 u32 maskStride, u8 low, u8 high, u8* const* background) {
  if (!m_nested) m_lastProgress = -1;
  // Without pieces only a background is laid.
  if (m_cellCount == 0 && !background) return 1;
  if (!i_CheckCombine(width, height, planes, stride, planeCount, mask, maskStride)) return 0;
  for (u32 p = 0; background && p + 1u < planeCount; p++)
    if (!background[p]) return Fail(klErrBadArg);
  const CombineTarget t = {{0, 0, width, height}, planes, stride, planeCount, mask, maskStride, 0, background};
  if (!i_CombineBands(t, 0, 0, 1, 0, 0.0, 0.0, low, high)) return 0;
  if (m_cellCount == 0) return 1;
  // Batches of pieces, in order: rendered side by side, composed, their
  // images released (a piece's image is needed for its composing alone).
  // A batch holds up to 8 pieces a thread (at least 64) and ends once its
  // images reach kBatchImageBytes, so more threads do not hold more images,
  // but not before it has a piece for every thread (large pieces).
  const u32 threads = KLF_Parallel::Resolve(m_threads), most = 8 * threads > 64 ? 8 * threads : 64;
  for (u32 first = 0, end = 0; first < m_cellCount; first = end) {
    u64 bytes = 0;
    for (end = first; end < m_cellCount && end - first < most && (bytes < kBatchImageBytes || end - first < threads);
         end++) {
      const kltRECT_s& r = m_cells[end].rect;
      bytes += static_cast<u64>(r.right - r.left) * static_cast<u64>(r.bottom - r.top) * m_planeCount;
    }
    if (!i_RenderRange(first, end, low, high, 1)) return 0;
    if (!i_CombineBands(t, first, end, 0, 0, 100.0 * end / m_cellCount, 0.0, low, high)) return 0;
    for (u32 i = first; i < end; i++) {
      SPLITEDCELL& c = m_cells[i];
      delete c.imageBlock;
      c.imageBlock = nullptr;
      std::memset(c.imgPlanes, 0, sizeof(c.imgPlanes));
    }
  }
  return i_CombineBands(t, 0, 0, 0, 1, 100.0, 0.0, low, high);
}

// Rows y0..y1-1 of the target: the alpha cleared (clear), pieces
// first..end-1 composed in order when visible, the alpha limited by the mask
// (limit).
void CTessarette::i_CombineRows(const CombineTarget& t, i32 y0, i32 y1, u32 first, u32 end, u8 clear, u8 limit) {
  const kltRECT_s& r = t.rect;
  u8* alpha = t.planes[t.planeCount - 1];
  for (i32 y = y0; clear && y < y1; y++) {
    const size_t row = static_cast<size_t>(y) * t.stride + r.left;
    std::memset(alpha + row, 0, static_cast<size_t>(r.right - r.left));
    for (u32 p = 0; t.background && p + 1u < t.planeCount; p++)
      std::memcpy(t.planes[p] + row, t.background[p] + row, static_cast<size_t>(r.right - r.left));
  }
  const u32 colours = t.planeCount - 1u < m_planeCount - 1u ? t.planeCount - 1u : m_planeCount - 1u;
  for (u32 i = first; i < end; i++) {
    const SPLITEDCELL& c = m_cells[i];
    const SFX_OPACITY& op = c.opacity[FX_RENDERED];
    if (!c.visible || !c.imageBlock || (op.enabled && op.opacity == 0)) continue;
    const i32 o = op.enabled ? op.opacity : 255;
    const i32 x0 = c.rect.left > r.left ? c.rect.left : r.left;
    const i32 x1 = c.rect.right < r.right ? c.rect.right : r.right;
    const i32 ya = c.rect.top > y0 ? c.rect.top : y0;
    const i32 yb = c.rect.bottom < y1 ? c.rect.bottom : y1;
    if (x0 >= x1 || ya >= yb) continue;
    for (i32 y = ya; y < yb; y++) {
      const size_t prow = static_cast<size_t>(y - c.rect.top) * c.imgStrides[0] + (x0 - c.rect.left);
      const size_t drow = static_cast<size_t>(y) * t.stride + x0;
      ComposeRow(c, prow, t.planes, drow, alpha + drow, colours, m_planeCount - 1u, x1 - x0, o, t.unionAlpha);
    }
  }
  if (!limit || !t.mask) return;
  for (i32 y = y0; y < y1; y++) {
    u8* a = alpha + static_cast<size_t>(y) * t.stride;
    const u8* m = t.mask + static_cast<size_t>(y) * t.maskStride;
    for (i32 x = r.left; x < r.right; x++)
      if (m[x] < a[x]) a[x] = m[x];
  }
}

// i_CombineRows over every band of the target, bands side by side;
// progress from + span x bands done / bands, a cancel check per band.
u8 CTessarette::i_CombineBands(const CombineTarget& t, u32 first, u32 end, u8 clear, u8 limit, f64 from, f64 span,
                               u8 low, u8 high) {
  struct Job : KLF_ParallelJob {
    CTessarette* e;
    const CombineTarget* t;
    u32 first, end, bands;
    u8 clear, limit, low, high;
    f64 from, span;
    void RunTask(u32 index, u32) override {
      const i32 y0 = t->rect.top + static_cast<i32>(index * kBandRows);
      const i32 y1 = t->rect.bottom - y0 > static_cast<i32>(kBandRows) ? y0 + static_cast<i32>(kBandRows) : t->rect.bottom;
      e->i_CombineRows(*t, y0, y1, first, end, clear, limit);
    }
    u8 Poll(u32 done) override {
      e->SetLocalProgress(from + span * done / bands, low, high);
      return e->i_Cancelled() ? 0 : 1;
    }
  } job;
  job.e = this;
  job.t = &t;
  job.first = first;
  job.end = end;
  job.bands = (static_cast<u32>(t.rect.bottom - t.rect.top) + kBandRows - 1) / kBandRows;
  job.clear = clear;
  job.limit = limit;
  job.low = low;
  job.high = high;
  job.from = from;
  job.span = span;
  return KLF_Parallel::Run(m_threads, job.bands, job);
}
