#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "CKLF_ImageFX.h"
#include "CTessarette.h"
#include "CTessaretteLayerSource.h"
#include "EngineTestUtil.h"

using engtest::Doc;
using engtest::SetGrid;

namespace {

typedef CTessarette::SPLITEDCELL Cell;
enum { W = CTessarette::FX_WORKING, R = CTessarette::FX_RENDERED };

// Planes of one piece's size, one after another.
struct Buf {
  std::vector<u8> data;
  u8* planes[5] = {};
  u32 stride;
  u16 w, h;
  u8 count;
  Buf(u16 width, u16 height, u8 n) : data(static_cast<size_t>(width) * height * n), stride(width), w(width), h(height), count(n) {
    Repoint();
  }
  void Repoint() {
    for (u8 p = 0; p < count; p++) planes[p] = data.data() + static_cast<size_t>(p) * w * h;
  }
  Buf(const Buf& o) : data(o.data), stride(o.stride), w(o.w), h(o.h), count(o.count) { Repoint(); }
  Buf& operator=(const Buf&) = delete;
};

Buf SourceOf(const Cell& c, u8 planes) {
  Buf b(static_cast<u16>(c.rect.right - c.rect.left), static_cast<u16>(c.rect.bottom - c.rect.top), planes);
  for (u8 p = 0; p < planes; p++)
    for (u16 y = 0; y < b.h; y++) std::memcpy(b.planes[p] + y * b.w, c.srcPlanes[p] + y * c.srcStrides[p], b.w);
  return b;
}

std::vector<u8> ImageOf(const Cell& c, u8 planes) {
  const size_t n = static_cast<size_t>(c.rect.right - c.rect.left) * (c.rect.bottom - c.rect.top) * planes;
  return std::vector<u8>(c.imageBlock->GetPtr(), c.imageBlock->GetPtr() + n);
}

// Runs one effect from cur into a fresh buffer; keeps cur when it refuses.
template <class F>
void Step(CKLF_ImageFX& fx, Buf& cur, F effect) {
  Buf next(cur.w, cur.h, cur.count);
  fx.SetSource(cur.planes, cur.stride, cur.count, 1, cur.w, cur.h);
  fx.SetDestination(next.planes, next.stride, next.count, 1, cur.w, cur.h);
  if (effect()) {
    cur.data.swap(next.data);
    cur.Repoint();
  }
}

enum { kInvert = 1, kOverlay = 2, kHsl = 4, kBc = 8, kMblur = 16, kBlur = 32, kStroke = 64, kBevel = 128 };

void SetEffects(Cell& c, int which) {
  c.invert[W] = (which & kInvert) ? 1 : 0;
  c.colorOverlay[W] = {static_cast<u8>((which & kOverlay) ? 1 : 0), 90, {7, 200, 40, 10, 1, 2, 3, 4}};
  c.hsl[W] = {static_cast<u8>((which & kHsl) ? 1 : 0), 40, 25, -10};
  c.bc[W] = {static_cast<u8>((which & kBc) ? 1 : 0), 12, 30};
  c.mblur[W] = {static_cast<u8>((which & kMblur) ? 1 : 0), 30, 4};
  c.blur[W] = {static_cast<u8>((which & kBlur) ? 1 : 0), 2};
  c.stroke[W].enabled = (which & kStroke) ? 1 : 0;
  c.stroke[W].size = 3;
  c.stroke[W].opacity = 200;
  c.bevel[W].enabled = (which & kBevel) ? 1 : 0;
}

// The effects of Cell c applied by hand in the engine's fixed order.
Buf Reference(const Cell& c, u8 planes) {
  CKLF_ImageFX fx;
  Buf cur = SourceOf(c, planes);
  const u8* rgb = c.colorOverlay[W].color + 1;
  if (c.invert[W]) Step(fx, cur, [&] { return fx.Invert(); });
  if (c.colorOverlay[W].enabled) Step(fx, cur, [&] { return fx.ColorOverlay(rgb, c.colorOverlay[W].opacity); });
  if (c.hsl[W].enabled) Step(fx, cur, [&] { return fx.HSLCorrection(c.hsl[W].hue, c.hsl[W].saturation, c.hsl[W].lightness, 1); });
  if (c.bc[W].enabled) Step(fx, cur, [&] { return fx.BrightnessContrast(c.bc[W].brightness, c.bc[W].contrast, 128); });
  if (c.mblur[W].enabled) Step(fx, cur, [&] { return fx.MotionBlur(c.mblur[W].angle, c.mblur[W].radius, 0, 1); });
  if (c.blur[W].enabled) Step(fx, cur, [&] { return fx.GaussianBlur(c.blur[W].radius, 0, 1); });
  if (c.stroke[W].enabled)
    Step(fx, cur, [&] { return fx.StrokeInside(c.stroke[W].color + 1, c.stroke[W].size, c.stroke[W].opacity); });
  if (c.bevel[W].enabled) {
    const CTessarette::SFX_BEVEL& b = c.bevel[W];
    klt3D_VECTOR l = {b.light[0], b.light[1], b.light[2]};
    Step(fx, cur, [&] {
      return fx.Bevel(b.size, b.depth, b.soften, l, b.highlightColor + 1, b.highlightOpacity, b.shadowColor + 1,
                      b.shadowOpacity);
    });
  }
  return cur;
}

// A cut of a knob grid with soft (four-times mask) edges on an RGB document.
struct Cut {
  CTessarette e;
  Doc d;
  explicit Cut(u8 planes = 3, i32 w = 96, i32 h = 72) : d(w, h, planes, 31) {
    SetGrid(e, 2, 2, true);
    CTessarette::DOCUMENT doc = {static_cast<u8>(planes == 1 ? 0 : (planes == 3 ? 1 : 2)), {0, 0, w, h}, 0, nullptr};
    e.SetDocument(doc);
    EXPECT_EQ(e.SplitCells(d.w, d.h, nullptr, 0, d.ptrs, d.w, planes, 0, 100, 0), 1);
  }
};

}  // namespace

TEST(TessaretteRender, EffectsRunInTheFixedOrder) {
  Cut cut;
  ASSERT_EQ(cut.e.GetPieceCount(), 4u);
  const int cases[] = {0,      kInvert, kOverlay, kHsl,  kBc,   kMblur, kBlur, kStroke, kBevel,
                       0xFF,   kBlur | kMblur | kStroke, kInvert | kBevel | kHsl};
  for (int which : cases) {
    for (u32 i = 0; i < 4; i++) {
      Cell& c = *cut.e.GetPiece(i);
      SetEffects(c, which);
      ASSERT_EQ(cut.e.RenderPiece(i), 1);
      Buf ref = Reference(c, 4);
      ASSERT_EQ(ImageOf(c, 4), ref.data) << "effects " << which << " piece " << i;
      EXPECT_EQ(c.hsl[R].enabled, c.hsl[W].enabled);
      EXPECT_EQ(c.stroke[R].size, 3);
      EXPECT_EQ(c.invert[R], c.invert[W]);
      EXPECT_EQ(c.mblur[R].angle, 30);
    }
  }
  // Every effect off: the document's pixels and the mask as alpha.
  Cell& c = *cut.e.GetPiece(2);
  SetEffects(c, 0);
  ASSERT_EQ(cut.e.RenderPiece(2), 1);
  EXPECT_EQ(ImageOf(c, 4), SourceOf(c, 4).data);
  EXPECT_EQ(cut.e.RenderPiece(4), 0);
}

// An effect that refuses its values leaves the result where it was: the
// next effect reads the last good image, never a stale buffer.
TEST(TessaretteRender, RefusedEffectKeepsTheResult) {
  Cut cut;
  Cell& c = *cut.e.GetPiece(1);
  SetEffects(c, kInvert | kHsl | kBc);
  c.hsl[W].hue = 500;  // out of range: refused
  ASSERT_EQ(cut.e.RenderPiece(1), 1);
  Cell expect = c;
  expect.hsl[W].enabled = 0;
  EXPECT_EQ(ImageOf(c, 4), Reference(expect, 4).data);
  EXPECT_EQ(c.hsl[R].hue, 500);  // the record still follows the working copy

  // Only a refused effect: the unchanged image.
  SetEffects(c, kHsl);
  c.hsl[W].hue = 500;
  ASSERT_EQ(cut.e.RenderPiece(1), 1);
  EXPECT_EQ(ImageOf(c, 4), SourceOf(c, 4).data);
}

// A full colour overlay switches both blurs off.
TEST(TessaretteRender, OpaqueOverlaySkipsBlurs) {
  Cut cut;
  Cell& c = *cut.e.GetPiece(0);
  SetEffects(c, kOverlay | kBlur | kMblur);
  c.colorOverlay[W].opacity = 255;
  ASSERT_EQ(cut.e.RenderPiece(0), 1);
  const std::vector<u8> img = ImageOf(c, 4);
  const size_t n = img.size() / 4;
  for (size_t i = 0; i < n; i++) {
    ASSERT_EQ(img[i], 200);
    ASSERT_EQ(img[n + i], 40);
    ASSERT_EQ(img[2 * n + i], 10);
  }
  EXPECT_EQ(c.blur[R].enabled, 1);
}

TEST(TessaretteRender, ColourLineByDocumentKind) {
  Cut gray(1);
  Cell& g = *gray.e.GetPiece(0);
  SetEffects(g, kHsl);  // not on gray documents
  ASSERT_EQ(gray.e.RenderPiece(0), 1);
  EXPECT_EQ(ImageOf(g, 2), SourceOf(g, 2).data);
  SetEffects(g, kOverlay);
  g.colorOverlay[W].opacity = 255;
  ASSERT_EQ(gray.e.RenderPiece(0), 1);
  EXPECT_EQ(ImageOf(g, 2)[0], 7);

  Cut cmyk(4);
  Cell& k = *cmyk.e.GetPiece(3);
  SetEffects(k, kOverlay);
  k.colorOverlay[W].opacity = 255;
  ASSERT_EQ(cmyk.e.RenderPiece(3), 1);
  const std::vector<u8> img = ImageOf(k, 5);
  const size_t n = img.size() / 5;
  EXPECT_EQ(img[0], 1);
  EXPECT_EQ(img[n], 2);
  EXPECT_EQ(img[2 * n], 3);
  EXPECT_EQ(img[3 * n], 4);
}

namespace {

// Two layers over a document whose filter area starts at (100, 50): layer 7
// covers everything, layer 9 only the left half. Pixels are x + 2y of the
// whole document (plus the layer id); alpha 255.
class FakeLayers : public CTessaretteLayerSource {
 public:
  u8 FillLayerTable(kltRECT_s, u8) override { return 1; }
  u32 GetLayerCount() override { return 3; }
  u8 GetLayerInfo(u32 i, LAYERINFO& info) override {
    static const LAYERINFO t[3] = {{7, {0, 0, 1000, 1000}}, {9, {100, 50, 160, 122}}, {-1, {0, 0, 1000, 1000}}};
    info = t[i];
    return 1;
  }
  u8 ReadLayer(i32 id, u8** planes, u32 stride, i32 w, i32 h, u8 count, kltRECT_s r) override {
    reads++;
    for (u8 p = 0; p < count; p++)
      for (i32 y = 0; y < h; y++)
        for (i32 x = 0; x < w; x++)
          planes[p][y * stride + x] =
              p + 1 == count ? 255 : static_cast<u8>(r.left + x + 2 * (r.top + y) + id);
    return 1;
  }
  int reads = 0;
};

}  // namespace

TEST(TessaretteRender, ImageOverlayTakesTheCoveringLayer) {
  Cut cut;
  FakeLayers layers;
  CTessarette::DOCUMENT doc = {1, {100, 50, 196, 122}, 1, &layers};
  cut.e.SetDocument(doc);
  int picked9 = 0;
  for (u32 i = 0; i < 4; i++) {
    Cell& c = *cut.e.GetPiece(i);
    SetEffects(c, 0);
    c.imageOverlay[W] = {1, 255, 0, -1};
    ASSERT_EQ(cut.e.RenderPiece(i), 1);
    // Automatic: the smallest layer that covers the piece.
    const i32 id = c.rect.right <= 60 ? 9 : 7;
    picked9 += id == 9;
    const std::vector<u8> img = ImageOf(c, 4);
    const i32 rw = c.rect.right - c.rect.left;
    EXPECT_EQ(img[0], static_cast<u8>(100 + c.rect.left + 2 * (50 + c.rect.top) + id)) << i;
    EXPECT_EQ(img[rw + 1], static_cast<u8>(100 + c.rect.left + 1 + 2 * (50 + c.rect.top + 1) + id)) << i;
    EXPECT_EQ(c.imageOverlay[R].enabled, 1);
  }
  EXPECT_EQ(picked9, 2);
  // Manual with a layer that does not cover the piece: unchanged.
  for (u32 i = 0; i < 4; i++) {
    Cell& c = *cut.e.GetPiece(i);
    if (c.rect.right <= 60) continue;
    c.imageOverlay[W] = {1, 255, 1, 9};
    ASSERT_EQ(cut.e.RenderPiece(i), 1);
    EXPECT_EQ(ImageOf(c, 4), SourceOf(c, 4).data) << i;
  }
  // Without layer access the overlay is skipped and its record left alone.
  doc.layerAccess = 0;
  cut.e.SetDocument(doc);
  Cell& c = *cut.e.GetPiece(0);
  c.imageOverlay[W] = {1, 255, 1, 7};
  ASSERT_EQ(cut.e.RenderPiece(0), 1);
  EXPECT_EQ(c.imageOverlay[R].layerId, -1);
  EXPECT_EQ(ImageOf(c, 4), SourceOf(c, 4).data);
}

namespace {
// Layers whose bounds span nearly the whole 32-bit range: the widest is
// wider than 2^31, the narrower one covers the piece and is picked.
class WideLayers : public FakeLayers {
 public:
  u32 GetLayerCount() override { return 2; }
  u8 GetLayerInfo(u32 i, LAYERINFO& info) override {
    static const LAYERINFO t[2] = {{7, {-2000000000, -5, 2000000000, 1000}}, {9, {-1500000000, -5, 1500000000, 1000}}};
    info = t[i];
    return 1;
  }
};
}  // namespace

TEST(TessaretteRender, ImageOverlayMeasuresHugeLayersIn64Bits) {
  Cut cut;
  WideLayers layers;
  CTessarette::DOCUMENT doc = {1, {0, 0, 96, 72}, 1, &layers};
  cut.e.SetDocument(doc);
  Cell& c = *cut.e.GetPiece(0);
  SetEffects(c, 0);
  c.imageOverlay[W] = {1, 255, 0, -1};
  ASSERT_EQ(cut.e.RenderPiece(0), 1);
  EXPECT_EQ(ImageOf(c, 4)[0], static_cast<u8>(c.rect.left + 2 * c.rect.top + 9));
}

// Recombination against the rules applied pixel by pixel, piece by piece.
TEST(TessaretteRender, CombineMatchesPerPixelRules) {
  std::mt19937 rng(17);
  Cut cut(3, 120, 90);
  CTessarette& e = cut.e;
  for (u32 i = 0; i < e.GetPieceCount(); i++) ASSERT_EQ(e.RenderPiece(i), 1);
  const i32 w = 120, h = 90;
  std::vector<u8> mask(w * h);
  for (u8& v : mask) v = static_cast<u8>(rng());
  for (int trial = 0; trial < 12; trial++) {
    for (u32 i = 0; i < e.GetPieceCount(); i++) {
      Cell& c = *e.GetPiece(i);
      c.visible = rng() % 4 != 0;
      c.opacity[R] = {static_cast<u8>(rng() % 2), static_cast<u8>(rng() % 3 == 0 ? 0 : rng())};
    }
    const u8 unionAlpha = trial % 2;
    const kltRECT_s rect = trial < 4 ? klNullRect : kltRECT_s{-5, 10, 100, 200};
    const bool useMask = trial % 3 == 0;
    std::vector<u8> got(w * h * 4), want;
    for (u8& v : got) v = static_cast<u8>(rng());
    want = got;
    u8* planes[4];
    for (int p = 0; p < 4; p++) planes[p] = got.data() + p * w * h;
    ASSERT_EQ(e.CombineSplitedCells(w, h, planes, w, 4, useMask ? mask.data() : nullptr, w, rect, unionAlpha, 0, 100), 1);

    const kltRECT_s r = trial < 4 ? kltRECT_s{0, 0, w, h} : kltRECT_s{0, 10, 100, h};
    auto at = [&](int p, i32 x, i32 y) -> u8& { return want[p * w * h + y * w + x]; };
    for (i32 y = r.top; y < r.bottom; y++)
      for (i32 x = r.left; x < r.right; x++) at(3, x, y) = 0;
    for (u32 i = 0; i < e.GetPieceCount(); i++) {
      const Cell& c = *e.GetPiece(i);
      if (!c.visible || (c.opacity[R].enabled && c.opacity[R].opacity == 0)) continue;
      const int o = c.opacity[R].enabled ? c.opacity[R].opacity : 255;
      const i32 rw = c.rect.right - c.rect.left;
      for (i32 y = c.rect.top; y < c.rect.bottom; y++)
        for (i32 x = c.rect.left; x < c.rect.right; x++) {
          if (x < r.left || x >= r.right || y < r.top || y >= r.bottom) continue;
          const int off = (y - c.rect.top) * rw + (x - c.rect.left);
          const int m = c.imgPlanes[3][off];
          if (!m) continue;
          const int d = at(3, x, y);
          for (int p = 0; p < 3; p++) {
            const int pv = c.imgPlanes[p][off], dv = at(p, x, y);
            at(p, x, y) = static_cast<u8>(d == 0 ? pv : dv + ((m * (pv - dv)) >> 8));
          }
          int a;
          if (d == 0) a = o == 255 ? m : (m * o) >> 8;
          else if (o == 255) a = unionAlpha ? 255 - (((255 - d) * (255 - m)) >> 8) : 255;
          else a = 255 - (((255 - d) * (255 - ((m * o) >> 8))) >> 8);
          at(3, x, y) = static_cast<u8>(a);
        }
    }
    if (useMask)
      for (i32 y = r.top; y < r.bottom; y++)
        for (i32 x = r.left; x < r.right; x++) at(3, x, y) = std::min(at(3, x, y), mask[y * w + x]);
    ASSERT_EQ(got, want) << "trial " << trial;
  }
}
