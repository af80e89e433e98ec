// The library of named knife shapes behind the preset manager: the records
// of the presets file "ckss.data" (836-byte library records, see
// CShapeSetFile.h) with one selected flag each, and its operations: send to
// the Cutter, rename, delete, sort, import a knife shape file, save the
// selected shapes as a shape set and load a set in place of the library or
// after it, seeded from the default set "DefSet" when the file is missing.
//
// The library is edited in memory and written back whole when the window
// closes and before every operation that goes through the file. A presets
// file that is there but cannot be read (or holds values that are not
// numbers) is never written over: the load says so, and only loading a set
// in place of the library replaces it. Writes build the new file apart; a
// failed one leaves the library and the file as they were and says
// "Cannot update presets file...". Alerts and redraws go through the
// preset manager's port, files through the plug-in folder's; the window
// keeps the list, the preview cells, the view and the scroll position.
//
// Each record also keeps the name the list shows: the record's own (63
// bytes at most) when read, the whole name typed by a rename. Sorting
// orders by those shown names, so the order is the one the user reads.
//
// Cost: the library is count x 836 bytes and the names; sorting is an
// exchange sort on the names (quadratic).
#pragma once

#include "CCutterPorts.h"
#include "CCutterServices.h"
#include "CKLF_Array.h"
#include "CKLF_Storage.h"

class CPresetsLibrary : public CKLF_FrameWork {
 public:
  typedef CCutterServices::SPLINE_STRUCT SHAPE;
  static const char kFileName[];  // "ckss.data"

  CPresetsLibrary(CCutterFilesPort* files, CPresetsWindowPort* window);
  ~CPresetsLibrary() override;

  CPresetsLibrary(const CPresetsLibrary&) = delete;
  CPresetsLibrary& operator=(const CPresetsLibrary&) = delete;

  // Opening the preset manager: the default set from the UI resources
  // (may be null) when the presets file does not exist, then FillIn.
  void Open(CKLF_Storage* resources);
  // 1 when the presets file exists (readable or not) or was seeded.
  u8 initialLastUsedSetCheck(CKLF_Storage* resources);
  // The library as the presets file holds it; nothing selected.
  void FillIn();
  // Closing the preset manager: the library written back (not when the
  // file could not be read). 0 when nothing was written.
  u8 Close();

  u32 GetCount() const { return m_count; }
  const u8* GetRecord(u32 i) const;
  // The name the list shows for record i ("" past the count).
  const char* GetName(u32 i) const;
  u8 IsLoadFailed() const { return m_loadFailed; }
  u8 IsSelected(u32 i) const { return i < m_count && m_selected->GetPtr()[i]; }
  void SetSelected(u32 i, u8 on);
  u32 GetSelectedCount() const;
  // The lowest selected index, or -1.
  i32 GetFirstSelected() const;

  // ---- Operations of the preset manager.
  void opSelectAll();
  void opInvertSelection();
  // The first selected shape becomes the Cutter's live shape (notify 1).
  u8 opToCutter(CCutterServices* cutter);
  // Record index (-1: the first selected) gets the name's first 63 bytes.
  u8 opRenameShape(i32 index, const char* name);
  u8 opDeleteShape();
  u8 opSort();
  // Import: a knife shape file read and added under name.
  u8 opLoadShape(CKLF_StdFile* file, const char* name);
  // The import's two steps: the file read (its failure alerted), then the
  // shape added under the name the user gave, unsaved edits written first.
  u8 ReadShapeFile(CKLF_StdFile* file, SHAPE& shape);
  u8 opAddShape(const char* name, const SHAPE& shape);
  // The selected shapes as a shape set, on the file the dialog opened.
  u8 stSaveSetToFile(CKLF_StdFile* file);
  // A shape set file read whole and loaded in place of (replace 1) or
  // after (0) the library.
  u8 opLoadSet(CKLF_StdFile* file, u8 replace);
  u8 sub_opLoadSetFromMemBlock(const u8* image, u32 size, u8 replace);

  // ---- The presets file, whole. Load: 1 read, 0 missing, -1 unreadable.
  i32 ShapeMng_Load(CKLF_Mem& block);
  u8 ShapeMng_Save(const u8* data, u32 size);
  // Appends one record to the presets file (the Cutter's "Cutter_AddToPM").
  u8 ShapeMng_AddShape(const char* name, const SHAPE& shape);

 private:
  u8 i_Alert(u16 code, const char* text);
  u8 i_SaveBlock();
  // The library becomes count records of block (taken over), with the
  // selection given (null: none) and the shown names (taken over; null:
  // the records' own). 0 on memory, the library unchanged.
  u8 i_Take(CKLF_Mem* block, u32 count, const u8* selected, CKLF_StringArray* names);
  u8 i_Reorder(const u32* order, u32 n, u8 keepSelection);
  u8 i_OutOfMemory();
  void i_Changed();

  CCutterFilesPort* m_files;
  CPresetsWindowPort* m_window;
  CKLF_Mem* m_block;     // count x 836 bytes, owned
  u32 m_count;
  CKLF_Mem* m_selected;  // one flag a record, owned
  CKLF_StringArray* m_names;  // the shown name of each record, owned
  u8 m_loadFailed;
  u8 m_edited;
};
