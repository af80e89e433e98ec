#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "CKLF_ImageFX.h"
#include "CTessarette.h"
#include "CTessaretteLayerSource.h"
#include "EngineTestUtil.h"
#include "support/TestSupport.h"

using engtest::Doc;
using engtest::SetGrid;

namespace {

typedef CTessarette::SPLITEDCELL Cell;
enum { W = CTessarette::FX_WORKING, R = CTessarette::FX_RENDERED };

u16 Width(const Cell& c) { return static_cast<u16>(c.rect.right - c.rect.left); }
u16 Height(const Cell& c) { return static_cast<u16>(c.rect.bottom - c.rect.top); }

// The piece's document planes and mask, one plane after another.
std::vector<u8> SourceOf(const Cell& c, u8 planes) {
  const u16 w = Width(c), h = Height(c);
  std::vector<u8> b(static_cast<size_t>(w) * h * planes);
  for (u8 p = 0; p < planes; p++)
    for (u16 y = 0; y < h; y++) std::memcpy(&b[(p * h + y) * w], c.srcPlanes[p] + y * c.srcStrides[p], w);
  return b;
}

std::vector<u8> ImageOf(const Cell& c, u8 planes) {
  return std::vector<u8>(c.imageBlock->GetPtr(), c.imageBlock->GetPtr() + Width(c) * Height(c) * planes);
}

enum { kInvert = 1, kOverlay = 2, kHsl = 4, kBc = 8, kMblur = 16, kBlur = 32, kStroke = 64, kBevel = 128 };

void SetEffects(Cell& c, int which) {
  c.invert[W] = (which & kInvert) ? 1 : 0;
  c.colorOverlay[W] = {static_cast<u8>((which & kOverlay) ? 1 : 0), 90, {7, 200, 40, 10, 1, 2, 3, 4}};
  c.hsl[W] = {static_cast<u8>((which & kHsl) ? 1 : 0), 0, 40, 25, -10};
  c.bc[W] = {static_cast<u8>((which & kBc) ? 1 : 0), 12, 30};
  c.mblur[W] = {static_cast<u8>((which & kMblur) ? 1 : 0), 30, 4};
  c.blur[W] = {static_cast<u8>((which & kBlur) ? 1 : 0), 2};
  c.stroke[W].enabled = (which & kStroke) ? 1 : 0;
  c.stroke[W].size = 3;
  c.stroke[W].opacity = 200;
  c.bevel[W].enabled = (which & kBevel) ? 1 : 0;
}

// The working effects of a piece (planes: colour planes and mask) applied
// by hand in the engine's fixed order. Colours come from the colour line's
// gray byte, its RGB bytes or its CMYK bytes by the document; hue/saturation
// runs on RGB only; an effect that refuses leaves the image as it was; a
// full colour overlay switches both blurs off.
std::vector<u8> Reference(const Cell& c, u8 planes) {
  const u16 w = Width(c), h = Height(c);
  CKLF_ImageFX fx;
  std::vector<u8> cur = SourceOf(c, planes), next(cur.size());
  auto step = [&](u8 on, auto effect) {
    if (!on) return;
    ASSERT_TRUE(fx.SetSource(cur.data(), w, planes, 1, w, h));
    ASSERT_TRUE(fx.SetDestination(next.data(), w, planes, 1, w, h));
    if (effect()) cur.swap(next);
  };
  auto colour = [&](const u8* line) { return planes == 2 ? line : (planes == 4 ? line + 1 : line + 4); };
  const CTessarette::SFX_HSL& hsl = c.hsl[W];
  const CTessarette::SFX_COLOROVERLAY& co = c.colorOverlay[W];
  const CTessarette::SFX_STROKE& st = c.stroke[W];
  const u8 blurs = !co.enabled || co.opacity < 255;
  const CTessarette::SFX_BEVEL& b = c.bevel[W];
  step(c.invert[W], [&] { return fx.Invert(); });
  step(co.enabled, [&] { return fx.ColorOverlay(colour(co.color), co.opacity); });
  step(hsl.enabled && planes == 4, [&] { return fx.HSLCorrection(hsl.hue, hsl.saturation, hsl.lightness, 1); });
  step(c.bc[W].enabled, [&] { return fx.BrightnessContrast(c.bc[W].brightness, c.bc[W].contrast, 128); });
  step(c.mblur[W].enabled && blurs, [&] { return fx.MotionBlur(c.mblur[W].angle, c.mblur[W].radius, 0, 1); });
  step(c.blur[W].enabled && blurs, [&] { return fx.GaussianBlur(c.blur[W].radius, 0, 1); });
  step(st.enabled, [&] { return fx.StrokeInside(colour(st.color), st.size, st.opacity); });
  step(b.enabled, [&] {
    return fx.Bevel(b.size, b.depth, b.soften, {b.light[0], b.light[1], b.light[2]}, colour(b.highlightColor),
                    b.highlightOpacity, colour(b.shadowColor), b.shadowOpacity);
  });
  return cur;
}

// A cut of a 2 x 2 knob grid with soft (four-times mask) edges.
struct Cut {
  CTessarette e;
  Doc d;
  explicit Cut(u8 planes = 3, i32 w = 96, i32 h = 72) : d(w, h, planes, 31) {
    SetGrid(e, 2, 2, true);
    CTessarette::DOCUMENT doc = {static_cast<u8>(planes == 1 ? 0 : (planes == 3 ? 1 : 2)), {0, 0, w, h}, 0, nullptr};
    e.SetDocument(doc);
    EXPECT_EQ(engtest::Cut(e, d), 1);
  }
};

}  // namespace

// On gray, RGB and CMYK documents.
TEST(TessaretteRender, EffectsRunInTheFixedOrder) {
  struct Case {
    int which;
    i16 hue;
    u8 overlayOpacity;
  };
  const Case cases[] = {{0, 40, 90},           {kInvert, 40, 90}, {kOverlay, 40, 90}, {kHsl, 40, 90},
                        {kBc, 40, 90},         {kMblur, 40, 90},  {kBlur, 40, 90},    {kStroke, 40, 90},
                        {kBevel, 40, 90},      {0xFF, 40, 90},    {kInvert | kBevel | kHsl, 40, 90},
                        {kInvert | kHsl | kBc, 500, 90},  // hue/saturation refuses: bc reads the inverted image
                        {kOverlay | kBlur | kMblur, 40, 255}};
  for (u8 colours : {3, 1, 4}) {
    Cut cut(colours);
    ASSERT_EQ(cut.e.GetPieceCount(), 4u);
    EXPECT_EQ(cut.e.RenderPiece(4), 0);
    // A cancel renders nothing and leaves the as-rendered records.
    struct StopNow : CKLF_Progress {
      u8 IsCanceled() override { return 1; }
    } stop;
    Cell& first = *cut.e.GetPiece(0);
    SetEffects(first, kInvert);
    const std::vector<u8> before = ImageOf(first, colours + 1);
    cut.e.SetProgress(&stop);
    EXPECT_EQ(cut.e.RenderPiece(0), 0);
    EXPECT_EQ(first.invert[R], 0);
    EXPECT_EQ(ImageOf(first, colours + 1), before);
    cut.e.SetProgress(nullptr);
    for (const Case& k : cases) {
      for (u32 i = 0; i < 4; i++) {
        Cell& c = *cut.e.GetPiece(i);
        SetEffects(c, k.which);
        c.hsl[W].hue = k.hue;
        c.colorOverlay[W].opacity = k.overlayOpacity;
        ASSERT_EQ(cut.e.RenderPiece(i), 1);
        ASSERT_EQ(ImageOf(c, colours + 1), Reference(c, colours + 1))
            << colours << " colour planes, effects " << k.which << ", piece " << i;
        // The as-rendered copies follow the working ones.
        EXPECT_EQ(c.hsl[R].enabled, c.hsl[W].enabled);
        EXPECT_EQ(c.invert[R], c.invert[W]);
        EXPECT_EQ(c.mblur[R].angle, 30);
      }
    }
  }
}

namespace {

// Layers whose pixels are x + 2y of the whole document plus the layer id;
// alpha 255.
class FakeLayers : public CTessaretteLayerSource {
 public:
  std::vector<LAYERINFO> table;
  // The call that fails (1 the table, 2 the layer; 0 none) and its code.
  int failing = 0;
  u16 error = 0;
  u8 FillLayerTable(kltRECT_s, u8) override { return failing != 1; }
  u16 GetLastError() const override { return error; }
  u32 GetLayerCount() override { return static_cast<u32>(table.size()); }
  u8 GetLayerInfo(u32 i, LAYERINFO& info) override {
    info = table[i];
    return 1;
  }
  u8 ReadLayer(i32 id, u8** planes, u32 stride, i32 w, i32 h, u8 count, kltRECT_s r) override {
    if (failing == 2) return 0;
    for (u8 p = 0; p < count; p++)
      for (i32 y = 0; y < h; y++)
        for (i32 x = 0; x < w; x++)
          planes[p][y * stride + x] = p + 1 == count ? 255 : static_cast<u8>(r.left + x + 2 * (r.top + y) + id);
    return 1;
  }
};

}  // namespace

TEST(TessaretteRender, ImageOverlayTakesTheCoveringLayer) {
  Cut cut;
  FakeLayers layers;
  // The filter area starts at (100, 50); layer 9 covers only its left half.
  layers.table = {{7, {0, 0, 1000, 1000}}, {9, {100, 50, 160, 122}}, {-1, {0, 0, 1000, 1000}}};
  CTessarette::DOCUMENT doc = {1, {100, 50, 196, 122}, 1, &layers};
  cut.e.SetDocument(doc);
  int picked9 = 0;
  for (u32 i = 0; i < 4; i++) {
    Cell& c = *cut.e.GetPiece(i);
    SetEffects(c, 0);
    c.imageOverlay[W] = {1, 255, 0, 0, -1};
    ASSERT_EQ(cut.e.RenderPiece(i), 1);
    // Automatic: the smallest layer that covers the piece.
    const i32 id = c.rect.right <= 60 ? 9 : 7;
    picked9 += id == 9;
    const std::vector<u8> img = ImageOf(c, 4);
    EXPECT_EQ(img[0], static_cast<u8>(100 + c.rect.left + 2 * (50 + c.rect.top) + id)) << i;
    EXPECT_EQ(img[Width(c) + 1], static_cast<u8>(100 + c.rect.left + 1 + 2 * (50 + c.rect.top + 1) + id)) << i;
    if (c.rect.right <= 60) continue;
    // Manual with a layer that does not cover the piece: unchanged.
    c.imageOverlay[W] = {1, 255, 1, 0, 9};
    ASSERT_EQ(cut.e.RenderPiece(i), 1);
    EXPECT_EQ(ImageOf(c, 4), SourceOf(c, 4)) << i;
  }
  EXPECT_EQ(picked9, 2);

  // Without layer access the overlay is skipped and its record left alone.
  doc.layerAccess = 0;
  cut.e.SetDocument(doc);
  Cell& c = *cut.e.GetPiece(0);
  c.imageOverlay[W] = {1, 255, 1, 0, 7};
  ASSERT_EQ(cut.e.RenderPiece(0), 1);
  EXPECT_EQ(c.imageOverlay[R].layerId, -1);
  EXPECT_EQ(ImageOf(c, 4), SourceOf(c, 4));

  // Bounds wider than 2^31 are measured in 64 bits: the narrower layer wins.
  layers.table = {{7, {-2000000000, -5, 2000000000, 1000}}, {9, {-1500000000, -5, 1500000000, 1000}}};
  doc = {1, {0, 0, 96, 72}, 1, &layers};
  cut.e.SetDocument(doc);
  c.imageOverlay[W] = {1, 255, 0, 0, -1};
  ASSERT_EQ(cut.e.RenderPiece(0), 1);
  EXPECT_EQ(ImageOf(c, 4)[0], static_cast<u8>(c.rect.left + 2 * c.rect.top + 9));
}

// Layers that cannot be read: for want of memory the piece's render fails
// (its overlay not taken as rendered); otherwise the overlay stays clear.
TEST(TessaretteRender, ImageOverlayLayersThatCannotBeRead) {
  Cut cut;
  FakeLayers layers;
  layers.table = {{7, {0, 0, 1000, 1000}}};
  cut.e.SetDocument({1, {100, 50, 196, 122}, 1, &layers});
  Cell& c = *cut.e.GetPiece(0);
  for (const auto& k : std::vector<std::pair<int, u16>>{{1, klErrNoMemory}, {2, klErrNoMemory}, {1, 1}, {2, 0}}) {
    SetEffects(c, 0);
    c.imageOverlay[R] = {};
    c.imageOverlay[W] = {1, 255, 1, 0, 7};
    std::tie(layers.failing, layers.error) = k;
    const u8 rendered = k.second != klErrNoMemory;
    EXPECT_EQ(cut.e.RenderPiece(0) * 10 + c.imageOverlay[R].layerId, rendered * 17) << k.first << " " << k.second;
    if (rendered) {
      EXPECT_EQ(ImageOf(c, 4), SourceOf(c, 4));
    }
  }
}

// Recombination against the rules applied pixel by pixel, piece by piece.
TEST(TessaretteRender, CombineMatchesPerPixelRules) {
  std::mt19937 rng(17);
  const i32 w = 120, h = 90, n = w * h;
  Cut cut(3, w, h);
  CTessarette& e = cut.e;
  for (u32 i = 0; i < e.GetPieceCount(); i++) ASSERT_EQ(e.RenderPiece(i), 1);
  std::vector<u8> mask(n);
  for (u8& v : mask) v = static_cast<u8>(rng());
  for (int trial = 0; trial < 6; trial++) {
    for (u32 i = 0; i < e.GetPieceCount(); i++) {
      Cell& c = *e.GetPiece(i);
      c.visible = rng() % 4 != 0;
      c.opacity[R] = {static_cast<u8>(rng() % 2), static_cast<u8>(rng() % 3 == 0 ? 0 : rng())};
    }
    const u8 unionAlpha = trial % 2;
    const bool useMask = trial % 3 == 0;
    const kltRECT_s rect = trial < 3 ? klNullRect : kltRECT_s{-5, 10, 100, 200};
    const kltRECT_s r = trial < 3 ? kltRECT_s{0, 0, w, h} : kltRECT_s{0, 10, 100, h};  // clipped
    std::vector<u8> got(4 * n);
    for (u8& v : got) v = static_cast<u8>(rng());
    std::vector<u8> want = got;
    u8* planes[4] = {&got[0], &got[n], &got[2 * n], &got[3 * n]};
    const u8* limit = useMask ? mask.data() : nullptr;
    ASSERT_EQ(e.CombineSplitedCells(w, h, planes, w, 4, limit, w, rect, unionAlpha, 0, 100), 1);

    auto inside = [&](i32 x, i32 y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; };
    for (i32 i = 0; i < n; i++)
      if (inside(i % w, i / w)) want[3 * n + i] = 0;
    for (u32 i = 0; i < e.GetPieceCount(); i++) {
      const Cell& c = *e.GetPiece(i);
      if (!c.visible || (c.opacity[R].enabled && c.opacity[R].opacity == 0)) continue;
      const int o = c.opacity[R].enabled ? c.opacity[R].opacity : 255;
      for (i32 y = c.rect.top; y < c.rect.bottom; y++)
        for (i32 x = c.rect.left; x < c.rect.right; x++) {
          const int off = (y - c.rect.top) * Width(c) + (x - c.rect.left), m = c.imgPlanes[3][off];
          if (!inside(x, y) || !m) continue;
          u8* a = &want[3 * n + y * w + x];
          const int d = *a;
          for (int p = 0; p < 3; p++) {
            const int pv = c.imgPlanes[p][off], dv = want[p * n + y * w + x];
            want[p * n + y * w + x] = static_cast<u8>(d == 0 ? pv : dv + ((m * (pv - dv)) >> 8));
          }
          if (d == 0) *a = static_cast<u8>(o == 255 ? m : (m * o) >> 8);
          else if (o == 255) *a = static_cast<u8>(unionAlpha ? 255 - (((255 - d) * (255 - m)) >> 8) : 255);
          else *a = static_cast<u8>(255 - (((255 - d) * (255 - ((m * o) >> 8))) >> 8));
        }
    }
    for (i32 i = 0; i < n; i++)
      if (useMask && inside(i % w, i / w)) want[3 * n + i] = std::min(want[3 * n + i], mask[i]);
    ASSERT_EQ(got, want) << "trial " << trial;
  }
}

// Regions painted, pieces rendered side by side (each thread with its own
// work image) and rows composed in bands give the bytes of one thread, on
// random layouts with every effect; pieces too large to render side by
// side (all but the finest grid's, whose knots move least) lend their
// threads to the effects. Rendering and composing in batches (more than 64
// pieces: two batches or more), pieces getting their images when rendered,
// gives what rendering all, then composing, gives.
TEST(TessaretteRender, ThreadCountsGiveTheBytesOfOneThread) {
  const struct {
    i32 w, h;
    u32 columns, rows;
    f32 knots;
  } trials[] = {{160, 120, 1, 1, 0.5f}, {160, 120, 6, 5, 0.5f}, {160, 120, 9, 8, 0.5f}, {320, 240, 16, 12, 0.3f}};
  for (int trial = 0; trial < 4; trial++) {
    const i32 w = trials[trial].w, h = trials[trial].h, n = w * h;
    const u32 columns = trials[trial].columns, rows = trials[trial].rows;
    std::vector<std::vector<u8>> images[2];
    std::vector<u8> composed[2];
    for (int run = 0; run < 2; run++) {
      std::vector<u8> batched;
      for (int road = 0; road < 2; road++) {
        std::mt19937 same(trial);
        CTessarette e;
        SetGrid(e, columns, rows, true);
        std::uniform_real_distribution<f32> u(-trials[trial].knots, trials[trial].knots);
        for (u32 k = 0; k < e.m_knotCount; k++) e.m_knots[k] = {u(same), u(same)};
        Doc d(w, h, 3, trial);
        e.SetThreads(run == 0 ? 1 : 5);
        e.SetImagesOnRender(static_cast<u8>(road));
        ASSERT_EQ(engtest::Cut(e, d), 1);
        for (u32 i = 0; i < e.GetPieceCount(); i++) {
          Cell& c = *e.GetPiece(i);
          SetEffects(c, static_cast<int>(same() & 0xFF) | kBlur | kMblur);
          c.visible = same() % 5 != 0;
          c.opacity[W] = {static_cast<u8>(same() % 2), static_cast<u8>(same())};
        }
        std::vector<u8>& out = road == 0 ? composed[run] : batched;
        out.assign(4 * n, 7);
        u8* planes[4] = {&out[0], &out[n], &out[2 * n], &out[3 * n]};
        if (road == 1) {
          ASSERT_EQ(e.RenderAndCombine(w, h, planes, w, 4, d.planes[0].data(), w, 0, 100), 1);
          continue;
        }
        ASSERT_EQ(e.RenderAllPieces(0, 100), 1);
        for (u32 i = 0; i < e.GetPieceCount(); i++) images[run].push_back(ImageOf(*e.GetPiece(i), 4));
        ASSERT_EQ(e.CombineSplitedCells(w, h, planes, w, 4, d.planes[0].data(), w, klNullRect, 0, 0, 100), 1);
      }
      ASSERT_EQ(batched, composed[run]) << "trial " << trial << " run " << run;
    }
    ASSERT_EQ(images[0], images[1]) << "trial " << trial;
    ASSERT_EQ(composed[0], composed[1]) << "trial " << trial;
  }
}

// With a background the colour planes start as its copy and the alpha
// cleared, whatever the planes held: the same as composing over planes
// that hold it. Without pieces only the background is laid.
TEST(TessaretteRender, CombineStartsFromTheBackground) {
  const i32 w = 90, h = 70, n = w * h;
  CTessarette e;
  SetGrid(e, 3, 2, true);
  Doc d(w, h, 3, 4);
  e.SetThreads(3);
  e.SetImagesOnRender(1);
  ASSERT_EQ(engtest::Cut(e, d), 1);
  ASSERT_GT(e.GetPieceCount(), 4u);
  e.GetPiece(1)->visible = 0;  // leaves the background showing
  std::vector<u8> over(4 * n, 7), laid(4 * n, 99);
  for (int p = 0; p < 3; p++) std::copy(d.planes[p].begin(), d.planes[p].end(), over.begin() + p * n);
  u8* o[4] = {&over[0], &over[n], &over[2 * n], &over[3 * n]};
  u8* l[4] = {&laid[0], &laid[n], &laid[2 * n], &laid[3 * n]};
  ASSERT_EQ(e.RenderAndCombine(w, h, o, w, 4, nullptr, 0, 0, 100), 1);
  ASSERT_EQ(e.RenderAndCombine(w, h, l, w, 4, nullptr, 0, 0, 100, d.ptrs), 1);
  EXPECT_EQ(over, laid);
  e.FreeSpliting();
  laid.assign(4 * n, 99);
  ASSERT_EQ(e.RenderAndCombine(w, h, l, w, 4, nullptr, 0, 0, 100, d.ptrs), 1);
  for (int p = 0; p < 3; p++) EXPECT_EQ(std::vector<u8>(laid.begin() + p * n, laid.begin() + (p + 1) * n), d.planes[p]);
  EXPECT_EQ(std::vector<u8>(laid.begin() + 3 * n, laid.end()), std::vector<u8>(n, 0));
  // Recombining no pieces leaves nothing shown inside the rectangle either
  // (a cut that made no piece), the colours and the rest as they were.
  std::vector<u8> stale(4 * n, 99);
  u8* s[4] = {&stale[0], &stale[n], &stale[2 * n], &stale[3 * n]};
  ASSERT_EQ(e.CombineSplitedCells(w, h, s, w, 4, nullptr, w, {10, 5, 40, 30}, 0, 0, 100), 1);
  for (i32 i = 0; i < 4 * n; i++) {
    const i32 x = i % w, y = i / w % h;
    const bool cleared = i >= 3 * n && x >= 10 && x < 40 && y >= 5 && y < 30;
    ASSERT_EQ(stale[static_cast<size_t>(i)], cleared ? 0 : 99) << i;
  }
}

// A list rendered side by side gives every listed piece the image and the
// records a render of its own gives, on any thread count, and leaves the
// others; an index out of range or a cancel renders nothing.
TEST(TessaretteRender, PieceListsRenderLikeSinglePieces) {
  const std::vector<u32> list = {7, 2, 9, 0, 11, 5};
  std::vector<std::vector<u8>> images[3];
  for (int road = 0; road < 3; ++road) {
    CTessarette e;
    SetGrid(e, 4, 3, true);
    Doc d(80, 60, 3, 17);
    e.SetThreads(road == 2 ? 4 : 1);
    ASSERT_EQ(engtest::Cut(e, d, nullptr, 1), 1);
    std::mt19937 same(5);
    for (u32 i = 0; i < e.GetPieceCount(); i++) SetEffects(*e.GetPiece(i), static_cast<int>(same() & 0xFF) | kBlur);
    if (road == 0) {
      for (u32 i : list) ASSERT_EQ(e.RenderPiece(i), 1);
    } else {
      ASSERT_EQ(e.RenderPieces(list.data(), static_cast<u32>(list.size())), 1);
    }
    for (u32 i = 0; i < e.GetPieceCount(); i++) {
      const Cell& c = *e.GetPiece(i);
      const bool listed = std::find(list.begin(), list.end(), i) != list.end();
      EXPECT_EQ(c.blur[R].enabled, listed ? 1 : 0) << i;
      images[road].push_back(ImageOf(c, 4));
    }
    if (road != 2) continue;
    const u32 bad[2] = {1, e.GetPieceCount()};
    Cell& one = *e.GetPiece(1);
    EXPECT_FAILS(e, e.RenderPieces(bad, 2), klErrBadArg);
    EXPECT_EQ(one.blur[R].enabled, 0);
    struct StopNow : CKLF_Progress {
      u8 IsCanceled() override { return 1; }
    } stop;
    e.SetProgress(&stop);
    e.ResetError();
    EXPECT_EQ(e.RenderPieces(bad, 1), 0);
    EXPECT_EQ(e.GetError(), 0);
    EXPECT_EQ(one.blur[R].enabled, 0);
  }
  EXPECT_EQ(images[0], images[1]);
  EXPECT_EQ(images[0], images[2]);
}

// Pieces rendered into the caller's images from their as-rendered records:
// with nothing left out, the pieces' own images; with effects left out,
// what rendering the piece without them gives; the same bytes on any
// thread count, and the pieces untouched. A list composed alone is the
// whole composition with the other pieces hidden.
TEST(TessaretteRender, PieceImagesAndListsForExport) {
  const i32 w = 160, h = 120, n = w * h;
  std::mt19937 rng(23);
  CTessarette e;
  SetGrid(e, 4, 3, true);
  Doc d(w, h, 3, 5);
  e.SetDocument({1, {0, 0, w, h}, 0, nullptr});
  ASSERT_EQ(engtest::Cut(e, d), 1);
  const u32 count = e.GetPieceCount();
  for (u32 i = 0; i < count; i++) {
    Cell& c = *e.GetPiece(i);
    SetEffects(c, static_cast<int>(rng() & 0xFF) | kBevel);
    c.opacity[W] = {static_cast<u8>(rng() % 2), static_cast<u8>(rng())};
  }
  ASSERT_EQ(e.RenderAllPieces(0, 100), 1);
  std::vector<std::vector<u8>> own;
  for (u32 i = 0; i < count; i++) own.push_back(ImageOf(*e.GetPiece(i), 4));
  // Working records changed after the render must not count.
  for (u32 i = 0; i < count; i++) SetEffects(*e.GetPiece(i), kInvert);

  std::vector<u32> list;
  for (u32 i = count; i-- > 0;) list.push_back(i);
  auto render = [&](u16 leaveOut, u32 threads) {
    std::vector<std::vector<u8>> out;
    std::vector<CTessarette::PIECEIMAGE> images;
    for (u32 i : list) {
      const Cell& c = *e.GetPiece(i);
      const u32 stride = Width(c) + 3;
      out.emplace_back(static_cast<size_t>(stride) * Height(c) * 4, 0);
      CTessarette::PIECEIMAGE im;
      for (u32 p = 0; p < 5; p++) im.planes[p] = p < 4 ? &out.back()[p * stride * Height(c)] : nullptr;
      im.stride = stride;
      images.push_back(im);
    }
    e.SetThreads(threads);
    EXPECT_EQ(e.RenderPieceImages(list.data(), static_cast<u32>(list.size()), leaveOut, images.data(), 0, 100), 1);
    // Without the stride's padding, as the piece's own image is laid out.
    std::vector<std::vector<u8>> tight;
    for (size_t k = 0; k < list.size(); k++) {
      const Cell& c = *e.GetPiece(list[k]);
      std::vector<u8> t;
      for (u32 p = 0; p < 4; p++)
        for (u32 y = 0; y < Height(c); y++) {
          const u8* row = images[k].planes[p] + y * images[k].stride;
          t.insert(t.end(), row, row + Width(c));
        }
      tight.push_back(t);
    }
    return tight;
  };
  const auto all = render(0, 1);
  for (size_t k = 0; k < list.size(); k++) ASSERT_EQ(all[k], own[list[k]]) << "piece " << list[k];
  const u16 noBevel = 1u << CTessarette::kEffectBevel;
  const auto flat = render(noBevel, 1);
  EXPECT_EQ(flat, render(noBevel, 4));
  for (u32 i = 0; i < count; i++) ASSERT_EQ(ImageOf(*e.GetPiece(i), 4), own[i]);
  // The reference: the rendered records without the bevel, rendered as usual.
  for (u32 i = 0; i < count; i++) {
    Cell& c = *e.GetPiece(i);
    c.invert[W] = c.invert[R], c.colorOverlay[W] = c.colorOverlay[R], c.hsl[W] = c.hsl[R], c.bc[W] = c.bc[R];
    c.mblur[W] = c.mblur[R], c.blur[W] = c.blur[R], c.stroke[W] = c.stroke[R], c.bevel[W] = c.bevel[R];
    c.bevel[W].enabled = 0;
    ASSERT_EQ(e.RenderPiece(i), 1);
  }
  for (size_t k = 0; k < list.size(); k++) ASSERT_EQ(flat[k], ImageOf(*e.GetPiece(list[k]), 4)) << list[k];

  // A list composed, against everything composed with the rest hidden.
  const std::vector<u32> some = {1, 5, 2, 9};
  std::vector<u8> got(4 * n, 9), want(4 * n, 9);
  u8* gp[4] = {&got[0], &got[n], &got[2 * n], &got[3 * n]};
  u8* wp[4] = {&want[0], &want[n], &want[2 * n], &want[3 * n]};
  ASSERT_EQ(e.CombinePieces(some.data(), 4, w, h, gp, w, 4, klNullRect, 1, 0, 100), 1);
  for (u32 i = 0; i < count; i++) e.GetPiece(i)->visible = std::count(some.begin(), some.end(), i) ? 1 : 0;
  // Listed in another order than the pieces': compose in list order by hand.
  ASSERT_EQ(e.CombineSplitedCells(w, h, wp, w, 4, nullptr, w, klNullRect, 1, 0, 100), 1);
  std::vector<u8> want2(4 * n, 9);
  u8* w2[4] = {&want2[0], &want2[n], &want2[2 * n], &want2[3 * n]};
  std::vector<u32> sorted = some;
  std::sort(sorted.begin(), sorted.end());
  ASSERT_EQ(e.CombinePieces(sorted.data(), 4, w, h, w2, w, 4, klNullRect, 1, 0, 100), 1);
  EXPECT_EQ(want2, want);
  EXPECT_NE(got, want);  // the order counts where pieces overlap their soft edges
  const u32 bad = count;
  EXPECT_FAILS(e, e.CombinePieces(&bad, 1, w, h, gp, w, 4, klNullRect, 1, 0, 100), klErrBadArg);
  EXPECT_FAILS(e, e.RenderPieceImages(&bad, 1, 0, nullptr, 0, 100), klErrBadArg);
}
