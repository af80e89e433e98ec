#include "CKLF_PlatformFileDialog.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "CKLF_App.h"
#include "CKLF_Window.h"
#include "CKLP_ReplaceFile.h"

namespace {

constexpr u32 kMaxExtension = 5;

bool EndsWithNoCase(const char* name, size_t n, const char* tail, size_t t) {
  for (size_t i = 0; i < t; ++i) {
    char a = name[n - t + i], b = tail[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

}  // namespace

CKLF_PlatformFileDialog::CKLF_PlatformFileDialog() : m_fileType(0), m_creator(0) {}

CKLF_PlatformFileDialog::~CKLF_PlatformFileDialog() {}

// Filters

u8 CKLF_PlatformFileDialog::AddFilter(const char*, const CKLF_StringArray* extensions, u32 typeCode) {
  for (u32 i = 0; extensions && i < extensions->GetSize(); ++i)
    if (m_extensions.Add(*extensions->GetPtrAt(i), 0) < 0) return FailFrom(m_extensions, klErrNoMemory);
  return m_typeCodes.Add(typeCode) < 0 ? FailFrom(m_typeCodes, klErrNoMemory) : 1;
}

void CKLF_PlatformFileDialog::RemoveAllFilters() {
  m_extensions.Empty();
  m_typeCodes.Empty();
}

u8 CKLF_PlatformFileDialog::IsFileShown(const char* name) const {
  if (m_extensions.GetSize() == 0) return 1;
  if (!name) return 0;
  const size_t n = std::strlen(name);
  for (u32 i = 0; i < m_extensions.GetSize(); ++i) {
    const CKLF_String* e = m_extensions.GetPtrAt(i);
    const size_t t = e->GetLength();
    if (t > kMaxExtension || n <= t + 1 || name[n - t - 1] != '.') continue;
    if (EndsWithNoCase(name, n, e->GetStr(), t)) return 1;
  }
  return 0;
}

i32 CKLF_PlatformFileDialog::SetDefaultPathToAppRoot(const char* subfolder) {
  const KLP_FileRef root = m_App ? m_App->GetStorageFolder() : KLP_FileRef();
  if (!root.IsSet()) return klpErrNotFound;
  m_defaultFolder = root;
  KLP_FileName name;
  KLP_FileRef sub;
  if (subfolder && KLP_ConvertFileName(subfolder, &name) == klpNoErr && name.length > 0 &&
      KLP_MakeChildRef(root, name, &sub) == klpNoErr && KLP_IsFolder(sub))
    m_defaultFolder = sub;
  return klpNoErr;
}

// Questions

KLP_FileAnswer CKLF_PlatformFileDialog::i_Ask(u8 save, CKLF_Window* parent, bool confirmReplace) {
  m_result.Clear();
  CKLP_UIPlatform* ui = KLP_GetUI();
  if (!ui) return {};
  KLP_FileAnswer a;
  try {
    KLP_FileQuestion q;
    q.save = save != 0;
    q.parent = parent ? parent->GetWindowHandle() : 0;
    q.title = KLP_Latin1ToUTF8(m_title);
    q.folder = KLP_IsFolder(m_defaultFolder) ? m_defaultFolder.Path() : std::string();
    if (save) q.proposedName = m_saveName;
    q.confirmReplace = confirmReplace;
    if (!save && m_extensions.GetSize() > 0) q.offer = [this](const std::string& n) { return IsFileShown(n.c_str()) != 0; };
    a = ui->AskFile(q);
  } catch (const std::bad_alloc&) {  // the question's texts, or a name offered
    a = KLP_FileAnswer();
    a.failed = true;
  }
  return a;
}

u8 CKLF_PlatformFileDialog::i_NoMemory(CKLF_Window* parent) {
  if (m_App) m_App->PlatformMessageBox("Memory allocation problem...", "Error!", parent);
  return Fail(klErrNoMemory);
}

u8 CKLF_PlatformFileDialog::DoFileOpenDialog(CKLF_Window* parent, u8) {
  ResetError();
  const KLP_FileAnswer a = i_Ask(0, parent, true);
  if (a.failed) return i_NoMemory(parent);
  KLP_FileRef chosen;
  if (!a.chosen || chosen.SetPath(a.path.c_str()) != klpNoErr || KLP_IsFolder(chosen)) return 0;
  m_result = chosen;
  return 1;
}

u8 CKLF_PlatformFileDialog::OpenFileByResult(CKLF_StdFile* file, u32 mode) {
  if (!file || !m_result.IsSet()) return Fail(klErrEmpty);
  return file->Open(&m_result, mode) ? 1 : FailFrom(*file, klErrFileOpen);
}

// Saving

u8 CKLF_PlatformFileDialog::i_WriteSafely(const std::string& path, const std::function<u8(CKLF_StdFile*)>& write) {
  CKLP_ReplaceFile replace;
  std::string reason;
  if (!replace.Begin(path, reason)) return Fail(errno == ENOMEM ? klErrNoMemory : klErrFileOpen);
  CKLF_StdFile file;
  if (!file.Open(CKLF_String(replace.TempPath().c_str()), 3)) return FailFrom(file, klErrFileOpen);
  const u8 written = write(&file);
  // A write error may surface only when the stream closes.
  const u8 closed = file.Close();
  if (!written) return Fail(klErrFileWrite);
  if (!closed) return FailFrom(file, klErrFileWrite);
  if (!replace.Commit(reason)) return Fail(klErrFileWrite);
  if (m_result.SetPath(replace.Target().c_str()) != klpNoErr) return Fail(klErrFileWrite);
  return 1;
}

u8 CKLF_PlatformFileDialog::DoFileSaveDialog(KLF_FileWriter writer, void* data, CKLF_Window* parent, u32 fileType,
                                             u32 creator) {
  ResetError();
  m_result.Clear();
  if (!writer) return Fail(klErrBadArg);
  m_fileType = fileType;
  m_creator = creator;
  const KLP_FileAnswer a = i_Ask(1, parent, true);
  if (a.failed) return i_NoMemory(parent);
  if (!a.chosen) return 0;
  if (i_WriteSafely(a.path, [&](CKLF_StdFile* f) { return writer(f, data); })) return 1;
  return GetError() == klErrNoMemory ? i_NoMemory(parent) : 0;
}

u32 CKLF_PlatformFileDialog::DoFileSaveDialog_Serial(const CKLF_StringArray* suffixes, KLF_SerialFileWriter writer,
                                                     void* data, CKLF_Window* parent, u32 fileType, u32 creator) {
  ResetError();
  m_result.Clear();
  if (!suffixes || !writer) return Fail(klErrBadArg, 0u);
  m_fileType = fileType;
  m_creator = creator;
  // The typed name is never written, so replacing it needs no question.
  const KLP_FileAnswer a = i_Ask(1, parent, false);
  KLP_FileRef folder;
  KLP_FileName typed;
  if (a.failed) return i_NoMemory(parent);
  if (!a.chosen) return 0;
  if (KLP_SplitPath(a.path.c_str(), &folder, &typed) != klpNoErr) return Fail(klErrFileOpen, 0u);
  const std::string name(typed.bytes, typed.length);
  const size_t dot = name.rfind('.');
  const std::string stem = name.substr(0, dot), extension = dot == std::string::npos ? "" : name.substr(dot);
  u32 written = 0;
  u16 firstError = 0;
  for (u32 i = 0; i < suffixes->GetSize(); ++i) {
    const std::string file = stem + (*suffixes)[i].GetStr() + extension;
    KLP_FileName fileName;
    std::string path;
    const bool named = KLP_ConvertFileName(file.c_str(), &fileName) == klpNoErr &&
                       KLP_ChildPath(folder, fileName, &path) == klpNoErr;
    if (named && i_WriteSafely(path, [&](CKLF_StdFile* f) { return writer(f, data, i); })) ++written;
    else if (!firstError) firstError = named ? GetError() : static_cast<u16>(klErrFileOpen);
  }
  if (firstError == klErrNoMemory) (void)i_NoMemory(parent);
  return firstError ? Fail(firstError, written) : written;
}

u8 CKLF_PlatformFileDialog::DoFileSavePathDialog(CKLF_Window* parent, u8 confirmReplace) {
  ResetError();
  m_savePath.clear();
  const KLP_FileAnswer a = i_Ask(1, parent, confirmReplace != 0);
  if (a.failed) return i_NoMemory(parent);
  if (!a.chosen) return 0;
  KLP_FileRef folder, chosen;
  KLP_FileName name;
  if (KLP_SplitPath(a.path.c_str(), &folder, &name) != klpNoErr ||
      (chosen.SetPath(a.path.c_str()) == klpNoErr && KLP_IsFolder(chosen)))
    return Fail(klErrFileOpen);
  m_savePath = a.path;
  return 1;
}
