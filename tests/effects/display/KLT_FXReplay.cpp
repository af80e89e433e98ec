#include "KLT_FXReplay.h"

#include <algorithm>

#include "CKLT_HostDocument.h"
#include "CKLT_SettingsSource.h"
#include "CLayoutEditor.h"
#include "CPluginMain.h"
#include "CSettingsBlock.h"

namespace klt_fxreplay {

bool WritePSD(const std::string& path, int32_t width, int32_t height, const std::vector<Bytes>& planes,
              const Bytes& alpha, std::string& error) {
  CKLT_HostDocument doc;
  doc.mode = klpModeRGB;
  doc.width = width;
  doc.height = height;
  CKLT_HostDocument::Layer photo, pattern;
  for (CKLT_HostDocument::Layer* l : {&photo, &pattern}) l->width = width, l->height = height;
  photo.name = "Photo";
  photo.planes = planes;
  photo.alpha = alpha;
  pattern.name = "Pattern";
  pattern.planes.assign(3, Bytes(static_cast<size_t>(width) * height));
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const size_t i = static_cast<size_t>(y) * width + x;
      const bool band = (x + y) / 6 % 2 == 0;
      pattern.planes[0][i] = band ? 240 : 70;
      pattern.planes[1][i] = band ? 150 : 30;
      pattern.planes[2][i] = band ? 40 : 140;
    }
  doc.layers = {photo, pattern};
  return doc.Write(path, error);
}

bool ServePSD(const std::string& path, CKLT_FilterHost& host, std::string& error) {
  CKLT_HostDocument doc;
  if (doc.ReadFile(path, 1ull << 30, error) != CKLT_HostDocument::kOk) return false;
  if (doc.layers.size() < 2 || doc.mode != klpModeRGB) return error = path + ": not the two RGB layers written", false;
  const CKLT_HostDocument::Layer& first = doc.layers[0];
  if (!host.SetDocument(klpModeRGB, doc.width, doc.height, true, false))
    return error = "the document cannot be served", false;
  for (int c = 0; c < 3; ++c) host.Plane(c) = first.planes[static_cast<size_t>(c)];
  host.Plane(3) = first.alpha.empty() ? Bytes(static_cast<size_t>(doc.width) * doc.height, 255) : first.alpha;
  std::vector<Bytes> merged;
  Bytes mergedAlpha;
  doc.Flatten(merged, mergedAlpha);
  host.SetMergedComposite(std::move(merged), std::move(mergedAlpha));
  for (size_t i = 0; i < doc.layers.size(); ++i) {
    const CKLT_HostDocument::Layer& l = doc.layers[i];
    CKLT_FilterHost::Layer hl;
    hl.id = static_cast<int32_t>(i + 1);
    hl.name = l.name;
    hl.rect = hl.bounds = {l.left, l.top, l.left + l.width, l.top + l.height};
    hl.planes = l.planes;
    hl.transparency = l.alpha;
    host.AddLayer(std::move(hl));
  }
  return true;
}

bool BlockWithRecords(const Bytes& layout, int32_t width, int32_t height, const CTessarette& engine, Bytes& out) {
  CLayoutEditor editor;
  CLayoutModel& m = editor.model;
  m.SetImageSize(static_cast<u32>(width), static_cast<u32>(height));
  CSettingsBlock settings;
  const u8* records = nullptr;
  u32 count = 0;
  if (!settings.Read(m, layout.data(), static_cast<u32>(layout.size()), &records, count)) return false;
  CKLF_Mem block;
  u32 length = 0;
  if (!settings.WritePuzzle(m, engine, &block, length)) return false;
  out.assign(block.GetPtr(), block.GetPtr() + length);
  return true;
}

namespace {

CPluginMain* g_plugin = nullptr;
KLP_FileRef g_folder;

void Entry(int16_t selector, KLP_FilterRecord* record, intptr_t* data, int16_t* result) {
  g_plugin->SetHostPointers(record, data, result);
  if (result) *result = 0;
  g_plugin->SetPluginFolder(g_folder);
  g_plugin->HandleSelector(selector);
}

}  // namespace

int16_t Replay(CKLT_FilterHost& host, const Bytes& block, const std::string& folder) {
  std::string error;
  if (!CKLT_SettingsSource::Record(host, block, error)) return -1;
  CPluginMain plugin;
  g_plugin = &plugin;
  if (g_folder.SetPath(folder.c_str()) != klpNoErr) return -1;
  host.ResetRun();
  const int16_t result = host.RunFilter(Entry, false);
  g_plugin = nullptr;
  return result;
}

}  // namespace klt_fxreplay
