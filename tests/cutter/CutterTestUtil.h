// Ports that record what the Cutter's models ask of the windows, and a
// model on a 200 x 225 preview: there pixel (x, y) is H = (100 - x) / 200,
// U = (y - 12.5) / 200 at zoom 1x1.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "CCutterModel.h"
#include "support/TestSupport.h"

namespace cuttest {

struct Window : CCutterWindowPort {
  void Beep() override { ++beeps; }
  void Alert(const char* text, const char*) override { alerts.push_back(text); }
  void CuttingProgress(u8 percent) override { progress.push_back(percent); }
  void ProcessEvents() override {
    if (onEvents) onEvents();
  }
  void CloseWindow() override { ++closed; }
  int beeps = 0, closed = 0;
  std::vector<std::string> alerts;
  std::vector<int> progress;
  std::function<void()> onEvents;
};

struct Main : CCutterMainPort {
  void OnCutterUpdateShape(f32, f32, f32, u8 refill, u8) override { shapeCalls.push_back(refill); }
  void OnCutterUpdateShape_FlipU(f32, f32, f32) override { shapeCalls.push_back(10); }
  void OnCutterClose() override { ++closes; }
  std::vector<int> shapeCalls;
  int closes = 0;
};

inline f64 PixelH(f64 x) { return (100 - x) / 200; }
inline f64 PixelU(f64 y) { return (y - 12.5) / 200; }

// A model on the 200 x 225 preview holding the given (H, U) nodes, all
// selected, S 0.5.
struct Model {
  Window window;
  Main main;
  CCutterModel m;
  explicit Model(const std::vector<std::pair<f64, f64>>& hu = {}, u16 w = 200, u16 h = 225) {
    m.SetPorts(&window, &main);
    EXPECT_EQ(m.OnCreate(w, h), 1);
    if (!hu.empty()) Set(hu);
  }
  void Set(const std::vector<std::pair<f64, f64>>& hu) {
    CCutterModel::SHAPE s = {};
    s.nodeCount = static_cast<u8>(hu.size());
    for (size_t i = 0; i < hu.size(); ++i) {
      s.nodes[i] = {hu[i].first, hu[i].second};
      s.S[i] = 0.5;
    }
    m.opSetShapeFromData(&s, 0);
  }
  void Click(i32 x, i32 y, u8 mods = 0, u8 keys = 0) {
    m.OnLMouseDown(x, y, mods, keys);
    m.OnLMouseUp();
  }
  void Drag(i32 x0, i32 y0, i32 x1, i32 y1, u8 mods = 0, u8 keys = 0) {
    m.OnLMouseDown(x0, y0, mods, keys);
    m.OnMouseMove(x1, y1, mods, keys);
    m.OnLMouseUp();
  }
};

// A keyed-storage file made by the storage itself, records chosen by the
// caller.
inline std::vector<u8> Container(const std::function<void(CKLF_Storage&)>& fill) {
  klftest::TempDir dir;
  CKLF_Storage st;
  EXPECT_EQ(st.Open(dir.File("s").c_str(), 2), 1);
  fill(st);
  EXPECT_TRUE(st.Close());
  return klftest::ReadFileBytes(dir.File("s"));
}

// The plug-in folder's files in memory: missing, unreadable, or bytes.
struct Files : CCutterFilesPort {
  i32 ReadWhole(const char* name, CKLF_Mem& block) override {
    if (unreadable.count(name)) return -1;
    auto f = files.find(name);
    if (f == files.end()) return 0;
    block.free();
    if (!f->second.empty()) {
      if (!block.alloc(static_cast<u32>(f->second.size()))) return -1;
      std::memcpy(block.GetPtr(), f->second.data(), f->second.size());
    }
    return 1;
  }
  u8 WriteWhole(const char* name, const u8* data, u32 size) override {
    ++writes;
    if (failWrites) return 0;
    files[name] = std::vector<u8>(data, data + size);
    unreadable.erase(name);
    return 1;
  }
  std::map<std::string, std::vector<u8>> files;
  std::map<std::string, int> unreadable;
  bool failWrites = false;
  int writes = 0;
};

}  // namespace cuttest
