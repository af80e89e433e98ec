#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KLP_File.h"
#include "support/TestSupport.h"

namespace {

KLP_FileName Name(const char* s) {
  KLP_FileName n;
  EXPECT_EQ(KLP_ConvertFileName(s, &n), klpNoErr) << s;
  return n;
}

std::string g_launched;
int32_t RecordLaunch(const char* path) {
  g_launched = path;
  return klpNoErr;
}
int32_t FailLaunch(const char*) { return klpErrLaunch; }

}  // namespace

TEST(FileName, RefusesWhatNoFolderEntryCanBe) {
  std::string cut;  // 255 bytes of two-byte characters, the last one cut
  for (int i = 0; i < 127; ++i) cut += "\u00e9";
  const std::string good[] = {"plugin.conf", "...", std::string(255, 'a'), "Pi\u00e8ce \U0001F9E9"};
  // Too long; "/", "." and ".."; broken, overlong, surrogate and beyond
  // U+10FFFF sequences.
  std::vector<std::string> bad = {std::string(256, 'a'), cut + "\xC3"};
  for (const char* b :
       {"a/b", ".", "..", "bad\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF"})
    bad.push_back(b);
  for (auto& name : good) {
    KLP_FileName n;
    EXPECT_EQ(KLP_ConvertFileName(name.c_str(), &n), klpNoErr) << name;
    EXPECT_EQ(std::string(n.bytes, n.length), name);
  }
  for (auto& name : bad) {
    KLP_FileName n;
    n.length = 7;
    EXPECT_EQ(KLP_ConvertFileName(name.c_str(), &n), klpErrBadName) << name;
    EXPECT_EQ(n.length, 0u) << name;
  }
  // Empty means "no name": no error, length 0.
  KLP_FileName n;
  n.length = 7;
  EXPECT_EQ(KLP_ConvertFileName("", &n), klpNoErr);
  EXPECT_EQ(n.length, 0u);
  EXPECT_EQ(KLP_ConvertFileName("x", nullptr), klpErrParam);
}

TEST(FileRef, PathsAreAbsoluteExistingAndCopiedWithinTheBuffer) {
  klftest::TempDir dir;
  KLP_FileRef ref;
  EXPECT_EQ(ref.SetPath("relative/path"), klpErrParam);
  EXPECT_EQ(ref.SetPath(nullptr), klpErrParam);
  EXPECT_EQ(ref.SetPath(dir.File("missing").c_str()), klpErrNotFound);
  EXPECT_FALSE(ref.IsSet());
  ASSERT_EQ(ref.SetPath(dir.Path().c_str()), klpNoErr);

  // The buffer must take the NUL as well.
  char buf[1025];
  uint32_t need = static_cast<uint32_t>(dir.Path().size() + 1);
  EXPECT_EQ(KLP_RefMakePath(ref, buf, need - 1), klpErrParam);
  ASSERT_EQ(KLP_RefMakePath(ref, buf, need), klpNoErr);
  EXPECT_EQ(std::string(buf), dir.Path());
  EXPECT_EQ(KLP_RefMakePath(KLP_FileRef(), buf, sizeof(buf)), klpErrParam);
}

TEST(FileRef, CreateIsExclusiveAndLookupNeedsTheFile) {
  klftest::TempDir dir;
  KLP_FileRef folder, child, found;
  ASSERT_EQ(folder.SetPath(dir.Path().c_str()), klpNoErr);
  EXPECT_EQ(KLP_MakeChildRef(folder, Name("a.kls4"), &child), klpErrNotFound);
  ASSERT_EQ(KLP_CreateFile(folder, Name("a.kls4"), &child), klpNoErr);
  EXPECT_EQ(child.Path(), dir.File("a.kls4"));
  // A second create of the same name is refused and leaves the file alone.
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("a.kls4"), {1, 2, 3}));
  EXPECT_EQ(KLP_CreateFile(folder, Name("a.kls4"), nullptr), klpErrExists);
  EXPECT_EQ(klftest::ReadFileBytes(dir.File("a.kls4")).size(), 3u);
  ASSERT_EQ(KLP_MakeChildRef(folder, Name("a.kls4"), &found), klpNoErr);
  EXPECT_EQ(found.Path(), child.Path());

  // An empty name, a parent that is a file, or an unset parent fail.
  EXPECT_EQ(KLP_CreateFile(folder, Name(""), nullptr), klpErrBadName);
  EXPECT_EQ(KLP_MakeChildRef(folder, Name(""), &found), klpErrBadName);
  EXPECT_EQ(KLP_CreateFile(child, Name("b"), nullptr), klpErrNotFound);
  EXPECT_EQ(KLP_CreateFile(KLP_FileRef(), Name("b"), nullptr), klpErrParam);
  EXPECT_EQ(found.SetPath(dir.File("b").c_str()), klpErrNotFound);
}

TEST(FileRef, LaunchGoesThroughTheHook) {
  klftest::TempDir dir;
  KLP_FileRef folder, doc;
  ASSERT_EQ(folder.SetPath(dir.Path().c_str()), klpNoErr);
  ASSERT_EQ(KLP_CreateFile(folder, Name("help.html"), &doc), klpNoErr);
  KLP_LaunchHook old = KLP_SetLaunchHook(RecordLaunch);
  EXPECT_EQ(KLP_LaunchFile(doc), klpNoErr);
  EXPECT_EQ(g_launched, dir.File("help.html"));
  EXPECT_EQ(KLP_LaunchFile(KLP_FileRef()), klpErrParam);
  KLP_SetLaunchHook(FailLaunch);
  EXPECT_EQ(KLP_LaunchFile(doc), klpErrLaunch);
  // The hook set before is handed back.
  EXPECT_EQ(KLP_SetLaunchHook(nullptr), &FailLaunch);
  KLP_SetLaunchHook(old);
}

TEST(FileRef, OnlyWebAndMailLinksAreLaunched) {
  KLP_LaunchHook old = KLP_SetLaunchHook(RecordLaunch);
  const struct {
    const char* url;
    int32_t status;
  } cases[] = {
      {"https://kelvanos.example/tessarette", klpNoErr},
      {"HTTP://example.org/a?b=c&d=%20", klpNoErr},
      {"mailto:support@example.org", klpNoErr},
      {"-e/bin/sh", klpErrParam},              // would read as an option
      {"file:///etc/passwd", klpErrParam},     // a local file is not a link
      {"/usr/bin/xterm", klpErrParam},
      {"https://", klpErrParam},               // a scheme alone
      {"https://a b", klpErrParam},            // a blank splits it
      {"https://a\tb", klpErrParam},
      {"https://caf\xe9.example", klpErrParam},  // not ASCII
      {"", klpErrParam},
  };
  for (const auto& c : cases) {
    g_launched.clear();
    EXPECT_EQ(KLP_LaunchURL(c.url), c.status) << c.url;
    EXPECT_EQ(g_launched, c.status == klpNoErr ? std::string(c.url) : std::string()) << c.url;
  }
  EXPECT_EQ(KLP_LaunchURL(nullptr), klpErrParam);
  KLP_SetLaunchHook(old);
}

namespace {

// PATH with a folder first for the test's time.
class PathFirst {
 public:
  explicit PathFirst(const std::string& folder, bool alone = false) {
    const char* p = std::getenv("PATH");
    m_old = p ? p : "";
    setenv("PATH", alone ? folder.c_str() : (folder + ":" + m_old).c_str(), 1);
  }
  ~PathFirst() { setenv("PATH", m_old.c_str(), 1); }

 private:
  std::string m_old;
};

bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 2000; ++i) {
    if (access(path.c_str(), F_OK) == 0) return true;
    usleep(10000);
  }
  return false;
}

}  // namespace

TEST(FileRef, DefaultLauncherRunsDetachedAndReportsOnlyAFailedStart) {
  klftest::TempDir dir;
  // A launcher that stays until the test lets it go (giving up, and failing,
  // after 20 s): a caller that waits for it would see it fail.
  const std::string script = dir.File("xdg-open");
  FILE* f = std::fopen(script.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fprintf(f,
               "#!/bin/sh\n"
               "echo \"$1\" > '%s/started'\n"
               "i=0; while [ ! -e '%s/go' ] && [ $i -lt 200 ]; do sleep 0.1; i=$((i+1)); done\n"
               "[ -e '%s/go' ] || exit 1\n"
               "touch '%s/done'\n",
               dir.Path().c_str(), dir.Path().c_str(), dir.Path().c_str(), dir.Path().c_str());
  std::fclose(f);
  ASSERT_EQ(chmod(script.c_str(), 0755), 0);
  KLP_LaunchHook old = KLP_SetLaunchHook(nullptr);
  {
    PathFirst path(dir.Path());
    EXPECT_EQ(KLP_LaunchURL("https://example.org/help"), klpNoErr);
    // Still running: the caller went on without it.
    EXPECT_FALSE(access(dir.File("done").c_str(), F_OK) == 0);
    ASSERT_TRUE(WaitForFile(dir.File("started")));
    std::fclose(std::fopen(dir.File("go").c_str(), "w"));
    EXPECT_TRUE(WaitForFile(dir.File("done")));
  }
  {
    klftest::TempDir empty;
    PathFirst path(empty.Path(), true);
    EXPECT_EQ(KLP_LaunchURL("https://example.org/help"), klpErrLaunch);
  }
  KLP_SetLaunchHook(old);
}
