#include "CKLF_ImageReader.h"

#include "CKLF_StdFile.h"

CKLF_ImageReader::CKLF_ImageReader() {}

CKLF_ImageReader::~CKLF_ImageReader() {}

// The base knows no format.
u8 CKLF_ImageReader::GetImageInfoByPtr(const void*, u32) {
  SetError(klErrNotFormat);
  return 0;
}

u8 CKLF_ImageReader::ParseImageByPtr(const void*, u32) {
  SetError(klErrNotFormat);
  return 0;
}

u8 CKLF_ImageReader::GetImageInfoByMem(CKLF_Mem& m) { return GetImageInfoByPtr(m.GetPtr(), m.GetSize()); }

u8 CKLF_ImageReader::ParseImageByMem(CKLF_Mem& m) { return ParseImageByPtr(m.GetPtr(), m.GetSize()); }

u8 CKLF_ImageReader::GetImageInfoLocal() { return GetImageInfoByMem(m_local); }

u8 CKLF_ImageReader::ParseImageLocal() { return ParseImageByMem(m_local); }

u8 CKLF_ImageReader::GetImageInfoByFile(CKLF_StdFile& f) {
  if (!i_LoadFile(f)) return 0;
  return GetImageInfoLocal();
}

u8 CKLF_ImageReader::ParseImageByFile(CKLF_StdFile& f) {
  if (!i_LoadFile(f)) return 0;
  return ParseImageLocal();
}

u8 CKLF_ImageReader::i_LoadFile(CKLF_StdFile& f) {
  m_local.free();
  i32 length = f.GetLength();
  if (length <= 0) {
    // An empty file is simply too short to be an image.
    SetError(length == 0 || f.GetError() == 0 ? static_cast<u16>(klErrNotFormat) : f.GetError());
    return 0;
  }
  if (!m_local.alloc(static_cast<u32>(length))) {
    SetError(m_local.GetError() ? m_local.GetError() : static_cast<u16>(klErrNoMemory));
    return 0;
  }
  if (f.SetPos(0) < 0) {
    SetError(f.GetError());
    m_local.free();
    return 0;
  }
  i32 got = f.Read(m_local.GetPtr(), static_cast<u32>(length));
  if (got != length) {
    SetError(got < 0 && f.GetError() ? f.GetError() : static_cast<u16>(klErrFileRead));
    m_local.free();
    return 0;
  }
  return 1;
}
