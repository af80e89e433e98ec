// Reader side of the image formats: four input paths (a pointer, a memory
// block, a whole file, the reader's own buffer) that all end in the two
// by-pointer operations each format overrides. GetImageInfo* reads only
// what the header says; ParseImage* decodes the main image into the planes.
//
// Cost: the file paths hold the whole file in the local buffer.
// Limits: files up to 2 GiB - 1 bytes (the standard file's limit).
#pragma once

#include "CKLF_ImageFormat.h"

class CKLF_StdFile;

class CKLF_ImageReader : public virtual CKLF_ImageFormat {
 public:
  CKLF_ImageReader();
  ~CKLF_ImageReader() override;

  // All return 1, or 0 with the error code set.
  [[nodiscard]] virtual u8 GetImageInfoByPtr(const void* data, u32 size);
  [[nodiscard]] virtual u8 GetImageInfoByMem(CKLF_Mem& m);
  [[nodiscard]] virtual u8 GetImageInfoByFile(CKLF_StdFile& f);
  virtual u8 GetImageInfoLocal();
  [[nodiscard]] virtual u8 ParseImageByPtr(const void* data, u32 size);
  [[nodiscard]] virtual u8 ParseImageByMem(CKLF_Mem& m);
  [[nodiscard]] virtual u8 ParseImageByFile(CKLF_StdFile& f);
  [[nodiscard]] virtual u8 ParseImageLocal();

 protected:
  // Reads the whole of f into the local buffer: 1, or 0 with the error set.
  [[nodiscard]] u8 i_LoadFile(CKLF_StdFile& f);

  CKLF_Mem m_local;
};
