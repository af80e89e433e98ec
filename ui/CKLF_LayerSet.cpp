#include "CKLF_LayerSet.h"

#include <algorithm>
#include <cstring>

namespace {

// Right shifts of negative products floor (arithmetic shift on every
// compiler this builds with).
void BlendAlpha(u8* __restrict d, const u8* __restrict s, const u8* __restrict a, u32 n) {
  for (u32 i = 0; i < n; ++i) d[i] = static_cast<u8>(d[i] - ((a[i] * (d[i] - s[i])) >> 8));
}

void BlendAlphaOpacity(u8* __restrict d, const u8* __restrict s, const u8* __restrict a, u32 n, i32 o) {
  for (u32 i = 0; i < n; ++i) d[i] = static_cast<u8>(d[i] - ((o * a[i] * (d[i] - s[i])) >> 16));
}

void BlendOpacity(u8* __restrict d, const u8* __restrict s, u32 n, i32 o) {
  const i32 keep = 255 - o;
  for (u32 i = 0; i < n; ++i) d[i] = static_cast<u8>((d[i] * keep + s[i] * o) >> 8);
}

void BlendPlane(u8* d, const u8* s, const KLF_LINESPAN& span, u32 n) {
  if (span.alpha) {
    if (span.opacity == 255)
      BlendAlpha(d, s, span.alpha, n);
    else
      BlendAlphaOpacity(d, s, span.alpha, n, span.opacity);
  } else if (span.opacity == 255) {
    std::memcpy(d, s, n);
  } else {
    BlendOpacity(d, s, n, span.opacity);
  }
}

bool Meets(const kltRECT_s& a, const kltRECT_s& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace

CKLF_LayerSet::CKLF_LayerSet() : m_width(0), m_height(0) {}

CKLF_LayerSet::~CKLF_LayerSet() {}

u8 CKLF_LayerSet::Create(u16 w, u16 h) {
  Clean();
  return Resize(w, h);
}

u8 CKLF_LayerSet::Resize(u16 w, u16 h) {
  ResetError();
  m_width = m_height = 0;
  if (!m_canvas.Create(w, h, 1)) return FailFrom(m_canvas, klErrEmpty);
  m_width = w;
  m_height = h;
  return 1;
}

void CKLF_LayerSet::Clean() {
  m_layers.Empty();
  m_work.free();
  m_canvas.Clean();
  m_width = m_height = 0;
}

u8 CKLF_LayerSet::i_SizeWorkList() {
  u64 bytes = static_cast<u64>(m_layers.GetSize()) * sizeof(CKLF_Layer*);
  if (!klFits32(bytes)) return Fail(klErrNoMemory);
  if (bytes != 0 && !m_work.alloc(static_cast<u32>(bytes))) return FailFrom(m_work, klErrNoMemory);
  return 1;
}

i32 CKLF_LayerSet::AddLayer(CKLF_Layer* layer) {
  if (!layer) return Fail(klErrBadArg, -1);
  i32 index = m_layers.Add(layer);
  if (index < 0) return FailFrom(m_layers, klErrNoMemory, -1);
  if (!i_SizeWorkList()) {
    m_layers.DeleteAt(static_cast<u32>(index));
    return -1;
  }
  return index;
}

u8 CKLF_LayerSet::InsertLayer(CKLF_Layer* layer, u32 index) {
  if (index >= m_layers.GetSize()) return AddLayer(layer) >= 0 ? 1 : 0;
  if (!layer) return Fail(klErrBadArg);
  if (!m_layers.InsertAt(index, layer)) return FailFrom(m_layers, klErrNoMemory);
  if (!i_SizeWorkList()) {
    m_layers.DeleteAt(index);
    return 0;
  }
  return 1;
}

u8 CKLF_LayerSet::DeleteLayer(u32 index) {
  if (index >= m_layers.GetSize()) return Fail(klErrBadArg);
  m_layers.DeleteAt(index);
  return 1;  // the work list only ever needs to be as long as the set
}

CKLF_Layer* CKLF_LayerSet::GetLayer(u32 index) const {
  if (index >= m_layers.GetSize()) return nullptr;
  return static_cast<CKLF_Layer*>(m_layers[index]);
}

i32 CKLF_LayerSet::FindLayerByName(const CKLF_String& name) {
  for (u32 i = 0; i < m_layers.GetSize(); ++i)
    if (GetLayer(i)->GetName() == name) return static_cast<i32>(i);
  return -1;
}

void CKLF_LayerSet::i_RenderRow(i32 y, i32 left, u16 width, u32 listed) {
  CKLF_Layer** list = reinterpret_cast<CKLF_Layer**>(m_work.GetPtr());
  const u64 plane = static_cast<u64>(m_width) * m_height;
  u8* row = m_canvas.GetMemObj()->GetPtr() + static_cast<u64>(y) * m_width + left;
  bool first = true;
  for (u32 i = 0; i < listed; ++i) {
    KLF_LINESPAN span = list[i]->GetLine(left, y, width);
    if (span.empty) continue;
    const u32 n = span.end - span.start;
    u8* d = row + span.start;
    const u8* src[3] = {span.red, span.green, span.blue};
    for (u32 c = 0; c < 3; ++c) {
      if (first)
        std::memcpy(d + c * plane, src[c], n);  // the lowest layer goes in unblended
      else
        BlendPlane(d + c * plane, src[c], span, n);
    }
    first = false;
  }
}

u8 CKLF_LayerSet::Render(kltRECT_s rect) {
  ResetError();
  if (!m_canvas.GetMemObj() || m_width == 0) return Fail(klErrEmpty);
  if (m_layers.GetSize() == 0) return 1;
  kltRECT_s r = klIsNullRect(rect) ? kltRECT_s{0, 0, m_width, m_height} : rect;
  r.left = std::max(r.left, 0);
  r.top = std::max(r.top, 0);
  r.right = std::min<i32>(r.right, m_width);
  r.bottom = std::min<i32>(r.bottom, m_height);
  if (r.left >= r.right || r.top >= r.bottom) return 1;

  CKLF_Layer** list = reinterpret_cast<CKLF_Layer**>(m_work.GetPtr());
  u32 listed = 0;
  for (u32 i = 0; i < m_layers.GetSize(); ++i) {
    CKLF_Layer* layer = GetLayer(i);
    if (layer->GetVisible() && layer->GetOpacity() != 0 && Meets(layer->GetRect(), r)) list[listed++] = layer;
  }
  const u16 width = static_cast<u16>(r.right - r.left);
  for (i32 y = r.top; y < r.bottom; ++y) i_RenderRow(y, r.left, width, listed);
  return 1;
}

u8 CKLF_LayerSet::RenderLayer(u32 index) {
  CKLF_Layer* layer = GetLayer(index);
  if (!layer) return Fail(klErrBadArg);
  return Render(layer->GetRect());
}
