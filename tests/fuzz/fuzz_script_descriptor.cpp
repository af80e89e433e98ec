// The plug-in reading its settings from a host's scripting descriptor.
// Input: byte 0 bit 0 picks the short-chunk form, bytes 1..3 give the text
// length (big-endian), and the rest, split at '|', are the chunk records'
// texts under the keys of that form. The read must never crash, leak a
// handle or read past a record.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "CKLT_FilterHost.h"
#include "CPluginMain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  bool small = data[0] & 1;
  int32_t length = static_cast<int32_t>(data[1]) << 16 | static_cast<int32_t>(data[2]) << 8 | data[3];
  std::vector<CKLT_FilterHost::DescRecord> records;
  CKLT_FilterHost::DescRecord size_rec;
  size_rec.key = KLP_FOURCC('k', 'l', 'a', 'S');
  size_rec.type = KLP_TYPE_INTEGER;
  size_rec.integer = (small ? 10000000 : 20000000) + length;
  records.push_back(size_rec);
  size_t start = 4;
  uint32_t index = 0;
  for (size_t i = 4; i <= size && index < 300; ++i) {
    if (i < size && data[i] != '|') continue;
    CKLT_FilterHost::DescRecord r;
    r.key = small ? KLP_FOURCC('k', 'l', 'a' + (index / 26) % 26, 'a' + index % 26) : KLP_FOURCC('k', 'l', 'e', '0' + index % 10);
    r.type = KLP_TYPE_TEXT;
    r.text.assign(reinterpret_cast<const char*>(data + start), i - start);
    records.push_back(r);
    start = i + 1;
    ++index;
  }
  CKLT_FilterHost host;
  if (!host.SetDocument(klpModeRGB, 1, 1, false)) return 0;
  host.SetDescriptor(records);
  CPluginMain plugin;
  int16_t result = -128;
  plugin.SetHostPointers(&host.Record(), nullptr, &result);
  CKLF_Mem block;
  uint8_t display = 0;
  (void)plugin.ReadEncryptedScriptParameter_V2(block, display);  // refused or read: handles balance either way
  if (host.LiveHandles() != 0 || host.LockedHandles() != 0 || host.OpenDescriptors() != 0) std::abort();
  return 0;
}
