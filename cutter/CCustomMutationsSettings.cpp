#include "CCustomMutationsSettings.h"

#include <cmath>

#include "KLF_EditLineValue.h"

const char CCustomMutationsSettings::kFolder[] = "Custom Mutations Settings";
const char* const CCustomMutationsSettings::kKeys[kAmounts] = {
    "Custom Mutations Settings>MutS", "Custom Mutations Settings>MutU", "Custom Mutations Settings>MutH"};

u8 CCustomMutationsSettings::Load(CKLF_Storage* conf) {
  for (u32 k = 0; conf && k < kAmounts; ++k) {
    f64 v = amount[k];
    if (!conf->GetOptional(kKeys[k], v)) return FailFrom(*conf, klErrNoMemory);
    amount[k] = static_cast<f32>(v);
  }
  return 1;
}

u8 CCustomMutationsSettings::Save(CKLF_Storage* conf) {
  if (!conf) return Fail(klErrEmpty);
  if (conf->GetRecType(kFolder) != CKLF_Storage::klRecFolder && !conf->AddFolder(kFolder))
    return FailFrom(*conf, klErrFileWrite);
  for (u32 k = 0; k < kAmounts; ++k)
    if (!conf->SetRecord(kKeys[k], static_cast<f64>(amount[k]))) return FailFrom(*conf, klErrFileWrite);
  return 1;
}

u32 CCustomMutationsSettings::Percent(f32 fraction) {
  const f64 p = std::trunc(static_cast<f64>(fraction) * 100.0 + 0.5);
  if (std::isnan(p) || p <= 0) return 0;
  return p >= 100 ? 100u : static_cast<u32>(p);
}

u32 CCustomMutationsSettings::PercentOfText(const char* text) { return klEditLineValueIn(text, 0, 100); }
