// Writer side of the image formats: streams a file through an attached
// standard file (not owned), with positioned writes for fields patched
// once their value is known.
//
// Limits: positions are those of the standard file (below 2 GiB).
#pragma once

#include "CKLF_ImageFormat.h"

class CKLF_StdFile;

class CKLF_ImageWriter : public virtual CKLF_ImageFormat {
 public:
  static constexpr u32 kNoPos = 0xFFFFFFFFu;

  CKLF_ImageWriter();
  ~CKLF_ImageWriter() override;

  // Attaches f when it is open and writable: 1; otherwise error 1 and 0.
  [[nodiscard]] virtual u8 Create(CKLF_StdFile& f);
  // Releases what a format collected for writing; nothing in the base.
  virtual void WriteClean();

  // pos = kNoPos: the current position. Otherwise seeks to pos and returns
  // the previous position. kNoPos without a file or when the seek fails.
  u32 Write_SetPos(u32 pos);
  // Writes size bytes, at pos and back when pos is not kNoPos. 0 without a
  // file or on a short write (the file's error is copied).
  [[nodiscard]] u8 Write_Buffer(const u8* data, u32 size, u32 pos = kNoPos);
  // Flushes the file: 1, or 0 without a file or when the flush fails.
  [[nodiscard]] u8 Write_Flush();

 protected:
  CKLF_StdFile* m_file;
};
