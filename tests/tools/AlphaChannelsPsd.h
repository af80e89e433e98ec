// An RGB PSD with a layer's transparency and two alpha channels ("Left",
// "Top"), served by the filter host as the host program serves it, and a
// real cut of it in Puzzle mode: what the channel selection reads and the
// pieces it selects.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "CChannelListModel.h"
#include "CKLT_FilterHost.h"
#include "CKLT_HostDocument.h"
#include "CKLT_SettingsSource.h"
#include "CPluginMain.h"
#include "CPuzzleModel.h"
#include "app/PuzzleTestUtil.h"
#include "support/TestSupport.h"

namespace alphapsd {

typedef std::vector<uint8_t> Bytes;

const int32_t kW = 60, kH = 40;

// Big-endian bytes.
struct Be {
  Bytes b;
  Be& u8_(uint32_t v) { return b.push_back(static_cast<uint8_t>(v)), *this; }
  Be& u16_(uint32_t v) { return u8_(v >> 8).u8_(v); }
  Be& u32_(uint32_t v) { return u16_(v >> 16).u16_(v); }
  Be& s(const char* t) { return b.insert(b.end(), t, t + std::strlen(t)), *this; }
  Be& raw(const Bytes& v) { return b.insert(b.end(), v.begin(), v.end()), *this; }
};

// The alpha channels: "Left" dark on x < 14, "Top" dark on y < 9.
inline uint8_t Left(int32_t i) { return i % kW < 14 ? 0 : 255; }
inline uint8_t Top(int32_t i) { return i / kW < 9 ? 0 : 255; }
// The layer's transparency: a soft hole inside, its bounds the canvas.
inline uint8_t Transparency(int32_t i) {
  const int32_t x = i % kW, y = i / kW;
  return x > 30 && x < 40 && y > 15 && y < 25 ? 40 : 255;
}

// An RGB PSD of one layer over the canvas with transparency, and two
// alpha channels named by resource 1006 after the merged transparency
// (the layer count is negative, as Photoshop writes it).
inline Bytes AlphaChannelsPsd() {
  std::mt19937 rng(4);
  const uint32_t area = kW * kH;
  std::vector<Bytes> colour(3, Bytes(area));
  for (Bytes& p : colour)
    for (uint8_t& v : p) v = static_cast<uint8_t>(rng());
  Bytes transparency(area), left(area), top(area);
  for (uint32_t i = 0; i < area; ++i) transparency[i] = Transparency(i), left[i] = Left(i), top[i] = Top(i);
  Be info;
  info.u16_(0xFFFF);  // -1: one layer, the merged transparency first
  info.u32_(0).u32_(0).u32_(kH).u32_(kW).u16_(4);
  for (uint32_t id : {0u, 1u, 2u, 0xFFFFu}) info.u16_(id).u32_(2 + area);
  info.s("8BIMnorm").u8_(255).u8_(0).u8_(0).u8_(0).u32_(12).u32_(0).u32_(0).u8_(1).s("L").u8_(0).u8_(0);
  for (const Bytes* p : {&colour[0], &colour[1], &colour[2], &transparency}) info.u16_(0).raw(*p);
  if (info.b.size() & 1) info.u8_(0);
  Be res;
  res.s("8BIM").u16_(1006).u16_(0).u32_(9).u8_(4).s("Left").u8_(3).s("Top").u8_(0);
  Be f;
  f.s("8BPS").u16_(1).u32_(0).u16_(0).u16_(6).u32_(kH).u32_(kW).u16_(8).u16_(3);
  f.u32_(0).u32_(static_cast<uint32_t>(res.b.size())).raw(res.b);
  f.u32_(static_cast<uint32_t>(info.b.size() + 8)).u32_(static_cast<uint32_t>(info.b.size())).raw(info.b).u32_(0);
  f.u16_(0);
  for (const Bytes* p : {&colour[0], &colour[1], &colour[2], &transparency, &left, &top}) f.raw(*p);
  return f.b;
}

// The document served as the host program serves it: colours, the
// transparency, the alpha channels after them, the names in that order.
inline void Serve(const CKLT_HostDocument& doc, CKLT_FilterHost& host) {
  const CKLT_HostDocument::Layer& l = doc.layers[0];
  ASSERT_TRUE(host.SetDocument(klpModeRGB, doc.width, doc.height, true, false));
  for (int c = 0; c < 3; ++c) host.Plane(c) = l.planes[c];
  host.Plane(3) = l.alpha;
  std::vector<std::string> names = {"Red", "Green", "Blue", "Layer Transparency"};
  for (const CKLT_HostDocument::Channel& ch : doc.channels) {
    ASSERT_TRUE(host.AddAlphaChannel(ch.plane));
    names.push_back(ch.name);
  }
  host.SetChannelNames(names, true);
}

// The PSD written, read and served; the plug-in object on the host, its
// engine holding a 5 x 4 cut of the document, and the Puzzle-mode model
// over the cut.
struct ServedCut {
  klftest::TempDir dir;
  CKLT_FilterHost host;
  CPluginMain plugin;
  int16_t result = 0;
  CKLF_Mem block, source;
  puzzletest::FakePort port;
  std::unique_ptr<CPuzzleModel> model;
  laytest::FakeCutter cutter;

  // A test checks ok() after making it.
  bool ok = false;
  ServedCut() {
    if (!klftest::WriteFileBytes(dir.File("in.psd"), AlphaChannelsPsd())) return;
    CKLT_HostDocument doc;
    std::string error;
    if (doc.ReadFile(dir.File("in.psd"), UINT64_MAX, error) != CKLT_HostDocument::kOk) return;
    Serve(doc, host);
    plugin.SetHostPointers(&host.Record(), nullptr, &result);
    Bytes settings;
    if (!plugin.FillPluginData() || !CKLT_SettingsSource::DefaultBlock(kW, kH, 5, 4, false, settings, error)) return;
    std::memcpy(block.alloc(static_cast<u32>(settings.size())), settings.data(), settings.size());
    if (!plugin.CutPieces(block, source)) return;
    model = std::make_unique<CPuzzleModel>(plugin.GetEngine(), port);
    i32 aw = 0, ah = 0;
    model->SetDocument(plugin.GetCompositeAlpha(aw, ah), kW, kH, 1);
    cutter.cutMade = 1;
    model->OnCutterClose(&cutter);
    ok = plugin.GetEngine().GetPieceCount() == 20;
  }
  CTessarette& Engine() { return plugin.GetEngine(); }

  // Whether a piece has a pixel under it that the map (inverted) marks.
  bool Marked(u32 piece, uint8_t (*map)(int32_t), u8 invert) {
    const CTessarette::SPLITEDCELL& c = *Engine().GetPiece(piece);
    const i32 rw = c.rect.right - c.rect.left;
    for (i32 y = c.rect.top; y < c.rect.bottom; ++y)
      for (i32 x = c.rect.left; x < c.rect.right; ++x) {
        const uint8_t v = map(y * kW + x);
        if (c.maskBlock->GetPtr()[(y - c.rect.top) * rw + x - c.rect.left] && (invert ? 255 - v : v) < 128) return true;
      }
    return false;
  }
  // The selection a step of the channel selection makes from want, with
  // the map of "Left" (item 4) or "Top" (item 5).
  std::vector<bool> Expected(std::vector<bool> want, u8 mode, u32 item, u8 invert) {
    uint8_t (*map)(int32_t) = item == 4 ? Left : Top;
    for (u32 i = 0; i < want.size(); ++i) {
      const bool m = Marked(i, map, invert);
      want[i] = mode == CChannelListModel::kNew        ? m
                : mode == CChannelListModel::kAdd      ? want[i] || m
                : mode == CChannelListModel::kSubtract ? want[i] && !m
                                                       : want[i] && m;
    }
    return want;
  }
  std::vector<bool> Selected() {
    std::vector<bool> s;
    for (u32 i = 0; i < Engine().GetPieceCount(); ++i) s.push_back(Engine().GetPiece(i)->selected != 0);
    return s;
  }
};

}  // namespace alphapsd
