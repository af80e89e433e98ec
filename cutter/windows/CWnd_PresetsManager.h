// The preset manager (UI resource window "PresMng"), the Cutter's library
// of named knife shapes: the names in a list, one page of the shapes drawn
// in cells (eight small or two big), rename through the shape name dialog,
// delete, sort, import of a knife shape file, saving the selected shapes
// as a shape set and loading one in place of the library or after it, and
// sending a shape to the Cutter. A thin layer over CPresetsLibrary (the
// records and "ckss.data") and CPresetsPreview (the page and its cells).
//
// The list holds the selection the user makes (clicks, keys, the
// accelerators select all and invert); the library mirrors it after every
// change and the list follows the library after every operation on the
// records. Closing writes the library back by any road out of the window
// (never over a presets file that could not be read).
#pragma once

#include "CCutterDialog.h"
#include "CCutterServices.h"
#include "CKLF_Layer.h"
#include "CPluginFolderFiles.h"
#include "CPresetsLibrary.h"
#include "CPresetsPreview.h"

class CKLF_CtrlList;
class CKLF_CtrlScrollBar;
class CKLF_StdFile;

class CWnd_PresetsManager : public CCutterDialog, private CPresetsWindowPort {
 public:
  // The controls, in the order they are made (the scroll bars by the
  // platform's arrow style).
  enum CONTROL : u32 {
    kHelp, kCloseX, kSaveSet, kReplaceSet, kLoadSet, kLoadShape, kRenShape, kDelShape, kSort, kToCutter,
    kToCutterClose, kDone, kSico, kLico, kList,
    kVBottom, kVTop, kVBar, kHRight, kHLeft, kHBar,
    kStatus, kBigIcoBg, kSmallIcoBg,
    kBigName1, kBigName2,
    kControlCount
  };
  enum : u32 { kCmdSelectAll = 2, kCmdInvertSelection = 10 };
  static const char* const kGroup;  // "PresetsManager", the status tips' group

  // "Cutter_Presets": the preset manager over the Cutter window, run to its
  // end. cutter receives the shapes sent to it; files are the plug-in
  // folder's (null: the folder of the UI resource file). The modal result
  // (0), or -1 when the window could not be made.
  static i32 Open(CKLF_Window* cutterWindow, CCutterServices* cutter, CCutterMainPort* main, CCutterFilesPort* files);
  // "Cutter_AddToPM": a name asked (under "Cutter", empty at first) and the
  // Cutter's shape appended to the presets file under it. 1 when added.
  static u8 AddCutterShape(CKLF_Window* cutterWindow, CCutterServices* cutter, CCutterMainPort* main,
                           CCutterFilesPort* files);

  CWnd_PresetsManager(CCutterServices* cutter, CCutterMainPort* main, CCutterFilesPort* files);
  ~CWnd_PresetsManager() override;

  // Status timer stopped, position stored, window closed, library written.
  void Close() override;
  // The library written back when that has not happened yet (a window
  // closed by the platform rather than by the dialog).
  void WriteLibrary();

  u8 OnCreate(CKLF_LayerSet* layers, u16 width, u16 height) override;
  u8 OnLMouseUp(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseDoubleClick(i16 x, i16 y, u8 mods) override;
  u8 OnKeyDown(u8 key, u8 mods) override;
  u8 OnKeyChar(u8 ch, u8 mods) override;
  u8 OnAboveControl(u32 id) override;
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;

  // ---- Operations of the buttons, keys and accelerators.
  void opToCutter();
  // index -1: the first selected shape.
  void opRenameShape(i32 index);
  void opDeleteShape();
  void opSort();
  void opSelectAll();
  void opInvertSelection();
  void opLoadShape();
  void opSaveSet();
  void opLoadSet(u8 replace);
  // A double click on a shape or Return: to the Cutter, and with Option
  // (live) closing too, when the matching button is enabled.
  void OnDblClickOnItem();
  static u8 stSaveSetToFile(CKLF_StdFile* file, void* window);

  CPresetsLibrary& GetLibrary() { return m_lib; }
  CPresetsPreview& GetPreview() { return m_preview; }
  CKLF_Layer& GetShapeLayer() { return m_shapeLayer; }
  CKLF_Layer& GetHighlightLayer() { return m_highlightLayer; }

 private:
  // CPresetsWindowPort
  void Alert(const char* text, const char* title) override;
  void SetStatus(const char* text) override;

  u8 i_CreateControls();
  u8 i_ReadGeometry();
  u8 i_CreateLayers();
  void i_SetupControls();
  CKLF_CtrlList* i_List() const;
  CKLF_CtrlScrollBar* i_HBar() const;
  // The list's selection into the library.
  void i_ListToLibrary();
  // The list's lines from the library's names and selection.
  void i_LibraryToList();
  // Buttons, scroll bar and page after a change; follow: the first
  // selected shape is brought onto the page.
  void i_Refresh(u8 follow);
  void i_UpdateButtons();
  void i_RedrawPreview();
  void i_SetView(u8 small);
  void i_SelectCell(i32 record, u8 mods);
  u8 i_Enabled(CONTROL c) const { return GetCtrl(c)->IsEnabled(); }
  u32 i_OnClick(i32 c);

  CCutterServices* m_cutter;
  CPluginFolderFiles m_folderFiles;
  CPresetsLibrary m_lib;
  CPresetsPreview m_preview;
  CKLF_Layer m_highlightLayer;
  CKLF_Layer m_shapeLayer;
  u8 m_opened;   // the library was read: closing writes it
  u8 m_written;
  u8 m_closing;
  u8 m_placingBar;
};
