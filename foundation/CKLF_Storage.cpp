#include "CKLF_Storage.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "CKLF_MD5Block.h"
#include "CKLF_ZipBlock.h"
#include "KLF_BigEndian.h"

namespace {

const u8 kMagic[8] = {'K', 'L', 'C', 'P', 'S', 'v', '4', '0'};
const u32 kHeadSize = 32;
const u32 kEmptySize = 40;
const u32 kRecHead = 15;  // body length, type, parent, id, name length
const u32 kRootId = 0xFFFFFFFF;
const u32 kMaxFile = 0x7FFFFFFF;
// All keys of one container together; a real store needs a few hundred KB.
const u64 kMaxKeyTotal = 64ull << 20;
const u32 kChunk = 1u << 16;

// A member's code, or the fallback when the member left none.
u16 CodeOr(u16 code, u16 fallback) { return code ? code : fallback; }

// MD5 of the file's bytes [from, end), read in chunks; an error code or 0.
u16 DigestFrom(CKLF_StdFile& f, u32 from, u32 end, u8 out[16]) {
  CKLF_Mem chunk;
  if (!chunk.alloc(kChunk)) return klErrNoMemory;
  if (f.SetPos(static_cast<i32>(from)) < 0) return CodeOr(f.GetError(), klErrFileSeek);
  CKLF_MD5Block md5;
  for (u32 at = from; at < end;) {
    u32 n = std::min<u32>(kChunk, end - at);
    if (f.Read(chunk.GetPtr(), n) != static_cast<i32>(n)) return CodeOr(f.GetError(), klErrFileRead);
    md5.Update(chunk.GetPtr(), n);
    at += n;
  }
  md5.Final(out);
  return 0;
}

bool IsFixedType(u8 t) { return t == 1 || t == 2 || t == 3 || t == 6; }
u32 FixedSize(u8 t) { return t == 1 ? 1 : t == 2 ? 2 : t == 3 ? 4 : 8; }

bool ValidName(const u8* p, u32 n) {
  if (n == 0) return false;
  for (u32 i = 0; i < n; ++i)
    if (p[i] == 0 || p[i] == '>') return false;
  return true;
}

// The value area of a live record must hold what its type says.
bool ValidValue(u8 type, const u8* v, u32 len) {
  if (IsFixedType(type)) return len >= FixedSize(type);
  if (type == 4 || type == 5) {
    if (len < 4) return false;
    u32 l = KLF_GetBE32(v);
    if (type == 4 && l == 0) return false;  // a string holds at least its NUL
    return l <= len - 4;
  }
  // Folders carry nothing; a type the format does not define is refused
  // (199 would even read as a missing key).
  return type == 0;
}

struct Parsed {
  u32 offset;
  u32 parent;
  u32 id;
  u16 nameLen;
  u8 type;
};

// One record at offset inside [32, end): bounds, name and value checked
// for live records. next receives the following record's offset.
bool ParseRecord(const u8* p, u64 offset, u64 end, Parsed& r, u64& next) {
  if (offset < kHeadSize || offset + kRecHead > end) return false;
  u32 body = KLF_GetBE32(p + offset);
  if (body < 11 || offset + 4 + body > end) return false;
  r.offset = static_cast<u32>(offset);
  r.type = p[offset + 4];
  r.parent = KLF_GetBE32(p + offset + 5);
  r.id = KLF_GetBE32(p + offset + 9);
  r.nameLen = KLF_GetBE16(p + offset + 13);
  if (11u + r.nameLen > body) return false;
  next = offset + 4 + body;
  if (r.type == CKLF_Storage::klRecDeleted) return true;
  return ValidName(p + offset + kRecHead, r.nameLen) &&
         ValidValue(r.type, p + offset + kRecHead + r.nameLen, body - 11 - r.nameLen);
}

typedef std::vector<std::pair<std::string, u32>> Entries;

bool ByKey(const std::pair<std::string, u32>& a, const std::pair<std::string, u32>& b) { return a.first < b.first; }

// Keys of every record reachable from the root, in the order a depth-first
// walk in file order meets them. Each folder id is expanded once: meeting
// an id again means a cycle or two live folders sharing an id.
bool WalkKeys(const u8* p, const std::vector<Parsed>& live, Entries& out) {
  std::vector<u32> order(live.size());
  for (u32 i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](u32 a, u32 b) { return live[a].parent < live[b].parent; });
  auto children = [&](u32 parent) {
    auto lo = std::lower_bound(order.begin(), order.end(), parent,
                               [&](u32 i, u32 v) { return live[i].parent < v; });
    auto hi = std::upper_bound(order.begin(), order.end(), parent,
                               [&](u32 v, u32 i) { return v < live[i].parent; });
    return std::make_pair(static_cast<size_t>(lo - order.begin()), static_cast<size_t>(hi - order.begin()));
  };
  struct Frame {
    std::string prefix;
    size_t cur;
    size_t end;
  };
  std::vector<Frame> stack;
  std::unordered_set<u32> expanded;
  expanded.insert(kRootId);
  auto root = children(kRootId);
  stack.push_back({std::string(), root.first, root.second});
  u64 total = 0;
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.cur == f.end) {
      stack.pop_back();
      continue;
    }
    const Parsed& r = live[order[f.cur++]];
    std::string key = f.prefix;
    if (!key.empty()) key += '>';
    key.append(reinterpret_cast<const char*>(p + r.offset + kRecHead), r.nameLen);
    total += key.size();
    if (key.size() > CKLF_Storage::klMaxKeyBytes || total > kMaxKeyTotal) return false;
    out.push_back({key, r.offset});
    if (r.type == CKLF_Storage::klRecFolder) {
      if (!expanded.insert(r.id).second) return false;
      auto range = children(r.id);
      stack.push_back({std::move(key), range.first, range.second});
    }
  }
  return true;
}

}  // namespace

struct CKLF_Storage::RecHead {
  u32 offset;
  u8 type;
  u32 parent;
  u32 id;
  u16 nameLen;
  u32 valueOff;
  u32 valueLen;
};

CKLF_Storage::CKLF_Storage()
    : m_image(nullptr),
      m_imageSize(0),
      m_file(nullptr),
      m_mode(0),
      m_count(0),
      m_lastId(0),
      m_changed(0),
      m_fileLength(0),
      m_fileNotOwned(0),
      m_accelerated(0),
      m_dataEnd(0),
      m_txLength(0),
      m_txCount(0),
      m_txLastId(0),
      m_journalUsed(0) {}

CKLF_Storage::~CKLF_Storage() { i_CloseFirst(); }

u8 CKLF_Storage::CheckSignature(const u8* head, u8* accelerated) {
  if (!head) return 0;
  if (!accelerated) return std::memcmp(head, kMagic, 8) == 0 ? 1 : 0;
  if (std::memcmp(head, kMagic, 7) != 0) return 0;
  if (head[7] == '0') {
    *accelerated = 0;
    return 1;
  }
  if (head[7] == 'S') {
    *accelerated = 1;
    return 1;
  }
  return 0;
}

// ---- opening and closing ----

void CKLF_Storage::i_Reset() {
  m_image = nullptr;
  m_imageSize = 0;
  m_file = nullptr;
  m_fileNotOwned = 0;
  m_mode = 0;
  m_count = 0;
  m_lastId = 0;
  m_changed = 0;
  m_fileLength = 0;
  m_accelerated = 0;
  m_dataEnd = 0;
  m_index.Empty();
  m_journal.free();
  m_journalUsed = 0;
}

// Opening closes what is open, digest and all.
void CKLF_Storage::i_CloseFirst() {
  // A close that fails is forced, which always closes.
  if (!Close()) (void)i_Close(true);
}

// A key that is a string that failed (its copy, or the text it came from)
// fails the call with its code.
u8 CKLF_Storage::i_KeyOk(const CKLF_String& key) { return key.IsError() ? FailFrom(key, klErrNoMemory) : 1; }

u8 CKLF_Storage::Open(CKLF_String path, u16 mode) {
  i_CloseFirst();
  if (!i_KeyOk(path)) return 0;
  std::unique_ptr<CKLF_StdFile> f(new (std::nothrow) CKLF_StdFile());
  if (!f) return Fail(klErrNoMemory);
  if (!f->Open(path, mode == 2 ? 4 : mode == 1 ? 1 : 3)) return FailFrom(*f, klErrFileOpen);
  m_file = f.release();
  m_fileNotOwned = 0;
  return i_OpenFile(mode);
}

u8 CKLF_Storage::Open(CKLF_String name, const KLP_FileRef* parent, u16 mode) {
  i_CloseFirst();
  if (!i_KeyOk(name)) return 0;
  std::unique_ptr<CKLF_StdFile> f(new (std::nothrow) CKLF_StdFile());
  if (!f) return Fail(klErrNoMemory);
  if (!f->Open(name, parent, mode == 2 ? 4 : mode == 1 ? 1 : 3)) return FailFrom(*f, klErrFileOpen);
  m_file = f.release();
  m_fileNotOwned = 0;
  return i_OpenFile(mode);
}

u8 CKLF_Storage::Open(CKLF_StdFile* file, u16 mode) {
  i_CloseFirst();
  if (!file) return Fail(klErrBadArg);
  m_file = file;
  m_fileNotOwned = 1;
  return i_OpenFile(mode);
}

u8 CKLF_Storage::i_OpenFile(u16 mode) {
  m_mode = (mode == 1 || mode == 2) ? mode : 3;
  u16 err = 0;
  i32 len = -1;
  CKLF_Mem all;
  if (!m_file->IsOpened()) {
    err = klErrFileNotOpen;
  } else if (!m_file->IsAllowToRead() || (m_mode != 1 && !m_file->IsAllowToWrite())) {
    // The container is read back at every change and at Close.
    err = klErrFileAccess;
  } else if (m_mode != 1 && !m_file->SetUnbuffered()) {
    err = m_file->GetError();
  } else if ((len = m_file->GetLength()) < 0) {
    err = m_file->GetError();
  } else if (len == 0 || m_mode == 2) {
    // Mode 2 creates: whatever the file held is replaced.
    if (m_mode == 1) {
      err = klErrBadArg;
    } else if (!CreateNewFileStructure()) {
      err = GetError();
    } else {
      ResetError();
      return 1;
    }
  } else if (!all.alloc(static_cast<u32>(len))) {
    err = klErrNoMemory;
  } else if (m_file->SetPos(0) < 0 || m_file->Read(all.GetPtr(), static_cast<u32>(len)) != len) {
    err = CodeOr(m_file->GetError(), klErrFileRead);
  } else if (!i_Parse(all.GetPtr(), static_cast<u32>(len), 1)) {
    err = GetError();
  }
  if (err) {
    // The caller's file stays open; our own goes.
    if (!m_fileNotOwned) delete m_file;
    i_Reset();
    return Fail(err);
  }
  m_fileLength = static_cast<u32>(len);
  ResetError();
  return 1;
}

u8 CKLF_Storage::Open(const u8* image, u32 size) {
  i_CloseFirst();
  if (!image || size < kEmptySize) return Fail(klErrStoreMagic);
  if (!i_Parse(image, size, 0)) {
    u16 err = GetError();
    i_Reset();
    return Fail(err);
  }
  m_image = image;
  m_imageSize = size;
  m_mode = 1;
  ResetError();
  return 1;
}

u8 CKLF_Storage::Open(CKLF_Mem* image) {
  if (!image) {
    i_CloseFirst();
    return Fail(klErrBadArg);
  }
  return Open(image->GetPtr(), image->GetSize());
}

u8 CKLF_Storage::i_Parse(const u8* p, u32 size, u8 allowAccelerated) {
  u8 accel = 0;
  if (size < kEmptySize || !(allowAccelerated ? CheckSignature(p, &accel) : CheckSignature(p, nullptr)) ||
      !CheckSignature(p + size - 8, nullptr)) {
    return Fail(klErrStoreMagic);
  }
  m_index.Empty();
  m_count = KLF_GetBE32(p + 24);
  m_lastId = KLF_GetBE32(p + 28);
  m_accelerated = accel;
  Entries entries;
  if (!accel) {
    u64 end = size - 8;
    u64 pos = kHeadSize;
    std::vector<Parsed> live;
    for (u32 i = 0; i < m_count; ++i) {
      Parsed r;
      if (!ParseRecord(p, pos, end, r, pos)) return Fail(klErrStoreMagic);
      if (r.type == klRecDeleted) continue;
      // New ids count up from the last id: a live id beyond it would clash,
      // and a parent beyond it would adopt the record into the next folder.
      if (r.id == 0 || r.id == kRootId || r.id > m_lastId || (r.parent != kRootId && r.parent > m_lastId)) {
        return Fail(klErrStoreMagic);
      }
      live.push_back(r);
    }
    // The records fill the area exactly: nothing half-written, nothing
    // the count does not know.
    if (pos != end || !WalkKeys(p, live, entries)) return Fail(klErrStoreMagic);
    m_dataEnd = static_cast<u32>(end);
  } else {
    u32 n = KLF_GetBE32(p + size - 12);
    if (static_cast<u64>(n) + 12 + kHeadSize > size) return Fail(klErrStoreMagic);
    u32 start = size - 12 - n;
    CKLF_ZipBlock zip;
    zip.SetMode(0);
    if (!zip.SetSourceBlock(p + start, n) || !zip.Process()) return FailLookup(zip, klErrStoreMagic);
    const u8* ix = zip.GetDestBlock()->GetPtr();
    u64 ixSize = zip.GetDestBlock()->GetSize();
    u64 at = 0;
    u64 total = 0;
    while (at < ixSize) {
      if (at + 2 > ixSize) return Fail(klErrStoreMagic);
      u16 klen = KLF_GetBE16(ix + at);
      if (klen == 0 || at + 2 + klen + 4 > ixSize || std::memchr(ix + at + 2, 0, klen)) return Fail(klErrStoreMagic);
      u32 offset = KLF_GetBE32(ix + at + 2 + klen);
      Parsed r;
      u64 next;
      total += klen;
      if (!ParseRecord(p, offset, start, r, next) || total > kMaxKeyTotal) return Fail(klErrStoreMagic);
      entries.push_back({std::string(reinterpret_cast<const char*>(ix + at + 2), klen), offset});
      at += 2u + klen + 4u;
    }
    m_dataEnd = start;
  }
  if (!std::is_sorted(entries.begin(), entries.end(), ByKey))
    std::stable_sort(entries.begin(), entries.end(), ByKey);
  if (!m_index.SetArraySize(static_cast<u32>(entries.size()))) return Fail(klErrNoMemory);
  for (auto& e : entries) {
    if (m_index.Add(CKLF_String(e.first.c_str()), e.second) < 0) return Fail(klErrNoMemory);
  }
  return 1;
}

u8 CKLF_Storage::CreateNewFileStructure() {
  if (!m_file || m_mode == 1) return Fail(klErrBadArg);
  u8 empty[kEmptySize] = {};
  std::memcpy(empty, kMagic, 8);
  std::memcpy(empty + 32, kMagic, 8);
  if (m_file->SetPos(0) < 0 || m_file->Write(empty, kEmptySize) != static_cast<i32>(kEmptySize) ||
      !m_file->Truncate(kEmptySize) || !m_file->Flush()) {
    return FailFrom(*m_file, klErrFileWrite);
  }
  m_index.Empty();
  m_count = 0;
  m_lastId = 0;
  m_fileLength = kEmptySize;
  m_dataEnd = kHeadSize;
  m_accelerated = 0;
  m_changed = 1;
  return 1;
}

u8 CKLF_Storage::Close() { return i_Close(false); }

u8 CKLF_Storage::i_Close(bool force) {
  if (!m_mode && !m_file && !m_image) return 1;
  u8 ok = 1;
  u16 err = 0;
  if (m_file && m_changed && !force) {
    u8 head[24];
    std::memcpy(head, kMagic, 8);
    i32 len = m_file->GetLength();
    u16 fail = len < 0 ? CodeOr(m_file->GetError(), klErrFileSeek)
                       : DigestFrom(*m_file, 24, static_cast<u32>(len), head + 8);
    if (fail) return Fail(fail);
    if (m_file->SetPos(0) < 0 || m_file->Write(head, 24) != 24) {
      ok = 0;
      err = CodeOr(m_file->GetError(), klErrFileWrite);
    }
  }
  if (m_file && !force) {
    if (m_file->IsOpened() && !m_file->Flush() && ok) {
      ok = 0;
      err = m_file->GetError();
    }
    if (!m_file->Close() && ok) {
      ok = 0;
      err = m_file->GetError();
    }
  }
  if (m_file && !m_fileNotOwned) delete m_file;
  i_Reset();
  return ok ? 1 : Fail(CodeOr(err, klErrFileWrite));
}

// ---- digest check ----

u8 CKLF_Storage::CheckMD5(const u8* image, u32 size) {
  if (!image || size < 25) return Fail(klErrStoreMagic);
  CKLF_MD5Block md5;
  u8 d[16];
  md5.Update(image + 24, size - 24);
  md5.Final(d);
  if (std::memcmp(d, image + 8, 16) != 0) return Fail(klErrStoreDigest);
  return 1;
}

namespace {

// From the file's position to its end; returns an error code or 0.
u16 CheckFileDigest(CKLF_StdFile& f) {
  i32 start = f.GetPos();
  i32 len = f.GetLength();
  if (start < 0 || len < 0) return CodeOr(f.GetError(), klErrFileSeek);
  u32 size = len > start ? static_cast<u32>(len - start) : 0;
  if (size == 0) return 0;
  if (size < 25) return klErrStoreMagic;
  u8 head[24];
  if (f.Read(head, 24) != 24) return CodeOr(f.GetError(), klErrFileRead);
  u8 d[16];
  u16 fail = DigestFrom(f, static_cast<u32>(start) + 24, static_cast<u32>(len), d);
  if (fail) return fail;
  return std::memcmp(d, head + 8, 16) == 0 ? 0 : klErrStoreDigest;
}

}  // namespace

u8 CKLF_Storage::CheckMD5(CKLF_String path) {
  CKLF_StdFile f;
  if (!f.Open(path, 1)) return FailFrom(f, klErrFileOpen);
  const u16 err = CheckFileDigest(f);
  return err ? Fail(err) : 1;
}

u8 CKLF_Storage::CheckMD5(CKLF_StdFile* file) {
  if (!file) return Fail(klErrBadArg);
  if (!file->IsOpened()) return Fail(klErrFileNotOpen);
  const u16 err = CheckFileDigest(*file);
  return err ? Fail(err) : 1;
}

u8 CKLF_Storage::CheckMD5(CKLF_String name, const KLP_FileRef* parent) {
  CKLF_StdFile f;
  if (!f.Open(name, parent, 1)) return FailFrom(f, klErrFileOpen);
  const u16 err = CheckFileDigest(f);
  return err ? Fail(err) : 1;
}

// ---- record access ----

u8 CKLF_Storage::i_Read(u32 offset, void* buf, u32 n) {
  if (n == 0) return 1;
  if (m_image) {
    if (static_cast<u64>(offset) + n > m_imageSize) return Fail(klErrStoreMagic);
    std::memcpy(buf, m_image + offset, n);
    return 1;
  }
  if (!m_file) return Fail(klErrFileNotOpen);
  if (m_file->SetPos(static_cast<i32>(offset)) < 0 || m_file->Read(buf, n) != static_cast<i32>(n)) {
    return FailFrom(*m_file, klErrFileRead);
  }
  return 1;
}

u8 CKLF_Storage::i_Head(u32 offset, RecHead& h) {
  u8 b[kRecHead];
  if (offset < kHeadSize || static_cast<u64>(offset) + kRecHead > m_dataEnd) return Fail(klErrStoreMagic);
  if (!i_Read(offset, b, kRecHead)) return 0;
  u32 body = KLF_GetBE32(b);
  h.offset = offset;
  h.type = b[4];
  h.parent = KLF_GetBE32(b + 5);
  h.id = KLF_GetBE32(b + 9);
  h.nameLen = KLF_GetBE16(b + 13);
  if (body < 11u + h.nameLen || static_cast<u64>(offset) + 4 + body > m_dataEnd) return Fail(klErrStoreMagic);
  h.valueOff = offset + kRecHead + h.nameLen;
  h.valueLen = body - 11 - h.nameLen;
  return 1;
}

i32 CKLF_Storage::i_Find(const CKLF_String& key) { return m_index.BSearch(key, 1); }

u8 CKLF_Storage::GetRecType(CKLF_String key) {
  if (!i_KeyOk(key)) return klRecMissing;
  i32 i = i_Find(key);
  RecHead h;
  if (i < 0) return Fail(klErrStoreNoKey, klRecMissing);
  if (!i_Head(m_index.GetPtrAt(static_cast<u32>(i))->GetUserValue(), h)) return klRecMissing;
  return h.type;
}

u8 CKLF_Storage::GetRec(CKLF_String key, _KLSTORAGEDATA& data, u32* length) {
  if (!i_KeyOk(key)) return klRecMissing;
  i32 i = i_Find(key);
  if (i < 0) return Fail(klErrStoreNoKey, klRecMissing);
  RecHead h;
  if (!i_Head(m_index.GetPtrAt(static_cast<u32>(i))->GetUserValue(), h)) return klRecMissing;
  u8 v[8];
  switch (h.type) {
    case klRecFolder:
      data.byte = 0;
      break;
    case klRecU8:
    case klRecU16:
    case klRecU32:
    case klRecDouble:
      if (h.valueLen < FixedSize(h.type) || !i_Read(h.valueOff, v, FixedSize(h.type))) {
        if (!GetError()) SetError(klErrStoreMagic);
        return klRecMissing;
      }
      if (h.type == klRecU8) data.byte = v[0];
      if (h.type == klRecU16) data.word = KLF_GetBE16(v);
      if (h.type == klRecU32) data.dword = KLF_GetBE32(v);
      if (h.type == klRecDouble) {
        u64 bits = (static_cast<u64>(KLF_GetBE32(v)) << 32) | KLF_GetBE32(v + 4);
        std::memcpy(&data.dbl, &bits, 8);
      }
      break;
    case klRecString:
    case klRecBlock: {
      if (h.valueLen < 4 || !i_Read(h.valueOff, v, 4)) return klRecMissing;
      u32 l = KLF_GetBE32(v);
      if (l > h.valueLen - 4) return Fail(klErrStoreMagic, klRecMissing);
      if (!data.ptr) {
        data.dword = l;
        if (length) *length = l;
        break;
      }
      if (!length || *length < l) {
        if (length) *length = l;
        return Fail(klErrBadArg, klRecMissing);
      }
      if (!i_Read(h.valueOff + 4, data.ptr, l)) return klRecMissing;
      *length = l;
      break;
    }
    default:
      break;
  }
  return h.type;
}

namespace {

template <typename T>
u8 TypedFixed(CKLF_Storage& s, const CKLF_String& key, u8 type, T& out) {
  _KLSTORAGEDATA d;
  d.ptr = nullptr;
  u8 t = s.GetRecType(key);
  if (t == CKLF_Storage::klRecMissing) return 0;
  if (t != type) return s.Fail(klErrStoreType);
  if (s.GetRec(key, d) != type) return 0;
  std::memcpy(&out, &d, sizeof(T));
  return 1;
}

}  // namespace

u8 CKLF_Storage::GetRec(CKLF_String key, u8& v) { return TypedFixed(*this, key, klRecU8, v); }
u8 CKLF_Storage::GetRec(CKLF_String key, u16& v) { return TypedFixed(*this, key, klRecU16, v); }
u8 CKLF_Storage::GetRec(CKLF_String key, u32& v) { return TypedFixed(*this, key, klRecU32, v); }
u8 CKLF_Storage::GetRec(CKLF_String key, f64& v) { return TypedFixed(*this, key, klRecDouble, v); }

u8 CKLF_Storage::GetRec(CKLF_String key, CKLF_String& v) {
  u32 l = 0;
  u8 t = GetRecType(key);
  if (t == klRecMissing) return 0;
  if (t != klRecString) return Fail(klErrStoreType);
  if (!GetRec(key, nullptr, l)) return 0;
  CKLF_Mem text;
  if (!text.alloc(l)) return Fail(klErrNoMemory);
  u32 cap = l;
  if (!GetRec(key, text.GetPtr(), cap)) return 0;
  // The stored text without its NUL, and never past an inner NUL.
  const char* s = reinterpret_cast<const char*>(text.GetPtr());
  u32 n = 0;
  while (n + 1 < l && s[n] != 0) ++n;
  text.GetPtr()[n] = 0;
  if ((v = s).IsError()) return FailFrom(v, klErrNoMemory);
  return 1;
}

u8 CKLF_Storage::GetRec(CKLF_String key, CKLF_Mem& v) {
  u32 l = 0;
  u8 t = GetRecType(key);
  if (t == klRecMissing) return 0;
  if (t != klRecBlock) return Fail(klErrStoreType);
  if (!GetRec(key, nullptr, l)) return 0;
  v.free();
  if (l && !v.alloc(l)) return Fail(klErrNoMemory);
  u32 cap = l;
  return GetRec(key, v.GetPtr(), cap);
}

u8 CKLF_Storage::GetRec(CKLF_String key, u8* buf, u32& len) {
  u8 t = GetRecType(key);
  if (t == klRecMissing) return 0;
  if (t != klRecString && t != klRecBlock) return Fail(klErrStoreType);
  _KLSTORAGEDATA d;
  d.ptr = buf;
  u32 l = buf ? len : 0;
  if (GetRec(key, d, &l) != t) {
    len = l;
    return 0;
  }
  len = l;
  return 1;
}

u8 CKLF_Storage::GetAllRecords(CKLF_String folder, CKLF_StringArray& out) {
  out.Empty();
  if (!i_KeyOk(folder)) return 0;
  std::vector<std::pair<u32, CKLF_String*>> kids;
  u32 skip = 0;
  u32 first = 0;
  u32 end = m_index.GetSize();
  if (folder.GetLength() != 0) {
    if (GetRecType(folder) != klRecFolder) return Fail(klErrStoreNotFolder);
    if (!i_SubtreeRange(folder, first, end)) return 0;
    skip = folder.GetLength() + 1;
  }
  for (u32 i = first; i < end; ++i) {
    CKLF_String* k = m_index.GetPtrAt(i);
    if (std::strchr(k->GetStr() + skip, '>')) continue;
    kids.push_back({k->GetUserValue(), k});
  }
  std::sort(kids.begin(), kids.end(),
            [](const std::pair<u32, CKLF_String*>& a, const std::pair<u32, CKLF_String*>& b) {
              return a.first < b.first;
            });
  for (auto& kid : kids) {
    RecHead h;
    if (!i_Head(kid.first, h)) return 0;
    if (out.Add(CKLF_String(kid.second->GetStr() + skip), h.type) < 0) return Fail(klErrNoMemory);
  }
  return 1;
}

// ---- index helpers ----

u8 CKLF_Storage::i_SubtreeRange(const CKLF_String& key, u32& first, u32& end) {
  CKLF_String prefix = key + ">";
  if (prefix.IsError()) return FailFrom(prefix, klErrNoMemory);
  first = m_index.UpperBound(prefix, 1);
  end = first;
  while (end < m_index.GetSize() &&
         std::strncmp(m_index.GetPtrAt(end)->GetStr(), prefix.GetStr(), prefix.GetLength()) == 0)
    ++end;
  return 1;
}

u8 CKLF_Storage::i_IndexInsert(const CKLF_String& key, u32 offset) {
  if (!m_index.InsertAt(m_index.UpperBound(key, 1), key, offset)) return Fail(klErrNoMemory);
  return 1;
}

void CKLF_Storage::i_IndexRemove(const CKLF_String& key, u32 offset) {
  i32 i = i_Find(key);
  if (i < 0) return;
  for (u32 j = static_cast<u32>(i); j < m_index.GetSize(); ++j) {
    CKLF_String* s = m_index.GetPtrAt(j);
    if (s->Compare(key) != 0) break;
    if (s->GetUserValue() == offset) {
      m_index.DeleteAt(j);
      return;
    }
  }
}

// ---- transactions ----

void CKLF_Storage::i_TxBegin() {
  m_txLength = m_fileLength;
  m_txCount = m_count;
  m_txLastId = m_lastId;
  m_journalUsed = 0;
}

u8 CKLF_Storage::i_TxWrite(u32 offset, const void* p, u32 n) {
  if (offset < m_txLength) {
    u32 k = std::min(n, m_txLength - offset);
    u64 need = static_cast<u64>(m_journalUsed) + 8 + k;
    if (need > m_journal.GetSize()) {
      u64 grow = std::max<u64>(need, 2ull * m_journal.GetSize());
      if (!klFits32(grow) || !m_journal.Resize(static_cast<u32>(grow))) return Fail(klErrNoMemory);
    }
    u8* j = m_journal.GetPtr() + m_journalUsed;
    if (!i_Read(offset, j + 8, k)) return 0;
    KLF_PutBE32(j, offset);
    KLF_PutBE32(j + 4, k);
    m_journalUsed += 8 + k;
  }
  if (m_file->SetPos(static_cast<i32>(offset)) < 0 || m_file->Write(p, n) != static_cast<i32>(n)) {
    return FailFrom(*m_file, klErrFileWrite);
  }
  return 1;
}

u8 CKLF_Storage::i_TxCommit() {
  if (!m_file->Flush()) {
    FailFrom(*m_file, klErrFileWrite);
    return i_TxFail();
  }
  m_journalUsed = 0;
  m_changed = 1;
  return 1;
}

u8 CKLF_Storage::i_TxFail() {
  u16 err = CodeOr(GetError(), klErrFileWrite);
  i_TxRollback();
  m_fileLength = m_txLength;
  m_count = m_txCount;
  m_lastId = m_txLastId;
  m_dataEnd = m_fileLength - 8;
  return Fail(err);
}

void CKLF_Storage::i_TxRollback() {
  // Entries are put back newest first, so a byte written twice ends as it
  // began; each is found by walking from the first (a rollback allocates
  // nothing: it follows failures, memory's among them).
  for (u32 end = m_journalUsed; end > 0;) {
    u32 at = 0;
    for (u32 next = 0; next + 8 <= end && next < end; next += 8 + KLF_GetBE32(m_journal.GetPtr() + next + 4)) at = next;
    const u8* j = m_journal.GetPtr() + at;
    // As much as can be put back: the failure being rolled back is the one
    // reported.
    if (m_file->SetPos(static_cast<i32>(KLF_GetBE32(j))) >= 0) (void)m_file->Write(j + 8, KLF_GetBE32(j + 4));
    end = at;
  }
  if (m_file->Truncate(m_txLength)) (void)m_file->Flush();
  m_journalUsed = 0;
}

// ---- writing ----

u8 CKLF_Storage::i_CanWrite() {
  if (!m_mode) return Fail(klErrEmpty);
  if (m_mode == 1 || !m_file || m_accelerated) return Fail(klErrStoreReadOnly);
  return 1;
}

u8 CKLF_Storage::i_ValueBytes(u8 type, const _KLSTORAGEDATA& data, u32 length, CKLF_Mem& out) {
  if (IsFixedType(type)) {
    if (!out.alloc(FixedSize(type))) return Fail(klErrNoMemory);
    u8* p = out.GetPtr();
    if (type == klRecU8) p[0] = data.byte;
    if (type == klRecU16) KLF_PutBE16(p, data.word);
    if (type == klRecU32) KLF_PutBE32(p, data.dword);
    if (type == klRecDouble) {
      u64 bits;
      std::memcpy(&bits, &data.dbl, 8);
      KLF_PutBE32(p, static_cast<u32>(bits >> 32));
      KLF_PutBE32(p + 4, static_cast<u32>(bits));
    }
    return 1;
  }
  if (type != klRecString && type != klRecBlock) return Fail(klErrBadArg);
  if ((length && !data.ptr) || (type == klRecString && length == 0)) return Fail(klErrBadArg);
  if (static_cast<u64>(length) + 4 > kMaxFile) return Fail(klErrNoMemory);
  if (!out.alloc(length + 4)) return Fail(klErrNoMemory);
  KLF_PutBE32(out.GetPtr(), length);
  if (length) std::memcpy(out.GetPtr() + 4, data.ptr, length);
  return 1;
}

u8 CKLF_Storage::i_ParentId(const CKLF_String& parentKey, u32& id, u16 missingError) {
  if (parentKey.GetLength() == 0) {
    id = kRootId;
    return 1;
  }
  i32 i = i_Find(parentKey);
  if (i < 0) return Fail(missingError);
  RecHead h;
  if (!i_Head(m_index.GetPtrAt(static_cast<u32>(i))->GetUserValue(), h)) return 0;
  if (h.type != klRecFolder) return Fail(missingError);
  id = h.id;
  return 1;
}

u8 CKLF_Storage::i_Append(CKLF_Mem& rec, const CKLF_String& name, u8 type, u32 parent, u32 id, const u8* value,
                          u32 valueLen) {
  u64 body = 11ull + name.GetLength() + valueLen;
  u64 total = 4 + body + 8;
  if (name.GetLength() > 0xFFFF || static_cast<u64>(m_fileLength) + 4 + body > kMaxFile) return Fail(klErrNoMemory);
  if (!rec.alloc(static_cast<u32>(total))) return Fail(klErrNoMemory);
  u8* p = rec.GetPtr();
  KLF_PutBE32(p, static_cast<u32>(body));
  p[4] = type;
  KLF_PutBE32(p + 5, parent);
  KLF_PutBE32(p + 9, id);
  KLF_PutBE16(p + 13, static_cast<u16>(name.GetLength()));
  std::memcpy(p + kRecHead, name.GetStr(), name.GetLength());
  if (valueLen) std::memcpy(p + kRecHead + name.GetLength(), value, valueLen);
  std::memcpy(p + total - 8, kMagic, 8);
  return i_TxWrite(m_fileLength - 8, p, static_cast<u32>(total));
}

namespace {

// A key the index can hold: not empty, no empty first name, within the cap.
bool KeyShapeOk(const CKLF_String& key) {
  return key.GetLength() != 0 && key.GetLength() <= CKLF_Storage::klMaxKeyBytes && key[0u] != '>';
}

}  // namespace

u8 CKLF_Storage::i_AddRecord(const CKLF_String& key, u8 type, const u8* value, u32 valueLen) {
  CKLF_String parentKey, name;
  if (!SplitPath(key, parentKey, name)) return FailFrom(name, klErrNoMemory);
  if (!KeyShapeOk(key) || name.GetLength() == 0) return Fail(klErrBadArg);
  u32 parent;
  if (!i_ParentId(parentKey, parent, klErrStoreNotFolder)) return 0;
  if (m_lastId >= kRootId - 1) return Fail(klErrBadArg);
  u32 offset = m_fileLength - 8;
  u32 id = m_lastId + 1;
  CKLF_Mem rec;
  u8 head[8];
  KLF_PutBE32(head, m_count + 1);
  KLF_PutBE32(head + 4, id);
  i_TxBegin();
  if (!i_Append(rec, name, type, parent, id, value, valueLen) || !i_TxWrite(24, head, 8)) return i_TxFail();
  if (!i_TxCommit()) return 0;
  m_count++;
  m_lastId = id;
  m_fileLength += rec.GetSize() - 8;
  m_dataEnd = m_fileLength - 8;
  if (!i_IndexInsert(key, offset)) return 0;
  ResetError();
  return 1;
}

u8 CKLF_Storage::i_Replace(i32 index, const CKLF_String& key, u8 type, const u8* value, u32 valueLen) {
  u32 oldOffset = m_index.GetPtrAt(static_cast<u32>(index))->GetUserValue();
  RecHead h;
  if (!i_Head(oldOffset, h)) return 0;
  CKLF_String parentKey, name;
  if (!SplitPath(key, parentKey, name)) return FailFrom(name, klErrNoMemory);
  if (m_lastId >= kRootId - 1) return Fail(klErrBadArg);
  u32 first, end;
  if (!i_SubtreeRange(key, first, end)) return 0;
  u32 offset = m_fileLength - 8;
  u32 id = m_lastId + 1;
  const u8 dead = klRecDeleted;
  CKLF_Mem rec;
  u8 head[8];
  KLF_PutBE32(head, m_count + 1);
  KLF_PutBE32(head + 4, id);
  // The record first, then what lies below it: cut off, the rest is
  // unreachable anyway.
  i_TxBegin();
  if (!i_TxWrite(oldOffset + 4, &dead, 1)) return i_TxFail();
  for (u32 i = first; i < end; ++i)
    if (!i_TxWrite(m_index.GetPtrAt(i)->GetUserValue() + 4, &dead, 1)) return i_TxFail();
  if (!i_Append(rec, name, type, h.parent, id, value, valueLen) || !i_TxWrite(24, head, 8)) return i_TxFail();
  if (!i_TxCommit()) return 0;
  m_count++;
  m_lastId = id;
  m_fileLength += rec.GetSize() - 8;
  m_dataEnd = m_fileLength - 8;
  for (u32 i = end; i > first; --i) m_index.DeleteAt(i - 1);
  m_index.DeleteAt(static_cast<u32>(index));
  if (!i_IndexInsert(key, offset)) return 0;
  ResetError();
  return 1;
}

u8 CKLF_Storage::SetRecord(CKLF_String key, u8 type, _KLSTORAGEDATA data, u32 length) {
  if (!i_CanWrite() || !i_KeyOk(key)) return 0;
  if (type == klRecFolder) return AddFolder(key);
  CKLF_Mem value;
  if (!i_ValueBytes(type, data, length, value)) return 0;
  i32 i = i_Find(key);
  if (i < 0) return i_AddRecord(key, type, value.GetPtr(), value.GetSize());
  RecHead h;
  if (!i_Head(m_index.GetPtrAt(static_cast<u32>(i))->GetUserValue(), h)) return 0;
  if (h.type == type) {
    bool fits = IsFixedType(type);
    if (!fits) {
      u8 l[4];
      if (!i_Read(h.valueOff, l, 4)) return 0;
      fits = length <= KLF_GetBE32(l);
    }
    if (fits) {
      // Length and bytes in one write: the value changes whole or not at all.
      i_TxBegin();
      if (!i_TxWrite(h.valueOff, value.GetPtr(), value.GetSize())) return i_TxFail();
      if (!i_TxCommit()) return 0;
      ResetError();
      return 1;
    }
  }
  return i_Replace(i, key, type, value.GetPtr(), value.GetSize());
}

u8 CKLF_Storage::SetRecord(CKLF_String key, u8 v) {
  _KLSTORAGEDATA d;
  d.byte = v;
  return SetRecord(key, klRecU8, d, 1);
}

u8 CKLF_Storage::SetRecord(CKLF_String key, u16 v) {
  _KLSTORAGEDATA d;
  d.word = v;
  return SetRecord(key, klRecU16, d, 2);
}

u8 CKLF_Storage::SetRecord(CKLF_String key, u32 v) {
  _KLSTORAGEDATA d;
  d.dword = v;
  return SetRecord(key, klRecU32, d, 4);
}

u8 CKLF_Storage::SetRecord(CKLF_String key, f64 v) {
  _KLSTORAGEDATA d;
  d.dbl = v;
  return SetRecord(key, klRecDouble, d, 8);
}

u8 CKLF_Storage::SetRecord(CKLF_String key, CKLF_String v) {
  if (!i_KeyOk(v)) return 0;
  _KLSTORAGEDATA d;
  d.ptr = reinterpret_cast<u8*>(v.GetStr());
  return SetRecord(key, klRecString, d, v.GetLength() + 1);
}

u8 CKLF_Storage::SetRecord(CKLF_String key, const u8* bytes, u32 n) {
  _KLSTORAGEDATA d;
  d.ptr = const_cast<u8*>(bytes);
  return SetRecord(key, klRecBlock, d, n);
}

u8 CKLF_Storage::AddFolder(CKLF_String key) {
  if (!i_CanWrite() || !i_KeyOk(key)) return 0;
  if (i_Find(key) >= 0) return Fail(klErrStoreKeyExists);
  return i_AddRecord(key, klRecFolder, nullptr, 0);
}

u8 CKLF_Storage::KillRec(CKLF_String key) {
  if (!i_CanWrite() || !i_KeyOk(key)) return 0;
  i32 i = i_Find(key);
  if (i < 0) return Fail(klErrStoreNoKey);
  u32 same = static_cast<u32>(i);
  while (same < m_index.GetSize() && m_index.GetPtrAt(same)->Compare(key) == 0) ++same;
  u32 first, end;
  if (!i_SubtreeRange(key, first, end)) return 0;
  const u8 dead = klRecDeleted;
  // Folders before their contents: a cut-off run leaves the rest unreachable.
  i_TxBegin();
  for (u32 j = static_cast<u32>(i); j < same; ++j)
    if (!i_TxWrite(m_index.GetPtrAt(j)->GetUserValue() + 4, &dead, 1)) return i_TxFail();
  for (u32 j = first; j < end; ++j)
    if (!i_TxWrite(m_index.GetPtrAt(j)->GetUserValue() + 4, &dead, 1)) return i_TxFail();
  if (!i_TxCommit()) return 0;
  for (u32 j = end; j > first; --j) m_index.DeleteAt(j - 1);
  for (u32 j = same; j > static_cast<u32>(i); --j) m_index.DeleteAt(j - 1);
  ResetError();
  return 1;
}

u8 CKLF_Storage::Rename(CKLF_String oldKey, CKLF_String newKey) {
  if (!i_CanWrite() || !i_KeyOk(oldKey) || !i_KeyOk(newKey)) return 0;
  if (oldKey.Compare(newKey) == 0) return 1;
  i32 i = i_Find(oldKey);
  if (i < 0) return Fail(klErrStoreNoKey);
  CKLF_String oldParent, oldName, newParent, newName;
  if (!SplitPath(oldKey, oldParent, oldName)) return FailFrom(oldName, klErrNoMemory);
  if (!SplitPath(newKey, newParent, newName)) return FailFrom(newName, klErrNoMemory);
  CKLF_String inside = oldKey + ">";
  if (inside.IsError()) return FailFrom(inside, klErrNoMemory);
  if (i_Find(newKey) >= 0 || oldName.GetLength() == 0 || newName.GetLength() == 0 || !KeyShapeOk(newKey) ||
      std::strncmp(newKey.GetStr(), inside.GetStr(), inside.GetLength()) == 0) {
    return Fail(klErrBadArg);
  }
  u32 parent;
  if (!i_ParentId(newParent, parent, klErrBadArg)) return 0;
  u32 oldOffset = m_index.GetPtrAt(static_cast<u32>(i))->GetUserValue();
  RecHead h;
  if (!i_Head(oldOffset, h)) return 0;
  u32 first, end;
  if (!i_SubtreeRange(oldKey, first, end)) return 0;
  for (u32 j = first; j < end; ++j) {
    u64 len = static_cast<u64>(m_index.GetPtrAt(j)->GetLength()) - oldKey.GetLength() + newKey.GetLength();
    if (len > klMaxKeyBytes) return Fail(klErrBadArg);
  }
  // The value as its type defines it (strings and blocks: length and bytes).
  u32 valueLen = h.valueLen;
  if (h.type == klRecFolder) valueLen = 0;
  if (IsFixedType(h.type)) valueLen = FixedSize(h.type);
  if (h.type == klRecString || h.type == klRecBlock) {
    u8 l[4];
    if (h.valueLen < 4 || !i_Read(h.valueOff, l, 4)) return 0;
    if (KLF_GetBE32(l) > h.valueLen - 4) return Fail(klErrStoreMagic);
    valueLen = KLF_GetBE32(l) + 4;
  }
  CKLF_Mem value;
  if (valueLen && (!value.alloc(valueLen) || !i_Read(h.valueOff, value.GetPtr(), valueLen))) {
    if (!GetError()) SetError(klErrNoMemory);
    return 0;
  }

  u32 offset = m_fileLength - 8;
  const u8 dead = klRecDeleted;
  CKLF_Mem rec;
  u8 head[4];
  KLF_PutBE32(head, m_count + 1);
  i_TxBegin();
  if (!i_Append(rec, newName, h.type, parent, h.id, value.GetPtr(), valueLen) || !i_TxWrite(24, head, 4) ||
      !i_TxWrite(oldOffset + 4, &dead, 1))
    return i_TxFail();
  if (!i_TxCommit()) return 0;
  m_count++;
  m_fileLength += rec.GetSize() - 8;
  m_dataEnd = m_fileLength - 8;

  // The keys below follow under the new name; their records stay put.
  std::vector<std::pair<std::string, u32>> moved;
  for (u32 j = first; j < end; ++j) {
    CKLF_String* k = m_index.GetPtrAt(j);
    moved.push_back({std::string(newKey.GetStr()) + (k->GetStr() + oldKey.GetLength()), k->GetUserValue()});
  }
  for (u32 j = end; j > first; --j) m_index.DeleteAt(j - 1);
  m_index.DeleteAt(static_cast<u32>(i));
  u8 ok = i_IndexInsert(newKey, offset);
  for (auto& m : moved) ok = ok && i_IndexInsert(CKLF_String(m.first.c_str()), m.second);
  if (!ok) return 0;
  ResetError();
  return 1;
}
