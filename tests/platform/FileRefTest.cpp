#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>

#include "KLP_File.h"
#include "support/TestSupport.h"

namespace {

KLP_FileName Name(const char* s) {
  KLP_FileName n;
  EXPECT_EQ(KLP_ConvertFileName(s, &n), klpNoErr) << s;
  return n;
}

bool Exists(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0;
}

std::string g_launched;
int32_t RecordLaunch(const char* path) {
  g_launched = path;
  return klpNoErr;
}
int32_t FailLaunch(const char*) { return klpErrLaunch; }

}  // namespace

TEST(FileName, RefusesWhatNoFolderEntryCanBe) {
  KLP_FileName n;
  EXPECT_EQ(KLP_ConvertFileName("plugin.conf", &n), klpNoErr);
  EXPECT_EQ(n.length, 11u);
  EXPECT_EQ(std::memcmp(n.bytes, "plugin.conf", 11), 0);

  // Empty means "no name": no error, length 0.
  n.length = 7;
  EXPECT_EQ(KLP_ConvertFileName("", &n), klpNoErr);
  EXPECT_EQ(n.length, 0u);
  EXPECT_EQ(KLP_ConvertFileName("x", nullptr), klpErrParam);

  EXPECT_EQ(KLP_ConvertFileName("a/b", &n), klpErrBadName);
  EXPECT_EQ(n.length, 0u);
  EXPECT_EQ(KLP_ConvertFileName(".", &n), klpErrBadName);
  EXPECT_EQ(KLP_ConvertFileName("..", &n), klpErrBadName);
  EXPECT_EQ(KLP_ConvertFileName("...", &n), klpNoErr);

  std::string longest(255, 'a');
  EXPECT_EQ(KLP_ConvertFileName(longest.c_str(), &n), klpNoErr);
  EXPECT_EQ(n.length, 255u);
  std::string tooLong(256, 'a');
  EXPECT_EQ(KLP_ConvertFileName(tooLong.c_str(), &n), klpErrBadName);

  // UTF-8: accented and 4-byte forms pass; broken, overlong and surrogate
  // sequences do not.
  EXPECT_EQ(KLP_ConvertFileName("Pi\xC3\xA8" "ce \xF0\x9F\xA7\xA9", &n), klpNoErr);
  EXPECT_EQ(KLP_ConvertFileName("bad\xC3", &n), klpErrBadName);
  EXPECT_EQ(KLP_ConvertFileName("\xC0\xAF", &n), klpErrBadName);
  EXPECT_EQ(KLP_ConvertFileName("\xE0\x80\xAF", &n), klpErrBadName);
  EXPECT_EQ(KLP_ConvertFileName("\xED\xA0\x80", &n), klpErrBadName);
  EXPECT_EQ(KLP_ConvertFileName("\xF4\x90\x80\x80", &n), klpErrBadName);
  EXPECT_EQ(KLP_ConvertFileName("\xFF", &n), klpErrBadName);
  // 255 bytes of two-byte characters cut in the middle of the last one.
  std::string cut;
  for (int i = 0; i < 127; ++i) cut += "\xC3\xA9";
  cut += "\xC3";
  EXPECT_EQ(cut.size(), 255u);
  EXPECT_EQ(KLP_ConvertFileName(cut.c_str(), &n), klpErrBadName);
}

TEST(FileRef, PathsAreAbsoluteAndExisting) {
  klftest::TempDir dir;
  KLP_FileRef ref;
  EXPECT_FALSE(ref.IsSet());
  EXPECT_EQ(ref.SetPath("relative/path"), klpErrParam);
  EXPECT_EQ(ref.SetPath(nullptr), klpErrParam);
  EXPECT_EQ(ref.SetPath(dir.File("missing").c_str()), klpErrNotFound);
  EXPECT_FALSE(ref.IsSet());
  ASSERT_EQ(ref.SetPath(dir.Path().c_str()), klpNoErr);

  char buf[1025];
  ASSERT_EQ(KLP_RefMakePath(ref, buf, sizeof(buf)), klpNoErr);
  EXPECT_EQ(std::string(buf), dir.Path());
  // The buffer must take the NUL as well.
  EXPECT_EQ(KLP_RefMakePath(ref, buf, static_cast<uint32_t>(dir.Path().size())), klpErrParam);
  EXPECT_EQ(KLP_RefMakePath(ref, buf, static_cast<uint32_t>(dir.Path().size() + 1)), klpNoErr);
  EXPECT_EQ(KLP_RefMakePath(KLP_FileRef(), buf, sizeof(buf)), klpErrParam);
}

TEST(FileRef, CreateIsExclusiveAndLookupNeedsTheFile) {
  klftest::TempDir dir;
  KLP_FileRef folder;
  ASSERT_EQ(folder.SetPath(dir.Path().c_str()), klpNoErr);

  KLP_FileRef child;
  EXPECT_EQ(KLP_MakeChildRef(folder, Name("a.kls4"), &child), klpErrNotFound);
  ASSERT_EQ(KLP_CreateFile(folder, Name("a.kls4"), &child), klpNoErr);
  EXPECT_EQ(child.Path(), dir.File("a.kls4"));
  EXPECT_TRUE(Exists(dir.File("a.kls4")));

  // A second create of the same name is refused and leaves the file alone.
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("a.kls4"), {1, 2, 3}));
  EXPECT_EQ(KLP_CreateFile(folder, Name("a.kls4"), nullptr), klpErrExists);
  EXPECT_EQ(klftest::ReadFileBytes(dir.File("a.kls4")).size(), 3u);

  KLP_FileRef found;
  ASSERT_EQ(KLP_MakeChildRef(folder, Name("a.kls4"), &found), klpNoErr);
  EXPECT_EQ(found.Path(), child.Path());

  // An empty name, a parent that is a file, or an unset parent fail.
  KLP_FileName none;
  KLP_ConvertFileName("", &none);
  EXPECT_EQ(KLP_CreateFile(folder, none, nullptr), klpErrBadName);
  EXPECT_EQ(KLP_MakeChildRef(folder, none, &found), klpErrBadName);
  EXPECT_EQ(KLP_CreateFile(child, Name("b"), nullptr), klpErrNotFound);
  EXPECT_EQ(KLP_CreateFile(KLP_FileRef(), Name("b"), nullptr), klpErrParam);
  EXPECT_FALSE(Exists(dir.File("b")));
}

TEST(FileRef, LaunchGoesThroughTheHook) {
  klftest::TempDir dir;
  KLP_FileRef folder;
  ASSERT_EQ(folder.SetPath(dir.Path().c_str()), klpNoErr);
  KLP_FileRef doc;
  ASSERT_EQ(KLP_CreateFile(folder, Name("help.html"), &doc), klpNoErr);

  KLP_LaunchHook old = KLP_SetLaunchHook(RecordLaunch);
  g_launched.clear();
  EXPECT_EQ(KLP_LaunchFile(doc), klpNoErr);
  EXPECT_EQ(g_launched, dir.File("help.html"));
  EXPECT_EQ(KLP_LaunchFile(KLP_FileRef()), klpErrParam);

  KLP_SetLaunchHook(FailLaunch);
  EXPECT_EQ(KLP_LaunchFile(doc), klpErrLaunch);
  // Null restores the default, and the hook set before is handed back.
  EXPECT_EQ(KLP_SetLaunchHook(nullptr), &FailLaunch);
  KLP_SetLaunchHook(old);
}
