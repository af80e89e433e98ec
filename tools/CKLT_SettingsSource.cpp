#include "CKLT_SettingsSource.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "CKLF_8BFPluginVirtual.h"
#include "CKLT_FilterHost.h"
#include "CLayoutModel.h"
#include "CSettingsBlock.h"

namespace {

bool Starts(const std::vector<uint8_t>& b, const char* magic) {
  return b.size() >= CSettingsBlock::kMagicSize && std::memcmp(b.data(), magic, CSettingsBlock::kMagicSize) == 0;
}

bool WriteLayout(const CLayoutModel& m, bool layoutMode, std::vector<uint8_t>& block, std::string& error) {
  CSettingsBlock codec;
  CKLF_Mem mem;
  u32 length = 0;
  if (!codec.Write(m, layoutMode ? 0 : 1, nullptr, 0, &mem, length)) {
    error = "cannot build the settings block (out of memory)";
    return false;
  }
  block.assign(mem.GetPtr(), mem.GetPtr() + length);
  return true;
}

}  // namespace

bool CKLT_SettingsSource::ReadFile(const std::string& path, int32_t width, int32_t height,
                                   std::vector<uint8_t>& block, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) {
    error = path + " is empty";
    return false;
  }
  if (Starts(bytes, CSettingsBlock::kMagic)) {
    block.assign(bytes.begin() + CSettingsBlock::kMagicSize, bytes.end());
    return true;
  }
  if (Starts(bytes, CSettingsBlock::kOldMagic)) {
    CLayoutModel m;
    m.SetImageSize(width > 0 ? static_cast<u32>(width) : 0, height > 0 ? static_cast<u32>(height) : 0);
    CSettingsBlock codec;
    const u8* records = nullptr;
    u32 count = 0;
    u8 usedDefaults = 0;
    if (!codec.ReadDocument(m, bytes.data(), static_cast<u32>(bytes.size()), &records, count, &usedDefaults)) {
      error = "cannot read the layout of " + path;
      return false;
    }
    if (usedDefaults) {
      error = path + " is damaged";
      return false;
    }
    return WriteLayout(m, true, block, error);
  }
  block = bytes;
  return true;
}

bool CKLT_SettingsSource::DefaultBlock(int32_t width, int32_t height, int columns, int rows, bool layoutMode,
                                       std::vector<uint8_t>& block, std::string& error) {
  CLayoutModel m;
  m.SetImageSize(width > 0 ? static_cast<u32>(width) : 0, height > 0 ? static_cast<u32>(height) : 0);
  if (!m.settings_LoadDefaults()) {
    error = "cannot lay the default grid (out of memory)";
    return false;
  }
  if (columns > 0 && rows > 0) {
    if (columns > 101 || rows > 101) {
      error = "a grid has 1 to 101 columns and rows";
      return false;
    }
    if (!m.spl_SplitEvenParts(static_cast<u16>(columns), static_cast<u16>(rows), 1, 1)) {
      error = "cannot lay the grid (out of memory)";
      return false;
    }
    for (u32 i = 0; i < m.vKnifeCount; ++i) CLayoutModel::settings_SetDefaultKnife(&m.vKnives[i]);
    for (u32 i = 0; i < m.hKnifeCount; ++i) CLayoutModel::settings_SetDefaultKnife(&m.hKnives[i]);
  }
  return WriteLayout(m, layoutMode, block, error);
}

bool CKLT_SettingsSource::Record(CKLT_FilterHost& host, const std::vector<uint8_t>& block, std::string& error) {
  // The plug-in's own adapter writes the records, as a run with the dialog
  // does when the user applies; the host keeps what it was given.
  host.ResetRun();
  CKLF_8BFPluginVirtual recorder;
  int16_t result = 0;
  recorder.SetHostPointers(&host.Record(), nullptr, &result);
  if (block.empty() || !recorder.WriteEncryptedScriptParameter_V2(block.data(), static_cast<u32>(block.size()))) {
    error = "the settings do not fit the scripting descriptor";
    return false;
  }
  host.TakeDescriptor();
  return true;
}

bool CKLT_SettingsSource::WriteDocument(const std::string& path, const std::vector<uint8_t>& block,
                                        std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(CSettingsBlock::kMagic, CSettingsBlock::kMagicSize);
  out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
  out.close();
  if (!out) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}
