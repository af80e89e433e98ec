// The pop-up menu and the file dialog on the headless platform, whose
// answers are scripted: the menu's choice as 0x130, the open filter, the
// start folder, and saving through the writer contract.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <iterator>

#include "CKLF_PlatformFileDialog.h"
#include "CKLF_PlatformPopupMenu.h"
#include "ui/UITestUtil.h"

using Menu = CKLF_PlatformPopupMenu;

TEST_F(UIToolkitTest, PopupMenuSendsTheChosenCommand) {
  Open();
  CKLT_RecordingWindow* w = Window();
  Menu menu;
  EXPECT_FAILS(menu, menu.AddItem("Early", 1, 0, 0), klErrEmpty);
  EXPECT_FAILS(menu, menu.DoPopup(w, 0, 0, 0), klErrEmpty);
  ASSERT_EQ(menu.Create(), 1);
  EXPECT_FAILS(menu, menu.Create(), klErrBadArg);
  // A key of one character in a buffer of two: nothing past it is read.
  std::unique_ptr<char[]> key(new char[2]{'Q', 0});
  const Menu::MENUSHORTCUT quit = Menu::CreateShortcut(0, 1, 1, key.get());
  EXPECT_EQ(quit.key[0], 'Q');
  EXPECT_EQ(quit.key[1], 0);
  menu.AddItem("Open", 10, 0, 0);
  menu.AddSeparator();
  menu.AddItem("Save", 12, 1, 0, 1, 0, 0, "S");
  menu.AddItem("Quit", 13, 0, 1, &quit);
  ui.AnswerMenu(2);  // the third item
  EXPECT_EQ(menu.DoPopup(w, 10, 20, 0), 1);
  EXPECT_EQ(log.Take("msg"), "msg 0x130 -1 Menu =12");
  EXPECT_EQ(menu.DoPopup(w, 10, 20, 0), 1);  // dismissed
  ui.AnswerMenu(3);                           // disabled: as dismissed
  EXPECT_EQ(menu.DoPopup(w, 10, 20, 0), 1);
  EXPECT_EQ(log.Take("msg"), "");
  const std::vector<KLP_MenuItem>& items = ui.Log().menus.back();
  ASSERT_EQ(items.size(), 4u);
  EXPECT_TRUE(items[1].separator);
  EXPECT_EQ(menu.GetCommand(1), Menu::klSeparatorCommand);
  EXPECT_TRUE(items[2].checked && items[2].shortcutCommand && items[2].shortcutKey == 'S');
  EXPECT_TRUE(items[3].disabled && !items[3].shortcutCommand && items[3].shortcutShift && items[3].shortcutOption);
  EXPECT_EQ(ui.Log().menuPoints.back().x, 110);
  EXPECT_EQ(ui.Log().menuPoints.back().y, 125);
}

namespace {

struct Writes {
  i32 failAt = -1;  // the index whose writer fails after writing a part
  std::vector<u32> seen;
};

u8 WriteIndex(CKLF_StdFile* f, void* data, u32 index) {
  auto* w = static_cast<Writes*>(data);
  w->seen.push_back(index);
  const std::string text = "new " + std::to_string(index);
  if (f->Write(text.data(), static_cast<u32>(text.size())) < 0) return 0;
  return static_cast<i32>(index) != w->failAt;
}

u8 WriteOne(CKLF_StdFile* f, void* data) { return WriteIndex(f, data, 0); }

std::string Read(const std::string& path) {
  const std::vector<uint8_t> b = klftest::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

class FileDialogTest : public UIToolkitTest {
 protected:
  void SetUp() override {
    UIToolkitTest::SetUp();
    Open();
    w = Window();
    folder = dir.Path();
  }
  void Put(const std::string& name, const std::string& text) {
    klftest::WriteFileBytes(folder + "/" + name, std::vector<uint8_t>(text.begin(), text.end()));
  }
  klftest::TempDir dir;
  std::string folder;
  CKLT_RecordingWindow* w = nullptr;
  CKLF_PlatformFileDialog dlg;
};

TEST_F(FileDialogTest, OpenOffersFilesByExtension) {
  CKLF_StringArray ext;
  ASSERT_GE(ext.Add("klph", 0), 0);
  ASSERT_GE(ext.Add("png", 0), 0);
  ASSERT_GE(ext.Add("toolong", 0), 0);
  EXPECT_EQ(dlg.IsFileShown("x.png"), 1);  // no filter yet: every file
  ASSERT_TRUE(dlg.AddFilter("Shapes", &ext, 0x4B4C5048));
  ASSERT_TRUE(dlg.AddFilter("Nothing", nullptr, 0));
  struct Case {
    const char* name;
    u8 shown;
  } cases[] = {{"a.KLPH", 1}, {"x.klph.bak", 0}, {".klph", 0}, {"b.Png", 1}, {"klph", 0}, {"c.toolong", 0}};
  ui.AnswerFile({false, ""});
  EXPECT_EQ(dlg.DoFileOpenDialog(w, 0), 0);
  const KLP_FileQuestion& q = ui.Log().questions.back();
  for (const Case& c : cases) {
    EXPECT_EQ(dlg.IsFileShown(c.name), c.shown) << c.name;
    EXPECT_EQ(q.offer(c.name), c.shown != 0) << c.name;
  }
  Put("a.klph", "shape");
  ui.AnswerFile({true, folder});  // a folder is no file
  ui.AnswerFile({true, folder + "/a.klph"});
  EXPECT_EQ(dlg.DoFileOpenDialog(w, 0), 0);
  EXPECT_EQ(dlg.DoFileOpenDialog(w, 0), 1);
  CKLF_StdFile f;
  ASSERT_EQ(dlg.OpenFileByResult(&f, 1), 1);
  char b[5];
  EXPECT_EQ(f.Read(b, 5), 5);
  dlg.RemoveAllFilters();
  EXPECT_EQ(dlg.IsFileShown("x.klph.bak"), 1);
}

TEST_F(FileDialogTest, TheStartFolderIsBesideTheResourceFile) {
  const std::string root = st.dir.Path();
  mkdir((root + "/Shapes").c_str(), 0755);
  struct Case {
    const char* sub;
    std::string want;
  } cases[] = {{"Shapes", root + "/Shapes"}, {"Missing", root}, {nullptr, root}};
  for (const Case& c : cases) {
    EXPECT_EQ(dlg.SetDefaultPathToAppRoot(c.sub), klpNoErr);
    dlg.SetWindowTitle("Save \xE9");
    dlg.SetDefaultSaveName("Shape.klph");
    dlg.DoFileSaveDialog(WriteOne, nullptr, w, 0, 0);
    const KLP_FileQuestion& q = ui.Log().questions.back();
    EXPECT_EQ(q.folder, c.want);
    EXPECT_EQ(q.title, "Save \xC3\xA9");
    EXPECT_EQ(q.proposedName, "Shape.klph");
    EXPECT_TRUE(q.save && q.confirmReplace && !q.offer);
  }
}

TEST_F(FileDialogTest, AFailingWriterKeepsTheOriginal) {
  Put("doc.klts", "old bytes");
  Writes writes;
  writes.failAt = 0;
  ui.AnswerFile({true, folder + "/doc.klts"});
  ui.AnswerFile({true, folder + "/new.klts"});
  EXPECT_FAILS(dlg, dlg.DoFileSaveDialog(WriteOne, &writes, w, 0, 0), klErrFileWrite);
  EXPECT_EQ(dlg.DoFileSaveDialog(WriteOne, &writes, w, 0, 0), 0);
  EXPECT_EQ(Read(folder + "/doc.klts"), "old bytes");
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"doc.klts"}));
  EXPECT_EQ(dlg.HasResult(), 0);
  writes.failAt = -1;
  ui.AnswerFile({true, folder + "/doc.klts"});
  EXPECT_EQ(dlg.DoFileSaveDialog(WriteOne, &writes, w, 0, 0), 1);
  EXPECT_EQ(Read(folder + "/doc.klts"), "new 0");
  EXPECT_EQ(dlg.GetResultPath().Path(), folder + "/doc.klts");
  EXPECT_EQ(dlg.DoFileSaveDialog(WriteOne, &writes, w, 0, 0), 0);  // cancelled
  EXPECT_EQ(dlg.GetError(), 0);
  // A name as long as the system allows is saved like any other.
  const std::string longest(255, 'n');
  ui.AnswerFile({true, folder + "/" + longest});
  EXPECT_EQ(dlg.DoFileSaveDialog(WriteOne, &writes, w, 0, 0), 1);
  EXPECT_EQ(Read(folder + "/" + longest), "new 0");
  EXPECT_EQ(Names(folder).size(), 2u);
}

TEST_F(FileDialogTest, ASeriesWritesEachSuffixAndCountsThem) {
  Put("out.png", "typed");
  Put("out_b.png", "old b");
  CKLF_StringArray suffixes;
  for (const char* s : {"_a", "_b", "_c"}) ASSERT_GE(suffixes.Add(s, 0), 0);
  Writes writes;
  writes.failAt = 1;
  ui.AnswerFile({true, folder + "/out.png"});
  EXPECT_FAILS_WITH(dlg, dlg.DoFileSaveDialog_Serial(&suffixes, WriteIndex, &writes, w, 0, 0), 2u, klErrFileWrite);
  EXPECT_EQ(writes.seen, (std::vector<u32>{0, 1, 2}));
  EXPECT_FALSE(ui.Log().questions.back().confirmReplace);
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"out.png", "out_a.png", "out_b.png", "out_c.png"}));
  EXPECT_EQ(Read(folder + "/out.png"), "typed");
  EXPECT_EQ(Read(folder + "/out_a.png"), "new 0");
  EXPECT_EQ(Read(folder + "/out_b.png"), "old b");
  EXPECT_EQ(Read(folder + "/out_c.png"), "new 2");
  // No extension: the whole name is the stem; a suffix that makes no file
  // name fails alone.
  ASSERT_GE(suffixes.Add("/x", 0), 0);
  writes.failAt = -1;
  ui.AnswerFile({true, folder + "/plain"});
  EXPECT_FAILS_WITH(dlg, dlg.DoFileSaveDialog_Serial(&suffixes, WriteIndex, &writes, w, 0, 0), 3u, klErrFileOpen);
  EXPECT_EQ(Read(folder + "/plain_c"), "new 2");
}

// The path question creates nothing: the caller writes the file itself.
TEST_F(FileDialogTest, ThePathQuestionCreatesNothing) {
  Put("kept.psd", "old bytes");
  ui.AnswerFile({true, folder + "/kept.psd"});
  ASSERT_EQ(dlg.DoFileSavePathDialog(w, 1), 1);
  EXPECT_EQ(dlg.GetSavePath(), folder + "/kept.psd");
  EXPECT_TRUE(ui.Log().questions.back().save && ui.Log().questions.back().confirmReplace);
  EXPECT_EQ(Read(folder + "/kept.psd"), "old bytes");
  ui.AnswerFile({true, folder + "/new.png"});
  ASSERT_EQ(dlg.DoFileSavePathDialog(w, 0), 1);
  EXPECT_EQ(dlg.GetSavePath(), folder + "/new.png");
  EXPECT_FALSE(ui.Log().questions.back().confirmReplace);
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"kept.psd"}));
  // Cancelled: no path and no error; a folder, or a name in no folder: no
  // path and a file error.
  EXPECT_EQ(dlg.DoFileSavePathDialog(w, 1), 0);
  EXPECT_EQ(dlg.GetSavePath(), "");
  EXPECT_EQ(dlg.GetError(), 0);
  ui.AnswerFile({true, folder});
  EXPECT_FAILS(dlg, dlg.DoFileSavePathDialog(w, 1), klErrFileOpen);
  ui.AnswerFile({true, folder + "/missing/a.psd"});
  EXPECT_FAILS(dlg, dlg.DoFileSavePathDialog(w, 1), klErrFileOpen);
  EXPECT_EQ(dlg.GetSavePath(), "");
}

// A menu or a file question the platform has no memory for is told to the
// user once, over the window, and ends in error 17 with nothing done: no
// command sent, no writer run, no file.
TEST_F(FileDialogTest, AQuestionWithoutMemoryIsToldAndDoesNothing) {
  Menu menu;
  ASSERT_EQ(menu.Create(), 1);
  menu.AddItem("Open", 10, 0, 0);
  CKLF_StringArray suffixes;
  ASSERT_GE(suffixes.Add("_a", 0), 0);
  Writes writes;
  const KLP_FileAnswer failed = {false, "", true};
  const std::function<u32()> asks[] = {
      [&] { return ui.AnswerMenu(klpMenuFailed), menu.DoPopup(w, 0, 0, 0); },
      [&] { return ui.AnswerFile(failed), dlg.DoFileOpenDialog(w, 0); },
      [&] { return ui.AnswerFile(failed), dlg.DoFileSaveDialog(WriteOne, &writes, w, 0, 0); },
      [&] { return ui.AnswerFile(failed), dlg.DoFileSaveDialog_Serial(&suffixes, WriteIndex, &writes, w, 0, 0); },
      [&] { return ui.AnswerFile(failed), dlg.DoFileSavePathDialog(w, 1); }};
  for (size_t i = 0; i < std::size(asks); ++i) {
    SCOPED_TRACE(i);
    const size_t told = ui.Log().alerts.size();
    EXPECT_EQ(asks[i](), 0u);
    EXPECT_EQ((i ? dlg.GetError() : menu.GetError()), klErrNoMemory);
    ASSERT_EQ(ui.Log().alerts.size(), told + 1);
    EXPECT_EQ(ui.Log().alerts.back().second, "Memory allocation problem...");
    EXPECT_EQ(ui.Log().alertParents.back(), w->GetWindowHandle());
  }
  EXPECT_EQ(log.Take("msg"), "");
  EXPECT_TRUE(writes.seen.empty() && Names(folder).empty());
}
