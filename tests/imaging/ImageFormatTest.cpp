#include <gtest/gtest.h>

#include "CKLF_ImagePNG.h"
#include "CKLF_ImagePSD.h"
#include "CKLF_StdFile.h"
#include "support/TestSupport.h"

TEST(ImageFormat, PlaneAccessOutsideTheChannelsIsNull) {
  CKLF_ImagePSD psd;
  for (i32 c : {5, -2, 0}) EXPECT_EQ(nullptr, psd.GetImageDataPtr(c)) << c;
  EXPECT_EQ(nullptr, psd.GetImageDataMem(-1));
}

TEST(ImageFormat, FileInputPaths) {
  klftest::TempDir dir;
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("empty"), {}));
  CKLF_StdFile empty(dir.File("empty").c_str(), 1);
  CKLF_ImagePNG png;
  EXPECT_FAILS(png, png.GetImageInfoByFile(empty), klErrNotFormat);
  EXPECT_EQ(0, png.GetImageInfoLocal()) << "the local buffer stays empty";

  CKLF_StdFile closed;
  EXPECT_FAILS(png, png.ParseImageByFile(closed), klErrFileNotOpen);

  // A written file parses the same by file, by memory and from the local buffer.
  u8 plane[4] = {1, 2, 3, 4};
  CKLF_ImagePNG::PNGWRITE_PARAMS p{};
  p.width = p.height = p.stride = 2, p.mode = 2;
  p.planes[0] = p.planes[1] = plane;
  {
    CKLF_StdFile out(dir.File("g.png").c_str(), 2);
    ASSERT_EQ(1, png.Create(out));
    ASSERT_EQ(1, png.WritePNG(&p));
  }
  CKLF_StdFile in(dir.File("g.png").c_str(), 1);
  ASSERT_EQ(1, png.ParseImageByFile(in));
  EXPECT_EQ(4, png.GetImageDataPtr(-1)[3]);
  ASSERT_EQ(1, png.ParseImageLocal());
  EXPECT_EQ(3, png.GetImageDataPtr(0)[2]);
}

TEST(ImageFormat, WriterAttachmentAndPositionedWrites) {
  klftest::TempDir dir;
  CKLF_ImagePSD w;
  const u8 data[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(CKLF_ImageWriter::kNoPos, w.Write_SetPos(CKLF_ImageWriter::kNoPos));
  EXPECT_EQ(0, w.Write_Buffer(data, 4));
  EXPECT_EQ(0, w.Write_Flush());
  EXPECT_EQ(0, w.Write_MACDWord(1));

  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("ro"), {1}));
  CKLF_StdFile readOnly(dir.File("ro").c_str(), 1);
  EXPECT_FAILS(w, w.Create(readOnly), klErrBadArg);

  CKLF_StdFile f(dir.File("w").c_str(), 4);
  ASSERT_EQ(1, w.Create(f));
  ASSERT_EQ(1, w.Write_Buffer(data, 4));
  ASSERT_EQ(1, w.Write_MACWord(0x0102, 1));  // at 1 and back
  EXPECT_EQ(4u, w.Write_SetPos(CKLF_ImageWriter::kNoPos));
  ASSERT_EQ(1, w.Write_MACDWord(0x05060708));
  EXPECT_EQ(8u, w.Write_SetPos(2));
  EXPECT_EQ(2u, w.Write_SetPos(8));
  ASSERT_EQ(1, w.Write_Flush());
  EXPECT_EQ(std::vector<u8>({'a', 1, 2, 'd', 5, 6, 7, 8}), klftest::ReadFileBytes(dir.File("w")));
}
