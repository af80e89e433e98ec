// Knife shapes from the Cutter: the Cutter's edited shape cloned onto the
// selected knives (or all when none is), onto all of a knife's points or
// only those of the Cutter's selected nodes, with random mutation by the
// Cutter's clone mode, and the Cutter's other callbacks (knob size,
// thickness, anti-aliasing). Every operation needs the Cutter open (the
// model's Cutter pointer); without it a knife is left as it is.
//
// Cost: linear in the knives times their points; three draws a point.
#pragma once

#include "CLayoutModel.h"

class CLayoutUndo;

class CLayoutShapes {
 public:
  typedef CLayoutModel::KNIFESTRUCT KNIFESTRUCT;

  CLayoutShapes(CLayoutModel& model, CLayoutUndo& undo) : m(model), u(undo) {}

  // Sets one knife from the Cutter's shape: the whole shape when the point
  // counts differ; else, with flip, the knife's own points mirrored first
  // (across with flipAcross, else along), then each point (or each of a
  // selected node) from the node with mutation.
  void i_spl_SetKnife(KNIFESTRUCT* knife, f32 mutS, f32 mutH, f32 mutU, u8 selectedNodesOnly, u8 flip,
                      u8 flipAcross, u8 takeSizeAndThickness);
  void spl_DoReFillKnivesFromCutter(u8 selectedKnivesOnly, f32 mutS, f32 mutH, f32 mutU, u8 selectedNodesOnly);
  void spl_DoReFillKnivesFromCutter_FlipU(u8 selectedKnivesOnly, f32 mutS, f32 mutH, f32 mutU);
  void spl_DoReFillKnivesFromCutter_FlipH(u8 selectedKnivesOnly, f32 mutS, f32 mutH, f32 mutU);

  // The Cutter's callbacks; each redraws the splitting afterwards.
  void OnCutterUpdateShape(f32 mutS, f32 mutH, f32 mutU, u8 selectedNodesOnly, u8 undo);
  void OnCutterUpdateShape_FlipU(f32 mutS, f32 mutH, f32 mutU);
  void OnCutterUpdateShape_FlipH(f32 mutS, f32 mutH, f32 mutU);
  void OnCutterUpdateKnifeSize(u32 size);
  void OnCutterUpdateKnifeThickness(u32 thickness, u8 thin);
  void OnCutterUpdateAntiAliasing(u8 on);

  // A fresh knife from the Cutter's shape with its clone mode's mutation,
  // knob size and thickness (new extra knives, a new band of knives).
  void SetFreshKnife(KNIFESTRUCT* knife);

 private:
  void i_ReFill(u8 selectedKnivesOnly, f32 mutS, f32 mutH, f32 mutU, u8 selectedNodesOnly, u8 flip, u8 across);

  CLayoutModel& m;
  CLayoutUndo& u;
};
