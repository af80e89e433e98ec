// The blur a spread should give the selected pieces, worked out from the
// spread's own functions (the segment of a direction across the box of the
// selected pieces' centres, each centre's projection on it, the rounded
// interpolation), so that what the windows did can be held against it:
// shared by the headless run test and the real-display test's helper.
#pragma once

#include <vector>

#include "CFXSpread.h"
#include "CKLF_2DMath.h"
#include "CKLF_Array.h"
#include "CTessarette.h"

namespace spreadexpect {

inline kltFPOS Centre(const CTessarette::SPLITEDCELL& c) {
  return {(c.rect.left + c.rect.right) * 0.5, (c.rect.top + c.rect.bottom) * 0.5};
}

// Each piece's blur radius, value 1 (first) at the direction's start and
// value 2 (second) at its end; -1 for the pieces that are not selected.
inline std::vector<int> BlurRadii(const CTessarette& e, u8 direction, i32 first, i32 second) {
  CFXSpread::CENTREBOX box = {1e6, 1e6, -1e6, -1e6};
  for (u32 i = 0; i < e.GetPieceCount(); ++i) {
    if (!e.GetPiece(i)->selected) continue;
    const kltFPOS p = Centre(*e.GetPiece(i));
    box = {p.x < box.minX ? p.x : box.minX, p.y < box.minY ? p.y : box.minY, p.x > box.maxX ? p.x : box.maxX,
           p.y > box.maxY ? p.y : box.maxY};
  }
  kltFPOS a = {0, 0}, b = {0, 0};
  CFXSpread::Segment(direction, box, a, b);
  CKLF_2DMath math;
  std::vector<int> radii(e.GetPieceCount(), -1);
  for (u32 i = 0; i < e.GetPieceCount(); ++i) {
    if (!e.GetPiece(i)->selected) continue;
    const f64 t = CFXSpread::DirectionT(math, a, b, Centre(*e.GetPiece(i)));
    radii[i] = CFXSpread::Clamp(CFXSpread::Interpolate(first, second, t), 0, 100);
  }
  return radii;
}

// The radii given to the pieces' working blur records (the pieces without
// one untouched); changed gets the pieces written.
// false without memory for the list.
inline bool SetBlurRecords(CTessarette& e, const std::vector<int>& radii, CKLF_DWordArray& changed) {
  for (u32 i = 0; i < e.GetPieceCount() && i < radii.size(); ++i) {
    if (radii[i] < 0) continue;
    e.GetPiece(i)->blur[CTessarette::FX_WORKING] = {1, static_cast<u8>(radii[i])};
    if (changed.Add(i) < 0) return false;
  }
  return true;
}

// The radii the pieces' rendered blur records hold (-1 where it is off).
inline std::vector<int> RenderedRadii(const CTessarette& e) {
  std::vector<int> out;
  for (u32 i = 0; i < e.GetPieceCount(); ++i) {
    const CTessarette::SFX_BLUR& b = e.GetPiece(i)->blur[CTessarette::FX_RENDERED];
    out.push_back(b.enabled ? b.radius : -1);
  }
  return out;
}

}  // namespace spreadexpect
