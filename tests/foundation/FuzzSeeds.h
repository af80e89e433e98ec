// Seed inputs of the fuzz targets, made with the real writers.
#pragma once

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "CKLF_SecureBlock.h"
#include "CKLF_ZipBlock.h"

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
  s.SetSourceBlock(CKLF_String("a knife shape"));
  if (s.Process())
    out.push_back({"cipher_block", std::vector<u8>(s.GetDestBlock()->GetPtr(),
                                                   s.GetDestBlock()->GetPtr() + s.GetDestBlock()->GetSize())});
  return out;
}

}  // namespace klftest
