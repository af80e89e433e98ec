#include <gtest/gtest.h>

#include <random>

#include "AlphaChannelsPsd.h"
#include "CKLT_HostDocument.h"
#include "imaging/IccTestUtil.h"
#include "imaging/JpegTestUtil.h"
#include "imaging/PngTestUtil.h"
#include "support/TestSupport.h"

namespace {

typedef std::vector<uint8_t> Bytes;

CKLT_HostDocument::Layer RandomLayer(std::mt19937& rng, int colours, int32_t x, int32_t y, int32_t w, int32_t h,
                                     bool alpha) {
  CKLT_HostDocument::Layer l;
  l.name = "layer " + std::to_string(x);
  l.left = x;
  l.top = y;
  l.width = w;
  l.height = h;
  for (int c = 0; c < colours + alpha; ++c) l.planes.push_back(klftest::RandomBytes(rng, static_cast<size_t>(w) * h));
  if (alpha) {
    l.alpha = l.planes.back();
    l.planes.pop_back();
  }
  return l;
}

CKLT_HostDocument Doc(int16_t mode, int32_t w, int32_t h) {
  CKLT_HostDocument doc;
  doc.mode = mode;
  doc.width = w;
  doc.height = h;
  return doc;
}

CKLT_HostDocument WriteRead(const CKLT_HostDocument& doc, const std::string& path) {
  std::string error;
  EXPECT_TRUE(doc.Write(path, error)) << error;
  CKLT_HostDocument back;
  EXPECT_EQ(back.ReadFile(path, UINT64_MAX, error), CKLT_HostDocument::kOk) << error;
  return back;
}

TEST(HostDocument, LayeredPsdRoundTripInEveryMode) {
  klftest::TempDir dir;
  std::mt19937 rng(9);
  for (int16_t mode : {int16_t(klpModeGray), int16_t(klpModeRGB), int16_t(klpModeCMYK)}) {
    CKLT_HostDocument doc = Doc(mode, 31, 17);
    doc.resolution = 300;
    doc.icc = icctest::Profile("RGB ", static_cast<uint8_t>(mode));
    doc.layers.push_back(RandomLayer(rng, doc.ColourPlanes(), 0, 0, 31, 17, false));
    doc.layers.push_back(RandomLayer(rng, doc.ColourPlanes(), -4, 3, 10, 9, true));
    doc.layers.back().opacity = 128;
    doc.layers.back().visible = false;
    const CKLT_HostDocument back = WriteRead(doc, dir.File("d.psd"));
    EXPECT_EQ(std::make_tuple(back.mode, back.width, back.resolution, back.icc),
              std::make_tuple(mode, 31, 300.0, doc.icc));
    ASSERT_EQ(back.layers.size(), 2u);
    for (int i = 0; i < 2; ++i) {
      const auto &a = back.layers[i], &b = doc.layers[i];
      EXPECT_EQ(std::make_tuple(a.name, a.left, a.top, a.width, a.planes, a.alpha, a.opacity, a.visible),
                std::make_tuple(b.name, b.left, b.top, b.width, b.planes, b.alpha, b.opacity, b.visible))
          << mode << " layer " << i;
    }
  }
}

TEST(HostDocument, PngHasAlphaOnlyWhenSomethingShowsThrough) {
  klftest::TempDir dir;
  std::mt19937 rng(10);
  for (int16_t mode : {int16_t(klpModeGray), int16_t(klpModeRGB)}) {
    for (bool alpha : {false, true}) {
      CKLT_HostDocument doc = Doc(mode, 13, 7);
      doc.resolution = 240;
      doc.layers.push_back(RandomLayer(rng, doc.ColourPlanes(), 0, 0, 13, 7, alpha));
      for (auto& v : doc.layers[0].alpha) v = static_cast<uint8_t>(v | 1);
      const CKLT_HostDocument back = WriteRead(doc, dir.File("d.png"));
      const Bytes file = klftest::ReadFileBytes(dir.File("d.png"));
      EXPECT_EQ(file.at(25), (mode == klpModeRGB ? 2 : 0) + (alpha ? 4 : 0)) << "the colour type";
      EXPECT_EQ(std::make_tuple(back.mode, back.resolution, back.layers.size()),
                std::make_tuple(mode, 240.0, size_t(1)));
      EXPECT_EQ(back.layers[0].alpha, doc.layers[0].alpha);  // empty when opaque
      if (!alpha) {
        EXPECT_EQ(back.layers[0].planes, doc.layers[0].planes);
      }
    }
  }
}

// A PNG carrying a colour profile longer than 8 MiB is read without it,
// with a note; a document of another size than the one asked for is
// refused from its header.
TEST(HostDocument, PngWithALongProfileAndSizeAskedFor) {
  CKLT_HostDocument doc;
  std::string error;
  Bytes profile, file;
  pngtest::Picture(file, PNG_COLOR_TYPE_PALETTE, "iCCP", pngtest::ProfileChunkData(9u << 20, profile), false);
  ASSERT_EQ(doc.Read(file, UINT64_MAX, error), CKLT_HostDocument::kOk) << error;
  EXPECT_EQ(std::make_tuple(doc.width, doc.icc.size(), doc.layers.size()), std::make_tuple(16, size_t(0), size_t(1)));
  EXPECT_EQ(doc.notes, std::vector<std::string>{"its colour profile is larger than 8 MiB and is left out"});

  doc.requiredWidth = 16;
  doc.requiredHeight = 17;
  EXPECT_EQ(doc.Read(file, UINT64_MAX, error), CKLT_HostDocument::kOtherSize);
  EXPECT_EQ(error, "it is 16 x 16 pixels, not 16 x 17");
  EXPECT_TRUE(doc.layers.empty());
}

// A colour profile libpng cannot use is left out with a note saying why;
// a sound one is kept without a note.
TEST(HostDocument, PngProfileLeftOutSaysWhy) {
  auto iccp = [](const Bytes& profile) {
    Bytes data = {'I', 'C', 'C', 0, 0};
    const Bytes z = pngtest::Deflated(profile);
    data.insert(data.end(), z.begin(), z.end());
    return data;
  };
  const Bytes rgb = icctest::Profile("RGB ", 1), grey = icctest::Profile("GRAY", 2);
  Bytes cut = iccp(rgb);
  cut.resize(cut.size() - 20);
  const struct {
    Bytes chunk;
    const char* note;  // null: kept
  } rows[] = {{iccp(rgb), nullptr},
              {iccp(grey),
               "its colour profile cannot be used (iCCP: profile 'ICC': 'GRAY': Gray color space not permitted on "
               "RGB PNG) and is left out"},
              {cut, "its colour profile cannot be used (iCCP: too short) and is left out"},
              {{'I', 'C', 'C', 0, 0, 'n', 'o', 't', ' ', 'z'}, "its colour profile cannot be used (iCCP: too short) and is left out"}};
  for (const auto& row : rows) {
    Bytes file;
    pngtest::Picture(file, PNG_COLOR_TYPE_RGB, "iCCP", row.chunk, false);
    CKLT_HostDocument doc;
    std::string error;
    ASSERT_EQ(doc.Read(file, UINT64_MAX, error), CKLT_HostDocument::kOk) << error;
    EXPECT_EQ(doc.icc, row.note ? Bytes() : rgb);
    EXPECT_EQ(doc.notes, row.note ? std::vector<std::string>{row.note} : std::vector<std::string>());
  }
  // Written: a profile unfit for the PNG (an RGB one on a gray image, as a
  // JPEG may carry it) is left out, said.
  klftest::TempDir dir;
  std::mt19937 rng(13);
  CKLT_HostDocument gray = Doc(klpModeGray, 4, 4);
  gray.layers.push_back(RandomLayer(rng, 1, 0, 0, 4, 4, false));
  gray.icc = rgb;
  std::string error, note;
  ASSERT_TRUE(gray.Write(dir.File("g.png"), error, nullptr, &note)) << error;
  EXPECT_EQ(note, "its colour profile cannot be written to PNG (iCCP: profile 'ICC profile': 'RGB ': RGB color space "
                  "not permitted on grayscale PNG) and is left out");
}

TEST(HostDocument, FlattenConvertAndPutBack) {
  std::mt19937 rng(11);
  CKLT_HostDocument doc = Doc(klpModeRGB, 8, 6);
  doc.layers.push_back(RandomLayer(rng, 3, -2, 1, 5, 3, false));
  std::vector<Bytes> planes;
  Bytes alpha;
  doc.LayerToCanvas(doc.layers[0], planes, alpha);
  EXPECT_TRUE(doc.LayerHasTransparency(doc.layers[0]));
  EXPECT_EQ(Bytes(alpha.begin() + 8, alpha.begin() + 12), (Bytes{255, 255, 255, 0}));
  EXPECT_EQ(planes[1][2 * 8 + 1], doc.layers[0].planes[1][1 * 5 + 3]);

  // Put back, the layer keeps its bounds and its columns off the canvas,
  // and grows to what the canvas shows beyond them.
  const CKLT_HostDocument::Layer before = doc.layers[0];
  alpha[5 * 8 + 7] = 9;
  planes[0][5 * 8 + 7] = 77;
  doc.PutBack(doc.layers[0], planes, alpha);
  const auto& l = doc.layers[0];
  EXPECT_EQ(std::vector<int32_t>({l.left, l.top, l.width, l.height}), std::vector<int32_t>({-2, 1, 10, 5}));
  EXPECT_EQ(l.planes[2][0], before.planes[2][0]);  // off the canvas
  EXPECT_EQ(l.planes[0][4 * 10 + 9], 77);
  EXPECT_EQ(l.alpha[4 * 10 + 9], 9);
  EXPECT_EQ(l.alpha[3 * 10 + 2], 0);

  // An opaque layer over everything hides what lies below; at opacity 0
  // it is not there.
  doc.layers.push_back(RandomLayer(rng, 3, 0, 0, 8, 6, false));
  EXPECT_FALSE(doc.LayerHasTransparency(doc.layers[1]));
  doc.Flatten(planes, alpha);
  EXPECT_EQ(planes[2], doc.layers[1].planes[2]);
  EXPECT_EQ(alpha, Bytes(48, 255));
  doc.layers[1].opacity = 0;
  doc.Flatten(planes, alpha);
  EXPECT_EQ(alpha[0], 0);
  doc.icc = {1, 2, 3};
  ASSERT_TRUE(doc.ConvertTo(klpModeGray));
  EXPECT_EQ(doc.layers[0].planes.size(), 1u);
  EXPECT_TRUE(doc.icc.empty()) << "a profile does not survive a change of mode";
  ASSERT_TRUE(doc.ConvertTo(klpModeCMYK));
  EXPECT_EQ(doc.layers[1].planes.size(), 4u);
  EXPECT_FALSE(doc.ConvertTo(klpModeLab));
}

// A PSD of a depth other than 8 is refused naming its depth, 32 as well
// as 1 and 16; a depth no PSD has is a file that cannot be read.
TEST(HostDocument, PsdOfAnotherDepthIsRefusedNamingIt) {
  for (uint16_t depth : {1, 16, 32, 24}) {
    Bytes file = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 3};
    file[22] = static_cast<uint8_t>(depth >> 8), file[23] = static_cast<uint8_t>(depth);
    file.resize(file.size() + 14 + 3 * 16 * (depth / 8 + 1), 0);  // empty sections, a raw composite
    CKLT_HostDocument doc;
    std::string error;
    EXPECT_EQ(doc.Read(file, UINT64_MAX, error), CKLT_HostDocument::kBadFile) << depth;
    EXPECT_EQ(error, depth == 24 ? "the PSD file is damaged (a depth of 24 bits a sample)"
                                 : "it has " + std::to_string(depth) + " bits a sample; PSD files are read with 8");
  }
}

// What a read cannot take is said with its true cause: a variant named, a
// damaged PSD's reason, alpha channels the budget leaves out and what they
// need, a layer name cut at a zero byte.
TEST(HostDocument, ReadsSayTheTrueCause) {
  std::mt19937 rng(12);
  const Bytes jpeg = jpegtest::Encode(16, 16, JCS_GRAYSCALE, 1, false, rng);
  const auto frame = [&](uint8_t marker, uint8_t precision) {
    Bytes b = jpeg;
    for (size_t i = 2; i + 4 < b.size(); ++i)
      if (b[i] == 0xFF && b[i + 1] == 0xC0) return b[i + 1] = marker, b[i + 4] = precision, b;
    return Bytes();
  };
  const auto layered = [&](const std::string& name) {
    klftest::TempDir dir;
    CKLT_HostDocument doc = Doc(klpModeRGB, 8, 8);
    doc.layers.push_back(RandomLayer(rng, 3, 0, 0, 8, 8, true));
    doc.layers[0].name = name;
    std::string error;
    EXPECT_TRUE(doc.Write(dir.File("d.psd"), error)) << error;
    return klftest::ReadFileBytes(dir.File("d.psd"));
  };
  const auto patched = [](Bytes b, const std::string& text, const std::string& to) {
    const Bytes from(text.begin(), text.end());
    const auto at = std::search(b.begin(), b.end(), from.begin(), from.end());
    if (at != b.end()) std::copy(to.begin(), to.end(), at);
    return b;
  };
  const Bytes psd = layered("abXcd"), alpha = alphapsd::AlphaChannelsPsd();
  CKLT_HostDocument whole;
  std::string error;
  ASSERT_EQ(whole.Read(alpha, UINT64_MAX, error), CKLT_HostDocument::kOk) << error;
  const struct {
    Bytes file;
    uint64_t budget;
    CKLT_HostDocument::Status status;
    const char* says;  // in the error, else in the notes
  } rows[] = {
      {frame(0xC3, 8), UINT64_MAX, CKLT_HostDocument::kBadFile,
       "the JPEG file uses a variant this program cannot read: lossless coding (SOF3) (it reads baseline and "
       "progressive files of 8 bits a sample)"},
      {frame(0xC0, 12), UINT64_MAX, CKLT_HostDocument::kBadFile, "cannot read: 12 bits a sample"},
      {Bytes(psd.begin(), psd.begin() + psd.size() / 2), UINT64_MAX, CKLT_HostDocument::kBadFile,
       "the PSD file is damaged (the file ends inside its layer and mask section)"},
      {patched(psd, "norm", "mul "), UINT64_MAX, CKLT_HostDocument::kBadFile,
       "the PSD file uses a variant this program cannot read: a layer of blend mode 'mul ' (normal is read)"},
      {patched(psd, "abXcd", std::string("ab\0cd", 5)), UINT64_MAX, CKLT_HostDocument::kOk,
       "the name of layer 0 holds a zero byte after \"ab\", so it is not UTF-8 text (UTF-16, perhaps): it is read "
       "up to there"},
      {alpha, whole.runBytes - 7200, CKLT_HostDocument::kOk,
       "its alpha channels are left out for the memory budget: with them the run would need about 245 KiB, more "
       "than the budget of 238 KiB (see --memory-budget)"},
      {Bytes(alpha.begin(), alpha.end() - 100), UINT64_MAX, CKLT_HostDocument::kOk,
       "its alpha channels cannot be read (its image data is shorter than its size needs); it is read without them"},
      {patched(psd, "8BIM\x03\xED", "8BIX"), UINT64_MAX, CKLT_HostDocument::kOk,
       "its image resources are damaged: those from the damage on (a resolution, a colour profile, alpha channel "
       "names) are not read"},
      {jpegtest::WithSegments(jpeg, 0xE2, 1, jpegtest::IccPart(1, 2, Bytes(20, 7))), UINT64_MAX,
       CKLT_HostDocument::kOk, "its colour profile is incomplete (a part missing, twice or numbered past the count)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.says);
    CKLT_HostDocument doc;
    doc.ownBytes = 0;
    ASSERT_EQ(doc.Read(row.file, row.budget, error), row.status) << error;
    std::string said = row.status == CKLT_HostDocument::kOk ? "" : error;
    for (const std::string& note : doc.notes) said += note + "\n";
    EXPECT_NE(said.find(row.says), std::string::npos) << said;
  }
}

}  // namespace
