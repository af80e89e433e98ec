// The main window's pop-up menus as item lists: the three button menus,
// the preview's menu (knives and knot, piece, or general), the units menu
// and the split rulers' menus. Building a menu records the context its
// commands act on; showing it hands the list to the platform.
#include <cstring>

#include "CKLF_CtrlRuler.h"
#include "CKLF_PlatformPopupMenu.h"
#include "CPluginMain.h"
#include "CWnd_Main.h"

namespace {

const u8 C = klModCommand, S = klModShift, O = klModOption;

// The effect items of the Puzzle-mode menus: text, command and the bit of
// the on-mask that marks it; hue/saturation needs an RGB document and the
// image overlay the document's layers.
const struct {
  const char* text;
  u16 command;
  u8 bit;
} kEnableItems[] = {{"Enable Bevel", 119, 1},          {"Enable Hue-Saturation", 123, 2},
                    {"Enable Brightness-Contrast", 124, 4}, {"Enable Gaussian Blur", 120, 0},
                    {"Enable Motion Blur", 121, 5},    {"Enable Opacity", 122, 6},
                    {"Enable Color Overlay", 125, 3},  {"Enable Image Overlay", 129, 9},
                    {"Enable Stroke", 127, 8}};

}  // namespace

void CWnd_Main::MENULIST::Add(const char* text, u16 command, u8 enabled, u8 marked, u8 mods, const char* key) {
  if (count >= kMax) return;
  items[count++] = {text, command, mods, key ? key : "", static_cast<u8>(enabled ? 1 : 0),
                    static_cast<u8>(marked ? 1 : 0)};
}

const CWnd_Main::MENUITEM* CWnd_Main::MENULIST::Find(u16 command) const {
  for (u32 i = 0; i < count; ++i)
    if (items[i].command == command) return &items[i];
  return nullptr;
}

void CWnd_Main::ShowMenu(const MENULIST& list) {
  CKLF_PlatformPopupMenu menu;
  if (list.count == 0 || !menu.Create()) return;
  for (u32 i = 0; i < list.count; ++i) {
    const MENUITEM& m = list.items[i];
    if (m.command == CKLF_PlatformPopupMenu::klSeparatorCommand) {
      menu.AddSeparator();
      continue;
    }
    menu.AddItem(m.text, m.command, m.marked, m.enabled ? 0 : 1, m.mods & klModCommand ? 1 : 0,
                 m.mods & klModShift ? 1 : 0, m.mods & klModOption ? 1 : 0, m.key);
  }
  menu.DoPopup(this, static_cast<i16>(list.at.x), static_cast<i16>(list.at.y), 0);
}

// Below a button (the platform adds 5 to y).
kltPOS CWnd_Main::i_MenuPlace(Control c) const {
  CKLF_Control* b = GetNamedControl(c);
  if (!b) return {0, 0};
  const kltRECT_s r = b->GetRenderRect();
  return {r.left, r.bottom - 5};
}

u8 CWnd_Main::i_SelectionState() const {
  u32 total = 0, selected = 0;
  if (m_puzzle.layoutMode) {
    const CLayoutModel& m = m_editor.model;
    total = m.TotalKnifeCount();
    for (u32 i = 0; i < total; ++i) selected += m.NthKnife(i)->selected ? 1 : 0;
  } else {
    const CTessarette& e = m_plugin->GetEngine();
    total = e.GetPieceCount();
    for (u32 i = 0; i < total; ++i) selected += e.GetPiece(i)->selected ? 1 : 0;
  }
  return selected == 0 ? 0 : selected == total ? 2 : 1;
}

// ---------------------------------------------------------------------------
// The button menus

void CWnd_Main::BuildButtonMenu(Control button, MENULIST& out) {
  out.count = 0;
  out.at = i_MenuPlace(button);
  if (button == kMain) i_MainMenu(out);
  else if (button == kSelect) i_SelectMenu(out);
  else if (button == kAdjust) i_AdjustMenu(out);
}

void CWnd_Main::i_MainMenu(MENULIST& m) {
  const u8 layout = m_puzzle.layoutMode;
  m.Add("Undo", 80, layout ? !m_editor.undo.IsEmpty() : !m_puzzle.IsUndoEmpty(), 0, C, "Z");
  m.Separator();
  m.Add("Save...", 84, 1, 0, C, "S");
  m.Add("Load...", 88, 1, 0, C, "L");
  m.Separator();
  m.Add("Export...", 89, 1, 0, C | S, "S");
  m.Separator();
  m.Add("Relayout...", 90, !layout);
  m.Separator();
  if (layout) m.Add("Apply (Draw Splitter)", 86);
  else m.Add("Apply", 87);
  m.Add("Cancel", 85);
  m.Separator();
  m.Add("Preferences...", 81);
}

void CWnd_Main::i_SelectMenu(MENULIST& m) {
  const u8 state = i_SelectionState();
  if (m_puzzle.layoutMode) {
    m.Add("Select All Knives", 32, state != 2, 0, C, "A");
    m.Add("Deselect Knives", 33, state != 0, 0, C, "D");
    m.Add("Inverse Selection", 34, 1, 0, C | S, "I");
    m.Separator();
    m.Add("Select All Hidden Knives", 35);
    m.Add("Select All Shown Knives", 36);
    m.Separator();
    m.Add("Select All Columns Splitters", 37);
    m.Add("Select All Rows Splitters", 38);
    m.Add("Select All Extra Knives", 39, m_editor.model.xKnifeCount > 0, 0, C | O, "A");
    m.Separator();
    m.Add("Add Randomly Selected Knives", 41, state != 2, 0, C, "[");
    m.Add("Deselect Random Knives", 42, state != 0, 0, C, "]");
    m.Separator();
    m.Add("Load Selection...", 40);
    return;
  }
  m.Add("Select All Pieces", 32, state != 2, 0, C, "A");
  m.Add("Deselect Pieces", 33, state != 0, 0, C, "D");
  m.Add("Inverse Selection", 34, 1, 0, C | S, "I");
  m.Separator();
  m.Add("Select All Hidden Pieces", 35);
  m.Add("Select All Shown Pieces", 36);
  m.Separator();
  m.Add("Add Randomly Selected Pieces", 41, state != 2, 0, C, "[");
  m.Add("Deselect Random Pieces", 42, state != 0, 0, C, "]");
  m.Separator();
  m.Add("Add Splitter to Selection", 43, i_HasSplitter(), 0, C, "P");
  m.Add("Deselect Splitter", 44, i_HasSplitter(), 0, C | O, "P");
  m.Separator();
  m.Add("Load Selection...", 40);
  m.Separator();
  m.Add("Show Extras", 47, 1, m_puzzle.showPieceExtras, C, "H");
}

void CWnd_Main::i_AdjustMenu(MENULIST& m) {
  auto enabled = [this](Control c) -> u8 { return GetNamedControl(c) && GetNamedControl(c)->IsEnabled() ? 1 : 0; };
  if (m_puzzle.layoutMode) {
    const CLayoutModel& model = m_editor.model;
    m.Add("Turn ON (Show) Knives", 96, enabled(kShow));
    m.Add("Turn OFF (Hide) Knives", 97, enabled(kHide));
    m.Add("Reverse On<->Off", 144);
    m.Separator();
    m.Add("Add Extra Knife", 3936, enabled(kAddKnives));
    m.Add("Delete Extra Knife", 3937, enabled(kDelKnives));
    m.Separator();
    m.Add("Copy Knife", 110, 1, 0, C, "C");
    m.Add("Paste Knife", 111, !m_editor.knives.IsClipboardEmpty(), 0, C, "V");
    m.Separator();
    m.Add("Equalize Knobs Size", 3938, m_editor.knives.check_IsAvail_EqualizeKnobs(1));
    m.Separator();
    m.Add("Flip H", 98, 1, 0, C, "F");
    m.Add("Flip U", 99, 1, 0, C | S, "F");
    m.Add("Flip HU", 100, 1, 0, C | S | O, "F");
    const u8 grid = !model.onlyExtraSelected;
    m.Separator();
    m.Add("Flip H (Interleaved)", 104, grid);
    m.Add("Flip U (Interleaved)", 105, grid);
    m.Add("Flip HU (Interleaved)", 106, grid);
    m.Separator();
    m.Add("Flip H (Non-Interleaved)", 107, grid);
    m.Add("Flip U (Non-Interleaved)", 108, grid);
    m.Add("Flip HU (Non-Interleaved)", 109, grid);
    m.Separator();
    m.Add("Flip H (Random)", 101, 1, 0, C, "M");
    m.Add("Flip U (Random)", 102, 1, 0, C | S, "M");
    m.Add("Flip HU (Random)", 103, 1, 0, C | S | O, "M");
    return;
  }
  const u16 mask = m_puzzle.i_pmfx_GetFXOnSelection(CPuzzleModel::kSelection);
  const u8 rgb = m_pluginData && m_pluginData->colorKind == 1;
  const u8 layers = m_plugin->GetEngineLayerAccess();
  // As their buttons: showing needs a hidden piece, hiding a shown one.
  m.Add("Turn ON (Show) Pieces", 96, (mask & CPuzzleModel::kBitHidden) != 0);
  m.Add("Turn OFF (Hide) Pieces", 97, (mask & CPuzzleModel::kBitShown) != 0);
  m.Separator();
  m.Add("Reverse On<->Off", 144);
  m.Separator();
  m.Add("Copy Effects", 110, 1, 0, C, "C");
  m.Add("Paste Effects", 111, !m_puzzle.clipboardEmpty, 0, C, "V");
  m.Separator();
  m.Add("Reset Effects", 143);
  m.Separator();
  m.Add("Bevel...", 112, 1, 0, C, "B");
  m.Add("Hue-Saturation...", 116, rgb, 0, C, "U");
  m.Add("Brightness-Contrast...", 117, 1, 0, C | S, "U");
  m.Add("Gaussian Blur...", 113, 1, 0, C, "R");
  m.Add("Motion Blur...", 114, 1, 0, C | S, "R");
  m.Add("Opacity...", 115, 1, 0, C, "O");
  m.Add("Color Overlay...", 118, 1, 0, C, "E");
  m.Add("Image Overlay...", 128, layers, 0, C | S, "O");
  m.Add("Stroke...", 126, 1, 0, C | S, "E");
  m.Separator();
  i_EffectItems(mask, m);
  m.Separator();
  m.Add("Invert", 130, 1, (mask >> CPuzzleModel::kInvert) & 1, C, "I");
  m_puzzle.menuEffectMask = mask;
  m_puzzle.contextPiece = CPuzzleModel::kSelection;
}

void CWnd_Main::i_EffectItems(u16 mask, MENULIST& m) {
  const u8 rgb = m_pluginData && m_pluginData->colorKind == 1;
  const u8 layers = m_plugin->GetEngineLayerAccess();
  for (const auto& e : kEnableItems) {
    const u8 enabled = e.command == 123 ? rgb : e.command == 129 ? layers : 1;
    m.Add(e.text, e.command, enabled, (mask >> e.bit) & 1);
  }
}

// ---------------------------------------------------------------------------
// The preview's menu

void CWnd_Main::DoPreviewMenu(kltPOS pos) {
  MENULIST menu;
  BuildPreviewMenu(pos, menu);
  ShowMenu(menu);
}

void CWnd_Main::BuildPreviewMenu(kltPOS pos, MENULIST& out) {
  out.count = 0;
  const u8 placed = !(pos.x == klNullPOS.x && pos.y == klNullPOS.y);
  out.at = placed ? pos : i_MenuPlace(kRuler);
  if (placed) {
    const kltPOS local = {pos.x - m_previewRect.left, pos.y - m_previewRect.top};
    if (m_puzzle.layoutMode && i_KnifeItems(local, out)) return;
    if (!m_puzzle.layoutMode && !m_puzzle.effectWindowOpen && i_PieceItems(pos, out)) return;
  }
  i_GeneralItems(out);
}

// The knives and the knot under a preview point; 0 when there are none.
u8 CWnd_Main::i_KnifeItems(kltPOS local, MENULIST& m) {
  CLayoutModel& model = m_editor.model;
  CKLF_DWordArray& ids = m_context.knives;
  m_editor.drawing.spl_GetKnifeByXY(local.x, local.y, &ids);
  u8 unselected = 0, selected = 0, hidden = 0, shown = 0, extra = 0;
  for (u32 i = 0; i < ids.GetSize(); ++i) {
    const CLayoutModel::KNIFESTRUCT* k = model.GetKnife(ids[i]);
    if (!k) continue;
    (k->selected ? selected : unselected) = 1;
    (k->hidden ? hidden : shown) = 1;
    if (ids[i] >= CLayoutModel::kExtraIdBase) extra = 1;
  }
  if (ids.GetSize()) {
    m.Add("Add to Selection", 256, unselected);
    m.Add("Deselect", 257, selected);
    m.Separator();
    m.Add("Flip H", 258);
    m.Add("Flip U", 259);
    m.Add("Flip HU", 260);
    m.Separator();
    m.Add("On", 261, hidden);
    m.Add("Off", 262, shown);
    m.Separator();
    m.Add("Delete", 266, extra);
    m.Separator();
    m.Add("Copy Knife", 264, ids.GetSize() == 1);
    m.Add("Paste Knife", 265, !m_editor.knives.IsClipboardEmpty());
  }
  m_context.knot = 0xFFFFFFFFu;
  for (u32 i = 0; i < model.knotHandleCount; ++i) {
    const CLayoutModel::KNOTHANDLE& h = model.knotHandles[i];
    if (h.corner || local.x < h.left || local.x > h.right || local.y < h.top || local.y > h.bottom) continue;
    m_context.knot = h.knotId;
    break;
  }
  if (m_context.knot < model.knotCount) {
    const CLayoutModel::KNOT& k = model.knots[m_context.knot];
    if (ids.GetSize()) m.Separator();
    m.Add("Reset Knot Position", 263, k.dx != 0 || k.dy != 0);
  }
  return m.count > 0;
}

// The piece under a window point; 0 when there is none.
u8 CWnd_Main::i_PieceItems(kltPOS pos, MENULIST& m) {
  const kltPOS image =
      m_preview.GetImageCoorsByPreviewCoors({pos.x - m_previewRect.left, pos.y - m_previewRect.top});
  const i32 piece = m_puzzle.GetPieceByXY(image);
  m_puzzle.contextPiece = piece;
  if (piece < 0) return 0;
  const CTessarette::SPLITEDCELL& c = *m_plugin->GetEngine().GetPiece(static_cast<u32>(piece));
  if (c.selected) m.Add("Deselect", 273);
  else m.Add("Add to Selection", 272);
  m.Separator();
  if (c.visible) m.Add("Hide", 275);
  else m.Add("Show", 274);
  m.Separator();
  m.Add("Copy Effects", 276);
  m.Add("Paste Effects", 277, !m_puzzle.clipboardEmpty);
  m.Separator();
  const u16 mask = m_puzzle.i_pmfx_GetFXOnSelection(piece);
  i_EffectItems(mask, m);
  m.Separator();
  m.Add("Invert", 130, 1, (mask >> CPuzzleModel::kInvert) & 1);
  return 1;
}

void CWnd_Main::i_GeneralItems(MENULIST& m) {
  m.Add("Actual Pixels", 48, 1, 0, C | O, "0");
  m.Add("Fit on Preview", 49, 1, 0, C, "0");
  m.Add("Zoom In", 50, 1, 0, C, "+");
  m.Add("Zoom Out", 51, 1, 0, C, "-");
  if (m_puzzle.effectWindowOpen) return;
  const u8 layout = m_puzzle.layoutMode, state = i_SelectionState();
  m.Separator();
  m.Add(layout ? "Select All Knives" : "Select All Pieces", 32, state != 2, 0, C, "A");
  m.Add(layout ? "Deselect Knives" : "Deselect Pieces", 33, state != 0, 0, C, "D");
  m.Add("Inverse Selection", 34, 1, 0, C | O, "I");
  m.Separator();
  if (!layout) {
    m.Add("Add Splitter to Selection", 43, i_HasSplitter(), 0, C, "P");
    m.Add("Deselect Splitter", 44, i_HasSplitter(), 0, C | O, "P");
    m.Separator();
  }
  m.Add(layout ? "Add Randomly Selected Knives" : "Add Randomly Selected Pieces", 41, state != 2, 0, C, "[");
  m.Add(layout ? "Deselect Random Knives" : "Deselect Random Pieces", 42, state != 0, 0, C, "]");
  if (!layout) {
    m.Separator();
    m.Add("Show Extras", 47, 1, m_puzzle.showPieceExtras, C, "H");
  }
}

// ---------------------------------------------------------------------------
// Units and the split rulers

void CWnd_Main::DoMesurementMenu(kltPOS pos) {
  MENULIST menu;
  BuildMeasurementMenu(pos, menu);
  ShowMenu(menu);
}

void CWnd_Main::BuildMeasurementMenu(kltPOS pos, MENULIST& m) {
  m.count = 0;
  m.at = pos.x == klNullPOS.x && pos.y == klNullPOS.y ? kltPOS{0, 0} : pos;
  const char* const names[5] = {"Pixels", "Inches", "Centimeters", "Millimeters", "Percent"};
  for (u8 i = 0; i < 5; ++i) m.Add(names[i], static_cast<u16>(16 + i), 1, m_infoUnits == i + 1);
}

u8 CWnd_Main::BuildSplitRulerMenu(u8 left, i16 x, i16 y, MENULIST& m) {
  m.count = 0;
  m.at = {x, y};
  if (!m_puzzle.layoutMode) return 0;
  if (!i_InRect(m_splitRulerRect[left], x, y)) return 0;
  const i32 handle = i_HandleAt(left, x, y);
  m_context.handleOrientation = left;
  if (handle >= 0) {
    m_context.handleIndex = m_editor.drawing.markerLines[left][handle];
    m.Add("Center", 65);
    m.Separator();
    m.Add("Select", 68);
    m.Add("Deselect", 69);
    m.Separator();
    m.Add("Delete", 67);
    return 1;
  }
  m_context.handleClickPos = {x, y};
  const u16 lines = left ? m_editor.model.horizontalLineCount : m_editor.model.verticalLineCount;
  m.Add("Arrange", 64, lines > 0);
  m.Separator();
  m.Add("Insert", 66, TestAllowRCInsertion(left ? 0 : 1, x, y));
  return 1;
}

u8 CWnd_Main::OnContextMenu(i16 x, i16 y, u8) {
  for (Control c : {kRulerTop, kRulerLeft}) {
    CKLF_Control* ruler = GetNamedControl(c);
    if (ruler && ruler->PtInControl(x, y)) {
      DoMesurementMenu({x, y});
      return 1;
    }
  }
  if (i_InPreview(x, y)) {
    DoPreviewMenu({x, y});
    return 1;
  }
  MENULIST menu;
  for (u8 left = 0; left < 2; ++left)
    if (BuildSplitRulerMenu(left, x, y, menu)) {
      ShowMenu(menu);
      return 1;
    }
  return 0;
}
