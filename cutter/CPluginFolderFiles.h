// Whole files of the plug-in's folder for the Cutter's models: tells a
// missing file from one that is there but cannot be read, and replaces a
// file only once its new bytes are all written (through "<name>.new").
#pragma once

#include "CCutterPorts.h"
#include "KLP_File.h"

class CPluginFolderFiles : public CCutterFilesPort {
 public:
  explicit CPluginFolderFiles(const KLP_FileRef& folder) : m_folder(folder) {}

  i32 ReadWhole(const char* name, CKLF_Mem& block) override;
  u8 WriteWhole(const char* name, const u8* data, u32 size) override;

 private:
  KLP_FileRef m_folder;
};
