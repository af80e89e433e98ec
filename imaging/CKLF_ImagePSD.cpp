#include "CKLF_ImagePSD.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "CKLF_Image.h"
#include "CKLF_StdFile.h"
#include "CKLF_String.h"
#include "KLF_BigEndian.h"
#include "KLF_Parallel.h"

// One layer of the table read from a file.
struct CKLF_ImagePSD::LayerRecord {
  i32 width;
  i32 height;
  i32 left;
  i32 top;
  u16 channels;
  char name[256];
  u8 nameBytes;  // the name field's length
  u8 groupOpen;
  u8 groupEnd;
  u8 visible;
  u8 opacity;
  u32 lengths[CKLF_ImagePSD::kMaxChannels];
  i8 ids[CKLF_ImagePSD::kMaxChannels];
  CKLF_Mem* planes[5];
  u8 planeMask;  // bit id + 1: a plane of that channel is (to be) decoded
};

namespace {

// One layer to write: the caller's parameters and plane pointers.
struct LayerToWrite {
  CKLF_ImagePSD::PSDMLWRITE_LAYERPARAMS params;
  u8* planes[5];
  u32 stride;
  u32 channelLengths[5];  // filled while writing
};

u32 ColourChannels(u8 mode) { return mode == 1 ? 3 : (mode == 2 ? 1 : (mode == 3 ? 4 : 0)); }

// The fewest PackBits bytes that can hold height rows of width bytes: every
// packet yields at most 128 bytes from at least 2.
u64 MinPackedBytes(u64 width, u64 height) { return height * 2 * ((width + 127) / 128); }

// The most PackBits makes of one row: output = input + one header per
// literal packet, and every literal packet but the last is either 128 bytes
// long or followed by a repeat packet of at least 2 bytes (a lone byte and
// a pair give 4 bytes from 3).
u64 MaxPackedRow(u64 width) { return width + width / 3 + 1; }

// Deflate never expands more than about 1032 times.
const u64 kMaxDeflateRatio = 1032;

// The fewest bytes a composite of planes channels can take after its
// compression field: every pixel (raw), the row counts of every channel
// in the file and two bytes a 128-pixel packet (PackBits), or what
// deflate's best ratio leaves (ZIP, which is not decoded here).
u64 MinCompositeBytes(u16 compression, u64 width, u64 height, u64 fileChannels, u64 planes) {
  if (compression == 0) return planes * width * height;
  if (compression == 1) return 2 * height * fileChannels + planes * MinPackedBytes(width, height);
  return planes * width * height / kMaxDeflateRatio;
}

// UTF-16 units of a name's bytes: UTF-8 sequences are decoded, any other
// byte stands for itself (Latin-1). out holds at least len units.
u32 NameToUnits(const u8* s, u32 len, u16* out) {
  u32 n = 0;
  for (u32 i = 0; i < len;) {
    u32 cp = 0;
    i += CKLF_String::CharBytes(reinterpret_cast<const char*>(s + i), len - i, &cp);
    if (cp >= 0x10000) {
      out[n++] = static_cast<u16>(0xD800 + ((cp - 0x10000) >> 10));
      out[n++] = static_cast<u16>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out[n++] = static_cast<u16>(cp);
    }
  }
  return n;
}

const u32 kStagingSize = 1u << 20;
// Side by side, a layer is packed into a buffer of its own when that stays
// below this; larger ones stream as on one thread.
const u64 kMaxLayerBuffer = 64u << 20;
// Rows of one composite band packed side by side.
const u32 kCompositeBandRows = 64;

// One buffer packed by a worker: its bytes, or failed when memory ran out.
struct Packed {
  CKLF_Mem bytes;
  u32 size = 0;
  u32 lengths[5] = {};
  u8 failed = 0;
};

const char* const kSectionEnds = "the file ends inside its layer and mask section";
const char* const kImageEnds = "its image data is shorter than its size needs";
const char* const kRecordEnds = "a layer record runs past the layers' information";

const char* ModeName(u16 mode) {
  switch (mode) {
    case 2: return "indexed";
    case 7: return "multichannel";
    case 8: return "duotone";
    case 9: return "Lab";
    default: return "unknown";
  }
}

}  // namespace

u8 CKLF_ImagePSD::i_Refuse(u16 code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(m_reason, sizeof(m_reason), format, args);
  va_end(args);
  return Fail(code);
}

CKLF_ImagePSD::CKLF_ImagePSD()
    : m_layerCount(0),
      m_fileChannels(0),
      m_zipLayers(0),
      m_resourcesDamaged(0),
      m_reason(),
      m_doc(),
      m_docSet(0),
      m_outUsed(0),
      m_pos(0),
      m_writeFailed(0),
      m_threads(1) {}

CKLF_ImagePSD::~CKLF_ImagePSD() {
  Clean();
  WriteClean();
}

// ---------------------------------------------------------------------------
// Reading

u8 CKLF_ImagePSD::GetImageInfoByPtr(const void* data, u32 size) {
  ResetError();
  m_reason[0] = 0;
  const u8* p = static_cast<const u8*>(data);
  if (!p || size < 4 || std::memcmp(p, "8BPS", 4) != 0) return Fail(klErrNotFormat);
  if (size < 26) return i_Refuse(klErrNotFormat, "the file ends inside its header");
  if (p[4] != 0 || p[5] != 1) return i_Refuse(klErrNotFormat, "version %u", KLF_GetBE16(p + 4));
  const u32 height = KLF_GetBE32(p + 14);
  const u32 width = KLF_GetBE32(p + 18);
  const u16 depth = KLF_GetBE16(p + 22);
  if (depth != 8 && depth != 16 && depth != 1) return i_Refuse(klErrNotFormat, "a depth of %u bits a sample", depth);
  if (width == 0 || height == 0) return i_Refuse(klErrNotFormat, "an image of %u x %u pixels", width, height);
  // The framework's sizes are 16-bit; a larger document is not misread.
  if (width > 0xFFFF || height > 0xFFFF)
    return i_Refuse(klErrUnsupported, "%u x %u pixels (at most 65535 a side)", width, height);
  u8 mode;
  switch (const u16 m = KLF_GetBE16(p + 24)) {
    case 3: mode = kModeRGB; break;
    case 4: mode = kModeCMYK; break;
    case 0:
    case 1: mode = kModeGrey; break;
    default: return i_Refuse(klErrUnsupported, "colour mode %u, %s (grey, RGB and CMYK are read)", m, ModeName(m));
  }
  m_fileChannels = KLF_GetBE16(p + 12);
  m_width = static_cast<u16>(width);
  m_height = static_cast<u16>(height);
  m_bits = static_cast<u8>(depth);
  m_mode = mode;
  return 1;
}

u8 CKLF_ImagePSD::UnpackMacPack(const u8* src, u32 srcLen, u8* dst, u32 dstLen, u32* used) {
  u32 in = 0;
  u32 out = 0;
  while (out < dstLen) {
    if (in >= srcLen) return 0;
    i8 n = static_cast<i8>(src[in++]);
    if (n >= 0) {
      u32 count = static_cast<u32>(n) + 1;
      if (count > dstLen - out) count = dstLen - out;
      if (count > srcLen - in) return 0;
      std::memcpy(dst + out, src + in, count);
      in += count;
      out += count;
    } else if (n != -128) {
      if (in >= srcLen) return 0;
      u32 count = static_cast<u32>(1 - n);
      if (count > dstLen - out) count = dstLen - out;
      std::memset(dst + out, src[in++], count);
      out += count;
    }
  }
  if (used) *used = in;
  return 1;
}

u8 CKLF_ImagePSD::ExpandChanelPixels(u8 compression, const u8* src, u32 srcLen, u8* dst, u32 width, u32 height,
                                     u32* used, u8 countsSkipped) {
  if (compression >= 2) return i_Refuse(klErrUnsupported, "ZIP-compressed channels");
  if (compression == 0) {
    if (static_cast<u64>(width) * height != srcLen) return i_Refuse(klErrNotFormat, "raw channel data of another size");
    if (srcLen) std::memcpy(dst, src, srcLen);
    if (used) *used = srcLen;
    return 1;
  }
  const u64 table = countsSkipped ? 0 : 2ull * height;
  if (table > srcLen) return i_Refuse(klErrNotFormat, "a channel's row counts end early");
  u32 pos = static_cast<u32>(table);
  for (u32 row = 0; row < height; ++row) {
    u32 n = 0;
    if (!UnpackMacPack(src + pos, srcLen - pos, dst + static_cast<u64>(row) * width, width, &n))
      return i_Refuse(klErrNotFormat, "a channel's packed rows end early");
    pos += n;
  }
  if (used) *used = pos - static_cast<u32>(table);
  return 1;
}

u8 CKLF_ImagePSD::i_StartParse(const void* data, u32 size) {
  if (!GetImageInfoByPtr(data, size)) return 0;
  if (m_bits != 8) return i_Refuse(klErrUnsupported, "%u bits a sample (8 are read)", m_bits);
  Clean();
  i_ClearExtras();
  m_zipLayers = 0;
  return 1;
}

u8 CKLF_ImagePSD::i_ReadSections(KLF_BEReader& c) {
  const u32 modeData = c.U32();
  if (c.Ok() && modeData != 0) return i_Refuse(klErrUnsupported, "colour mode data (a palette or duotone)");
  KLF_BEReader resources = c.Sub(c.U32());
  if (!c.Ok()) return i_Refuse(klErrNotFormat, "the file ends inside its image resources");
  return i_ReadResources(resources);
}

// Blocks of "8BIM", an id, a Pascal name padded to even length, the data
// length and the data padded to even. A damaged block ends the walk,
// said by ResourcesDamaged: what it would say is not needed for the pixels.
u8 CKLF_ImagePSD::i_ReadResources(KLF_BEReader r) {
  m_alphaGiven.Empty();
  m_resourcesDamaged = 0;
  while (r.Left() > 0) {
    if (!r.Has(4) || std::memcmp(r.d + r.pos, "8BIM", 4) != 0) return m_resourcesDamaged = 1, 1;
    r.Skip(4);
    const u16 id = r.U16();
    const u8 nameLength = r.U8();
    r.Skip(nameLength + ((nameLength + 1u) & 1u));
    const u32 length = r.U32();
    const u8* block = r.Take(length);
    if (!block) return m_resourcesDamaged = 1, 1;
    r.Skip(length & 1u);
    if (id == 1005 && length >= 16) {
      m_resolution = KLF_GetBE32(block) / 65536.0;
      m_verticalResolution = KLF_GetBE32(block + 8) / 65536.0;
    }
    if (id == 1006 && !i_ReadAlphaNames(KLF_BEReader{block, length, 0})) return 0;
    if (id == 1039 && !i_SetICCProfile(block, length)) return 0;
  }
  return 1;
}

// Pascal strings one after another; no more than the header has channels
// (alpha channels are fewer), however many the block holds.
u8 CKLF_ImagePSD::i_ReadAlphaNames(KLF_BEReader r) {
  while (r.Has(1) && m_alphaGiven.GetSize() < m_fileChannels) {
    const u8 n = r.U8();
    const u8* text = r.Take(n);
    if (!text) break;
    char name[256];
    std::memcpy(name, text, n);
    name[n] = 0;
    if (m_alphaGiven.Add(CKLF_String(name), 0) < 0) return FailFrom(m_alphaGiven, klErrNoMemory);
  }
  return 1;
}

u8 CKLF_ImagePSD::ParseAlphaChannelsByPtr(const void* data, u32 size) {
  m_alphaNames.Empty();
  m_alphaChannels.free();
  if (!i_StartParse(data, size)) return 0;
  KLF_BEReader c = {static_cast<const u8*>(data), size, 26};
  if (!i_ReadSections(c)) return 0;
  // A negative layer count: the first channel after the colours is the
  // merged transparency.
  KLF_BEReader section = c.Sub(c.U32());
  if (!c.Ok()) return i_Refuse(klErrNotFormat, kSectionEnds);
  u8 merged = 0;
  if (section.Left() >= 6 && section.U32() >= 2) merged = static_cast<i16>(section.U16()) < 0;
  return i_ParseAlphaChannels(c, merged);
}

// c stands on the composite's compression field. Channels before the
// alpha channels are passed over by their row counts (or their size).
u8 CKLF_ImagePSD::i_ParseAlphaChannels(KLF_BEReader& c, u8 merged) {
  if (!i_CheckComposite(c)) return 0;
  const u16 compression = c.U16();
  if (compression >= 2) return i_Refuse(klErrUnsupported, "a ZIP-compressed image");
  const u32 colours = ColourChannels(m_mode), first = colours + merged;
  const u32 count = m_fileChannels > first ? m_fileChannels - first : 0;
  const u64 area = static_cast<u64>(m_width) * m_height;
  if (count == 0) return 1;
  // Every channel's bytes must be there before the alpha channels are
  // allocated at the size the header declares.
  if (MinCompositeBytes(compression, m_width, m_height, m_fileChannels, m_fileChannels) > c.Left())
    return i_Refuse(klErrNotFormat, kImageEnds);
  if (!klFits32(area * count) || !m_alphaChannels.alloc(static_cast<u32>(area * count)))
    return FailFrom(m_alphaChannels, klErrNoMemory);
  const u8* counts = compression == 1 ? c.Take(2ull * m_height * m_fileChannels) : nullptr;
  if (compression == 1 && !counts) return i_Refuse(klErrNotFormat, kImageEnds);
  for (u32 k = 0; k < first; ++k) {
    u64 bytes = compression == 1 ? 0 : area;
    for (u32 y = 0; compression == 1 && y < m_height; ++y) bytes += KLF_GetBE16(counts + 2ull * (k * m_height + y));
    if (!c.Skip(bytes)) return i_Refuse(klErrNotFormat, kImageEnds);
  }
  for (u32 k = 0; k < count; ++k) {
    u32 used = 0;
    const u32 avail = static_cast<u32>(compression == 1 ? c.Left() : area);
    if (compression == 0 && c.Left() < area) {
      m_alphaChannels.free();
      m_alphaNames.Empty();
      return i_Refuse(klErrNotFormat, kImageEnds);
    }
    if (!ExpandChanelPixels(static_cast<u8>(compression), c.d + c.pos, avail, m_alphaChannels.GetPtr() + k * area,
                            m_width, m_height, &used, 1)) {
      m_alphaChannels.free();
      m_alphaNames.Empty();
      return 0;
    }
    c.Skip(used);
    CKLF_String name;
    if (!(k < m_alphaGiven.GetSize() ? m_alphaGiven.GetAt(k, name) : name.Format("Alpha %u", k + 1) != nullptr) ||
        m_alphaNames.Add(name, 0) < 0) {
      m_alphaChannels.free();
      m_alphaNames.Empty();
      return Fail(klErrNoMemory);
    }
  }
  return 1;
}

const u8* CKLF_ImagePSD::GetAlphaChannel(u32 index) const {
  if (index >= m_alphaNames.GetSize()) return nullptr;
  return m_alphaChannels.GetPtr() + static_cast<u64>(index) * m_width * m_height;
}

const char* CKLF_ImagePSD::GetAlphaChannelName(u32 index) const {
  const CKLF_String* s = m_alphaNames.GetPtrAt(index);
  return s && index < m_alphaNames.GetSize() ? s->GetStr() : nullptr;
}

u8 CKLF_ImagePSD::ParseImageByPtr(const void* data, u32 size) {
  if (!i_StartParse(data, size)) return 0;
  KLF_BEReader c = {static_cast<const u8*>(data), size, 26};
  if (!i_ReadSections(c)) return 0;
  if (!c.Skip(c.U32())) return i_Refuse(klErrNotFormat, kSectionEnds);
  return i_ParseComposite(c);
}

// c stands on the composite's compression field. Refuses a composite the
// data cannot hold before anything is allocated.
u8 CKLF_ImagePSD::i_CheckComposite(KLF_BEReader c) {
  const u16 compression = c.U16();
  if (!c.Ok()) return i_Refuse(klErrNotFormat, kImageEnds);
  if (compression > 3) return i_Refuse(klErrUnsupported, "image data compression %u", compression);
  const u32 planes = ColourChannels(m_mode);
  // A file with fewer channels than its mode needs is malformed.
  if (m_fileChannels < planes) return i_Refuse(klErrNotFormat, "%u channels for %u colours", m_fileChannels, planes);
  if (MinCompositeBytes(compression, m_width, m_height, m_fileChannels, planes) > c.Left())
    return i_Refuse(klErrNotFormat, kImageEnds);
  return 1;
}

u8 CKLF_ImagePSD::i_ParseComposite(KLF_BEReader& c) {
  if (!i_CheckComposite(c)) return 0;
  const u16 compression = c.U16();
  if (compression >= 2) return i_Refuse(klErrUnsupported, "a ZIP-compressed image");
  const u32 planes = ColourChannels(m_mode);
  const u32 area = static_cast<u32>(m_width) * m_height;
  if (!i_AllocPlanes(0, static_cast<i32>(planes) - 1, area)) return 0;
  c.Skip(compression == 1 ? 2ull * m_height * m_fileChannels : 0);
  for (u32 k = 0; k < planes; ++k) {
    const u32 avail = compression == 1 ? static_cast<u32>(c.Left()) : area;
    u32 used = 0;
    if (!ExpandChanelPixels(static_cast<u8>(compression), c.d + c.pos, avail, i_Plane(static_cast<i32>(k))->GetPtr(),
                            m_width, m_height, &used, 1)) {
      i_FreePlanes();
      return 0;
    }
    c.Skip(used);
  }
  return 1;
}

u8 CKLF_ImagePSD::LParseByMem(CKLF_Mem& m) { return LParseByPtr(m.GetPtr(), m.GetSize()); }

u8 CKLF_ImagePSD::LParseLocal() { return LParseByMem(m_local); }

u8 CKLF_ImagePSD::LParseByFile(CKLF_StdFile& f) {
  if (!i_LoadFile(f)) return 0;
  return LParseLocal();
}

u8 CKLF_ImagePSD::LParseByPtr(const void* data, u32 size) { return i_LParse(data, size, 1); }

u8 CKLF_ImagePSD::LParseRecordsByPtr(const void* data, u32 size) { return i_LParse(data, size, 0); }

u8 CKLF_ImagePSD::i_LParse(const void* data, u32 size, u8 decode) {
  if (!i_StartParse(data, size)) return 0;
  KLF_BEReader c = {static_cast<const u8*>(data), size, 26};
  if (!i_ReadSections(c)) return 0;
  const u32 sectionLength = c.U32();
  KLF_BEReader section = c.Sub(sectionLength);
  if (!c.Ok()) return i_Refuse(klErrNotFormat, kSectionEnds);
  const u32 infoLength = sectionLength >= 4 ? section.U32() : 0;
  if (infoLength == 0) return decode ? i_ParseComposite(c) : 1;
  // Layers are believed only on a canvas whose composite has the bytes
  // its declared size needs.
  if (!i_CheckComposite(c)) return 0;
  KLF_BEReader info = section.Sub(infoLength);
  if (!section.Ok()) return i_Refuse(klErrNotFormat, "its layers' information runs past their section");
  return i_ParseLayers(info, decode);
}

u8 CKLF_ImagePSD::i_ParseLayers(KLF_BEReader& c, u8 decode) {
  const i16 signedCount = static_cast<i16>(c.U16());
  const u32 count = signedCount < 0 ? static_cast<u32>(-static_cast<i32>(signedCount)) : static_cast<u32>(signedCount);
  // Each record takes at least 34 bytes: refuse counts the data cannot hold.
  if (!c.Ok() || static_cast<u64>(count) * 34 > c.Left())
    return i_Refuse(klErrNotFormat, "%u layers in %llu bytes of layer information", count,
                    static_cast<unsigned long long>(c.Left()));
  if (count == 0) return 1;
  if (!m_layerTable.Zalloc(static_cast<u32>(sizeof(LayerRecord) * count))) return FailFrom(m_layerTable, klErrNoMemory);
  LayerRecord* table = reinterpret_cast<LayerRecord*>(m_layerTable.GetPtr());
  for (u32 i = 0; i < count; ++i) {
    if (!i_ReadLayerRecord(c, table[i])) return 0;
    m_layerCount = i + 1;
  }
  for (u32 i = 0; i < count; ++i)
    if (!i_ReadLayerChannels(c, table[i], decode)) return 0;
  return 1;
}

u8 CKLF_ImagePSD::i_ReadLayerRecord(KLF_BEReader& c, LayerRecord& L) {
  const i32 top = static_cast<i32>(c.U32());
  const i32 left = static_cast<i32>(c.U32());
  const i32 bottom = static_cast<i32>(c.U32());
  const i32 right = static_cast<i32>(c.U32());
  const u16 channels = c.U16();
  if (!c.Ok()) return i_Refuse(klErrNotFormat, kRecordEnds);
  const i64 height = static_cast<i64>(bottom) - top;
  const i64 width = static_cast<i64>(right) - left;
  if (height < 0 || width < 0 || height > 0x7FFFFFFF || width > 0x7FFFFFFF)
    return i_Refuse(klErrNotFormat, "a layer whose bounds (%d, %d, %d, %d) are reversed or too large", top, left,
                    bottom, right);
  if (!klFits32(static_cast<u64>(width) * static_cast<u64>(height))) return Fail(klErrNoMemory);
  if (channels > kMaxChannels) return i_Refuse(klErrUnsupported, "a layer of %u channels (at most 100)", channels);
  L.top = top;
  L.left = left;
  L.height = static_cast<i32>(height);
  L.width = static_cast<i32>(width);
  L.channels = channels;
  for (u32 k = 0; k < channels; ++k) {
    L.ids[k] = static_cast<i8>(static_cast<i16>(c.U16()));
    L.lengths[k] = c.U32();
  }
  const u8* sig = c.Take(4);
  const u8* blend = c.Take(4);
  if (!c.Ok()) return i_Refuse(klErrNotFormat, kRecordEnds);
  if (std::memcmp(sig, "8BIM", 4) != 0) return i_Refuse(klErrNotFormat, "a layer record without its 8BIM signature");
  const bool passThrough = std::memcmp(blend, "pass", 4) == 0;
  if (!passThrough && std::memcmp(blend, "norm", 4) != 0)
    return i_Refuse(klErrUnsupported, "a layer of blend mode '%.4s' (normal is read)", reinterpret_cast<const char*>(blend));
  L.opacity = c.U8();
  c.U8();  // clipping
  L.visible = (c.U8() & 2) ? 0 : 1;
  c.U8();  // filler
  KLF_BEReader extra = c.Sub(c.U32());
  if (!c.Ok()) return i_Refuse(klErrNotFormat, kRecordEnds);
  if (!i_ReadLayerExtra(extra, L)) return 0;
  // Pass-through is the blending of layer groups only.
  if (passThrough && !L.groupOpen) return i_Refuse(klErrUnsupported, "a layer that is no group blended 'pass'");
  return 1;
}

// Mask and blending ranges (skipped), the name, then additional
// information blocks as long as they start with "8BIM".
u8 CKLF_ImagePSD::i_ReadLayerExtra(KLF_BEReader& x, LayerRecord& L) {
  x.Skip(x.U32());  // layer mask data
  x.Skip(x.U32());  // blending ranges
  const u8 nameLength = x.U8();
  const u8* name = x.Take(nameLength);
  // The Pascal name, length byte included, is padded to a multiple of 4.
  x.Skip((4 - (nameLength + 1u) % 4) % 4);
  if (!x.Ok()) return i_Refuse(klErrNotFormat, "a layer's name runs past its record");
  L.nameBytes = nameLength;
  if (nameLength == 0)
    std::strcpy(L.name, "background");
  else
    std::memcpy(L.name, name, nameLength);
  while (x.Has(4) && std::memcmp(x.d + x.pos, "8BIM", 4) == 0) {
    x.Skip(4);
    const u8* key = x.Take(4);
    const u32 blockLength = x.U32();
    const u8* block = x.Take(blockLength);
    if (!x.Ok()) return i_Refuse(klErrNotFormat, "a layer's additional information runs past its record");
    if (std::memcmp(key, "lsct", 4) != 0) continue;
    if (blockLength < 4) return i_Refuse(klErrNotFormat, "a section divider of %u bytes", blockLength);
    switch (const u32 type = KLF_GetBE32(block)) {
      case 0: break;
      case 1:
      case 2: L.groupOpen = 1; break;
      case 3: L.groupEnd = 1; break;
      default: return i_Refuse(klErrUnsupported, "a section divider of type %u", type);
    }
  }
  return 1;
}

u8 CKLF_ImagePSD::i_ReadLayerChannels(KLF_BEReader& c, LayerRecord& L, u8 decode) {
  const u64 area = static_cast<u64>(L.width) * static_cast<u64>(L.height);
  for (u32 k = 0; k < L.channels; ++k) {
    const u32 length = L.lengths[k];
    const i32 id = L.ids[k];
    const u8* chunk = c.Take(length);
    if (!chunk) return i_Refuse(klErrNotFormat, "the layers' channel data ends early");
    if (id < -1 || id > 3) continue;  // user masks and the like
    if (length < 2) return i_Refuse(klErrNotFormat, "a layer channel of %u bytes", length);
    if (length == 2) continue;  // an empty channel
    const u16 compression = KLF_GetBE16(chunk);
    if (compression >= 2) {
      if (compression <= 3) m_zipLayers = 1;  // ZIP, with or without prediction
      return i_Refuse(klErrUnsupported, compression <= 3 ? "ZIP-compressed layers" : "layer compression %u",
                      compression);
    }
    const u64 body = length - 2u;
    const bool fits = compression == 0 ? body == area
                                       : body >= 2ull * static_cast<u64>(L.height) + MinPackedBytes(L.width, L.height);
    if (!fits) return i_Refuse(klErrNotFormat, "a layer channel's data does not fit the layer's size");
    if (area == 0) continue;
    L.planeMask = static_cast<u8>(L.planeMask | (1u << (id + 1)));
    if (!decode) continue;
    CKLF_Mem* plane = new (std::nothrow) CKLF_Mem();
    if (!plane || !plane->alloc(static_cast<u32>(area))) {
      delete plane;
      return Fail(klErrNoMemory);
    }
    delete L.planes[id + 1];
    L.planes[id + 1] = plane;
    if (!ExpandChanelPixels(static_cast<u8>(compression), chunk + 2, static_cast<u32>(body), plane->GetPtr(),
                            static_cast<u32>(L.width), static_cast<u32>(L.height), nullptr, 0))
      return 0;
  }
  return 1;
}

u8 CKLF_ImagePSD::GetLayerPlaneMask(u32 index) const {
  if (index >= m_layerCount) return 0;
  return reinterpret_cast<const LayerRecord*>(m_layerTable.GetPtr())[index].planeMask;
}

u8 CKLF_ImagePSD::GetLayerInfo(u32 index, PSDLayerInfoExt_s& out) {
  if (index >= m_layerCount) return 0;
  LayerRecord& L = reinterpret_cast<LayerRecord*>(m_layerTable.GetPtr())[index];
  out.left = L.left;
  out.top = L.top;
  out.width = L.width;
  out.height = L.height;
  out.channels = L.channels;
  out.name = L.name;
  out.nameBytes = L.nameBytes;
  out.groupOpen = L.groupOpen;
  out.groupEnd = L.groupEnd;
  out.visible = L.visible;
  out.opacity = L.opacity;
  for (int k = 0; k < 5; ++k) out.planes[k] = L.planes[k];
  return 1;
}

void CKLF_ImagePSD::Clean() {
  u32 slots = m_layerTable.GetSize() / static_cast<u32>(sizeof(LayerRecord));
  LayerRecord* table = reinterpret_cast<LayerRecord*>(m_layerTable.GetPtr());
  for (u32 i = 0; i < slots; ++i)
    for (CKLF_Mem*& p : table[i].planes) {
      delete p;
      p = nullptr;
    }
  m_layerTable.free();
  m_layerCount = 0;
}

// ---------------------------------------------------------------------------
// Writing

void CKLF_ImagePSD::PackBits(const u8* src, i32 count, u8* dst, i32* outCount) {
  i32 in = 0;
  i32 out = 0;
  while (in < count) {
    // Length of the run of equal bytes starting here, at most 128.
    i32 run = 1;
    while (in + run < count && run < 128 && src[in + run] == src[in]) ++run;
    if (run >= 2) {
      dst[out++] = static_cast<u8>(1 - run);
      dst[out++] = src[in];
      in += run;
      continue;
    }
    // Literal bytes up to the next pair of equal bytes, at most 128.
    i32 start = in;
    ++in;
    while (in < count && in - start < 128 && !(in + 1 < count && src[in] == src[in + 1])) ++in;
    i32 n = in - start;
    dst[out++] = static_cast<u8>(n - 1);
    std::memcpy(dst + out, src + start, static_cast<size_t>(n));
    out += n;
  }
  *outCount = out;
}

u8 CKLF_ImagePSD::Write_Init(const PSDMLWRITE_INITPARAMS* params) {
  if (!params) return Fail(klErrBadArg);
  m_doc = *params;
  m_docSet = 1;
  return 1;
}

u8 CKLF_ImagePSD::Write_AddLayer(const PSDMLWRITE_LAYERPARAMS* params, u8* const* planes, u32 stride) {
  u32 colours = m_docSet ? ColourChannels(m_doc.mode) : 0;
  if (!params || !planes || colours == 0 || stride < params->width || m_toWrite.GetSize() >= kMaxLayers)
    return Fail(klErrBadArg);
  for (u32 k = 0; k <= colours; ++k)
    if (!planes[k]) return Fail(klErrBadArg);
  LayerToWrite* rec = new (std::nothrow) LayerToWrite();
  if (!rec) return Fail(klErrNoMemory);
  rec->params = *params;
  rec->params.name[kNameBytes] = 0;
  for (u32 k = 0; k <= colours; ++k) rec->planes[k] = planes[k];
  rec->stride = stride;
  if (m_toWrite.Add(rec) < 0) {
    delete rec;
    return FailFrom(m_toWrite, klErrNoMemory);
  }
  return 1;
}

u8 CKLF_ImagePSD::Write_AddLayer(const PSDMLWRITE_LAYERPARAMS* params, CKLF_Image* image) {
  const u32 colours = m_docSet ? ColourChannels(m_doc.mode) : 0;
  // Modes 1 and 3 hold no alpha plane.
  const u8 mode = image ? image->GetImageMode() : 0;
  if (!params || !image || colours == 0 || mode == 1 || mode == 3 || CKLF_Image::PlaneCount(mode) < colours + 1 ||
      params->width > image->GetImageWidth() || params->height > image->GetImageHeight())
    return Fail(klErrBadArg);
  u8* planes[5] = {};
  u32 stride = 0;
  const u8 count = image->GetImageChannels(planes, stride);
  if (!count) return FailFrom(*image, klErrBadArg);
  // The alpha is the image's last plane, whatever the document's colours.
  planes[colours] = planes[count - 1];
  return Write_AddLayer(params, planes, stride);
}

void CKLF_ImagePSD::WriteClean() {
  for (u32 i = 0; i < m_toWrite.GetSize(); ++i) delete static_cast<LayerToWrite*>(m_toWrite[i]);
  m_toWrite.Empty();
}

u8 CKLF_ImagePSD::Write_MACWord(u16 value, u32 pos) {
  u8 b[2];
  KLF_PutBE16(b, value);
  return Write_Buffer(b, 2, pos);
}

u8 CKLF_ImagePSD::Write_MACDWord(u32 value, u32 pos) {
  u8 b[4];
  KLF_PutBE32(b, value);
  return Write_Buffer(b, 4, pos);
}

u8 CKLF_ImagePSD::i_FlushOut() {
  if (m_writeFailed) return 0;
  if (m_outUsed && !Write_Buffer(m_out.GetPtr(), m_outUsed)) m_writeFailed = 1;
  m_outUsed = 0;
  return m_writeFailed ? 0 : 1;
}

u8 CKLF_ImagePSD::i_Put(const void* data, u32 n) {
  if (m_writeFailed) return 0;
  m_pos += n;
  if (n > m_out.GetSize() - m_outUsed) {
    if (!i_FlushOut()) return 0;
    if (n > m_out.GetSize()) {
      if (!Write_Buffer(static_cast<const u8*>(data), n)) m_writeFailed = 1;
      return m_writeFailed ? 0 : 1;
    }
  }
  std::memcpy(m_out.GetPtr() + m_outUsed, data, n);
  m_outUsed += n;
  return 1;
}

u8 CKLF_ImagePSD::i_Put16(u16 v) {
  u8 b[2];
  KLF_PutBE16(b, v);
  return i_Put(b, 2);
}

u8 CKLF_ImagePSD::i_Put32(u32 v) {
  u8 b[4];
  KLF_PutBE32(b, v);
  return i_Put(b, 4);
}

u8 CKLF_ImagePSD::i_PutZeros(u32 n) {
  static const u8 zeros[256] = {};
  while (n > 0) {
    u32 k = n < sizeof(zeros) ? n : static_cast<u32>(sizeof(zeros));
    if (!i_Put(zeros, k)) return 0;
    n -= k;
  }
  return 1;
}

u8 CKLF_ImagePSD::i_Patch(u64 pos, const u8* data, u32 n) {
  if (!i_FlushOut()) return 0;
  if (pos >= kNoPos) {
    m_writeFailed = 1;
    return Fail(klErrNoMemory);
  }
  if (!Write_Buffer(data, n, static_cast<u32>(pos))) m_writeFailed = 1;
  return m_writeFailed ? 0 : 1;
}

u8 CKLF_ImagePSD::WritePSD() {
  ResetError();
  if (!m_file || !m_docSet || ColourChannels(m_doc.mode) == 0 || m_toWrite.GetSize() > kMaxLayers)
    return Fail(klErrBadArg);
  if (!m_out.GetPtr() && !m_out.alloc(kStagingSize)) return FailFrom(m_out, klErrNoMemory);
  u32 start = Write_SetPos(kNoPos);
  if (start == kNoPos) return GetError() ? 0 : Fail(klErrFileSeek);
  m_pos = start;
  m_outUsed = 0;
  m_writeFailed = 0;
  u8 ok = i_WriteAll();
  if (ok) ok = i_FlushOut();
  if (ok) ok = Write_Flush();
  m_outUsed = 0;
  if (!ok && m_writeFailed && !GetError()) return Fail(klErrFileWrite);
  return ok;
}

u8 CKLF_ImagePSD::i_PutResolution(f64 dpi) {
  // Held to the 16.16 field's range, so the casts below stay defined.
  const f64 kMaxFixed = 65535.0 + 65535.0 / 65536.0;
  if (!(dpi >= 0)) dpi = 0;
  if (dpi > kMaxFixed) dpi = kMaxFixed;
  const u16 whole = static_cast<u16>(static_cast<i64>(dpi));
  const u16 fraction = static_cast<u16>(static_cast<i64>((dpi - whole) * 65536.0));
  return i_Put16(whole) && i_Put16(fraction) && i_Put16(1) && i_Put16(1);
}

u8 CKLF_ImagePSD::i_WriteAll() {
  const u32 colours = ColourChannels(m_doc.mode);
  const u32 layers = m_toWrite.GetSize();
  if (i_Canceled(0)) return 0;

  // Header.
  i_Put("8BPS", 4);
  i_Put16(1);
  i_PutZeros(6);
  i_Put16(static_cast<u16>(colours));
  i_Put32(m_doc.height);
  i_Put32(m_doc.width);
  i_Put16(8);
  i_Put16(m_doc.mode == 1 ? 3 : (m_doc.mode == 2 ? 1 : 4));
  i_Put32(0);  // colour mode data

  // Image resources: resolution, global angle, ICC profile (padded to even).
  bool icc = m_doc.iccProfile && m_doc.iccSize;
  u64 iccPadded = icc ? m_doc.iccSize + (m_doc.iccSize & 1u) : 0;
  u64 resources = 44 + (icc ? 12 + iccPadded : 0);
  if (!klFits32(resources)) return Fail(klErrNoMemory);
  i_Put32(static_cast<u32>(resources));
  i_Put("8BIM", 4);
  i_Put16(1005);
  i_Put16(0);
  i_Put32(16);
  i_PutResolution(m_doc.resolution);
  i_PutResolution(m_doc.verticalResolution > 0 ? m_doc.verticalResolution : m_doc.resolution);
  i_Put("8BIM", 4);
  i_Put16(1037);
  i_Put16(0);
  i_Put32(4);
  i_Put32(m_doc.globalAngle);
  if (icc) {
    i_Put("8BIM", 4);
    i_Put16(1039);
    i_Put16(0);
    i_Put32(m_doc.iccSize);
    i_Put(m_doc.iccProfile, m_doc.iccSize);
    if (m_doc.iccSize & 1u) i_PutZeros(1);
  }
  if (m_writeFailed) return 0;
  if (i_Canceled(2)) return 0;

  // A flat file leaves the layer and mask section empty: readers refuse a
  // layer info block that counts no layer.
  if (layers ? !i_WriteLayerSection() : !i_Put32(0)) return 0;

  if (i_Canceled(60)) return 0;
  f64 progress = 60;
  if (!i_WriteComposite(progress)) return 0;
  if (!klFits32(m_pos)) return Fail(klErrNoMemory);
  if (i_Canceled(100)) return 0;
  return 1;
}

// Layer count, records and channel data, with the section and layer info
// lengths patched once known.
u8 CKLF_ImagePSD::i_WriteLayerSection() {
  const u32 colours = ColourChannels(m_doc.mode);
  const u32 layers = m_toWrite.GetSize();
  // Layer and mask section; its two lengths are patched at the end.
  const u64 sectionPos = m_pos;
  i_Put32(0);
  i_Put32(0);
  const u64 infoStart = m_pos;
  i_Put16(static_cast<u16>(layers));

  CKLF_Mem recordPos;
  if (layers && !recordPos.alloc(layers * 8u)) return FailFrom(recordPos, klErrNoMemory);
  u64* channelInfoPos = reinterpret_cast<u64*>(recordPos.GetPtr());
  f64 progress = 2;
  for (u32 i = 0; i < layers; ++i) {
    const LayerToWrite& L = *static_cast<LayerToWrite*>(m_toWrite[i]);
    const PSDMLWRITE_LAYERPARAMS& P = L.params;
    i_Put32(static_cast<u32>(static_cast<i32>(P.y)));
    i_Put32(static_cast<u32>(static_cast<i32>(P.x)));
    i_Put32(static_cast<u32>(static_cast<i32>(P.y) + P.height));
    i_Put32(static_cast<u32>(static_cast<i32>(P.x) + P.width));
    i_Put16(static_cast<u16>(colours + 1));
    channelInfoPos[i] = m_pos;
    for (u32 k = 0; k < colours; ++k) {
      i_Put16(static_cast<u16>(k));
      i_Put32(0);
    }
    i_Put16(0xFFFF);
    i_Put32(0);
    const u8 blend[12] = {'8', 'B', 'I', 'M', 'n', 'o', 'r', 'm', P.opacity, 0, static_cast<u8>(P.visible ? 0 : 2), 0};
    i_Put(blend, 12);

    const u8* name = reinterpret_cast<const u8*>(P.name);
    u32 nameBytes = static_cast<u32>(strnlen(P.name, kNameBytes));
    u8 pascalLength = static_cast<u8>(CKLF_String::WholeCharacters(P.name, nameBytes, kPascalNameBytes));
    u32 nameField = (pascalLength & ~3u) + 4;
    u16 units[kNameBytes];
    u32 unitCount = NameToUnits(name, nameBytes, units);
    u32 luniLength = 2 * unitCount + 6;
    i_Put32(4 + 4 + nameField + 12 + luniLength);  // extra data
    i_Put32(0);  // layer mask data
    i_Put32(0);  // blending ranges
    u8 field[kPascalNameBytes + 1] = {};
    field[0] = pascalLength;
    std::memcpy(field + 1, name, pascalLength);
    i_Put(field, nameField);
    i_Put("8BIMluni", 8);
    i_Put32(luniLength);
    i_Put32(unitCount);
    for (u32 k = 0; k < unitCount; ++k) i_Put16(units[k]);
    i_Put16(0);
    if (m_writeFailed) return 0;
    progress += 8.0 / layers;
    if (i_Canceled(static_cast<u32>(progress))) return 0;
  }

  progress = 10;
  if (!i_WriteLayersData(progress)) return 0;
  // The channel lengths in the layer records.
  for (u32 i = 0; i < layers; ++i) {
    const LayerToWrite& L = *static_cast<LayerToWrite*>(m_toWrite[i]);
    u8 info[5 * 6];
    for (u32 k = 0; k <= colours; ++k) {
      KLF_PutBE16(info + 6 * k, k < colours ? static_cast<u16>(k) : 0xFFFF);
      KLF_PutBE32(info + 6 * k + 2, L.channelLengths[k]);
    }
    if (!i_Patch(channelInfoPos[i], info, 6 * (colours + 1))) return 0;
  }

  u64 infoLength = m_pos - infoStart;
  if (infoLength & 1u) {
    i_PutZeros(1);
    ++infoLength;
  }
  i_Put32(0);  // global layer mask info
  u64 sectionLength = m_pos - sectionPos - 4;
  if (!klFits32(sectionLength)) return Fail(klErrNoMemory);
  u8 lengths[8];
  KLF_PutBE32(lengths, static_cast<u32>(sectionLength));
  KLF_PutBE32(lengths + 4, static_cast<u32>(infoLength));
  if (!i_Patch(sectionPos, lengths, 8)) return 0;
  return 1;
}

// Streams the channels of one layer: compression, the row byte counts
// (patched once the rows are packed), the rows. Rows too wide for a 16-bit
// count are stored raw.
u8 CKLF_ImagePSD::i_WriteLayerChannels(u32 layer) {
  LayerToWrite& L = *static_cast<LayerToWrite*>(m_toWrite[layer]);
  const u32 colours = ColourChannels(m_doc.mode);
  const u32 w = L.params.width;
  const u32 h = L.params.height;
  const bool packed = MaxPackedRow(w) <= 0xFFFF;
  if (packed) {
    if (!i_Reserve(m_chan, static_cast<u32>(MaxPackedRow(w)) + 1) || !i_Reserve(m_counts, 2 * h + 2)) return 0;
  }
  for (u32 k = 0; k <= colours; ++k) {
    const u64 before = m_pos;
    const u8* plane = L.planes[k];
    i_Put16(packed ? 1 : 0);
    if (packed) {
      const u64 tablePos = m_pos;
      i_PutZeros(2 * h);
      for (u32 y = 0; y < h; ++y) {
        i32 n = 0;
        PackBits(plane + static_cast<u64>(y) * L.stride, static_cast<i32>(w), m_chan.GetPtr(), &n);
        KLF_PutBE16(m_counts.GetPtr() + 2ull * y, static_cast<u16>(n));
        if (!i_Put(m_chan.GetPtr(), static_cast<u32>(n))) return 0;
      }
      if (h && !i_Patch(tablePos, m_counts.GetPtr(), 2 * h)) return 0;
    } else {
      for (u32 y = 0; y < h; ++y)
        if (!i_Put(plane + static_cast<u64>(y) * L.stride, w)) return 0;
    }
    if (m_writeFailed) return 0;
    u64 length = m_pos - before;
    if (!klFits32(length)) return Fail(klErrNoMemory);
    L.channelLengths[k] = static_cast<u32>(length);
  }
  return 1;
}

u8 CKLF_ImagePSD::i_WriteLayersData(f64& progress) {
  const u32 layers = m_toWrite.GetSize();
  const u32 threads = KLF_Parallel::Resolve(m_threads);
  if (threads > 1 && layers > 1) return i_WriteLayersSideBySide(progress, threads);
  for (u32 i = 0; i < layers; ++i) {
    if (!i_WriteLayerChannels(i)) return 0;
    progress += 50.0 / layers;
    if (i_Canceled(static_cast<u32>(progress))) return 0;
  }
  return 1;
}

// Waves of layers packed side by side, each into a buffer holding exactly
// what i_WriteLayerChannels streams; a layer too large for a buffer, or
// one whose buffer could not be had, is streamed in its turn.
u8 CKLF_ImagePSD::i_WriteLayersSideBySide(f64& progress, u32 threads) {
  const u32 layers = m_toWrite.GetSize(), colours = ColourChannels(m_doc.mode);
  const u32 wave = threads * 4;
  Packed* packed = new (std::nothrow) Packed[wave];
  if (!packed) return Fail(klErrNoMemory);
  u8 ok = 1;
  for (u32 first = 0; ok && first < layers; first += wave) {
    const u32 count = layers - first < wave ? layers - first : wave;
    KLF_Parallel::ForEach(threads, count, [&](u32 index, u32) noexcept {
      Packed& p = packed[index];
      const LayerToWrite& L = *static_cast<LayerToWrite*>(m_toWrite[first + index]);
      const u64 w = L.params.width, h = L.params.height;
      const u64 bound = (colours + 1) * (2 + 2 * h + h * MaxPackedRow(w));
      p.size = 0;
      p.failed = MaxPackedRow(w) > 0xFFFF || bound > kMaxLayerBuffer ||
                 (p.bytes.GetSize() < bound && !p.bytes.alloc(static_cast<u32>(bound)));
      for (u32 k = 0; !p.failed && k <= colours; ++k) {
        u8* at = p.bytes.GetPtr() + p.size;
        KLF_PutBE16(at, 1);
        u8* counts = at + 2;
        u8* rows = counts + 2 * h;
        for (u32 y = 0; y < h; ++y) {
          i32 n = 0;
          PackBits(L.planes[k] + static_cast<u64>(y) * L.stride, static_cast<i32>(w), rows, &n);
          KLF_PutBE16(counts + 2ull * y, static_cast<u16>(n));
          rows += n;
        }
        p.lengths[k] = static_cast<u32>(rows - at);
        p.size += p.lengths[k];
      }
    });
    for (u32 i = 0; ok && i < count; ++i) {
      LayerToWrite& L = *static_cast<LayerToWrite*>(m_toWrite[first + i]);
      if (packed[i].failed) {
        ok = i_WriteLayerChannels(first + i);
      } else {
        ok = i_Put(packed[i].bytes.GetPtr(), packed[i].size);
        std::memcpy(L.channelLengths, packed[i].lengths, sizeof(L.channelLengths));
      }
      progress += 50.0 / layers;
      if (ok && i_Canceled(static_cast<u32>(progress))) ok = 0;
    }
  }
  delete[] packed;
  return ok;
}

u8 CKLF_ImagePSD::i_Reserve(CKLF_Mem& m, u32 n) {
  if (m.GetSize() >= n) return 1;
  if (!m.alloc(n)) return FailFrom(m, klErrNoMemory);
  return 1;
}

void CKLF_ImagePSD::i_ComposeRow(u32 c, u32 y, u8* row, const u32* list, u32 count) const {
  const u32 colours = ColourChannels(m_doc.mode);
  const u32 W = m_doc.width;
  std::memset(row, 255, W);
  for (u32 j = 0; j < count; ++j) {
    const LayerToWrite& L = *static_cast<LayerToWrite*>(m_toWrite[list ? list[j] : j]);
    const PSDMLWRITE_LAYERPARAMS& P = L.params;
    // What a layer hides must not show in the flat image.
    if (!P.visible || P.opacity == 0) continue;
    i32 ly = static_cast<i32>(y) - P.y;
    if (ly < 0 || ly >= P.height) continue;
    i32 x0 = P.x < 0 ? 0 : P.x;
    i32 x1 = static_cast<i32>(P.x) + P.width;
    if (x1 > static_cast<i32>(W)) x1 = static_cast<i32>(W);
    if (x0 >= x1) continue;
    u64 offset = static_cast<u64>(ly) * L.stride + static_cast<u32>(x0 - P.x);
    const u8* src = L.planes[c] + offset;
    const u8* alpha = L.planes[colours] + offset;
    const u32 opacity = P.opacity;
    u8* dst = row + x0;
    for (i32 n = x1 - x0, k = 0; k < n; ++k) {
      u32 a = alpha[k] * opacity / 255;
      if (a) dst[k] = static_cast<u8>((dst[k] * (255 - a) + a * src[k]) / 255);
    }
  }
}

u8 CKLF_ImagePSD::i_WriteComposite(f64& progress) {
  const u32 colours = ColourChannels(m_doc.mode);
  const u32 layers = m_toWrite.GetSize();
  const u32 W = m_doc.width;
  const u32 H = m_doc.height;
  bool packed = MaxPackedRow(W) <= 0xFFFF;
  const u32 tableBytes = packed ? 2 * colours * H : 0;
  if (!i_Reserve(m_row, W + 1) || !i_Reserve(m_chan, static_cast<u32>(MaxPackedRow(W)) + 1) ||
      !i_Reserve(m_counts, tableBytes + 2))
    return 0;
  i_Put16(packed ? 1 : 0);
  const u64 tablePos = m_pos;
  i_PutZeros(tableBytes);
  if (m_writeFailed) return 0;
  const u32 threads = KLF_Parallel::Resolve(m_threads);
  if (packed && threads > 1 && H > kCompositeBandRows) {
    if (!i_WriteCompositeSideBySide(progress, threads)) return 0;
  } else {
    u8* row = m_row.GetPtr();
    for (u32 c = 0; c < colours; ++c) {
      for (u32 y = 0; y < H; ++y) {
        i_ComposeRow(c, y, row, nullptr, layers);
        if (packed) {
          i32 n = 0;
          PackBits(row, static_cast<i32>(W), m_chan.GetPtr(), &n);
          KLF_PutBE16(m_counts.GetPtr() + 2ull * (static_cast<u64>(c) * H + y), static_cast<u16>(n));
          if (!i_Put(m_chan.GetPtr(), static_cast<u32>(n))) return 0;
        } else if (!i_Put(row, W)) {
          return 0;
        }
      }
      progress += 40.0 / colours;
      if (i_Canceled(static_cast<u32>(progress))) return 0;
    }
  }
  if (tableBytes && !i_Patch(tablePos, m_counts.GetPtr(), tableBytes)) return 0;
  return 1;
}

// Bands of rows of every channel composed and packed side by side, a wave
// at a time, each band with the layers that reach its rows; the row
// counts go to the table as on one thread.
u8 CKLF_ImagePSD::i_WriteCompositeSideBySide(f64& progress, u32 threads) {
  const u32 colours = ColourChannels(m_doc.mode), layers = m_toWrite.GetSize();
  const u32 W = m_doc.width, H = m_doc.height;
  const u32 bandsPerChannel = (H + kCompositeBandRows - 1) / kCompositeBandRows, bands = bandsPerChannel * colours;
  const u32 wave = threads * 4;
  struct Band {
    Packed out;
    CKLF_Mem row;
    CKLF_Mem list;
  };
  Band* work = new (std::nothrow) Band[wave];
  if (!work) return Fail(klErrNoMemory);
  const u64 bound = kCompositeBandRows * MaxPackedRow(W);
  u8 ok = 1;
  for (u32 first = 0; ok && first < bands; first += wave) {
    const u32 count = bands - first < wave ? bands - first : wave;
    KLF_Parallel::ForEach(threads, count, [&](u32 index, u32) noexcept {
      Band& b = work[index];
      const u32 c = (first + index) / bandsPerChannel, y0 = (first + index) % bandsPerChannel * kCompositeBandRows;
      const u32 y1 = y0 + kCompositeBandRows < H ? y0 + kCompositeBandRows : H;
      b.out.failed = (b.out.bytes.GetSize() < bound && !b.out.bytes.alloc(static_cast<u32>(bound))) ||
                     (b.row.GetSize() < W + 1 && !b.row.alloc(W + 1)) ||
                     (b.list.GetSize() < 4ull * layers + 4 && !b.list.alloc(4 * layers + 4));
      if (b.out.failed) return;
      u32* list = reinterpret_cast<u32*>(b.list.GetPtr());
      u32 n = 0;
      for (u32 i = 0; i < layers; ++i) {
        const PSDMLWRITE_LAYERPARAMS& P = static_cast<LayerToWrite*>(m_toWrite[i])->params;
        if (P.y < static_cast<i32>(y1) && static_cast<i32>(P.y) + P.height > static_cast<i32>(y0)) list[n++] = i;
      }
      u8* rows = b.out.bytes.GetPtr();
      for (u32 y = y0; y < y1; ++y) {
        i_ComposeRow(c, y, b.row.GetPtr(), list, n);
        i32 packedBytes = 0;
        PackBits(b.row.GetPtr(), static_cast<i32>(W), rows, &packedBytes);
        KLF_PutBE16(m_counts.GetPtr() + 2ull * (static_cast<u64>(c) * H + y), static_cast<u16>(packedBytes));
        rows += packedBytes;
      }
      b.out.size = static_cast<u32>(rows - b.out.bytes.GetPtr());
    });
    for (u32 i = 0; ok && i < count; ++i) {
      if (work[i].out.failed) {
        ok = Fail(klErrNoMemory);
        break;
      }
      ok = i_Put(work[i].out.bytes.GetPtr(), work[i].out.size);
      if ((first + i + 1) % bandsPerChannel == 0) {
        progress += 40.0 / colours;
        if (ok && i_Canceled(static_cast<u32>(progress))) ok = 0;
      }
    }
  }
  delete[] work;
  return ok;
}
