// Triangle and hexagon layouts: a grid whose knots fall on the corners of
// the shapes, every grid knife hidden, extra knives along the slanted edges
// (and, for hexagons, the flat edges shown again), all shaped from the
// Cutter. "Regular" shapes have equal sides and sit centred in the image
// with margins; otherwise they stretch over it.
//
// Limits: triangles 98 rows of 97, hexagons 97 rows of 48 columns.
// Cost: linear in the knives made.
#pragma once

#include "CLayoutModel.h"

class CLayoutKnifeEdit;
class CLayoutSelection;
class CLayoutShapes;
class CLayoutUndo;

class CLayoutAutoLayout {
 public:
  static constexpr u32 kMaxTriangleRows = 98;
  static constexpr u32 kMaxTrianglesPerRow = 97;
  static constexpr u32 kMaxHexagonRows = 97;
  static constexpr u32 kMaxHexagonColumns = 48;

  CLayoutAutoLayout(CLayoutModel& model, CLayoutSelection& selection, CLayoutKnifeEdit& knives,
                    CLayoutShapes& knifeShapes, CLayoutUndo& undo)
      : m(model), sel(selection), edit(knives), shapes(knifeShapes), u(undo) {}

  // 0 with the model's error when the grid or its extra knives cannot be
  // laid (after the undo point and the memory alert; nothing else changes).
  [[nodiscard]] u8 AutoLayout_Triangles(u32 rows, u32 perRow, u8 regular);
  [[nodiscard]] u8 AutoLayout_Hexagons(u32 rows, u32 columns, u8 regular);

 private:
  // The grid laid, where the margins lie and how wide they are.
  struct FRAME {
    u32 columns;
    u32 rows;
    u8 marginColumns;
    u8 marginRows;
    f64 margin;
    u32 KnotColumns() const { return CLayoutModel::LinesFor(columns) + 2; }
    u32 KnotRows() const { return CLayoutModel::LinesFor(rows) + 2; }
  };
  template <typename F>
  void i_Triangles(const FRAME& f, F add);
  template <typename F>
  void i_Hexagons(const FRAME& f, u8 second, F add);
  // f's grid with every knife hidden, then the extra knives
  // the walk gives, room for all of them made first.
  template <typename F>
  [[nodiscard]] u8 i_Lay(const FRAME& f, F walk);
  void i_Finish();

  CLayoutModel& m;
  CLayoutSelection& sel;
  CLayoutKnifeEdit& edit;
  CLayoutShapes& shapes;
  CLayoutUndo& u;
};
