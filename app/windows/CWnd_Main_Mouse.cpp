// The main window's mouse and keys: presses on the split rulers' handles
// and bodies, on knot handles and knives in Layout mode, on pieces in
// Puzzle mode; the moves that drag and the releases that end; Escape,
// Backspace, Delete, '+' and '-'; the zone tips and the cursors.
#include "CApp.h"
#include "CKLF_CtrlScrollBar.h"
#include "CPluginMain.h"
#include "CWnd_Main.h"

namespace {

const u8 C = klModCommand, S = klModShift, O = klModOption;

// A drag selection starts once the mouse is this far from the press.
const i32 kDragThreshold = 6;

enum : i32 {
  kCursorPanBoth = 128,  // 129 horizontal only, 130 vertical only, 131 none
  kCursorZoomOut = 132,
  kCursorZoomIn = 133,
  kCursorNavigator = 134,
  kCursorNoPiece = 135,
  kCursorPlain = 136,
  kCursorHiddenPiece = 137,
  kCursorColumnLine = 138,
  kCursorRowLine = 139,
  kCursorInsertLine = 140,
  kCursorDeleteLine = 141,
  kCursorSeeThroughPiece = 142
};

const char* const kZoneNames[4] = {"Zone_Status", "Zone_Preview", "Zone_HSplitter", "Zone_VSplitter"};
enum : i32 { kZoneForgotten = -2, kZoneNone = -1, kZonePreview = 1 };

}  // namespace

i32 CWnd_Main::i_HandleAt(u8 left, i16 x, i16 y) const {
  if (!m_puzzle.layoutMode) return -1;
  const kltRECT_s r = m_splitRulerRect[left];
  const i32 along = left ? y - r.top : x - r.left, across = left ? x - r.left : y - r.top;
  if (across < -2 || across > 4) return -1;
  const CLayoutDrawing& d = m_editor.drawing;
  for (u32 i = 0; i < d.markerCount[left]; ++i)
    if (along >= d.markers[left][i].position - 2 && along <= d.markers[left][i].position + 3) return static_cast<i32>(i);
  return -1;
}

// ---------------------------------------------------------------------------
// Presses

u8 CWnd_Main::OnLMouseDown(i16 x, i16 y, u8 mods) {
  if (!m_created) return 0;
  if (!m_puzzle.layoutMode) {
    i_PuzzlePress(x, y, mods);
    return 0;
  }
  const u8 keys = static_cast<u8>(mods | GetKeysStatus());
  for (u8 left = 0; left < 2; ++left) {
    const i32 handle = i_HandleAt(left, x, y);
    if (handle >= 0) return i_RulerPress(left, static_cast<u32>(handle), x, y, keys);
    if (i_InRect(m_splitRulerRect[left], x, y) && (keys & C) && (keys & S)) {
      InsertLineAt(left ? 0 : 1, x, y);
      return 1;
    }
  }
  // A press with the space bar pans the preview, nothing else.
  if (!i_InPreview(x, y) || (keys & klModSpace) || m_preview.IsInPanningMode()) return 0;
  if (m_editor.model.showKnots && i_KnotPress(x, y, keys)) return 1;
  return i_KnifePress(x, y, keys);
}

u8 CWnd_Main::i_RulerPress(u8 left, u32 handle, i16 x, i16 y, u8 keys) {
  const u16 line = m_editor.drawing.markerLines[left][handle];
  if ((keys & C) && (keys & O)) {
    DeleteLine(left ? 0 : 1, line);
  } else if (keys & (C | S | O)) {
    // Command or Shift adds the line's knives, Option alone removes them.
    const u8 add = (keys & (C | S)) ? 1 : 0;
    i_PreUndo(kUndoKnives);
    m_editor.selection.op_AddRemoveRowColumnToSelection(line, left, add, 1);
    i_PostUndo(kUndoKnives);
  } else {
    i_StartLineDrag(left, handle, x, y);
  }
  return 1;
}

u8 CWnd_Main::i_KnotPress(i16 x, i16 y, u8 keys) {
  CLayoutModel& m = m_editor.model;
  const i32 lx = x - m_previewRect.left, ly = y - m_previewRect.top;
  for (u32 i = 0; i < m.knotHandleCount; ++i) {
    const CLayoutModel::KNOTHANDLE h = m.knotHandles[i];
    if (lx < h.left || lx > h.right || ly < h.top || ly > h.bottom) continue;
    if (keys & C) {
      i_PreUndo(kUndoKnots);
      i_ResetKnot(h.knotId);
      i_PostUndo(kUndoKnots);
    } else if ((keys & S) || h.corner) {
      m.i_cmop_KnotClickToSelect(h.knotId);
      RedrawSplitting();
    } else {
      i_StartKnotDrag(h.knotId, x, y, {h.left, h.top, h.right, h.bottom});
    }
    return 1;
  }
  return 0;
}

u8 CWnd_Main::i_KnifePress(i16 x, i16 y, u8 keys) {
  m_editor.drawing.spl_GetKnifeByXY(x - m_previewRect.left, y - m_previewRect.top, &m_hits);
  if (m_hits.GetSize() == 0) {
    if (keys & (C | S | O)) return 1;
    i_PreUndo(kUndoKnives);
    m_editor.selection.op_SetSelToAllKnives(0, 1, 1, 1, 1);
    m_editor.model.anchorIndex = CLayoutModel::kNoAnchor;
    i_PostUndo(kUndoKnives);
    return 1;
  }
  i_PreUndo(kUndoKnives);
  // A click that found no memory changed nothing and has said so.
  if (m_editor.selection.op_SetSelToKnives(keys & C ? 1 : 0, keys & S ? 1 : 0, keys & O ? 1 : 0, &m_hits, 0, 0, 1))
    i_PostUndo(kUndoKnives);
  return 1;
}

void CWnd_Main::i_PuzzlePress(i16 x, i16 y, u8 mods) {
  const u8 keys = static_cast<u8>(mods | GetKeysStatus());
  if (m_puzzle.effectWindowOpen || !i_InPreview(x, y) || (keys & klModSpace)) return;
  m_drag.piecePressed = 1;
  m_drag.piecePressPos = {x, y};
  const kltPOS image = m_preview.GetImageCoorsByPreviewCoors({x - m_previewRect.left, y - m_previewRect.top});
  if (image.x != m_lastMouseImagePos.x || image.y != m_lastMouseImagePos.y) {
    m_lastMouseImagePos = image;
    m_pieceUnderMouse = m_puzzle.GetPieceByXY(image);
  }
  if (m_preview.IsInPanningMode()) return;
  m_puzzle.OnPieceClick(image, static_cast<u8>(keys & (C | S | O)));
}

// ---------------------------------------------------------------------------
// Moves and releases

u8 CWnd_Main::OnMouseMove(i16 x, i16 y, u8 mods) {
  if (!m_created) return 0;
  i_ZoneTip(x, y);
  if (m_drag.lineDrag) {
    i_MoveLine(x, y);
    return 1;
  }
  if (!i_InPreview(x, y)) UpdateInfoPanel(klNullPOS, 1);
  if (m_drag.knotDrag) {
    i_MoveKnot(x, y);
    return 1;
  }
  if (m_puzzle.layoutMode || m_preview.IsInPanningMode()) return 0;
  if (m_drag.dragSelecting) {
    i_pmop_RedrawDragSelection(x, y);
    OnSetCursor(x, y);
    return 0;
  }
  if (!m_drag.piecePressed) return 0;
  const i32 dx = x - m_drag.piecePressPos.x, dy = y - m_drag.piecePressPos.y;
  if (dx < kDragThreshold && dx > -kDragThreshold && dy < kDragThreshold && dy > -kDragThreshold) return 0;
  const u8 keys = static_cast<u8>(mods | GetKeysStatus());
  // Command with Shift or Option draws a lasso; Command alone starts nothing.
  if (!(keys & C)) i_StartDragSelection(1, x, y);
  else if (keys & (S | O)) i_StartDragSelection(0, x, y);
  return 0;
}

u8 CWnd_Main::OnLMouseUp(i16 x, i16 y, u8) {
  if (m_drag.lineDrag) {
    i_EndLineDrag();
    return 1;
  }
  if (m_drag.knotDrag) {
    i_EndKnotDrag();
    return 1;
  }
  m_drag.piecePressed = 0;
  if (m_drag.dragSelecting) i_EndDragSelection(x, y, GetKeysStatus() & O);
  return 0;
}

// ---------------------------------------------------------------------------
// Keys

u8 CWnd_Main::OnKeyDown(u8 key, u8) {
  if (m_puzzle.effectWindowOpen || !m_created) return 0;
  switch (key) {
    case klKeyEscape:
      if (m_drag.lineDrag || m_drag.knotDrag) {
        i_CancelLayoutDrag();
      } else if (!m_puzzle.layoutMode) {
        if (m_drag.dragSelecting || m_drag.piecePressed) i_CancelDragSelection();
      } else if (m_editor.model.selectedKnotCount > 0) {
        // The last knot chosen goes.
        --m_editor.model.selectedKnotCount;
        RedrawSplitting();
        OnKnotSelectionChanged();
      }
      return 1;
    case klKeyBackspace:
      ClickButton(kShow);
      return 1;
    case klKeyDelete:
      ClickButton(kHide);
      return 1;
    default:
      return 0;
  }
}

u8 CWnd_Main::OnKeyChar(u8 key, u8) {
  if (!m_puzzle.layoutMode) return 0;
  const Control c = key == '+' || key == '=' ? kAddKnives : key == '-' || key == '_' ? kDelKnives : kControlCount;
  if (c == kControlCount || !GetNamedControl(c)->IsEnabled()) return 0;
  return ClickButton(c);
}

// ---------------------------------------------------------------------------
// Tips and cursors

void CWnd_Main::i_ZoneTip(i16 x, i16 y) {
  if (GetHoverControl() != 0xFFFFFFFFu) {
    m_zone = kZoneForgotten;
    return;
  }
  kltRECT_s status = m_status ? m_status->GetRenderRect() : klNullRect;
  status = {status.left - 4, status.top - 4, status.right + 4, status.bottom + 4};
  const kltRECT_s zones[4] = {status, m_previewRect, m_splitRulerRect[0], m_splitRulerRect[1]};
  i32 zone = kZoneNone;
  for (i32 i = 0; i < 4 && zone == kZoneNone; ++i)
    if (i_InRect(zones[i], x, y)) zone = i;
  const u8 state = m_puzzle.layoutMode ? 2 : m_puzzle.effectWindowOpen ? 4 : 3;
  if (zone == m_zone && (zone != kZonePreview || state == m_zoneState)) return;
  m_zone = zone;
  m_zoneState = state;
  UpdateStatus(CApp::GetStatusTip(zone < 0 ? "" : kZoneNames[zone], "Main", state, 255));
}

u8 CWnd_Main::OnSetCursor(i16 x, i16 y) {
  if (!m_created) return CKLF_Window::OnSetCursor(x, y);
  const u8 keys = GetKeysStatus();
  i32 id = m_puzzle.layoutMode ? i_LayoutCursor(x, y, keys) : -1;
  if (id < 0 && i_InPreview(x, y)) {
    if (((keys & klModSpace) || m_preview.IsInPanningMode()) && !m_drag.dragSelecting) {
      const CKLF_Control* h = GetNamedControl(kScrollH);
      const CKLF_Control* v = GetNamedControl(kScrollV);
      const u8 hOn = h && h->IsEnabled(), vOn = v && v->IsEnabled();
      id = keys & O ? kCursorZoomOut
                    : keys & C ? kCursorZoomIn : kCursorPanBoth + (hOn ? (vOn ? 0 : 1) : (vOn ? 2 : 3));
    } else {
      id = m_puzzle.layoutMode ? kCursorPlain : i_PuzzleCursor(x, y);
    }
  } else if (id < 0 && GetNamedControl(kNavigator) && GetNamedControl(kNavigator)->PtInControl(x, y)) {
    id = kCursorNavigator;
  } else if (id < 0 && (i_InRect(m_splitRulerRect[0], x, y) || i_InRect(m_splitRulerRect[1], x, y))) {
    id = kCursorPlain;
  }
  if (id < 0) return CKLF_Window::OnSetCursor(x, y);
  SetCursorByID(id);
  return 1;
}

// The split rulers' cursors in Layout mode; -1 elsewhere.
i32 CWnd_Main::i_LayoutCursor(i16 x, i16 y, u8 keys) {
  if (m_drag.lineDrag) return m_drag.lineDragRow ? kCursorRowLine : kCursorColumnLine;
  for (u8 left = 0; left < 2; ++left) {
    if (i_HandleAt(left, x, y) >= 0) {
      if ((keys & C) && (keys & O)) return kCursorDeleteLine;
      if (!(keys & (C | S | O))) return left ? kCursorRowLine : kCursorColumnLine;
      return kCursorPlain;
    }
    if (!i_InRect(m_splitRulerRect[left], x, y)) continue;
    if ((keys & C) && (keys & S) && TestAllowRCInsertion(left ? 0 : 1, x, y)) return kCursorInsertLine;
    return kCursorPlain;
  }
  return -1;
}

i32 CWnd_Main::i_PuzzleCursor(i16 x, i16 y) {
  const kltPOS image = m_preview.GetImageCoorsByPreviewCoors({x - m_previewRect.left, y - m_previewRect.top});
  const i32 piece = m_puzzle.GetPieceByXY(image);
  if (piece < 0) return kCursorNoPiece;
  const CTessarette::SPLITEDCELL& c = *m_plugin->GetEngine().GetPiece(static_cast<u32>(piece));
  if (!c.visible) return kCursorHiddenPiece;
  if (c.opacity[0].enabled && c.opacity[0].opacity < 255) return kCursorSeeThroughPiece;
  return kCursorPlain;
}
