// Keyed tree of typed records (folder, u8, u16, u32, string, byte block,
// double) in one "KLCPSv40" container file, or read from a memory image.
// Keys are folder names from the root down joined by ">". The file is
// append-only: a new or grown record goes to the end, a deleted one is only
// marked, and the MD5 digest of everything after the head's 24 bytes is
// refreshed when a changed container is closed. The "KLCPSv4S" variant
// carries its index ready-made (compressed) and is opened read-only.
//
// Cost: opening reads the whole file once and indexes it in O(n log n);
// lookups bisect the sorted index; adding a record is one append and a
// sorted insertion. Every change is written unbuffered as one transaction:
// when a write fails, the bytes it touched are put back and the file cut
// to its old length, so a failed change leaves the container as it was.
//
// Readers trust nothing: every length is checked against the bytes
// present, the records must fill the file exactly, folder ids are resolved
// without recursion, and a cycle, two reachable folders sharing an id, an
// id or parent id beyond the head's last id, a string of length 0 or an
// undefined record type fails the open with error 113. Limits: files below 2 GiB, keys up to 65,535 bytes, 64 MB of keys in
// all, names without ">".
#pragma once

#include "CKLF_Array.h"
#include "CKLF_StdFile.h"

// A record value: a number in place, or a pointer to the caller's bytes
// for strings and byte blocks (the byte count travels separately).
union _KLSTORAGEDATA {
  u8 byte;
  u16 word;
  u32 dword;
  f64 dbl;
  u8* ptr;
};

class CKLF_Storage : public CKLF_FrameWork {
 public:
  enum : u8 {
    klRecFolder = 0,
    klRecU8 = 1,
    klRecU16 = 2,
    klRecU32 = 3,
    klRecString = 4,
    klRecBlock = 5,
    klRecDouble = 6,
    klRecDeleted = 0x63,
    klRecMissing = 199
  };
  static constexpr u32 klMaxKeyBytes = 65535;

  CKLF_Storage();
  ~CKLF_Storage() override;

  CKLF_Storage(const CKLF_Storage&) = delete;
  CKLF_Storage& operator=(const CKLF_Storage&) = delete;

  // Modes: 1 read-only, 2 create (every form starts from an empty
  // container), others read and write. An empty file gets a new container
  // (mode 1: error 1). Errors: the file's (32...), 113 not a container or
  // malformed, 17 no memory.
  [[nodiscard]] u8 Open(CKLF_String path, u16 mode);
  [[nodiscard]] u8 Open(CKLF_String name, const KLP_FileRef* parent, u16 mode);
  // Over a file the caller opened and keeps owning (Close closes it but
  // does not delete it). A file that cannot be read, or in a writing mode
  // cannot be written, is refused with error 35.
  [[nodiscard]] u8 Open(CKLF_StdFile* file, u16 mode);
  // A read-only container in memory; the image is borrowed while open.
  [[nodiscard]] u8 Open(const u8* image, u32 size);
  [[nodiscard]] u8 Open(CKLF_Mem* image);
  u8 IsOpened() const { return m_mode != 0 ? 1 : 0; }

  // Empties the open container to the 40-byte empty form.
  [[nodiscard]] u8 CreateNewFileStructure();
  // Writes the digest when something changed, then closes. 0 with the
  // error when the digest or the file could not be written (the storage is
  // closed anyway) or the file could not be read back (it stays open).
  [[nodiscard]] u8 Close();

  // Digest check without opening: 1 when it matches (an empty file passes);
  // 0 with 112 (mismatch), 113 (shorter than 25 bytes) or the file's error.
  [[nodiscard]] u8 CheckMD5(const u8* image, u32 size);
  [[nodiscard]] u8 CheckMD5(CKLF_String path);
  // From the file's current position to its end.
  [[nodiscard]] u8 CheckMD5(CKLF_StdFile* file);
  [[nodiscard]] u8 CheckMD5(CKLF_String name, const KLP_FileRef* parent);

  // Reading. Missing keys give 199 (or 0) with error 114; a typed reader
  // meeting another type gives 0 with error 118.
  [[nodiscard]] u8 GetRecType(CKLF_String key);
  // After a read that failed: 1 when the record is missing or of another
  // type (a default may stand for it), 0 when memory ran out or the store
  // could not be read.
  u8 IsRecordAbsent() const { return GetError() == klErrStoreNoKey || GetError() == klErrStoreType; }
  // Returns the type and fills data: numbers in place; for strings and byte
  // blocks a null data.ptr receives nothing and *length the stored length
  // (strings count their NUL); a non-null data.ptr receives the bytes when
  // length gives a capacity that holds them, else 199 with error 1 and
  // *length the length needed.
  [[nodiscard]] u8 GetRec(CKLF_String key, _KLSTORAGEDATA& data, u32* length = nullptr);
  [[nodiscard]] u8 GetRec(CKLF_String key, u8& v);
  [[nodiscard]] u8 GetRec(CKLF_String key, u16& v);
  [[nodiscard]] u8 GetRec(CKLF_String key, u32& v);
  [[nodiscard]] u8 GetRec(CKLF_String key, f64& v);
  [[nodiscard]] u8 GetRec(CKLF_String key, CKLF_String& v);
  [[nodiscard]] u8 GetRec(CKLF_String key, CKLF_Mem& v);
  // String or byte block: with a null buf len receives the stored length;
  // otherwise len is buf's capacity: the bytes are copied and len set to
  // their count, or 0 with error 1 (len set to the count needed).
  [[nodiscard]] u8 GetRec(CKLF_String key, u8* buf, u32& len);
  // A record that may be missing: 1 with v read, or with v as it was when
  // the store holds no such key or one of another type; 0 on any other
  // failure (no memory, a damaged store), with the code.
  template <class T>
  [[nodiscard]] u8 GetOptional(const CKLF_String& key, T& v) {
    return GetRec(key, v) || GetError() == klErrStoreNoKey || GetError() == klErrStoreType;
  }

  // Writing; all fail with 115 on a read-only storage. The parent folder
  // must exist (117). A value of the same type overwrites in place when it
  // fits, else the old record is deleted and a new one appended.
  [[nodiscard]] u8 SetRecord(CKLF_String key, u8 type, _KLSTORAGEDATA data, u32 length);
  [[nodiscard]] u8 SetRecord(CKLF_String key, u8 v);
  [[nodiscard]] u8 SetRecord(CKLF_String key, u16 v);
  [[nodiscard]] u8 SetRecord(CKLF_String key, u32 v);
  [[nodiscard]] u8 SetRecord(CKLF_String key, f64 v);
  [[nodiscard]] u8 SetRecord(CKLF_String key, CKLF_String v);
  [[nodiscard]] u8 SetRecord(CKLF_String key, const u8* bytes, u32 n);
  void SetRecord(CKLF_String, int) = delete;  // spell the width out
  // 116 when the key exists.
  [[nodiscard]] u8 AddFolder(CKLF_String key);
  // Deletes the record and everything below it (114 when missing).
  [[nodiscard]] u8 KillRec(CKLF_String key);
  // Moves a record (a folder with everything below it, children keep their
  // ids) to a new key. Error 1 when newKey exists, its parent is not a
  // folder, or it lies inside oldKey's own subtree.
  [[nodiscard]] u8 Rename(CKLF_String oldKey, CKLF_String newKey);

  // The direct children of folder ("" for the root) in file order: each
  // child's own name with its type as the user value. 117 when folder is
  // missing or not a folder.
  [[nodiscard]] u8 GetAllRecords(CKLF_String folder, CKLF_StringArray& out);
  // The index: every live key, ascending, its record offset as user value.
  CKLF_StringArray& GetAllRecordsArray() { return m_index; }
  u32 GetTotalRecords() const { return m_index.GetSize(); }
  u32 GetPhysicalSize() const { return m_image ? m_imageSize : m_fileLength; }
  u8 IsChanged() const { return m_changed; }
  u8 IsAccelerated() const { return m_accelerated; }

  // With no flag pointer all 8 bytes must be "KLCPSv40"; with one, byte 7
  // may be "0" (flag 0) or "S" (flag 1).
  [[nodiscard]] static u8 CheckSignature(const u8* head, u8* accelerated);

 private:
  struct RecHead;

  [[nodiscard]] u8 i_OpenFile(u16 mode);
  [[nodiscard]] u8 i_Parse(const u8* p, u32 size, u8 allowAccelerated);
  [[nodiscard]] u8 i_Close(bool force);
  void i_CloseFirst();
  void i_Reset();
  [[nodiscard]] u8 i_Read(u32 offset, void* buf, u32 n);
  [[nodiscard]] u8 i_Head(u32 offset, RecHead& h);
  i32 i_Find(const CKLF_String& key);
  [[nodiscard]] u8 i_CanWrite();
  [[nodiscard]] u8 i_KeyOk(const CKLF_String& key);
  [[nodiscard]] u8 i_ValueBytes(u8 type, const _KLSTORAGEDATA& data, u32 length, CKLF_Mem& out);
  [[nodiscard]] u8 i_ParentId(const CKLF_String& parentKey, u32& id, u16 missingError);
  [[nodiscard]] u8 i_Append(CKLF_Mem& rec, const CKLF_String& name, u8 type, u32 parent, u32 id, const u8* value, u32 valueLen);
  [[nodiscard]] u8 i_AddRecord(const CKLF_String& key, u8 type, const u8* value, u32 valueLen);
  [[nodiscard]] u8 i_Replace(i32 index, const CKLF_String& key, u8 type, const u8* value, u32 valueLen);
  [[nodiscard]] u8 i_SubtreeRange(const CKLF_String& key, u32& first, u32& end);
  [[nodiscard]] u8 i_IndexInsert(const CKLF_String& key, u32 offset);
  void i_IndexRemove(const CKLF_String& key, u32 offset);

  // Write transactions: bytes overwritten are journaled and put back, and
  // the file cut to its old length, when the change fails.
  void i_TxBegin();
  [[nodiscard]] u8 i_TxWrite(u32 offset, const void* p, u32 n);
  [[nodiscard]] u8 i_TxCommit();
  u8 i_TxFail();
  void i_TxRollback();

  const u8* m_image;
  u32 m_imageSize;
  CKLF_StdFile* m_file;
  CKLF_StringArray m_index;
  u32 m_mode;
  u32 m_count;
  u32 m_lastId;
  u8 m_changed;
  u32 m_fileLength;
  u8 m_fileNotOwned;
  u8 m_accelerated;
  u32 m_dataEnd;  // end of the record area
  u32 m_txLength;
  u32 m_txCount;
  u32 m_txLastId;
  CKLF_Mem m_journal;
  u32 m_journalUsed;
};
