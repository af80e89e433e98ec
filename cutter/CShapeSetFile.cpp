#include "CShapeSetFile.h"

#include <cstring>

#include "CKLF_Storage.h"
#include "KLF_BigEndian.h"
#include "KLF_LittleEndian.h"
#include "KLF_ShapeValues.h"

const char CShapeSetFile::kVersion[] = "Kelvanos Tessarette Shape Set 2.0";

namespace {

const u32 kCountOffset = 64;
const u32 kUOffset = 68;
const u32 kHOffset = kUOffset + 4 * CCutterServices::kMaxNodes;
const u32 kSOffset = kHOffset + 4 * CCutterServices::kMaxNodes;
const char kCorrupt[] = "Unknow file format or file corrupt...";
const char kCannotWrite[] = "Cannot write file...";
const char kReadError[] = "Error reading data file...";

// Copies a name up to its NUL, at most 63 bytes, and pads with NUL.
void CopyName(u8* out, const char* name, u32 available) {
  std::memset(out, 0, CShapeSetFile::kNameSize);
  for (u32 i = 0; name && i < available && i < CShapeSetFile::kNameSize - 1 && name[i]; ++i)
    out[i] = static_cast<u8>(name[i]);
}

}  // namespace

// ---- Library records.

void CShapeSetFile::SetRecordName(u8* rec, const char* name) { CopyName(rec, name, kNameSize); }

void CShapeSetFile::GetRecordName(const u8* rec, char name[kNameSize]) {
  CopyName(reinterpret_cast<u8*>(name), reinterpret_cast<const char*>(rec), kNameSize);
}

void CShapeSetFile::PutRecord(u8* rec, const char* name, const SHAPE& shape) {
  std::memset(rec, 0, kRecordSize);
  SetRecordName(rec, name);
  const u32 n = shape.nodeCount > CCutterServices::kMaxNodes ? CCutterServices::kMaxNodes : shape.nodeCount;
  rec[kCountOffset] = static_cast<u8>(n);
  for (u32 i = 0; i < n; ++i) {
    KLF_PutBEF32(rec + kUOffset + 4 * i, static_cast<f32>(shape.nodes[i].U));
    KLF_PutBEF32(rec + kHOffset + 4 * i, static_cast<f32>(shape.nodes[i].H));
    KLF_PutBEF32(rec + kSOffset + 4 * i, static_cast<f32>(shape.S[i]));
  }
}

u32 CShapeSetFile::RecordNodeCount(const u8* rec) {
  return rec[kCountOffset] > CCutterServices::kMaxNodes ? CCutterServices::kMaxNodes : rec[kCountOffset];
}

f32 CShapeSetFile::RecordU(const u8* rec, u32 i) { return KLF_GetBEF32(rec + kUOffset + 4 * i); }
f32 CShapeSetFile::RecordH(const u8* rec, u32 i) { return KLF_GetBEF32(rec + kHOffset + 4 * i); }
f32 CShapeSetFile::RecordS(const u8* rec, u32 i) { return KLF_GetBEF32(rec + kSOffset + 4 * i); }

u8 CShapeSetFile::RecordIsSound(const u8* rec) {
  for (u32 i = 0, n = RecordNodeCount(rec); i < n; ++i)
    if (!klShapeNodeFinite(RecordH(rec, i), RecordU(rec, i), RecordS(rec, i))) return 0;
  return 1;
}

void CShapeSetFile::RecordToShape(const u8* rec, SHAPE& shape) {
  shape.nodeCount = static_cast<u8>(RecordNodeCount(rec));
  for (u32 i = 0; i < shape.nodeCount; ++i) {
    f64 h = RecordH(rec, i), u = RecordU(rec, i), s = RecordS(rec, i);
    klClampShapeNode(h, u, s);
    shape.nodes[i] = {h, u};
    shape.S[i] = s;
  }
}

// ---- Shape records.

void CShapeSetFile::PutShapeRecord(u8* out, const u8* rec) {
  const u32 n = RecordNodeCount(rec);
  CopyName(out, reinterpret_cast<const char*>(rec), kNameSize);
  KLF_PutLE32(out + kCountOffset, n);
  for (u32 i = 0; i < n; ++i) {
    KLF_PutLEF32(out + kShapeHead + 12 * i, RecordU(rec, i));
    KLF_PutLEF32(out + kShapeHead + 12 * i + 4, RecordH(rec, i));
    KLF_PutLEF32(out + kShapeHead + 12 * i + 8, RecordS(rec, i));
  }
}

u8 CShapeSetFile::ShapeRecordToRecord(const u8* in, u32 length, u8* rec) {
  if (length < kShapeHead) return 0;
  const u32 n = KLF_GetLE32(in + kCountOffset);
  if (n > CCutterServices::kMaxNodes || length < ShapeRecordSize(n)) return 0;
  std::memset(rec, 0, kRecordSize);
  CopyName(rec, reinterpret_cast<const char*>(in), kNameSize);
  rec[kCountOffset] = static_cast<u8>(n);
  for (u32 i = 0; i < n; ++i) {
    f64 u = KLF_GetLEF32(in + kShapeHead + 12 * i), h = KLF_GetLEF32(in + kShapeHead + 12 * i + 4),
        s = KLF_GetLEF32(in + kShapeHead + 12 * i + 8);
    if (!klShapeNodeFinite(h, u, s)) return 0;
    klClampShapeNode(h, u, s);
    KLF_PutBEF32(rec + kUOffset + 4 * i, static_cast<f32>(u));
    KLF_PutBEF32(rec + kHOffset + 4 * i, static_cast<f32>(h));
    KLF_PutBEF32(rec + kSOffset + 4 * i, static_cast<f32>(s));
  }
  return 1;
}

// ---- Shape set files.

u8 CShapeSetFile::Write(CKLF_StdFile* file, const u8* records, u32 count, const u8* selected,
                        CPresetsWindowPort* status) {
  i_ClearAlert();
  u32 m = 0;
  for (u32 i = 0; i < count; ++i) m += !selected || selected[i] ? 1 : 0;
  if (!file || !records || m == 0) return Fail(klErrBadArg);
  CKLF_Storage st;
  if (!st.Open(file, 2) || !st.SetRecord("Version", CKLF_String(kVersion)))
    return i_FailFrom(st, klErrFileWrite, kCannotWrite);
  u8 shape[kShapeHead + 12 * CCutterServices::kMaxNodes];
  CKLF_String key, text;
  for (u32 i = 0, k = 0; i < count; ++i) {
    if (selected && !selected[i]) continue;
    const u8* rec = records + static_cast<size_t>(i) * kRecordSize;
    PutShapeRecord(shape, rec);
    if (status) status->SetStatus(text.Format("Writing shape %u of %u", k + 1, m));
    if (!st.SetRecord(key.Format("Shape_%u", k++), shape, ShapeRecordSize(RecordNodeCount(rec))))
      return i_FailFrom(st, klErrFileWrite, kCannotWrite);
  }
  if (!st.SetRecord("TotalShapes", m)) return i_FailFrom(st, klErrFileWrite, kCannotWrite);
  if (status) status->SetStatus("Writing complete");
  if (!st.Close()) return i_FailFrom(st, klErrFileWrite, kCannotWrite);
  return 1;
}

u8 CShapeSetFile::Read(const u8* image, u32 size, CKLF_Mem& records, u32& count) {
  i_ClearAlert();
  count = 0;
  records.free();
  CKLF_Storage st;
  if (!image || !st.CheckMD5(image, size)) return i_FailFrom(st, klErrNotFormat, kCorrupt);
  CKLF_String version;
  u32 m = 0;
  if (!st.Open(image, size) || !st.GetRec("Version", version) || version.Compare(kVersion) != 0 ||
      !st.GetRec("TotalShapes", m))
    return i_FailFrom(st, klErrNotFormat, "");
  if (m == 0) return 1;
  // Each shape is a record of the container: more cannot be there, and the
  // first one missing is that many shapes short.
  const u64 bytes = static_cast<u64>(m) * kRecordSize;
  if (m > st.GetTotalRecords()) return i_Fail(klErrStoreNoKey, kReadError);
  if (!klFits32(bytes) || !records.Zalloc(static_cast<u32>(bytes)))
    return i_Fail(klErrNoMemory, "Memory allocation problem...");
  CKLF_String key;
  CKLF_Mem shape;
  for (u32 k = 0; k < m; ++k) {
    u8* rec = records.GetPtr() + static_cast<size_t>(k) * kRecordSize;
    const u8 found = st.GetRec(key.Format("Shape_%u", k), shape);
    if (!found || !ShapeRecordToRecord(shape.GetPtr(), shape.GetSize(), rec)) {
      records.free();
      return found ? i_Fail(klErrNotFormat, kCorrupt) : i_FailFrom(st, klErrStoreNoKey, kReadError);
    }
  }
  count = m;
  return 1;
}
