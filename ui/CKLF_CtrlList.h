// A list box (type 10, "UIResources>Lists>" + name) of text lines drawn with
// a bitmap font over pictures: a background and a foreground picture per
// state (1 normal, 2 highlighted, 4 working = focused, 8 disabled; absent
// ones fall back to normal, disabled dimmed), and the rows of the
// ">Background_Selected" and ">Foreground_Selected" pictures behind the
// selected lines. The foreground picture colours the glyphs. Items carry a
// text, a selected flag and a user value the list never frees. Single or
// multiple selection (Command toggles, Shift adds a range); a companion
// scroll bar (whose focus master the list becomes) keeps the first visible
// line. Every change of the selection by the user sends 0x160 (no data).
// Drawing costs the list's area; the items are kept in arrays, so adding
// is amortised constant and SelectItems walks its range.
#pragma once

#include "CKLF_Control.h"
#include "CKLF_CtrlPicture.h"
#include "CKLF_TextLayer.h"

class CKLF_CtrlScrollBar;

class CKLF_CtrlList : public CKLF_Control {
 public:
  CKLF_CtrlList();
  ~CKLF_CtrlList() override;

  // Error 192 without ">Background_Selected", ">Foreground_Selected" or a
  // ">Rect ..." record.
  [[nodiscard]] u8 Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) override;
  void Enable(u8 on) override;
  void SetFocus(u8 on) override;
  kltRECT_s GetRenderRect() override;
  void Redraw() override;
  void OnTimer(u16 kind) override;
  u8 OnMouseMove(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseDown(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseUp(i16, i16, u8) override { return 0; }
  u8 OnMouseWheel(i16 x, i16 y, u8 mods, i16 delta) override;
  u8 OnKeyDown(u8 key, u8 mods) override;
  u8 PtAboveControl(i16 x, i16 y) override;
  // The scroll bar's 0x100 and 0x105 move the first visible line.
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;

  void SetOptions(u8 multiple, u8 showSelectionUnfocused, u16 lineHeight, i16 leftMargin, i16 topMargin,
                  u32 scrollBarId);
  void SetFont(CKLF_Font* font);
  CKLF_TextLayer* GetTextLayer() { return &m_textLayer; }

  // The new item's index; -1 when it could not be stored.
  [[nodiscard]] i32 AddItem(const char* text, u8 selected, void* user, u8 deferUpdate);
  // The redraw and the scroll bar's sizes after deferred additions.
  void UpdateAfterChanges();
  u32 GetItemsCount() const { return m_texts.GetSize(); }
  // Each out pointer may be null; 0 out of range.
  u8 GetItem(u32 index, CKLF_String* text, u8* selected, void** user) const;
  [[nodiscard]] u8 SetItem(u32 index, const CKLF_String* text, const u8* selected, void* const* user, u8 redraw);
  // The first selected item, or -1.
  i32 GetSelectedItem() const;
  i32 GetCurrentItem() const { return m_current; }
  u32 GetFirstVisible() const { return m_firstVisible; }
  void RemoveAllItems(u8 redraw, u8 notify);
  void RemoveSelection(u8 redraw, u8 notify);
  // Selects (or, with toggle, flips) the items from `from` to `to`, each
  // becoming the current item in turn: upward when from < to, else downward.
  // Indices past the list are skipped.
  void SelectItems(u32 from, u32 to, u8 clearOthers, u8 toggle, u8 scrollIntoView, u8 redraw, u8 notify);

  // 1 normal, 2 highlighted, 4 working, 8 disabled; 254 redraws the current
  // state and moves the scroll bar to the first visible line, 253 the same
  // without the bar.
  void SetState(u8 state);

 private:
  enum : u8 { klPictures = 5 };
  struct Item {
    u8 selected;
    void* user;
  };
  Item* i_Item(u32 index) const;
  // 0 when memory ran out.
  [[nodiscard]] u8 i_LoadPictures(const CKLF_String& folder);
  // The state's picture of a part (0 background, 1 foreground), normal
  // when absent; dimmed when disabled falls back.
  const CKLF_CtrlPicture* i_Pick(u8 part, u8 state, u8& dimmed) const;
  void i_PaintSelection();
  void i_PaintRow(CKLF_Layer& layer, const CKLF_CtrlPicture& picture, i32 windowY, i32 rows);
  CKLF_String i_VisibleText() const;
  void i_ScrollTo(i32 current);
  void i_SetBarInfo();
  void i_Hover(i16 x, i16 y);
  void i_Clicked(u32 line, u8 mods);

  CKLF_CtrlPicture m_back[klPictures];  // Normal, Highlighted, Working, Disabled, Selected
  CKLF_CtrlPicture m_fore[klPictures];
  kltRECT_s m_listRect;
  kltRECT_s m_backRect;
  CKLF_TextLayer m_textLayer;
  CKLF_Layer m_backLayer;
  u8 m_state;
  u16 m_leftMargin;
  u16 m_topMargin;
  u16 m_lineHeight;
  i32 m_current;
  CKLF_StringArray m_texts;
  CKLF_PtrArray m_items;
  u32 m_firstVisible;
  u8 m_multiple;
  u8 m_showUnfocused;
  u32 m_visibleLines;
  u32 m_barId;
  CKLF_CtrlScrollBar* m_bar;
  i32 m_lastSynced;
};
