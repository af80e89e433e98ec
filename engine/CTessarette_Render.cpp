// Rendering the pieces' effects through the effect engine and recombining
// the shown pieces.
#include <algorithm>
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

u8 CTessarette::i_SetFXData(u8 direction, u32 index, const PIECEIMAGE& out, RenderContext& rc) {
  const SPLITEDCELL& c = m_cells[index];
  const u16 w = static_cast<u16>(c.rect.right - c.rect.left);
  const u16 h = static_cast<u16>(c.rect.bottom - c.rect.top);
  u8* piece[5];
  u8* work[5];
  for (u32 p = 0; p < 5; p++) {
    piece[p] = out.planes[p];
    work[p] = rc.workPlanes[p];
  }
  if (direction)
    return rc.fx.SetSource(work, rc.workStride, m_planeCount, 1, w, h) &&
           rc.fx.SetDestination(piece, out.stride, m_planeCount, 1, w, h);
  return rc.fx.SetSource(piece, out.stride, m_planeCount, 1, w, h) &&
         rc.fx.SetDestination(work, rc.workStride, m_planeCount, 1, w, h);
}

void CTessarette::i_ColorFromLine(const u8* line, u8* out) const { ColorLine(m_colorKind, line, out); }

u8 CTessarette::i_PutDocumentLayerContentToDestinationImage(kltRECT_s rect, u8 automatic, i32 layerId,
                                                             CKLF_ImageFX& fx) {
  u8* planes[5];
  u32 stride = 0;
  u8 count = 0, alpha = 0;
  i32 w = 0, h = 0;
  if (!fx.GetDestination(planes, stride, count, alpha, w, h)) return 0;
  auto clear = [&]() {
    for (u32 p = 0; p < count; p++)
      for (i32 y = 0; y < h; y++) std::memset(planes[p] + static_cast<size_t>(y) * stride, 0, static_cast<size_t>(w));
  };
  clear();
  CTessaretteLayerSource* src = m_doc.layers;
  if (!m_doc.layerAccess || !src) return 1;
  const kltRECT_s area = m_doc.filterArea;
  kltRECT_s r = {rect.left + area.left, rect.top + area.top, rect.right + area.left, rect.bottom + area.top};
  // Memory that runs out while the layers are read fails the piece; no
  // layer covering it, or one that cannot be read, leaves the overlay clear.
  const auto failed = [&]() -> u8 {
    clear();
    return src->GetLastError() == klErrNoMemory ? 0 : 1;
  };
  if (!src->FillLayerTable(area, 0)) return failed();
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
    if (layerId == -2) return 1;
    bool found = false;
    for (u32 i = 0; i < n && !found; i++) {
      CTessaretteLayerSource::LAYERINFO info;
      if (src->GetLayerInfo(i, info) && info.id == layerId && covers(info.bounds)) found = true;
    }
    if (!found) return 1;
    chosen = layerId;
  }
  return src->ReadLayer(chosen, planes, stride, w, h, count, r) ? 1 : failed();
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
u8 CTessarette::i_NeedsLayers(u32 index, u32 copy) const {
  return m_doc.layerAccess && m_doc.layers && m_cells[index].imageOverlay[copy].enabled;
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

u32 CTessarette::i_SideBySide(u32 threads, u32 count) const {
  // A render holds the work image and the piece's image (a byte a plane a
  // pixel each) and the effects' buffers: the bevel's height map (a float)
  // and its two maps are the largest.
  const u64 piece = static_cast<u64>(m_largestWidth) * static_cast<u64>(m_largestHeight) * (2u * m_planeCount + 6u);
  const u64 fit = piece ? 2 * m_cutArea / piece : threads;
  u32 n = threads < count ? threads : count;
  if (fit < n) n = static_cast<u32>(fit);
  return n ? n : 1;
}

u8 CTessarette::i_RenderParallel(u8 low, u8 high, u8 cancellable) {
  return i_RenderRange(0, m_cellCount, low, high, cancellable);
}

// Pieces first..end-1 into their own images; progress counts pieces of all
// m_cellCount.
u8 CTessarette::i_RenderRange(u32 first, u32 end, u8 low, u8 high, u8 cancellable) {
  struct Pieces : RenderList {
    CTessarette* e;
    u32 first;
    u8 NeedsLayers(u32 slot) const override { return e->i_NeedsLayers(first + slot, FX_WORKING); }
    u8 Render(u32 slot, RenderContext& rc) override { return e->i_RenderPiece(first + slot, rc); }
  } list;
  list.e = this;
  list.first = first;
  if (first >= end) return 1;
  return i_RenderList(list, end - first, first, m_cellCount, low, high, cancellable);
}

u8 CTessarette::RenderPieces(const u32* pieces, u32 count) {
  if (count == 0) return 1;
  if (!pieces) return Fail(klErrBadArg);
  for (u32 i = 0; i < count; i++)
    if (pieces[i] >= m_cellCount) return Fail(klErrBadArg);
  // A cancel before any work leaves the pieces as they were, without an error.
  if (i_Cancelled()) return 0;
  struct Listed : RenderList {
    CTessarette* e;
    const u32* pieces;
    u8 NeedsLayers(u32 slot) const override { return e->i_NeedsLayers(pieces[slot], FX_WORKING); }
    u8 Render(u32 slot, RenderContext& rc) override { return e->i_RenderPiece(pieces[slot], rc); }
  } list;
  list.e = this;
  list.pieces = pieces;
  return i_RenderList(list, count, 0, 0, 0, 0, 0);
}

u8 CTessarette::RenderPieceImages(const u32* pieces, u32 count, u16 leaveOut, const PIECEIMAGE* images, u8 low,
                                  u8 high) {
  if (!m_nested) m_lastProgress = -1;
  if (count == 0) return 1;
  if (!pieces || !images) return Fail(klErrBadArg);
  for (u32 i = 0; i < count; i++) {
    if (pieces[i] >= m_cellCount) return Fail(klErrBadArg);
    for (u32 p = 0; p < m_planeCount; p++)
      if (!images[i].planes[p] || images[i].stride < static_cast<u32>(m_cells[pieces[i]].rect.right -
                                                                      m_cells[pieces[i]].rect.left))
        return Fail(klErrBadArg);
  }
  struct Images : RenderList {
    CTessarette* e;
    const u32* pieces;
    const PIECEIMAGE* images;
    u16 leaveOut;
    u8 NeedsLayers(u32 slot) const override {
      return !(leaveOut & (1u << kEffectImageOverlay)) && e->i_NeedsLayers(pieces[slot], FX_RENDERED);
    }
    u8 Render(u32 slot, RenderContext& rc) override {
      if (!e->i_GrowWorkImage(rc)) return 0;
      PieceEffects fx = e->i_Effects(pieces[slot], FX_RENDERED);
      e->i_LeaveOut(fx, leaveOut);
      return e->i_RenderEffects(pieces[slot], fx, images[slot], rc);
    }
  } list;
  list.e = this;
  list.pieces = pieces;
  list.images = images;
  list.leaveOut = leaveOut;
  return i_RenderList(list, count, 0, count, low, high, 1);
}

// The list's pieces that read layers first, on the calling thread, then
// the others side by side, each in list order. Progress by pieces done:
// (offset + done) / total over low..high.
u8 CTessarette::i_RenderList(RenderList& list, u32 count, u32 offset, u32 total, u8 low, u8 high, u8 cancellable) {
  if (!i_GrowWorkImage(m_render)) return Fail(klErrNoMemory);
  CKLF_Mem orderBlock;
  if (!orderBlock.alloc(count * 4u)) return FailFrom(orderBlock, klErrNoMemory);
  u32* order = reinterpret_cast<u32*>(orderBlock.GetPtr());
  u32 serial = 0;
  for (u32 i = 0; i < count; i++)
    if (list.NeedsLayers(i)) order[serial++] = i;
  for (u32 i = 0, k = serial; i < count; i++)
    if (!list.NeedsLayers(i)) order[k++] = i;

  struct Job : KLF_ParallelJob {
    CTessarette* e;
    RenderList* list;
    const u32* order;
    u32 offset, total;
    u8 low, high, cancellable;
    std::atomic<u8> failed{0};
    void RunTask(u32 index, u32 worker) override {
      if (!list->Render(order[index], worker ? *e->m_extraRender[worker] : e->m_render)) failed.store(1);
    }
    u8 Poll(u32 done) override {
      if (total) e->SetLocalProgress(100.0 * (offset + done) / total, low, high);
      return failed.load() || (cancellable && e->i_Cancelled()) ? 0 : 1;
    }
  } job;
  job.e = this;
  job.list = &list;
  job.order = order;
  job.offset = offset;
  job.total = total;
  job.low = low;
  job.high = high;
  job.cancellable = cancellable;
  const u32 threads = KLF_Parallel::Resolve(m_threads);
  m_render.fx.SetThreads(threads);
  if (!KLF_Parallel::Run(1, serial, job))
    return job.failed.load() ? Fail(klErrNoMemory) : job.GetError() ? Fail(job.GetError()) : 0;
  const u32 rest = count - serial;
  if (rest == 0) return 1;
  // Fewer pieces than threads, or pieces too large to render side by side,
  // are rendered with the spare threads in their effects: large pieces
  // split finer than a piece a task, and fewer work images are held.
  const u32 workers = i_RenderContexts(i_SideBySide(threads, rest), 1);
  i_RenderContexts(workers, workers < threads ? threads / workers : 1);
  job.order = order + serial;
  job.offset = offset + serial;
  const u8 ok = KLF_Parallel::Run(workers, rest, job);
  m_render.fx.SetThreads(threads);
  return job.failed.load() ? Fail(klErrNoMemory) : job.GetError() ? Fail(job.GetError()) : ok;
}

u8 CTessarette::i_PieceImage(u32 index) {
  SPLITEDCELL& c = m_cells[index];
  if (c.imageBlock) return 1;
  const u32 rw = static_cast<u32>(c.rect.right - c.rect.left), area = rw * static_cast<u32>(c.rect.bottom - c.rect.top);
  CKLF_Mem* block = nullptr;
  // Each handed slot is its piece's alone, whichever thread renders it.
  if (index - m_handedFirst < m_handedCount) std::swap(block, m_handed[index - m_handedFirst]);
  if (!block) {
    block = new (std::nothrow) CKLF_Mem();
    if (!block || !block->alloc(area * m_planeCount)) {
      delete block;
      return 0;
    }
  }
  c.imageBlock = block;
  for (u32 p = 0; p < m_planeCount; p++) {
    c.imgPlanes[p] = block->GetPtr() + static_cast<size_t>(p) * area;
    c.imgStrides[p] = rw;
  }
  return 1;
}

// RenderAndCombine's image blocks: a batch's, once composed, go to the
// next batch's pieces, each the smallest kept block that holds it, so that
// pieces cut large are not mapped and faulted in afresh batch after batch
// (a render writes the whole of its piece's image, whatever it held).
// Blocks no piece of the next batch takes are freed before it renders, so
// no more is held than one batch's images.
class CTessarette::KeptImages {
 public:
  explicit KeptImages(CTessarette& e) : m_e(e) {}
  ~KeptImages() { i_Release(); }
  KeptImages(const KeptImages&) = delete;
  KeptImages& operator=(const KeptImages&) = delete;

  // Room for batches of up to most pieces: 1, or 0 for want of memory.
  u8 Reserve(u32 most) {
    m_most = most;
    return m_list.Zalloc(2u * most * static_cast<u32>(sizeof(CKLF_Mem*))) != nullptr;
  }
  // Before pieces first..end-1 render.
  void Hand(u32 first, u32 end) {
    CKLF_Mem** kept = Kept();
    CKLF_Mem** handed = kept + m_most;
    for (u32 i = first; i < end; i++) {
      const kltRECT_s& r = m_e.m_cells[i].rect;
      const u64 need = static_cast<u64>(r.right - r.left) * static_cast<u64>(r.bottom - r.top) * m_e.m_planeCount;
      u32 best = m_count;
      for (u32 k = 0; k < m_count; k++)
        if (kept[k]->GetSize() >= need && (best == m_count || kept[k]->GetSize() < kept[best]->GetSize())) best = k;
      handed[i - first] = nullptr;
      if (best < m_count) {
        handed[i - first] = kept[best];
        kept[best] = kept[--m_count];
      }
    }
    for (; m_count > 0; m_count--) delete kept[m_count - 1];
    m_e.m_handed = handed;
    m_e.m_handedFirst = first;
    m_e.m_handedCount = end - first;
  }
  // Once pieces first..end-1 are composed: their images are kept.
  void Keep(u32 first, u32 end) {
    i_Release();
    CKLF_Mem** kept = Kept();
    for (u32 i = first; i < end; i++) {
      SPLITEDCELL& c = m_e.m_cells[i];
      if (c.imageBlock) kept[m_count++] = c.imageBlock;
      c.imageBlock = nullptr;
      std::memset(c.imgPlanes, 0, sizeof(c.imgPlanes));
    }
  }

 private:
  CKLF_Mem** Kept() { return reinterpret_cast<CKLF_Mem**>(m_list.GetPtr()); }
  // Frees what is kept and what was handed and not taken.
  void i_Release() {
    CKLF_Mem** kept = Kept();
    for (; m_count > 0; m_count--) delete kept[m_count - 1];
    for (u32 k = 0; k < m_e.m_handedCount; k++) delete m_e.m_handed[k];
    m_e.m_handed = nullptr;
    m_e.m_handedFirst = m_e.m_handedCount = 0;
  }

  CTessarette& m_e;
  CKLF_Mem m_list;  // kept blocks, then handed ones: m_most each
  u32 m_most = 0;
  u32 m_count = 0;  // kept
};

void CTessarette::i_CopyPieceImage(u32 index, u8 toWork, const PIECEIMAGE& out, RenderContext& rc) {
  const SPLITEDCELL& c = m_cells[index];
  const u32 rw = static_cast<u32>(c.rect.right - c.rect.left);
  const u32 rh = static_cast<u32>(c.rect.bottom - c.rect.top);
  // Bands of rows on the render's effect threads (a large piece rendered
  // alone has them all).
  const u32 bands = (rh + kBandRows - 1) / kBandRows;
  KLF_Parallel::ForEach(rc.fx.GetThreads(), bands, [&](u32 band, u32) noexcept {
    const u32 end = (band + 1) * kBandRows < rh ? (band + 1) * kBandRows : rh;
    for (u32 p = 0; p < m_planeCount; p++) {
      for (u32 y = band * kBandRows; y < end; y++) {
        u8* work = rc.workPlanes[p] + static_cast<size_t>(y) * rc.workStride;
        if (toWork)
          std::memcpy(work, c.srcPlanes[p] + static_cast<size_t>(y) * c.srcStrides[p], rw);
        else
          std::memcpy(out.planes[p] + static_cast<size_t>(y) * out.stride, work, rw);
      }
    }
  });
}

CTessarette::PieceEffects CTessarette::i_Effects(u32 index, u32 copy) const {
  const SPLITEDCELL& c = m_cells[index];
  PieceEffects fx;
  fx.invert = c.invert[copy];
  fx.imageOverlay = c.imageOverlay[copy];
  fx.colorOverlay = c.colorOverlay[copy];
  fx.hsl = c.hsl[copy];
  fx.bc = c.bc[copy];
  fx.mblur = c.mblur[copy];
  fx.blur = c.blur[copy];
  fx.stroke = c.stroke[copy];
  fx.bevel = c.bevel[copy];
  return fx;
}

void CTessarette::i_LeaveOut(PieceEffects& fx, u16 leaveOut) {
  auto off = [leaveOut](u32 effect) { return (leaveOut >> effect) & 1u; };
  if (off(kEffectBlur)) fx.blur.enabled = 0;
  if (off(kEffectBevel)) fx.bevel.enabled = 0;
  if (off(kEffectHSL)) fx.hsl.enabled = 0;
  if (off(kEffectColorOverlay)) fx.colorOverlay.enabled = 0;
  if (off(kEffectBC)) fx.bc.enabled = 0;
  if (off(kEffectMotionBlur)) fx.mblur.enabled = 0;
  if (off(kEffectInvert)) fx.invert = 0;
  if (off(kEffectStroke)) fx.stroke.enabled = 0;
  if (off(kEffectImageOverlay)) fx.imageOverlay.enabled = 0;
}

// Runs on any thread: a failure sets no error (the caller reports it).
u8 CTessarette::i_RenderPiece(u32 index, RenderContext& rc) {
  // A cut that stopped early has not laid out the work image for its pieces
  // (size and plane count); laying it out again costs nothing once grown.
  if (!i_GrowWorkImage(rc) || !i_PieceImage(index)) return 0;
  SPLITEDCELL& c = m_cells[index];
  const PieceEffects fx = i_Effects(index, FX_WORKING);
  c.opacity[FX_RENDERED] = c.opacity[FX_WORKING];
  PIECEIMAGE own;
  for (u32 p = 0; p < 5; p++) own.planes[p] = c.imgPlanes[p];
  own.stride = c.imgStrides[0];
  if (!i_RenderEffects(index, fx, own, rc)) return 0;
  // The as-rendered copies take the working ones; an image overlay only
  // where it could be rendered.
  c.invert[FX_RENDERED] = fx.invert;
  if (m_doc.layerAccess) c.imageOverlay[FX_RENDERED] = fx.imageOverlay;
  c.colorOverlay[FX_RENDERED] = fx.colorOverlay;
  c.hsl[FX_RENDERED] = fx.hsl;
  c.bc[FX_RENDERED] = fx.bc;
  c.mblur[FX_RENDERED] = fx.mblur;
  c.blur[FX_RENDERED] = fx.blur;
  c.stroke[FX_RENDERED] = fx.stroke;
  c.bevel[FX_RENDERED] = fx.bevel;
  return 1;
}

// The piece's source through the effects into out; reads the piece only.
// 0 when an effect ran out of memory: the piece is not as its effects say.
u8 CTessarette::i_RenderEffects(u32 index, const PieceEffects& fx, const PIECEIMAGE& out, RenderContext& rc) {
  i_CopyPieceImage(index, 1, out, rc);
  // 1: the current result is in the work image. An effect that refuses
  // leaves the result where it was.
  u8 dir = 1;
  rc.failed = 0;
  const u8 noBlur = i_RenderColours(index, fx, out, dir, rc);
  i_RenderBlurs(index, fx, out, dir, noBlur, rc);
  i_RenderShading(index, fx, out, dir, rc);
  if (dir == 1) i_CopyPieceImage(index, 0, out, rc);
  return rc.failed ? 0 : 1;
}

// An effect's end: a run turns the result over, a refusal leaves it, a
// failure for memory fails the render.
void CTessarette::i_Ran(u8 ok, u8& dir, RenderContext& rc) {
  if (ok) dir ^= 1;
  else if (rc.fx.GetError() == klErrNoMemory) rc.failed = klErrNoMemory;
}

// Invert, image overlay, colour overlay, hue/saturation, brightness and
// contrast. 1 when an opaque colour overlay rules the blurs out.
u8 CTessarette::i_RenderColours(u32 index, const PieceEffects& fx, const PIECEIMAGE& out, u8& dir, RenderContext& rc) {
  const SPLITEDCELL& c = m_cells[index];
  auto ran = [&](u8 ok) { i_Ran(ok, dir, rc); };
  if (fx.invert) {
    ran(i_SetFXData(dir, index, out, rc) && rc.fx.Invert());
  }
  const SFX_IMAGEOVERLAY& io = fx.imageOverlay;
  if (m_doc.layerAccess && io.enabled) {
    const u8 set = i_SetFXData(dir, index, out, rc);
    if (set && !i_PutDocumentLayerContentToDestinationImage(c.rect, io.sourceMode == 0 ? 1 : 0, io.layerId, rc.fx))
      rc.failed = klErrNoMemory;
    else
      ran(set && rc.fx.Combine_DonStoD(io.opacity));
  }
  u8 noBlur = 0;
  const SFX_COLOROVERLAY& co = fx.colorOverlay;
  if (co.enabled) {
    u8 colour[4];
    i_ColorFromLine(co.color, colour);
    ran(i_SetFXData(dir, index, out, rc) && rc.fx.ColorOverlay(colour, co.opacity));
    noBlur = co.opacity == 255 ? 1 : 0;
  }
  const SFX_HSL& hsl = fx.hsl;
  if (hsl.enabled && m_colorKind == 1) {
    ran(i_SetFXData(dir, index, out, rc) && rc.fx.HSLCorrection(hsl.hue, hsl.saturation, hsl.lightness, 1));
  }
  const SFX_BC& bc = fx.bc;
  if (bc.enabled) {
    ran(i_SetFXData(dir, index, out, rc) && rc.fx.BrightnessContrast(bc.brightness, bc.contrast, 128));
  }
  return noBlur;
}

void CTessarette::i_RenderBlurs(u32 index, const PieceEffects& fx, const PIECEIMAGE& out, u8& dir, u8 noBlur,
                                RenderContext& rc) {
  auto ran = [&](u8 ok) { i_Ran(ok, dir, rc); };
  const SFX_MBLUR& mb = fx.mblur;
  if (mb.enabled && !noBlur) {
    ran(i_SetFXData(dir, index, out, rc) && rc.fx.MotionBlur(mb.angle, mb.radius, 0, 1));
  }
  const SFX_BLUR& b = fx.blur;
  if (b.enabled && !noBlur) {
    ran(i_SetFXData(dir, index, out, rc) && rc.fx.GaussianBlur(b.radius, 0, 1));
  }
}

// Stroke, then bevel.
void CTessarette::i_RenderShading(u32 index, const PieceEffects& fx, const PIECEIMAGE& out, u8& dir,
                                  RenderContext& rc) {
  auto ran = [&](u8 ok) { i_Ran(ok, dir, rc); };
  u8 colour[4], colour2[4];
  const SFX_STROKE& st = fx.stroke;
  if (st.enabled) {
    i_ColorFromLine(st.color, colour);
    ran(i_SetFXData(dir, index, out, rc) && rc.fx.StrokeInside(colour, st.size, st.opacity));
  }
  const SFX_BEVEL& e = fx.bevel;
  if (e.enabled) {
    i_ColorFromLine(e.highlightColor, colour);
    i_ColorFromLine(e.shadowColor, colour2);
    const klt3D_VECTOR light = {e.light[0], e.light[1], e.light[2]};
    ran(i_SetFXData(dir, index, out, rc) && rc.fx.Bevel(e.size, e.depth, static_cast<f64>(e.soften), light, colour,
                                                         e.highlightOpacity, colour2, e.shadowOpacity));
  }
}

// ---------------------------------------------------------------------------
// Recombination

u8 CTessarette::CombineSplitedCells(i32 width, i32 height, u8** planes, u32 stride, u8 planeCount,
                                    const u8* mask, u32 maskStride, kltRECT_s rect, u8 unionAlpha, u8 low,
                                    u8 high) {
  if (!m_nested) m_lastProgress = -1;
  // No pieces still clears the alpha: a cut that made none shows nothing,
  // not what the planes held before.
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
  CombineTarget t = {r, planes, stride, planeCount, mask, maskStride, unionAlpha, nullptr, nullptr};
  if (!i_CombineBands(t, 0, m_cellCount, 1, 1, 5.0, 85.0, low, high)) return 0;
  SetLocalProgress(90, low, high);
  if (i_Cancelled()) return 0;
  SetLocalProgress(100, low, high);
  if (i_Cancelled()) return 0;
  return 1;
}

u8 CTessarette::CombinePieces(const u32* pieces, u32 count, i32 width, i32 height, u8** planes, u32 stride,
                              u8 planeCount, kltRECT_s rect, u8 unionAlpha, u8 low, u8 high) {
  if (!m_nested) m_lastProgress = -1;
  if (!i_CheckCombine(width, height, planes, stride, planeCount, nullptr, 0) || (count && !pieces)) return 0;
  for (u32 i = 0; i < count; i++)
    if (pieces[i] >= m_cellCount) return Fail(klErrBadArg);
  kltRECT_s r = klIsNullRect(rect) ? kltRECT_s{0, 0, width, height} : rect;
  if (r.left < 0) r.left = 0;
  if (r.top < 0) r.top = 0;
  if (r.right > width) r.right = width;
  if (r.bottom > height) r.bottom = height;
  if (RectEmpty(r)) return 1;
  const CombineTarget t = {r, planes, stride, planeCount, nullptr, 0, unionAlpha, pieces, nullptr};
  return i_CombineBands(t, 0, count, 1, 0, 0.0, 100.0, low, high);
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
  const CombineTarget t = {{0, 0, width, height}, planes, stride, planeCount, mask, maskStride, 0, nullptr, background};
  if (!i_CombineBands(t, 0, 0, 1, 0, 0.0, 0.0, low, high)) return 0;
  if (m_cellCount == 0) return 1;
  // Batches of pieces, in order: rendered side by side, composed, their
  // images released (a piece's image is needed for its composing alone).
  // A batch holds up to 8 pieces a thread (at least 64) and ends once its
  // images reach kBatchImageBytes, so more threads do not hold more images,
  // but not before it has a piece for every render side by side (large
  // pieces).
  const u32 threads = KLF_Parallel::Resolve(m_threads), most = 8 * threads > 64 ? 8 * threads : 64;
  const u32 sideBySide = i_SideBySide(threads, m_cellCount);
  KeptImages kept(*this);
  if (!kept.Reserve(most)) return Fail(klErrNoMemory);
  for (u32 first = 0, end = 0; first < m_cellCount; first = end) {
    u64 bytes = 0;
    for (end = first;
         end < m_cellCount && end - first < most && (bytes < kBatchImageBytes || end - first < sideBySide); end++) {
      const kltRECT_s& r = m_cells[end].rect;
      bytes += static_cast<u64>(r.right - r.left) * static_cast<u64>(r.bottom - r.top) * m_planeCount;
    }
    kept.Hand(first, end);
    if (!i_RenderRange(first, end, low, high, 1)) return 0;
    if (!i_CombineBands(t, first, end, 0, 0, 100.0 * end / m_cellCount, 0.0, low, high)) return 0;
    kept.Keep(first, end);
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
  for (u32 j = first; j < end; j++) {
    const SPLITEDCELL& c = m_cells[t.list ? t.list[j] : j];
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
  if (KLF_Parallel::Run(m_threads, job.bands, job)) return 1;
  return job.GetError() ? Fail(job.GetError()) : 0;
}
