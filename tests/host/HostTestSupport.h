// Helpers of the plug-in shell's tests: a document in the in-memory host
// and a way to run a plug-in object of the test's own through the entry.
#pragma once

#include <random>
#include <vector>

#include "CKLP_FilterHost.h"
#include "CPluginMain.h"

namespace hosttest {

// Sends the entry's calls to one plug-in object chosen by the test.
struct ObjectEntry {
  static CPluginMain* target;
  static KLP_FileRef folder;
  static void Entry(int16_t selector, KLP_FilterRecord* record, intptr_t* data, int16_t* result) {
    target->SetHostPointers(record, data, result);
    if (result) *result = 0;
    target->SetPluginFolder(folder);
    target->HandleSelector(selector);
  }
};

// A document of random planes.
inline void RandomDocument(CKLP_FilterHost& host, int16_t mode, int32_t w, int32_t h, bool transparency,
                           std::mt19937& rng) {
  host.SetDocument(mode, w, h, transparency);
  for (int p = 0; p < host.PlaneCount(); ++p)
    for (auto& v : host.Plane(p)) v = static_cast<uint8_t>(rng());
}

}  // namespace hosttest
