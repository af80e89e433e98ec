// The settings block in the host's scripting descriptor: compressed,
// turned into upper-case hex text, split into text records under
// four-character keys, with one integer record ("klaS") that gives the
// text length and the layout of the split; and the older form of short
// length-prefixed chunks under "klea" .. "klez".
#include <cstring>

#include "CKLF_8BFPluginVirtual.h"
#include "CKLF_ZipBlock.h"

namespace {

const u32 kKeySize = CKLF_8BFPluginVirtual::klScriptLengthKey;
const i32 kLargeBase = 20000000;
const i32 kSmallBase = CKLF_8BFPluginVirtual::klScriptSmallBase;
const u32 kMaxChunkIndex = 17576;  // three letters of base 26

u32 LargeKey(u32 i) { return KLP_FOURCC('k', 'l', 'e', '0' + i); }
u32 SmallKey(u32 i) { return KLP_FOURCC('k', 'l', 'a' + i / 26, 'a' + i % 26); }

u32 OldKey(u32 i) { return KLP_FOURCC('k', 'l', 'e', 'a' + i); }
const u32 kOldChunk = 250;
const u32 kOldChunks = 26;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The block compressed into at most maxHex / 2 bytes; 0 with the error
// (65 when it would not fit: the compression stopped there). Level 6 that
// ran out of room within the last 32nd of the block may fit at level 9.
u8 Pack(const void* data, u32 size, u32 maxHex, CKLF_ZipBlock& zip, u16& error) {
  zip.SetSourceBlock(data, size);
  zip.SetMode(size <= CKLF_8BFPluginVirtual::klScriptDenseLargest ? 1 : 2);
  zip.SetPackLimit(maxHex / 2);
  u8 ok = zip.Process();
  if (!ok && zip.GetMode() == 2 && zip.GetError() == klErrZipCompress && zip.GetPackedIn() >= size - size / 32) {
    zip.SetMode(1);
    ok = zip.Process();
  }
  if (ok) return 1;
  error = zip.GetError() ? zip.GetError() : static_cast<u16>(klErrZipCompress);
  return 0;
}

// The block compressed and written as upper-case hex of at most maxHex
// characters; 0 with the error as Pack gives it.
u8 HexText(const void* data, u32 size, u32 maxHex, CKLF_Mem& hex, u16& error) {
  CKLF_ZipBlock zip;
  if (!Pack(data, size, maxHex, zip, error)) return 0;
  const CKLF_Mem* packed = zip.GetDestBlock();
  if (!hex.alloc(packed->GetSize() * 2)) {
    error = klErrNoMemory;
    return 0;
  }
  const u8* bytes = packed->GetPtr();
  u8* out = hex.GetPtr();
  for (u32 i = 0; i < packed->GetSize(); ++i) {
    out[2 * i] = static_cast<u8>(CKLF_String::HEXDigit(bytes[i] >> 4));
    out[2 * i + 1] = static_cast<u8>(CKLF_String::HEXDigit(bytes[i] & 15));
  }
  return 1;
}

}  // namespace

u8 CKLF_8BFPluginVirtual::FitsScriptParameter(const void* data, u32 size) {
  if (!data || !size) return Fail(klErrBadArg);
  CKLF_ZipBlock zip;
  u16 error = 0;
  if (!Pack(data, size, klScriptMaxHex, zip, error)) return Fail(error);
  ResetError();
  return 1;
}

u8 CKLF_8BFPluginVirtual::i_CanWriteDescriptor() {
  KLP_FilterRecord* fr = m_filterRecord;
  const KLP_DescriptorParameters* dp = fr ? fr->descriptorParameters : nullptr;
  if (!dp) return Fail(klErrBadArg);
  const KLP_WriteDescriptorProcs* wp = dp->writeDescriptorProcs;
  const KLP_HandleProcs* hp = fr->handleProcs;
  if (!dp->readDescriptorProcs || !wp || !wp->openWriteDescriptorProc || !wp->closeWriteDescriptorProc ||
      !wp->putIntegerProc || !wp->putTextProc || !hp || !hp->newProc || !hp->disposeProc || !hp->lockProc ||
      !hp->unlockProc)
    return Fail(klErrBadArg);
  return 1;
}

u8 CKLF_8BFPluginVirtual::i_CanReadDescriptor() {
  KLP_FilterRecord* fr = m_filterRecord;
  const KLP_DescriptorParameters* dp = fr ? fr->descriptorParameters : nullptr;
  if (!dp) return Fail(klErrBadArg);
  const KLP_ReadDescriptorProcs* rp = dp->readDescriptorProcs;
  const KLP_HandleProcs* hp = fr->handleProcs;
  if (!rp || !rp->openReadDescriptorProc || !rp->closeReadDescriptorProc || !rp->getKeyProc ||
      !rp->getIntegerProc || !rp->getTextProc || !dp->writeDescriptorProcs || !hp || !hp->disposeProc ||
      !hp->newProc || !hp->getSizeProc || !hp->lockProc || !hp->unlockProc || !dp->descriptor)
    return Fail(klErrBadArg);
  return 1;
}

u8 CKLF_8BFPluginVirtual::i_PutText(const char* bytes, u32 length, u32 key, KLP_WriteDescriptorRef writer) {
  KLP_FilterRecord* fr = m_filterRecord;
  const KLP_HandleProcs* hp = fr->handleProcs;
  // A handle the host cannot give is memory it does not have.
  KLP_Handle h = hp->newProc(fr->hostContext, static_cast<i32>(length));
  if (!h) return Fail(klErrNoMemory);
  char* p = hp->lockProc(fr->hostContext, h, 0);
  if (!p) {
    hp->disposeProc(fr->hostContext, h);
    return Fail(klErrBadArg);
  }
  std::memcpy(p, bytes, length);
  hp->unlockProc(fr->hostContext, h);
  i16 err = fr->descriptorParameters->writeDescriptorProcs->putTextProc(fr->hostContext, writer, key, h);
  hp->disposeProc(fr->hostContext, h);
  if (err == 0) return 1;
  return Fail(err == klpResMemFull ? klErrNoMemory : klErrBadArg);
}

u8 CKLF_8BFPluginVirtual::i_CloseDescriptor(KLP_WriteDescriptorRef writer) {
  KLP_FilterRecord* fr = m_filterRecord;
  KLP_DescriptorParameters* dp = fr->descriptorParameters;
  if (dp->descriptor) fr->handleProcs->disposeProc(fr->hostContext, dp->descriptor);
  dp->descriptor = nullptr;
  KLP_Handle fresh = nullptr;
  const i16 err = dp->writeDescriptorProcs->closeWriteDescriptorProc(fr->hostContext, writer, &fresh);
  dp->descriptor = fresh;
  dp->recordInfo = 0;
  if (err == 0 && fresh) return 1;
  return Fail(err == klpResMemFull ? klErrNoMemory : klErrBadArg);
}

u8 CKLF_8BFPluginVirtual::i_DecodeHexBlock(const u8* hex, u32 L, CKLF_Mem& block) {
  // The descriptor claims to hold settings: a fault in them is a bad
  // parameter of the host's, not a missing block.
  auto malformed = [&]() -> u8 {
    HostSetRetCode_BadParam();
    return Fail(klErrBadArg);
  };
  if (L & 1) return malformed();
  CKLF_Mem packed;
  if (!packed.alloc(L / 2)) {
    HostSetRetCode_MemFull();
    return FailFrom(packed, klErrNoMemory);
  }
  u8* out = packed.GetPtr();
  for (u32 i = 0; i < L / 2; ++i) {
    int hi = HexValue(static_cast<char>(hex[2 * i]));
    int lo = HexValue(static_cast<char>(hex[2 * i + 1]));
    if (hi < 0 || lo < 0) return malformed();
    out[i] = static_cast<u8>(hi << 4 | lo);
  }
  CKLF_Mem result;
  CKLF_ZipBlock zip;
  zip.SetMode(0);
  zip.SetSourceBlock(packed);
  zip.SetDestBlock(&result);
  if (!zip.Process()) {
    if (zip.GetError() == klErrNoMemory) {
      HostSetRetCode_MemFull();
      return Fail(klErrNoMemory);
    }
    return malformed();
  }
  if (!block.alloc(result.GetSize()) && result.GetSize()) {
    HostSetRetCode_MemFull();
    return FailFrom(block, klErrNoMemory);
  }
  if (result.GetSize()) std::memcpy(block.GetPtr(), result.GetPtr(), result.GetSize());
  return 1;
}

u8 CKLF_8BFPluginVirtual::i_WESP_SetText(const char* text, u32 length, u32 key, KLP_WriteDescriptorRef writer,
                                         u32 index) {
  if (index >= kMaxChunkIndex) return 0;
  CKLF_Mem block;
  if (!block.alloc(length + 4)) return Fail(klErrNoMemory);
  char* record = reinterpret_cast<char*>(block.GetPtr());
  record[0] = static_cast<char>('A' + index / 676);
  record[1] = static_cast<char>('A' + (index % 676) / 26);
  record[2] = static_cast<char>('A' + index % 26);
  std::memcpy(record + 3, text, length);
  record[3 + length] = 0;
  return i_PutText(record, length + 4, key, writer);
}

u8 CKLF_8BFPluginVirtual::WriteEncryptedScriptParameter_V2(const void* data, u32 size) {
  if (!data || !size || !i_CanWriteDescriptor()) return Fail(klErrBadArg);
  ResetError();
  KLP_FilterRecord* fr = m_filterRecord;
  const KLP_WriteDescriptorProcs* wp = fr->descriptorParameters->writeDescriptorProcs;
  CKLF_Mem hexBlock;
  u16 error = 0;
  const u8 fits = HexText(data, size, klScriptMaxHex, hexBlock, error);
  const u32 L = hexBlock.GetSize();
  const char* hex = reinterpret_cast<const char*>(hexBlock.GetPtr());

  // A descriptor the host cannot open is memory it does not have.
  KLP_WriteDescriptorRef writer = wp->openWriteDescriptorProc(fr->hostContext);
  if (!writer) {
    // Nothing was opened, so there is nothing to close; the old descriptor stays.
    return Fail(fits ? static_cast<u16>(klErrNoMemory) : error);
  }
  if (!fits) {
    // Settings too large for the descriptor: it is written empty, so that
    // an earlier run's settings do not stand for these (a replay then reads
    // the last run's file).
    if (!i_CloseDescriptor(writer) && GetError() == klErrNoMemory) return 0;
    return Fail(error);
  }
  u8 ok = 1;
  u8 small = 0;
  for (u32 i = 0; i * klScriptLargeChunk < L; ++i) {
    u32 n = L - i * klScriptLargeChunk;
    if (n > klScriptLargeChunk) n = klScriptLargeChunk;
    if (i_WESP_SetText(hex + i * klScriptLargeChunk, n, LargeKey(i), writer, i)) continue;
    if (i == 0 && n > klScriptSmallChunk)
      small = 1;
    else
      ok = 0;
    break;
  }
  if (ok && small) {
    ResetError();  // the large chunk's refusal is what led here
    u32 chunks = (L - 1) / klScriptSmallChunk + 1;
    // More than this host's descriptor holds: the settings do not fit it.
    if (chunks > klScriptSmallChunks) ok = Fail(klErrZipCompress);
    for (u32 i = 0; ok && i < chunks; ++i) {
      u32 n = L - i * klScriptSmallChunk;
      if (n > klScriptSmallChunk) n = klScriptSmallChunk;
      if (!i_WESP_SetText(hex + i * klScriptSmallChunk, n, SmallKey(i), writer, i)) ok = 0;
    }
  }
  if (ok) {
    i32 v = static_cast<i32>(L) + (small ? kSmallBase : kLargeBase);
    const i16 err = wp->putIntegerProc(fr->hostContext, writer, kKeySize, v);
    if (err != 0) ok = Fail(err == klpResMemFull ? klErrNoMemory : klErrBadArg);
  }
  // Memory and settings that do not fit are told as such; the host's
  // other refusals as bad arguments.
  u16 failure = GetError();
  if (failure != klErrNoMemory && failure != klErrZipCompress) failure = klErrBadArg;
  if (!i_CloseDescriptor(writer) && ok) return 0;
  if (!ok) return Fail(failure);
  ResetError();
  return 1;
}

u8 CKLF_8BFPluginVirtual::i_WESP_GetText(u8* buffer, u32 bufferSize, u32 chunkSize, KLP_ReadDescriptorRef reader,
                                         u32 chunkCount) {
  KLP_FilterRecord* fr = m_filterRecord;
  const KLP_HandleProcs* hp = fr->handleProcs;
  KLP_Handle h = nullptr;
  if (fr->descriptorParameters->readDescriptorProcs->getTextProc(fr->hostContext, reader, &h) != 0 || !h) return 0;
  u8 ok = 0;
  i32 size = hp->getSizeProc(fr->hostContext, h);
  char* p = size > 4 ? hp->lockProc(fr->hostContext, h, 0) : nullptr;
  if (p) {
    u32 index = 0;
    u8 letters = 1;
    for (int i = 0; i < 3; ++i) {
      if (p[i] < 'A' || p[i] > 'Z') letters = 0;
      index = index * 26 + static_cast<u32>(p[i] - 'A');
    }
    // The text ends with a NUL inside the handle; never look past it.
    const void* end = std::memchr(p + 3, 0, static_cast<size_t>(size) - 3);
    if (letters && index < chunkCount && end) {
      u64 length = static_cast<u64>(static_cast<const char*>(end) - (p + 3));
      if (static_cast<u64>(index) * chunkSize + length <= bufferSize) {
        std::memcpy(buffer + static_cast<u64>(index) * chunkSize, p + 3, static_cast<size_t>(length));
        ok = 1;
      }
    }
    hp->unlockProc(fr->hostContext, h);
  }
  hp->disposeProc(fr->hostContext, h);
  return ok;
}

u8 CKLF_8BFPluginVirtual::ReadEncryptedScriptParameter_V2(CKLF_Mem& block, u8& display) {
  if (!i_CanReadDescriptor()) return Fail(klErrBadArg);
  KLP_FilterRecord* fr = m_filterRecord;
  KLP_DescriptorParameters* dp = fr->descriptorParameters;
  const KLP_ReadDescriptorProcs* rp = dp->readDescriptorProcs;
  const u32 sizeKeys[2] = {kKeySize, 0};
  KLP_ReadDescriptorRef reader = rp->openReadDescriptorProc(fr->hostContext, dp->descriptor, sizeKeys);
  if (!reader) return Fail(klErrBadArg);
  i32 v = 0;
  u8 readFailed = 0;
  u32 key = 0, type = 0;
  i32 flags = 0;
  u32 guard = 0;
  while (!readFailed && guard++ < 1000000 && rp->getKeyProc(fr->hostContext, reader, &key, &type, &flags)) {
    if (key == kKeySize && rp->getIntegerProc(fr->hostContext, reader, &v) != 0) readFailed = 1;
  }
  rp->closeReadDescriptorProc(fr->hostContext, reader);
  if (readFailed || v <= kSmallBase) {
    // No settings stored here (or unreadable): the caller looks elsewhere.
    return Fail(klErrBadArg);
  }

  // From here the descriptor claims to hold settings: a fault in them is
  // a bad parameter of the host's, not a missing block.
  auto malformed = [&]() -> u8 {
    HostSetRetCode_BadParam();
    return Fail(klErrBadArg);
  };
  u8 large = v > kLargeBase;
  u32 L = static_cast<u32>(large ? v - kLargeBase : v - kSmallBase);
  if (L > klScriptMaxHex) return malformed();
  u32 chunkSize = large ? klScriptLargeChunk : klScriptSmallChunk;
  u32 chunks = (L - 1) / chunkSize + 1;
  // Only so many keys exist for each layout.
  if (chunks > (large ? klScriptLargeChunks : klScriptSmallChunks)) return malformed();

  CKLF_Mem hexBlock, keyBlock;
  if (!hexBlock.Zalloc(L) || !keyBlock.ZallocDWord(chunks + 1)) {
    HostSetRetCode_MemFull();
    return Fail(klErrNoMemory);
  }
  u8* hex = hexBlock.GetPtr();
  u32* keys = reinterpret_cast<u32*>(keyBlock.GetPtr());
  for (u32 i = 0; i < chunks; ++i) keys[i] = large ? LargeKey(i) : SmallKey(i);
  reader = rp->openReadDescriptorProc(fr->hostContext, dp->descriptor, keys);
  if (!reader) return malformed();
  u8 ok = 1;
  guard = 0;
  while (ok && guard++ < 1000000 && rp->getKeyProc(fr->hostContext, reader, &key, &type, &flags)) {
    bool wanted = false;
    for (u32 i = 0; i < chunks; ++i) wanted = wanted || keys[i] == key;
    if (wanted && !i_WESP_GetText(hex, L, chunkSize, reader, chunks)) ok = 0;
  }
  rp->closeReadDescriptorProc(fr->hostContext, reader);
  if (!ok) return malformed();
  if (!i_DecodeHexBlock(hex, L, block)) return 0;
  display = dp->playInfo == klpDialogDisplay ? 1 : 0;
  return 1;
}

// ---------------------------------------------------------------------------
// The older form

u8 CKLF_8BFPluginVirtual::WriteEncryptedScriptParameter(const void* data, u32 size) {
  if (!data || !size || !i_CanWriteDescriptor()) return Fail(klErrBadArg);
  KLP_FilterRecord* fr = m_filterRecord;
  CKLF_Mem hexBlock;
  u16 error = 0;
  if (!HexText(data, size, kOldChunk * kOldChunks, hexBlock, error)) return Fail(error);
  const u32 L = hexBlock.GetSize();
  const u8* hex = hexBlock.GetPtr();
  KLP_WriteDescriptorRef writer = fr->descriptorParameters->writeDescriptorProcs->openWriteDescriptorProc(fr->hostContext);
  if (!writer) return Fail(klErrNoMemory);
  u8 ok = 1;
  for (u32 i = 0; ok && i * kOldChunk < L; ++i) {
    const u32 n = L - i * kOldChunk < kOldChunk ? L - i * kOldChunk : kOldChunk;
    char record[2 + kOldChunk];
    record[0] = static_cast<char>(n + 1);
    record[1] = static_cast<char>('A' + i);
    std::memcpy(record + 2, hex + i * kOldChunk, n);
    ok = i_PutText(record, n + 2, OldKey(i), writer);
  }
  const u16 failure = ok ? 0 : GetError() == klErrNoMemory ? klErrNoMemory : klErrBadArg;
  if (!i_CloseDescriptor(writer) && ok) return 0;
  return ok ? 1 : Fail(failure);
}

u8 CKLF_8BFPluginVirtual::ReadEncryptedScriptParameter(CKLF_Mem& block, u8& display) {
  if (!i_CanReadDescriptor()) return Fail(klErrBadArg);
  KLP_FilterRecord* fr = m_filterRecord;
  KLP_DescriptorParameters* dp = fr->descriptorParameters;
  const KLP_ReadDescriptorProcs* rp = dp->readDescriptorProcs;
  const KLP_HandleProcs* hp = fr->handleProcs;
  u32 keys[kOldChunks + 1] = {};
  for (u32 i = 0; i < kOldChunks; ++i) keys[i] = OldKey(i);
  u8 hex[kOldChunk * kOldChunks] = {};
  KLP_ReadDescriptorRef reader = rp->openReadDescriptorProc(fr->hostContext, dp->descriptor, keys);
  if (!reader) return Fail(klErrBadArg);
  u32 lengths[kOldChunks] = {};
  u8 seen[kOldChunks] = {};
  u8 ok = 1;
  u32 key = 0, type = 0, guard = 0;
  i32 flags = 0;
  while (ok && guard++ < 1000000 && rp->getKeyProc(fr->hostContext, reader, &key, &type, &flags)) {
    if (key < OldKey(0) || key > OldKey(kOldChunks - 1)) continue;
    KLP_Handle h = nullptr;
    if (rp->getTextProc(fr->hostContext, reader, &h) != 0 || !h) {
      ok = 0;
      break;
    }
    const i32 size = hp->getSizeProc(fr->hostContext, h);
    const u8* p = size >= 2 ? reinterpret_cast<const u8*>(hp->lockProc(fr->hostContext, h, 0)) : nullptr;
    // A length byte, the chunk's letter, then its characters within the handle.
    const u32 n = p ? p[0] : 0, index = p ? static_cast<u32>(p[1] - 'A') : kOldChunks;
    ok = p && n >= 1 && n - 1 <= kOldChunk && static_cast<i32>(n) + 1 <= size && index < kOldChunks && !seen[index];
    if (ok) {
      std::memcpy(hex + index * kOldChunk, p + 2, n - 1);
      lengths[index] = n - 1;
      seen[index] = 1;
    }
    if (p) hp->unlockProc(fr->hostContext, h);
    hp->disposeProc(fr->hostContext, h);
  }
  rp->closeReadDescriptorProc(fr->hostContext, reader);
  if (!ok) return Fail(klErrBadArg);
  // The chunks run from the first without a gap, each full but the last.
  u32 L = 0, count = 0;
  while (count < kOldChunks && seen[count]) L += lengths[count++];
  for (u32 i = count; i < kOldChunks; ++i)
    if (seen[i]) return Fail(klErrBadArg);
  for (u32 i = 0; i + 1 < count; ++i)
    if (lengths[i] != kOldChunk) return Fail(klErrBadArg);
  if (L < 2) return Fail(klErrBadArg);
  if (!i_DecodeHexBlock(hex, L, block)) return 0;
  display = dp->playInfo == klpDialogDisplay ? 1 : 0;
  return 1;
}
