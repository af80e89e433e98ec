// A window stand-in for the Puzzle-mode models, and small real cuts to run
// them on.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "CCutterServices.h"
#include "CKLF_Progress.h"
#include "CMainWindowPort.h"
#include "CPuzzleModel.h"
#include "CTessaretteRecordCodec.h"
#include "engine/EngineTestUtil.h"

namespace puzzletest {

// Every piece's stored record (rendered effects, selected, visible).
inline std::vector<u8> Records(const CTessarette& e) {
  std::vector<u8> out(e.GetPieceCount() * 92u);
  for (u32 i = 0; i < e.GetPieceCount(); ++i) {
    CTessarette::SFX_ONEPIECE r;
    e.PieceToRecord(i, r);
    CTessaretteRecordCodec::Encode(r, &out[i * 92u]);
  }
  return out;
}

// The main progress pumps events when asked for a cancel, as the window's does.
struct PumpingProgress : CKLF_Progress {
  std::function<void()>* pump = nullptr;
  u8 IsCanceled() override {
    if (pump && *pump) (*pump)();
    return 0;
  }
};

// Keeps what the models ask of the window and answers as the test says.
struct FakePort : CMainWindowPort {
  std::map<std::string, CModeControls::CONTROLSTATE> controls;  // by name and type
  std::map<std::string, u8> checks;
  std::vector<std::string> alerts;
  int previewRedraws = 0, closed = 0, questions = 0, undoPoints = 0, cutterOpens = 0, progresses = 0;
  i32 answer = 0;
  std::function<void()> pump;
  std::function<void()> openCutter;
  std::function<CEffectWindowServices*(u8)> newWindow;
  std::function<u8(WriterProc, void*)> save;
  std::string openPath;
  std::map<std::string, std::vector<u8>> files;  // "script" for the scripting parameters
  PumpingProgress progress;

  FakePort() { progress.pump = &pump; }
  static std::string Key(const char* name, u8 type) { return std::string(name) + "/" + std::to_string(type); }
  void RedrawPreview(u8) override { ++previewRedraws; }
  void SetControlState(const CModeControls::CONTROLSTATE& s) override { controls[Key(s.name, s.type)] = s; }
  void SetControlCheck(const char* name, u8 on) override { checks[name] = on; }
  CKLF_Progress* BeginProgress(const char*) override {
    ++progresses;
    return &progress;
  }
  void PumpEvents() override {
    if (pump) pump();
  }
  void Alert(const char* text, const char*) override { alerts.push_back(text); }
  i32 AskMessageBox(const char*, const char*, u8, u8) override {
    ++questions;
    return answer;
  }
  u8 AskSaveFile(const FILEQUESTION&, WriterProc writer, void* data) override { return save ? save(writer, data) : 0; }
  u8 AskOpenFile(const FILEQUESTION&, CKLF_String& path) override {
    path = openPath.c_str();
    return openPath.empty() ? 0 : 1;
  }
  void CloseWindow() override { ++closed; }
  CEffectWindowServices* NewEffectWindow(u8 effect) override { return newWindow ? newWindow(effect) : nullptr; }
  void DoCutterWindow() override {
    ++cutterOpens;
    if (openCutter) openCutter();
  }
  void RecordLayoutUndoPoint() override { ++undoPoints; }
  u8 ReadScriptParameters(CKLF_Mem& block) override { return Give(block, "script"); }
  u8 WriteScriptParameters(const u8* data, u32 size) override { return Keep("script", data, size); }
  u8 ReadPluginFile(CKLF_Mem& block, const char* name) override { return Give(block, name); }
  u8 WritePluginFile(const u8* data, u32 size, const char* name) override { return Keep(name, data, size); }

  u8 Give(CKLF_Mem& block, const std::string& name) {
    auto f = files.find(name);
    if (f == files.end() || !block.alloc(static_cast<u32>(f->second.size()))) return 0;
    std::copy(f->second.begin(), f->second.end(), block.GetPtr());
    return 1;
  }
  u8 Keep(const std::string& name, const u8* data, u32 size) {
    files[name].assign(data, data + size);
    return 1;
  }
};

struct FakeCutter : CCutterServices {
  u16 knob = 0, thick = 0;
  void opSetShapeFromData(SPLINE_STRUCT*, u8) override {}
  i32 ExtSetRows(u16) override { return 0; }
  i32 ExtSetColumns(u16) override { return 0; }
  void NotifiedByMain_NewThickness(u16 t, u8, u8) override { thick = t; }
  void NotifiedByMain_NewKnobSize(u16 s, u8) override { knob = s; }
  void SetInitialStatesToControls() override {}
  void settings_SaveWindowPosition() override {}
  u8 settings_SaveLastKnife() override { return 1; }
};

// Counts the renders and fails the failAt-th one (from 1; 0 never).
struct Model : CPuzzleModel {
  int renders = 0, failAt = 0;
  Model(CTessarette& e, CMainWindowPort& p) : CPuzzleModel(e, p) {}
  u8 i_RenderPiece(u32 index) override {
    if (++renders == failAt) return 0;
    return CPuzzleModel::i_RenderPiece(index);
  }
};

// A random document cut by knob knives into columns x rows cells, every
// piece rendered, and the model in Puzzle mode over it. The composite
// alpha is opaque but for a transparent top-left corner.
struct Puzzle {
  engtest::Doc doc;
  std::vector<u8> alpha;
  CTessarette engine;
  FakePort port;
  FakeCutter cutter;
  Model model;

  Puzzle(u32 columns, u32 rows, engtest::Mode mode = {1, 0}, i32 w = 48, i32 h = 32, u8 colorKind = 1)
      : Puzzle(nullptr, w, h, colorKind) {
    engtest::SetGrid(engine, columns, rows, true);
    engtest::SetMode(engine, mode);
    Cut();
  }
  // The layout of a settings block.
  Puzzle(const std::vector<u8>& block, i32 w = 48, i32 h = 32) : Puzzle(nullptr, w, h, 1) {
    CKLF_Mem mem;
    mem.alloc(static_cast<u32>(block.size()));
    std::copy(block.begin(), block.end(), mem.GetPtr());
    u8 layout = 0;
    u32 count = 0;
    const u8* records = nullptr;
    engine.InitFromLastSettingsBinary(&mem, layout, count, records);
    Cut();
  }

 private:
  Puzzle(std::nullptr_t, i32 w, i32 h, u8 colorKind)
      : doc(w, h, colorKind == 0 ? 1 : 3, 11), alpha(static_cast<size_t>(w) * h, 255), model(engine, port) {
    for (i32 y = 0; y < 3; ++y)
      for (i32 x = 0; x < 3; ++x) alpha[static_cast<size_t>(y) * w + x] = 0;
    engine.SetDocument({colorKind, {0, 0, w, h}, 1, nullptr});
  }
  void Cut() {
    engtest::Cut(engine, doc, alpha.data(), 1);
    model.SetDocument(alpha.data(), static_cast<u32>(doc.w), static_cast<u32>(doc.h), 1);
    cutter.cutMade = 1;
    model.OnCutterClose(&cutter);
  }

 public:

  CTessarette::SPLITEDCELL& Piece(u32 i) { return *engine.GetPiece(i); }

  // The result image holds what recombining every piece gives: the alpha
  // everywhere, the colours where the alpha is not 0.
  bool ResultMatches() {
    const i32 w = doc.w, h = doc.h;
    const size_t area = static_cast<size_t>(w) * h;
    std::vector<u8> ref(area * 4);
    u8* planes[4] = {&ref[0], &ref[area], &ref[2 * area], &ref[3 * area]};
    engine.CombineSplitedCells(w, h, planes, static_cast<u32>(w), 4, alpha.data(), static_cast<u32>(w), klNullRect,
                               !engine.m_thinKnife && engine.m_antiAlias, 0, 100);
    const u8* got = model.resultImage.GetMemObj()->GetPtr();
    for (size_t i = 0; i < area; ++i) {
      if (got[3 * area + i] != ref[3 * area + i]) return false;
      for (size_t p = 0; ref[3 * area + i] && p < std::min<size_t>(doc.count, 3); ++p)
        if (got[p * area + i] != ref[p * area + i]) return false;
    }
    return true;
  }
  // ... and no piece waits for a render.
  bool Consistent() {
    for (u32 i = 0; i < engine.GetPieceCount(); ++i)
      if (model.i_pmop_CheckPieceFXUpdates(static_cast<i32>(i))) return false;
    return ResultMatches();
  }
  // The selection map is 255 exactly under the selected pieces (the pieces
  // share the pixels out).
  bool MapMatches() {
    for (i32 y = 0; y < doc.h; ++y)
      for (i32 x = 0; x < doc.w; ++x) {
        const i32 i = model.GetPieceByXY({x, y});
        if (model.selectionMap[y * doc.w + x] != (i >= 0 && Piece(static_cast<u32>(i)).selected ? 255 : 0)) return false;
      }
    return true;
  }
  std::vector<u8> Selected() {
    std::vector<u8> s;
    for (u32 i = 0; i < engine.GetPieceCount(); ++i) s.push_back(Piece(i).selected);
    return s;
  }
  // An image point inside piece i.
  kltPOS PointIn(i32 i) {
    for (i32 y = 0; y < doc.h; ++y)
      for (i32 x = 0; x < doc.w; ++x)
        if (model.GetPieceByXY({x, y}) == i) return {x, y};
    return {0, 0};
  }
};

}  // namespace puzzletest
