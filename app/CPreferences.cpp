#include "CPreferences.h"

#include <cstdlib>

#include "CKLF_Image.h"
#include "CKLF_Storage.h"

namespace {

const char* const kFlags[] = {"OnLoadZoom", "DelKnifeOpacity", "AlphaSolid", "ExtAlphaSolid"};
const char* const kColours[] = {"AlphaColor1",    "AlphaColor2",    "AlphaColorSolid",
                                "ExtAlphaColor1", "ExtAlphaColor2", "ExtAlphaColorSolid"};

u8* Flag(CPreferences& p, u32 i) {
  u8* f[] = {&p.onLoadZoom, &p.delKnifeOpacity, &p.alphaSolid, &p.extAlphaSolid};
  return f[i];
}

// The records' colours, in their order.
kltRGBA8* Colour(CPreferences& p, u32 i) {
  kltRGBA8* c[] = {&p.alphaColor1,    &p.alphaColor2,    &p.alphaColorSolid,
                   &p.extAlphaColor1, &p.extAlphaColor2, &p.extAlphaColorSolid};
  return c[i];
}

}  // namespace

const char* const CPreferences::kFolder = "Preferences";

CPreferences CPreferences::Defaults() {
  return CPreferences{1,
                      70,
                      0,
                      0,
                      {255, 255, 255, 255},
                      {192, 192, 192, 255},
                      {255, 255, 255, 255},
                      {204, 204, 204, 255},
                      {200, 200, 200, 255},
                      {200, 200, 200, 255}};
}

u8 CPreferences::Read(CKLF_Storage* store, CPreferences& p, u16* error) {
  p = Defaults();
  CKLF_String key;
  const auto fail = [error](u16 code) -> u8 {
    if (error) *error = code ? code : static_cast<u16>(klErrNoMemory);
    return 0;
  };
  for (u32 i = 0; store && i < 4; ++i) {
    u8 v = 0;
    if (!key.Format("%s>%s", kFolder, kFlags[i])) return fail(klErrNoMemory);
    if (store->GetRec(key, v))
      *Flag(p, i) = v;
    else if (!store->IsRecordAbsent())
      return fail(store->GetError());
  }
  for (u32 i = 0; store && i < 6; ++i) {
    u8 rgba[4];
    u32 length = 4;
    if (!key.Format("%s>%s", kFolder, kColours[i])) return fail(klErrNoMemory);
    const u8 type = store->GetRecType(key);
    if (type == CKLF_Storage::klRecMissing && !store->IsRecordAbsent()) return fail(store->GetError());
    // A block of another size stands for no colour (a longer one is
    // refused with error 1).
    if (type != CKLF_Storage::klRecBlock) continue;
    if (!store->GetRec(key, rgba, length)) {
      if (store->GetError() == klErrBadArg) continue;
      return fail(store->GetError());
    }
    if (length == 4) *Colour(p, i) = kltRGBA8{rgba[0], rgba[1], rgba[2], rgba[3]};
  }
  return 1;
}

u8 CPreferences::Write(CKLF_Storage* store) const {
  if (!store) return 0;
  if (store->GetRecType(kFolder) != CKLF_Storage::klRecFolder && !store->AddFolder(kFolder)) return 0;
  CPreferences p = *this;
  CKLF_String key;
  for (u32 i = 0; i < 4; ++i) {
    if (!key.Format("%s>%s", kFolder, kFlags[i])) return store->Fail(klErrNoMemory);
    if (!store->SetRecord(key, *Flag(p, i))) return 0;
  }
  for (u32 i = 0; i < 6; ++i) {
    const kltRGBA8 c = *Colour(p, i);
    const u8 rgba[4] = {c.red, c.green, c.blue, c.alpha};
    if (!key.Format("%s>%s", kFolder, kColours[i])) return store->Fail(klErrNoMemory);
    if (!store->SetRecord(key, rgba, 4)) return 0;
  }
  return 1;
}

u8 CPreferences::OpacityText(u8 value, CKLF_String& out) {
  const u32 p = value * 1000u / 255u;
  return out.Format("%u", p / 10 + (p % 10 >= 6 ? 1 : 0)) != nullptr;
}

u8 CPreferences::OpacityFromText(const char* text) {
  const int n = text ? std::atoi(text) : 0;
  if (n > 49) return 127;
  return static_cast<u8>((n < 10 ? 10 : n) * 255 / 100);
}

u8 CPreferences::OpacityTextOnLeave(const char* text, CKLF_String& out) {
  const int n = text ? std::atoi(text) : 0;
  return out.Format("%d", n < 10 ? 10 : (n > 50 ? 50 : n)) != nullptr;
}

kltRGBA8& CPreferences::SwatchColour(Swatch s) {
  kltRGBA8* c[] = {&alphaColor1,    &alphaColor2,    &alphaColorSolid,
                   &extAlphaColor1, &extAlphaColor2, &extAlphaColorSolid};
  return *c[s < kSwatches ? s : 0];
}

void CPreferences::ChooseSwatchColour(Swatch s, kltRGBA8 colour) {
  if (s >= kSwatches) return;
  SwatchColour(s) = colour;
  u8& solid = s < kFCB1 ? alphaSolid : extAlphaSolid;
  solid = s == kTSolid || s == kFSolid ? 1 : 0;
}

void CPreferences::CheckerColours(kltRGBA8& a, kltRGBA8& b) const {
  a = alphaSolid ? alphaColorSolid : alphaColor1;
  b = alphaSolid ? alphaColorSolid : alphaColor2;
}

void CPreferences::MarginColours(kltRGBA8& a, kltRGBA8& b) const {
  a = extAlphaSolid ? extAlphaColorSolid : extAlphaColor1;
  b = extAlphaSolid ? extAlphaColorSolid : extAlphaColor2;
}

u8 CPreferences::DrawSample(CKLF_Image& sample) const {
  kltRGBA8 a, b;
  MarginColours(a, b);
  if (!sample.Set(8, 8, a, b)) return 0;
  CheckerColours(a, b);
  const kltRECT_s inner = {22, 22, sample.GetImageWidth() - 1, sample.GetImageHeight() - 22};
  return sample.Set(8, 8, a, b, inner);
}
