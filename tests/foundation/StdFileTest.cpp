#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "CKLF_StdFile.h"
#include "support/TestSupport.h"

namespace {

std::string g_launched;
int32_t RecordLaunch(const char* path) {
  g_launched = path;
  return klpNoErr;
}

KLP_FileRef FolderRef(const klftest::TempDir& dir) {
  KLP_FileRef ref;
  EXPECT_EQ(ref.SetPath(dir.Path().c_str()), klpNoErr);
  return ref;
}

}  // namespace

TEST(StdFile, ModesDecideAccess) {
  klftest::TempDir dir;
  std::string path = dir.File("f.bin");
  CKLF_StdFile f;
  EXPECT_EQ(f.IsOpened(), 0);

  // Mode 5 is refused and leaves the object closed, even when it was open.
  ASSERT_EQ(f.Open(path.c_str(), 2), 1);
  EXPECT_EQ(f.Open(path.c_str(), 5), 0);
  EXPECT_EQ(f.GetError(), klErrBadArg);
  EXPECT_EQ(f.IsOpened(), 0);
  EXPECT_EQ(f.IsAllowToRead(), 0);
  EXPECT_EQ(f.Open(path.c_str(), 0), 0);

  ASSERT_EQ(f.Open(path.c_str(), 2), 1);
  EXPECT_EQ(f.GetError(), 0);
  EXPECT_EQ(f.IsAllowToRead(), 0);
  EXPECT_EQ(f.IsAllowToWrite(), 1);
  u8 b[4] = {1, 2, 3, 4};
  EXPECT_EQ(f.Write(b, 4), 4);
  EXPECT_EQ(f.Read(b, 4), -1);
  EXPECT_EQ(f.GetError(), klErrFileAccess);
  EXPECT_EQ(f.Close(), 1);

  ASSERT_EQ(f.Open(path.c_str(), 1), 1);
  EXPECT_EQ(f.IsAllowToRead(), 1);
  EXPECT_EQ(f.IsAllowToWrite(), 0);
  EXPECT_EQ(f.Write(b, 4), -1);
  EXPECT_EQ(f.GetError(), klErrFileAccess);
  u8 r[8] = {};
  EXPECT_EQ(f.Read(r, 8), 4);  // short read at the end is a count, not an error
  EXPECT_EQ(std::memcmp(r, b, 4), 0);
  EXPECT_EQ(f.Read(r, 8), -1);
  EXPECT_EQ(f.GetError(), klErrFileRead);
  EXPECT_EQ(f.Read(r, 0), 0);

  // Mode 3 keeps the contents, mode 4 truncates.
  ASSERT_EQ(f.Open(path.c_str(), 3), 1);
  EXPECT_EQ(f.GetLength(), 4);
  ASSERT_EQ(f.Open(path.c_str(), 4), 1);
  EXPECT_EQ(f.GetLength(), 0);
  f.Close();

  EXPECT_EQ(f.Open(dir.File("missing").c_str(), 1), 0);
  EXPECT_EQ(f.GetError(), klErrFileOpen);
  EXPECT_EQ(f.Open(dir.File("missing").c_str(), 3), 0);
  // A folder is not a file, even though stdio would open it.
  EXPECT_EQ(f.Open(dir.Path().c_str(), 1), 0);
  EXPECT_EQ(f.GetError(), klErrFileOpen);
  EXPECT_EQ(f.IsOpened(), 0);
}

TEST(StdFile, ClosedFileReportsNotOpen) {
  CKLF_StdFile f;
  u8 b[2];
  EXPECT_EQ(f.Read(b, 2), -1);
  EXPECT_EQ(f.GetError(), klErrFileNotOpen);
  f.ResetError();
  EXPECT_EQ(f.Write(b, 2) + f.SetPos(0) + f.GetPos() + f.OffsetPos(1) + f.GetLength(), -5);
  EXPECT_EQ(f.Flush(), 0);
  EXPECT_EQ(f.GetError(), klErrFileNotOpen);
  EXPECT_EQ(f.Close(), 1);
}

TEST(StdFile, PositionsAndMixedReadWrite) {
  klftest::TempDir dir;
  std::string path = dir.File("p.bin");
  CKLF_StdFile f(path.c_str(), 4);
  ASSERT_EQ(f.IsOpened(), 1);
  std::vector<u8> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<u8>(i * 7);
  ASSERT_EQ(f.Write(data.data(), 1000), 1000);
  EXPECT_EQ(f.GetPos(), 1000);

  EXPECT_EQ(f.SetPos(100), 100);
  EXPECT_EQ(f.GetLength(), 1000);
  EXPECT_EQ(f.GetPos(), 100);  // GetLength keeps the position
  EXPECT_EQ(f.OffsetPos(50), 150);
  EXPECT_EQ(f.OffsetPos(-20), 130);
  EXPECT_EQ(f.SetPos(-1), -1);
  EXPECT_EQ(f.GetError(), klErrFileSeek);
  EXPECT_EQ(f.GetPos(), 130);
  EXPECT_EQ(f.OffsetPos(-1000), -1);
  EXPECT_EQ(f.GetError(), klErrFileSeek);

  // Read, then write, then read without seeking in between: each switch of
  // direction must see the bytes where the other left off.
  f.SetPos(10);
  u8 two[2];
  ASSERT_EQ(f.Read(two, 2), 2);
  EXPECT_EQ(two[0], data[10]);
  u8 patch[3] = {0xAA, 0xBB, 0xCC};
  ASSERT_EQ(f.Write(patch, 3), 3);
  EXPECT_EQ(f.GetPos(), 15);
  ASSERT_EQ(f.Read(two, 2), 2);
  EXPECT_EQ(two[0], data[15]);
  EXPECT_EQ(two[1], data[16]);
  f.SetPos(12);
  ASSERT_EQ(f.Read(two, 2), 2);
  EXPECT_EQ(two[0], 0xAA);
  EXPECT_EQ(two[1], 0xBB);
  EXPECT_EQ(f.Close(), 1);

  std::vector<u8> disk = klftest::ReadFileBytes(path);
  ASSERT_EQ(disk.size(), 1000u);
  EXPECT_EQ(disk[14], 0xCC);
  EXPECT_EQ(disk[17], data[17]);
}

TEST(StdFile, MemoryBlockTransfersUseCountOrWholeBlock) {
  klftest::TempDir dir;
  std::string path = dir.File("m.bin");
  CKLF_StdFile f(path.c_str(), 4);
  CKLF_Mem m(10);
  for (u32 i = 0; i < 10; ++i) m.GetPtr()[i] = static_cast<u8>(i + 1);
  EXPECT_EQ(f.Write(m, 3), 3);
  EXPECT_EQ(f.Write(m, 0), 10);   // 0: the whole block
  EXPECT_EQ(f.Write(m, 50), 10);  // more than the block: the whole block
  EXPECT_EQ(f.GetLength(), 23);
  f.SetPos(0);
  CKLF_Mem in(5);
  EXPECT_EQ(f.Read(in, 2), 2);
  EXPECT_EQ(in.GetPtr()[1], 2);
  EXPECT_EQ(f.Read(in, 0), 5);
  EXPECT_EQ(in.GetPtr()[0], 3);
  EXPECT_EQ(in.GetPtr()[1], 1);
  CKLF_Mem empty;
  EXPECT_EQ(f.Read(empty, 4), 0);
}

TEST(StdFile, WriteFailureSurfacesAtFlushAndClose) {
  // /dev/full accepts buffered bytes and fails when they reach it.
  CKLF_StdFile f;
  if (!f.Open("/dev/full", 2)) GTEST_SKIP() << "no /dev/full";
  u8 b[16] = {};
  f.Write(b, 16);
  EXPECT_EQ(f.Flush(), 0);
  EXPECT_EQ(f.GetError(), klErrFileWrite);
  f.ResetError();
  f.Write(b, 16);
  EXPECT_EQ(f.Close(), 0);
  EXPECT_EQ(f.GetError(), klErrFileWrite);
  EXPECT_EQ(f.IsOpened(), 0);
}

TEST(StdFile, NameInFolderCreatesOrFinds) {
  klftest::TempDir dir;
  KLP_FileRef folder = FolderRef(dir);
  CKLF_StdFile f;

  // Read modes need the file; no file appears.
  EXPECT_EQ(f.Open("shape.klks", &folder, 1), 0);
  EXPECT_EQ(f.GetError(), klErrFileOpen);
  EXPECT_EQ(f.Open("shape.klks", &folder, 3), 0);
  EXPECT_TRUE(klftest::ReadFileBytes(dir.File("shape.klks")).empty());

  ASSERT_EQ(f.Open("shape.klks", &folder, 2), 1);
  EXPECT_EQ(f.Write("hello", 5), 5);
  f.Close();
  EXPECT_EQ(klftest::ReadFileBytes(dir.File("shape.klks")).size(), 5u);

  ASSERT_EQ(f.Open("shape.klks", &folder, 3), 1);
  EXPECT_EQ(f.GetLength(), 5);
  // Mode 4 on an existing file truncates it.
  ASSERT_EQ(f.Open("shape.klks", &folder, 4), 1);
  EXPECT_EQ(f.GetLength(), 0);
  f.Close();

  // Bad names, a missing parent and a bad mode.
  EXPECT_EQ(f.Open("a/b", &folder, 2), 0);
  EXPECT_EQ(f.GetError(), klErrFileOpen);
  EXPECT_EQ(f.Open("", &folder, 2), 0);
  EXPECT_EQ(f.Open("x", nullptr, 2), 0);
  EXPECT_EQ(f.Open("x", &folder, 7), 0);
  EXPECT_EQ(f.GetError(), klErrBadArg);

  KLP_FileRef fileRef;
  ASSERT_EQ(fileRef.SetPath(dir.File("shape.klks").c_str()), klpNoErr);
  ASSERT_EQ(f.Open(&fileRef, 1), 1);
  EXPECT_EQ(f.Open(static_cast<const KLP_FileRef*>(nullptr), 1), 0);
  EXPECT_EQ(f.IsOpened(), 0);
}

TEST(StdFile, LongPathsAreRefusedByReference) {
  klftest::TempDir dir;
  // Nest folders until the path passes 1,024 bytes.
  std::string path = dir.Path();
  std::string seg(200, 'd');
  while (path.size() <= 1024) {
    path += "/" + seg;
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  }
  KLP_FileRef ref;
  ASSERT_EQ(ref.SetPath(path.c_str()), klpNoErr);
  CKLF_StdFile f;
  EXPECT_EQ(f.Open("x", &ref, 2), 0);
  EXPECT_EQ(f.GetError(), klErrFileOpen);
}

TEST(StdFile, LaunchUsesThePlatformHook) {
  klftest::TempDir dir;
  KLP_FileRef folder = FolderRef(dir);
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("Help.pdf"), {1}));
  KLP_LaunchHook old = KLP_SetLaunchHook(RecordLaunch);
  g_launched.clear();
  EXPECT_EQ(CKLF_StdFile::LaunchFile("Help.pdf", &folder), 1);
  EXPECT_EQ(g_launched, dir.File("Help.pdf"));
  EXPECT_EQ(CKLF_StdFile::LaunchFile("Missing.pdf", &folder), 0);
  EXPECT_EQ(CKLF_StdFile::LaunchFile(static_cast<const KLP_FileRef*>(nullptr)), 0);
  KLP_SetLaunchHook(old);
  // Only the system's own encoding is known.
  KLP_FileName n;
  EXPECT_EQ(CKLF_StdFile::HFSNameGetUnicodeName("abc", &n, 0), klpErrParam);
}

TEST(StdFile, TruncateAndUnbufferedWrites) {
  klftest::TempDir dir;
  std::string path = dir.File("t.bin");
  CKLF_StdFile f(path.c_str(), 4);
  ASSERT_EQ(f.SetUnbuffered(), 1);
  u8 b[100];
  for (int i = 0; i < 100; ++i) b[i] = static_cast<u8>(i);
  ASSERT_EQ(f.Write(b, 100), 100);
  // Unbuffered: the bytes are on disk before any flush.
  EXPECT_EQ(klftest::ReadFileBytes(path).size(), 100u);
  ASSERT_EQ(f.Truncate(40), 1);
  EXPECT_EQ(f.GetLength(), 40);
  EXPECT_EQ(f.GetPos(), 40);
  ASSERT_EQ(f.Write(b, 2), 2);
  std::vector<u8> disk = klftest::ReadFileBytes(path);
  ASSERT_EQ(disk.size(), 42u);
  EXPECT_EQ(disk[39], 39);
  EXPECT_EQ(disk[40], 0);
  EXPECT_EQ(disk[41], 1);
  f.Close();

  ASSERT_EQ(f.Open(path.c_str(), 1), 1);
  EXPECT_EQ(f.Truncate(0), 0);
  EXPECT_EQ(f.GetError(), klErrFileAccess);
  f.Close();
  EXPECT_EQ(f.Truncate(0), 0);
  EXPECT_EQ(f.GetError(), klErrFileNotOpen);
  EXPECT_EQ(f.SetUnbuffered(), 0);
}
