#include "CLayoutModel.h"

#include <cstdlib>
#include <cstring>

#include "CCutterServices.h"
#include "CLayoutRandom.h"
#include "CLayoutView.h"
#include "CTessarette.h"

namespace {

// The default knob shape.
const f32 kDefaultU[5] = {0.434f, 0.3515f, 0.5f, 0.6485f, 0.566f};
const f32 kDefaultH[5] = {0.0f, -0.165f, -0.297f, -0.165f, 0.0f};

// One coordinate of a knot: index on its axis, count of knot positions on
// the axis, the line positions and the knot's offset.
f64 KnotAxis(u32 c, u32 n, const f32* P, f64 d, f64 size) {
  if (c == 0) return 0.0;
  if (c + 1 >= n) return size;
  f64 g;
  if (d < 0) {
    g = c == 1 ? static_cast<f64>(P[0]) : static_cast<f64>(P[c - 1]) - static_cast<f64>(P[c - 2]);
  } else if (c == n - 2) {
    g = 1.0 - static_cast<f64>(P[c - 1]);
  } else {
    g = static_cast<f64>(P[c]) - static_cast<f64>(P[c - 1]);
  }
  return (static_cast<f64>(P[c - 1]) + g * d) * size;
}

f32 RandomOffset(f32 amount, u32 r) {
  f64 a = amount;
  return static_cast<f32>(a * (2.0 * static_cast<f64>(r) / 2147483647.0) - a);
}

}  // namespace

CLayoutModel::CLayoutModel() {}

CLayoutModel::~CLayoutModel() { spl_CleanKnives(); }

kltFPOS CLayoutModel::i_spl_ConvertKnot(u32 column, u32 row, f64 width, f64 height, kltFPOS origin) const {
  kltFPOS p = {0.0, 0.0};
  if (!knots || knotColumns == 0 || knotRows == 0) return p;
  u64 id = static_cast<u64>(row) * knotColumns + column;
  f64 dx = 0, dy = 0;
  if (column < knotColumns && id < knotCount) {
    dx = knots[id].dx;
    dy = knots[id].dy;
  }
  p.x = KnotAxis(column, knotColumns, verticalLines, dx, width) - origin.x;
  p.y = KnotAxis(row, knotRows, horizontalLines, dy, height) - origin.y;
  return p;
}

kltFPOS CLayoutModel::i_spl_ConvertKnot(u32 knotId, f64 width, f64 height, kltFPOS origin) const {
  if (knotColumns == 0) return kltFPOS{0.0, 0.0};
  return i_spl_ConvertKnot(knotId % knotColumns, knotId / knotColumns, width, height, origin);
}

i32 CLayoutModel::i_CovertKnotID(u32 knotId, u8 insert, u8 column, u16 line) const {
  return CovertKnotID(knotId, knotColumns, knotCount, insert, column, line);
}

i32 CLayoutModel::CovertKnotID(u32 knotId, u32 knotColumns, u32 knotCount, u8 insert, u8 column, u16 line) {
  if (knotId >= knotCount || knotColumns == 0) return -1;
  i64 n = knotColumns;
  i64 c = knotId % knotColumns;
  i64 r = knotId / knotColumns;
  i64 L = line;
  if (insert) {
    if (column) {
      if (c > L) ++c;
      return static_cast<i32>(c + r * (n + 1));
    }
    if (r > L) ++r;
    return static_cast<i32>(c + r * n);
  }
  if (column) {
    if (c == L + 1) return -1;
    if (c > L + 1) --c;
    return static_cast<i32>(c + r * (n - 1));
  }
  if (r == L + 1) return -1;
  if (r > L + 1) --r;
  return static_cast<i32>(c + r * n);
}

u32 CLayoutModel::Rand() { return random ? random->Rand() : static_cast<u32>(std::rand()); }

void CLayoutModel::AlertNoMemory() const {
  if (view) view->Alert(CLayoutView::kMemoryProblem, CLayoutView::kErrorTitle);
}

u8 CLayoutModel::GrowBlock(CKLF_Mem& block, u64 bytes) const {
  if (block.GetSize() >= bytes) return 1;
  if (bytes > blockLimit || !klFits32(bytes)) return block.Fail(klErrNoMemory);
  return block.Resize(static_cast<u32>(bytes));
}

u8 CLayoutModel::spl_InitAuxKnivesMem(u32 count) {
  if (count == 0) return 1;
  u64 have = xKnivesMem.GetSize() / sizeof(AUXKNIFESTRUCT);
  if (have < count) {
    u64 want = count > 999 ? static_cast<u64>(count) + count / 10 : static_cast<u64>(count) + 100;
    if (!GrowBlock(xKnivesMem, want * sizeof(AUXKNIFESTRUCT))) return FailFrom(xKnivesMem, klErrNoMemory);
    xKnives = reinterpret_cast<AUXKNIFESTRUCT*>(xKnivesMem.GetPtr());
  }
  if (count > xKnifeCount) {
    std::memset(static_cast<void*>(xKnives + xKnifeCount), 0,
                static_cast<size_t>(count - xKnifeCount) * sizeof(AUXKNIFESTRUCT));
  }
  return 1;
}

void CLayoutModel::settings_SetDefaultKnife(KNIFESTRUCT* knife) {
  if (!knife) return;
  knife->knobSize = 100;
  knife->thickness = 3;
  knife->pointCount = 5;
  for (u32 j = 0; j < 5; ++j) {
    knife->pointU[j] = kDefaultU[j];
    knife->pointH[j] = kDefaultH[j];
    knife->pointS[j] = 0.5f;
  }
  UpdateCentre(*knife);
}

void CLayoutModel::EvenLinePositions(f32* P, u32 n) {
  f32 step = 1.0f / static_cast<f32>(n + 1);
  f32 p = step;
  for (u32 k = 0; k < n; ++k) {
    P[k] = p;
    p += step;
  }
}

void CLayoutModel::UpdateCentre(KNIFESTRUCT& knife) {
  knife.centre = CTessarette::KnobPivot(knife.pointU, knife.pointCount);
}

void CLayoutModel::spl_CleanKnives() {
  auto clean = [](KNIFESTRUCT& k) {
    delete k.polyline;
    k.polyline = nullptr;
    k.polylineCount = 0;
  };
  for (u32 i = 0; i < vKnifeCount; ++i) clean(vKnives[i]);
  for (u32 i = 0; i < hKnifeCount; ++i) clean(hKnives[i]);
  for (u32 i = 0; i < xKnifeCount; ++i) clean(xKnives[i]);
}

u8 CLayoutModel::i_AnySelected() const {
  for (u32 i = 0; i < vKnifeCount; ++i)
    if (vKnives[i].selected) return 1;
  for (u32 i = 0; i < hKnifeCount; ++i)
    if (hKnives[i].selected) return 1;
  for (u32 i = 0; i < xKnifeCount; ++i)
    if (xKnives[i].selected) return 1;
  return 0;
}

template <typename F>
void CLayoutModel::i_ForConsidered(u8 selectedOnly, F f) const {
  bool onlySel = selectedOnly && i_AnySelected();
  for (u32 i = 0; i < vKnifeCount; ++i)
    if (!onlySel || vKnives[i].selected) f(vKnives[i], 0);
  for (u32 i = 0; i < hKnifeCount; ++i)
    if (!onlySel || hKnives[i].selected) f(hKnives[i], 0);
  for (u32 i = 0; i < xKnifeCount; ++i)
    if (!onlySel || xKnives[i].selected) f(static_cast<KNIFESTRUCT&>(xKnives[i]), 1);
}

u32 CLayoutModel::i_ConsideredValue(u8 selectedOnly, u32 KNIFESTRUCT::*field, u8& mixed, u32& considered) const {
  mixed = 0;
  u64 sum = 0, n = 0;
  u32 first = 0;
  i_ForConsidered(selectedOnly, [&](KNIFESTRUCT& k, int) {
    if (n == 0) first = k.*field;
    else if (k.*field != first) mixed = 1;
    sum += k.*field;
    ++n;
  });
  considered = static_cast<u32>(n);
  if (n == 0 || !mixed) return first;
  u64 mean = sum / n;
  return static_cast<u32>(mean > 100 ? 100 : mean);
}

u32 CLayoutModel::spl_DoGetKnobSize(u8 selectedOnly, u8& mixed) const {
  u32 n = 0;
  u32 v = i_ConsideredValue(selectedOnly, &KNIFESTRUCT::knobSize, mixed, n);
  return n == 0 ? 100 : v;
}

u32 CLayoutModel::spl_DoGetKnifeThickness(u8 selectedOnly, u8& mixed) const {
  u32 n = 0;
  u32 v = i_ConsideredValue(selectedOnly, &KNIFESTRUCT::thickness, mixed, n);
  if (n == 0) return 1;
  return mixed ? CCutterServices::BringInto1to100(v) : v;
}

void CLayoutModel::spl_DoSetKnobSize(u32 size, u8 selectedOnly) {
  i_ForConsidered(selectedOnly, [&](KNIFESTRUCT& k, int) { k.knobSize = size; });
}

void CLayoutModel::spl_DoSetKnifeTh(u32 thickness, u8 thin, u8 selectedOnly) {
  thinKnives = thin;
  i_ForConsidered(selectedOnly, [&](KNIFESTRUCT& k, int) { k.thickness = thickness; });
}

void CLayoutModel::spl_OnKnifeSelChanged() {
  u8 grid = 0, extra = 0;
  for (u32 i = 0; i < vKnifeCount && !grid; ++i) grid = vKnives[i].selected ? 1 : 0;
  for (u32 i = 0; i < hKnifeCount && !grid; ++i) grid = hKnives[i].selected ? 1 : 0;
  for (u32 i = 0; i < xKnifeCount && !extra; ++i) extra = xKnives[i].selected ? 1 : 0;
  anyKnifeSelected = (grid || extra) ? 1 : 0;
  onlyExtraSelected = (!grid && extra) ? 1 : 0;
  if (!anyKnifeSelected) {
    anchorIndex = kNoAnchor;
    anchorVertical = 0;
    anchorExtra = 0;
  }
  if (cutter) {
    u8 mixed = 0;
    u32 size = spl_DoGetKnobSize(1, mixed);
    cutter->NotifiedByMain_NewKnobSize(static_cast<u16>(size > 0xFFFF ? 0xFFFF : size), mixed);
    u32 th = spl_DoGetKnifeThickness(1, mixed);
    cutter->NotifiedByMain_NewThickness(static_cast<u16>(th > 0xFFFF ? 0xFFFF : th), mixed, thinKnives);
  }
  if (view) view->OnKnifeSelectionChanged();
}

void CLayoutModel::TellCutterLayout(CCutterServices& c) const {
  c.columns = static_cast<u16>(verticalLineCount + 1);
  c.rows = static_cast<u16>(horizontalLineCount + 1);
  u8 mixed = 0;
  const u32 thickness = spl_DoGetKnifeThickness(1, mixed);
  c.NotifiedByMain_NewThickness(static_cast<u16>(thickness), mixed, thinKnives);
  const u32 knob = spl_DoGetKnobSize(1, mixed);
  c.NotifiedByMain_NewKnobSize(static_cast<u16>(knob), mixed);
  c.antiAliasing = antiAliasing;
}

void CLayoutModel::GetConsideredKnifeStates(u8& anyExtra, u8& anyHidden, u8& anyShown) const {
  anyExtra = anyHidden = anyShown = 0;
  i_ForConsidered(1, [&](KNIFESTRUCT& k, int isExtra) {
    if (isExtra) anyExtra = 1;
    if (k.hidden) anyHidden = 1;
    else anyShown = 1;
  });
}

u8 CLayoutModel::i_cmop_IsPossibleKnotsForAuxKnife(u32 a, u32 b, u8 joinedBefore) const {
  if (a == b || a >= knotCount || b >= knotCount) return 0;
  i64 d = static_cast<i64>(a) - static_cast<i64>(b);
  if (d < 0) d = -d;
  if (d == 1 || d == knotColumns) return 0;
  for (u32 i = 0; joinedBefore && i < xKnifeCount; ++i) {
    const AUXKNIFESTRUCT& x = xKnives[i];
    if ((x.knotA == a && x.knotB == b) || (x.knotA == b && x.knotB == a)) return 0;
  }
  return 1;
}

void CLayoutModel::i_cmop_KnotClickToSelect(u32 k) {
  if (selectedKnotCount == 0) {
    selectedKnots[0] = k;
    selectedKnotCount = 1;
  } else if (selectedKnotCount == 1) {
    u32 a = selectedKnots[0];
    if (k == a) {
      selectedKnotCount = 0;
    } else if (i_cmop_IsPossibleKnotsForAuxKnife(a, k)) {
      selectedKnots[1] = k;
      selectedKnotCount = 2;
    } else {
      selectedKnots[0] = k;
    }
  } else {
    u32 a = selectedKnots[0], b = selectedKnots[1];
    if (k == a) {
      selectedKnots[0] = b;
      selectedKnotCount = 1;
    } else if (k == b) {
      selectedKnotCount = 1;
    } else if (i_cmop_IsPossibleKnotsForAuxKnife(b, k)) {
      selectedKnots[0] = b;
      selectedKnots[1] = k;
    } else {
      selectedKnots[0] = k;
      selectedKnotCount = 1;
    }
  }
  if (view) view->OnKnotSelectionChanged();
}

u8 CLayoutModel::CanAddExtraKnife() const {
  return selectedKnotCount == 2 && i_cmop_IsPossibleKnotsForAuxKnife(selectedKnots[0], selectedKnots[1]) ? 1 : 0;
}

u32 CLayoutModel::GetEffectivePoints(const KNIFESTRUCT& k, f64* u, f64* h, f64* s) {
  return CTessarette::EffectiveKnifePoints(k.pointU, k.pointH, k.pointS, k.pointCount, k.flipH, k.flipU, k.knobSize,
                                           u, h, s);
}

u8 CLayoutModel::spl_SplitEvenParts(u16 columns, u16 rows, u8 force, u8 clearExtra) {
  u32 V = LinesFor(columns);
  u32 H = LinesFor(rows);
  if (!force && V == verticalLineCount && H == horizontalLineCount && knotColumns == V + 2 &&
      knotRows == H + 2 && knotCount == (V + 2) * (H + 2))
    return 1;

  // Every block first, so that a failure leaves the layout as it was.
  u32 K = (V + 2) * (H + 2);
  u32 vc = V * (H + 1), hc = (V + 1) * H;
  CKLF_Mem* blocks[5] = {&knotsMem, &knotHandlesMem, &vKnivesMem, &hKnivesMem, &knotMarksMem};
  u64 sizes[5] = {static_cast<u64>(K) * sizeof(KNOT), static_cast<u64>(K) * sizeof(KNOTHANDLE),
                  static_cast<u64>(vc) * sizeof(KNIFESTRUCT), static_cast<u64>(hc) * sizeof(KNIFESTRUCT), K};
  u8 grown = 1;
  for (int i = 0; i < 5 && grown; ++i) grown = GrowBlock(*blocks[i], sizes[i]) ? 1 : 0;
  // Growing may have moved the blocks, also those grown before a failure;
  // the old records came along.
  knots = reinterpret_cast<KNOT*>(knotsMem.GetPtr());
  knotHandles = reinterpret_cast<KNOTHANDLE*>(knotHandlesMem.GetPtr());
  vKnives = reinterpret_cast<KNIFESTRUCT*>(vKnivesMem.GetPtr());
  hKnives = reinterpret_cast<KNIFESTRUCT*>(hKnivesMem.GetPtr());
  if (!grown) return Fail(klErrNoMemory);
  spl_CleanKnives();

  if (V != verticalLineCount || force) EvenLinePositions(verticalLines, V);
  if (H != horizontalLineCount || force) EvenLinePositions(horizontalLines, H);
  verticalLineCount = static_cast<u16>(V);
  horizontalLineCount = static_cast<u16>(H);
  knotColumns = static_cast<u16>(V + 2);
  knotRows = static_cast<u16>(H + 2);
  knotCount = K;
  knotHandleCount = 0;  // refilled by the next redraw

  vKnifeCount = vc;
  vKnivesPerBand = static_cast<u16>(V);
  vBands = static_cast<u16>(H + 1);
  hKnifeCount = hc;
  hKnivesPerLine = static_cast<u16>(V + 1);
  hLines = static_cast<u16>(H);
  auto fresh = [](KNIFESTRUCT* list, u32 n) {
    if (n == 0) return;
    std::memset(static_cast<void*>(list), 0, static_cast<size_t>(n) * sizeof(KNIFESTRUCT));
    for (u32 i = 0; i < n; ++i) {
      list[i].knobSize = 100;
      list[i].thickness = 3;
    }
  };
  fresh(vKnives, vc);
  fresh(hKnives, hc);

  if (clearExtra) xKnifeCount = 0;
  // Knots after the knives: a fresh grid has nothing selected, so every
  // knot is dealt anew.
  spl_AutoFillKnots(1);
  anyKnifeSelected = 0;
  anchorIndex = kNoAnchor;
  anchorVertical = 0;
  anchorExtra = 0;
  selectedKnotCount = 0;
  return 1;
}

void CLayoutModel::spl_AutoFillKnots(u8 all) {
  if (!knots) return;
  f32 A = knotRandomAmount;
  const bool dealt = A > 0.001f;
  auto deal = [&](KNOT& k) {
    if (dealt) {
      k.dx = RandomOffset(A, Rand());
      k.dy = RandomOffset(A, Rand());
    } else {
      k.dx = 0;
      k.dy = 0;
    }
  };
  if (all || !i_AnySelected()) {
    for (u32 i = 0; i < knotCount; ++i) deal(knots[i]);
    return;
  }
  // Ends of selected extra knives marked once, not searched for each knot.
  u8* marks = knotMarksMem.GetPtr();
  std::memset(marks, 0, knotCount);
  for (u32 i = 0; i < xKnifeCount; ++i) {
    if (!xKnives[i].selected) continue;
    if (xKnives[i].knotA < knotCount) marks[xKnives[i].knotA] = 1;
    if (xKnives[i].knotB < knotCount) marks[xKnives[i].knotB] = 1;
  }
  u32 V = verticalLineCount, H = horizontalLineCount;
  for (u32 id = 0; id < knotCount; ++id) {
    u32 c = id % knotColumns, r = id / knotColumns;
    bool touched = marks[id] != 0;
    if (!touched && c >= 1 && c + 1 < knotColumns) {
      u32 line = c - 1;
      if (r >= 1 && vKnives[line + (r - 1) * V].selected) touched = true;
      if (r <= H && vKnives[line + r * V].selected) touched = true;
    }
    if (!touched && r >= 1 && r + 1 < knotRows) {
      u32 line = r - 1;
      if (c >= 1 && hKnives[(c - 1) + line * (V + 1)].selected) touched = true;
      if (c <= V && hKnives[c + line * (V + 1)].selected) touched = true;
    }
    if (touched) deal(knots[id]);
  }
}

u32 CLayoutModel::icGetIdealColumnsForRows(u32 rows) const {
  u64 r = CCutterServices::BringInto1to100(rows);
  if (imageHeight == 0) return 1;
  u64 c = r * imageWidth / imageHeight;
  return static_cast<u32>(c < 1 ? 1 : (c > 100 ? 100 : c));
}

u32 CLayoutModel::icGetIdealRowsForColumns(u32 columns) const {
  u64 c = CCutterServices::BringInto1to100(columns);
  if (imageWidth == 0) return 1;
  u64 r0 = c * imageHeight / imageWidth;
  u32 r = static_cast<u32>(r0 < 1 ? 1 : (r0 > 100 ? 100 : r0));
  const u32 tries[3] = {r, r + 1, r - 1};
  for (u32 t : tries) {
    if (t < 1 || t > 100) continue;
    if (icGetIdealColumnsForRows(t) == c) return t;
  }
  return r;
}

u8 CLayoutModel::settings_LoadDefaults() {
  u32 columns, rows;
  if (imageWidth > imageHeight) {
    rows = 2;
    columns = icGetIdealColumnsForRows(2);
  } else {
    columns = 2;
    rows = icGetIdealRowsForColumns(2);
  }
  if (!spl_SplitEvenParts(static_cast<u16>(columns), static_cast<u16>(rows), 1, 1)) return 0;
  xKnifeCount = 0;
  for (u32 i = 0; i < vKnifeCount; ++i) settings_SetDefaultKnife(&vKnives[i]);
  for (u32 i = 0; i < hKnifeCount; ++i) settings_SetDefaultKnife(&hKnives[i]);
  spl_OnKnifeSelChanged();
  return 1;
}

CLayoutModel::KNIFESTRUCT* CLayoutModel::NthKnife(u32 i, u8* extra) {
  if (extra) *extra = 0;
  if (i < vKnifeCount) return &vKnives[i];
  i -= vKnifeCount;
  if (i < hKnifeCount) return &hKnives[i];
  i -= hKnifeCount;
  if (i >= xKnifeCount) return nullptr;
  if (extra) *extra = 1;
  return &xKnives[i];
}

u32 CLayoutModel::NthKnifeId(u32 i) const {
  if (i < vKnifeCount) return i;
  if (i < vKnifeCount + hKnifeCount) return kHorizontalIdBase + (i - vKnifeCount);
  return kExtraIdBase + (i - vKnifeCount - hKnifeCount);
}

CLayoutModel::KNIFESTRUCT* CLayoutModel::GetKnife(u32 id) {
  if (id < kHorizontalIdBase) return id < vKnifeCount ? &vKnives[id] : nullptr;
  if (id < kExtraIdBase) return id - kHorizontalIdBase < hKnifeCount ? &hKnives[id - kHorizontalIdBase] : nullptr;
  return id - kExtraIdBase < xKnifeCount ? &xKnives[id - kExtraIdBase] : nullptr;
}
