// The open and save file questions of the whole system: a filter by file
// extension, a start folder (by default beside the UI resource file), a
// proposed name and, for saving, a writer the caller supplies. The platform
// asks the user; the filter rule and the file work are here.
//
// Writer contract: the writer gets the new file open for reading and
// writing and answers 1 when it wrote it all. The content goes to a
// temporary file beside the target, renamed over it only when the writer
// succeeded and the file closed cleanly; otherwise the temporary file is
// removed and an existing file stays as it was. A series writes one file
// per suffix (stem + suffix + extension of the typed name), each replaced
// the same way, and never touches the file of the typed name itself.
//
// Mac file types and creators have no meaning on Linux: they are accepted
// and kept, but extensions alone decide what is offered, and nothing is
// stamped on saved files. Package folders are folders here.
#pragma once

#include <functional>
#include <string>

#include "CKLF_Array.h"
#include "CKLF_StdFile.h"
#include "CKLP_UIPlatform.h"

class CKLF_Window;

typedef u8 (*KLF_FileWriter)(CKLF_StdFile* file, void* data);
typedef u8 (*KLF_SerialFileWriter)(CKLF_StdFile* file, void* data, u32 index);

class CKLF_PlatformFileDialog : public CKLF_FrameWork {
 public:
  CKLF_PlatformFileDialog();
  ~CKLF_PlatformFileDialog() override;

  // Appends every extension (without the dot) and the type code; the name
  // is not used; a null array adds no extension.
  // 0 without memory for the filter.
  [[nodiscard]] u8 AddFilter(const char* name, const CKLF_StringArray* extensions, u32 typeCode);
  void RemoveAllFilters();
  // Whether the open question offers a file of that name: with extension e,
  // the name is longer than e plus its dot, e has at most 5 characters and
  // the name ends in "." + e, case aside. Without extensions every file is.
  u8 IsFileShown(const char* name) const;

  void SetDefaultPath(const KLP_FileRef& folder) { m_defaultFolder = folder; }
  // The folder of the UI resource file, or its sub-folder of that name when
  // it exists. A platform status (klpErrNotFound without an open store).
  i32 SetDefaultPathToAppRoot(const char* subfolder);
  // Texts in the toolkit's Latin-1; the name is a file name (UTF-8).
  void SetWindowTitle(const char* title) { m_title = title ? title : ""; }
  void SetDefaultSaveName(const char* name) { m_saveName = name ? name : ""; }

  // Each question below that runs out of memory itself (the platform's
  // question, its answer, or the file it replaces) tells the user, and
  // gives 0 with error 17.
  //
  // 1 when a file (not a folder) was chosen.
  u8 DoFileOpenDialog(CKLF_Window* parent, u8 packages);
  // 1 when the chosen file was written; 0 when cancelled (no error) or with
  // the error of the failed write (the original file kept).
  u8 DoFileSaveDialog(KLF_FileWriter writer, void* data, CKLF_Window* parent, u32 fileType, u32 creator);
  // The number of files written, in suffix order; when one failed, error
  // 33 (or its own file error) is left and the count is below the
  // suffixes'. 0 also when cancelled.
  u32 DoFileSaveDialog_Serial(const CKLF_StringArray* suffixes, KLF_SerialFileWriter writer, void* data,
                              CKLF_Window* parent, u32 fileType, u32 creator);
  // The save question alone, for a caller that writes (and safely
  // replaces) its files itself: 1 with the chosen path (GetSavePath) and
  // nothing created; 0 when cancelled, or with error 33 when the answer
  // is a folder or a name outside an existing folder. Without
  // confirmReplace the platform does not ask about an existing file of
  // the typed name (a caller that writes other names than the typed one).
  u8 DoFileSavePathDialog(CKLF_Window* parent, u8 confirmReplace);
  // The path the last path question chose; empty when none.
  const std::string& GetSavePath() const { return m_savePath; }

  // The chosen or last written file; empty when none. Each question resets
  // it.
  const KLP_FileRef& GetResultPath() const { return m_result; }
  u8 HasResult() const { return m_result.IsSet() ? 1 : 0; }
  // Opens the result with a file mode (1 read ... 4); 0 without a result or
  // a file.
  [[nodiscard]] u8 OpenFileByResult(CKLF_StdFile* file, u32 mode);

 private:
  KLP_FileAnswer i_Ask(u8 save, CKLF_Window* parent, bool confirmReplace);
  // Tells the user memory ran short; 0 with error 17.
  u8 i_NoMemory(CKLF_Window* parent);
  [[nodiscard]] u8 i_WriteSafely(const std::string& path, const std::function<u8(CKLF_StdFile*)>& write);

  CKLF_StringArray m_extensions;
  CKLF_DWordArray m_typeCodes;
  KLP_FileRef m_defaultFolder;
  KLP_FileRef m_result;
  std::string m_savePath;
  std::string m_saveName;
  std::string m_title;
  u32 m_fileType;
  u32 m_creator;
};
