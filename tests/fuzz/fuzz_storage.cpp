// Opens untrusted bytes as a keyed-storage container: from memory, and for
// the read-mostly variant (which opens from files only) through an
// in-memory file. What opens must answer every key it lists, in order.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "CKLF_Storage.h"

namespace {

void Exercise(CKLF_Storage& s) {
  CKLF_StringArray& ix = s.GetAllRecordsArray();
  CKLF_String prev;
  for (u32 i = 0; i < ix.GetSize(); ++i) {
    CKLF_String key = *ix.GetPtrAt(i);
    if (i && prev.Compare(key) < 0) __builtin_trap();
    if ((prev = key).IsError()) return;
    u8 type = s.GetRecType(key);
    if (type == CKLF_Storage::klRecMissing) __builtin_trap();
    _KLSTORAGEDATA d;
    d.ptr = nullptr;
    u32 len = 0;
    (void)s.GetRec(key, d, &len);  // its length, for the block read below
    if (type == CKLF_Storage::klRecString) {
      CKLF_String v;
      if (!s.GetRec(key, v)) __builtin_trap();
    } else if (type == CKLF_Storage::klRecBlock) {
      CKLF_Mem m;
      if (!s.GetRec(key, m) || m.GetSize() != len) __builtin_trap();
    } else if (type == CKLF_Storage::klRecFolder) {
      CKLF_StringArray kids;
      if (!s.GetAllRecords(key, kids)) __builtin_trap();
    }
  }
  CKLF_StringArray top;
  if (!s.GetAllRecords("", top)) __builtin_trap();
}

void CheckRefusal(CKLF_Storage& s) {
  u16 e = s.GetError();
  if (e != klErrStoreMagic && e != klErrNoMemory) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFu) return 0;
  CKLF_Storage s;
  (void)s.CheckMD5(data, static_cast<u32>(size));
  if (s.Open(data, static_cast<u32>(size)))
    Exercise(s);
  else
    CheckRefusal(s);

  if (size >= 8 && data[7] == 'S') {
    static int fd = memfd_create("fuzz_storage", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
    CKLF_Storage f;
    if (f.Open(path, 1))
      Exercise(f);
    else
      CheckRefusal(f);
  }
  return 0;
}
