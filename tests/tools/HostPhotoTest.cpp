// The host program on photographs: JPEG input in every colour space, what
// the input carries (resolution, profile, layers and their bounds) kept in
// the output, the layer a host filters, the default grid of the filtered
// area, and a note whenever something is changed or cannot be kept.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "CKLF_ImageJPEG.h"
#include "CKLF_ImagePNG.h"
#include "CKLT_HostRunner.h"
#include "CLayoutModel.h"
#include "CSettingsBlock.h"
#include "ProgramRun.h"
#include "imaging/IccTestUtil.h"
#include "imaging/JpegTestUtil.h"
#include "imaging/PngTestUtil.h"
#include "support/TestSupport.h"

namespace {

using namespace hostprogram;
typedef std::vector<uint8_t> Bytes;

const std::string kTestPlugin = std::string("--plugin ") + KLF_TEST_PLUGIN_LIBRARY + " -q ";

TEST(HostPhotos, JpegInEveryModeKeepsResolutionAndProfile) {
  klftest::TempDir dir;
  std::mt19937 rng(21);
  const struct {
    J_COLOR_SPACE space;
    int components;
    const char* profile;
    bool progressive;
    const char* ext;
    int16_t mode;
  } rows[] = {{JCS_GRAYSCALE, 1, "GRAY", false, ".png", klpModeGray},
              {JCS_RGB, 3, "RGB ", false, ".png", klpModeRGB},
              {JCS_RGB, 3, "RGB ", true, ".psd", klpModeRGB},
              {JCS_CMYK, 4, "CMYK", false, ".psd", klpModeCMYK}};  // Adobe's CMYK: no JFIF density
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.profile) + row.ext);
    const Bytes icc = icctest::Profile(row.profile, static_cast<uint8_t>(row.components));
    const Bytes jpeg = jpegtest::Encode(48, 32, row.space, row.components, row.progressive, rng, 1, 300, icc);
    klftest::WriteFileBytes(dir.File("in.jpg"), jpeg);
    CKLF_ImageJPEG decoded;
    ASSERT_TRUE(decoded.ParseImageByPtr(jpeg.data(), static_cast<u32>(jpeg.size())));
    const std::string out = dir.File(std::string("out") + row.ext);
    Outcome o = RunProgram(kTestPlugin + dir.File("in.jpg") + " -o " + out);
    ASSERT_EQ(o.code, 0) << o.out;
    const CKLT_HostDocument back = Read(out);
    EXPECT_EQ(std::make_tuple(back.mode, back.resolution, back.icc),
              std::make_tuple(row.mode, row.space == JCS_CMYK ? 72.0 : 300.0, icc));
    for (int c = 0; c < row.components; ++c) {
      Bytes expect(decoded.GetImageDataPtr(c), decoded.GetImageDataPtr(c) + 48 * 32);
      for (uint8_t& v : expect) v ^= 255;  // what the test plug-in does
      EXPECT_EQ(back.layers.at(0).planes.at(c), expect) << c;
    }
    if (row.ext[2] == 'n') {
      EXPECT_EQ(klftest::ReadFileBytes(out).at(25), row.mode == klpModeRGB ? 2 : 0) << "no alpha added";
    }
  }
}

TEST(HostPhotos, DamagedJpegIsRefusedWithTheDecodersReason) {
  klftest::TempDir dir;
  std::mt19937 rng(23);
  const Bytes jpeg = jpegtest::Encode(64, 48, JCS_RGB, 3, false, rng);
  Bytes ended(jpeg.begin(), jpeg.begin() + jpeg.size() * 3 / 4);  // a marker where data should go on
  ended.insert(ended.end(), {0xFF, 0xD9});
  const struct {
    Bytes bytes;
    const char* says;
  } rows[] = {
      {Bytes(jpeg.begin(), jpeg.begin() + jpeg.size() / 2), "damaged (Premature end of JPEG file)"},
      {ended, "damaged (Corrupt JPEG data"},
      {Bytes(jpeg.begin(), jpeg.begin() + 400), "the JPEG file is damaged ("},  // cut inside its tables
      {jpegtest::RepeatedScans(16, 16, 501), "the JPEG file is damaged (More than 500 scans)"},
  };
  for (const auto& row : rows) {
    klftest::WriteFileBytes(dir.File("in.jpg"), row.bytes);
    Outcome o = RunProgram(kTestPlugin + dir.File("in.jpg") + " -o " + dir.File("out.png"));
    EXPECT_EQ(o.code, CKLT_HostRunner::kExitFiles) << o.out;
    EXPECT_TRUE(Has(o, row.says)) << o.out;
    EXPECT_FALSE(Has(o, "unsupported")) << o.out;
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.png")));
  }
}

// Files other readers read, read as libjpeg decodes their samples: CMYK
// without Adobe's marker as with it, and arithmetic coding, in which a flat
// picture takes a few bytes for all its blocks.
TEST(HostPhotos, UnusualValidJpegsReadAsLibjpegDecodesThem) {
  klftest::TempDir dir;
  const auto encode = [](uint32_t w, uint32_t h, J_COLOR_SPACE space, int n, bool progressive, int flat,
                         const std::function<void(jpeg_compress_struct&)>& tweak) {
    std::mt19937 rng(29);  // the same samples for the same size
    return jpegtest::Encode(w, h, space, n, progressive, rng, 0, 1, {}, flat, nullptr, 0, tweak);
  };
  const auto arithmetic = [](jpeg_compress_struct& c) { c.arith_code = TRUE; };
  const Bytes adobe = encode(37, 29, JCS_CMYK, 4, false, -1, nullptr);
  const Bytes plain = encode(37, 29, JCS_CMYK, 4, false, -1, [](jpeg_compress_struct& c) { c.write_Adobe_marker = FALSE; });
  const Bytes rows[] = {plain, adobe, encode(2000, 2000, JCS_GRAYSCALE, 1, false, 128, arithmetic),
                        encode(64, 48, JCS_RGB, 3, false, -1, arithmetic), encode(64, 48, JCS_RGB, 3, true, -1, arithmetic)};
  ASSERT_EQ(jpegtest::Reference(plain).pixels, jpegtest::Reference(adobe).pixels);
  ASSERT_LT(rows[2].size(), 200u);
  for (const Bytes& file : rows) {
    const jpegtest::Decoded ref = jpegtest::Reference(file);
    klftest::WriteFileBytes(dir.File("in.jpg"), file);
    const CKLT_HostDocument doc = Read(dir.File("in.jpg"));
    ASSERT_EQ(doc.layers.size(), 1u) << file.size();
    ASSERT_EQ(doc.layers[0].planes.size(), ref.n) << file.size();
    for (uint32_t c = 0; c < ref.n; ++c) EXPECT_EQ(doc.layers[0].planes[c], jpegtest::Plane(ref, c)) << file.size();
  }
}

// Pixels a metre are whole numbers: a PNG's are written back as they were,
// and a resolution in dots per inch is rounded to the nearest (72 dpi is
// 2834.6 pixels a metre).
TEST(HostPhotos, PngOutputKeepsThePixelsAMetre) {
  klftest::TempDir dir;
  std::mt19937 rng(25);
  const std::string in = dir.File("in.png"), out = dir.File("out.png");
  const auto perMetre = [](const std::string& path) {
    const Bytes b = klftest::ReadFileBytes(path);
    CKLF_ImagePNG png;
    EXPECT_TRUE(png.GetImageInfoByPtr(b.data(), static_cast<u32>(b.size())));
    return png.GetPixelsPerMetre();
  };
  CKLT_HostDocument doc = OneLayer(klpModeRGB, 8, 8, [&](int, int32_t) { return static_cast<uint8_t>(rng()); });
  for (uint32_t ppm : {3780u, 2834u, 2835u, 11811u, 1u}) {
    doc.pixelsPerMetre = ppm;
    Write(doc, in);
    ASSERT_EQ(perMetre(in), ppm);
    const Outcome o = RunProgram(kTestPlugin + in + " -o " + out);
    ASSERT_EQ(o.code, 0) << o.out;
    EXPECT_EQ(perMetre(out), ppm);
  }
  // --dpi sets another resolution: rounded.
  ASSERT_EQ(RunProgram(kTestPlugin + "--dpi 72 " + in + " -o " + out).code, 0);
  EXPECT_EQ(perMetre(out), 2835u);
  for (const auto& row : {std::make_pair(72, 2835u), std::make_pair(300, 11811u), std::make_pair(96, 3780u)}) {
    SCOPED_TRACE(row.first);
    klftest::WriteFileBytes(dir.File("in.jpg"), jpegtest::Encode(8, 8, JCS_RGB, 3, false, rng, 1, row.first));
    ASSERT_EQ(RunProgram(kTestPlugin + dir.File("in.jpg") + " -o " + out).code, 0);
    EXPECT_EQ(perMetre(out), row.second);
  }
}

// The resolution a JPEG's EXIF block gives, across and down, when its JFIF
// gives none. A damaged block (or eXIf chunk) is left out with a note, the
// picture read as stored.
TEST(HostPhotos, ExifResolutionIsReadAndADamagedBlockIsLeftOut) {
  klftest::TempDir dir;
  std::mt19937 rng(24);
  const Bytes noDensity = jpegtest::Encode(16, 16, JCS_GRAYSCALE, 1, false, rng);  // JFIF aspect ratio only
  const Bytes density = jpegtest::Encode(16, 16, JCS_GRAYSCALE, 1, false, rng, 1, 150);
  CKLT_HostDocument picture = OneLayer(klpModeGray, 16, 16, [](int, int32_t i) { return uint8_t(i); });
  picture.resolution = 300, picture.verticalResolution = 100;
  Write(picture, dir.File("p.png"));
  const Bytes png = klftest::ReadFileBytes(dir.File("p.png")), six = jpegtest::ExifOrientation(6, 300, 100, true);
  const auto exif = [&](const Bytes& block) { return pngtest::Inserted(png, "IDAT", "eXIf", block); };
  Bytes crc = exif(six), outside = six;
  crc[std::search(crc.begin(), crc.end(), six.begin(), six.end()) - crc.begin() + six.size()] ^= 1;  // its CRC
  outside[8 + 2 + 12 + 8] = 0x7F;  // XResolution's value far past the block
  const std::string kLeftOut = ") and is left out, with any orientation it gives";
  const struct {
    Bytes file;
    double dpi, down = 0;  // 0: as dpi
    std::string note = "";
  } rows[] = {
      {jpegtest::WithExif(noDensity, jpegtest::ExifResolution(true, 300, 1, 2)), 300},     // a camera's, inches
      {jpegtest::WithExif(noDensity, jpegtest::ExifResolution(false, 240, 2, 0)), 120},    // no unit: inches
      {jpegtest::WithExif(noDensity, jpegtest::ExifResolution(false, 100, 1, 3)), 254},    // centimetres
      {jpegtest::WithExif(noDensity, jpegtest::ExifResolution(true, 300, 1, 1)), 72},      // no absolute unit
      {jpegtest::WithExif(noDensity, jpegtest::ExifResolution(true, 300, 0, 2)), 72},      // no value
      {jpegtest::WithExif(density, jpegtest::ExifResolution(true, 300, 1, 2)), 150},       // JFIF's own first
      {jpegtest::WithExif(noDensity, jpegtest::ExifOrientation(1, 300, 100)), 300, 100},  // two resolutions
      {jpegtest::Encode(16, 16, JCS_GRAYSCALE, 1, false, rng, 1, 150, {}, -1, nullptr, 0,
                        [](jpeg_compress_struct& c) { c.Y_density = 75; }),
       150, 75},
      {jpegtest::WithExif(noDensity, Bytes{'I', 'I', 42, 0, 200, 0, 0, 0}), 72, 0,  // a broken block
       "(its first directory lies outside it) and is left out, with any orientation or resolution it gives"},
      {jpegtest::WithExif(noDensity, outside), 72, 0, "(a value lies outside it) and is left out"},
      // A PNG's resolution is its pHYs: its eXIf's is not read.
      {exif(outside), 100, 300, "turned a quarter clockwise"},
      {exif(Bytes{'X', 'X', 42, 0, 8, 0, 0, 0}), 300, 100, "(no byte-order mark" + kLeftOut},
      {exif(Bytes{'M', 'M', 0, 42, 0, 0, 1, 0}), 300, 100, "(its first directory lies outside it" + kLeftOut},
      {exif(Bytes(six.begin(), six.begin() + 30)), 300, 100, "(its first directory is cut short" + kLeftOut},
      {crc, 300, 100, "an eXIf chunk (EXIF block, with any orientation it gives) is left out (eXIf: CRC error)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.dpi << row.note);
    const std::string in = dir.File(row.file[0] == 0xFF ? "in.jpg" : "in.png");
    klftest::WriteFileBytes(in, row.file);
    Outcome o = RunProgram(kTestPlugin + in + " -o " + dir.File("out.psd"));
    ASSERT_EQ(o.code, 0) << o.out;
    const CKLT_HostDocument back = Read(dir.File("out.psd"));
    EXPECT_EQ(std::make_pair(back.resolution, back.verticalResolution),
              std::make_pair(row.dpi, row.down ? row.down : row.dpi));
    EXPECT_EQ(Has(o, "note"), !row.note.empty()) << o.out;
    EXPECT_TRUE(Has(o, row.note)) << o.out;
  }
}

// A photograph stored turned is read upright, as ImageMagick's
// -auto-orient turns it, in every EXIF orientation, whatever carries it (a
// JPEG's EXIF block with the standard SHORT or a LONG, a PNG's eXIf chunk
// before or after its image data) in either byte order: its sides and (5
// to 8) its resolutions exchanged, said in a note, and written upright.
TEST(HostPhotos, EveryExifOrientationIsReadUpright) {
  if (std::system("convert -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick is not installed";
  klftest::TempDir dir;
  std::mt19937 rng(26);
  const Bytes stored = jpegtest::Encode(40, 24, JCS_RGB, 3, false, rng);
  CKLT_HostDocument picture = OneLayer(klpModeRGB, 40, 24, [&](int, int32_t) { return uint8_t(rng()); });
  picture.resolution = 300, picture.verticalResolution = 100;
  picture.layers[0].alpha = klftest::RandomBytes(rng, 40 * 24);  // turned with the colours
  Write(picture, dir.File("stored.png"));
  const Bytes png = klftest::ReadFileBytes(dir.File("stored.png"));
  // ImageMagick takes no PNG's eXIf: it is told the orientation.
  const char* const kNames[] = {"", "TopLeft", "TopRight", "BottomRight", "BottomLeft", "LeftTop",
                                "RightTop", "RightBottom", "LeftBottom", "TopLeft"};
  const struct {
    uint16_t orientation;
    const char* note;  // null: none
  } rows[] = {{1, nullptr},
              {2, "mirrored left to right and read upright (40 x 24 pixels)"},
              {3, "turned half round and read upright (40 x 24 pixels)"},
              {4, "mirrored top to bottom and read upright (40 x 24 pixels)"},
              {5, "mirrored left to right and turned a quarter anticlockwise and read upright (24 x 40 pixels)"},
              {6, "turned a quarter clockwise and read upright (24 x 40 pixels)"},
              {7, "mirrored left to right and turned a quarter clockwise and read upright (24 x 40 pixels)"},
              {8, "turned a quarter anticlockwise and read upright (24 x 40 pixels)"},
              {9, "its EXIF orientation 9 is none of 1 to 8: it is read as stored"}};
  enum { kShort, kLong, kBeforeImage, kAfterImage, kCarriers };  // a LONG after the image data
  const std::string magick = dir.File("magick.png");
  for (int k = 0; k < 9 * kCarriers; ++k) {
    const auto& row = rows[k / kCarriers];
    const int carrier = k % kCarriers;
    const bool isPng = carrier >= kBeforeImage;
    SCOPED_TRACE(testing::Message() << row.orientation << " carrier " << carrier);
    const Bytes block = jpegtest::ExifOrientation(row.orientation, 300, 100, row.orientation % 2, carrier % 2 ? 4 : 3);
    const std::string in = dir.File(isPng ? "in.png" : "in.jpg"), out = dir.File(carrier % 2 ? "o.psd" : "o.png");
    klftest::WriteFileBytes(in, isPng ? pngtest::Inserted(png, carrier == kBeforeImage ? "IDAT" : "IEND", "eXIf", block)
                                      : jpegtest::WithExif(stored, block));
    const Outcome o = RunProgram(kTestPlugin + "--lock-transparency " + in + " -o " + out);
    ASSERT_EQ(o.code, 0) << o.out;
    EXPECT_EQ(Has(o, "orientation"), row.note != nullptr) << o.out;
    if (row.note) {
      EXPECT_TRUE(Has(o, row.note)) << o.out;
    }
    const std::string told = isPng ? std::string(" -orient ") + kNames[row.orientation] : "";
    const std::string as = isPng ? " PNG32:" : " PNG24:";
    ASSERT_EQ(std::system(("convert " + in + told + " -auto-orient -strip" + as + magick).c_str()), 0);
    const CKLT_HostDocument back = Read(out), upright = Read(magick);
    const bool swapped = row.orientation >= 5 && row.orientation <= 8;
    EXPECT_EQ(std::make_tuple(back.width, back.height, back.resolution, back.verticalResolution),
              std::make_tuple(upright.width, upright.height, swapped ? 100.0 : 300.0, swapped ? 300.0 : 100.0));
    ASSERT_EQ(back.layers.at(0).planes.size(), upright.layers.at(0).planes.size());
    EXPECT_EQ(back.layers[0].alpha, upright.layers[0].alpha);
    for (size_t c = 0; c < back.layers[0].planes.size(); ++c) {
      const Bytes &a = back.layers[0].planes[c], &b = upright.layers[0].planes[c];
      ASSERT_EQ(a.size(), b.size());
      int most = 0;
      for (size_t i = 0; i < a.size(); ++i) most = std::max(most, std::abs((a[i] ^ 255) - b[i]));
      EXPECT_LE(most, 1) << "plane " << c;
    }
  }
}

TEST(HostPhotos, LayersNotesAndBounds) {
  klftest::TempDir dir;
  std::mt19937 rng(22);
  auto layer = [&](const char* name, int32_t x, int32_t y, int32_t w, int32_t h, bool alpha) {
    CKLT_HostDocument::Layer l = OneLayer(klpModeRGB, w, h, [&](int, int32_t) { return uint8_t(rng()); }).layers[0];
    l.name = name;
    l.left = x;
    l.top = y;
    if (alpha) l.alpha = klftest::RandomBytes(rng, static_cast<size_t>(w) * h);
    return l;
  };
  CKLT_HostDocument doc = OneLayer(klpModeRGB, 20, 16, [](int c, int32_t i) { return uint8_t(i * (c + 1)); });
  doc.layers.push_back(layer("ink", 3, 2, 6, 5, true));
  doc.layers.push_back(layer("hidden", 0, 0, 20, 16, false));
  doc.layers.back().visible = false;
  Write(doc, dir.File("in.psd"));

  // The topmost visible layer is filtered; with its transparency locked it
  // keeps its bounds and alpha, and the other layers stay as they were.
  Outcome o = RunProgram(kTestPlugin + "--lock-transparency " + dir.File("in.psd") + " -o " + dir.File("a.psd"));
  ASSERT_EQ(o.code, 0) << o.out;
  CKLT_HostDocument expect = doc;
  for (auto& p : expect.layers[1].planes)
    for (uint8_t& v : p) v ^= 255;
  const CKLT_HostDocument back = Read(dir.File("a.psd"));
  ASSERT_EQ(back.layers.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const auto &a = back.layers[i], &b = expect.layers[i];
    EXPECT_EQ(std::make_tuple(a.left, a.top, a.width, a.height, a.planes, a.alpha),
              std::make_tuple(b.left, b.top, b.width, b.height, b.planes, b.alpha))
        << i;
  }
  // A hidden layer is filtered only when asked for, and the program says so.
  o = RunProgram(kTestPlugin + "--layer 2 " + dir.File("in.psd") + " -o " + dir.File("b.psd"));
  EXPECT_EQ(o.code, 0) << o.out;
  EXPECT_TRUE(Has(o, "note: layer 2 \"hidden\" is hidden; it is filtered as asked")) << o.out;
  // ZIP-compressed layers: the flattened image as one layer, said.
  WriteZipPsd(doc, dir.File("zip.psd"), false);
  o = RunProgram(kTestPlugin + dir.File("zip.psd") + " -o " + dir.File("c.psd"));
  EXPECT_EQ(o.code, 0) << o.out;
  EXPECT_TRUE(Has(o, "its layers are ZIP-compressed")) << o.out;
  EXPECT_EQ(Read(dir.File("c.psd")).layers.size(), 1u);
  // 16-bit samples are reduced, said.
  pngtest::PngParams png;
  png.depth = 16;
  klftest::WriteFileBytes(dir.File("deep.png"), pngtest::EncodePng(png, std::vector<Bytes>(4, Bytes(30, 7))));
  o = RunProgram(kTestPlugin + dir.File("deep.png") + " -o " + dir.File("d.png"));
  EXPECT_EQ(o.code, 0) << o.out;
  EXPECT_TRUE(Has(o, "16-bit samples are reduced to 8 bits")) << o.out;
  // A layer off the canvas leaves the plug-in nothing: cancelled, and why.
  doc.layers.push_back(layer("away", 40, 0, 5, 5, false));
  Write(doc, dir.File("off.psd"));
  o = RunProgram(std::string("-q --plugin ") + KLF_PLUGIN_LIBRARY + " " + dir.File("off.psd") + " -o " +
                 dir.File("e.psd"));
  EXPECT_EQ(o.code, CKLT_HostRunner::kExitCancelled) << o.out;
  EXPECT_TRUE(Has(o, "layer \"away\" has no pixels on the canvas, so there was nothing to filter")) << o.out;
}

TEST(HostPhotos, DefaultGridFollowsTheFilteredArea) {
  // A 300 x 600 selection of a 1200 x 800 document: 2 x 4 pieces, as the
  // main window lays them on the image it works on, not 3 x 2.
  klftest::TempDir dir;
  Write(OneLayer(klpModeGray, 1200, 800, [](int, int32_t i) { return uint8_t(i); }), dir.File("in.png"));
  Write(OneLayer(klpModeGray, 1200, 800,
                 [](int, int32_t i) {
                   return uint8_t(i % 1200 >= 100 && i % 1200 < 400 && i / 1200 >= 100 && i / 1200 < 700 ? 255 : 0);
                 }),
        dir.File("sel.png"));
  Outcome o = RunProgram(kTestPlugin + "--selection " + dir.File("sel.png") + " --save-settings " + dir.File("s.klpd") +
                         " " + dir.File("in.png") + " -o " + dir.File("out.png"));
  ASSERT_EQ(o.code, 0) << o.out;
  const Bytes saved = klftest::ReadFileBytes(dir.File("s.klpd"));
  CLayoutModel m;
  CSettingsBlock codec;
  const u8* records = nullptr;
  u32 count = 0;
  ASSERT_TRUE(codec.ReadDocument(m, saved.data(), static_cast<u32>(saved.size()), &records, count));
  EXPECT_EQ(std::make_pair(m.verticalLineCount + 1, m.horizontalLineCount + 1), std::make_pair(2, 4));
}

}  // namespace
