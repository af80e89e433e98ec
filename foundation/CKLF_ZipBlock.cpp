#include "CKLF_ZipBlock.h"

#include <zlib.h>

#include <cstring>

#include "KLF_BigEndian.h"

namespace {

const char kMagic[8] = {'K', 'L', 'C', 'V', '2', '-', '0', '1'};
// Deflate cannot expand data by more than 1032:1; a head claiming more is a lie.
const u64 kMaxRatio = 1032;

}  // namespace

u8 CKLF_ZipBlock::Process() {
  if (m_progress) return Fail(klErrZipProgress);
  ResetError();
  switch (m_mode) {
    case 0: return Decompress();
    case 1: return Compress(9);
    case 2: return Compress(6);
    case 3: return Compress(1);
    default:
      return Fail(klErrZipArgs);
  }
}

u8 CKLF_ZipBlock::Compress(u8 level) {
  m_packedIn = 0;
  if (!m_source || m_sourceSize == 0 || m_sourceSize > klZipMaxUnpacked || level > 9) return Fail(klErrZipArgs);
  if (m_packLimit && m_packLimit <= klZipHeadSize) return Fail(klErrZipCompress);
  CKLF_Mem* dest = i_Dest();
  if (!dest || !i_DetachSource()) return 0;
  u64 room = static_cast<u64>(m_sourceSize) * 12 / 10 + 30;
  if (room < compressBound(m_sourceSize) + klZipHeadSize) room = compressBound(m_sourceSize) + klZipHeadSize;
  if (m_packLimit && room > m_packLimit) room = m_packLimit;
  if (!klFits32(room)) return Fail(klErrNoMemory);
  if (!dest->Resize(static_cast<u32>(room))) return FailFrom(*dest, klErrNoMemory);
  u8* out = dest->GetPtr();
  std::memcpy(out, kMagic, 8);
  KLF_PutBE32(out + 8, m_sourceSize);
  // One deflate call over the whole source, as compress2 makes it (the
  // same stream); it returns once the room is full, so a block that cannot
  // fit costs no more than the room's worth of work.
  z_stream s = {};
  int r = deflateInit(&s, level);
  if (r != Z_OK) return Fail(r == Z_MEM_ERROR ? klErrNoMemory : klErrZipArgs);
  s.next_in = const_cast<Bytef*>(m_source);
  s.avail_in = m_sourceSize;
  s.next_out = out + klZipHeadSize;
  s.avail_out = static_cast<uInt>(room - klZipHeadSize);
  r = deflate(&s, Z_FINISH);
  const uLong packed = s.total_out;
  m_packedIn = static_cast<u32>(s.total_in);
  // Ended before its end the stream is refused anyway (zlib says so too).
  const int ended = deflateEnd(&s);
  if (r == Z_STREAM_ERROR) return Fail(klErrZipArgs);
  if (r == Z_MEM_ERROR) return Fail(klErrNoMemory);
  if (r != Z_STREAM_END || ended != Z_OK) return Fail(klErrZipCompress);
  KLF_PutBE32(out + 12, static_cast<u32>(packed));
  if (!dest->Resize(static_cast<u32>(packed + klZipHeadSize))) return FailFrom(*dest, klErrNoMemory);
  ResetError();
  return 1;
}

u8 CKLF_ZipBlock::Decompress() {
  if (!m_source || m_sourceSize < klZipHeadSize || std::memcmp(m_source, kMagic, 8) != 0) {
    return Fail(klErrZipMalformed);
  }
  u32 unpacked = KLF_GetBE32(m_source + 8);
  u32 packed = KLF_GetBE32(m_source + 12);
  if (static_cast<u64>(packed) + klZipHeadSize > m_sourceSize || unpacked > klZipMaxUnpacked ||
      static_cast<u64>(unpacked) > static_cast<u64>(packed) * kMaxRatio) {
    return Fail(klErrZipMalformed);
  }
  CKLF_Mem* dest = i_Dest();
  if (!dest || !i_DetachSource()) return 0;
  if (!dest->Resize(unpacked)) return FailFrom(*dest, klErrNoMemory);
  // zlib wants somewhere to write even when nothing is expected.
  Bytef none = 0;
  uLongf got = unpacked;
  int r = uncompress(unpacked ? dest->GetPtr() : &none, &got, m_source + klZipHeadSize, packed);
  if (r == Z_MEM_ERROR) return Fail(klErrNoMemory);
  if (r != Z_OK || got != unpacked) return Fail(klErrZipMalformed);
  ResetError();
  return 1;
}
