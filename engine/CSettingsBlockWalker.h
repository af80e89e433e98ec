// The one walker of the settings block (the persisted form of a layout),
// current and older "KLTS20" form alike. It checks the structure against
// the bytes present (64-bit sums) and the shared limits (100 lines a
// direction, 64 points a knife, finite floats, coordinates within the
// engine's limit, counts that match the grid, knot ids inside it), then
// hands each field to a sink. Each reader keeps its own rules in its sink:
// the main window's falls back to a default layout, the engine's replay
// fails on any mismatch, hides knives and fails on a short piece section.
//
// The whole block is checked before the sink hears of it, so a refused
// block leaves the sink untouched. Cost: two passes, linear in the block.
#pragma once

#include "KLF_Types.h"

class CSettingsBlockWalker {
 public:
  static constexpr u32 kRecordSize = 92;
  static constexpr u32 kMaxLines = 100;
  static constexpr u32 kMaxPoints = 64;

  // One knife record, in record order, its values clamped: positions to
  // 0..1, offsets to -3..3, smoothness to -2..2. Knob size and thickness
  // are 0 in the older form (its tail gives them).
  struct Knife {
    u8 flags;  // bit 0 flipH, 1 flipU, 2 hidden, 3 selected
    u8 knobSize;
    u8 thickness;
    u32 pointCount;
    f32 position[kMaxPoints];
    f32 offset[kMaxPoints];
    f32 smoothness[kMaxPoints];
  };

  class Sink {
   public:
    virtual ~Sink() = default;

    // The reader's own limits, asked while checking.
    virtual u32 MaxExtraKnives() const = 0;
    // 1: a Puzzle-mode block whose piece section is missing or cut short is
    // refused; 0: the section is dropped and the layout read.
    virtual u8 RecordsMustFit() const = 0;

    // Fed after the checks passed, in block order. A 0 from Begin or
    // BeginExtras stops the walk (the sink knows why).
    [[nodiscard]] virtual u8 Begin(u32 H, u32 V, u32 E) = 0;
    virtual void Line(u8 horizontal, u32 index, f32 position) = 0;
    virtual void Knot(u32 index, f32 dx, f32 dy) = 0;
    virtual void GridKnife(u8 horizontal, u32 index, const Knife& knife) = 0;
    [[nodiscard]] virtual u8 BeginExtras(u32 count) = 0;
    virtual void ExtraKnife(u32 index, const Knife& knife, u32 knotA, u32 knotB) = 0;
    // The current form's two flag bytes, as stored.
    virtual void Flags(u8 thin, u8 antiAliasing) = 0;
    // The older form's tail: one thickness and knob size for every knife.
    virtual void OldTail(u16 thickness, u16 knobSize, u8 antiAliasing) = 0;
    // The piece records of a Puzzle-mode block (first null when count is 0).
    virtual void Records(const u8* first, u32 count) = 0;
  };

  enum Result : u8 {
    kRefused,  // the block failed a check; the sink heard nothing
    kStopped,  // the sink stopped the walk part way
    kRead,
  };

  // The checks alone, with the sink's limits; nothing is fed.
  [[nodiscard]] static u8 Check(const u8* data, u32 length, u8 old, const Sink& sink);
  // Checks, then feeds the sink.
  static Result Read(const u8* data, u32 length, u8 old, Sink& sink);
};
