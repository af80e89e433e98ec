// Everything the user does to a layout in Layout mode, without a window:
// the layout model and its operation families, wired together. The main
// window owns one and routes its events to the families; the host program
// shapes layouts with one.
#pragma once

#include "CLayoutAutoLayout.h"
#include "CLayoutDrawing.h"
#include "CLayoutGrid.h"
#include "CLayoutKnifeEdit.h"
#include "CLayoutModel.h"
#include "CLayoutSelection.h"
#include "CLayoutShapes.h"
#include "CLayoutUndo.h"

class CLayoutEditor {
 public:
  CLayoutEditor()
      : undo(model),
        shapes(model, undo),
        knives(model, shapes, undo),
        selection(model, knives),
        grid(model, shapes, knives, undo),
        autoLayout(model, selection, knives, shapes, undo),
        drawing(model) {}

  CLayoutEditor(const CLayoutEditor&) = delete;
  CLayoutEditor& operator=(const CLayoutEditor&) = delete;

  CLayoutModel model;
  CLayoutUndo undo;
  CLayoutShapes shapes;
  CLayoutKnifeEdit knives;
  CLayoutSelection selection;
  CLayoutGrid grid;
  CLayoutAutoLayout autoLayout;
  CLayoutDrawing drawing;
};
