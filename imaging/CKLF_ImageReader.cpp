#include "CKLF_ImageReader.h"

#include "CKLF_StdFile.h"

CKLF_ImageReader::CKLF_ImageReader() {}

CKLF_ImageReader::~CKLF_ImageReader() {}

// The base knows no format.
u8 CKLF_ImageReader::GetImageInfoByPtr(const void*, u32) {
  return Fail(klErrNotFormat);
}

u8 CKLF_ImageReader::ParseImageByPtr(const void*, u32) {
  return Fail(klErrNotFormat);
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
    return length == 0 ? Fail(klErrNotFormat) : FailFrom(f, klErrNotFormat);
  }
  if (!m_local.alloc(static_cast<u32>(length))) return FailFrom(m_local, klErrNoMemory);
  if (f.SetPos(0) < 0) {
    m_local.free();
    return FailFrom(f, klErrFileSeek);
  }
  i32 got = f.Read(m_local.GetPtr(), static_cast<u32>(length));
  if (got != length) {
    m_local.free();
    return got < 0 ? FailFrom(f, klErrFileRead) : Fail(klErrFileRead);
  }
  return 1;
}
