#include "CSettingsPersistence.h"

#include <cstring>

#include "CCutterServices.h"
#include "CKLF_StdFile.h"
#include "CLayoutModel.h"
#include "CMainWindowPort.h"
#include "CPuzzleModel.h"
#include "KLF_BigEndian.h"

const char CSettingsPersistence::kLastData[] = "last.data";

namespace {

const char kMsgMemory[] = "Memory allocation problem...";
const char kMsgWrite[] = "Cannot write file...";
const char kMsgRead[] = "Error reading data file...";
const char kMsgFormat[] = "Unknow file format or file corrupt...";
const char kMsgTitle[] = "Error!";

const u32 kDocumentType = 0x4B4C7064;  // 'KLpd'

CMainWindowPort::FILEQUESTION Question(const char* title) {
  return {"Kelvanos Tessarette Document (.klpd)", "klpd", kDocumentType, title, "Untitled.klpd"};
}

}  // namespace

CSettingsPersistence::CSettingsPersistence(CLayoutModel& layout, CPuzzleModel& puzzle, CMainWindowPort& port)
    : pendingRecords(nullptr), pendingRecordCount(0), m_layout(layout), m_puzzle(puzzle), m_port(port) {}

CSettingsPersistence::~CSettingsPersistence() {}

u8 CSettingsPersistence::i_Alert(const char* text, u16 code) {
  m_port.Alert(text, kMsgTitle);
  return Fail(code);
}

u8 CSettingsPersistence::settings_SaveCurLayoutAndCellSettingsToMem(CKLF_Mem* block, u32& length) {
  const u8 ok = m_puzzle.layoutMode ? m_block.Write(m_layout, 0, nullptr, 0, block, length)
                                    : m_block.WritePuzzle(m_layout, m_puzzle.GetEngine(), block, length);
  if (ok) return 1;
  m_port.Alert(kMsgMemory, kMsgTitle);
  return FailFrom(m_block, klErrNoMemory);
}

u8 CSettingsPersistence::settings_LoadCurLayoutAndCellSettingsFromMem(const u8* data, u32 length,
                                                                      const u8** records, u32& count, u8 redraw) {
  if (!m_block.Read(m_layout, data, length, records, count)) return FailFrom(m_block, klErrNoMemory);
  if (redraw) m_port.RedrawLayout();
  return 1;
}

u8 CSettingsPersistence::settings_LoadCurLayoutAndCellSettingsFromMem_old_v2(const u8* data, u32 length,
                                                                             u8 redraw) {
  if (!m_block.ReadOld(m_layout, data, length)) return FailFrom(m_block, klErrNoMemory);
  if (redraw) m_port.RedrawLayout();
  return 1;
}

u8 CSettingsPersistence::settings_LoadDefaults() {
  return m_layout.settings_LoadDefaults() ? 1 : FailFrom(m_layout, klErrNoMemory);
}

u8 CSettingsPersistence::settings_SaveCurLayoutAndCellSettings() {
  CKLF_Mem block;
  u32 length = 0;
  u16 error = klErrNone;
  if (!settings_SaveCurLayoutAndCellSettingsToMem(&block, length)) return 0;
  // Both are tried. Settings the host could not record for want of memory
  // are told as the file's failure is; other refusals (too large, the
  // host's own) are its.
  const u8 recorded = m_port.WriteScriptParameters(block.GetPtr(), length, error) || error != klErrNoMemory;
  u16 fileError = klErrNone;
  if (!m_port.WritePluginFile(block.GetPtr(), length, kLastData, fileError) && recorded)
    return i_Alert(fileError == klErrNoMemory ? kMsgMemory : kMsgWrite, fileError);
  return recorded ? 1 : i_Alert(kMsgMemory, klErrNoMemory);
}

u8 CSettingsPersistence::settings_LoadCurLayoutAndCellSettings() {
  CKLF_Mem block;
  u16 error = klErrNone;
  // Nothing stored gives the defaults; memory or a file that cannot be read
  // fails the start.
  if (!m_port.ReadScriptParameters(block, error) ||
      (block.GetSize() == 0 && !m_port.ReadPluginFile(block, kLastData, error)))
    return Fail(error ? error : static_cast<u16>(klErrFileRead));
  if (block.GetSize() == 0) return settings_LoadDefaults();
  const u8* records = nullptr;
  u32 count = 0;
  if (!settings_LoadCurLayoutAndCellSettingsFromMem(block.GetPtr(), block.GetSize(), &records, count, 0)) return 0;
  pendingRecords = nullptr;
  pendingRecordCount = 0;
  if (count == 0) return 1;
  const u64 bytes = static_cast<u64>(count) * CSettingsBlock::kRecordSize;
  if (!klFits32(bytes) || !pendingMem.alloc(static_cast<u32>(bytes))) {
    m_port.CloseWindow();
    return FailFrom(pendingMem, klErrNoMemory);
  }
  std::memcpy(pendingMem.GetPtr(), records, static_cast<size_t>(bytes));
  pendingRecords = pendingMem.GetPtr();
  pendingRecordCount = count;
  return 1;
}

// ---------------------------------------------------------------------------
// Documents

u8 CSettingsPersistence::OnSaveDocument() {
  return m_port.AskSaveFile(Question("Save Document..."), stSaveKLPDocument, this);
}

u8 CSettingsPersistence::stSaveKLPDocument(CKLF_StdFile* file, void* window) {
  CSettingsPersistence* self = static_cast<CSettingsPersistence*>(window);
  if (!self || !file) return 0;
  CKLF_Mem block;
  u32 length = 0;
  if (!self->settings_SaveCurLayoutAndCellSettingsToMem(&block, length)) return 0;
  if (file->Write(CSettingsBlock::kMagic, CSettingsBlock::kMagicSize) != static_cast<i32>(CSettingsBlock::kMagicSize) ||
      file->Write(block.GetPtr(), length) != static_cast<i32>(length))
    return self->i_Alert(kMsgWrite, klErrFileWrite);
  return 1;
}

// The document's body (after its magic) and whether it is the older block.
u8 CSettingsPersistence::i_ReadDocument(const CKLF_String& path, CKLF_Mem& body, u8& old) {
  CKLF_StdFile file;
  if (!file.Open(path, 1)) return i_Alert(kMsgRead, klErrFileOpen);
  const i32 length = file.GetLength();
  if (length <= 9) return i_Alert(kMsgFormat, klErrNotFormat);
  char magic[CSettingsBlock::kMagicSize];
  if (file.Read(magic, sizeof(magic)) != static_cast<i32>(sizeof(magic))) return i_Alert(kMsgRead, klErrFileRead);
  old = std::memcmp(magic, CSettingsBlock::kOldMagic, sizeof(magic)) == 0 ? 1 : 0;
  if (!old && std::memcmp(magic, CSettingsBlock::kMagic, sizeof(magic)) != 0) return i_Alert(kMsgFormat, klErrNotFormat);
  const u32 size = static_cast<u32>(length) - CSettingsBlock::kMagicSize;
  if (!body.alloc(size)) return i_Alert(kMsgMemory, klErrNoMemory);
  if (file.Read(body.GetPtr(), size) != static_cast<i32>(size) || !file.Close()) return i_Alert(kMsgRead, klErrFileRead);
  return 1;
}

// A body is taken only when its layout fits the grid it describes and, in
// a Puzzle-mode block, its piece records are all there.
u8 CSettingsPersistence::i_CheckDocument(const CKLF_Mem& body, u8 old) {
  const u8* data = body.GetPtr();
  const u32 size = body.GetSize();
  if (!CSettingsBlock::IsValid(data, size, old)) return i_Alert(kMsgFormat, klErrNotFormat);
  if (old || data[0] != 1) return 1;
  // The layout part's size is that of the same layout written again.
  CLayoutModel scratch;
  CSettingsBlock codec;
  CKLF_Mem layoutOnly;
  const u8* records = nullptr;
  u32 count = 0, layoutSize = 0;
  if (!codec.Read(scratch, data, size, &records, count) || !codec.Write(scratch, 0, nullptr, 0, &layoutOnly, layoutSize))
    return i_Alert(kMsgMemory, klErrNoMemory);
  if (size < static_cast<u64>(layoutSize) + 4) return i_Alert(kMsgFormat, klErrNotFormat);
  const u64 pieces = KLF_GetBE32(data + layoutSize);
  if (size < layoutSize + 4 + pieces * CSettingsBlock::kRecordSize) return i_Alert(kMsgFormat, klErrNotFormat);
  return 1;
}

u8 CSettingsPersistence::OnLoadDocument() {
  ResetError();
  CKLF_String path;
  if (!m_port.AskOpenFile(Question("Load Document..."), path)) return 0;
  CKLF_Mem body;
  u8 old = 0;
  if (!i_ReadDocument(path, body, old) || !i_CheckDocument(body, old)) return 0;
  if (!m_puzzle.layoutMode) m_port.DoCutterWindow();
  if (!m_layout.cutter) return Fail(klErrEmpty);
  m_port.RecordLayoutUndoPoint();
  const u8* records = nullptr;
  u32 count = 0;
  const u8 read = old ? settings_LoadCurLayoutAndCellSettingsFromMem_old_v2(body.GetPtr(), body.GetSize(), 1)
                      : settings_LoadCurLayoutAndCellSettingsFromMem(body.GetPtr(), body.GetSize(), &records, count, 1);
  if (!read) return i_Alert(GetError() == klErrNoMemory ? kMsgMemory : kMsgRead, GetError());
  i_TellCutter();
  // The document's records go beside those of the pieces the Cutter was
  // opened with and win over them until the Cutter's reset brings those
  // back; a document without pieces forgets an earlier document's.
  if (!m_layout.cutter->SetDocumentRecords(records, count)) {
    m_port.CloseWindow();
    return FailFrom(m_layout.cutter->documentRecordsMem, klErrNoMemory);
  }
  return 1;
}

void CSettingsPersistence::i_TellCutter() {
  CCutterServices& cutter = *m_layout.cutter;
  m_layout.TellCutterLayout(cutter);
  cutter.SetInitialStatesToControls();
}
