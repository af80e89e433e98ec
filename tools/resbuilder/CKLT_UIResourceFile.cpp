#include "CKLT_UIResourceFile.h"

#include <cstdio>
#include <set>

#include "CKLF_Storage.h"
#include "CKLF_ZipBlock.h"
#include "KLF_BigEndian.h"

bool CKLT_UIResourceFile::i_Add(const std::string& key, u8 type, std::vector<u8> bytes, bool packed) {
  if (m_records.count(key)) {
    m_error = "the key \"" + key + "\" is defined twice";
    return false;
  }
  m_records[key] = Record{type, std::move(bytes), packed};
  return true;
}

bool CKLT_UIResourceFile::AddU8(const std::string& key, u8 v) {
  return i_Add(key, CKLF_Storage::klRecU8, {v}, false);
}

bool CKLT_UIResourceFile::AddU16(const std::string& key, u16 v) {
  std::vector<u8> b(2);
  KLF_PutBE16(b.data(), v);
  return i_Add(key, CKLF_Storage::klRecU16, b, false);
}

bool CKLT_UIResourceFile::AddU32(const std::string& key, u32 v) {
  std::vector<u8> b(4);
  KLF_PutBE32(b.data(), v);
  return i_Add(key, CKLF_Storage::klRecU32, b, false);
}

bool CKLT_UIResourceFile::AddString(const std::string& key, const std::string& v) {
  return i_Add(key, CKLF_Storage::klRecString, std::vector<u8>(v.begin(), v.end()), false);
}

bool CKLT_UIResourceFile::AddBlock(const std::string& key, const std::vector<u8>& bytes) {
  return i_Add(key, CKLF_Storage::klRecBlock, bytes, false);
}

bool CKLT_UIResourceFile::AddPacked(const std::string& key, const std::vector<u8>& bytes) {
  return i_Add(key, CKLF_Storage::klRecBlock, bytes, true);
}

namespace {

bool Pack(const std::vector<u8>& in, std::vector<u8>& out) {
  CKLF_ZipBlock zip;
  zip.SetMode(1);
  zip.SetSourceBlock(in.data(), static_cast<u32>(in.size()));
  CKLF_Mem dest;
  zip.SetDestBlock(&dest);
  if (!zip.Process()) return false;
  out.assign(dest.GetPtr(), dest.GetPtr() + dest.GetSize());
  return true;
}

std::string Code(const CKLF_ErrorManager& e) {
  return std::to_string(e.GetError()) + " (" + KLF_ErrorText(e.GetError()) + ")";
}

}  // namespace

bool CKLT_UIResourceFile::i_WriteAll(const std::string& path) {
  std::remove(path.c_str());
  CKLF_Storage store;
  if (!store.Open(CKLF_String(path.c_str()), 2)) {
    m_error = path + ": cannot create the container: error " + Code(store);
    return false;
  }
  std::set<std::string> folders;
  for (const auto& [key, rec] : m_records) {
    for (size_t p = key.find('>'); p != std::string::npos; p = key.find('>', p + 1)) {
      const std::string folder = key.substr(0, p);
      if (folders.insert(folder).second && !store.AddFolder(CKLF_String(folder.c_str()))) {
        m_error = "folder \"" + folder + "\": error " + Code(store);
        return false;
      }
    }
    std::vector<u8> bytes = rec.bytes;
    if (rec.packed && !Pack(rec.bytes, bytes)) {
      m_error = "\"" + key + "\": cannot compress the record";
      return false;
    }
    _KLSTORAGEDATA data;
    u32 length = 0;
    switch (rec.type) {
      case CKLF_Storage::klRecU8: data.byte = bytes[0]; break;
      case CKLF_Storage::klRecU16: data.word = KLF_GetBE16(bytes.data()); break;
      case CKLF_Storage::klRecU32: data.dword = KLF_GetBE32(bytes.data()); break;
      default:
        bytes.push_back(0);  // strings are stored with their NUL; blocks ignore it
        data.ptr = bytes.data();
        length = static_cast<u32>(bytes.size() - (rec.type == CKLF_Storage::klRecBlock ? 1 : 0));
    }
    if (!store.SetRecord(CKLF_String(key.c_str()), rec.type, data, length)) {
      m_error = "\"" + key + "\": error " + Code(store);
      return false;
    }
  }
  if (!store.Close()) {
    m_error = path + ": cannot finish the container: error " + Code(store);
    return false;
  }
  return true;
}

// Reads every record back and compares it with what was meant.
bool CKLT_UIResourceFile::i_Verify(const std::string& path) {
  CKLF_Storage store;
  const CKLF_String p(path.c_str());
  if (!store.CheckMD5(p) || !store.Open(p, 1)) {
    m_error = path + ": the written container does not read back: error " + Code(store);
    return false;
  }
  for (const auto& [key, rec] : m_records) {
    const CKLF_String k(key.c_str());
    bool same = store.GetRecType(k) == rec.type;
    if (same && rec.type == CKLF_Storage::klRecU8) {
      u8 v = 0;
      same = store.GetRec(k, v) && v == rec.bytes[0];
    } else if (same && rec.type == CKLF_Storage::klRecU16) {
      u16 v = 0;
      same = store.GetRec(k, v) && v == KLF_GetBE16(rec.bytes.data());
    } else if (same && rec.type == CKLF_Storage::klRecU32) {
      u32 v = 0;
      same = store.GetRec(k, v) && v == KLF_GetBE32(rec.bytes.data());
    } else if (same && rec.type == CKLF_Storage::klRecString) {
      CKLF_String v;
      same = store.GetRec(k, v) && std::string(v.GetStr()) == std::string(rec.bytes.begin(), rec.bytes.end());
    } else if (same) {
      CKLF_Mem v, unpacked;
      same = store.GetRec(k, v) != 0;
      const CKLF_Mem* got = &v;
      if (same && rec.packed) {
        CKLF_ZipBlock zip;
        zip.SetMode(0);
        zip.SetSourceBlock(v);
        zip.SetDestBlock(&unpacked);
        same = zip.Process() != 0;
        got = &unpacked;
      }
      same = same && got->GetSize() == rec.bytes.size() &&
             std::equal(rec.bytes.begin(), rec.bytes.end(), got->GetPtr());
    }
    if (!same) {
      m_error = path + ": \"" + key + "\" does not read back as written";
      return false;
    }
  }
  return true;
}

bool CKLT_UIResourceFile::Write(const std::string& path) {
  const std::string tmp = path + ".tmp";
  if (!i_WriteAll(tmp) || !i_Verify(tmp)) {
    std::remove(tmp.c_str());
    return false;
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    m_error = path + ": cannot move the new file into place";
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}
