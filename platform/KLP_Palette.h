// The product's dark palette (0xRRGGBB). The resource builder paints the
// windows' pictures with it and the display backend dresses the platform's
// own widgets in it (pop-up menus, file choosers, alerts), so that what the
// platform draws sits with what the toolkit draws.
#pragma once

#include <cstdint>

namespace klp_palette {

constexpr uint32_t kFace = 0x2F2F33;       // windows and panels
constexpr uint32_t kFaceLine = 0x45454A;   // lines on the face
constexpr uint32_t kEdge = 0x161618;       // outer edges
constexpr uint32_t kField = 0x1D1D20;      // fields and lists
constexpr uint32_t kButtonTop = 0x4D4D53;  // a button's face, top to bottom
constexpr uint32_t kButtonBottom = 0x424247;
constexpr uint32_t kText = 0xE4E4E8;
constexpr uint32_t kTextBright = 0xFFFFFF;
constexpr uint32_t kTextSoft = 0xB4B4BA;
constexpr uint32_t kTextDim = 0x6A6A70;
constexpr uint32_t kAccent = 0x3D85D8;
constexpr uint32_t kAccentLight = 0x5A9CEA;
constexpr uint32_t kAccentDark = 0x2A64A8;

}  // namespace klp_palette
