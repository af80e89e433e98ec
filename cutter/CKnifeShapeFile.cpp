#include "CKnifeShapeFile.h"

#include <cstring>

#include "CKLF_Storage.h"
#include "KLF_LittleEndian.h"
#include "KLF_ShapeValues.h"

const char CKnifeShapeFile::kVersion[] = "Kelvanos Tessarette Shape 2.0";
const char CKnifeShapeFile::kLegacyText[] = "Kelvanos Tessarette Shape 1.2";

namespace {

const char kCannotWrite[] = "Cannot write file...";
const char kCorrupt[] = "Unknow file format or file corrupt...";

}  // namespace

u8 CKnifeShapeFile::Write(CKLF_StdFile* file, const SHAPE& shape) {
  i_ClearAlert();
  CKLF_Storage st;
  const u32 n = shape.nodeCount > CCutterServices::kMaxNodes ? CCutterServices::kMaxNodes : shape.nodeCount;
  if (!file || !st.Open(file, 2) || !st.SetRecord("Version", CKLF_String(kVersion)) ||
      !st.SetRecord("Nodes", static_cast<u8>(n)))
    return i_FailFrom(st, klErrFileWrite, kCannotWrite);
  CKLF_String key;
  for (u32 i = 0; i < n; ++i)
    if (!st.SetRecord(key.Format("Node_U_%u", i), shape.nodes[i].U) ||
        !st.SetRecord(key.Format("Node_H_%u", i), shape.nodes[i].H) ||
        !st.SetRecord(key.Format("Node_S_%u", i), shape.S[i]))
      return i_FailFrom(st, klErrFileWrite, kCannotWrite);
  if (!st.Close()) return i_FailFrom(st, klErrFileWrite, kCannotWrite);
  return 1;
}

u8 CKnifeShapeFile::Read(CKLF_StdFile* file, SHAPE& shape) {
  i_ClearAlert();
  const i32 length = file ? file->GetLength() : -1;
  if (length < 0 || file->SetPos(0) != 0) return i_Fail(klErrFileRead, "Error reading data file...");
  if (length == 0) return i_Fail(klErrNotFormat, "File corrupt... (0-length file)");
  if (static_cast<u32>(length) > kMaxFileSize) return i_Fail(klErrNotFormat, kCorrupt);
  CKLF_Mem image;
  if (!image.alloc(static_cast<u32>(length))) return i_Fail(klErrNoMemory, "Memory allocation problem...");
  if (file->Read(image.GetPtr(), static_cast<u32>(length)) != length)
    return i_Fail(klErrFileRead, "Error reading data file...");
  return Read(image.GetPtr(), static_cast<u32>(length), shape);
}

u8 CKnifeShapeFile::Read(const u8* image, u32 size, SHAPE& shape) {
  i_ClearAlert();
  if (!image || size == 0) return i_Fail(klErrNotFormat, "File corrupt... (0-length file)");
  if (size == kLegacySize && std::memcmp(image, kLegacyText, kLegacyTextSize) == 0) {
    i_ReadLegacy(image, shape);
    return 1;
  }
  CKLF_Storage st;
  CKLF_String version;
  u8 n = 0;
  if (!st.CheckMD5(image, size) || !st.Open(image, size) || !st.GetRec("Version", version) ||
      version.Compare(kVersion) != 0 || !st.GetRec("Nodes", n) || n > CCutterServices::kMaxNodes)
    return i_FailFrom(st, klErrNotFormat, kCorrupt);
  SHAPE read;
  std::memset(&read, 0, sizeof(read));
  CKLF_String key;
  for (u32 i = 0; i < n; ++i) {
    f64 u = 0, h = 0, s = 0;
    if (!st.GetRec(key.Format("Node_U_%u", i), u) || !st.GetRec(key.Format("Node_H_%u", i), h) ||
        !st.GetRec(key.Format("Node_S_%u", i), s) || !klShapeNodeFinite(h, u, s))
      return i_FailFrom(st, klErrNotFormat, kCorrupt);
    klClampShapeNode(h, u, s);
    read.nodes[i] = {h, u};
    read.S[i] = s;
  }
  shape.nodeCount = n;
  for (u32 i = 0; i < n; ++i) {
    shape.nodes[i] = read.nodes[i];
    shape.S[i] = read.S[i];
  }
  return 1;
}

// A five-node knob: a scales the knob, b and c place the end and shoulder
// nodes along the base line, d and e give the shoulders' and the middle's
// depth, f the smoothness in percent.
void CKnifeShapeFile::i_ReadLegacy(const u8* image, SHAPE& shape) {
  i32 v[6];
  for (u32 i = 0; i < 6; ++i) v[i] = static_cast<i32>(KLF_GetLE32(image + kLegacyTextSize + 4 * i));
  const f64 k = v[0] * 0.33 / 200;
  const f64 end = k * v[1] / 100, shoulder = k * v[2] / 100;
  const f64 h[5] = {0, -2 * k * v[3] / 100, -2 * k * v[4] / 100, -2 * k * v[3] / 100, 0};
  const f64 u[5] = {0.5 - end, 0.5 - shoulder, 0.5, 0.5 + shoulder, 0.5 + end};
  shape.nodeCount = 5;
  for (u32 i = 0; i < 5; ++i) {
    f64 hh = h[i], uu = u[i], s = v[5] / 100.0;
    klClampShapeNode(hh, uu, s);
    shape.nodes[i] = {hh, uu};
    shape.S[i] = s;
  }
}
