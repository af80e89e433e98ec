// The auto layout dialog (UI resource window "AutoLayout"): rows, columns,
// triangles or hexagons and "Regular", each shape with its limits and its
// picture, a status line. A thin layer over CAutoLayoutSettings: its
// sliders map 1 .. the shape's limit onto their own range, its edit lines
// show the counts, typed counts are clamped as they are typed and written
// back when the line loses the focus.
#pragma once

#include "CAutoLayoutSettings.h"
#include "CCutterDialog.h"

class CKLF_CtrlEditLine;
class CKLF_CtrlSlider;

class CWnd_AutoLayout : public CCutterDialog {
 public:
  enum CONTROL : u32 {
    kCloseX = kModalCloseX, kCancel = kModalCancel, kOk = kModalOk, kHelp = kModalHelp,
    kRowsSlider, kColsSlider, kRowsEdit, kColsEdit, kTri, kHex, kRegular,
    kTriPicture, kHexPicture, kStatus, kControlCount
  };
  static const char* const kGroup;  // "AutoLayout", the status tips' group

  // "Cutter_AutoLayout": the dialog over the Cutter window with the stored
  // values; on OK the values stored and the layout built on the main
  // window, which then sets the Cutter's counts. 1 when a layout was laid.
  static u8 Open(CKLF_Window* cutterWindow, CCutterMainPort* main);

  CWnd_AutoLayout(CCutterMainPort* main, const CAutoLayoutSettings& values);

  void Close() override;
  u8 OnCreate(CKLF_LayerSet* layers, u16 width, u16 height) override;
  u8 OnKeyDown(u8 key, u8 mods) override;
  u8 OnAboveControl(u32 id) override;
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;
  void OnCtrlLostFocus(u32 id) override;

  const CAutoLayoutSettings& GetValues() const { return m_values; }

 private:
  CKLF_CtrlSlider* i_Slider(u8 rows) const;
  CKLF_CtrlEditLine* i_Edit(u8 rows) const;
  u32 i_Limit(u8 rows) const { return rows ? m_values.RowLimit() : m_values.ColumnLimit(); }
  u32& i_Count(u8 rows) { return rows ? m_values.rows : m_values.columns; }
  // The radio buttons, the limits and the picture of the current shape.
  void i_ShowShape();
  void i_OnSlider(u8 rows);
  void i_OnTyped(u8 rows, const char* text);
  // The line's text clamped, written back with its message.
  void i_Commit(u8 rows);

  CAutoLayoutSettings m_values;
};
