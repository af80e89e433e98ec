#include "CKLT_Orientation.h"

#include <algorithm>
#include <cstring>

namespace {

// Tiles of the upright plane, small enough that the stored rows they read
// stay in the cache when the turn walks down columns.
const uint32_t kTile = 64;

// Where upright pixel (x, y) lies in the stored plane: start + x * dx + y * dy.
struct Walk {
  int64_t start, dx, dy;
};

Walk WalkOf(unsigned orientation, int64_t w, int64_t h) {
  switch (orientation) {
    case 2: return {w - 1, -1, w};
    case 3: return {w * h - 1, -1, -w};
    case 4: return {(h - 1) * w, 1, -w};
    case 5: return {0, w, 1};
    case 6: return {(h - 1) * w, -w, 1};
    case 7: return {w * h - 1, -w, -1};
    case 8: return {w - 1, w, -1};
    default: return {0, 1, w};
  }
}

}  // namespace

const char* CKLT_Orientation::Turn(unsigned orientation) {
  switch (orientation) {
    case 2: return "mirrored left to right";
    case 3: return "turned half round";
    case 4: return "mirrored top to bottom";
    case 5: return "mirrored left to right and turned a quarter anticlockwise";
    case 6: return "turned a quarter clockwise";
    case 7: return "mirrored left to right and turned a quarter clockwise";
    case 8: return "turned a quarter anticlockwise";
    default: return nullptr;
  }
}

void CKLT_Orientation::Upright(const uint8_t* stored, uint32_t width, uint32_t height, unsigned orientation,
                               uint8_t* out) {
  const uint32_t w = SwapsSides(orientation) ? height : width, h = SwapsSides(orientation) ? width : height;
  const Walk walk = WalkOf(orientation, width, height);
  if (walk.dx == 1) {  // rows stay rows
    for (uint32_t y = 0; y < h; ++y) std::memcpy(out + static_cast<size_t>(y) * w, stored + walk.start + y * walk.dy, w);
    return;
  }
  for (uint32_t ty = 0; ty < h; ty += kTile)
    for (uint32_t tx = 0; tx < w; tx += kTile)
      for (uint32_t y = ty; y < std::min(h, ty + kTile); ++y) {
        int64_t from = walk.start + static_cast<int64_t>(y) * walk.dy + static_cast<int64_t>(tx) * walk.dx;
        uint8_t* to = out + static_cast<size_t>(y) * w + tx;
        for (uint32_t x = tx, end = std::min(w, tx + kTile); x < end; ++x, from += walk.dx) *to++ = stored[from];
      }
}
