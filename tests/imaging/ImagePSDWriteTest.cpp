#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "CKLF_Image.h"
#include "PsdTestUtil.h"

using namespace psdtest;
using PSD = CKLF_ImagePSD;
using V = std::vector<u8>;

namespace {

PSD::PSDMLWRITE_INITPARAMS Doc(u16 w, u16 h, u8 mode) { return {w, h, mode, 72, 130, nullptr, 0, 0}; }

V Pack(const V& row) {
  V out(row.size() + row.size() / 3 + 1);
  i32 n = -1;
  PSD::PackBits(row.data(), static_cast<i32>(row.size()), out.data(), &n);
  out.resize(static_cast<size_t>(n));
  return out;
}

// The slow, obvious PackBits: equal pairs start repeat packets, the rest
// gathers into literals of at most 128.
V SlowPack(const V& s) {
  V out, lit;
  auto flush = [&] {
    if (!lit.empty()) out.push_back(static_cast<u8>(lit.size() - 1)), out.insert(out.end(), lit.begin(), lit.end());
    lit.clear();
  };
  for (size_t i = 0; i < s.size();) {
    size_t run = 1;
    while (i + run < s.size() && run < 128 && s[i + run] == s[i]) ++run;
    if (run >= 2) {
      flush();
      out.insert(out.end(), {static_cast<u8>(1 - static_cast<int>(run)), s[i]});
      i += run;
    } else if (lit.push_back(s[i++]), lit.size() == 128) {
      flush();
    }
  }
  flush();
  return out;
}

}  // namespace

TEST(ImagePSDPackBits, WorstCaseAndUnpackEdges) {
  V pairs;  // a lone byte and a pair, again and again: the worst case
  for (int i = 0; i < 300; ++i) pairs.insert(pairs.end(), {1, 2, 2});
  EXPECT_EQ(1200u, Pack(pairs).size());
  // Unpacking: -128 is skipped, a run stops at the output's end, a literal
  // running past the input fails.
  u8 out[8] = {};
  u32 used = 0;
  const u8 noop[] = {0x80, 0xFE, 5}, longRun[] = {0x81, 9}, shortLiteral[] = {0x05, 1, 2};
  EXPECT_EQ(1, PSD::UnpackMacPack(noop, 3, out, 3, &used));
  EXPECT_EQ(3u, used);
  EXPECT_EQ(5, out[2]);
  EXPECT_EQ(1, PSD::UnpackMacPack(longRun, 2, out, 4, &used));
  EXPECT_EQ(9, out[3]);
  EXPECT_EQ(0, PSD::UnpackMacPack(shortLiteral, 3, out, 6, &used));
  EXPECT_EQ(0, PSD::UnpackMacPack(noop, 1, out, 1, &used));
}

TEST(ImagePSDPackBits, MatchesSlowPackerAndUnpacksBack) {
  std::mt19937 rng(11);
  for (int t = 0; t < 1000; ++t) {
    // Mostly repeats, mostly changes (literals and runs past 128), or mixed.
    const u32 repeat = t % 3 == 0 ? 99 : (t % 3 == 1 ? 1 : 40);
    V row(rng() % 700);
    for (size_t i = 0; i < row.size(); ++i)
      row[i] = i && rng() % 100 < repeat ? row[i - 1] : static_cast<u8>(i ? row[i - 1] + 1 + rng() % 3 : rng());
    V packed = Pack(row);
    ASSERT_EQ(SlowPack(row), packed) << "row " << t;
    V back(row.size() + 1, 0xAA);
    u32 used = 0;
    ASSERT_EQ(1, PSD::UnpackMacPack(packed.data(), static_cast<u32>(packed.size()), back.data(),
                                    static_cast<u32>(row.size()), &used));
    EXPECT_EQ(packed.size(), used);
    EXPECT_EQ(0xAA, back.back());
    back.pop_back();
    EXPECT_EQ(row, back);
  }
}

TEST(ImagePSDWrite, HeaderResourcesAndLayerRecordBytes) {
  klftest::TempDir dir;
  std::mt19937 rng(1);
  PSD::PSDMLWRITE_INITPARAMS doc = Doc(40000, 3, 1);  // beyond 32767: no sign extension
  doc.resolution = 300.5;
  doc.verticalResolution = 72.25;
  const u8 icc[5] = {1, 2, 3, 4, 5};
  doc.iccProfile = icc;
  doc.iccSize = 5;
  std::vector<Layer> layers;
  layers.push_back(RandomLayer(rng, 3, 3, 2, -1, 1, "123456789012345678901234567890123456789012345678901234567890"));
  layers.push_back(RandomLayer(rng, 3, 2, 2, 39998, 0, "Caf\xC3\xA9 \xE9"));
  layers[1].params.visible = 0;
  layers[1].params.opacity = 128;
  V b = WritePsd(dir.File("a.psd"), doc, layers);
  ASSERT_FALSE(b.empty());
  const V header = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0x9C, 0x40, 0, 8, 0, 3, 0, 0, 0, 0};
  EXPECT_EQ(header, V(b.begin(), b.begin() + 30));
  EXPECT_EQ(56u + 5 + 1, Be32(b, 30)) << "odd profile padded to even";
  // Resolution 300.5 across and 72.25 down as 16.16 fixed point, pixels
  // per inch; the global angle; the profile.
  EXPECT_EQ(0x03ED0000u, Be32(b, 38));
  EXPECT_EQ(0x012C8000u, Be32(b, 46));
  EXPECT_EQ(0x00484000u, Be32(b, 54));
  EXPECT_EQ(130u, Be32(b, 34 + 28 + 12));
  EXPECT_EQ(0x040Fu, Be16(b, 34 + 44 + 4));
  EXPECT_EQ(5u, Be32(b, 34 + 44 + 8));
  EXPECT_EQ(0, b[34 + 44 + 12 + 5]) << "pad byte";
  // The reader takes both back, from the layers' parse and the composite's.
  PSD reader;
  for (int layered = 0; layered < 2; ++layered) {
    ASSERT_EQ(1, layered ? reader.LParseByPtr(b.data(), static_cast<u32>(b.size()))
                         : reader.ParseImageByPtr(b.data(), static_cast<u32>(b.size())));
    EXPECT_EQ(std::make_pair(300.5, 72.25), std::make_pair(reader.GetResolution(), reader.GetVerticalResolution()));
    EXPECT_EQ(V(icc, icc + 5), V(reader.GetICCProfile().GetPtr(), reader.GetICCProfile().GetPtr() + 5));
  }

  Walk w = WalkPsd(b);
  ASSERT_EQ(2u, w.layerCount);
  size_t r = w.recordAt[0];
  EXPECT_EQ(V({0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 3, 0, 0, 0, 2, 0, 4}), V(b.begin() + r, b.begin() + r + 18));
  EXPECT_EQ(0xFFFFu, Be16(b, r + 18 + 18)) << "alpha channel id";
  EXPECT_EQ(0, b[r + 42 + 10]) << "visible flags";
  EXPECT_EQ(55, b[r + 42 + 24]) << "Pascal name cut at 55";
  EXPECT_EQ(126u, Be32(b, r + 42 + 24 + 56 + 8)) << "luni length of 60 characters";
  EXPECT_EQ(u32('0'), Be16(b, r + 42 + 24 + 56 + 16 + 2 * 59));
  r = w.recordAt[1];
  EXPECT_EQ(0x80, b[r + 42 + 8]) << "opacity";
  EXPECT_EQ(2, b[r + 42 + 10]) << "hidden";
  // "Café é": UTF-8 decoded, the lone 0xE9 taken as Latin-1 - never sign-extended.
  const size_t luni = r + 42 + 24 + 8 + 12;
  ASSERT_EQ(6u, Be32(b, luni));
  EXPECT_EQ(0xE9u, Be16(b, luni + 4 + 2 * 3));
  EXPECT_EQ(0xE9u, Be16(b, luni + 4 + 2 * 5));
}

TEST(ImagePSDWrite, LayersAndVisibleCompositeInEveryMode) {
  klftest::TempDir dir;
  for (u8 mode : {1, 2, 3}) {
    SCOPED_TRACE(int(mode));
    std::mt19937 rng(mode);
    const u32 colours = Colours(mode);
    PSD::PSDMLWRITE_INITPARAMS doc = Doc(61, 37, mode);
    std::vector<Layer> layers;
    for (int i = 0; i < 6; ++i) {
      u16 w = static_cast<u16>(1 + rng() % 70), h = static_cast<u16>(rng() % 45);
      Layer L = RandomLayer(rng, colours, w, h, static_cast<i16>(int(rng() % 80) - 20),
                            static_cast<i16>(int(rng() % 50) - 10), i == 2 ? "" : "layer");
      L.params.opacity = static_cast<u8>(rng());
      L.params.visible = i != 3;
      layers.push_back(L);
    }
    V b = WritePsd(dir.File("m.psd"), doc, layers);
    ASSERT_FALSE(b.empty());
    WalkPsd(b);
    PSD reader;
    ASSERT_EQ(1, reader.LParseByPtr(b.data(), static_cast<u32>(b.size())));
    ASSERT_EQ(layers.size(), reader.GetLayersCount());
    for (u32 i = 0; i < layers.size(); ++i) {
      const auto& P = layers[i].params;
      PSD::PSDLayerInfoExt_s info{};
      ASSERT_EQ(1, reader.GetLayerInfo(i, info));
      EXPECT_EQ(std::vector<i32>({P.x, P.y, P.width, P.height, P.visible, P.opacity}),
                std::vector<i32>({info.left, info.top, info.width, info.height, info.visible, info.opacity}));
      EXPECT_STREQ(i == 2 ? "background" : "layer", info.name);
      for (u32 k = 0; k <= colours && P.height; ++k) {
        CKLF_Mem* m = info.planes[k == colours ? 0 : k + 1];
        ASSERT_NE(nullptr, m);
        for (u32 y = 0; y < P.height; ++y)
          ASSERT_EQ(0, std::memcmp(m->GetPtr() + y * P.width, &layers[i].planes[k][y * layers[i].stride], P.width));
      }
    }
    PSD flat;
    ASSERT_EQ(1, flat.ParseImageByPtr(b.data(), static_cast<u32>(b.size())));
    EXPECT_EQ(mode, flat.GetImageMode());
    for (u32 c = 0; c < colours; ++c)
      ASSERT_EQ(ReferenceComposite(doc, layers, c), V(flat.GetImageDataPtr(c), flat.GetImageDataPtr(c) + 61 * 37));
    EXPECT_EQ(nullptr, flat.GetImageDataPtr(-1));
  }
}

TEST(ImagePSDWrite, RowsTooWideForPackBitsCountsAreStoredRaw) {
  klftest::TempDir dir;
  std::mt19937 rng(9);
  PSD::PSDMLWRITE_INITPARAMS doc = Doc(65100, 2, 2);
  std::vector<Layer> layers{RandomLayer(rng, 1, 65100, 2, 0, 0, "wide")};
  V b = WritePsd(dir.File("w.psd"), doc, layers);
  ASSERT_FALSE(b.empty());
  // Side by side such a layer streams in its turn.
  ASSERT_EQ(b, WritePsd(dir.File("w.psd"), doc, layers, 3));
  PSD reader;
  ASSERT_EQ(1, reader.LParseByPtr(b.data(), static_cast<u32>(b.size())));
  PSD::PSDLayerInfoExt_s info{};
  ASSERT_EQ(1, reader.GetLayerInfo(0, info));
  EXPECT_EQ(0, std::memcmp(info.planes[1]->GetPtr() + 65100, &layers[0].planes[0][layers[0].stride], 65100));
  ASSERT_EQ(1, reader.ParseImageByPtr(b.data(), static_cast<u32>(b.size())));
  EXPECT_EQ(ReferenceComposite(doc, layers, 0), V(reader.GetImageDataPtr(0), reader.GetImageDataPtr(0) + 2 * 65100));
}

TEST(ImagePSDWrite, RefusalsFailuresAndCancel) {
  klftest::TempDir dir;
  std::mt19937 rng(3);
  PSD psd;
  PSD::PSDMLWRITE_INITPARAMS doc = Doc(8, 8, 1);
  Layer L = RandomLayer(rng, 3, 8, 8, 0, 0, "x");
  u8* planes[5] = {L.planes[0].data(), L.planes[1].data(), L.planes[2].data(), L.planes[3].data()};
  u8* missing[5] = {planes[0], planes[1], planes[2], nullptr};
  EXPECT_EQ(0, psd.Write_AddLayer(&L.params, planes, 8)) << "before Write_Init";
  EXPECT_EQ(0, psd.WritePSD()) << "no file";
  ASSERT_EQ(1, psd.Write_Init(&doc));
  EXPECT_EQ(0, psd.Write_AddLayer(&L.params, missing, 8));
  EXPECT_EQ(0, psd.Write_AddLayer(&L.params, planes, 7)) << "stride below width";
  // The format counts layers in a signed 16-bit field.
  for (u32 i = 0; i < PSD::kMaxLayers; ++i) ASSERT_EQ(1, psd.Write_AddLayer(&L.params, planes, 8));
  EXPECT_EQ(0, psd.Write_AddLayer(&L.params, planes, 8));
  EXPECT_EQ(klErrBadArg, psd.GetError());
  psd.WriteClean();
  EXPECT_EQ(0u, psd.GetLayersToWrite());
  ASSERT_EQ(1, psd.Write_AddLayer(&L.params, planes, 8));

  CKLF_StdFile full("/dev/full", 2);
  ASSERT_EQ(1, psd.Create(full));
  EXPECT_EQ(0, psd.WritePSD());
  EXPECT_NE(0, psd.GetError());

  CKLF_StdFile f(dir.File("c.psd").c_str(), 2);
  ASSERT_EQ(1, psd.Create(f));
  struct CancelAt : CKLF_Progress {
    int calls = 0;
    i32 Progress(u8, void*) override { return ++calls; }
    u8 IsCanceled() override { return calls >= 4; }
  } cancel;
  psd.SetProgress(&cancel);
  EXPECT_EQ(0, psd.WritePSD());
  EXPECT_EQ(0, psd.GetError()) << "a cancel sets no code";
  doc.mode = 4;
  ASSERT_TRUE(psd.Write_Init(&doc));
  psd.SetProgress(nullptr);
  EXPECT_FAILS(psd, psd.WritePSD(), klErrBadArg);
}

// Without layers the file is a flat image: other readers refuse a layer
// info block that counts no layer, so the section is left empty.
TEST(ImagePSDWrite, NoLayersGiveAFlatWhiteFile) {
  klftest::TempDir dir;
  std::vector<Layer> none;
  V b = WritePsd(dir.File("flat.psd"), Doc(3, 2, 1), none);
  ASSERT_FALSE(b.empty());
  EXPECT_EQ(44u, Be32(b, 30)) << "no profile: two resource blocks";
  EXPECT_EQ(0x00480000u, Be32(b, 46)) << "72 dpi";
  EXPECT_EQ(0u, Be32(b, 34 + 44)) << "empty layer and mask section";
  EXPECT_EQ(34u + 44 + 4 + 2 + 2 * 3 * 2 + 3 * 2 * 2, b.size()) << "six rows of one repeat packet";
  EXPECT_EQ(0u, WalkPsd(b).layerCount);
  PSD reader;
  PSD::PSDLayerInfoExt_s info{};
  ASSERT_EQ(1, reader.LParseByPtr(b.data(), static_cast<u32>(b.size())));
  EXPECT_EQ(0, reader.GetLayerInfo(0, info)) << "no layer 0";
  for (i32 c = 0; c < 3; ++c) EXPECT_EQ(V(6, 255), V(reader.GetImageDataPtr(c), reader.GetImageDataPtr(c) + 6));
}

// A layer taken from an image: the image's last plane is the layer's alpha,
// also when the document needs fewer colour planes than the image holds.
TEST(ImagePSDWrite, ImageLayerAlphaIsTheImagesAlphaPlane) {
  klftest::TempDir dir;
  CKLF_Image rgba, rgb;
  ASSERT_EQ(1, rgba.Create(3, 2, 2));
  ASSERT_EQ(1, rgb.Create(3, 2, 1));
  u8* planes[5] = {};
  u32 stride = 0;
  ASSERT_EQ(4, rgba.GetImageChannels(planes, stride));
  for (u32 k = 0; k < 4; ++k)
    for (u32 i = 0; i < 6; ++i) planes[k][i] = static_cast<u8>(k == 3 ? (i % 2) * 255 : 10 * k + i);
  PSD::PSDMLWRITE_LAYERPARAMS lp = {4, 2, 0, 0, 1, 255, {}};
  CKLF_StdFile f(dir.File("i.psd").c_str(), 2);
  PSD psd;
  PSD::PSDMLWRITE_INITPARAMS doc = Doc(3, 2, 2);  // grey
  ASSERT_EQ(1, psd.Create(f));
  ASSERT_EQ(1, psd.Write_Init(&doc));
  EXPECT_EQ(0, psd.Write_AddLayer(&lp, &rgba)) << "larger than the image";
  lp.width = 3;
  EXPECT_EQ(0, psd.Write_AddLayer(&lp, &rgb)) << "no alpha plane";
  EXPECT_EQ(klErrBadArg, psd.GetError());
  ASSERT_EQ(1, psd.Write_AddLayer(&lp, &rgba));
  ASSERT_EQ(1, psd.WritePSD());
  ASSERT_TRUE(f.Close());
  V b = klftest::ReadFileBytes(dir.File("i.psd"));
  PSD reader;
  ASSERT_EQ(1, reader.LParseByPtr(b.data(), static_cast<u32>(b.size())));
  PSD::PSDLayerInfoExt_s info{};
  ASSERT_EQ(1, reader.GetLayerInfo(0, info));
  ASSERT_TRUE(info.planes[0] && info.planes[1]);
  EXPECT_EQ(V(planes[3], planes[3] + 6), V(info.planes[0]->GetPtr(), info.planes[0]->GetPtr() + 6)) << "alpha";
  EXPECT_EQ(V(planes[0], planes[0] + 6), V(info.planes[1]->GetPtr(), info.planes[1]->GetPtr() + 6));
}

// The 16.16 resolution field holds 0 to 65535.99998; other values are held
// to its ends rather than wrapped.
TEST(ImagePSDWrite, ResolutionOutsideItsFieldIsHeldToItsEnds) {
  klftest::TempDir dir;
  const struct {
    f64 dpi;
    u32 fixed;
  } cases[] = {{0.25, 0x00004000u}, {1e9, 0xFFFFFFFFu}, {65536.0, 0xFFFFFFFFu}, {-3, 0}, {std::nan(""), 0}};
  for (const auto& c : cases) {
    PSD::PSDMLWRITE_INITPARAMS doc = Doc(1, 1, 2);
    doc.resolution = c.dpi;
    std::vector<Layer> none;
    V b = WritePsd(dir.File("r.psd"), doc, none);
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(c.fixed, Be32(b, 46)) << c.dpi;
    EXPECT_EQ(c.fixed, Be32(b, 54)) << c.dpi;
  }
}

// Layers packed and composite bands made side by side give the bytes of
// one thread, in every mode; the composite stays the plain one.
TEST(ImagePSDWrite, SideBySideWritesTheBytesOfOneThread) {
  klftest::TempDir dir;
  for (u8 mode : {1, 2, 3}) {
    SCOPED_TRACE(int(mode));
    std::mt19937 rng(40 + mode);
    PSD::PSDMLWRITE_INITPARAMS doc = Doc(173, 211, mode);
    std::vector<Layer> layers;
    for (int i = 0; i < 37; ++i) {
      Layer L = RandomLayer(rng, Colours(mode), static_cast<u16>(1 + rng() % 90), static_cast<u16>(rng() % 120),
                            static_cast<i16>(int(rng() % 200) - 20), static_cast<i16>(int(rng() % 240) - 20), "p");
      L.params.opacity = static_cast<u8>(rng());
      L.params.visible = i % 5 != 0;
      layers.push_back(L);
    }
    const V one = WritePsd(dir.File("s.psd"), doc, layers);
    ASSERT_FALSE(one.empty());
    EXPECT_EQ(one, WritePsd(dir.File("s.psd"), doc, layers, 3));
    EXPECT_EQ(one, WritePsd(dir.File("s.psd"), doc, layers, 0));
    PSD flat;
    ASSERT_EQ(1, flat.ParseImageByPtr(one.data(), static_cast<u32>(one.size())));
    for (u32 c = 0; c < Colours(mode); ++c)
      ASSERT_EQ(ReferenceComposite(doc, layers, c), V(flat.GetImageDataPtr(c), flat.GetImageDataPtr(c) + 173 * 211));
  }
}
