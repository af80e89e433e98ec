#include "CExportRun.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "CExportPiecesIDS.h"
#include "CKLF_ImagePSD.h"
#include "KLP_File.h"
#include "CTessarette.h"

namespace {

typedef CExportDialogModel M;
typedef CTessarette::SPLITEDCELL Cell;

enum : u8 { kPiece = 0, kCompositeLayer = 1, kMergedLayer = 2 };

// Rendered pieces of one batch of PNG files (a batch holds at least one).
const u64 kBatchBytes = 64u << 20;

u64 Area(const Cell& c) {
  return static_cast<u64>(c.rect.right - c.rect.left) * static_cast<u64>(c.rect.bottom - c.rect.top);
}

}  // namespace

const char CExportRun::kComposite[] = "Composite";
const char CExportRun::kMerged[] = "Merged";

struct CExportRun::Item {
  u32 piece;
  u8 kind;
};

CExportRun::CExportRun(CTessarette& engine)
    : m_engine(engine), m_doc(), m_progress(nullptr), m_threads(0), m_alert(nullptr), m_alertUser(nullptr),
      m_count(0), m_leaveOut(0), m_skipped(0) {}

CExportRun::~CExportRun() {}

u8 CExportRun::i_Progress(u32 percent) {
  if (!m_progress) return 1;
  m_progress->Progress(static_cast<u8>(percent), nullptr);
  return m_progress->IsCanceled() ? 0 : 1;
}

u8 CExportRun::ExportPieces(const CExportDialogModel::SETTINGS& s, const char* path) {
  ResetError();
  m_written.Empty();
  m_earlier.Empty();
  m_skipped = 0;
  m_reason.Clear();
  if (m_engine.m_colorKind != 1) return Fail(klErrUnsupported);
  if (!path || !*path || m_doc.width == 0 || m_doc.height == 0) return Fail(klErrBadArg);
  if (!i_Gather(s)) return 0;
  if (m_count == 0) return Fail(klErrEmpty);
  if (s.to == M::kToPSD && m_count > CKLF_ImagePSD::kMaxLayers)
    return Fail((m_reason = "a PSD file holds at most 32767 layers").IsError() ? klErrNoMemory : klErrBadArg);
  m_leaveOut = s.withoutBevel ? 1u << CTessarette::kEffectBevel : 0;
  CKLF_Progress* engineProgress = m_engine.GetProgress();
  m_engine.SetProgress(m_progress);
  u8 ok = i_MakeLayers(s);
  try {
    if (ok) ok = s.to == M::kToPSD ? i_WritePSD(path) : i_WritePNGs(s, path);
  } catch (...) {  // an allocation of the files' names: no file is left
    m_reason.Clear();
    ok = Fail(klErrNoMemory);
  }
  m_engine.SetProgress(engineProgress);
  m_images.free();
  m_composite.free();
  if (ok) i_Progress(100);
  return ok;
}

u8 CExportRun::i_Add(u32 piece, u8 kind) {
  Item* items = reinterpret_cast<Item*>(m_itemMem.GetPtr());
  items[m_count++] = Item{piece, kind};
  return 1;
}

// The layers in export order: a merged image alone, or the composite
// (the lowest layer) and the pieces in row and column order.
u8 CExportRun::i_Gather(const CExportDialogModel::SETTINGS& s) {
  m_count = 0;
  const u32 pieces = m_engine.GetPieceCount();
  if (!m_itemMem.alloc((pieces + 1u) * static_cast<u32>(sizeof(Item)))) return FailFrom(m_itemMem, klErrNoMemory);
  if (s.what == M::kMerged) return i_Add(0, kMergedLayer);
  if (s.what == M::kSelected && s.composite) i_Add(0, kCompositeLayer);
  const u32 first = m_count;
  const u8 hiddenToo = s.to == M::kToPSD && s.hidden;
  for (u32 i = 0; i < pieces; ++i) {
    const Cell& c = *m_engine.GetPiece(i);
    if ((s.what == M::kAll || c.selected) && (c.visible || hiddenToo)) i_Add(i, kPiece);
  }
  CExportPiecesIDS order(&m_engine);
  Item* items = reinterpret_cast<Item*>(m_itemMem.GetPtr());
  std::stable_sort(items + first, items + m_count,
                   [&](const Item& a, const Item& b) { return order.CompareElements(&a.piece, &b.piece) < 0; });
  return 1;
}

u8 CExportRun::i_MakeLayers(const CExportDialogModel::SETTINGS& s) {
  if (!m_layerMem.alloc(m_count * static_cast<u32>(sizeof(CExportWriters::LAYER))))
    return FailFrom(m_layerMem, klErrNoMemory);
  CExportWriters::LAYER* layers = reinterpret_cast<CExportWriters::LAYER*>(m_layerMem.GetPtr());
  const Item* items = reinterpret_cast<const Item*>(m_itemMem.GetPtr());
  m_names.Empty();
  u32 number = 0;
  for (u32 i = 0; i < m_count; ++i) {
    CExportWriters::LAYER& L = layers[i];
    std::memset(&L, 0, sizeof(L));
    CKLF_String name, suffix;
    if (items[i].kind != kPiece) {
      if (!i_Compose(items[i].kind == kMergedLayer, L)) return 0;
      if ((name = items[i].kind == kMergedLayer ? kMerged : kComposite).IsError() ||
          (items[i].kind == kCompositeLayer && !suffix.Format("_%s", kComposite)))
        return Fail(klErrNoMemory);
    } else {
      const Cell& c = *m_engine.GetPiece(items[i].piece);
      ++number;
      if (!M::LayerName(s.naming, number, items[i].piece + 1, c.row, c.column, name) ||
          !M::FileSuffix(s.naming, number, items[i].piece + 1, c.row, c.column, suffix))
        return Fail(klErrNoMemory);
      L.x = m_doc.originX + c.rect.left;
      L.y = m_doc.originY + c.rect.top;
      L.width = static_cast<u16>(c.rect.right - c.rect.left);
      L.height = static_cast<u16>(c.rect.bottom - c.rect.top);
      L.visible = c.visible;
      const CTessarette::SFX_OPACITY& o = c.opacity[CTessarette::FX_RENDERED];
      L.opacity = o.enabled ? o.opacity : 255;
      if (!i_NeedsRender(i)) {
        for (u32 p = 0; p < 4; ++p) L.planes[p] = c.imgPlanes[p];
        L.stride = c.imgStrides[0];
      }
    }
    std::strncpy(L.name, name.GetStr(), sizeof(L.name) - 1);
    if (m_names.Add(suffix, 0) < 0) return FailFrom(m_names, klErrNoMemory);
  }
  return 1;
}

u8 CExportRun::i_NeedsRender(u32 item) const {
  const Item& it = reinterpret_cast<const Item*>(m_itemMem.GetPtr())[item];
  if (it.kind != kPiece) return 0;
  const Cell& c = *m_engine.GetPiece(it.piece);
  return !c.imageBlock || (m_leaveOut && c.bevel[CTessarette::FX_RENDERED].enabled);
}

// Every shown piece (merged) or the unselected shown ones, composed over
// the pieces' area as the main window composes them; the layer is the
// bounds of the pieces composed.
u8 CExportRun::i_Compose(u8 merged, CExportWriters::LAYER& L) {
  const u32 pieces = m_engine.GetPieceCount();
  CKLF_Mem listMem;
  if (!listMem.alloc((pieces + 1u) * 4u)) return FailFrom(listMem, klErrNoMemory);
  u32* list = reinterpret_cast<u32*>(listMem.GetPtr());
  u32 n = 0;
  kltRECT_s box = {0, 0, 0, 0};
  i32 w = 0, h = 0;
  for (u32 i = 0; i < pieces; ++i) {
    const Cell& c = *m_engine.GetPiece(i);
    w = std::max(w, c.rect.right);
    h = std::max(h, c.rect.bottom);
    if (!c.visible || (!merged && c.selected)) continue;
    box = n == 0 ? c.rect
                 : kltRECT_s{std::min(box.left, c.rect.left), std::min(box.top, c.rect.top),
                             std::max(box.right, c.rect.right), std::max(box.bottom, c.rect.bottom)};
    list[n++] = i;
  }
  if (n == 0) box = {0, 0, 1, 1}, w = std::max(w, 1), h = std::max(h, 1);
  const u64 plane = static_cast<u64>(w) * static_cast<u64>(h);
  if (!klFits32(plane * 4) || !m_composite.alloc(static_cast<u32>(plane * 4)))
    return FailFrom(m_composite, klErrNoMemory);
  std::memset(m_composite.GetPtr(), 0, static_cast<size_t>(plane * 4));
  u8* planes[4];
  for (u32 p = 0; p < 4; ++p) planes[p] = m_composite.GetPtr() + p * plane;
  // Composed as the main window and the replay compose (union 0).
  if (n && !m_engine.CombinePieces(list, n, w, h, planes, static_cast<u32>(w), 4, box, 0, 0, 0))
    return FailFrom(m_engine, 0);
  const u64 at = static_cast<u64>(box.top) * static_cast<u32>(w) + static_cast<u32>(box.left);
  for (u32 p = 0; p < 4; ++p) L.planes[p] = planes[p] + at;
  L.stride = static_cast<u32>(w);
  L.x = m_doc.originX + box.left;
  L.y = m_doc.originY + box.top;
  L.width = static_cast<u16>(box.right - box.left);
  L.height = static_cast<u16>(box.bottom - box.top);
  L.visible = 1;
  L.opacity = 255;
  return 1;
}

// Items first.. while their rendered images stay within a batch (at
// least one).
u32 CExportRun::i_BatchEnd(u32 first) const {
  const Item* items = reinterpret_cast<const Item*>(m_itemMem.GetPtr());
  u64 bytes = 0;
  u32 end = first;
  while (end < m_count && (end == first || bytes < kBatchBytes)) {
    if (i_NeedsRender(end)) bytes += Area(*m_engine.GetPiece(items[end].piece)) * 4;
    ++end;
  }
  return end;
}

u8 CExportRun::i_RenderImages(u32 first, u32 end, u8 low, u8 high) {
  const Item* items = reinterpret_cast<const Item*>(m_itemMem.GetPtr());
  CExportWriters::LAYER* layers = reinterpret_cast<CExportWriters::LAYER*>(m_layerMem.GetPtr());
  u64 bytes = 0;
  u32 n = 0;
  for (u32 i = first; i < end; ++i)
    if (i_NeedsRender(i)) bytes += Area(*m_engine.GetPiece(items[i].piece)) * 4, ++n;
  if (n == 0) return 1;
  CKLF_Mem listMem;
  if (!klFits32(bytes) || !m_images.alloc(static_cast<u32>(bytes)))
    return FailFrom(m_images, klErrNoMemory);
  if (!listMem.alloc(n * static_cast<u32>(sizeof(u32) + sizeof(CTessarette::PIECEIMAGE))))
    return FailFrom(listMem, klErrNoMemory);
  CTessarette::PIECEIMAGE* images = reinterpret_cast<CTessarette::PIECEIMAGE*>(listMem.GetPtr());
  u32* list = reinterpret_cast<u32*>(images + n);
  u64 at = 0;
  for (u32 i = first, k = 0; i < end; ++i) {
    if (!i_NeedsRender(i)) continue;
    const Cell& c = *m_engine.GetPiece(items[i].piece);
    const u64 area = Area(c);
    CExportWriters::LAYER& L = layers[i];
    L.stride = static_cast<u32>(c.rect.right - c.rect.left);
    for (u32 p = 0; p < 5; ++p) images[k].planes[p] = p < 4 ? m_images.GetPtr() + at + p * area : nullptr;
    for (u32 p = 0; p < 4; ++p) L.planes[p] = images[k].planes[p];
    images[k].stride = L.stride;
    list[k++] = items[i].piece;
    at += area * 4;
  }
  if (!m_engine.RenderPieceImages(list, n, m_leaveOut, images, low, high)) return FailFrom(m_engine, 0);
  return 1;
}

u8 CExportRun::PNGFileNames(const CExportDialogModel::SETTINGS& s, const char* path, CKLF_StringArray& out) {
  ResetError();
  out.Empty();
  if (!path || !*path) return Fail(klErrBadArg);
  if (!i_Gather(s)) return 0;
  if (m_count == 0) return Fail(klErrEmpty);
  const char* slash = std::strrchr(path, '/');
  const std::string folder = slash ? std::string(path, slash == path ? 1 : static_cast<size_t>(slash - path)) : "";
  std::string base = slash ? slash + 1 : path;
  if (base.size() >= 4 && base[base.size() - 4] == '.' && (base[base.size() - 3] | 0x20) == 'p' &&
      (base[base.size() - 2] | 0x20) == 'n' && (base[base.size() - 1] | 0x20) == 'g')
    base.resize(base.size() - 4);
  const Item* items = reinterpret_cast<const Item*>(m_itemMem.GetPtr());
  u32 number = 0;
  for (u32 i = 0; i < m_count; ++i) {
    CKLF_String suffix, name;
    if (items[i].kind == kCompositeLayer && !suffix.Format("_%s", kComposite)) return Fail(klErrNoMemory);
    if (items[i].kind == kPiece) {
      const Cell& c = *m_engine.GetPiece(items[i].piece);
      if (!M::FileSuffix(s.naming, ++number, items[i].piece + 1, c.row, c.column, suffix)) return Fail(klErrNoMemory);
    }
    if (!SafeFileName(base.c_str(), suffix.GetStr(), ".png", klpMaxNameBytes, name)) return Fail(klErrNoMemory);
    const std::string file = folder.empty() ? std::string(name.GetStr()) : folder + "/" + name.GetStr();
    if (out.Add(CKLF_String(file.c_str()), 0) < 0) return FailFrom(out, klErrNoMemory);
  }
  return 1;
}
