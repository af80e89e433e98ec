// The library record of the knife shape presets and the shape set file.
//
// Library record, 836 bytes, the unit of the library in memory and of the
// presets file "ckss.data" (a bare array of them); multi-byte fields are
// big-endian and the block is kept as bytes, read through the accessors:
//   0    name, 64 bytes, NUL-padded, byte 63 always 0
//   64   node count n, u8, 0..64; 65..67 zero
//   68   U[64], 324 H[64], 580 S[64], f32; entries from n on are zero
//
// Shape set file (extension "klpk", Mac type 'KLpk'): a keyed-storage
// container with "Version" ("Kelvanos Tessarette Shape Set 2.0"), the
// binary shape records "Shape_0" ... "Shape_<m-1>" and "TotalShapes" (u32
// m). A shape record is 68 + 12 n bytes: the name as above, n as u32
// little-endian, then U, H, S of each node as little-endian f32.
//
// The reader refuses a set whose digest, records or values are wrong
// (counts above 64, records shorter than their count, values that are
// not numbers, more shapes than the container holds records) and keeps U
// and S in 0..1 and H in -3..3. Cost: one pass over the set; the new
// records are built in a block of their own.
#pragma once

#include "CCutterPorts.h"
#include "CCutterServices.h"
#include "CKLF_StdFile.h"
#include "CShapeFileBase.h"

class CShapeSetFile : public CShapeFileBase {
 public:
  typedef CCutterServices::SPLINE_STRUCT SHAPE;
  static constexpr u32 kRecordSize = 836;
  static constexpr u32 kNameSize = 64;
  static constexpr u32 kShapeHead = 68;
  static constexpr u32 kFileType = 0x4B4C706B;  // 'KLpk'
  static const char kVersion[];

  // ---- Library records.
  // The whole record from a name (at most 63 bytes kept) and a shape
  // (count capped at 64, values rounded to f32).
  static void PutRecord(u8* rec, const char* name, const SHAPE& shape);
  static void SetRecordName(u8* rec, const char* name);
  // The name, NUL-terminated, at most 63 bytes.
  static void GetRecordName(const u8* rec, char name[kNameSize]);
  static u32 RecordNodeCount(const u8* rec);  // capped at 64
  static f32 RecordU(const u8* rec, u32 i);
  static f32 RecordH(const u8* rec, u32 i);
  static f32 RecordS(const u8* rec, u32 i);
  // Every used value is a number.
  static u8 RecordIsSound(const u8* rec);
  // Count, H, U and S of the record (widened exactly, brought into range);
  // the selection flags are not touched.
  static void RecordToShape(const u8* rec, SHAPE& shape);

  // ---- Shape records.
  static u32 ShapeRecordSize(u32 n) { return kShapeHead + 12 * n; }
  // The shape record of a library record; out holds ShapeRecordSize bytes.
  static void PutShapeRecord(u8* out, const u8* rec);
  // A library record from a shape record of length bytes; 0 when it is
  // malformed.
  static u8 ShapeRecordToRecord(const u8* in, u32 length, u8* rec);

  // ---- Shape set files.
  // Writes the library records whose selected flag is set (all when
  // selected is null) in order on the caller's open file, telling the
  // window's status line. 0 without a record to write (nothing written) or
  // when the container fails ("Cannot write file...").
  u8 Write(CKLF_StdFile* file, const u8* records, u32 count, const u8* selected, CPresetsWindowPort* status);
  // Reads a set image into records, count library records. m = 0 reads
  // as success with an empty block; a failure leaves records empty.
  u8 Read(const u8* image, u32 size, CKLF_Mem& records, u32& count);
};
