#include "CPluginFolderFiles.h"

#include <cstdio>
#include <string>

#include "CKLF_StdFile.h"

i32 CPluginFolderFiles::ReadWhole(const char* name, CKLF_Mem& block) {
  KLP_FileName converted;
  KLP_FileRef ref;
  if (KLP_ConvertFileName(name, &converted) != klpNoErr) return -1;
  const i32 found = KLP_MakeChildRef(m_folder, converted, &ref);
  if (found == klpErrNotFound) return 0;
  CKLF_StdFile file;
  if (found != klpNoErr || !file.Open(&ref, 1)) return -1;
  const i32 length = file.GetLength();
  CKLF_Mem bytes;
  if (length < 0 || (length > 0 && (!bytes.alloc(static_cast<u32>(length)) || file.Read(bytes, 0) != length)))
    return -1;
  // The caller's block changes only once the whole file is in.
  block.free();
  if (length > 0 && (!block.alloc(static_cast<u32>(length)) || !block.Copy(0, &bytes, 0, 0))) return -1;
  return 1;
}

u8 CPluginFolderFiles::WriteWhole(const char* name, const u8* data, u32 size) {
  const std::string path = m_folder.Path() + "/" + name, fresh = path + ".new";
  CKLF_StdFile file;
  if (!m_folder.IsSet() || !name || !file.Open(fresh.c_str(), 2)) return 0;
  const bool wrote = size == 0 || (data && file.Write(data, size) == static_cast<i32>(size));
  const bool closed = file.Close();
  if (wrote && closed && std::rename(fresh.c_str(), path.c_str()) == 0) return 1;
  std::remove(fresh.c_str());
  return 0;
}
