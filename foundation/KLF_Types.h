// Fixed-width integer names and the framework's plain value types.
// Rectangles have exclusive right and bottom edges; -32000 stands for
// "not set" (a null rectangle means the whole image).
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint8_t u8;
typedef int8_t i8;
typedef uint16_t u16;
typedef int16_t i16;
typedef uint32_t u32;
typedef int32_t i32;
typedef uint64_t u64;
typedef int64_t i64;
typedef float f32;
typedef double f64;

struct kltRECT_s {
  i32 left;
  i32 top;
  i32 right;
  i32 bottom;
};

struct kltPOS {
  i32 x;
  i32 y;
};

struct kltSIZE_s {
  i32 horizontal;
  i32 vertical;
};

struct kltFPOS {
  f64 x;
  f64 y;
};

// A direction in space, single precision (the bevel's light, the surface
// renderer's normals and lights).
struct klt3D_VECTOR {
  f32 x;
  f32 y;
  f32 z;
};

// A point in space, single precision (the surface renderer's vertices).
struct klt3D_VERTEX {
  f32 x;
  f32 y;
  f32 z;
};

// A point in the plane or a texture mapping coordinate, single precision.
struct klt2D_VERTEX {
  f32 x;
  f32 y;
};

struct kltRGBA8 {
  u8 red;
  u8 green;
  u8 blue;
  u8 alpha;
};

constexpr i32 klNotSet = -32000;
constexpr kltRECT_s klNullRect = {klNotSet, klNotSet, klNotSet, klNotSet};
constexpr kltPOS klNullPOS = {2147483647, 2147483647};
constexpr kltSIZE_s klNullSize = {klNotSet, klNotSet};

inline bool klIsNullRect(const kltRECT_s& r) {
  return r.left == klNotSet && r.top == klNotSet && r.right == klNotSet && r.bottom == klNotSet;
}
inline bool klIsNullPOS(const kltPOS& p) {
  return p.x == klNullPOS.x && p.y == klNullPOS.y;
}
inline bool klIsNullSize(const kltSIZE_s& s) {
  return s.horizontal == klNotSet && s.vertical == klNotSet;
}

// True when a byte count computed in 64 bits fits the framework's 32-bit sizes.
inline bool klFits32(u64 bytes) { return bytes <= 0xFFFFFFFFull; }
