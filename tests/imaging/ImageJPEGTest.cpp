#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "CKLF_ImageJPEG.h"
#include "JpegTestUtil.h"
#include "support/TestSupport.h"

namespace {

using Bytes = std::vector<u8>;
using jpegtest::Encode;

using jpegtest::Decoded;
using jpegtest::Reference;
using jpegtest::Resized;

void ExpectSame(const Decoded& ref, CKLF_ImageJPEG& r) {
  u16 w = 0, h = 0;
  ASSERT_TRUE(r.GetMainImageSize(w, h));
  ASSERT_EQ(ref.w, w);
  ASSERT_EQ(ref.h, h);
  for (u32 c = 0; c < ref.n; ++c) {
    const u8* plane = r.GetImageDataPtr(static_cast<i32>(c));
    ASSERT_NE(nullptr, plane);
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) ASSERT_EQ(ref.pixels[i * ref.n + c], plane[i]) << c << " " << i;
  }
  EXPECT_EQ(nullptr, r.GetImageDataPtr(static_cast<i32>(ref.n))) << "no plane beyond the components";
  EXPECT_EQ(nullptr, r.GetImageDataPtr(-1)) << "no alpha";
}

}  // namespace

TEST(ImageJPEG, DecodesLikeLibjpegInEveryColourSpace) {
  std::mt19937 rng(8);
  // A profile over two APP2 markers is put back together.
  const Bytes icc = klftest::RandomBytes(rng, 70000);
  // Widths of whole runs of eight samples, of a part run only, and both.
  struct Case {
    J_COLOR_SPACE space;
    int components;
    u8 mode;
    bool progressive;
    u8 unit;
    f64 dpi;
    u32 width;
  } cases[] = {{JCS_RGB, 3, 1, false, 1, 300, 45},
               {JCS_RGB, 3, 1, true, 0, 0, 16},
               {JCS_RGB, 3, 1, false, 0, 0, 7},
               {JCS_GRAYSCALE, 1, 2, false, 2, 118 * 2.54, 45},
               {JCS_CMYK, 4, 3, false, 0, 0, 45}};  // no JFIF marker for CMYK
  for (const Case& k : cases) {
    SCOPED_TRACE(int(k.mode));
    SCOPED_TRACE(k.width);
    Bytes file = Encode(k.width, 31, k.space, k.components, k.progressive, rng, k.unit,
                        static_cast<u16>(k.unit == 2 ? 118 : k.dpi), k.progressive ? icc : Bytes());
    Decoded ref = Reference(file);
    ASSERT_EQ(static_cast<u32>(k.components), ref.n);
    CKLF_ImageJPEG r;
    ASSERT_EQ(1, r.GetImageInfoByPtr(file.data(), static_cast<u32>(file.size())));
    EXPECT_EQ(k.mode, r.GetImageMode());
    EXPECT_EQ(8, r.GetImageBPP());
    ASSERT_EQ(1, r.ParseImageByPtr(file.data(), static_cast<u32>(file.size())));
    EXPECT_EQ(k.mode, r.GetImageMode());
    ExpectSame(ref, r);
    EXPECT_EQ(k.dpi, r.GetResolution());
    const CKLF_Mem& profile = r.GetICCProfile();
    EXPECT_EQ(k.progressive ? icc : Bytes(), Bytes(profile.GetPtr(), profile.GetPtr() + profile.GetSize()));
    EXPECT_EQ(k.space == JCS_CMYK, r.SawAdobeMarker() == 1);
  }
}

TEST(ImageJPEG, TruncatedDataEndsAndNeverLoops) {
  std::mt19937 rng(3);
  for (bool progressive : {false, true}) {
    Bytes file = Encode(64, 48, JCS_RGB, 3, progressive, rng);
    CKLF_ImageJPEG r;
    // Cut inside the entropy-coded data: the memory source ends it with an
    // end-of-image marker, so the image finishes as libjpeg's own source does.
    Bytes half(file.begin(), file.begin() + file.size() * 2 / 3);
    ASSERT_EQ(1, r.ParseImageByPtr(half.data(), static_cast<u32>(half.size())));
    ExpectSame(Reference(half), r);
    // Finished, but said to be made up where the data ended.
    EXPECT_EQ(1, r.IsDamaged());
    EXPECT_STREQ("Premature end of JPEG file", r.GetDecoderMessage());
    ASSERT_EQ(1, r.ParseImageByPtr(file.data(), static_cast<u32>(file.size())));
    EXPECT_EQ(0, r.IsDamaged());
    EXPECT_STREQ("", r.GetDecoderMessage());
    // Every shorter cut ends too, with an image or an error.
    for (size_t n = 2; n < file.size(); n += 7) {
      Bytes cut(file.begin(), file.begin() + n);
      if (!r.ParseImageByPtr(cut.data(), static_cast<u32>(n))) {
        EXPECT_EQ(klErrNotFormat, r.GetError()) << n;
      }
    }
  }
}

TEST(ImageJPEG, RefusesShortForeignAndPlanelessData) {
  std::mt19937 rng(1);
  Bytes two = Encode(8, 8, JCS_UNKNOWN, 2, false, rng);  // no known colour space: no planes here
  ASSERT_EQ(2u, Reference(two).n);
  const struct {
    Bytes data;
    u16 info, parse;
  } cases[] = {{{0xFF}, klErrNotFormat, klErrNotFormat},
               {{0x89, 0x50, 0x4E, 0x47}, klErrUnsupported, klErrUnsupported},
               {{0xFF, 0xD8, 0xFF, 0xD9}, klErrNotFormat, klErrNotFormat},  // no image: damaged, not a variant
               {two, klErrUnsupported, klErrUnsupported}};
  CKLF_ImageJPEG r;
  for (const auto& c : cases) {
    EXPECT_EQ(0, r.GetImageInfoByPtr(c.data.data(), static_cast<u32>(c.data.size())));
    EXPECT_EQ(c.info, r.GetError()) << c.data.size();
    EXPECT_EQ(0, r.ParseImageByPtr(c.data.data(), static_cast<u32>(c.data.size())));
    EXPECT_EQ(c.parse, r.GetError()) << c.data.size();
  }
}

TEST(ImageJPEG, DamageIsToldApartFromUnsupportedVariants) {
  std::mt19937 rng(7);
  const Bytes file = Encode(40, 24, JCS_RGB, 3, false, rng);
  // Entropy-coded data ended by a marker in its middle decodes, marked
  // damaged with libjpeg's reason.
  Bytes corrupt(file.begin(), file.begin() + file.size() * 3 / 4);
  corrupt.insert(corrupt.end(), {0xFF, 0xD9});
  CKLF_ImageJPEG r;
  ASSERT_EQ(1, r.ParseImageByPtr(corrupt.data(), static_cast<u32>(corrupt.size())));
  EXPECT_EQ(1, r.IsDamaged());
  EXPECT_NE(std::string(r.GetDecoderMessage()).find("Corrupt JPEG data"), std::string::npos) << r.GetDecoderMessage();
  // A header cut inside a marker segment is damage (49) with the reason.
  const Bytes head(file.begin(), file.begin() + 30);
  EXPECT_EQ(0, r.GetImageInfoByPtr(head.data(), static_cast<u32>(head.size())));
  EXPECT_EQ(klErrNotFormat, r.GetError());
  EXPECT_STRNE("", r.GetDecoderMessage());
  // A 12-bit frame is a variant libjpeg does not implement here (48).
  Bytes twelve = file;
  for (size_t i = 2; i + 4 < twelve.size(); ++i)
    if (twelve[i] == 0xFF && twelve[i + 1] == 0xC0) {
      twelve[i + 4] = 12;
      break;
    }
  EXPECT_EQ(0, r.GetImageInfoByPtr(twelve.data(), static_cast<u32>(twelve.size())));
  EXPECT_EQ(klErrUnsupported, r.GetError());
  EXPECT_STREQ("12 bits a sample", r.GetDecoderMessage());
}

TEST(ImageJPEG, KeepsTheExifBlock) {
  std::mt19937 rng(8);
  const Bytes plain = Encode(16, 16, JCS_GRAYSCALE, 1, false, rng);
  const Bytes block = jpegtest::ExifResolution(true, 300, 1, 2);
  const Bytes file = jpegtest::WithExif(plain, block);
  CKLF_ImageJPEG r;
  ASSERT_EQ(1, r.GetImageInfoByPtr(file.data(), static_cast<u32>(file.size())));
  const CKLF_Mem& kept = r.GetExifData();
  EXPECT_EQ(block, Bytes(kept.GetPtr(), kept.GetPtr() + kept.GetSize()));
  ASSERT_EQ(1, r.ParseImageByPtr(plain.data(), static_cast<u32>(plain.size())));
  EXPECT_EQ(0u, r.GetExifData().GetSize()) << "a later file without one has none";
}

TEST(ImageJPEG, CancelStopsWithoutACode) {
  std::mt19937 rng(5);
  Bytes file = Encode(16, 16, JCS_GRAYSCALE, 1, false, rng);
  CKLF_ImageJPEG r;
  struct CancelLate : CKLF_Progress {
    int calls = 0;
    i32 Progress(u8, void*) override { return ++calls; }
    u8 IsCanceled() override { return calls >= 8; }
  } cancel;
  r.SetProgress(&cancel);
  EXPECT_EQ(0, r.ParseImageByPtr(file.data(), static_cast<u32>(file.size())));
  EXPECT_EQ(0, r.GetError());
  EXPECT_EQ(8, cancel.calls);
}

// A header declaring more 8 x 8 blocks than the data has bits is refused
// before the image is allocated, rather than made up past the data's end;
// a flat image, whose blocks take the fewest bits, still decodes.
TEST(ImageJPEG, DeclaredSizeMustFitTheData) {
  CKLF_ImageJPEG r;
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "baseline");
    std::mt19937 rng(1);
    // One grey level over the whole image: the fewest bits a block can take.
    const Bytes flat = jpegtest::Encode(1024, 1024, JCS_RGB, 3, progressive, rng, 0, 1, {}, 128);
    ASSERT_EQ(1, r.ParseImageByPtr(flat.data(), static_cast<u32>(flat.size())));
    EXPECT_EQ(0, r.IsDamaged());
    const Bytes small = Encode(16, 16, JCS_RGB, 3, progressive, rng);
    const Bytes claim = Resized(small, 1024, 1024);
    ASSERT_EQ(small.size(), claim.size());
    ASSERT_EQ(1, r.GetImageInfoByPtr(claim.data(), static_cast<u32>(claim.size())));
    u16 w = 0, h = 0;
    ASSERT_TRUE(r.GetMainImageSize(w, h));
    EXPECT_EQ(1024, w);
    EXPECT_FAILS(r, r.ParseImageByPtr(claim.data(), static_cast<u32>(claim.size())), klErrNotFormat);
    EXPECT_EQ(nullptr, r.GetImageDataPtr(0));
    // Declaring its own size, it decodes.
    ASSERT_EQ(1, r.ParseImageByPtr(small.data(), static_cast<u32>(small.size())));
  }
}

namespace {

Bytes Kept(const CKLF_Mem& m) { return Bytes(m.GetPtr(), m.GetPtr() + m.GetSize()); }

}  // namespace

// Only the first Exif block and the profile's parts are kept; every other
// APP1 or APP2 segment is passed over by its length, so hundreds of
// thousands of them cost what their bytes cost and change nothing.
TEST(ImageJPEG, ManyAppSegmentsKeepOnlyTheExifBlockAndTheProfile) {
  std::mt19937 rng(12);
  const Bytes icc = klftest::RandomBytes(rng, 70000);  // two parts
  const Bytes block = jpegtest::ExifResolution(false, 240, 2, 0);
  const Bytes plain = Encode(24, 16, JCS_RGB, 3, true, rng, 1, 96, icc);
  Bytes file = jpegtest::WithExif(plain, block);
  file = jpegtest::WithSegments(file, 0xE2, 50000, {'X', 'M', 'P'});
  file = jpegtest::WithSegments(file, 0xE1, 200000);
  const Decoded ref = Reference(plain);
  CKLF_ImageJPEG r;
  ASSERT_EQ(1, r.GetImageInfoByPtr(file.data(), static_cast<u32>(file.size())));
  EXPECT_EQ(block, Kept(r.GetExifData()));
  EXPECT_EQ(icc, Kept(r.GetICCProfile()));
  ASSERT_EQ(1, r.ParseImageByPtr(file.data(), static_cast<u32>(file.size())));
  ExpectSame(ref, r);
  EXPECT_EQ(96, r.GetResolution());
  EXPECT_EQ(block, Kept(r.GetExifData()));
  EXPECT_EQ(icc, Kept(r.GetICCProfile()));
  // Thousands of parts that all say "1 of 2" spoil the profile at the second.
  const Bytes spoilt = jpegtest::WithSegments(plain, 0xE2, 100000, jpegtest::IccPart(1, 2, Bytes(12, 7)));
  ASSERT_EQ(1, r.ParseImageByPtr(spoilt.data(), static_cast<u32>(spoilt.size())));
  EXPECT_EQ(0u, r.GetICCProfile().GetSize());
  ExpectSame(ref, r);
}

// The profile's parts are checked and joined exactly as libjpeg's own
// jpeg_read_icc_profile does; the first Exif block with content is kept.
TEST(ImageJPEG, ProfilePartsAndExifBlocksAsLibjpegTakesThem) {
  using jpegtest::IccPart;
  std::mt19937 rng(13);
  const Bytes plain = Encode(8, 8, JCS_GRAYSCALE, 1, false, rng);
  const Bytes a = klftest::RandomBytes(rng, 300), b = klftest::RandomBytes(rng, 70), none;
  const std::vector<std::vector<Bytes>> cases = {
      {IccPart(2, 3, b), IccPart(3, 3, a), {'I', 'C', 'C'}, IccPart(1, 3, a)},  // any order, a short one between
      {IccPart(1, 2, a), IccPart(2, 2, none)},                                  // an empty part
      {IccPart(1, 1, none)},                                                    // nothing in it: none
      {IccPart(1, 2, a), IccPart(1, 2, b), IccPart(2, 2, b)},                   // a part twice
      {IccPart(1, 2, a), IccPart(2, 3, b)},                                     // the count changes
      {IccPart(1, 3, a), IccPart(3, 3, b)},                                     // a part missing
      {IccPart(0, 1, a)}, {IccPart(2, 1, a)}, {IccPart(1, 0, a)}};              // part 0, past the count, no count
  CKLF_ImageJPEG r;
  for (size_t i = 0; i < cases.size(); ++i) {
    Bytes file = plain;
    for (auto it = cases[i].rbegin(); it != cases[i].rend(); ++it) file = jpegtest::WithSegments(file, 0xE2, 1, *it);
    ASSERT_EQ(1, r.GetImageInfoByPtr(file.data(), static_cast<u32>(file.size()))) << i;
    EXPECT_EQ(Reference(file).icc, Kept(r.GetICCProfile())) << i;
    EXPECT_EQ(i < 2, r.GetICCProfile().GetSize() > 0) << i;
  }
  // An Exif name alone holds no block: the next one named so is kept, and
  // only the first of those.
  const Bytes first = jpegtest::ExifResolution(true, 300, 1, 2), second = jpegtest::ExifResolution(true, 72, 1, 2);
  Bytes file = jpegtest::WithExif(jpegtest::WithExif(jpegtest::WithExif(plain, second), first), {});
  ASSERT_EQ(1, r.GetImageInfoByPtr(file.data(), static_cast<u32>(file.size())));
  EXPECT_EQ(first, Kept(r.GetExifData()));
  // A profile's part that runs past the data's end leaves no image.
  file = jpegtest::WithSegments(plain, 0xE2, 1, IccPart(1, 1, a));
  EXPECT_FAILS(r, r.GetImageInfoByPtr(file.data(), 20), klErrNotFormat);
}

// Every scan of a progressive file passes over the blocks of its
// component, and any number of valid scans may follow one another: past
// 500 scans, 64 passes over the blocks or 16 over the coefficients (once
// the work is more than a few million blocks) the file is refused as
// damaged, saying so, before a scan is decoded or the planes are made.
TEST(ImageJPEG, MoreScansThanTheBoundAreRefused) {
  const struct {
    Bytes file;
    const char* says;  // null: read
  } cases[] = {{jpegtest::RepeatedScans(16, 16, 500), nullptr},
               {jpegtest::RepeatedScans(16, 16, 501), "More than 500 scans"},
               {jpegtest::RepeatedScans(2304, 2304, 64, 1), nullptr},
               {jpegtest::RepeatedScans(2304, 2304, 65, 1), "Scans that pass over the image's blocks more than 64 times"},
               {jpegtest::RepeatedScans(2304, 2304, 52), nullptr},
               {jpegtest::RepeatedScans(2304, 2304, 53), "Scans that pass over the image's coefficients more than 16 times"}};
  CKLF_ImageJPEG r;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says ? c.says : "read");
    ASSERT_EQ(1, r.GetImageInfoByPtr(c.file.data(), static_cast<u32>(c.file.size())));
    if (!c.says) {
      ASSERT_EQ(1, r.ParseImageByPtr(c.file.data(), static_cast<u32>(c.file.size())));
      EXPECT_EQ(0, r.IsDamaged());
      ExpectSame(Reference(c.file), r);
      continue;
    }
    EXPECT_FAILS(r, r.ParseImageByPtr(c.file.data(), static_cast<u32>(c.file.size())), klErrNotFormat);
    EXPECT_STREQ(c.says, r.GetDecoderMessage());
    EXPECT_EQ(nullptr, r.GetImageDataPtr(0));
  }
}
