// The main window's settings reader and the engine's replay reader on the
// same blocks: they take and refuse the same layouts, and what the replay
// builds is what the main window hands the engine after reading. They part
// only where each reader's own rules say so.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "CLayoutModel.h"
#include "CSettingsBlock.h"
#include "CTessarette.h"
#include "support/SettingsBytes.h"

namespace {

typedef std::vector<u8> Bytes;
typedef CTessarette::KNIFESTRUCT_RENDERER EngineKnife;
using klftest::BlockDesc;
using klftest::KnifeDesc;

struct EngineRead {
  CTessarette e;
  CKLF_Mem mem;
  u8 ok = 0, layout = 0;
  u32 count = 0;
  const u8* records = nullptr;

  explicit EngineRead(const Bytes& b) {
    if (!b.empty()) {
      EXPECT_TRUE(mem.alloc(static_cast<u32>(b.size())));
      std::memcpy(mem.GetPtr(), b.data(), b.size());
    }
    ok = e.InitFromLastSettingsBinary(&mem, layout, count, records);
  }
};

struct ModelRead {
  CLayoutModel m;
  u8 taken = 0;
  u32 count = 0;
  const u8* records = nullptr;

  ModelRead(const u8* data, u32 length) {
    m.SetImageSize(640, 480);
    CSettingsBlock codec;
    u8 usedDefaults = 1;
    EXPECT_EQ(codec.Read(m, data, length, &records, count, &usedDefaults), 1);
    taken = usedDefaults ? 0 : 1;
  }
};

// Up to 4 x 4 cells; knives of every flag, knob size and point count, some
// values past what the readers keep; moved knots, extra knives, and piece
// records in Puzzle mode.
BlockDesc RandomBlock(std::mt19937& rng) {
  auto U = [&](u32 n) { return static_cast<u32>(rng() % n); };
  std::uniform_real_distribution<f32> along(-0.3f, 1.3f), across(-4.0f, 4.0f), smooth(-2.5f, 2.5f);
  BlockDesc s;
  s.H = U(4);
  s.V = U(4);
  s.puzzle = U(2) ? 1 : 0;
  s.records = U(3);
  s.thin = static_cast<u8>(U(3));
  s.aa = static_cast<u8>(U(3));
  const u32 K = (s.H + 2) * (s.V + 2);
  for (u32 n = U(4); n > 0; --n) s.knots.push_back({static_cast<f32>(U(K)), across(rng) / 2, across(rng) / 2});
  for (u32 n = U(3); n > 0; --n) s.extras.push_back({U(K), U(K)});
  for (u32 j = U(8); j > 0; --j) s.knife.points.push_back({along(rng), across(rng), smooth(rng)});
  s.knife.knob = static_cast<u8>(U(2) ? 100 : 1 + U(100));
  const u32 seed = static_cast<u32>(rng());
  s.vary = [seed](u32 list, u32 i, KnifeDesc& k) {
    const u32 v = seed ^ (list * 0x9e3779b9u) ^ (i * 0x85ebca6bu);
    k.flags = static_cast<u8>(v & 15);
    if (v & 0x100) k.knob = static_cast<u8>(1 + (v >> 12) % 100);
    k.thickness = static_cast<u8>((v >> 20) % 9);
    if ((v >> 28) == 0) k.points.clear();
  };
  return s;
}

// A block spoiled as a damaged file would be: cut short, bytes flipped or
// overwritten, or left as it is.
void Spoil(std::mt19937& rng, Bytes& b) {
  auto U = [&](u32 n) { return static_cast<u32>(rng() % n); };
  switch (U(5)) {
    case 0: b.resize(U(static_cast<u32>(b.size()) + 1)); break;
    case 1:
      for (u32 n = 1 + U(3); n > 0 && !b.empty(); --n) b[U(static_cast<u32>(b.size()))] ^= static_cast<u8>(1u << U(8));
      break;
    case 2:
      if (!b.empty()) b[U(static_cast<u32>(b.size()))] = static_cast<u8>(U(256));
      break;
    default: break;
  }
}

void ExpectSameKnife(const EngineKnife& replay, const EngineKnife& window, const char* list, u32 i) {
  SCOPED_TRACE(testing::Message() << list << " knife " << i);
  ASSERT_EQ(replay.count, window.count);
  if (replay.count < 0) return;  // hidden: nothing else is read
  EXPECT_EQ(replay.thickness, window.thickness);
  for (i32 j = 0; j < replay.count; ++j) {
    // The knob pivot is a mean taken in two precisions.
    EXPECT_NEAR(replay.position[j], window.position[j], 1e-5f);
    EXPECT_NEAR(replay.offset[j], window.offset[j], 1e-5f);
    EXPECT_EQ(replay.smoothness[j], window.smoothness[j]);
  }
}

// The layout the replay built against the one the main window hands over.
void ExpectSameLayout(const CTessarette& replay, const CTessarette& window) {
  ASSERT_EQ(std::vector<u32>({replay.m_vCount, replay.m_hCount, replay.m_knotCount, replay.m_vKnifeCount,
                              replay.m_hKnifeCount, replay.m_xKnifeCount}),
            std::vector<u32>({window.m_vCount, window.m_hCount, window.m_knotCount, window.m_vKnifeCount,
                              window.m_hKnifeCount, window.m_xKnifeCount}));
  EXPECT_EQ(std::memcmp(replay.m_vPos, window.m_vPos, 4 * replay.m_vCount), 0);
  EXPECT_EQ(std::memcmp(replay.m_hPos, window.m_hPos, 4 * replay.m_hCount), 0);
  for (u32 i = 0; i < replay.m_knotCount; ++i)
    EXPECT_TRUE(replay.m_knots[i].dx == window.m_knots[i].dx && replay.m_knots[i].dy == window.m_knots[i].dy) << i;
  for (u32 i = 0; i < replay.m_vKnifeCount; ++i) ExpectSameKnife(replay.m_vKnives[i], window.m_vKnives[i], "vertical", i);
  for (u32 i = 0; i < replay.m_hKnifeCount; ++i)
    ExpectSameKnife(replay.m_hKnives[i], window.m_hKnives[i], "horizontal", i);
  for (u32 i = 0; i < replay.m_xKnifeCount; ++i) {
    ExpectSameKnife(replay.m_xKnives[i].knife, window.m_xKnives[i].knife, "extra", i);
    if (replay.m_xKnives[i].knife.count >= 0) {
      EXPECT_TRUE(replay.m_xKnives[i].firstKnot == window.m_xKnives[i].firstKnot &&
                  replay.m_xKnives[i].secondKnot == window.m_xKnives[i].secondKnot);
    }
  }
  EXPECT_EQ(replay.m_thinKnife, window.m_thinKnife);
  EXPECT_EQ(replay.m_antiAlias, window.m_antiAlias);
}

// Whether a Puzzle-mode block holds its whole piece section after a layout
// part of layoutBytes.
bool PiecesFit(const Bytes& b, u32 layoutBytes) {
  if (b[0] != 1) return true;
  if (b.size() < layoutBytes + 4ull) return false;
  const u8* p = b.data() + layoutBytes;
  const u64 n = (static_cast<u32>(p[0]) << 24) | (static_cast<u32>(p[1]) << 16) | (static_cast<u32>(p[2]) << 8) | p[3];
  return b.size() >= layoutBytes + 4 + 92 * n;
}

}  // namespace

TEST(SettingsReaders, AgreeOnRandomBlocks) {
  std::mt19937 rng(20240527);
  u32 taken = 0, refused = 0, piecesDropped = 0;
  for (int it = 0; it < 1500; ++it) {
    SCOPED_TRACE(it);
    Bytes b = klftest::Block(RandomBlock(rng));
    Spoil(rng, b);
    EngineRead replay(b);
    ModelRead window(b.empty() ? nullptr : b.data(), static_cast<u32>(b.size()));
    if (!window.taken) {
      // A layout the main window refuses the replay refuses too.
      EXPECT_EQ(replay.ok, 0);
      EXPECT_TRUE(replay.count == 0 && replay.records == nullptr);
      ++refused;
      continue;
    }
    // The layout part's length, as the block is written back.
    CSettingsBlock codec;
    CKLF_Mem out;
    u32 layoutBytes = 0;
    ASSERT_EQ(codec.Write(window.m, 0, nullptr, 0, &out, layoutBytes), 1);
    ASSERT_LE(layoutBytes, b.size());
    if (!PiecesFit(b, layoutBytes)) {
      // The replay needs its pieces; the main window keeps the layout.
      EXPECT_EQ(replay.ok, 0);
      EXPECT_TRUE(window.count == 0 && window.records == nullptr);
      ++piecesDropped;
      continue;
    }
    ASSERT_EQ(replay.ok, 1);
    ++taken;
    EXPECT_EQ(replay.layout, b[1] == 0 ? 1 : 0);
    EXPECT_EQ(replay.count, window.count);
    const u8* data = replay.mem.GetPtr();
    EXPECT_EQ(replay.records ? replay.records - data : -1, window.records ? window.records - b.data() : -1);
    CTessarette handed;
    ASSERT_EQ(window.m.engine_PutLayoutToPuzzleEngine(handed), 1);
    ExpectSameLayout(replay.e, handed);
    if (HasFatalFailure()) return;
  }
  // Each way of parting was met.
  EXPECT_GT(taken, 300u);
  EXPECT_GT(refused, 300u);
  EXPECT_GT(piecesDropped, 20u);
}

// The two readers' extra-knife limits differ: 20000 extra knives replay,
// while the main window holds 19999 and lays its default layout instead.
TEST(SettingsReaders, KeepTheirOwnExtraKnifeLimits) {
  BlockDesc s;
  s.extras.assign(20000, {0, 3});
  const Bytes b = klftest::Block(s);
  EngineRead replay(b);
  EXPECT_EQ(replay.ok, 1);
  EXPECT_EQ(replay.e.m_xKnifeCount, 20000u);
  ModelRead window(b.data(), static_cast<u32>(b.size()));
  EXPECT_EQ(window.taken, 0);
  EXPECT_EQ(window.m.xKnifeCount, 0u);

  s.extras.resize(19999);
  const Bytes fewer = klftest::Block(s);
  ModelRead again(fewer.data(), static_cast<u32>(fewer.size()));
  EXPECT_EQ(again.taken, 1);
  EXPECT_EQ(again.m.xKnifeCount, 19999u);
}
