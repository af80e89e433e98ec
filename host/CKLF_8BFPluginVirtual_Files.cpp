// The configuration store and whole files of the plug-in folder
// ("plugin.conf", "last.data" and others).
#include "CKLF_8BFPluginVirtual.h"
#include "CKLF_StdFile.h"

#include <cstring>

u8 CKLF_8BFPluginVirtual::ConfFile_Read(CKLF_Mem& block, CKLF_String name, CKLF_String folder) {
  (void)folder;
  CKLF_StdFile file;
  if (!file.Open(name, &m_pluginFolder, 1)) return FailFrom(file, klErrFileOpen);
  i32 length = file.GetLength();
  if (length < 0) return FailFrom(file, klErrFileSeek);
  if (length == 0) {
    block.free();
    return 1;
  }
  CKLF_Mem bytes;
  if (!bytes.alloc(static_cast<u32>(length))) return FailFrom(bytes, klErrNoMemory);
  if (file.Read(bytes.GetPtr(), static_cast<u32>(length)) != length) return FailFrom(file, klErrFileRead);
  // The caller's block changes only once the whole file is in.
  if (!block.alloc(static_cast<u32>(length))) return FailFrom(block, klErrNoMemory);
  std::memcpy(block.GetPtr(), bytes.GetPtr(), static_cast<u32>(length));
  return 1;
}

u8 CKLF_8BFPluginVirtual::ConfFile_Write(const void* data, u32 size, CKLF_String name, CKLF_String folder) {
  (void)folder;
  CKLF_StdFile file;
  if (!file.Open(name, &m_pluginFolder, 4)) return FailFrom(file, klErrFileOpen);
  if (size && (!data || file.Write(data, size) != static_cast<i32>(size))) {
    // The write's failure is the one told; the file is closed all the same.
    FailFrom(file, klErrFileWrite);
    (void)file.Close();
    return 0;
  }
  if (!file.Close()) return FailFrom(file, klErrFileWrite);
  return 1;
}

u8 CKLF_8BFPluginVirtual::ConfFile_Write(CKLF_Mem& block, CKLF_String name, CKLF_String folder) {
  return ConfFile_Write(block.GetPtr(), block.GetSize(), name, folder);
}

u8 CKLF_8BFPluginVirtual::ConfStorage_Open(CKLF_String name) {
  if (!ConfStorage_Close()) return 0;
  // A store that cannot be opened is made anew, unless memory ran short:
  // then the one there stays as it is.
  if (!m_conf.Open(name, &m_pluginFolder, 3) &&
      (m_conf.GetError() == klErrNoMemory || !m_conf.Open(name, &m_pluginFolder, 2))) {
    return FailFrom(m_conf, klErrFileOpen);
  }
  m_confOpen = 1;
  return 1;
}

u8 CKLF_8BFPluginVirtual::ConfStorage_Close() {
  if (!m_confOpen) return 1;
  m_confOpen = 0;
  if (!m_conf.Close()) return FailFrom(m_conf, klErrFileWrite);
  return 1;
}
