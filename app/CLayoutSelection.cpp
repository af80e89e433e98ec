#include "CLayoutSelection.h"

#include <cstring>

#include "CKLF_Array.h"
#include "CLayoutKnifeEdit.h"

namespace {

typedef CLayoutModel::KNIFESTRUCT Knife;

const u32 kUsed = 0x80000000u;

// A grid knife's cell on the doubled grid: vertical (line l, band b) is
// (2l + 1, 2b), horizontal (column c, line j) is (2c, 2j + 1).
bool Cell(const CLayoutModel& m, u32 index, u8 vertical, i64& x, i64& y) {
  if (vertical) {
    if (index >= m.vKnifeCount || m.vKnivesPerBand == 0) return false;
    x = 2 * static_cast<i64>(index % m.vKnivesPerBand) + 1;
    y = 2 * static_cast<i64>(index / m.vKnivesPerBand);
    return true;
  }
  if (index >= m.hKnifeCount || m.hKnivesPerLine == 0) return false;
  x = 2 * static_cast<i64>(index % m.hKnivesPerLine);
  y = 2 * static_cast<i64>(index / m.hKnivesPerLine) + 1;
  return true;
}

// The rectangle of cells two grid knives span, both corners included.
bool Block(const CLayoutModel& m, u32 anchorIndex, u8 anchorVertical, u32 index, u8 vertical, i64& x0, i64& y0,
           i64& x1, i64& y1) {
  i64 ax, ay, bx, by;
  if (!Cell(m, anchorIndex, anchorVertical, ax, ay) || !Cell(m, index, vertical, bx, by)) return false;
  x0 = ax < bx ? ax : bx, x1 = ax < bx ? bx : ax, y0 = ay < by ? ay : by, y1 = ay < by ? by : ay;
  return true;
}

}  // namespace

template <typename F>
void CLayoutSelection::i_ForKnives(u8 consideredOnly, u8 gridOnly, F f) {
  const bool onlySelected = consideredOnly && m.AnyKnifeSelected();
  for (u32 i = 0; i < m.vKnifeCount; ++i)
    if (!onlySelected || m.vKnives[i].selected) f(m.vKnives[i], 0);
  for (u32 i = 0; i < m.hKnifeCount; ++i)
    if (!onlySelected || m.hKnives[i].selected) f(m.hKnives[i], 1);
  if (gridOnly) return;
  for (u32 i = 0; i < m.xKnifeCount; ++i)
    if (!onlySelected || m.xKnives[i].selected) f(static_cast<Knife&>(m.xKnives[i]), 2);
}

void CLayoutSelection::i_Done(u8 redraw, u8 selectionChanged) {
  if (selectionChanged) m.spl_OnKnifeSelChanged();
  if (redraw && m.view) m.view->RedrawSplitting();
}

void CLayoutSelection::op_SetSelToKnivesBlock(u8 value, u32 anchorIndex, u8 anchorVertical, u32 index, u8 vertical) {
  i64 x0, y0, x1, y1;
  if (Block(m, anchorIndex, anchorVertical, index, vertical, x0, y0, x1, y1)) {
    for (u8 list = 0; list < 2; ++list) {
      const u32 n = list == 0 ? m.vKnifeCount : m.hKnifeCount;
      for (u32 i = 0; i < n; ++i) {
        i64 x = 0, y = 0;
        if (!Cell(m, i, list == 0, x, y)) continue;
        if (x >= x0 && x <= x1 && y >= y0 && y <= y1) (list == 0 ? m.vKnives : m.hKnives)[i].selected = value;
      }
    }
  }
  m.spl_OnKnifeSelChanged();
}

u8 CLayoutSelection::i_StartBlocks() {
  // Room for every cell and a spare column and row for the corners past
  // the last (the last knife of a list has the lowest cell).
  const u64 columns = 2ull * (m.vKnivesPerBand > m.hKnivesPerLine ? m.vKnivesPerBand : m.hKnivesPerLine) + 2;
  u64 rows = 0;
  i64 x = 0, y = 0;
  if (m.vKnifeCount && Cell(m, m.vKnifeCount - 1, 1, x, y)) rows = static_cast<u64>(y) + 2;
  if (m.hKnifeCount && Cell(m, m.hKnifeCount - 1, 0, x, y) && static_cast<u64>(y) + 2 > rows)
    rows = static_cast<u64>(y) + 2;
  blockColumns = static_cast<u32>(columns);
  blockRows = static_cast<u32>(rows);
  if (rows == 0) return 1;
  if (!m.GrowBlock(work, 4 * columns * rows)) return 0;
  std::memset(work.GetPtr(), 0, static_cast<size_t>(4 * columns * rows));
  return 1;
}

void CLayoutSelection::i_AddBlock(u32 anchorIndex, u8 anchorVertical, u32 index, u8 vertical) {
  i64 x0, y0, x1, y1;
  if (!Block(m, anchorIndex, anchorVertical, index, vertical, x0, y0, x1, y1)) return;
  // Corners of the rectangle on the doubled grid, summed up by i_FillBlocks.
  i32* d = reinterpret_cast<i32*>(work.GetPtr());
  const i64 w = blockColumns;
  d[y0 * w + x0] += 1;
  d[y0 * w + x1 + 1] -= 1;
  d[(y1 + 1) * w + x0] -= 1;
  d[(y1 + 1) * w + x1 + 1] += 1;
}

void CLayoutSelection::i_FillBlocks(u8 value) {
  i32* d = reinterpret_cast<i32*>(work.GetPtr());
  const u32 w = blockColumns;
  for (u32 y = 0; y < blockRows; ++y)
    for (u32 x = 1; x < w; ++x) d[y * w + x] += d[y * w + x - 1];
  for (u32 y = 1; y < blockRows; ++y)
    for (u32 x = 0; x < w; ++x) d[y * w + x] += d[(y - 1) * w + x];
  for (u8 list = 0; list < 2; ++list) {
    const u32 n = list == 0 ? m.vKnifeCount : m.hKnifeCount;
    for (u32 i = 0; i < n; ++i) {
      i64 x = 0, y = 0;
      if (Cell(m, i, list == 0, x, y) && d[y * w + x] > 0) (list == 0 ? m.vKnives : m.hKnives)[i].selected = value;
    }
  }
}

void CLayoutSelection::i_Click(u8 cmd, u8 shift, u8 option, u32 id, u8 keepCutter, u8 value) {
  Knife* k = m.GetKnife(id);
  if (!k) return;
  const u8 extra = id >= CLayoutModel::kExtraIdBase, vertical = id < CLayoutModel::kHorizontalIdBase;
  const u32 index = extra ? id - CLayoutModel::kExtraIdBase : (vertical ? id : id - CLayoutModel::kHorizontalIdBase);
  auto anchor = [&]() {
    m.anchorIndex = index;
    m.anchorVertical = vertical;
    m.anchorExtra = extra;
  };
  if (!cmd && !shift && !option) {
    k->selected = 1;
    anchor();
  } else if (shift && !cmd) {
    if (extra) return;
    // Blocks lie between grid knives: an extra anchor counts as none.
    if (m.anchorIndex != CLayoutModel::kNoAnchor && !m.anchorExtra) {
      i_AddBlock(m.anchorIndex, m.anchorVertical, index, vertical);
    } else {
      k->selected = 1;
    }
    anchor();
  } else if (cmd && !shift && !option) {
    anchor();
    k->selected = keepCutter ? value : !k->selected;
  } else if (cmd && shift) {
    if (option) k->flipU = !k->flipU;
    else k->flipH = !k->flipH;
  }
}

u8 CLayoutSelection::op_SetSelToKnives(u8 cmd, u8 shift, u8 option, CKLF_DWordArray* ids, u8 keepCutter, u8 value,
                                       u8 redraw) {
  if (!ids || ids->GetSize() == 0) return 1;
  // Shift's blocks all set one value, so their union is set once, after
  // the knife a block-less first click selects.
  const u8 blocks = shift && !cmd;
  if (blocks && !i_StartBlocks()) {
    m.AlertNoMemory();
    return 0;
  }
  if (!cmd && !shift && !option) i_ForKnives(0, 0, [](Knife& k, int) { k.selected = 0; });
  if (!keepCutter) edit.op_SendKnifeToCutter(m.GetKnife((*ids)[0]));
  for (u32 i = 0; i < ids->GetSize(); ++i) i_Click(cmd, shift, option, (*ids)[i], keepCutter, value);
  if (blocks) i_FillBlocks(option ? 0 : 1);
  i_Done(redraw);
  return 1;
}

void CLayoutSelection::op_SetSelToAllKnives(u8 value, u8 redraw, u8 vertical, u8 horizontal, u8 extra) {
  const u8 lists[3] = {vertical, horizontal, extra};
  i_ForKnives(0, 0, [&](Knife& k, int list) {
    if (lists[list]) k.selected = value;
  });
  i_Done(redraw);
}

void CLayoutSelection::op_InvertSelToAllKnives(u8 redraw) {
  i_ForKnives(0, 0, [](Knife& k, int) { k.selected = !k.selected; });
  i_Done(redraw);
}

void CLayoutSelection::op_SetSelToHiddenOrShownKnives(u8 hidden, u8 redraw) {
  i_ForKnives(0, 0, [&](Knife& k, int) { k.selected = (k.hidden != 0) == (hidden != 0); });
  i_Done(redraw);
}

void CLayoutSelection::op_AddRemoveRowColumnToSelection(u32 line, u8 horizontal, u8 value, u8 redraw) {
  if (horizontal ? line >= m.horizontalLineCount : line >= m.verticalLineCount) return;
  if (horizontal) {
    for (u32 c = 0; c < m.hKnivesPerLine; ++c) m.hKnives[c + line * m.hKnivesPerLine].selected = value;
  } else {
    for (u32 b = 0; b < m.vBands; ++b) m.vKnives[line + b * m.vKnivesPerBand].selected = value;
  }
  i_Done(redraw);
}

u8 CLayoutSelection::op_SelRandom(u8 select, u8 redraw) {
  const u32 total = m.TotalKnifeCount();
  if (!m.GrowBlock(work, 4ull * total)) {
    m.AlertNoMemory();
    return 0;
  }
  u32* cand = reinterpret_cast<u32*>(work.GetPtr());
  u32 count = 0;
  for (u32 i = 0; i < total; ++i)
    if ((m.NthKnife(i)->selected != 0) != (select != 0)) cand[count++] = i;
  if (count == 0) return 0;
  u32 picks = total / 20 < 1 ? 1 : total / 20;
  if (picks > count) picks = count;
  for (u32 p = 0; p < picks; ++p) {
    const u32 r1 = m.Rand(), r2 = m.Rand();
    u32 i = (r1 * r2) % count;
    u32 tried = 0;
    while ((cand[i] & kUsed) && tried < count) i = (i + 1) % count, ++tried;
    if (tried == count) break;
    m.NthKnife(cand[i])->selected = select;
    cand[i] |= kUsed;
  }
  i_Done(redraw);
  return 1;
}

u8 CLayoutSelection::op_LoadSelection() {
  CLayoutView::CHANNELMAP map = {};
  if (!m.view || !m.view->AskChannelMap(m.anyKnifeSelected, map)) return 0;
  return SelectFromChannel(map);
}

u8 CLayoutSelection::i_KnotIn(const CLayoutView::CHANNELMAP& c, u32 id) const {
  u8 v = 0;
  if (c.map && c.width > 0 && c.height > 0) {
    // Border knots lie on the far edge: the sample is taken inside the map.
    const kltFPOS p = m.i_spl_ConvertKnot(id, c.width, c.height, kltFPOS{0, 0});
    const f64 x = p.x < 0 ? 0 : (p.x > c.width - 1 ? c.width - 1 : p.x);
    const f64 y = p.y < 0 ? 0 : (p.y > c.height - 1 ? c.height - 1 : p.y);
    v = c.map[static_cast<u64>(y) * c.stride + static_cast<u64>(x)];
  }
  if (c.invert) v = static_cast<u8>(255 - v);
  return v < 128;
}

u8 CLayoutSelection::SelectFromChannel(const CLayoutView::CHANNELMAP& c) {
  if (!m.GrowBlock(work, m.knotCount)) {
    m.AlertNoMemory();
    return 0;
  }
  u8* in = work.GetPtr();
  for (u32 id = 0; id < m.knotCount; ++id) in[id] = i_KnotIn(c, id);
  if (c.mode == 0) i_ForKnives(0, 0, [](Knife& k, int) { k.selected = 0; });
  // Intersect drops the knives at knots outside; the others act on knives
  // at knots inside.
  const u8 wanted = c.mode == 3 ? 0 : 1, value = c.mode <= 1 ? 1 : 0;
  const u32 n = m.knotColumns, V = m.verticalLineCount;
  auto touch = [&](Knife& k, u32 a, u32 b) {
    if (in[a] == wanted || in[b] == wanted) k.selected = value;
  };
  for (u32 i = 0; i < m.vKnifeCount; ++i) {
    const u32 l = i % V, b = i / V;
    touch(m.vKnives[i], l + 1 + b * n, l + 1 + (b + 1) * n);
  }
  for (u32 i = 0; i < m.hKnifeCount; ++i) {
    const u32 col = i % (V + 1), j = i / (V + 1);
    touch(m.hKnives[i], col + (j + 1) * n, col + 1 + (j + 1) * n);
  }
  for (u32 i = 0; i < m.xKnifeCount; ++i)
    if (m.xKnives[i].knotA < m.knotCount && m.xKnives[i].knotB < m.knotCount)
      touch(m.xKnives[i], m.xKnives[i].knotA, m.xKnives[i].knotB);
  i_Done(1);
  return 1;
}

void CLayoutSelection::op_ShowHideSelectedKnives(u8 show, u8 redraw) {
  i_ForKnives(1, 0, [&](Knife& k, int) { k.hidden = !show; });
  i_Done(redraw, redraw);
}

void CLayoutSelection::op_ReverseShownHidden(u8 redraw) {
  i_ForKnives(1, 0, [](Knife& k, int) { k.hidden = !k.hidden; });
  i_Done(redraw, redraw);
}

void CLayoutSelection::op_ShowHideListOfKnives(u8 show, CKLF_DWordArray* ids, u8 redraw) {
  if (!ids || ids->GetSize() == 0) return;
  for (u32 i = 0; i < ids->GetSize(); ++i) {
    Knife* k = m.GetKnife((*ids)[i]);
    if (k) k->hidden = !show;
  }
  i_Done(redraw, 0);
}

void CLayoutSelection::op_Flip(u8 flipH, u8 flipU, u8 selectedOnly, u8 redraw) {
  i_ForKnives(selectedOnly, 0, [&](Knife& k, int) {
    if (flipH) k.flipH = !k.flipH;
    if (flipU) k.flipU = !k.flipU;
  });
  i_Done(redraw, 0);
}

void CLayoutSelection::op_RandFlip(u8 flipH, u8 flipU, u8 selectedOnly, u8 redraw) {
  i_ForKnives(selectedOnly, 0, [&](Knife& k, int) {
    if (flipH && m.Rand() < 0x3FFFFFFFu) k.flipH = !k.flipH;
    if (flipU && m.Rand() < 0x3FFFFFFFu) k.flipU = !k.flipU;
  });
  i_Done(redraw, 0);
}

void CLayoutSelection::op_NonInterleaved(u8 flipH, u8 flipU, u8 selectedOnly, u8 redraw) {
  i_ForKnives(selectedOnly, 1, [&](Knife& k, int) {
    if (flipH) k.flipH = 0;
    if (flipU) k.flipU = 0;
  });
  i_Done(redraw, 0);
}

void CLayoutSelection::op_Interleaved(u8 flipH, u8 flipU, u8 selectedOnly, u8 redraw) {
  int list = -1;
  u8 next = 0;
  i_ForKnives(selectedOnly, 1, [&](Knife& k, int l) {
    if (l != list) list = l, next = 0;
    if (flipH) k.flipH = next;
    if (flipU) k.flipU = next;
    next ^= 1;
  });
  i_Done(redraw, 0);
}
