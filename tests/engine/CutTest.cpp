#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "CTessarette.h"
#include "CTessaretteRecordCodec.h"
#include "EngineTestUtil.h"
#include "KLF_Parallel.h"
#include "support/TestSupport.h"

using namespace engtest;

namespace {

typedef CTessarette::SPLITEDCELL Cell;

// Cancels at the n-th question, or as soon as the engine holds a piece.
class Canceller : public CKLF_Progress {
 public:
  Canceller(int n, const CTessarette* e = nullptr) : m_n(n), m_e(e) {}
  u8 IsCanceled() override { return m_e ? m_e->GetPieceCount() >= 1 : --m_n < 0; }

 private:
  int m_n;
  const CTessarette* m_e;
};

// Every piece's rectangle, cell, pixel count and mask bytes in one list.
std::vector<i32> Pieces(const CTessarette& e) {
  std::vector<i32> out;
  for (u32 i = 0; i < e.GetPieceCount(); i++) {
    const Cell* c = e.GetPiece(i);
    out.insert(out.end(), {c->rect.left, c->rect.top, c->rect.right, c->rect.bottom, static_cast<i32>(c->column),
                           static_cast<i32>(c->row), static_cast<i32>(c->pixelCount)});
    out.insert(out.end(), c->maskBlock->GetPtr(), c->maskBlock->GetPtr() + c->maskBlock->GetSize());
  }
  return out;
}

}  // namespace

// An outer mask multiplies the pieces and shrinks their rectangles to what
// is left; a knife lying outside it leaves no knife piece.
TEST(TessaretteCut, OuterMaskLimitsPieces) {
  Doc d(40, 10, 1, 5);
  std::vector<u8> outer(40 * 10, 0);
  for (i32 y = 0; y < 10; y++)
    for (i32 x = 25; x < 40; x++) outer[y * 40 + x] = x < 30 ? 128 : 255;
  for (u8 thin : {1, 0}) {
    CTessarette e;
    SetGrid(e, 2, 1, false);  // one straight knife at x = 20
    SetMode(e, {thin, 0});
    ASSERT_EQ(Cut(e, d, outer.data()), 1);
    ASSERT_EQ(e.GetPieceCount(), 1u);
    const Cell* c = e.GetPiece(0);
    EXPECT_EQ(c->rect.left, 25);
    EXPECT_EQ(c->rect.right, 40);
    EXPECT_EQ(c->column, 2u);
    EXPECT_EQ(c->maskBlock->GetPtr()[0], 128);  // 255 x 128 / 255
    EXPECT_EQ(c->maskBlock->GetPtr()[5], 255);
    EXPECT_EQ(c->outerMask, outer.data() + 25);
    EXPECT_EQ(c->pixelCount, 15u * 10u);
  }
}

// Pieces take the column and row of the nearest cell centre, in scan order;
// equal distances keep the first cell.
TEST(TessaretteCut, NearestCellCentre) {
  CTessarette e;
  ASSERT_TRUE(e.Init(3, 2, 0));
  e.m_vPos[0] = 0.2f;
  e.m_vPos[1] = 0.7f;
  e.m_hPos[0] = 0.4f;
  e.GetKnot(1, 1)->dx = 0.3f;  // a skewed cell
  e.m_antiAlias = 0;
  Doc d(200, 100, 1, 6);
  ASSERT_EQ(Cut(e, d), 1);
  std::vector<u32> seen;
  for (u32 i = 0; i < e.GetPieceCount(); i++) seen.insert(seen.end(), {e.GetPiece(i)->column, e.GetPiece(i)->row});
  EXPECT_EQ(seen, (std::vector<u32>{1, 1, 2, 1, 3, 1, 1, 2, 2, 2, 3, 2}));

  SetGrid(e, 2, 1, false, 2);
  SetMode(e, {0, 0});
  Doc d2(40, 10, 1, 7);
  ASSERT_EQ(Cut(e, d2), 1);
  ASSERT_EQ(e.GetPieceCount(), 3u);
  EXPECT_EQ(e.GetPiece(0)->column, 1u);  // knife centre (20, 5): both cells at 10
  EXPECT_EQ(e.GetPiece(2)->column, 2u);
}

// Cuts of random layouts in every mode, on one thread or several, give the
// pieces of the point-wise fill, and the pieces share every pixel out: plain knives give it to one
// piece (the thick knife is a piece of its own, the first); anti-aliased
// ones share edge pixels: beside the thick knife piece the shares add up to
// 255; a pixel the knife misses is one piece's 255 (16 sub-pixels of the
// four-times mask make 255). On the thin knife the shares overlap instead
// (ThinAntiAliasedKnifeRecombinesWithoutSeams).
TEST(TessaretteCut, PiecesPartitionTheImageAsThePointwiseFillCutsThem) {
  std::mt19937 rng(21);
  for (int trial = 0; trial < 6; trial++) {
    // Trial 0 has no knives, trial 5 more pieces than the array's first
    // block; trials 2 to 4 move knots and knobs at random.
    const u32 columns = trial == 0 ? 1 : (trial == 5 ? 41 : 3 + trial % 3);
    const u32 rows = trial == 0 ? 1 : (trial == 5 ? 31 : 2 + trial % 2);
    const bool outer = trial == 2 || trial == 3, regular = trial < 2 || trial == 5;
    for (const Mode& m : kModes) {
      SCOPED_TRACE(testing::Message() << "trial " << trial << " thin " << int(m.thin) << " aa " << int(m.aa));
      CTessarette a, b;
      for (CTessarette* e : {&a, &b}) {
        std::mt19937 r2(trial);
        std::uniform_real_distribution<f32> u(-0.6f, 0.6f);
        SetGrid(*e, columns, rows, trial < 5, 1 + (trial + 1) % 4);
        for (u32 k = 0; !regular && k < e->m_knotCount; k++) e->m_knots[k] = {u(r2), u(r2)};
        for (u32 k = 0; !regular && k < e->m_vKnifeCount; k++) e->m_vKnives[k].offset[2] = u(r2);
        SetMode(*e, m);
      }
      b.SetRunFill(0);
      a.SetThreads(trial % 2 ? 1 : 4);  // regions painted on one thread or side by side
      Doc d((trial == 5 ? 10 : 40) * columns + trial, (trial == 5 ? 10 : 40) * rows + trial, 1, trial);
      std::vector<u8> mask(static_cast<size_t>(d.w) * d.h, 255);
      if (outer)
        for (u8& v : mask) v = rng() % 3 ? static_cast<u8>(rng()) : 0;
      ASSERT_EQ(Cut(a, d, outer ? mask.data() : nullptr), 1);
      ASSERT_EQ(Cut(b, d, outer ? mask.data() : nullptr), 1);
      ASSERT_EQ(Pieces(a), Pieces(b));
      if (m.thin && !outer) {
        // The thin knives' regions' bounds are tight: an opaque outer mask
        // changes nothing (the replay leaves it out).
        ASSERT_EQ(Cut(b, d, mask.data()), 1);
        ASSERT_EQ(Pieces(a), Pieces(b));
      }
      EXPECT_EQ(a.HasSplitterPiece(), 1 - m.thin);
      if (regular) {
        EXPECT_EQ(a.GetPieceCount(), columns * rows + 1 - m.thin);
      }
      std::vector<int> sum, owners;
      Coverage(a, d.w, d.h, sum, owners);
      const u8* knife = m.thin ? nullptr : a.GetPiece(0)->maskBlock->GetPtr();
      int shared = 0;
      for (size_t i = 0; i < sum.size(); i++) {
        if (!m.aa && (regular || !m.thin)) {  // thin knife blobs may touch no region
          ASSERT_EQ(sum[i], mask[i]) << "pixel " << i;
          ASSERT_LE(owners[i], 1) << "pixel " << i;
        } else if (m.aa && regular) {
          ASSERT_GT(owners[i], 0) << "pixel " << i;
          shared += owners[i] > 1;
          // A pixel the knife misses is one piece's whole; a knife edge pixel
          // is the knife piece's value plus the rest for one region.
          const u8 onKnife = knife ? knife[i] : 0;
          if ((!onKnife && owners[i] == 1) || (onKnife && owners[i] == 2)) {
            ASSERT_EQ(sum[i], 255) << "pixel " << i;
          }
        }
      }
      if (m.aa && regular) {
        EXPECT_EQ(shared > 0, trial > 0);
      }
    }
  }
}

// A thin anti-aliased slanted knife: both pieces reach over the knife's
// sub-pixels (shares counted from both sides, or 16 for a sub-pixel only
// above or below a piece), so along the knife their sum runs above and
// below 255; recombined with union 0 every pixel is opaque and holds the
// document's colour, with no seam.
TEST(TessaretteCut, ThinAntiAliasedKnifeRecombinesWithoutSeams) {
  const i32 w = 24, h = 24, n = w * h;
  CTessarette e;
  SetGrid(e, 2, 2, false, 1);
  e.GetKnot(1, 0)->dx = -0.3f;
  e.GetKnot(1, 2)->dx = 0.3f;
  e.GetKnot(0, 1)->dy = 0.3f;
  e.GetKnot(2, 1)->dy = -0.25f;
  SetMode(e, {1, 1});
  Doc d(w, h, 3, 1);
  ASSERT_EQ(Cut(e, d), 1);
  ASSERT_EQ(e.GetPieceCount(), 4u);
  std::vector<int> sum, owners;
  Coverage(e, w, h, sum, owners);
  int over = 0, under = 0;
  for (i32 i = 0; i < n; i++) {
    over += sum[i] > 255;
    under += owners[i] > 1 && sum[i] < 255;
  }
  EXPECT_GT(over, 0);
  EXPECT_GT(under, 0);
  const int W = CTessarette::FX_WORKING;
  for (u32 i = 0; i < e.GetPieceCount(); i++) {
    Cell& c = *e.GetPiece(i);
    c.invert[W] = 0;
    c.colorOverlay[W].enabled = c.imageOverlay[W].enabled = c.hsl[W].enabled = c.bc[W].enabled = 0;
    c.mblur[W].enabled = c.blur[W].enabled = c.stroke[W].enabled = c.bevel[W].enabled = c.opacity[W].enabled = 0;
    ASSERT_EQ(e.RenderPiece(i), 1);
  }
  std::vector<u8> out(4 * n, 7);
  u8* planes[4] = {&out[0], &out[n], &out[2 * n], &out[3 * n]};
  ASSERT_EQ(e.CombineSplitedCells(w, h, planes, w, 4, nullptr, w, klNullRect, 0, 0, 100), 1);
  for (i32 i = 0; i < n; i++) {
    ASSERT_EQ(out[3 * n + i], 255) << "pixel " << i;
    for (int p = 0; p < 3; p++) ASSERT_EQ(out[p * n + i], d.planes[p][i]) << "pixel " << i;
  }
}

TEST(TessaretteCut, RefusalsAndCancel) {
  CTessarette e;
  SetGrid(e, 2, 2, false);
  Doc d(8, 8, 1, 10);
  EXPECT_FAILS(e, e.SplitCells(0, 8, nullptr, 0, d.ptrs, 8, 1, 0, 100, 0), klErrBadArg);
  // Beyond the 16-bit sizes of the effects: refused, not truncated.
  EXPECT_FAILS(e, e.SplitCells(70000, 8, nullptr, 0, d.ptrs, 70000, 1, 0, 100, 0), klErrBadArg);
  // A piece of the whole image would not fit a 32-bit block.
  EXPECT_FAILS(e, e.SplitCells(65535, 65535, nullptr, 0, d.ptrs, 65535, 1, 0, 100, 0), klErrNoMemory);
  EXPECT_EQ(e.SplitCells(8, 8, nullptr, 0, d.ptrs, 4, 1, 0, 100, 0), 0);  // stride
  EXPECT_EQ(e.GetPieceCount(), 0u);
  for (int at : {0, 3, 30}) {
    Canceller p(at);
    e.SetProgress(&p);
    EXPECT_EQ(Cut(e, d), 0) << at;
    EXPECT_EQ(e.GetError(), 0);
    EXPECT_STREQ(e.GetLastAlertText(), "");
  }
}

// A knife that cannot be drawn, or a region whose seed stack cannot grow,
// fails the cut with the memory alert: left out, the knife would merge the
// pieces on both sides; stored half filled, the region would split in two.
TEST(TessaretteCut, UndrawableKnifeOrSeedStackFailureFailsTheCut) {
  for (const Mode& m : kModes) {
    for (int fault = 0; fault < 2; fault++) {
      CTessarette e;
      SetGrid(e, 3, 3, true);
      SetMode(e, m);
      if (fault == 0) {
        e.GetKnot(1, 0)->dx = 1e7f;  // the first knife's top knot far off to the right
      } else {
        e.SetFillSeedLimit(2);
      }
      Doc d(90, 90, 1, 17);
      EXPECT_FAILS(e, Cut(e, d), klErrNoMemory);
      EXPECT_STREQ(e.GetLastAlertText(), "Memory allocation problem...");
    }
  }
}

// A piece's record holds its as-rendered effects and restores them as the
// working ones of a piece of a new cut.
TEST(TessaretteCut, PieceRecordRoundTrip) {
  enum { W = CTessarette::FX_WORKING };
  CTessarette e;
  SetGrid(e, 2, 2, true);
  Doc d(60, 60, 1, 11);
  ASSERT_EQ(Cut(e, d), 1);
  Cell* c = e.GetPiece(3);
  c->hsl[W] = {1, 0, -33, 12, -7};
  c->selected = 1;
  ASSERT_EQ(e.RenderPiece(3), 1);
  c->hsl[W].hue = 99;  // not rendered
  CTessarette::SFX_ONEPIECE rec, again, decoded;
  // Records are compared as bytes (undo, needs-render): no stray bytes.
  std::memset(&rec, 0xEE, sizeof(rec));
  std::memset(&decoded, 0x11, sizeof(decoded));
  ASSERT_EQ(e.PieceToRecord(3, rec), 1);
  std::vector<u8> stored(92, 0x55);
  CTessaretteRecordCodec::Encode(rec, stored.data());
  ASSERT_EQ(CTessaretteRecordCodec::Decode(stored.data(), 92, decoded), 1);
  EXPECT_EQ(std::memcmp(&rec, &decoded, sizeof(rec)), 0);
  ASSERT_EQ(Cut(e, d), 1);
  EXPECT_EQ(e.RecordToPiece(rec, 4, 1, 1), 0);
  ASSERT_EQ(e.RecordToPiece(rec, 3, 1, 0), 1);
  EXPECT_EQ(e.GetPiece(3)->selected, 0);
  ASSERT_EQ(e.RenderPiece(3), 1);
  ASSERT_EQ(e.PieceToRecord(3, again), 1);
  again.selected = 1;
  std::vector<u8> a(92, 0), b(92, 0);
  CTessaretteRecordCodec::Encode(rec, a.data());
  CTessaretteRecordCodec::Encode(again, b.data());
  EXPECT_EQ(a, b);
  EXPECT_EQ(rec.hsl.hue, -33);
}

// A second cut reads only its own planes (the first cut's are gone), also
// when it stopped early: its pieces render into a work image laid out for
// them, not for the first cut's pieces (smaller ones, or as large ones with
// fewer planes).
TEST(TessaretteCut, SecondCutRendersFromItsOwnPlanes) {
  struct Case {
    i32 w, h;
    u8 planes;
    u32 rows;
    bool cancel;
  };
  for (const Case& k : {Case{50, 30, 3, 2, false}, Case{30, 60, 3, 2, true}, Case{40, 20, 4, 1, true}}) {
    CTessarette e;
    SetGrid(e, 1, 1, false);
    {
      Doc first(40, 20, 3, 13);
      ASSERT_EQ(Cut(e, first, nullptr, 1), 1);
    }
    SetGrid(e, 1, k.rows, false);
    e.m_antiAlias = 0;
    Doc second(k.w, k.h, k.planes, 14);
    Canceller stop(0, &e);
    e.SetProgress(k.cancel ? &stop : nullptr);
    e.SetThreads(1);  // the row-by-row fill asks after each piece it stores
    ASSERT_EQ(Cut(e, second), k.cancel ? 0 : 1);
    ASSERT_EQ(e.GetPieceCount(), k.cancel ? 1u : k.rows);
    e.GetPiece(0)->bevel[CTessarette::FX_WORKING].enabled = 0;  // the only effect on by default
    e.SetProgress(nullptr);
    ASSERT_EQ(e.RenderPiece(0), 1);
    const Cell* c = e.GetPiece(0);
    const i32 rw = c->rect.right - c->rect.left, rh = c->rect.bottom - c->rect.top;
    EXPECT_EQ(rw, k.w);
    EXPECT_GE(rh, k.h / static_cast<i32>(k.rows));
    for (u8 p = 0; p < k.planes; p++)
      for (i32 y = 0; y < rh; y++)
        for (i32 x = 0; x < rw; x++) ASSERT_EQ(c->imgPlanes[p][y * rw + x], second.planes[p][y * k.w + x]);
    EXPECT_EQ(0, std::memcmp(c->imgPlanes[k.planes], c->maskBlock->GetPtr(), static_cast<size_t>(rw) * rh));
  }
}

// The bucketed nearest centre against a scan of every centre (the first of
// equal distances): random centres with repeats, on a line, one alone, and
// queries inside and far outside their box.
TEST(TessaretteCut, NearestCentreIsTheScansAnswer) {
  std::mt19937 rng(8);
  for (int trial = 0; trial < 6; trial++) {
    std::vector<kltFPOS> c(trial == 0 ? 1 : 1 + rng() % 700);
    std::uniform_real_distribution<f64> u(-50.0, 950.0);
    for (size_t i = 0; i < c.size(); i++) {
      c[i] = {std::floor(u(rng) / 8) * 8, trial == 1 ? 5.0 : std::floor(u(rng) / 8) * 8};
      if (i > 0 && rng() % 5 == 0) c[i] = c[rng() % i];
    }
    CTessaretteCentres index;
    ASSERT_EQ(index.Build(c.data(), static_cast<u32>(c.size())), 1);
    for (int q = 0; q < 400; q++) {
      const f64 x = std::floor(u(rng) * (q % 7 ? 1 : 9)) / 2, y = std::floor(u(rng) * (q % 5 ? 1 : -7)) / 2;
      i64 want = 0;
      f64 best = 0;
      for (size_t i = 0; i < c.size(); i++) {
        const f64 dx = c[i].x - x, dy = c[i].y - y, d = dx * dx + dy * dy;
        if (i == 0 || d < best) best = d, want = static_cast<i64>(i);
      }
      ASSERT_EQ(index.Nearest(x, y), want) << "trial " << trial << " query " << x << ", " << y;
    }
  }
}

// The pieces counted without cutting them are those the cut gives, in
// every knife mode and on any thread count: layouts without knives, with
// knots and knobs moved until knives cross (slivers) or touch (joined
// cells), with extra knives across the grid; refusals and cancels are the
// cut's.
TEST(TessaretteCut, CountedPiecesAreTheCutsPieces) {
  std::mt19937 rng(35);
  std::set<u32> counts;
  for (int trial = 0; trial < 8; trial++) {
    const u32 columns = trial == 0 ? 1 : 2 + rng() % 6, rows = trial == 0 ? 1 : 2 + rng() % 5;
    const f32 amount = trial < 2 ? 0.0f : 0.3f * trial;
    const u32 extras = trial >= 5 ? 1 + rng() % 4 : 0;
    const u32 seed = static_cast<u32>(rng());
    for (const Mode& m : kModes) {
      SCOPED_TRACE(testing::Message() << "trial " << trial << " thin " << int(m.thin) << " aa " << int(m.aa));
      auto layout = [&](CTessarette& e) {
        std::mt19937 r(seed);
        std::uniform_real_distribution<f32> u(-amount, amount);
        SetGrid(e, columns, rows, trial % 3 != 1, 1 + seed % 6, extras);
        for (u32 k = 0; k < e.m_knotCount; k++) e.m_knots[k] = {u(r), u(r)};
        for (u32 k = 0; k < e.m_vKnifeCount; k++) e.m_vKnives[k].offset[2] *= 1.0f + 4.0f * u(r);
        for (u32 k = 0; k < extras; k++) {
          CTessarette::EXTRAKNIFE* x = e.GetExtraKnife(k);
          SetKnob(&x->knife, u(r) + 0.5f);
          x->firstKnot = r() % e.m_knotCount;
          x->secondKnot = r() % e.m_knotCount;
        }
        SetMode(e, m);
      };
      CTessarette cut, counter;
      layout(cut);
      layout(counter);
      cut.SetThreads(1);
      Doc d(37 * static_cast<i32>(columns) + trial, 31 * static_cast<i32>(rows) + 2 * trial, 1, trial);
      ASSERT_EQ(Cut(cut, d), 1);
      for (u32 threads : {1u, 3u}) {
        counter.SetThreads(threads);
        u32 n = 12345;
        ASSERT_EQ(counter.CountPieces(d.w, d.h, n), 1);
        EXPECT_EQ(n, cut.GetPieceCount()) << threads << " threads";
      }
      counts.insert(cut.GetPieceCount());
    }
  }
  EXPECT_GE(counts.size(), 12u) << "the layouts cut as many different counts";

  CTessarette e;
  SetGrid(e, 3, 2, true);
  u32 n = 0;
  EXPECT_FAILS(e, e.CountPieces(0, 8, n), klErrBadArg);
  EXPECT_FAILS(e, e.CountPieces(70000, 8, n), klErrBadArg);
  Doc d(60, 40, 1, 3);
  ASSERT_EQ(Cut(e, d), 1);
  for (int at : {0, 3, 30}) {
    Canceller p(at);
    e.SetProgress(&p);
    EXPECT_EQ(e.CountPieces(d.w, d.h, n), 0) << at;
    EXPECT_EQ(e.GetError(), 0);
  }
  EXPECT_EQ(e.GetPieceCount(), 6u) << "a count leaves the pieces cut";
  e.SetProgress(nullptr);
  e.GetKnot(1, 0)->dx = 1e7f;
  EXPECT_FAILS(e, e.CountPieces(d.w, d.h, n), klErrNoMemory);
}

namespace {

// Every helper of the process's thread pool held at a task of its own
// until this goes: a run of up to `threads` threads started meanwhile is
// worked by its caller alone, which polls after each task. The holding run
// asks a helper for each of the process's threads but the calling one
// (more than the pool has, or all it may have), and for at least as many
// as such a run would start; a helper held cannot take a second task.
class PoolHeld {
 public:
  explicit PoolHeld(u32 threads) : m_count(threads) {
    u32 now = 0;
    for (const auto& t : std::filesystem::directory_iterator("/proc/self/task")) (void)t, ++now;
    if (now > m_count) m_count = now > KLF_Parallel::kMaxThreads ? KLF_Parallel::kMaxThreads : now;
    m_holder = std::thread([this] {
      KLF_Parallel::ForEach(m_count, m_count, [this](u32, u32) noexcept {
        std::unique_lock<std::mutex> hold(m_lock);
        ++m_started;
        m_changed.notify_all();
        m_changed.wait(hold, [this] { return m_released; });
      });
    });
    std::unique_lock<std::mutex> hold(m_lock);
    m_held = m_changed.wait_for(hold, std::chrono::seconds(60), [this] { return m_started == m_count; });
  }
  ~PoolHeld() {
    {
      std::lock_guard<std::mutex> hold(m_lock);
      m_released = true;
    }
    m_changed.notify_all();
    m_holder.join();
  }
  bool Held() const { return m_held; }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::thread m_holder;
  u32 m_count = 0, m_started = 0;
  bool m_released = false, m_held = false;
};

}  // namespace

// A progress object that throws at its n-th question, as one that pumps
// window events does when a window finds no memory: a throw under a
// parallel run's poll fails the cut and render as out of memory, never as
// a cancel; one outside the runs leaves the engine as thrown. With the
// pool free its helpers may take all of a run's tasks (no poll inside);
// held, every run's caller polls inside it.
TEST(TessaretteCut, AProgressThatThrowsFailsTheCutAsOutOfMemory) {
  struct Throwing : CKLF_Progress {
    int at = 0, seen = 0;
    u8 IsCanceled() override {
      if (++seen == at) throw std::bad_alloc();
      return 0;
    }
  };
  Doc d(160, 120, 3, 12);
  for (const bool held : {false, true}) {
    std::unique_ptr<PoolHeld> pool(held ? new PoolHeld(3) : nullptr);
    if (pool) {
      ASSERT_TRUE(pool->Held()) << "a helper of the pool did not start";
    }
    u32 failed = 0, thrown = 0;
    for (int at = 1;; ++at) {
      CTessarette e;
      SetGrid(e, 4, 3, true);
      e.SetThreads(3);
      Throwing p;
      p.at = at;
      e.SetProgress(&p);
      bool threw = false;
      u8 ok = 0;
      try {
        ok = Cut(e, d, nullptr, 1);
      } catch (const std::bad_alloc&) {
        threw = true;
      }
      thrown += threw;
      if (!threw && !ok) {
        ++failed;
        EXPECT_EQ(e.GetError(), klErrNoMemory) << at << (held ? ", pool held" : "");
      }
      if (p.seen < at) break;
      ASSERT_LT(at, 100000);
    }
    if (held) {
      EXPECT_GT(failed, 0u);
      EXPECT_GT(thrown, 0u);
    }
  }
}
