// The values of the auto layout dialog: rows, columns, the shape
// (triangles or hexagons) and the "Regular" flag, each shape's limits, the
// four records under "Auto Layout Settings" in the configuration store, and
// the layout built from them on the main window.
//
// A stored shape other than 0 or 1 reads as triangles, so the dialog
// always opens on a shape and OK always builds a layout.
#pragma once

#include "CCutterMainPort.h"
#include "CKLF_Storage.h"

class CAutoLayoutSettings : public CKLF_FrameWork {
 public:
  enum : u8 { kTriangles = 0, kHexagons = 1 };
  static const char kFolder[];  // "Auto Layout Settings"

  // Missing records leave the values; rows and columns are then brought
  // into the limits of the shape read. Nothing without a store.
  // What is not stored keeps its value; 0 when the store cannot be read.
  [[nodiscard]] u8 Load(CKLF_Storage* conf);
  // The folder and the four records; 0 without a store or when a record
  // cannot be stored (the store's error).
  [[nodiscard]] u8 Save(CKLF_Storage* conf);

  u32 RowLimit() const;
  u32 ColumnLimit() const;
  // The shape (any value but 1 is triangles), rows and columns brought
  // into its limits.
  void SetShape(u8 s);
  // Rows and columns into 1 .. the shape's limits.
  void Clamp();
  // A typed count: its value, 1 when that is 0 or less, limit above it.
  static u32 CountOfText(const char* text, u32 limit);

  // The layout on the main window: triangles or hexagons.
  void Apply(CCutterMainPort* main) const;

  u32 rows = 2;
  u32 columns = 2;
  u8 regular = 0;
  u8 shape = kTriangles;
};
