#include "CKLT_SettingsSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "CKLF_8BFPluginVirtual.h"
#include "CKLP_ReplaceFile.h"
#include "CKLT_FileAccess.h"
#include "CKLT_FilterHost.h"
#include "CLayoutEditor.h"
#include "CSettingsBlock.h"
#include "CTessarette.h"

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

bool CKLT_SettingsSource::ReadFile(const std::string& path, int32_t width, int32_t height, std::vector<uint8_t>& block,
                                   std::string& error, bool* noMemory) {
  if (noMemory) *noMemory = false;
  std::vector<uint8_t> bytes;
  if (!CKLT_FileAccess::ReadAll(path, bytes, error)) return error = "cannot read " + path + ": " + error, false;
  if (Starts(bytes, CSettingsBlock::kOldMagic)) {
    CLayoutModel m;
    m.SetImageSize(width > 0 ? static_cast<u32>(width) : 0, height > 0 ? static_cast<u32>(height) : 0);
    CSettingsBlock codec;
    const u8* records = nullptr;
    u32 count = 0;
    u8 usedDefaults = 0;
    if (!codec.ReadDocument(m, bytes.data(), static_cast<u32>(bytes.size()), &records, count, &usedDefaults) ||
        usedDefaults)
      return error = path + " is a damaged settings document", false;
    return WriteLayout(m, true, block, error);
  }
  const size_t skip = Starts(bytes, CSettingsBlock::kMagic) ? CSettingsBlock::kMagicSize : 0;
  block.assign(bytes.begin() + static_cast<std::ptrdiff_t>(skip), bytes.end());
  if (block.empty() || !CSettingsBlock::IsValid(block.data(), static_cast<u32>(block.size()), 0))
    return error = path + (skip ? " is a damaged settings document"
                                : " is not a settings file (neither a saved "
                                  "document nor a block as in \"last.data\")"),
           false;
  const Replay replay = CheckReplay(block);
  if (replay == kNoMemory) {
    if (noMemory) *noMemory = true;
    return error = "out of memory while " + path + " was read", false;
  }
  if (replay == kDamaged)
    return error = path + (skip ? " is a damaged settings document" : " is a damaged settings block"), false;
  return true;
}

CKLT_SettingsSource::Replay CKLT_SettingsSource::CheckReplay(const std::vector<uint8_t>& block) {
  CKLF_Mem mem;
  if (block.empty() || block.size() > 0xFFFFFFFFu) return kDamaged;
  if (!mem.alloc(static_cast<u32>(block.size()))) return kNoMemory;
  std::copy(block.begin(), block.end(), mem.GetPtr());
  CTessarette engine;
  u8 layout = 0;
  u32 count = 0;
  const u8* records = nullptr;
  if (engine.InitFromLastSettingsBinary(&mem, layout, count, records)) return kReplayable;
  return engine.GetError() == klErrNoMemory ? kNoMemory : kDamaged;
}

std::string CKLT_SettingsSource::LastDataPath(const std::string& pluginPath) {
  const size_t slash = pluginPath.rfind('/');
  return (slash == std::string::npos ? std::string(".") : pluginPath.substr(0, slash)) + "/last.data";
}

bool CKLT_SettingsSource::DefaultBlock(int32_t width, int32_t height, int columns, int rows, bool layoutMode,
                                       std::vector<uint8_t>& block, std::string& error,
                                       const CKLT_LayoutShaper::Options* shape) {
  CLayoutEditor editor;
  CLayoutModel& m = editor.model;
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
  if (shape && shape->Any() && !CKLT_LayoutShaper::Shape(*shape, editor, error)) return false;
  return WriteLayout(m, layoutMode, block, error);
}

const uint32_t CKLT_SettingsSource::kDescriptorLimit = CKLF_8BFPluginVirtual::klScriptMaxHex / 2;

bool CKLT_SettingsSource::Record(CKLT_FilterHost& host, const std::vector<uint8_t>& block, std::string& error,
                                 bool* noMemory, bool* tooLarge) {
  // The plug-in's own adapter writes the records, as a run with the dialog
  // does when the user applies; the host keeps what it was given.
  host.ResetRun();
  CKLF_8BFPluginVirtual recorder;
  int16_t result = 0;
  recorder.SetHostPointers(&host.Record(), nullptr, &result);
  if (noMemory) *noMemory = false;
  if (tooLarge) *tooLarge = false;
  if (block.empty() || !recorder.WriteEncryptedScriptParameter_V2(block.data(), static_cast<u32>(block.size()))) {
    const bool memory = recorder.GetError() == klErrNoMemory || host.MemoryFailed();
    const bool large = !memory && recorder.GetError() == klErrZipCompress;
    if (noMemory) *noMemory = memory;
    if (tooLarge) *tooLarge = large;
    error = memory  ? "out of memory while the settings were recorded"
            : large ? TooLargeReason(block.size())
                    : "the host's scripting descriptor refused the settings";
    return false;
  }
  if (!host.TakeDescriptor()) return error = "the settings were recorded in a descriptor that cannot be read", false;
  return true;
}

CKLT_SettingsSource::Fit CKLT_SettingsSource::FitsDescriptor(const std::vector<uint8_t>& block) {
  if (block.empty() || block.size() > 0xFFFFFFFFu) return kFitUnknown;
  CKLF_8BFPluginVirtual adapter;
  if (adapter.FitsScriptParameter(block.data(), static_cast<u32>(block.size()))) return kFits;
  return adapter.GetError() == klErrZipCompress ? kTooLarge : kFitUnknown;
}

std::string CKLT_SettingsSource::TooLargeReason(size_t blockBytes) {
  return "the settings do not fit the scripting descriptor: their block of " + std::to_string(blockBytes) +
         " bytes compresses to more than the " + std::to_string(kDescriptorLimit) + " bytes it holds";
}

bool CKLT_SettingsSource::HoldsSettings(const std::vector<CKLT_FilterHost::DescRecord>& records) {
  // The length record the plug-in writes last, once every chunk is in.
  for (const CKLT_FilterHost::DescRecord& r : records)
    if (r.key == CKLF_8BFPluginVirtual::klScriptLengthKey && r.type == KLP_TYPE_INTEGER &&
        r.integer > CKLF_8BFPluginVirtual::klScriptSmallBase)
      return true;
  return false;
}

bool CKLT_SettingsSource::FromDescriptor(CKLT_FilterHost& host, std::vector<uint8_t>& block, std::string& error,
                                         bool* noMemory) {
  // Read back by the plug-in's own adapter, as a replay reads it.
  host.ResetRun();
  CKLF_8BFPluginVirtual reader;
  int16_t result = 0;
  reader.SetHostPointers(&host.Record(), nullptr, &result);
  CKLF_Mem mem;
  u8 display = 0;
  if (!reader.ReadEncryptedScriptParameter_V2(mem, display)) {
    const bool memory = reader.GetError() == klErrNoMemory || host.MemoryFailed();
    if (noMemory) *noMemory = memory;
    return error = memory ? "out of memory while the settings were read" : "the scripting descriptor holds no settings",
           false;
  }
  block.assign(mem.GetPtr(), mem.GetPtr() + mem.GetSize());
  host.ResetRun();
  return true;
}

bool CKLT_SettingsSource::WriteDocument(const std::string& path, const std::vector<uint8_t>& block,
                                        std::string& error) {
  std::vector<uint8_t> bytes(CSettingsBlock::kMagicSize + block.size());
  std::copy(CSettingsBlock::kMagic, CSettingsBlock::kMagic + CSettingsBlock::kMagicSize, bytes.begin());
  std::copy(block.begin(), block.end(), bytes.begin() + CSettingsBlock::kMagicSize);
  if (CKLP_ReplaceFile::WriteAll(path, bytes, error)) return true;
  const int saved = errno;
  error = "cannot write " + path + ": " + (saved == ENOMEM ? std::string("out of memory") : error);
  errno = saved;
  return false;
}

bool CKLT_SettingsSource::IsLayoutMode(const std::vector<uint8_t>& block) {
  // The replay reads its second byte, the puzzle flag again.
  return block.size() >= 2 && block[1] == 0;
}
