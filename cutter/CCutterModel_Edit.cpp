// Node editing of the Cutter model: adding, deleting, selecting, aligning,
// distributing, flipping and the smoothness of the selected nodes.
#include <cmath>
#include <cstring>
#include <utility>

#include "CCutterModel.h"
#include "KLF_EditLineValue.h"
#include "KLF_ShapeValues.h"

namespace {

u32 SmoothnessOfText(const char* text) { return klEditLineValueIn(text, 0, 100); }

}  // namespace

// Node indices ordered by U or by H.
class CCutterModel::CNodesSorterIDS : public CKLF_DWordArray {
 public:
  CNodesSorterIDS(const CCutterModel* window, u8 byU) : m_window(window), m_byU(byU) {}

  f64 Value(u32 i) const { return m_byU ? m_window->nodes[i].U : m_window->nodes[i].H; }

  i32 CompareElements(const void* a, const void* b) override {
    u32 ia, ib;
    std::memcpy(&ia, a, 4);
    std::memcpy(&ib, b, 4);
    if (!m_window || ia >= m_window->nodeCount || ib >= m_window->nodeCount) return 0;
    f64 va = Value(ia), vb = Value(ib);
    return va < vb ? -1 : (va > vb ? 1 : 0);
  }

 private:
  const CCutterModel* m_window;
  u8 m_byU;
};

u32 CCutterModel::GetSelectedNodesCount() const {
  u32 n = 0;
  for (u32 i = 0; i < nodeCount; ++i) n += nodeSelected[i] ? 1 : 0;
  return n;
}

u8 CCutterModel::opAddNode(kltFPOS position, u8 keepSelection, u32 index) {
  f64 h = 0, u = 0;
  if (nodeCount >= kMaxNodes || !m_math.Coors2HU(m_p0, m_p1, position, h, u)) {
    m_window->Beep();
    return 0;
  }
  if (index > nodeCount) index = nodeCount;
  for (u32 i = nodeCount; i > index; --i) {
    nodes[i] = nodes[i - 1];
    nodeS[i] = nodeS[i - 1];
    nodeSelected[i] = nodeSelected[i - 1];
  }
  ++nodeCount;
  if (!keepSelection) std::memset(nodeSelected, 0, sizeof(nodeSelected));
  nodes[index].H = klClampShapeValue(h, -m_hMax, m_hMax);
  nodes[index].U = klClampShapeValue(u, 0, 1);
  nodeS[index] = newNodeSmoothness;
  nodeSelected[index] = 1;
  DoRedrawSpline();
  OnNewOperation(1);
  OnChangeNodeSelection();
  return 1;
}

void CCutterModel::opDelSelectedNodes() {
  u32 kept = 0;
  for (u32 i = 0; i < nodeCount; ++i) {
    if (nodeSelected[i]) continue;
    nodes[kept] = nodes[i];
    nodeS[kept] = nodeS[i];
    nodeSelected[kept++] = 0;
  }
  nodeCount = static_cast<u8>(kept);
  DoRedrawSpline();
  OnNewOperation(1);
  OnChangeNodeSelection();
  NotifyMain_ShapeChanged(0);
}

// Every node selected (1), none (0) or flipped (2); the nodes are shown.
void CCutterModel::i_SelectNodes(u8 how) {
  for (u32 i = 0; i < nodeCount; ++i) nodeSelected[i] = how == 2 ? !nodeSelected[i] : how;
  nodesShown = 1;
  DoRedrawExtras(0);
  OnChangeNodeSelection();
  OnNewOperation(1);
}

void CCutterModel::opSelectAllNodes() { i_SelectNodes(1); }
void CCutterModel::opUnSelectAllNodes() { i_SelectNodes(0); }
void CCutterModel::opInvertSelection() { i_SelectNodes(2); }

void CCutterModel::opAlign(u8 kind) {
  f64 minU = 1e6, maxU = -1e6, minH = 1e6, maxH = -1e6;
  for (u32 i = 0; i < nodeCount; ++i) {
    if (!nodeSelected[i]) continue;
    minU = std::fmin(minU, nodes[i].U);
    maxU = std::fmax(maxU, nodes[i].U);
    minH = std::fmin(minH, nodes[i].H);
    maxH = std::fmax(maxH, nodes[i].H);
  }
  for (u32 i = 0; i < nodeCount; ++i) {
    if (!nodeSelected[i]) continue;
    switch (kind) {
      case 0: nodes[i].U = minU; break;
      case 1: nodes[i].U = (minU + maxU) / 2; break;
      case 2: nodes[i].U = maxU; break;
      case 3: nodes[i].H = maxH; break;
      case 4: nodes[i].H = (minH + maxH) / 2; break;
      case 5: nodes[i].H = minH; break;
      default: return;
    }
  }
  DoRedrawSpline();
  OnNewOperation(1);
  NotifyMain_ShapeChanged(0);
}

void CCutterModel::opDistribute(u8 kind) {
  CNodesSorterIDS ids(this, kind == 0);
  for (u32 i = 0; i < nodeCount; ++i)
    if (nodeSelected[i] && ids.Add(i) < 0) return m_window->Alert("Memory allocation problem...", "Error!");
  const u32 n = ids.GetSize();
  if (n <= 2) return;
  ids.SortElements(1);
  const f64 first = ids.Value(ids[0u]);
  const f64 step = (ids.Value(ids[n - 1]) - first) / (n - 1);
  f64 v = first;
  for (u32 k = 1; k + 1 < n; ++k) {
    v += step;
    (kind == 0 ? nodes[ids[k]].U : nodes[ids[k]].H) = v;
  }
  DoRedrawSpline();
  OnNewOperation(1);
  NotifyMain_ShapeChanged(0);
}

void CCutterModel::opFlipH() {
  for (u32 i = 0; i < nodeCount; ++i) nodes[i].H = -nodes[i].H;
  DoRedrawSpline();
  OnNewOperation(1);
  if (cloneMode != 0) m_main->OnCutterUpdateShape_FlipH(mutS, mutH, mutU);
}

void CCutterModel::opFlipU() {
  for (u32 i = 0; i < nodeCount; ++i) nodes[i].U = 1 - nodes[i].U;
  for (u32 i = 0, j = nodeCount ? nodeCount - 1u : 0; i < j; ++i, --j) {
    std::swap(nodes[i], nodes[j]);
    std::swap(nodeS[i], nodeS[j]);
    std::swap(nodeSelected[i], nodeSelected[j]);
  }
  DoRedrawSpline();
  OnNewOperation(1);
  if (cloneMode != 0) m_main->OnCutterUpdateShape_FlipU(mutS, mutH, mutU);
}

// ---- Smoothness.

void CCutterModel::OnChangeNodeSelection() {
  selectionSettled = 0;
  u32 count = 0;
  f64 sum = 0, first = 0;
  u8 equal = 1;
  for (u32 i = 0; i < nodeCount; ++i) {
    if (!nodeSelected[i]) continue;
    if (count == 0) first = nodeS[i];
    equal &= nodeS[i] == first ? 1 : 0;
    sum += nodeS[i];
    ++count;
  }
  if (count == 0) {
    smoothEnabled = 0;
    recloneEnabled = cloneMode != 0 && nodeCount == 0;
  } else {
    recloneEnabled = cloneMode != 0;
    smoothEnabled = 1;
    // 100 x sum / count, in that order: the mean first can fall just
    // below a whole percent that the sum reaches.
    const f64 percent = std::trunc(equal ? 100 * first : 100 * sum / count);
    smoothValue = percent >= 100 ? 100u : (percent <= 0 ? 0u : static_cast<u32>(percent));
    smoothMixed = equal ? 0 : 1;
  }
  selectionSettled = 1;
  i_Controls();
}

void CCutterModel::opSetSmoothness(f64 s, u8 commit) {
  newNodeSmoothness = s;
  u8 changed = 0;
  for (u32 i = 0; i < nodeCount; ++i) {
    if (!nodeSelected[i] || nodeS[i] == s) continue;
    nodeS[i] = s;
    changed = 1;
  }
  if (changed) DoRedrawSpline();
  if (!commit) return;
  OnNewOperation(1);
  NotifyMain_ShapeChanged(1);
}

void CCutterModel::OnSldrSmoothness(u32 value, u8 dragging) {
  smoothValue = value > 100 ? 100 : value;
  smoothMixed = 0;
  if (selectionSettled) opSetSmoothness(smoothValue / 100.0, dragging ? 0 : 1);
}

void CCutterModel::OnEditSmoothness(const char* text) {
  const u32 v = SmoothnessOfText(text);
  smoothValue = v;
  smoothMixed = 0;
  if (selectionSettled) opSetSmoothness(v / 100.0, 0);
}

void CCutterModel::OnEditSmoothnessLF(const char* text) {
  // " ???" left as it was: the nodes keep their own values.
  if (smoothMixed) return;
  smoothValue = SmoothnessOfText(text);
  smoothMixed = 0;
  opSetSmoothness(smoothValue / 100.0, 1);
  i_Controls();
}

void CCutterModel::DoHideNodes() {
  if (!extrasVisible) {
    nodesShown = 1;
    extrasVisible = 1;
  } else {
    nodesShown = nodesShown ? 0 : 1;
  }
  DoRedrawExtras(0);
}

void CCutterModel::DoHideExtras() {
  if (nodesShown) {
    extrasVisible = extrasVisible ? 0 : 1;
  } else {
    nodesShown = 1;
    extrasVisible = 1;
  }
  DoRedrawExtras(0);
}
