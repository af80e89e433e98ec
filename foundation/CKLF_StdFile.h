// Byte file over the C stdio layer, opened by path, by a platform file
// reference, or by a name inside a folder reference. Open modes:
//   1 "rb"   read             (in a folder: the file must exist)
//   2 "wb"   write, truncates (in a folder: created when missing)
//   3 "r+b"  read and write   (in a folder: the file must exist)
//   4 "w+b"  read and write, truncates (in a folder: created when missing)
// Positions and counts are 32-bit: a file or transfer beyond 2 GiB - 1 is
// refused (error 17 for a length, 1 for a count). Streams are buffered by
// stdio; a write error may surface only at Flush or Close, which report it.
#pragma once

#include <cstdio>
#include <string>

#include "CKLF_String.h"
#include "KLP_File.h"

class CKLF_StdFile : public CKLF_FrameWork {
 public:
  CKLF_StdFile();
  CKLF_StdFile(CKLF_String path, u32 mode);
  ~CKLF_StdFile() override;

  CKLF_StdFile(const CKLF_StdFile&) = delete;
  CKLF_StdFile& operator=(const CKLF_StdFile&) = delete;

  // Each closes an open stream first. 1 on success (error reset); 0 with
  // error 1 for a mode outside 1..4, 32 when the file cannot be opened (also
  // for a bad name, a path longer than 1,024 bytes or a missing file).
  [[nodiscard]] u8 Open(CKLF_String path, u32 mode);
  [[nodiscard]] u8 Open(const KLP_FileRef* ref, u32 mode);
  [[nodiscard]] u8 Open(CKLF_String name, const KLP_FileRef* parent, u32 mode);
  // 1, or 0 with error 33 when buffered bytes could not be written; the
  // stream is closed either way.
  [[nodiscard]] u8 Close();

  u8 IsOpened() const { return m_stream ? 1 : 0; }
  u8 IsAllowToRead() const { return m_canRead; }
  u8 IsAllowToWrite() const { return m_canWrite; }

  // Positions from the start of the file; -1 with error 36 (seek failed),
  // 37 (not open) or 17 (beyond 32 bits).
  [[nodiscard]] i32 SetPos(i32 offset);
  [[nodiscard]] i32 GetPos();
  [[nodiscard]] i32 OffsetPos(i32 delta);
  // The length; the current position is kept.
  [[nodiscard]] i32 GetLength();

  // The count transferred (short at the end of the file); 0 for n = 0;
  // -1 with error 37 (not open), 35 (mode forbids it), 34 (nothing read),
  // 33 (nothing written) or 1 (n above 2 GiB - 1).
  [[nodiscard]] i32 Read(void* buf, u32 n);
  // n bytes into m when 0 < n < m's size, else m's whole size.
  [[nodiscard]] i32 Read(CKLF_Mem& m, u32 n);
  [[nodiscard]] i32 Write(const void* buf, u32 n);
  [[nodiscard]] i32 Write(CKLF_Mem& m, u32 n);
  // 1, or 0 with error 33 (write failed) or 37 (not open).
  [[nodiscard]] u8 Flush();
  // Flushes, then transfers go straight to the system from now on, so a
  // failed write leaves nothing pending. 1, or 0 with error 33 or 37.
  [[nodiscard]] u8 SetUnbuffered();
  // Flushes and cuts (or extends with zeros) the file to length bytes; the
  // position is left at the end. 1, or 0 with error 33, 35 or 37.
  [[nodiscard]] u8 Truncate(u32 length);

  // Opens a document in the desktop's default application: 1 on success.
  [[nodiscard]] static u8 LaunchFile(const KLP_FileRef* ref);
  [[nodiscard]] static u8 LaunchFile(CKLF_String name, const KLP_FileRef* parent);

  // Converts a file name for the folder operations (enc 65535: the system's
  // encoding, UTF-8 here; no other encoding is known). A platform status.
  [[nodiscard]] static i32 HFSNameGetUnicodeName(const char* name, KLP_FileName* out, u32 enc);

 private:
  [[nodiscard]] i32 i_BeginTransfer(u8 op, const void* buf, u32 n);

  FILE* m_stream;
  u8 m_canRead;
  u8 m_canWrite;
  u8 m_lastOp;  // 0 positioned, 1 read, 2 written: stdio needs a seek between
};

// Why a file's writer failed, from its code (0 when a file operation failed
// outside it) and the errno saved after it: 17 when memory ran out (its
// code, or the system's ENOMEM), else 33. reason is the system's text when
// a file operation failed with an errno, else the code's text.
u16 KLF_WriteFailure(u16 code, int savedErrno, std::string& reason);
