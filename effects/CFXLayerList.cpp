#include "CFXLayerList.h"

#include <algorithm>

#include "CKLF_8BFPluginVirtual.h"

namespace {

i64 Width(const kltRECT_s& r) { return static_cast<i64>(r.right) - r.left; }
i64 Height(const kltRECT_s& r) { return static_cast<i64>(r.bottom) - r.top; }

// r cut to 0..w x 0..h.
kltRECT_s Clip(kltRECT_s r, i32 w, i32 h) {
  return {std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, w), std::min(r.bottom, h)};
}

}  // namespace

CFXLayerList::CFXLayerList() : m_target(klNullRect), m_thumb{0, 0, 0, 0}, m_area(klNullRect) {}

CFXLayerList::~CFXLayerList() {}

u8 CFXLayerList::Covers(kltRECT_s b, kltRECT_s t) {
  const kltRECT_s in = {std::max(b.left, t.left), std::max(b.top, t.top), std::min(b.right, t.right),
                        std::min(b.bottom, t.bottom)};
  if (in.left >= in.right || in.top >= in.bottom) return 0;
  return in.left == t.left && in.top == t.top && in.right == t.right && in.bottom == t.bottom ? 1 : 0;
}

u8 CFXLayerList::IsAcceptable(const CKLF_8BFPluginVirtual& table, u32 index) const {
  const kltLAYERINFO_s* e = table.GetLayerInfo(index);
  return e && !klIsNullRect(e->bounds) ? Covers(e->bounds, m_target) : 0;
}

i32 CFXLayerList::Build(const CKLF_8BFPluginVirtual& table, u8 filtered, i32 preselect) {
  m_rows.Empty();
  i32 found = -1;
  for (u32 i = table.GetLayerCount(); i-- > 0;) {
    if (filtered && !IsAcceptable(table, i)) continue;
    if (m_rows.Add(i) < 0) return FailFrom(m_rows, klErrNoMemory), found;
    if (preselect != kNone && table.GetLayerInfo(i)->layerId == preselect)
      found = static_cast<i32>(m_rows.GetSize() - 1);
  }
  return found;
}

u8 CFXLayerList::RowText(const kltLAYERINFO_s& e, u8 acceptable, CKLF_String& out) {
  // The name is cut at its buffer's end whether or not the host ended it.
  char name[sizeof e.name + 1];
  std::copy(e.name, e.name + sizeof e.name, name);
  name[sizeof e.name] = 0;
  return out.Format(acceptable ? "+\t| %s" : " \t| %s", name) != nullptr;
}

u8 CFXLayerList::Geometry(kltRECT_s area, u32 pw, u32 ph, THUMB& t) {
  t = {0, 0, 0, 0};
  const i64 width = Width(area), height = Height(area);
  if (klIsNullRect(area) || width <= 0 || height <= 0) return 0;
  const i64 m = std::max(width, height);
  t.w = static_cast<i32>(width * pw / m);
  t.h = static_cast<i32>(height * ph / m);
  if (t.w == 0 || t.h == 0) return 0;
  t.x0 = (static_cast<i32>(pw) - t.w) / 2;
  t.y0 = (static_cast<i32>(ph) - t.h) / 2;
  return 1;
}

u8 CFXLayerList::ReadThumbnail(CKLF_8BFPluginVirtual& host, u32 index, u32 pw, u32 ph) {
  m_thumb = {0, 0, 0, 0};
  m_area = klNullRect;
  const kltLAYERINFO_s* e = host.GetLayerInfo(index);
  if (!e) return Fail(klErrBadArg);
  m_area = IsAcceptable(host, index) ? m_target : host.PS_GetLayerBounds(e->layerId);
  if (!Geometry(m_area, pw, ph, m_thumb)) return Fail(klErrEmpty);
  if (!m_pixels.Create(static_cast<u16>(m_thumb.w), static_cast<u16>(m_thumb.h), 2))
    return FailFrom(m_pixels, klErrNoMemory);
  return host.PS_GetScaledLayerRGB(e->layerId, &m_pixels, m_area) ? 1 : FailFrom(host, klErrBadArg);
}

u8 CFXLayerList::Compose(CKLF_Image& preview, const kltRGBA8 frame[2], const kltRGBA8 transparency[2]) {
  const THUMB& t = m_thumb;
  if (preview.GetImageMode() != 2 || m_pixels.GetImageMode() != 2 || t.w != m_pixels.GetImageWidth() ||
      t.h != m_pixels.GetImageHeight() || t.x0 < 0 || t.y0 < 0 || t.x0 + t.w > preview.GetImageWidth() ||
      t.y0 + t.h > preview.GetImageHeight())
    return Fail(klErrBadArg);
  preview.Set(4, 4, frame[0], frame[1]);
  preview.Set(4, 4, transparency[0], transparency[1], kltRECT_s{t.x0, t.y0, t.x0 + t.w, t.y0 + t.h});
  u8* dst[4];
  u8* src[4];
  u32 dstStride = 0, srcStride = 0;
  if (!preview.GetImageChannels(dst, dstStride) || !m_pixels.GetImageChannels(src, srcStride)) return Fail(klErrEmpty);
  for (i32 y = 0; y < t.h; ++y) {
    const u8* a = src[3] + static_cast<u32>(y) * srcStride;
    for (u32 c = 0; c < 3; ++c) {
      u8* d = dst[c] + static_cast<u32>(t.y0 + y) * dstStride + static_cast<u32>(t.x0);
      const u8* s = src[c] + static_cast<u32>(y) * srcStride;
      for (i32 x = 0; x < t.w; ++x) d[x] = static_cast<u8>((d[x] * (255u - a[x]) + a[x] * s[x]) >> 8);
    }
  }
  return 1;
}

u8 CFXLayerList::Marker(const THUMB& t, kltRECT_s area, kltRECT_s target, u32 pw, u32 ph, kltRECT_s& marker,
                        kltRECT_s& border) {
  marker = border = {0, 0, 0, 0};
  const i64 width = Width(area), height = Height(area);
  if (width <= 0 || height <= 0) return 0;
  const i64 sx = t.w * (static_cast<i64>(target.left) - area.left) / width;
  const i64 sy = t.h * (static_cast<i64>(target.top) - area.top) / height;
  const i64 sw = std::max<i64>(2, t.w * Width(target) / width), sh = std::max<i64>(2, t.h * Height(target) / height);
  // Far off the thumbnail: kept within reach of 32 bits, still off the preview.
  const i64 lim = 1 << 20;
  auto at = [&](i64 v) { return static_cast<i32>(std::clamp<i64>(v, -lim, lim)); };
  const kltRECT_s m = {at(t.x0 + sx), at(t.y0 + sy), at(t.x0 + sx + sw), at(t.y0 + sy + sh)};
  marker = Clip(m, static_cast<i32>(pw), static_cast<i32>(ph));
  border = Clip({m.left - 1, m.top - 1, m.right + 1, m.bottom + 1}, static_cast<i32>(pw), static_cast<i32>(ph));
  return marker.left < marker.right && marker.top < marker.bottom ? 1 : 0;
}
