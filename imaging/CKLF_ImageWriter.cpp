#include "CKLF_ImageWriter.h"

#include "CKLF_StdFile.h"

CKLF_ImageWriter::CKLF_ImageWriter() : m_file(nullptr) {}

CKLF_ImageWriter::~CKLF_ImageWriter() {}

u8 CKLF_ImageWriter::Create(CKLF_StdFile& f) {
  if (!f.IsOpened() || !f.IsAllowToWrite()) return Fail(klErrBadArg);
  m_file = &f;
  return 1;
}

void CKLF_ImageWriter::WriteClean() {}

u32 CKLF_ImageWriter::Write_SetPos(u32 pos) {
  if (!m_file) return kNoPos;
  i32 current = m_file->GetPos();
  if (current < 0) return FailFrom(*m_file, klErrFileSeek, kNoPos);
  if (pos == kNoPos) return static_cast<u32>(current);
  if (pos > 0x7FFFFFFFu || m_file->SetPos(static_cast<i32>(pos)) < 0) return FailFrom(*m_file, klErrFileSeek, kNoPos);
  return static_cast<u32>(current);
}

u8 CKLF_ImageWriter::Write_Buffer(const u8* data, u32 size, u32 pos) {
  if (!m_file) return 0;
  u32 previous = kNoPos;
  if (pos != kNoPos) {
    previous = Write_SetPos(pos);
    if (previous == kNoPos) return 0;
  }
  if (size > 0) {
    i32 written = m_file->Write(data, size);
    if (written < 0 || static_cast<u32>(written) != size) return FailFrom(*m_file, klErrFileWrite);
  }
  if (previous != kNoPos && Write_SetPos(previous) == kNoPos) return 0;
  return 1;
}

u8 CKLF_ImageWriter::Write_Flush() {
  if (!m_file) return 0;
  if (!m_file->Flush()) return FailFrom(*m_file, klErrFileWrite);
  return 1;
}
