#include "CDefaultShapeSet.h"

#include <cstring>

#include "CShapeSetFile.h"

namespace {

struct Node {
  f64 h, u, s;
};

struct Shape {
  const char* name;
  u32 count;
  Node nodes[12];
};

// H across the base line (negative: the knob's side), U along it, S.
const Shape kShapes[] = {
    {"Classic Knob", 5,
     {{0, 0.434, 0.5}, {-0.165, 0.3515, 0.5}, {-0.297, 0.5, 0.5}, {-0.165, 0.6485, 0.5}, {0, 0.566, 0.5}}},
    {"Round Knob", 7,
     {{0, 0.43, 0.5},
      {-0.1, 0.38, 0.5},
      {-0.25, 0.36, 0.5},
      {-0.33, 0.5, 0.5},
      {-0.25, 0.64, 0.5},
      {-0.1, 0.62, 0.5},
      {0, 0.57, 0.5}}},
    {"Small Knob", 5,
     {{0, 0.455, 0.5}, {-0.115, 0.396, 0.5}, {-0.208, 0.5, 0.5}, {-0.115, 0.604, 0.5}, {0, 0.545, 0.5}}},
    {"Mushroom", 9,
     {{0, 0.465, 0.3},
      {-0.1, 0.47, 0.3},
      {-0.14, 0.35, 0.5},
      {-0.26, 0.36, 0.5},
      {-0.32, 0.5, 0.5},
      {-0.26, 0.64, 0.5},
      {-0.14, 0.65, 0.5},
      {-0.1, 0.53, 0.3},
      {0, 0.535, 0.3}}},
    {"Double Knob", 10,
     {{0, 0.24, 0.5},
      {-0.099, 0.191, 0.5},
      {-0.178, 0.28, 0.5},
      {-0.099, 0.369, 0.5},
      {0, 0.32, 0.5},
      {0, 0.68, 0.5},
      {-0.099, 0.631, 0.5},
      {-0.178, 0.72, 0.5},
      {-0.099, 0.809, 0.5},
      {0, 0.76, 0.5}}},
    {"Twin Knobs", 10,
     {{0, 0.24, 0.5},
      {-0.099, 0.191, 0.5},
      {-0.178, 0.28, 0.5},
      {-0.099, 0.369, 0.5},
      {0, 0.32, 0.5},
      {0, 0.68, 0.5},
      {0.099, 0.631, 0.5},
      {0.178, 0.72, 0.5},
      {0.099, 0.809, 0.5},
      {0, 0.76, 0.5}}},
    {"Square Tab", 4, {{0, 0.4, 0}, {-0.22, 0.4, 0}, {-0.22, 0.6, 0}, {0, 0.6, 0}}},
    {"Dovetail", 4, {{0, 0.43, 0}, {-0.22, 0.36, 0}, {-0.22, 0.64, 0}, {0, 0.57, 0}}},
    {"Arrow", 7,
     {{0, 0.44, 0}, {-0.1, 0.44, 0}, {-0.1, 0.37, 0}, {-0.28, 0.5, 0}, {-0.1, 0.63, 0}, {-0.1, 0.56, 0}, {0, 0.56, 0}}},
    {"Wave", 5, {{0.05, 0.12, 0.5}, {0.1, 0.25, 0.5}, {0, 0.5, 0.5}, {-0.1, 0.75, 0.5}, {-0.05, 0.88, 0.5}}},
    {"Zigzag", 7,
     {{0.05, 0.125, 0},
      {-0.05, 0.25, 0},
      {0.05, 0.375, 0},
      {-0.05, 0.5, 0},
      {0.05, 0.625, 0},
      {-0.05, 0.75, 0},
      {0.05, 0.875, 0}}},
    {"Straight", 0, {}},
};

const u32 kCount = sizeof(kShapes) / sizeof(kShapes[0]);

}  // namespace

u32 CDefaultShapeSet::GetCount() { return kCount; }

u8 CDefaultShapeSet::MakeRecords(CKLF_Mem& block, u32& count) {
  count = 0;
  if (!block.alloc(kCount * CShapeSetFile::kRecordSize)) return 0;
  for (u32 k = 0; k < kCount; ++k) {
    CShapeSetFile::SHAPE s;
    std::memset(&s, 0, sizeof(s));
    s.nodeCount = static_cast<u8>(kShapes[k].count);
    for (u32 i = 0; i < kShapes[k].count; ++i) {
      s.nodes[i] = {kShapes[k].nodes[i].h, kShapes[k].nodes[i].u};
      s.S[i] = kShapes[k].nodes[i].s;
    }
    CShapeSetFile::PutRecord(block.GetPtr() + k * CShapeSetFile::kRecordSize, kShapes[k].name, s);
  }
  count = kCount;
  return 1;
}

u8 CDefaultShapeSet::Write(CKLF_StdFile* file) {
  CKLF_Mem block;
  u32 count = 0;
  CShapeSetFile set;
  return MakeRecords(block, count) && set.Write(file, block.GetPtr(), count, nullptr, nullptr);
}
