// The main window's settings persistence: the settings block written from
// the layout (and in Puzzle mode from the engine's pieces) and read back
// into the layout; the start-up load from the host's scripting parameters
// or "last.data"; the store on Apply into both; and the commands "Save
// Document..." and "Load Document..." (the magic "KLTS30" and the block, or
// an older "KLTS20" document, which is only read).
//
// A stored block that does not fit the layout it describes gives the
// default layout without a word at start-up only. A document is checked
// whole before anything changes: one that fails (short, a wrong magic, a
// layout that does not fit, piece records cut short) is refused with an
// alert and the current layout stays.
//
// Piece records stay in their stored 92-byte form here; the engine's
// record codec reads them where they are applied. Cost: linear in the
// block; a document is read into memory whole.
#pragma once

#include "CSettingsBlock.h"

class CKLF_StdFile;
class CKLF_String;
class CLayoutModel;
class CMainWindowPort;
class CPuzzleModel;

class CSettingsPersistence : public CKLF_FrameWork {
 public:
  static const char kLastData[];  // "last.data"

  CSettingsPersistence(CLayoutModel& layout, CPuzzleModel& puzzle, CMainWindowPort& port);
  ~CSettingsPersistence() override;

  CSettingsPersistence(const CSettingsPersistence&) = delete;
  CSettingsPersistence& operator=(const CSettingsPersistence&) = delete;

  // The block of the current mode into block (grown, never shrunk); length
  // gets its size. 0 after the memory alert.
  u8 settings_SaveCurLayoutAndCellSettingsToMem(CKLF_Mem* block, u32& length);
  // Replaces the layout by the block's (the defaults when it does not
  // fit). records points into data at the first piece record (null and 0
  // when none). 0 only when the grid cannot be laid.
  u8 settings_LoadCurLayoutAndCellSettingsFromMem(const u8* data, u32 length, const u8** records, u32& count,
                                                  u8 redraw);
  // The same for the older block; it carries no piece records.
  u8 settings_LoadCurLayoutAndCellSettingsFromMem_old_v2(const u8* data, u32 length, u8 redraw);
  u8 settings_LoadDefaults();
  // On Apply: the block to the scripting parameters and to "last.data".
  // 0 after the alert when memory runs out or the file cannot be written.
  [[nodiscard]] u8 settings_SaveCurLayoutAndCellSettings();
  // At start-up: the last settings (the scripting parameters', else
  // "last.data", else the defaults) into the layout, their piece records
  // kept as pending records for the Cutter. 0 when the stored settings
  // cannot be read (memory, the file), the grid cannot be laid or the
  // records cannot be kept (the window is then closed).
  [[nodiscard]] u8 settings_LoadCurLayoutAndCellSettings();

  // 1 when the document was written.
  u8 OnSaveDocument();
  // 1 when a document replaced the layout; 0 when cancelled (no error) or
  // refused (after its alert).
  u8 OnLoadDocument();
  // The save dialog's writer: the magic and the block; window is this.
  static u8 stSaveKLPDocument(CKLF_StdFile* file, void* window);

  // Piece records of the start-up block, for the Cutter when it opens.
  CKLF_Mem pendingMem;
  const u8* pendingRecords;
  u32 pendingRecordCount;

 private:
  u8 i_Alert(const char* text, u16 code);
  u8 i_ReadDocument(const CKLF_String& path, CKLF_Mem& body, u8& old);
  u8 i_CheckDocument(const CKLF_Mem& body, u8 old);
  void i_TellCutter();

  CLayoutModel& m_layout;
  CPuzzleModel& m_puzzle;
  CMainWindowPort& m_port;
  CSettingsBlock m_block;
};
