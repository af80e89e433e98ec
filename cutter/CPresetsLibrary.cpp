#include "CPresetsLibrary.h"

#include <cstring>
#include <new>

#include "CKnifeShapeFile.h"
#include "CShapeSetFile.h"

const char CPresetsLibrary::kFileName[] = "ckss.data";

namespace {

const u32 kRecord = CShapeSetFile::kRecordSize;
const char kNoUpdate[] = "Cannot update presets file...";
const char kNoMemory[] = "Memory allocation problem...";

CPresetsWindowPort g_noWindow;

}  // namespace

CPresetsLibrary::CPresetsLibrary(CCutterFilesPort* files, CPresetsWindowPort* window)
    : m_files(files),
      m_window(window ? window : &g_noWindow),
      m_block(nullptr),
      m_count(0),
      m_selected(nullptr),
      m_names(nullptr),
      m_loadFailed(0),
      m_edited(0) {}

CPresetsLibrary::~CPresetsLibrary() {
  delete m_block;
  delete m_selected;
  delete m_names;
}

u8 CPresetsLibrary::i_Alert(u16 code, const char* text) {
  m_window->Alert(text, "Error!");
  return Fail(code);
}

void CPresetsLibrary::i_Changed() { m_window->LibraryChanged(); }

namespace {

// The records' own names, as the list shows them after a read.
CKLF_StringArray* RecordNames(const CKLF_Mem* block, u32 count) {
  CKLF_StringArray* names = new (std::nothrow) CKLF_StringArray();
  char name[CShapeSetFile::kNameSize];
  for (u32 i = 0; names && i < count; ++i) {
    CShapeSetFile::GetRecordName(block->GetPtr() + static_cast<size_t>(i) * kRecord, name);
    if (names->Add(CKLF_String(name), i) < 0) {
      delete names;
      names = nullptr;
    }
  }
  return names;
}

}  // namespace

u8 CPresetsLibrary::i_Take(CKLF_Mem* block, u32 count, const u8* selected, CKLF_StringArray* names) {
  CKLF_Mem* flags = new (std::nothrow) CKLF_Mem();
  if (!names && (count == 0 || block)) names = RecordNames(block, count);
  if (!flags || !names || names->GetSize() != count || (count && (!block || !flags->Zalloc(count)))) {
    delete flags;
    delete block;
    delete names;
    return Fail(klErrNoMemory);
  }
  if (selected && count) std::memcpy(flags->GetPtr(), selected, count);
  delete m_block;
  delete m_selected;
  delete m_names;
  m_block = block;
  m_selected = flags;
  m_names = names;
  m_count = count;
  return 1;
}

const u8* CPresetsLibrary::GetRecord(u32 i) const {
  return i < m_count ? m_block->GetPtr() + static_cast<size_t>(i) * kRecord : nullptr;
}

const char* CPresetsLibrary::GetName(u32 i) const {
  const CKLF_String* name = i < m_count ? m_names->GetPtrAt(i) : nullptr;
  return name ? name->GetStr() : "";
}

// ---- Selection.

void CPresetsLibrary::SetSelected(u32 i, u8 on) {
  if (i >= m_count) return;
  m_selected->GetPtr()[i] = on ? 1 : 0;
  i_Changed();
}

u32 CPresetsLibrary::GetSelectedCount() const {
  u32 n = 0;
  for (u32 i = 0; i < m_count; ++i) n += m_selected->GetPtr()[i];
  return n;
}

i32 CPresetsLibrary::GetFirstSelected() const {
  for (u32 i = 0; i < m_count; ++i)
    if (m_selected->GetPtr()[i]) return static_cast<i32>(i);
  return -1;
}

void CPresetsLibrary::opSelectAll() {
  if (m_count) std::memset(m_selected->GetPtr(), 1, m_count);
  i_Changed();
}

void CPresetsLibrary::opInvertSelection() {
  for (u32 i = 0; i < m_count; ++i) m_selected->GetPtr()[i] ^= 1;
  i_Changed();
}

// ---- Loading and saving the library.

i32 CPresetsLibrary::ShapeMng_Load(CKLF_Mem& block) { return m_files ? m_files->ReadWhole(kFileName, block) : -1; }

u8 CPresetsLibrary::ShapeMng_Save(const u8* data, u32 size) {
  return m_files && m_files->WriteWhole(kFileName, data, size) ? 1 : Fail(klErrFileWrite);
}

void CPresetsLibrary::Open(CKLF_Storage* resources) {
  initialLastUsedSetCheck(resources);
  FillIn();
}

u8 CPresetsLibrary::initialLastUsedSetCheck(CKLF_Storage* resources) {
  CKLF_Mem probe, defSet;
  if (ShapeMng_Load(probe) != 0) return 1;
  if (!resources || !resources->GetRec("DefSet", defSet)) return 0;
  return sub_opLoadSetFromMemBlock(defSet.GetPtr(), defSet.GetSize(), 1);
}

void CPresetsLibrary::FillIn() {
  CKLF_Mem* block = new (std::nothrow) CKLF_Mem();
  const i32 read = block ? ShapeMng_Load(*block) : -1;
  const u32 count = read > 0 ? block->GetSize() / kRecord : 0;
  u8 sound = 1;
  for (u32 i = 0; i < count; ++i) sound &= CShapeSetFile::RecordIsSound(block->GetPtr() + static_cast<size_t>(i) * kRecord);
  m_edited = 0;
  m_loadFailed = 0;
  if (read < 0 || !sound) {
    delete block;
    i_Take(nullptr, 0, nullptr, nullptr);
    m_loadFailed = 1;
    i_Alert(read < 0 ? klErrFileRead : klErrNotFormat,
            read < 0 ? "Error reading data file..." : "Unknow file format or file corrupt...");
  } else if (!i_Take(block, count, nullptr, nullptr)) {
    m_loadFailed = 1;
    i_Alert(klErrNoMemory, kNoMemory);
  }
  i_Changed();
}

u8 CPresetsLibrary::i_SaveBlock() {
  if (m_loadFailed) return i_Alert(klErrFileWrite, kNoUpdate);
  if (!ShapeMng_Save(m_block ? m_block->GetPtr() : nullptr, m_count * kRecord))
    return i_Alert(klErrFileWrite, kNoUpdate);
  m_edited = 0;
  return 1;
}

u8 CPresetsLibrary::Close() {
  // An unreadable presets file stays as it was; edits made since are lost.
  if (m_loadFailed) return m_edited ? i_Alert(klErrFileWrite, kNoUpdate) : 0;
  return i_SaveBlock();
}

u8 CPresetsLibrary::ShapeMng_AddShape(const char* name, const SHAPE& shape) {
  CKLF_Mem old, out;
  const i32 read = ShapeMng_Load(old);
  if (read < 0) return i_Alert(klErrFileWrite, kNoUpdate);
  const u32 n = read > 0 ? old.GetSize() / kRecord : 0;
  const u64 bytes = (static_cast<u64>(n) + 1) * kRecord;
  if (!klFits32(bytes) || !out.alloc(static_cast<u32>(bytes))) return i_Alert(klErrNoMemory, kNoMemory);
  if (n) std::memcpy(out.GetPtr(), old.GetPtr(), static_cast<size_t>(n) * kRecord);
  CShapeSetFile::PutRecord(out.GetPtr() + static_cast<size_t>(n) * kRecord, name, shape);
  if (!ShapeMng_Save(out.GetPtr(), static_cast<u32>(bytes))) return i_Alert(klErrFileWrite, kNoUpdate);
  return 1;
}

// ---- Operations on the records.

u8 CPresetsLibrary::opToCutter(CCutterServices* cutter) {
  const i32 r = GetFirstSelected();
  if (r < 0 || !cutter) return 0;
  SHAPE s;
  std::memset(&s, 0, sizeof(s));
  CShapeSetFile::RecordToShape(GetRecord(static_cast<u32>(r)), s);
  cutter->opSetShapeFromData(&s, 1);
  return 1;
}

u8 CPresetsLibrary::opRenameShape(i32 index, const char* name) {
  if (index < 0) index = GetFirstSelected();
  if (index < 0 || static_cast<u32>(index) >= m_count) return Fail(klErrBadArg);
  if (!m_names->SetAt(static_cast<u32>(index), CKLF_String(name ? name : ""), static_cast<u32>(index)))
    return FailFrom(*m_names, klErrNoMemory);
  CShapeSetFile::SetRecordName(m_block->GetPtr() + static_cast<size_t>(index) * kRecord, name);
  m_edited = 1;
  i_Changed();
  return 1;
}

// Edits not yet written are lost: the library as the file holds it.
u8 CPresetsLibrary::i_OutOfMemory() {
  i_Alert(klErrNoMemory, kNoMemory);
  FillIn();
  return Fail(klErrNoMemory);
}

// The library becomes the records of order (old indices) with their shown
// names, their selection kept or cleared.
u8 CPresetsLibrary::i_Reorder(const u32* order, u32 n, u8 keepSelection) {
  CKLF_Mem flags;
  CKLF_Mem* block = new (std::nothrow) CKLF_Mem();
  CKLF_StringArray* names = new (std::nothrow) CKLF_StringArray();
  u8 ok = block && names && (n == 0 || (flags.Zalloc(n) && block->alloc(n * kRecord)));
  for (u32 i = 0; ok && i < n; ++i) {
    std::memcpy(block->GetPtr() + static_cast<size_t>(i) * kRecord, GetRecord(order[i]), kRecord);
    flags.GetPtr()[i] = keepSelection && IsSelected(order[i]);
    ok = names->Add(*m_names->GetPtrAt(order[i]), i) >= 0;
  }
  if (!ok) {
    delete block;
    delete names;
  }
  if (!ok || !i_Take(block, n, flags.GetPtr(), names)) return i_OutOfMemory();
  m_edited = 1;
  i_Changed();
  return 1;
}

u8 CPresetsLibrary::opDeleteShape() {
  CKLF_Mem order;
  if (m_count && !order.alloc(m_count * 4)) return i_OutOfMemory();
  u32* kept = reinterpret_cast<u32*>(order.GetPtr());
  u32 n = 0;
  for (u32 i = 0; i < m_count; ++i)
    if (!IsSelected(i)) kept[n++] = i;
  return i_Reorder(kept, n, 0);
}

u8 CPresetsLibrary::opSort() {
  // The framework's exchange sort, ascending by the shown names: bytes
  // unsigned, a prefix first, so upper case before lower case.
  CKLF_StringArray byName;
  CKLF_Mem order;
  if (m_count && !order.alloc(m_count * 4)) return i_OutOfMemory();
  for (u32 i = 0; i < m_count; ++i)
    if (byName.Add(*m_names->GetPtrAt(i), i) < 0) return i_OutOfMemory();
  byName.SortElements(1);
  u32* idx = reinterpret_cast<u32*>(order.GetPtr());
  for (u32 i = 0; i < m_count; ++i) idx[i] = byName.GetPtrAt(i)->GetUserValue();
  return i_Reorder(idx, m_count, 1);
}

u8 CPresetsLibrary::opLoadShape(CKLF_StdFile* file, const char* name) {
  SHAPE s;
  return ReadShapeFile(file, s) && opAddShape(name, s);
}

u8 CPresetsLibrary::ReadShapeFile(CKLF_StdFile* file, SHAPE& shape) {
  CKnifeShapeFile reader;
  std::memset(&shape, 0, sizeof(shape));
  return reader.Read(file, shape) ? 1 : i_Alert(reader.GetError(), reader.GetAlert());
}

u8 CPresetsLibrary::opAddShape(const char* name, const SHAPE& shape) {
  // Unsaved edits reach the file first.
  if (!i_SaveBlock() || !ShapeMng_AddShape(name, shape)) return 0;
  FillIn();
  return 1;
}

// ---- Shape sets.

u8 CPresetsLibrary::stSaveSetToFile(CKLF_StdFile* file) {
  CShapeSetFile set;
  if (set.Write(file, m_block ? m_block->GetPtr() : nullptr, m_count, m_selected ? m_selected->GetPtr() : nullptr,
                m_window))
    return 1;
  if (*set.GetAlert()) m_window->Alert(set.GetAlert(), "Error!");
  return FailFrom(set, klErrFileWrite);
}

u8 CPresetsLibrary::opLoadSet(CKLF_StdFile* file, u8 replace) {
  const i32 length = file ? file->GetLength() : -1;
  if (length < 0 || file->SetPos(0) != 0) return i_Alert(klErrFileRead, "Error reading data file...");
  CKLF_Mem image;
  if (length > 0 && !image.alloc(static_cast<u32>(length))) return i_Alert(klErrNoMemory, kNoMemory);
  if (length > 0 && file->Read(image, 0) != length) return i_Alert(klErrFileRead, "Error reading data file...");
  return sub_opLoadSetFromMemBlock(image.GetPtr(), static_cast<u32>(length), replace);
}

u8 CPresetsLibrary::sub_opLoadSetFromMemBlock(const u8* image, u32 size, u8 replace) {
  CShapeSetFile set;
  CKLF_Mem records, joined;
  u32 m = 0;
  if (!set.Read(image, size, records, m)) {
    if (*set.GetAlert()) m_window->Alert(set.GetAlert(), "Error!");
    return FailFrom(set, klErrNotFormat);
  }
  if (m == 0) return 1;
  const u8* data = records.GetPtr();
  u64 bytes = static_cast<u64>(m) * kRecord;
  if (!replace) {
    // Appending to a library that could not be read would lose it.
    if (m_loadFailed) return i_Alert(klErrFileWrite, kNoUpdate);
    bytes = (static_cast<u64>(m_count) + m) * kRecord;
    if (!klFits32(bytes) || !joined.alloc(static_cast<u32>(bytes))) return i_Alert(klErrNoMemory, kNoMemory);
    if (m_count) std::memcpy(joined.GetPtr(), m_block->GetPtr(), static_cast<size_t>(m_count) * kRecord);
    std::memcpy(joined.GetPtr() + static_cast<size_t>(m_count) * kRecord, records.GetPtr(),
                static_cast<size_t>(m) * kRecord);
    data = joined.GetPtr();
  }
  if (!ShapeMng_Save(data, static_cast<u32>(bytes))) return i_Alert(klErrFileWrite, kNoUpdate);
  FillIn();
  return 1;
}
