#include "CPresetsLibrary.h"

#include <cstring>
#include <new>
#include <utility>

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
      m_loadFailed(0),
      m_edited(0) {}

CPresetsLibrary::~CPresetsLibrary() {
  delete m_block;
  delete m_selected;
}

u8 CPresetsLibrary::i_Alert(u16 code, const char* text) {
  m_window->Alert(text, "Error!");
  return Fail(code);
}

void CPresetsLibrary::i_Changed() { m_window->LibraryChanged(); }

u8 CPresetsLibrary::i_Take(CKLF_Mem* block, u32 count, const u8* selected) {
  CKLF_Mem* flags = new (std::nothrow) CKLF_Mem();
  if (!flags || (count && (!block || !flags->Zalloc(count)))) {
    delete flags;
    delete block;
    return Fail(klErrNoMemory);
  }
  if (selected && count) std::memcpy(flags->GetPtr(), selected, count);
  delete m_block;
  delete m_selected;
  m_block = block;
  m_selected = flags;
  m_count = count;
  return 1;
}

const u8* CPresetsLibrary::GetRecord(u32 i) const {
  return i < m_count ? m_block->GetPtr() + static_cast<size_t>(i) * kRecord : nullptr;
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
    i_Take(nullptr, 0, nullptr);
    m_loadFailed = 1;
    i_Alert(read < 0 ? klErrFileRead : klErrNotFormat,
            read < 0 ? "Error reading data file..." : "Unknow file format or file corrupt...");
  } else if (!i_Take(block, count, nullptr)) {
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

// The library becomes the records of order (old indices), their selection
// kept or cleared.
u8 CPresetsLibrary::i_Reorder(const u32* order, u32 n, u8 keepSelection) {
  CKLF_Mem flags;
  CKLF_Mem* block = new (std::nothrow) CKLF_Mem();
  u8 ok = block && (n == 0 || (flags.Zalloc(n) && block->alloc(n * kRecord)));
  for (u32 i = 0; ok && i < n; ++i) {
    std::memcpy(block->GetPtr() + static_cast<size_t>(i) * kRecord, GetRecord(order[i]), kRecord);
    flags.GetPtr()[i] = keepSelection && IsSelected(order[i]);
  }
  if (!ok) delete block;
  if (!ok || !i_Take(block, n, flags.GetPtr())) return i_OutOfMemory();
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
  CKLF_Mem order;
  if (m_count && !order.alloc(m_count * 4)) return i_OutOfMemory();
  u32* idx = reinterpret_cast<u32*>(order.GetPtr());
  for (u32 i = 0; i < m_count; ++i) idx[i] = i;
  // Exchange sort by name, bytes as unsigned, a prefix first.
  auto name = [&](u32 i) { return reinterpret_cast<const char*>(GetRecord(idx[i])); };
  for (u32 i = 0; i + 1 < m_count; ++i)
    for (u32 j = i + 1; j < m_count; ++j)
      if (std::strncmp(name(i), name(j), CShapeSetFile::kNameSize - 1) > 0) std::swap(idx[i], idx[j]);
  return i_Reorder(idx, m_count, 1);
}

u8 CPresetsLibrary::opLoadShape(CKLF_StdFile* file, const char* name) {
  CKnifeShapeFile reader;
  SHAPE s;
  std::memset(&s, 0, sizeof(s));
  if (!reader.Read(file, s)) return i_Alert(reader.GetError(), reader.GetAlert());
  // Unsaved edits reach the file first.
  if (!i_SaveBlock() || !ShapeMng_AddShape(name, s)) return 0;
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
