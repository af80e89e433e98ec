// The sampled small-sigma kernel's work on lines of bytes, shared by its
// builds for each instruction set (inside the imaging library only).
#pragma once

#include "CKLF_ImageFX.h"

namespace klf_kernel {

typedef f32 F8 __attribute__((vector_size(32), aligned(4), may_alias));

// Strip of columns a task filters down the plane, and lines a row task takes.
constexpr u32 kStrip = 256;
constexpr u32 kRowsPerTask = 16;
constexpr u32 kAhead = 8;  // rows read ahead down a strip
constexpr u32 kMaxTaps = 10;

struct Weights {
  u32 n;         // taps each side, centre included
  f64 w[20];     // the kernel, centre first
  f64 whole;     // their sum over both sides, in the lane path's order
  f32 v[20];     // w / whole in single precision
  F8 v8[20];     // the same, eight across
  u8 flat[256];  // the byte of an interior sample whose taps all hold p
  u8 flatDown[32];  // bit p set where that byte is p - 1
  u8 borderFlag;
  f64 border;
};

// Work buffers of one worker.
struct Scratch {
  f32* line;  // a row as floats
  f64* rec;   // the row after zero-alpha recovery
  f32* ring;  // 2n - 1 rows of a strip
  u8* eq;     // a row's equal neighbours, a bit each
  u8* runs;   // a strip's runs of equal rows, per column
  u32* nearAt;  // a line's samples left to decide, and their estimates
  f32* nearAcc;
};

struct Job {
  Weights k;
  CKLF_ImageFX::Lines in, out;
  const CKLF_ImageFX::Lines* alpha;
  u32 lineCount, length, strip;
  u8 rows;
};

// One task of a job (16 rows, or a strip of columns), built for the
// baseline and for AVX2 with fused multiply-adds.
void TaskBase(const Job& j, u32 task, Scratch s);
void TaskAvx2(const Job& j, u32 task, Scratch s);

}  // namespace klf_kernel
