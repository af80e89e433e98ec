// The preset manager's operations on the library, the file dialogs of
// shapes and shape sets, and the two ways in from the Cutter.
#include <cstring>

#include "CKLF_App.h"
#include "CKLF_CtrlList.h"
#include "CKLF_PlatformFileDialog.h"
#include "CKnifeShapeFile.h"
#include "CShapeSetFile.h"
#include "CWnd_PresetsManager.h"
#include "CWnd_ShapeName.h"

namespace {

const char kSetFilter[] = "Kelvanos Tessarette Shapes Set (.klpk)";
const char kSetsFolder[] = "shapes sets";
const char kPositionParent[] = "Pres Mng";

// 0 without memory for the filter.
u8 OneFilter(CKLF_PlatformFileDialog& dialog, const char* filter, const char* extension, u32 type) {
  CKLF_StringArray extensions;
  return extensions.Add(CKLF_String(extension), 0) >= 0 && dialog.AddFilter(filter, &extensions, type);
}

const char kMemoryProblem[] = "Memory allocation problem...";

// Alerts of a library opened without the preset manager.
struct AlertOver : CPresetsWindowPort {
  explicit AlertOver(CKLF_Window* w) : window(w) {}
  void Alert(const char* text, const char* title) override {
    if (m_App) m_App->PlatformMessageBox(text, title, window);
  }
  CKLF_Window* window;
};

}  // namespace

i32 CWnd_PresetsManager::Open(CKLF_Window* cutterWindow, CCutterServices* cutter, CCutterMainPort* main,
                              CCutterFilesPort* files) {
  CWnd_PresetsManager manager(cutter, main, files);
  const i32 result = manager.Run("PresMng", cutterWindow);
  manager.WriteLibrary();
  return result;
}

u8 CWnd_PresetsManager::AddCutterShape(CKLF_Window* cutterWindow, CCutterServices* cutter, CCutterMainPort* main,
                                      CCutterFilesPort* files) {
  if (!cutter) return 0;
  CKLF_String name;
  if (!CWnd_ShapeName::AskName(cutterWindow, "Cutter", main, name)) return 0;
  CCutterServices::SPLINE_STRUCT shape;
  std::memset(&shape, 0, sizeof(shape));
  cutter->GetShape(shape);
  CPluginFolderFiles folder(m_App && !files ? m_App->GetStorageFolder() : KLP_FileRef());
  AlertOver alerts(cutterWindow);
  CPresetsLibrary library(files ? files : &folder, &alerts);
  // A shape added before the manager ever opened joins the default set,
  // which an existing presets file would keep from being seeded.
  library.initialLastUsedSetCheck(m_App ? m_App->GetStorage() : nullptr);
  return library.ShapeMng_AddShape(name.GetStr(), shape);
}

// ---- The library's ports.

void CWnd_PresetsManager::Alert(const char* text, const char* title) {
  if (m_App) m_App->PlatformMessageBox(text, title, this);
}

// Shown at once, without the fade: a set is being written.
void CWnd_PresetsManager::SetStatus(const char* text) {
  auto* status = static_cast<CKLF_CtrlStaticText*>(GetCtrl(kStatus));
  if (!status) return;
  status->SetText(text);
  status->SetOpacity(255);
  status->Redraw();
  ForceRedrawRect(status->GetRenderRect());
}

// ---- Operations on the records.

void CWnd_PresetsManager::opToCutter() { m_lib.opToCutter(m_cutter); }

void CWnd_PresetsManager::opRenameShape(i32 index) {
  if (index < 0) index = m_lib.GetFirstSelected();
  if (index < 0 || static_cast<u32>(index) >= m_lib.GetCount()) return;
  CKLF_String name(m_lib.GetName(static_cast<u32>(index)));
  if (!CWnd_ShapeName::AskName(this, kPositionParent, m_main, name)) return;
  m_lib.opRenameShape(index, name.GetStr());
  i_Refresh(0);
}

void CWnd_PresetsManager::opDeleteShape() {
  m_lib.opDeleteShape();
  i_Refresh(1);
}

void CWnd_PresetsManager::opSort() {
  m_lib.opSort();
  i_Refresh(1);
}

void CWnd_PresetsManager::opSelectAll() {
  const u32 n = i_List()->GetItemsCount();
  if (n) i_List()->SelectItems(0, n - 1, 0, 0, 1, 1, 1);
}

void CWnd_PresetsManager::opInvertSelection() {
  const u32 n = i_List()->GetItemsCount();
  if (n) i_List()->SelectItems(0, n - 1, 0, 1, 1, 1, 1);
}

// ---- Files.

void CWnd_PresetsManager::opLoadShape() {
  CKLF_PlatformFileDialog dialog;
  if (!OneFilter(dialog, "Kelvanos Tessarette Knife Shape (.klph)", "klph", CKnifeShapeFile::kFileType))
    return Alert(kMemoryProblem, "Error!");
  dialog.SetDefaultPathToAppRoot("shapes");
  dialog.SetWindowTitle("Load Knife Shape...");
  if (!dialog.DoFileOpenDialog(this, 0)) return;
  CKLF_StdFile file;
  CPresetsLibrary::SHAPE shape;
  if (!dialog.OpenFileByResult(&file, 1) || !m_lib.ReadShapeFile(&file, shape)) return;
  CKLF_String name("New Shape");
  if (!CWnd_ShapeName::AskName(this, kPositionParent, m_main, name)) return;
  m_lib.opAddShape(name.GetStr(), shape);
  i_Refresh(0);
}

u8 CWnd_PresetsManager::stSaveSetToFile(CKLF_StdFile* file, void* window) {
  return window ? static_cast<CWnd_PresetsManager*>(window)->m_lib.stSaveSetToFile(file) : 0;
}

void CWnd_PresetsManager::opSaveSet() {
  CKLF_PlatformFileDialog dialog;
  if (!OneFilter(dialog, kSetFilter, "klpk", CShapeSetFile::kFileType)) return Alert(kMemoryProblem, "Error!");
  dialog.SetDefaultPathToAppRoot(kSetsFolder);
  dialog.SetDefaultSaveName("Untitled.klpk");
  dialog.SetWindowTitle("Save Set As...");
  dialog.DoFileSaveDialog(stSaveSetToFile, this, this, CShapeSetFile::kFileType, 0);
}

void CWnd_PresetsManager::opLoadSet(u8 replace) {
  CKLF_PlatformFileDialog dialog;
  if (!OneFilter(dialog, kSetFilter, "klpk", CShapeSetFile::kFileType)) return Alert(kMemoryProblem, "Error!");
  dialog.SetDefaultPathToAppRoot(kSetsFolder);
  dialog.SetWindowTitle(replace ? "Replace Set..." : "Append Set...");
  if (!dialog.DoFileOpenDialog(this, 1)) return;
  CKLF_StdFile file;
  if (!dialog.OpenFileByResult(&file, 1)) {
    Alert("Error reading data file...", "Error!");
    return;
  }
  m_lib.opLoadSet(&file, replace);
  i_Refresh(0);
}
