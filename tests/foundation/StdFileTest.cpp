#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
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
}  // namespace

TEST(StdFile, ModesDecideAccess) {
  klftest::TempDir dir;
  std::string path = dir.File("f.bin");
  CKLF_StdFile f;
  u8 b[4] = {1, 2, 3, 4}, r[8] = {};
  ASSERT_EQ(f.Open(path.c_str(), 2), 1);
  EXPECT_EQ(f.Write(b, 4), 4);
  EXPECT_FAILS_WITH(f, f.Read(r, 4), -1, klErrFileAccess);
  // A bad mode is refused and leaves the object closed, even when it was open.
  EXPECT_FAILS(f, f.Open(path.c_str(), 5), klErrBadArg);
  EXPECT_EQ(f.IsOpened(), 0);

  ASSERT_EQ(f.Open(path.c_str(), 1), 1);
  EXPECT_FAILS_WITH(f, f.Write(b, 4), -1, klErrFileAccess);
  EXPECT_EQ(f.Read(r, 8), 4);  // short at the end: a count, not an error
  EXPECT_EQ(std::memcmp(r, b, 4), 0);
  EXPECT_FAILS_WITH(f, f.Read(r, 8), -1, klErrFileRead);
  EXPECT_EQ(f.Read(r, 0), 0);
  ASSERT_EQ(f.Open(path.c_str(), 3), 1);  // keeps the contents
  EXPECT_EQ(f.GetLength(), 4);
  ASSERT_EQ(f.Open(path.c_str(), 4), 1);  // truncates
  EXPECT_EQ(f.GetLength(), 0);

  // A missing file, and a folder, which stdio would open.
  for (const std::string& p : {dir.File("missing"), dir.Path()}) {
    EXPECT_FAILS(f, f.Open(p.c_str(), 1) + f.Open(p.c_str(), 3), klErrFileOpen);
  }
  EXPECT_EQ(f.Read(r, 2) + f.Write(b, 2) + f.SetPos(0) + f.GetPos() + f.OffsetPos(1) + f.GetLength(), -6);
  EXPECT_FAILS(f, f.Flush() + f.Truncate(0) + f.SetUnbuffered(), klErrFileNotOpen);
  EXPECT_EQ(f.Close(), 1);
}

TEST(StdFile, PositionsAndMixedReadWrite) {
  klftest::TempDir dir;
  std::string path = dir.File("p.bin");
  CKLF_StdFile f(path.c_str(), 4);
  std::vector<u8> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<u8>(i * 7);
  ASSERT_EQ(f.Write(data.data(), 1000), 1000);
  EXPECT_EQ(f.SetPos(100), 100);
  EXPECT_EQ(f.GetLength(), 1000);
  EXPECT_EQ(f.GetPos(), 100);  // GetLength keeps the position
  EXPECT_EQ(f.OffsetPos(-20), 80);
  EXPECT_FAILS_WITH(f, f.SetPos(-1), -1, klErrFileSeek);
  EXPECT_EQ(f.OffsetPos(-1000), -1);
  EXPECT_EQ(f.GetPos(), 80);

  // Read, write, read without seeking in between: each switch of direction
  // must see the bytes where the other left off.
  ASSERT_GE(f.SetPos(10), 0);
  u8 two[2], patch[3] = {0xAA, 0xBB, 0xCC};
  ASSERT_EQ(f.Read(two, 2), 2);
  ASSERT_EQ(f.Write(patch, 3), 3);
  EXPECT_EQ(f.GetPos(), 15);
  ASSERT_EQ(f.Read(two, 2), 2);
  EXPECT_EQ(two[1], data[16]);
  EXPECT_EQ(f.Close(), 1);
  std::vector<u8> disk = klftest::ReadFileBytes(path);
  ASSERT_EQ(disk.size(), 1000u);
  EXPECT_EQ(std::vector<u8>(disk.begin() + 11, disk.begin() + 16),
            std::vector<u8>({data[11], 0xAA, 0xBB, 0xCC, data[15]}));
}

TEST(StdFile, MemoryBlockTransfersUseCountOrWholeBlock) {
  klftest::TempDir dir;
  CKLF_StdFile f(dir.File("m.bin").c_str(), 4);
  CKLF_Mem m(10), in(5), empty;
  for (u32 i = 0; i < 10; ++i) m.GetPtr()[i] = static_cast<u8>(i + 1);
  EXPECT_EQ(f.Write(m, 3), 3);
  EXPECT_EQ(f.Write(m, 0), 10);   // 0: the whole block
  EXPECT_EQ(f.Write(m, 50), 10);  // more than the block: the whole block
  ASSERT_GE(f.SetPos(2), 0);
  EXPECT_EQ(f.Read(in, 0), 5);
  EXPECT_EQ(f.Read(in, 2), 2);
  EXPECT_EQ(std::vector<u8>(in.GetPtr(), in.GetPtr() + 5), std::vector<u8>({5, 6, 2, 3, 4}));
  EXPECT_EQ(f.Read(empty, 4), 0);
}

TEST(StdFile, TruncateUnbufferedAndWriteFailures) {
  klftest::TempDir dir;
  std::string path = dir.File("t.bin");
  CKLF_StdFile f(path.c_str(), 4);
  ASSERT_EQ(f.SetUnbuffered(), 1);
  u8 b[100];
  for (int i = 0; i < 100; ++i) b[i] = static_cast<u8>(i);
  ASSERT_EQ(f.Write(b, 100), 100);
  EXPECT_EQ(klftest::ReadFileBytes(path).size(), 100u);  // on disk before any flush
  ASSERT_EQ(f.Truncate(40), 1);
  EXPECT_EQ(f.GetPos(), 40);
  ASSERT_EQ(f.Write(b, 2), 2);
  std::vector<u8> disk = klftest::ReadFileBytes(path);
  ASSERT_EQ(disk.size(), 42u);
  EXPECT_EQ(std::vector<u8>(disk.begin() + 39, disk.end()), std::vector<u8>({39, 0, 1}));
  ASSERT_EQ(f.Open(path.c_str(), 1), 1);
  EXPECT_FAILS(f, f.Truncate(0), klErrFileAccess);

  // /dev/full takes buffered bytes and fails when they reach it.
  if (!f.Open("/dev/full", 2)) return;
  ASSERT_GE(f.Write(b, 16), 0);
  EXPECT_FAILS(f, f.Flush(), klErrFileWrite);
  f.ResetError();
  ASSERT_GE(f.Write(b, 16), 0);
  EXPECT_FAILS(f, f.Close(), klErrFileWrite);
  EXPECT_EQ(f.IsOpened(), 0);
}

TEST(StdFile, NameInFolderCreatesFindsAndLaunches) {
  klftest::TempDir dir;
  KLP_FileRef folder;
  ASSERT_EQ(folder.SetPath(dir.Path().c_str()), klpNoErr);
  CKLF_StdFile f;
  // Read modes need the file; no file appears.
  EXPECT_FAILS(f, f.Open("shape.klks", &folder, 1), klErrFileOpen);
  EXPECT_EQ(f.Open("shape.klks", &folder, 3), 0);
  KLP_FileRef probe;
  EXPECT_EQ(probe.SetPath(dir.File("shape.klks").c_str()), klpErrNotFound);
  ASSERT_EQ(f.Open("shape.klks", &folder, 2), 1);
  EXPECT_EQ(f.Write("hello", 5), 5);
  ASSERT_EQ(f.Open("shape.klks", &folder, 3), 1);
  EXPECT_EQ(f.GetLength(), 5);
  ASSERT_EQ(f.Open("shape.klks", &folder, 4), 1);  // an existing file is truncated
  EXPECT_EQ(f.GetLength(), 0);

  // Bad names, a missing parent and a bad mode.
  for (const char* name : {"a/b", "", ".."}) EXPECT_EQ(f.Open(name, &folder, 2), 0) << name;
  EXPECT_EQ(f.GetError(), klErrFileOpen);
  EXPECT_EQ(f.Open("x", nullptr, 2), 0);
  EXPECT_FAILS(f, f.Open("x", &folder, 7), klErrBadArg);
  EXPECT_EQ(f.Open(static_cast<const KLP_FileRef*>(nullptr), 1), 0);

  // A reference whose path passes 1,024 bytes is refused.
  std::string path = dir.Path();
  while (path.size() <= 1024) {
    path += "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  }
  KLP_FileRef deep;
  ASSERT_EQ(deep.SetPath(path.c_str()), klpNoErr);
  EXPECT_FAILS(f, f.Open("x", &deep, 2), klErrFileOpen);

  // Documents open through the platform's launcher.
  KLP_LaunchHook old = KLP_SetLaunchHook(RecordLaunch);
  EXPECT_EQ(CKLF_StdFile::LaunchFile("shape.klks", &folder), 1);
  EXPECT_EQ(g_launched, dir.File("shape.klks"));
  EXPECT_EQ(CKLF_StdFile::LaunchFile("missing", &folder), 0);
  EXPECT_EQ(CKLF_StdFile::LaunchFile(static_cast<const KLP_FileRef*>(nullptr)), 0);
  KLP_SetLaunchHook(old);
  KLP_FileName n;  // only the system's own encoding is known
  EXPECT_EQ(CKLF_StdFile::HFSNameGetUnicodeName("abc", &n, 0), klpErrParam);
}

// A writer's failure sorted: lack of memory from its code or from the
// system after a file operation, else a write failure with the system's
// reason for a file operation and the code's text for anything else.
TEST(StdFile, WriteFailuresSorted) {
  std::string reason;
  EXPECT_EQ(KLF_WriteFailure(klErrNoMemory, 0, reason), klErrNoMemory);
  EXPECT_EQ(KLF_WriteFailure(0, ENOMEM, reason), klErrNoMemory);
  EXPECT_EQ(KLF_WriteFailure(klErrFileWrite, ENOMEM, reason), klErrNoMemory);
  EXPECT_EQ(KLF_WriteFailure(0, ENOSPC, reason), klErrFileWrite);
  EXPECT_EQ(reason, std::strerror(ENOSPC));
  EXPECT_EQ(KLF_WriteFailure(klErrFileOpen, EACCES, reason), klErrFileWrite);
  EXPECT_EQ(reason, std::strerror(EACCES));
  EXPECT_EQ(KLF_WriteFailure(klErrFileWrite, 0, reason), klErrFileWrite);
  EXPECT_EQ(reason, KLF_ErrorText(klErrFileWrite));
  EXPECT_EQ(KLF_WriteFailure(0, 0, reason), klErrFileWrite);
  EXPECT_EQ(reason, KLF_ErrorText(klErrFileWrite));
  // A writer's own code is no file operation's: its errno says nothing.
  EXPECT_EQ(KLF_WriteFailure(klErrUnsupported, ENOMEM, reason), klErrFileWrite);
  EXPECT_EQ(reason, KLF_ErrorText(klErrUnsupported));
}
