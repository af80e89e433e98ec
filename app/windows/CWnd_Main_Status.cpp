// The info line (image size, the point under the mouse with its piece, a
// dragged split line's measures, in the chosen unit), the status line
// (tips that fade from one to the next, the progress of long work) and the
// window's 30 ms timer that drives the fade and watches the mouse.
#include <cstring>

#include "CApp.h"
#include "CPluginMain.h"
#include "CWnd_Main.h"

namespace {

const u8 kMouseCheckTicks = 5;

enum : u8 { kPixels = 1, kInches = 2, kCentimetres = 3, kMillimetres = 4, kPercent = 5 };

f64 OrDefault(f64 ppi) { return ppi > 0 ? ppi : 72.0; }

bool Missing(i32 v) { return v == -1 || v == 65535; }

// Texts of the info line: a text that cannot be made (no memory) is
// returned failed (IsError), and the line keeps what it shows.

// One coordinate of the info line ("X: ..." or "\tY: ...").
CKLF_String Coordinate(const char* axis, i32 v, u8 units, f64 ppi, u32 size) {
  CKLF_String s;
  if (Missing(v)) {
    (void)s.Format("%s: ---", axis);
    return s;
  }
  if (units == kPercent) {
    // A one-pixel-wide image has no span: its only column is 0 %.
    const u32 span = size > 1 ? size - 1 : 1;
    (void)s.Format("%s: %.1f (%%) (%d px)", axis, v * 100.0 / span, v);
    return s;
  }
  if (units < kInches || units > kMillimetres) {
    (void)s.Format("%s: %d pixels", axis, v);
    return s;
  }
  const char* name = units == kInches ? "inches" : units == kCentimetres ? "cm" : "mm";
  const f64 per = units == kInches ? ppi : units == kCentimetres ? ppi / 2.54 : ppi / 25.4;
  const f64 value = v / per;
  const char* form = value < 100 ? "%s: %.2f %s (%d px)" : value < 1000 ? "%s: %.1f %s (%d px)" : "%s: %.0f %s (%d px)";
  (void)s.Format(form, axis, value, name, v);
  return s;
}

// A length along one axis of the image in the unit, for a dragged line.
CKLF_String Length(f64 pixels, u8 units, f64 ppi, u32 size) {
  CKLF_String s;
  switch (units) {
    case kInches: (void)s.Format("%.2f (in)", pixels / ppi); break;
    case kCentimetres: (void)s.Format("%.2f (cm)", pixels / (ppi / 2.54)); break;
    case kMillimetres: (void)s.Format("%.1f (mm)", pixels / (ppi / 25.4)); break;
    case kPercent: (void)s.Format("%.1f (%%)", size ? pixels * 100.0 / size : 0.0); break;
    default: (void)s.Format("%.1f (px)", pixels); break;
  }
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Info line

void CWnd_Main::UpdateInfoPanel(kltPOS pos, u8 imageSize) {
  if (!m_info) return;
  if (m_drag.lineDrag) {
    ShowLineInfo(m_drag.lineDragRow ? 0 : 1, m_drag.lineDragLine);
    return;
  }
  const u32 W = m_sourceImage.GetImageWidth(), H = m_sourceImage.GetImageHeight();
  const f64 rx = OrDefault(m_pluginData ? m_pluginData->resolutionH : 0);
  const f64 ry = OrDefault(m_pluginData ? m_pluginData->resolutionV : 0);
  if (pos.x == klNullPOS.x && pos.y == klNullPOS.y) {
    const kltPOS mouse = GetMousePos();
    const kltRECT_s v = m_previewRect;
    const u8 inside = mouse.x >= v.left && mouse.x < v.right && mouse.y >= v.top && mouse.y < v.bottom;
    pos = !imageSize && inside ? m_preview.GetImageCoorsByPreviewCoors({mouse.x - v.left, mouse.y - v.top}) : m_infoPos;
  }
  m_infoPos = pos;
  CKLF_String text;
  u8 made;
  if (imageSize) {
    const char* name = m_infoUnits == kInches ? "inches" : m_infoUnits == kCentimetres ? "cm" : "mm";
    const f64 per = m_infoUnits == kInches ? 1.0 : m_infoUnits == kCentimetres ? 2.54 : 25.4;
    if (m_infoUnits >= kInches && m_infoUnits <= kMillimetres)
      made = text.Format(m_infoUnits == kMillimetres ? "Image Size (W x H): %.1f %s x %.1f %s (%d px x %d px)"
                                                     : "Image Size (W x H): %.2f %s x %.2f %s (%d px x %d px)",
                         W / (rx / per), name, H / (ry / per), name, W, H) != nullptr;
    else
      made = text.Format("Image Size (W x H): %d pixels x %d pixels", W, H) != nullptr;
  } else {
    made = !(text = Coordinate("X", pos.x, m_infoUnits, rx, W) + Coordinate("\tY", pos.y, m_infoUnits, ry, H))
                .IsError() &&
           (m_puzzle.layoutMode || !(text += i_PieceInfo(pos)).IsError());
  }
  if (!made) return;
  m_info->SetText(text.GetStr());
  m_info->Redraw();
}

CKLF_String CWnd_Main::i_PieceInfo(kltPOS pos) {
  const CTessarette& engine = *GetEngine();
  const u32 n = engine.GetPieceCount();
  if (pos.x != m_lastMouseImagePos.x || pos.y != m_lastMouseImagePos.y) {
    m_lastMouseImagePos = pos;
    m_pieceUnderMouse = Missing(pos.x) || Missing(pos.y) ? -1 : m_puzzle.GetPieceByXY(pos);
  }
  // A text that cannot be made is returned failed (IsError).
  CKLF_String s;
  const i32 p = m_pieceUnderMouse;
  if (p < 0 || static_cast<u32>(p) >= n)
    (void)s.Format(" \tPiece: ??? (%d)", n);
  else if (p == 0 && engine.HasSplitterPiece())
    (void)s.Format(" \tPiece info: ID: %d (%d); Splitter", p, n);
  else
    (void)s.Format(" \tPiece info: ID: %d (%d); Column: %d; Row: %d", p, n,
                   engine.GetPiece(static_cast<u32>(p))->column, engine.GetPiece(static_cast<u32>(p))->row);
  return s;
}

void CWnd_Main::ShowLineInfo(u8 vertical, u16 line) {
  if (!m_info) return;
  const CLayoutModel& m = m_editor.model;
  const u32 count = vertical ? m.verticalLineCount : m.horizontalLineCount;
  if (line >= count) return;
  const f32* P = vertical ? m.verticalLines : m.horizontalLines;
  const u32 size = vertical ? m_sourceImage.GetImageWidth() : m_sourceImage.GetImageHeight();
  const f64 ppi = OrDefault(m_pluginData ? (vertical ? m_pluginData->resolutionH : m_pluginData->resolutionV) : 0);
  const f64 at = P[line], before = line ? P[line - 1] : 0.0, after = line + 1u < count ? P[line + 1] : 1.0;
  const CKLF_String a = Length(at * size, m_infoUnits, ppi, size), b = Length((at - before) * size, m_infoUnits, ppi, size),
                    c = Length((after - at) * size, m_infoUnits, ppi, size);
  CKLF_String text;
  if (a.IsError() || b.IsError() || c.IsError() ||
      !text.Format(vertical ? "Position: %s Columns: %s | %s" : "Position: %s Rows: %s | %s", a.GetStr(), b.GetStr(),
                   c.GetStr()))
    return;
  m_info->SetText(text.GetStr());
  m_info->Redraw();
}

// ---------------------------------------------------------------------------
// Status line

void CWnd_Main::UpdateStatus(const char* text) {
  if (text) m_fade.SetText(text);
}

void CWnd_Main::i_SetStatusNow(const char* text, u8 opacity) {
  if (!m_status) return;
  // The opacity's redraw shows the new text too (one render a progress
  // step, not two).
  m_status->SetText(text);
  m_status->SetOpacity(opacity);
}

void CWnd_Main::UpdateStatusProgress(const char* text, u8 percent) {
  m_fade.Stop(255);
  char bar[101];
  const u8 marks = percent < 100 ? percent : 100;
  std::memset(bar, 'I', marks);
  bar[marks] = 0;
  // Without memory for the text the line keeps what it shows.
  CKLF_String s;
  if (!s.Format("%s %d%%\t%s", text ? text : "", percent, bar)) return;
  i_SetStatusNow(s.GetStr(), 255);
  if (percent % 10 == 0 && m_status) ForceRedrawRect(m_status->GetRenderRect());
}

void CWnd_Main::i_Fade() {
  if (m_status) m_fade.Tick(*m_status);
}

// ---------------------------------------------------------------------------
// Timer and the mouse

void CWnd_Main::OnTimer(u16 id) {
  if (id != kTimerId) return;
  if (m_tick == 0) i_MouseCheck();
  m_tick = static_cast<u8>((m_tick + 1) % kMouseCheckTicks);
  i_Fade();
}

void CWnd_Main::i_MouseCheck() {
  const kltPOS mouse = GetMousePos();
  if (m_mouseSeen && mouse.x == m_lastMouse.x && mouse.y == m_lastMouse.y) return;
  m_mouseSeen = 1;
  m_lastMouse = mouse;
  const kltRECT_s w = GetWindowRect();
  const u8 over = WindowFromPoint({mouse.x + w.left, mouse.y + w.top}) == this;
  const kltRECT_s v = m_previewRect;
  const u8 inPreview = mouse.x >= v.left && mouse.x < v.right && mouse.y >= v.top && mouse.y < v.bottom;
  UpdateInfoPanel(klNullPOS, over && inPreview ? 0 : 1);
  if (over) OnSetCursor(static_cast<i16>(mouse.x), static_cast<i16>(mouse.y));
}

u8 CWnd_Main::OnAboveControl(u32 id) {
  if (static_cast<i32>(id) == m_previewId || static_cast<i32>(id) == m_ids[kModeL] ||
      static_cast<i32>(id) == m_ids[kModeP])
    return 0;
  const CKLF_Control* c = id == 0xFFFFFFFFu ? nullptr : GetControl(id);
  const u8 state = m_puzzle.layoutMode ? 2 : m_puzzle.effectWindowOpen ? 4 : 3;
  UpdateStatus(CApp::GetStatusTip(c ? c->GetName() : CKLF_String(""), "Main", state, c ? c->GetType() : 128));
  return 1;
}

// ---------------------------------------------------------------------------
// The main progress

i32 CMainProgress::Progress(u8 percent, void*) {
  if (percent == m_last) return 0;
  m_last = percent;
  if (m_window) m_window->UpdateStatusProgress(m_caption, percent);
  return 0;
}

u8 CMainProgress::IsCanceled() {
  if (m_window) m_window->PumpEvents();
  return 0;
}
