// The settings block: the one persisted form of a layout and of the pieces'
// effects (scripting parameters, "last.data", saved documents after the
// magic "KLTS30", undo snapshots). Writer and readers in one codec, plus
// the older "KLTS20" block, which is only read.
//
// Byte order is big-endian throughout; floats are IEEE single precision.
// The 92-byte piece records are carried as they are: they are encoded and
// decoded by the engine's record codec, never here.
//
// Readers walk the block with the engine's walker (every count against the
// bytes present, 100 lines a direction, 64 points a knife, knot ids inside
// the grid, no non-finite or absurd values) plus the model's limit of
// 19999 extra knives, before the layout is touched. A refused block gives the
// default layout, and the read still succeeds: only a layout that cannot be
// laid (memory, the block's or the defaults') fails. Cost: linear in the
// block size; the writer sizes its block for 64 points a knife.
#pragma once

#include "CKLF_Mem.h"
#include "CSettingsBlockWalker.h"

class CLayoutModel;
class CTessarette;

// Stores the four bytes of value in big-endian order at out.
void klPlatformFLOATtoMac(f32 value, u8* out);
// Reads four big-endian bytes as a float.
f32 klPlatformMacToFLOAT(const u8* in);

class CSettingsBlock : public CKLF_FrameWork {
 public:
  static constexpr u32 kRecordSize = CSettingsBlockWalker::kRecordSize;
  static constexpr u32 kMagicSize = 6;
  static const char kMagic[kMagicSize + 1];     // "KLTS30"
  static const char kOldMagic[kMagicSize + 1];  // "KLTS20"

  // The writer's upper bound of the block size, every knife at 64 points.
  static u64 UpperBound(const CLayoutModel& m, u8 puzzle, u32 recordCount);

  // Writes the layout (and in Puzzle mode the count and the given 92-byte
  // records, already encoded) into block, grown when needed, never shrunk.
  // length gets the bytes written. 0 with error 17 when memory runs out.
  [[nodiscard]] u8 Write(const CLayoutModel& m, u8 puzzle, const u8* records, u32 recordCount, CKLF_Mem* block,
                         u32& length);

  // Puzzle mode: the layout and one record for each of the engine's pieces
  // in array order, each encoded by the engine's record codec.
  [[nodiscard]] u8 WritePuzzle(const CLayoutModel& m, const CTessarette& engine, CKLF_Mem* block, u32& length);

  // Replaces the model's layout by the block's. records points into data
  // at the first piece record (null when none) and count is their number;
  // a piece section that does not fit is dropped and the layout kept.
  // usedDefaults (when given) is 1 when the block was refused and the
  // default layout laid instead. 0 with error 17 when memory runs out
  // (the layout then as it was).
  [[nodiscard]] u8 Read(CLayoutModel& m, const u8* data, u32 length, const u8** records, u32& count,
                        u8* usedDefaults = nullptr);
  // The same for the older block (no extra knives, no piece records).
  [[nodiscard]] u8 ReadOld(CLayoutModel& m, const u8* data, u32 length, u8* usedDefaults = nullptr);

  // Structure checks alone, the layout untouched: 1 when Read would take
  // the block (or ReadOld with old set).
  [[nodiscard]] static u8 IsValid(const u8* data, u32 length, u8 old);

  // A saved document: the magic "KLTS30" followed by the block.
  [[nodiscard]] u8 WriteDocument(const CLayoutModel& m, u8 puzzle, const u8* records, u32 recordCount,
                                 CKLF_Mem* out, u32& length);
  // Reads a document of either magic into the model. Fails with error 49
  // for 9 bytes or fewer or an unknown magic (the model untouched).
  [[nodiscard]] u8 ReadDocument(CLayoutModel& m, const u8* data, u32 length, const u8** records, u32& count,
                                u8* usedDefaults = nullptr);
};
