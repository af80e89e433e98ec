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

  // 0 when the grid cannot be laid (after the undo point; nothing else
  // changes).
  u8 AutoLayout_Triangles(u32 rows, u32 perRow, u8 regular);
  u8 AutoLayout_Hexagons(u32 rows, u32 columns, u8 regular);

 private:
  // Where the margins lie and how wide they are.
  struct FRAME {
    u8 marginColumns;
    u8 marginRows;
    f64 margin;
  };
  template <typename F>
  void i_Triangles(const FRAME& f, F add);
  template <typename F>
  void i_Hexagons(const FRAME& f, u8 second, F add);
  template <typename F>
  void i_AddExtras(F walk);
  u8 i_Lay(u32 columns, u32 rows);
  void i_Finish();

  CLayoutModel& m;
  CLayoutSelection& sel;
  CLayoutKnifeEdit& edit;
  CLayoutShapes& shapes;
  CLayoutUndo& u;
};
