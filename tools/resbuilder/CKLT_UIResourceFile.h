// The records of the UI resource file as the builder gathers them, and the
// writing of the keyed-storage container: folders are made for every key's
// parents, pictures and fonts go in as compressed blocks, and the written
// file is checked afterwards (digest, then every record read back and
// compared, compressed ones also unpacked).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "KLF_Types.h"

class CKLT_UIResourceFile {
 public:
  // Each returns false (with a message) when the key is already taken.
  bool AddU8(const std::string& key, u8 v);
  bool AddU16(const std::string& key, u16 v);
  bool AddU32(const std::string& key, u32 v);
  bool AddString(const std::string& key, const std::string& v);
  bool AddBlock(const std::string& key, const std::vector<u8>& bytes);
  // Compressed with the framework's block format before it is stored.
  bool AddPacked(const std::string& key, const std::vector<u8>& bytes);
  bool Has(const std::string& key) const { return m_records.count(key) != 0; }
  size_t Count() const { return m_records.size(); }

  // Writes the container to a temporary file beside path, verifies it and
  // moves it over path.
  bool Write(const std::string& path);
  const std::string& Error() const { return m_error; }

 private:
  struct Record {
    u8 type;
    std::vector<u8> bytes;  // numbers big-endian, strings without the NUL
    bool packed;
  };

  bool i_Add(const std::string& key, u8 type, std::vector<u8> bytes, bool packed);
  bool i_WriteAll(const std::string& path);
  bool i_Verify(const std::string& path);

  std::map<std::string, Record> m_records;
  std::string m_error;
};
