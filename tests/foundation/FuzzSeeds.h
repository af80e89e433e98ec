// Seed inputs of the fuzz targets, made with the real writers.
#pragma once

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "CKLF_SecureBlock.h"
#include "CKLF_ZipBlock.h"
#include "StorageBytes.h"

namespace klftest {

typedef std::vector<std::pair<std::string, std::vector<u8>>> SeedList;

inline std::vector<u8> SeedPack(const std::vector<u8>& src, u8 mode) {
  CKLF_ZipBlock z;
  z.SetMode(mode);
  z.SetSourceBlock(src.data(), static_cast<u32>(src.size()));
  if (!z.Process()) return {};
  return std::vector<u8>(z.GetDestBlock()->GetPtr(), z.GetDestBlock()->GetPtr() + z.GetDestBlock()->GetSize());
}

inline SeedList ZipBlockSeeds() {
  SeedList out;
  std::string text = "Windows Positions>Main>ROOT>Left Cutter Settings>LinkRC Preferences>OnLoadZoom";
  out.push_back({"zip_text", SeedPack(std::vector<u8>(text.begin(), text.end()), 1)});
  out.push_back({"zip_zeros", SeedPack(std::vector<u8>(300, 0), 3)});
  std::mt19937 rng(1);
  std::vector<u8> noise(200);
  for (auto& b : noise) b = static_cast<u8>(rng());
  out.push_back({"zip_noise", SeedPack(noise, 2)});
  CKLF_SecureBlock s;
  s.SetPassword(CKLF_String("fuzz"));
  if (s.SetSourceBlock(CKLF_String("a knife shape")) && s.Process())
    out.push_back({"cipher_block", std::vector<u8>(s.GetDestBlock()->GetPtr(),
                                                   s.GetDestBlock()->GetPtr() + s.GetDestBlock()->GetSize())});
  return out;
}

inline SeedList StorageSeeds() {
  SeedList out;
  RawStore empty;
  out.push_back({"store_empty", empty.Bytes()});
  RawStore r;
  u32 f = r.Add(0, 0xFFFFFFFF, 1, "Preferences", {});
  u32 a = r.Add(1, 1, 2, "OnLoadZoom", {4});
  r.Add(0x63, 1, 3, "Old", {0, 7});
  u32 b = r.Add(4, 1, 4, "Text", RawStore::Str("Cutter"));
  u32 c = r.Add(5, 0xFFFFFFFF, 5, "Blob", {0, 0, 0, 3, 9, 8, 7});
  r.Add(2, 1, 6, "w", {1, 2});
  r.Add(3, 1, 7, "dw", RawStore::U32(7));
  r.Add(6, 0xFFFFFFFF, 8, "Dbl", {0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18});
  r.Add(0, 1, 9, "Sub", {});
  r.Add(1, 9, 10, "x", {1});
  out.push_back({"store_all_types", r.Bytes()});
  // Two folders whose parents point at each other, out of the root's reach.
  RawStore loop = r;
  loop.Add(0, 12, 11, "L1", {});
  loop.Add(0, 11, 12, "L2", {});
  out.push_back({"store_unreachable_loop", loop.Bytes()});
  out.push_back({"store_accelerated",
                 r.Accelerated({{"Preferences", f}, {"Preferences>OnLoadZoom", a}, {"Preferences>Text", b}, {"Blob", c}})});
  return out;
}

}  // namespace klftest
