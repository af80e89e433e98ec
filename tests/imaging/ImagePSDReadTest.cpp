#include <gtest/gtest.h>

#include "PsdTestUtil.h"

using PSD = CKLF_ImagePSD;

namespace {

// Big-endian byte building for hand-made files.
struct Bytes {
  std::vector<u8> b;
  Bytes& s(const char* t) { return raw(std::vector<u8>(t, t + std::strlen(t))); }
  Bytes& u8_(u32 v) { return raw({static_cast<u8>(v)}); }
  Bytes& u16_(u32 v) { return raw({static_cast<u8>(v >> 8), static_cast<u8>(v)}); }
  Bytes& u32_(u32 v) { return u16_(v >> 16).u16_(v); }
  Bytes& raw(const std::vector<u8>& v) {
    b.insert(b.end(), v.begin(), v.end());
    return *this;
  }
};

Bytes Header(u32 channels, u32 h, u32 w, u32 depth, u32 mode) {
  Bytes x;
  x.s("8BPS").u16_(1).u32_(0).u16_(0).u16_(channels).u32_(h).u32_(w).u16_(depth).u16_(mode);
  return x;
}

// A grey 2 x 2 file: no resources; the given layer section; raw composite.
std::vector<u8> GreyFile(const std::vector<u8>& section) {
  Bytes x = Header(1, 2, 2, 8, 1);
  x.u32_(0).u32_(0).u32_(static_cast<u32>(section.size())).raw(section);
  x.u16_(0).raw({10, 20, 30, 40});
  return x.b;
}

struct LayerDesc {
  i32 top = 0, left = 0, bottom = 2, right = 2;
  const char* blend = "norm";
  u8 flags = 0;
  const char* name = "L";
  std::vector<std::pair<i32, std::vector<u8>>> channels;  // id, data (compression included)
  std::vector<u8> tail;  // additional information blocks
};

std::vector<u8> LayerSection(const std::vector<LayerDesc>& layers, i32 count) {
  Bytes info;
  info.u16_(static_cast<u32>(count));
  for (const LayerDesc& L : layers) {
    info.u32_(L.top).u32_(L.left).u32_(L.bottom).u32_(L.right).u16_(static_cast<u32>(L.channels.size()));
    for (auto& [id, data] : L.channels) info.u16_(static_cast<u32>(id)).u32_(static_cast<u32>(data.size()));
    info.s("8BIM").s(L.blend).u8_(200).u8_(0).u8_(L.flags).u8_(0);
    u32 n = static_cast<u32>(std::strlen(L.name));
    u32 field = (n + 1 + 3) / 4 * 4;
    info.u32_(8 + field + static_cast<u32>(L.tail.size())).u32_(0).u32_(0).u8_(n).s(L.name);
    for (u32 i = n + 1; i < field; ++i) info.u8_(0);
    info.raw(L.tail);
  }
  for (const LayerDesc& L : layers)
    for (auto& ch : L.channels) info.raw(ch.second);
  if (info.b.size() & 1) info.u8_(0);
  Bytes sec;
  sec.u32_(static_cast<u32>(info.b.size())).raw(info.b).u32_(0);
  return sec.b;
}

std::vector<u8> Lsct(u32 type) {
  Bytes x;
  x.s("8BIMlsct").u32_(4).u32_(type);
  return x.b;
}

const std::vector<u8> kRaw4 = {0, 0, 1, 2, 3, 4};  // raw 2 x 2

}  // namespace

TEST(ImagePSDRead, HeaderVariants) {
  PSD psd;
  std::vector<u8> flat = GreyFile({});
  ASSERT_EQ(1, psd.GetImageInfoByPtr(flat.data(), 26));
  u16 w = 0, h = 0;
  ASSERT_TRUE(psd.GetMainImageSize(w, h));
  EXPECT_EQ(2, w);
  EXPECT_EQ(2, h);
  EXPECT_EQ(2, psd.GetImageMode());
  ASSERT_EQ(1, psd.ParseImageByPtr(flat.data(), static_cast<u32>(flat.size())));
  EXPECT_EQ(0, psd.GetResolution()) << "no resources: none said";
  EXPECT_EQ(0u, psd.GetICCProfile().GetSize());
  EXPECT_FAILS(psd, psd.GetImageInfoByPtr(flat.data(), 25), klErrNotFormat);

  struct Case {
    u32 channels, h, w, depth, mode;
    u16 info, parse;
  } cases[] = {
      {3, 2, 2, 16, 3, 0, klErrUnsupported},          // 16-bit: header fine, parses refuse
      {1, 2, 2, 8, 2, klErrUnsupported, 0},           // indexed colour
      {1, 2, 2, 32, 1, klErrNotFormat, 0},            // depth
      {1, 2, 0x10000, 8, 1, klErrUnsupported, 0},     // beyond 16 bits, not cut to 0
      {1, 0, 2, 8, 1, klErrNotFormat, 0},             // empty
  };
  for (const Case& c : cases) {
    Bytes x = Header(c.channels, c.h, c.w, c.depth, c.mode);
    x.u32_(0).u32_(0).u32_(0).u16_(0);
    EXPECT_EQ(c.info ? 0 : 1, psd.GetImageInfoByPtr(x.b.data(), static_cast<u32>(x.b.size())));
    EXPECT_EQ(c.info, psd.GetError());
    if (c.info) continue;
    EXPECT_EQ(16, psd.GetImageBPP());
    EXPECT_EQ(0, psd.ParseImageByPtr(x.b.data(), static_cast<u32>(x.b.size())));
    EXPECT_EQ(c.parse, psd.GetError());
    EXPECT_EQ(0, psd.LParseByPtr(x.b.data(), static_cast<u32>(x.b.size())));
    EXPECT_EQ(c.parse, psd.GetError());
  }
}

TEST(ImagePSDRead, LayerFlagsNamesGroupsAndChannels) {
  LayerDesc open, plain, end;
  open.name = "group";
  open.blend = "pass";  // groups blend by passing through
  open.tail = Lsct(1);
  open.channels = {{-1, {0, 0}}};
  plain.name = "";
  plain.flags = 2;
  plain.top = -3;
  plain.left = 5;
  plain.bottom = -1;
  plain.right = 7;
  plain.channels = {{-2, {1, 2, 3}}, {0, kRaw4}, {-1, {0, 1, 0, 2, 0, 2, 0xFF, 9, 0x81, 9}}};
  end.tail = Lsct(3);
  end.channels = {{0, {0, 0}}};
  std::vector<u8> file = GreyFile(LayerSection({open, plain, end}, -3));
  PSD psd;
  // The records alone give the same layers with no plane yet, and say
  // which planes a whole parse decodes: the plain layer's grey and alpha.
  ASSERT_EQ(1, psd.LParseRecordsByPtr(file.data(), static_cast<u32>(file.size())));
  ASSERT_EQ(3u, psd.GetLayersCount());
  for (u32 i = 0; i < 3; ++i) {
    PSD::PSDLayerInfoExt_s r{};
    ASSERT_TRUE(psd.GetLayerInfo(i, r));
    EXPECT_EQ(2, r.width) << i;
    EXPECT_EQ(std::vector<CKLF_Mem*>(5, nullptr), std::vector<CKLF_Mem*>(r.planes, r.planes + 5)) << i;
    EXPECT_EQ(i == 1 ? 3 : 0, psd.GetLayerPlaneMask(i)) << i;
  }
  ASSERT_EQ(1, psd.LParseByPtr(file.data(), static_cast<u32>(file.size())));
  ASSERT_EQ(3u, psd.GetLayersCount());
  EXPECT_EQ(3, psd.GetLayerPlaneMask(1));
  PSD::PSDLayerInfoExt_s a{}, b{}, c{};
  ASSERT_TRUE(psd.GetLayerInfo(0, a));
  ASSERT_TRUE(psd.GetLayerInfo(1, b));
  ASSERT_TRUE(psd.GetLayerInfo(2, c));
  EXPECT_STREQ("group", a.name);
  EXPECT_EQ(1, a.groupOpen);
  EXPECT_EQ(nullptr, a.planes[0]) << "a 2-byte channel is empty";
  EXPECT_STREQ("background", b.name);
  EXPECT_EQ(std::vector<i32>({0, 200, 5, -3, 2, 3}), std::vector<i32>({b.visible, b.opacity, b.left, b.top, b.width, b.channels}));
  ASSERT_TRUE(b.planes[0] && b.planes[1]);
  EXPECT_EQ(4, b.planes[1]->GetPtr()[3]);
  EXPECT_EQ(9, b.planes[0]->GetPtr()[2]);
  EXPECT_EQ(std::vector<int>({1, 0, 1}), std::vector<int>({c.groupEnd, c.groupOpen, c.visible}));
}

TEST(ImagePSDRead, MalformedLayersFailCleanly) {
  struct Case {
    const char* what;
    LayerDesc layer;
    i32 count;
    u16 error;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, u16 error, auto edit) {
    LayerDesc L;
    L.channels = {{0, kRaw4}};
    edit(L);
    cases.push_back({what, L, 1, error});
  };
  // Negative heights and areas beyond 32 bits are among the crashers.
  add("blend mode", klErrUnsupported, [](LayerDesc& L) { L.blend = "mul "; });
  add("pass-through outside a group", klErrUnsupported, [](LayerDesc& L) { L.blend = "pass"; });
  add("divider type", klErrUnsupported, [](LayerDesc& L) { L.tail = Lsct(7); });
  add("short divider", klErrNotFormat, [](LayerDesc& L) { L.tail = {'8', 'B', 'I', 'M', 'l', 's', 'c', 't', 0, 0, 0, 0}; });
  add("compression", klErrUnsupported, [](LayerDesc& L) { L.channels = {{0, {0, 2, 1, 2}}}; });
  add("raw size", klErrNotFormat, [](LayerDesc& L) { L.channels = {{0, {0, 0, 1, 2, 3}}}; });
  add("channel below 2 bytes", klErrNotFormat, [](LayerDesc& L) { L.channels = {{0, {0}}}; });
  add("negative width", klErrNotFormat, [](LayerDesc& L) { L.left = 0x7FFFFFF0; L.right = -0x7FFFFFF0; });
  add("packed data too short for its rows", klErrNotFormat,
      [](LayerDesc& L) { L.right = 4000; L.bottom = 4000; L.channels = {{0, {0, 1, 0, 0}}}; });
  add("too many channels", klErrUnsupported,
      [](LayerDesc& L) { L.channels.assign(101, {-2, {0, 0}}); });
  LayerDesc ok;
  ok.channels = {{0, kRaw4}};
  cases.push_back({"count beyond the records", ok, 200, klErrNotFormat});
  for (const Case& c : cases) {
    std::vector<u8> file = GreyFile(LayerSection({c.layer}, c.count));
    // The records alone are refused as the whole parse is.
    for (auto parse : {&PSD::LParseByPtr, &PSD::LParseRecordsByPtr}) {
      PSD psd;
      EXPECT_EQ(0, (psd.*parse)(file.data(), static_cast<u32>(file.size()))) << c.what;
      EXPECT_EQ(c.error, psd.GetError()) << c.what;
      // Only ZIP data (compression 2) is told apart, so a host can say why.
      EXPECT_EQ(std::string(c.what) == "compression", psd.LayersZipCompressed() == 1) << c.what;
    }
  }
  std::vector<u8> file = GreyFile(LayerSection({ok}, 1));
  file[29] = 1;  // colour mode data
  PSD psd;
  EXPECT_FAILS(psd, psd.LParseByPtr(file.data(), static_cast<u32>(file.size())), klErrUnsupported);
}

TEST(ImagePSDRead, EveryTruncationOfAWrittenFileFailsCleanly) {
  klftest::TempDir dir;
  std::mt19937 rng(4);
  PSD::PSDMLWRITE_INITPARAMS doc{};
  doc.width = 9;
  doc.height = 7;
  doc.mode = 1;
  doc.resolution = 72;
  std::vector<psdtest::Layer> layers{psdtest::RandomLayer(rng, 3, 5, 4, 1, 2, "a"),
                                     psdtest::RandomLayer(rng, 3, 9, 7, 0, 0, "b")};
  std::vector<u8> b = psdtest::WritePsd(dir.File("t.psd"), doc, layers);
  ASSERT_FALSE(b.empty());
  // The layers are read once the composite has the bytes its size needs
  // at the least: compression, row counts, two bytes a packed row.
  const size_t layersNeed = psdtest::WalkPsd(b).compositeAt + 2 + 3 * 7 * 2 + 3 * 7 * 2;
  PSD psd;
  for (size_t n = 0; n < b.size(); ++n) {
    std::vector<u8> cut(b.begin(), b.begin() + n);  // exact size, so overreads show
    EXPECT_EQ(0, psd.ParseImageByPtr(cut.data(), static_cast<u32>(n))) << n;
    EXPECT_NE(0, psd.GetError()) << n;
    EXPECT_EQ(n >= layersNeed ? 1 : 0, psd.LParseByPtr(cut.data(), static_cast<u32>(n))) << n;
  }
  // Through a file, as a caller would.
  CKLF_StdFile f(dir.File("t.psd").c_str(), 1);
  ASSERT_EQ(1, psd.LParseByFile(f));
  EXPECT_EQ(2u, psd.GetLayersCount());
  psd.Clean();
  EXPECT_EQ(0u, psd.GetLayersCount());
}

// Alpha channels follow the composite's colours, after the merged
// transparency when the layer count is negative, named by resource 1006
// ("Alpha n" past its names); raw and PackBits data.
TEST(ImagePSDRead, AlphaChannelsOfTheComposite) {
  for (int packed = 0; packed < 2; ++packed)
    for (int merged = 0; merged < 2; ++merged) {
      SCOPED_TRACE(testing::Message() << "packed " << packed << " merged " << merged);
      // Grey 2 x 2: grey, [transparency,] two alpha channels; one name given.
      const std::vector<std::vector<u8>> planes = {{10, 20, 30, 40}, {255, 0, 255, 0}, {1, 2, 3, 4}, {9, 9, 9, 9}};
      const u32 channels = merged ? 4 : 3;
      Bytes x = Header(channels, 2, 2, 8, 1);
      Bytes res;
      res.s("8BIM").u16_(1006).u16_(0).u32_(6).u8_(5).s("Masks");
      x.u32_(0).u32_(static_cast<u32>(res.b.size())).raw(res.b);
      Bytes sec;
      if (merged) {
        LayerDesc L;
        L.channels = {{0, kRaw4}};
        const std::vector<u8> layers = LayerSection({L}, -1);
        sec.u32_(static_cast<u32>(layers.size())).raw(layers);
      } else {
        sec.u32_(0);
      }
      x.raw(sec.b).u16_(packed);
      std::vector<std::vector<u8>> stored;
      for (u32 k = 0; k < channels; ++k) stored.push_back(planes[k == 0 || merged ? k : k + 1]);
      if (packed) {
        for (u32 k = 0; k < channels; ++k) x.u16_(3).u16_(3);  // every row: a 2-byte literal packet
        for (auto& p : stored) x.raw({1, p[0], p[1], 1, p[2], p[3]});
      } else {
        for (auto& p : stored) x.raw(p);
      }
      PSD psd;
      ASSERT_EQ(psd.ParseAlphaChannelsByPtr(x.b.data(), static_cast<u32>(x.b.size())), 1);
      ASSERT_EQ(psd.GetAlphaChannelCount(), 2u);
      EXPECT_STREQ(psd.GetAlphaChannelName(0), "Masks");
      EXPECT_STREQ(psd.GetAlphaChannelName(1), "Alpha 2");
      EXPECT_EQ(std::vector<u8>(psd.GetAlphaChannel(0), psd.GetAlphaChannel(0) + 4), planes[2]);
      EXPECT_EQ(std::vector<u8>(psd.GetAlphaChannel(1), psd.GetAlphaChannel(1) + 4), planes[3]);
      EXPECT_EQ(psd.GetAlphaChannel(2), nullptr);
      // Cut anywhere in the channels: refused, nothing kept.
      for (size_t cut = x.b.size() - 1; cut > x.b.size() - 8; --cut) {
        PSD shortFile;
        EXPECT_EQ(shortFile.ParseAlphaChannelsByPtr(x.b.data(), static_cast<u32>(cut)), 0);
        EXPECT_EQ(shortFile.GetAlphaChannelCount(), 0u);
      }
    }
  // A file written by the writer has none.
  std::vector<u8> flat = GreyFile(std::vector<u8>(4, 0));
  PSD psd;
  ASSERT_EQ(psd.ParseAlphaChannelsByPtr(flat.data(), static_cast<u32>(flat.size())), 1);
  EXPECT_EQ(psd.GetAlphaChannelCount(), 0u);
}

// The alpha channels are allocated only once the data holds every channel
// the header declares: a header claiming thousands of channels over a
// composite of one is refused as damaged, whatever the channels would take.
TEST(ImagePSDRead, AlphaChannelsTheDataCannotHoldAreRefusedFirst) {
  for (u32 channels : {65535u, 1000u, 2u}) {
    SCOPED_TRACE(channels);
    Bytes x = Header(channels, 300, 300, 8, 1);
    x.u32_(0).u32_(0).u32_(0).u16_(0).raw(std::vector<u8>(300 * 300, 7));
    PSD psd;
    EXPECT_FAILS(psd, psd.ParseAlphaChannelsByPtr(x.b.data(), static_cast<u32>(x.b.size())), klErrNotFormat);
    EXPECT_EQ(psd.GetAlphaChannelCount(), 0u);
    if (channels > 2) continue;
    // The alpha channel short by a byte, then whole.
    x.raw(std::vector<u8>(300 * 300 - 1, 9));
    EXPECT_FAILS(psd, psd.ParseAlphaChannelsByPtr(x.b.data(), static_cast<u32>(x.b.size())), klErrNotFormat);
    x.u8_(9);
    ASSERT_EQ(psd.ParseAlphaChannelsByPtr(x.b.data(), static_cast<u32>(x.b.size())), 1);
    EXPECT_EQ(psd.GetAlphaChannel(0)[300 * 300 - 1], 9);
  }
}

// Resource 1006 may list any number of names: no more are read than the
// header has channels, so 400000 of them cost no more than a few.
TEST(ImagePSDRead, AlphaChannelNamesBeyondTheChannelsAreNotRead) {
  Bytes names;
  names.u8_(5).s("Masks");
  for (u32 i = 1; i < 400000; ++i) names.u8_(5).s("Extra");
  Bytes res;
  res.s("8BIM").u16_(1006).u16_(0).u32_(static_cast<u32>(names.b.size())).raw(names.b);
  Bytes x = Header(2, 2, 2, 8, 1);
  x.u32_(0).u32_(static_cast<u32>(res.b.size())).raw(res.b).u32_(0).u16_(0).raw({1, 2, 3, 4, 5, 6, 7, 8});
  PSD psd;
  ASSERT_EQ(psd.ParseAlphaChannelsByPtr(x.b.data(), static_cast<u32>(x.b.size())), 1);
  ASSERT_EQ(psd.GetAlphaChannelCount(), 1u);
  EXPECT_STREQ(psd.GetAlphaChannelName(0), "Masks");
  EXPECT_EQ(std::vector<u8>(psd.GetAlphaChannel(0), psd.GetAlphaChannel(0) + 4), (std::vector<u8>{5, 6, 7, 8}));
  ASSERT_EQ(psd.ParseImageByPtr(x.b.data(), static_cast<u32>(x.b.size())), 1);
  EXPECT_EQ(psd.GetImageDataPtr(0)[3], 4);
}
