// A window stand-in for the Puzzle-mode models, and small real cuts to run
// them on.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "CKLF_PlatformPopupMenu.h"
#include "CKLF_Progress.h"
#include "CKLF_String.h"
#include "CLayoutModel.h"
#include "CMainWindowPort.h"
#include "CPluginMain.h"
#include "CPuzzleModel.h"
#include "CSettingsBlock.h"
#include "CTessaretteRecordCodec.h"
#include "LayoutTestSupport.h"
#include "engine/EngineTestUtil.h"

namespace puzzletest {

typedef std::vector<u8> Bytes;

// Every piece's stored record (rendered effects, selected, visible).
inline Bytes Records(const CTessarette& e) {
  Bytes out(e.GetPieceCount() * 92u);
  for (u32 i = 0; i < e.GetPieceCount(); ++i) {
    CTessarette::SFX_ONEPIECE r;
    e.PieceToRecord(i, r);
    CTessaretteRecordCodec::Encode(r, &out[i * 92u]);
  }
  return out;
}

// Keeps what the models ask of the window and answers as the test says.
// Its progress pumps events when asked for a cancel, as the window's does.
struct FakePort : CMainWindowPort, CKLF_Progress {
  std::map<std::string, CModeControls::CONTROLSTATE> controls;  // "name/type"
  std::map<std::string, u8> checks;
  std::vector<std::string> alerts;
  std::vector<std::string> boxes;  // "header|text|buttons|icon" of each question
  int closed = 0, questions = 0, undoPoints = 0, cutterOpens = 0;
  i32 answer = 0;
  std::function<void()> pump, openCutter;
  std::function<CEffectWindowServices*(u8)> newWindow;
  std::function<u8(WriterProc, void*)> save;
  std::function<const char*(const char* name, const char* group, u8 enabled, u8 type)> tips;
  std::string openPath;
  std::map<std::string, Bytes> files;  // "script": the scripting parameters
  std::map<std::string, u16> failing;  // files that cannot be read or written, with why
  // What an effect window reads of the main window. Tips read
  // "group/name/enabled/type" unless tips answers them (a program a person
  // looks at takes the application's); the Help menu offers commands 300
  // and 301, of which 300 is handled.
  CPluginMain* plugin = nullptr;
  u32 currentPiece = 0xFFFFFFFFu;
  kltRGBA8 checker[2] = {{192, 192, 192, 255}, {255, 255, 255, 255}};
  kltRGBA8 frame[2] = {{200, 200, 200, 255}, {204, 204, 204, 255}};
  CKLF_Window* mainWindow = nullptr;
  std::vector<u16> helpCommands;
  // Positions are the plug-in object's, as the main window reads them;
  // with positionNoMemory set, memory runs out reading any.
  u8 positionNoMemory = 0;
  std::vector<std::string> positionsAsked;  // "name>parent"

  u8 IsCanceled() override { return PumpEvents(), 0; }
  void SetControlState(const CModeControls::CONTROLSTATE& s) override {
    controls[std::string(s.name) + "/" + std::to_string(s.type)] = s;
  }
  void SetControlCheck(const char* name, u8 on) override { checks[name] = on; }
  CKLF_Progress* BeginProgress(const char*) override { return this; }
  void PumpEvents() override { pump ? pump() : void(); }
  void Alert(const char* text, const char*) override { alerts.push_back(text); }
  i32 AskMessageBox(const char* header, const char* text, u8 buttons, u8 icon) override {
    boxes.push_back(std::string(header) + "|" + text + "|" + std::to_string(buttons) + "|" + std::to_string(icon));
    return ++questions, answer;
  }
  u8 AskSaveFile(const FILEQUESTION&, WriterProc writer, void* data) override { return save(writer, data); }
  u8 AskOpenFile(const FILEQUESTION&, CKLF_String& path) override { return !(path = openPath.c_str()).IsError(); }
  void CloseWindow() override { ++closed; }
  CEffectWindowServices* NewEffectWindow(u8 effect) override { return newWindow(effect); }
  void DoCutterWindow() override { ++cutterOpens, openCutter(); }
  void RecordLayoutUndoPoint() override { ++undoPoints; }
  u8 ReadScriptParameters(CKLF_Mem& block, u16& error) override { return ReadPluginFile(block, "script", error); }
  u8 WriteScriptParameters(const u8* data, u32 size, u16& error) override {
    return WritePluginFile(data, size, "script", error);
  }
  // A file named in failing answers 0 with its code.
  u8 ReadPluginFile(CKLF_Mem& block, const char* name, u16& error) override {
    if (failing.count(name)) return error = failing[name], 0;
    auto f = files.find(name);
    if (f == files.end()) return 1;
    if (!block.alloc(static_cast<u32>(f->second.size()))) return error = klErrNoMemory, 0;
    return std::copy(f->second.begin(), f->second.end(), block.GetPtr()), 1;
  }
  u8 WritePluginFile(const u8* data, u32 size, const char* name, u16& error) override {
    if (failing.count(name)) return error = failing[name], 0;
    return files[name].assign(data, data + size), 1;
  }
  CPluginMain* GetPluginObject() override { return plugin; }
  u32 GetCurrentPiece() override { return currentPiece; }
  void GetTransparencyColors(kltRGBA8& first, kltRGBA8& second) override {
    first = checker[0];
    second = checker[1];
  }
  void GetFrameColors(kltRGBA8& first, kltRGBA8& second) override {
    first = frame[0];
    second = frame[1];
  }
  CKLF_Window* GetMainWindow() override { return mainWindow; }
  u8 GetWindowPosition(const char* name, const char* parent, kltSIZE_s& at) override {
    positionsAsked.push_back(std::string(name) + ">" + parent);
    at = plugin && !positionNoMemory ? plugin->WindowPosFromConf(name, parent, klNullSize, 1) : klNullSize;
    return !positionNoMemory;
  }
  void GetStatusTip(const char* name, const char* group, u8 enabled, u8 type, CKLF_String& tip) override {
    if (tips)
      ASSERT_FALSE((tip = tips(name, group, enabled, type)).IsError());
    else
      ASSERT_TRUE(tip.Format("%s/%s/%u/%u", group, name, enabled, type));
  }
  void FillHelpMenu(CKLF_PlatformPopupMenu* menu) override {
    menu->AddItem("Help Topics", 300, 0, 0);
    menu->AddItem("About", 301, 0, 0);
  }
  u8 HelpMenuDispatcher(u16 command, CKLF_Window*) override { return helpCommands.push_back(command), command == 300; }
};

// The settings block of a w x h document split evenly into columns x rows,
// the default knob on every knife (a layout as a stored one reaches the
// engine).
inline Bytes KnobGridBlock(i32 w, i32 h, u16 columns, u16 rows) {
  CLayoutModel layout;
  layout.SetImageSize(w, h);
  layout.spl_SplitEvenParts(columns, rows, 1, 1);
  for (u32 i = 0; i < layout.vKnifeCount; ++i) CLayoutModel::settings_SetDefaultKnife(&layout.vKnives[i]);
  for (u32 i = 0; i < layout.hKnifeCount; ++i) CLayoutModel::settings_SetDefaultKnife(&layout.hKnives[i]);
  CSettingsBlock codec;
  CKLF_Mem block;
  u32 length = 0;
  EXPECT_EQ(codec.Write(layout, 0, nullptr, 0, &block, length), 1);
  return Bytes(block.GetPtr(), block.GetPtr() + length);
}

// Counts the pieces rendered and fails the failAt-th one (from 1; 0 never),
// after the pieces of its batch before it.
struct Model : CPuzzleModel {
  int renders = 0, failAt = 0;
  Model(CTessarette& e, CMainWindowPort& p) : CPuzzleModel(e, p) {}
  u8 i_RenderPieces(const u32* pieces, u32 count) override {
    for (u32 k = 0; k < count; ++k)
      if (++renders == failAt) return CPuzzleModel::i_RenderPieces(pieces, k), 0;
    return CPuzzleModel::i_RenderPieces(pieces, count);
  }
};

// A random document cut by knob knives (or by a settings block's layout),
// every piece rendered, the model in Puzzle mode over it, with the
// document's colours as its source image (so every byte of the result is
// defined). The composite alpha is opaque but for a transparent top-left
// corner.
struct Puzzle {
  engtest::Doc doc;
  Bytes alpha;
  CKLF_Image source;
  CTessarette engine;
  FakePort port;
  laytest::FakeCutter cutter;
  Model model;

  Puzzle(u32 columns, u32 rows, i32 w = 48, i32 h = 32, u8 colorKind = 1, const Bytes* block = nullptr)
      : doc(w, h, colorKind == 0 ? 1 : 3, 11), alpha(static_cast<size_t>(w) * h, 255), model(engine, port) {
    for (i32 y = 0; y < 3; ++y) std::fill_n(&alpha[static_cast<size_t>(y) * w], 3, 0);
    engine.SetDocument({colorKind, {0, 0, w, h}, 1, nullptr});
    engtest::SetGrid(engine, columns, rows, true);
    engtest::SetMode(engine, {1, 0});
    if (block) {
      CKLF_Mem mem;
      std::copy(block->begin(), block->end(), mem.alloc(static_cast<u32>(block->size())));
      u8 layout = 0;
      u32 count = 0;
      const u8* records = nullptr;
      // A block that does not read leaves the grid laid above ("any other
      // layout" of a test).
      (void)engine.InitFromLastSettingsBinary(&mem, layout, count, records);
    }
    engtest::Cut(engine, doc, alpha.data(), 1);
    GiveSource();
    model.SetDocument(alpha.data(), static_cast<u32>(w), static_cast<u32>(h), 1);
    cutter.cutMade = 1;
    model.OnCutterClose(&cutter);
  }
  // The layout of a settings block.
  explicit Puzzle(const Bytes& block, i32 w = 48, i32 h = 32) : Puzzle(1, 1, w, h, 1, &block) {}

  // The document's colours (gray in all three planes) as the source image.
  void GiveSource() {
    u8* planes[5] = {};
    u32 stride = 0;
    if (!source.Create(static_cast<u16>(doc.w), static_cast<u16>(doc.h), 2) || source.GetImageChannels(planes, stride) < 3)
      return;
    for (u32 c = 0; c < 3; ++c) {
      const Bytes& from = doc.planes[std::min<u32>(c, doc.count - 1u)];
      for (i32 y = 0; y < doc.h; ++y)
        std::copy_n(&from[static_cast<size_t>(y) * doc.w], doc.w, planes[c] + static_cast<size_t>(y) * stride);
    }
    model.SetSourceImage(&source);
  }

  CTessarette::SPLITEDCELL& Piece(u32 i) { return *engine.GetPiece(i); }
  // The piece at the centre of a cell of 16 x 16 pixels (index by rows).
  i32 AtCell(i32 k, i32 columns = 3) { return model.GetPieceByXY({k % columns * 16 + 8, k / columns * 16 + 8}); }
  Bytes Selected() {
    Bytes s;
    for (u32 i = 0; i < engine.GetPieceCount(); ++i) s.push_back(Piece(i).selected);
    return s;
  }

  // The result image holds what recombining every piece gives: the alpha
  // everywhere, the colours where the alpha is not 0.
  bool ResultMatches() {
    const size_t area = static_cast<size_t>(doc.w) * doc.h;
    Bytes ref(area * 4);
    u8* planes[4] = {&ref[0], &ref[area], &ref[2 * area], &ref[3 * area]};
    if (!engine.CombineSplitedCells(doc.w, doc.h, planes, static_cast<u32>(doc.w), 4, alpha.data(),
                                    static_cast<u32>(doc.w), klNullRect, 0, 0, 100))
      return false;
    const u8* got = model.resultImage.GetMemObj()->GetPtr();
    for (size_t i = 0; i < area; ++i)
      for (size_t p = 0; p < 4; ++p)
        if ((p == 3 || (ref[3 * area + i] && p < doc.count)) && got[p * area + i] != ref[p * area + i]) return false;
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
};

}  // namespace puzzletest
