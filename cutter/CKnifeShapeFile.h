// Knife shape files (extension "klph", Mac type 'KLph'). Version 2.0 is a
// keyed-storage container with the records "Version" ("Kelvanos Tessarette
// Shape 2.0"), "Nodes" (u8) and "Node_U_%d", "Node_H_%d", "Node_S_%d"
// (doubles) for each node; the selection is not stored. The older 1.2
// form, read only, is exactly 53 bytes: its 29-byte text, then six signed
// 32-bit little-endian integers describing a five-node knob.
//
// Readers take a file whole (at most 16 MiB), refuse anything malformed or
// not a number, and keep U and S in 0..1 and H in -3..3. A failure leaves
// the shape untouched and the alert to show in GetAlert().
#pragma once

#include "CCutterServices.h"
#include "CKLF_StdFile.h"
#include "CShapeFileBase.h"

class CKnifeShapeFile : public CShapeFileBase {
 public:
  typedef CCutterServices::SPLINE_STRUCT SHAPE;
  static const char kVersion[];
  static const char kLegacyText[];
  static constexpr u32 kLegacyTextSize = 29;
  static constexpr u32 kLegacySize = 53;
  static constexpr u32 kMaxFileSize = 16u << 20;
  static constexpr u32 kFileType = 0x4B4C7068;  // 'KLph'

  // Writes the shape as a 2.0 file on the caller's open file.
  u8 Write(CKLF_StdFile* file, const SHAPE& shape);
  // Reads a 2.0 or 1.2 file from its start; only the count, H, U and S of
  // the shape are written.
  u8 Read(CKLF_StdFile* file, SHAPE& shape);
  u8 Read(const u8* image, u32 size, SHAPE& shape);

 private:
  static void i_ReadLegacy(const u8* image, SHAPE& shape);
};
