// Helpers of the plug-in shell's tests: a document in the in-memory host,
// a plug-in object bound to its record, and a way to run a plug-in object
// of the test's own through the entry.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "CKLT_FilterHost.h"
#include "CPluginMain.h"

namespace hosttest {

typedef std::vector<uint8_t> Bytes;

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

// A plug-in object on the host's current record.
template <class Plugin = CPluginMain>
struct Bound {
  Plugin plugin;
  int16_t result = 0;
  explicit Bound(CKLT_FilterHost& host) { Bind(host); }
  void Bind(CKLT_FilterHost& host) { plugin.SetHostPointers(&host.Record(), nullptr, &result); }
  // A new run of the host, then FillPluginData.
  bool Fill(CKLT_FilterHost& host) {
    host.ResetRun();
    Bind(host);
    return plugin.FillPluginData() != 0;
  }
};

// A document of random planes.
inline void RandomDocument(CKLT_FilterHost& host, int16_t mode, int32_t w, int32_t h, bool transparency,
                           std::mt19937& rng) {
  EXPECT_TRUE(host.SetDocument(mode, w, h, transparency));
  for (int p = 0; p < host.PlaneCount(); ++p)
    for (auto& v : host.Plane(p)) v = static_cast<uint8_t>(rng());
}

// n bytes that do not compress, the same for a seed.
inline Bytes Noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

inline std::vector<Bytes> Planes(const CKLT_FilterHost& host) {
  std::vector<Bytes> p;
  for (int i = 0; i < host.PlaneCount(); ++i) p.push_back(host.Plane(i));
  return p;
}

inline void SetPlanes(CKLT_FilterHost& host, const std::vector<Bytes>& p) {
  for (int i = 0; i < host.PlaneCount(); ++i) host.Plane(i) = p[static_cast<size_t>(i)];
}

}  // namespace hosttest
