#include "CKLT_HostDocument.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "CKLF_ImageJPEG.h"
#include "CKLF_ImagePNG.h"
#include "CKLF_ImagePSD.h"
#include "CKLF_StdFile.h"
#include "CKLF_String.h"
#include "CKLP_ReplaceFile.h"
#include "CKLT_ExifTags.h"
#include "CKLT_FileAccess.h"
#include "CKLT_FilterHost.h"
#include "CKLT_Orientation.h"
#include "KLF_BigEndian.h"
#include "KLF_Parallel.h"

namespace {

const uint32_t kMaxSide = 65535;
const int32_t kMaxPSDSide = 30000;
// The plug-in's work on a canvas pixel (i_RunBytes), measured at its most
// (one to eight pieces, thick knives, bevelled) with a tenth to spare:
// bytes a colour plane, and bytes more.
const uint64_t kWorkPerPlane = 5;
const uint64_t kWorkMore = 14;
// What each thread holds besides: bytes a pixel of the canvas's width and
// height (the rows and columns of a piece it works on).
const uint64_t kThreadPerSide = 160;

typedef CKLT_HostDocument::Status Status;

bool EndsWith(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if ((s[s.size() - n + i] | 0x20) != tail[i]) return false;
  return true;
}

size_t Area(int32_t w, int32_t h) { return static_cast<size_t>(w) * static_cast<size_t>(h); }

int16_t SpaceOf(int16_t mode) {
  return mode == klpModeRGB ? klpSpaceRGB : mode == klpModeCMYK ? klpSpaceCMYK : klpSpaceGray;
}

// Rounded in its unit to digits more than the unit's own: 1M is "1 MiB",
// 1.5G "1.5 GiB"; past 2 more, the bytes.
std::string Size(uint64_t bytes, int more = 0) {
  char buf[48];
  const double b = static_cast<double>(bytes);
  if (more > 2)
    std::snprintf(buf, sizeof(buf), "%llu bytes", static_cast<unsigned long long>(bytes));
  else if (bytes >= (uint64_t(1) << 30))
    std::snprintf(buf, sizeof(buf), "%.*f GiB", 1 + more, b / (uint64_t(1) << 30));
  else if (bytes >= (uint64_t(1) << 20))
    std::snprintf(buf, sizeof(buf), "%.*f MiB", more, b / (1 << 20));
  else
    std::snprintf(buf, sizeof(buf), "%.*f KiB", more, b / (1 << 10));
  return buf;
}

// Two sizes with as many digits as tell them apart.
void SizesApart(uint64_t a, uint64_t b, std::string& sa, std::string& sb) {
  int more = 0;
  do {
    sa = Size(a, more), sb = Size(b, more);
  } while (a != b && sa == sb && ++more <= 3);
}

// The bytes of a layer's name (up to a NUL) that a PSD field of most bytes
// keeps.
size_t PSDNameBytes(const std::string& name, uint32_t most) {
  const size_t size = std::min<size_t>(strnlen(name.c_str(), name.size()), UINT32_MAX);
  return CKLF_String::WholeCharacters(name.c_str(), static_cast<uint32_t>(size), most);
}

const char* ModeName(int16_t mode) { return mode == klpModeRGB ? "RGB" : mode == klpModeCMYK ? "CMYK" : "gray"; }

Status Unreadable(const char* kind, u16 code, std::string& error) {
  error = std::string("the ") + kind + " file cannot be read (" + KLF_ErrorText(code) + ")";
  return code == klErrNoMemory ? Status::kNoMemory : Status::kBadFile;
}

// The decoder's own reason when it has one: damage is told apart from a
// variant libjpeg does not implement, which is named.
Status UnreadableJPEG(const CKLF_ImageJPEG& jpeg, std::string& error) {
  const std::string why = jpeg.GetDecoderMessage();
  const u16 code = jpeg.GetError();
  if (why.empty() || code == klErrNoMemory) return Unreadable("JPEG", code ? code : u16(klErrNotFormat), error);
  error = code == klErrUnsupported ? "the JPEG file uses a variant this program cannot read: " + why +
                                         " (it reads baseline and progressive files of 8 bits a sample)"
                                   : "the JPEG file is damaged (" + why + ")";
  return Status::kBadFile;
}

// A PSD the reader refuses says why, as it tells it.
Status UnreadablePSD(const CKLF_ImagePSD& psd, std::string& error) {
  const u16 code = psd.GetError();
  if (!*psd.GetReason() || (code != klErrNotFormat && code != klErrUnsupported))
    return Unreadable("PSD", code, error);
  error = code == klErrUnsupported ? std::string("the PSD file uses a variant this program cannot read: ") +
                                         psd.GetReason()
                                   : std::string("the PSD file is damaged (") + psd.GetReason() + ")";
  return Status::kBadFile;
}

// A damaged PNG says why, as libpng tells it.
Status UnreadablePNG(const CKLF_ImagePNG& png, std::string& error) {
  if (png.GetError() != klErrNotFormat || !*png.GetDamage()) return Unreadable("PNG", png.GetError(), error);
  error = std::string("the PNG file is damaged (") + png.GetDamage() + ")";
  return Status::kBadFile;
}

// A chunk the PNG reader left out, named from libpng's reason ("tRNS: CRC
// error"), with what it carries when the program keeps that.
std::string LeftOutNote(const char* why) {
  const std::string type(why, strnlen(why, 4));
  const char* carries = type == "tRNS"   ? " (transparency)"
                        : type == "pHYs" ? " (resolution)"
                        : type == "eXIf" ? " (EXIF block, with any orientation it gives)"
                                         : "";
  const char* article = !type.empty() && std::strchr("AEIOUaeiou", type[0]) ? "an " : "a ";
  return article + type + " chunk" + carries + " is left out (" + why + ")";
}

// A layer's planes (and alpha, when the file has one) made when the PNG
// reader first writes to them, each cleared on a thread of its own:
// clearing fresh pages is the read's longest stretch outside the decoder.
class LayerPlanes : public CKLF_ImagePNG::PlaneSource {
 public:
  LayerPlanes(CKLT_HostDocument::Layer& l, int colours, bool alpha, u32 threads)
      : m_layer(l), m_colours(colours), m_alpha(alpha), m_threads(threads) {}
  u16 MakePlanes(u8* planes[4]) override {
    const size_t area = Area(m_layer.width, m_layer.height);
    const u32 count = static_cast<u32>(m_colours) + (m_alpha ? 1u : 0u);
    u16 failed = 0;
    if (!KLF_Parallel::For(
            m_threads, count,
            [&](u32 c, u32) { (c < m_layer.planes.size() ? m_layer.planes[c] : m_layer.alpha).resize(area); },
            &failed))
      return failed ? failed : static_cast<u16>(klErrNoMemory);
    for (int c = 0; c < m_colours; ++c) planes[c] = m_layer.planes[c].data();
    planes[3] = m_alpha ? m_layer.alpha.data() : nullptr;
    return 0;
  }

 private:
  CKLT_HostDocument::Layer& m_layer;
  int m_colours;
  bool m_alpha;
  u32 m_threads;
};

// Sides beyond the limit are named before a reader refuses them: the
// PNG header at 16, the PSD header at 14 (height first).
bool SidesFit(const CKLT_FileAccess::Bytes& b, bool png, std::string& error) {
  if (b.size() < 26) return true;
  const uint32_t first = KLF_GetBE32(b.data() + (png ? 16 : 14)), second = KLF_GetBE32(b.data() + (png ? 20 : 18));
  const uint32_t w = png ? first : second, h = png ? second : first;
  if (w <= kMaxSide && h <= kMaxSide) return true;
  error = "the image is " + std::to_string(w) + " x " + std::to_string(h) + " pixels; images may be at most " +
          std::to_string(kMaxSide) + " pixels a side";
  return false;
}

std::vector<uint8_t> Copy(const CKLF_Mem* m, size_t n) {
  return m && m->GetSize() >= n ? std::vector<uint8_t>(m->GetPtr(), m->GetPtr() + n) : std::vector<uint8_t>();
}

// An alpha plane, or none when it is opaque everywhere.
std::vector<uint8_t> AlphaOf(const u8* a, size_t n) {
  if (!a || std::all_of(a, a + n, [](u8 v) { return v == 255; })) return std::vector<uint8_t>();
  return std::vector<uint8_t>(a, a + n);
}

// The file's planes as one layer covering the canvas of w x h (the size
// its header gave).
CKLT_HostDocument::Layer WholeLayer(CKLF_ImageFormat& image, int colours, const char* name, int32_t w, int32_t h) {
  CKLT_HostDocument::Layer l;
  l.name = name;
  l.width = w;
  l.height = h;
  for (int c = 0; c < colours; ++c) {
    l.planes.push_back(Copy(image.GetImageDataMem(c), Area(w, h)));
    if (l.planes.back().empty()) l.planes.back().assign(Area(w, h), 0);
  }
  l.alpha = AlphaOf(image.GetImageDataPtr(-1), Area(w, h));
  return l;
}

// A photograph's planes turned upright as they are copied out of the
// reader into a layer of w x h (the upright size): the copy a read makes
// anyway, so the turn holds no plane more than a read as stored.
CKLT_HostDocument::Layer UprightLayer(CKLF_ImageFormat& image, int colours, unsigned orientation, int32_t w,
                                      int32_t h) {
  if (!CKLT_Orientation::Turn(orientation)) return WholeLayer(image, colours, "Background", w, h);
  CKLT_HostDocument::Layer l;
  l.name = "Background";
  l.width = w;
  l.height = h;
  const bool swapped = CKLT_Orientation::SwapsSides(orientation);
  for (int c = 0; c < colours; ++c) {
    l.planes.emplace_back(Area(w, h));
    const u8* stored = image.GetImageDataPtr(c);
    if (stored)
      CKLT_Orientation::Upright(stored, static_cast<uint32_t>(swapped ? h : w), static_cast<uint32_t>(swapped ? w : h),
                                orientation, l.planes.back().data());
  }
  return l;
}

// A layer decoded as stored, turned upright plane by plane: it holds one
// plane more while it turns.
void TurnUpright(CKLT_HostDocument::Layer& l, unsigned orientation) {
  if (!CKLT_Orientation::Turn(orientation)) return;
  const uint32_t w = static_cast<uint32_t>(l.width), h = static_cast<uint32_t>(l.height);
  const auto turn = [&](std::vector<uint8_t>& plane) {
    if (plane.empty()) return;
    std::vector<uint8_t> upright(plane.size());
    CKLT_Orientation::Upright(plane.data(), w, h, orientation, upright.data());
    plane.swap(upright);
  };
  for (std::vector<uint8_t>& plane : l.planes) turn(plane);
  turn(l.alpha);
  if (CKLT_Orientation::SwapsSides(orientation)) std::swap(l.width, l.height);
}

std::string ExifLeftOut(const char* why, bool resolution) {
  return std::string("its EXIF block is damaged (") + why + ") and is left out, with any orientation" +
         (resolution ? " or resolution" : "") + " it gives";
}

// An EXIF block's tags. A damaged one is left out with a note naming what
// it would have given. false when memory runs out.
bool ReadExif(const uint8_t* block, size_t size, bool resolution, CKLT_ExifTags::Tags& tags,
              std::vector<std::string>& notes, std::string& error) {
  if (!CKLT_ExifTags::Read(block, size, resolution, tags))
    return error = "its EXIF block cannot be read (out of memory)", false;
  if (tags.damage) notes.push_back(ExifLeftOut(tags.damage, resolution));
  return true;
}

// The note of a photograph read upright, or of an orientation not known.
std::string OrientationNote(unsigned orientation, int32_t w, int32_t h) {
  if (const char* turn = CKLT_Orientation::Turn(orientation))
    return "its EXIF orientation is " + std::to_string(orientation) + ": it is " + turn + " and read upright (" +
           std::to_string(w) + " x " + std::to_string(h) + " pixels), as photo viewers show it";
  return "its EXIF orientation " + std::to_string(orientation) + " is none of 1 to 8: it is read as stored";
}

}  // namespace

// The bytes a run may need, in the run's mode with c colour planes: the
// layers' planes (layerBytes) and on every canvas pixel the host's planes
// (the layer's colours; when it lets others or nothing show through, its
// alpha and the merged composite too; the selection and the plug-in's
// copy of it) and the plug-in's work; before the run, what the layers cost
// while read and converted; a share for each thread and what the program
// holds besides (ownBytes).
uint64_t CKLT_HostDocument::i_RunBytes(uint64_t layerBytes) const {
  const uint64_t c = static_cast<uint64_t>(RunPlanes());
  const uint64_t host = (m_mergedApart ? 2 * c + 2 : c) + (runSelection ? 2 : 0);
  const uint64_t run = layerBytes + Area(width, height) * (host + kWorkPerPlane * c + kWorkMore);
  const uint64_t sides = static_cast<uint64_t>(width) + static_cast<uint64_t>(height);
  return std::max(run, m_beforeRunBytes) + KLF_Parallel::Resolve(threads) * sides * kThreadPerSide + ownBytes;
}

Status CKLT_HostDocument::i_CheckBudget(uint64_t layerBytes, uint64_t budget, std::string& error) {
  const uint64_t need = i_RunBytes(layerBytes);
  if (need <= budget) return runBytes = need, kOk;
  std::string needs, budgets;
  SizesApart(need, budget, needs, budgets);
  const std::string as = runMode >= 0 && runMode != mode ? std::string(", converted to ") + ModeName(runMode) : "";
  error = "the document (" + std::to_string(width) + " x " + std::to_string(height) + " pixels" + as +
          ") needs about " + needs + " of memory, more than the memory budget of " + budgets +
          " (see --memory-budget)";
  return kNoMemory;
}

// Size and mode from a reader that has read the header, checked against
// the size asked for and the budget before any pixel is decoded.
Status CKLT_HostDocument::i_TakeHeader(CKLF_ImageFormat& image, uint64_t budget, std::string& error,
                                       bool mergedApart, bool swapSides) {
  m_mergedApart = mergedApart;
  m_beforeRunBytes = 0;
  u16 w = 0, h = 0;
  if (!image.GetMainImageSize(w, h)) return error = "its size cannot be read", kBadFile;
  const u8 m = image.GetImageMode();
  mode = m == CKLF_ImageFormat::kModeCMYK ? klpModeCMYK : m == CKLF_ImageFormat::kModeGrey ? klpModeGray : klpModeRGB;
  width = swapSides ? h : w;
  height = swapSides ? w : h;
  if (requiredWidth && (width != requiredWidth || height != requiredHeight)) {
    error = "it is " + std::to_string(width) + " x " + std::to_string(height) + " pixels, not " +
            std::to_string(requiredWidth) + " x " + std::to_string(requiredHeight);
    return kOtherSize;
  }
  return i_CheckBudget(0, budget, error);
}

void CKLT_HostDocument::i_TakeExtras(const CKLF_ImageFormat& image, bool swapped) {
  i_TakeResolution(image.GetResolution(), image.GetVerticalResolution(), swapped);
  const CKLF_Mem& profile = image.GetICCProfile();
  icc.assign(profile.GetPtr(), profile.GetPtr() + profile.GetSize());
}

// A file's resolution (0: not given), exchanged when the picture is read
// turned a quarter; one given alone stands for both.
void CKLT_HostDocument::i_TakeResolution(double across, double down, bool swapped) {
  if (swapped) std::swap(across, down);
  if (!(across > 0)) across = down;
  if (!(down > 0)) down = across;
  if (across > 0) resolution = across, verticalResolution = down;
}

void CKLT_HostDocument::i_TakePSDExtras(const CKLF_ImagePSD& psd) {
  i_TakeExtras(psd);
  if (psd.ResourcesDamaged())
    notes.push_back("its image resources are damaged: those from the damage on (a resolution, a colour profile, "
                    "alpha channel names) are not read");
}

Status CKLT_HostDocument::ReadFile(const std::string& path, uint64_t budget, std::string& error) {
  Bytes bytes;
  std::string reason;
  if (!CKLT_FileAccess::ReadAllSideBySide(path, threads, bytes, reason)) {
    const bool noMemory = errno == ENOMEM;
    error = "cannot read " + path + ": " + reason;
    return noMemory ? kNoMemory : kBadFile;
  }
  const Status s = Read(bytes, budget, reason);
  if (s != kOk) error = "cannot read " + path + ": " + reason;
  return s;
}

Status CKLT_HostDocument::Read(const Bytes& bytes, uint64_t budget, std::string& error) {
  notes.clear();
  layers.clear();
  icc.clear();
  runBytes = 0;
  resolution = 72.0;
  verticalResolution = 0;
  pixelsPerMetre = verticalPixelsPerMetre = 0;
  static const uint8_t kPng[4] = {0x89, 'P', 'N', 'G'};
  if (bytes.size() >= 4 && std::memcmp(bytes.data(), kPng, 4) == 0) return i_ReadPNG(bytes, budget, error);
  if (bytes.size() >= 4 && std::memcmp(bytes.data(), "8BPS", 4) == 0) return i_ReadPSD(bytes, budget, error);
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8) return i_ReadJPEG(bytes, budget, error);
  error = "it is neither a PNG, a PSD nor a JPEG file";
  return kBadFile;
}

Status CKLT_HostDocument::i_ReadPNG(const Bytes& bytes, uint64_t budget, std::string& error) {
  CKLF_ImagePNG png;
  png.SetThreads(threads);
  const u32 n = static_cast<u32>(bytes.size());
  if (!SidesFit(bytes, true, error)) return kBadFile;
  if (!png.GetImageInfoByPtr(bytes.data(), n)) return UnreadablePNG(png, error);
  if (!png.DataCanHoldImage()) {
    u16 w = 0, h = 0;
    const bool sized = png.GetMainImageSize(w, h);
    error = "the PNG file is damaged (too little image data" +
            (sized ? " for " + std::to_string(w) + " x " + std::to_string(h) + " pixels" : std::string()) + ")";
    return kBadFile;
  }
  u32 exifSize = 0;
  const u8* block = png.GetExifData(exifSize);
  CKLT_ExifTags::Tags exif;
  // The resolution is pHYs's, never the EXIF block's.
  if (!ReadExif(block, exifSize, false, exif, notes, error)) return kNoMemory;
  const unsigned turn = exif.orientation;
  const bool swapped = CKLT_Orientation::SwapsSides(turn);
  if (Status s = i_TakeHeader(png, budget, error, png.HasAlpha() != 0, swapped)) return s;
  // Decoded straight into the layer's planes as stored, made once the
  // first rows have decoded, then turned upright.
  Layer l;
  l.name = "Layer 1";
  l.width = swapped ? height : width;
  l.height = swapped ? width : height;
  l.planes.resize(ColourPlanes());
  LayerPlanes planes(l, ColourPlanes(), png.HasAlpha() != 0, threads);
  if (!png.ParseImageInto(bytes.data(), n, planes, static_cast<u16>(l.width), static_cast<u16>(l.height)))
    return UnreadablePNG(png, error);
  if (png.GetSourceBits() > 8) notes.push_back("its 16-bit samples are reduced to 8 bits for the plug-in");
  if (png.ProfileDropped()) notes.push_back("its colour profile is larger than 8 MiB and is left out");
  if (png.ProfileUnreadable())
    notes.push_back(std::string("its colour profile cannot be used (") + png.ProfileProblem() + ") and is left out");
  for (u32 i = 0; i < png.LeftOutCount() && i < CKLF_ImagePNG::kLeftOutKept; ++i)
    notes.push_back(LeftOutNote(png.LeftOut(i)));
  if (png.LeftOutCount() > CKLF_ImagePNG::kLeftOutKept)
    notes.push_back(std::to_string(png.LeftOutCount() - CKLF_ImagePNG::kLeftOutKept) +
                    " more damaged or malformed chunks are left out");
  i_TakeExtras(png, swapped);
  pixelsPerMetre = swapped ? png.GetVerticalPixelsPerMetre() : png.GetPixelsPerMetre();
  verticalPixelsPerMetre = swapped ? png.GetPixelsPerMetre() : png.GetVerticalPixelsPerMetre();
  if (std::all_of(l.alpha.begin(), l.alpha.end(), [](uint8_t v) { return v == 255; }))
    std::vector<uint8_t>().swap(l.alpha);
  if (turn > 1) notes.push_back(OrientationNote(turn, width, height));
  TurnUpright(l, turn);
  layers.push_back(std::move(l));
  return kOk;
}

// A photograph stored turned (its EXIF orientation) is read upright, its
// sides and resolutions exchanged for orientations 5 to 8, before the
// budget and the size asked for are checked.
Status CKLT_HostDocument::i_ReadJPEG(const Bytes& bytes, uint64_t budget, std::string& error) {
  CKLF_ImageJPEG jpeg;
  const u32 n = static_cast<u32>(bytes.size());
  if (!jpeg.GetImageInfoByPtr(bytes.data(), n)) return UnreadableJPEG(jpeg, error);
  CKLT_ExifTags::Tags exif;
  const CKLF_Mem& block = jpeg.GetExifData();
  if (!ReadExif(block.GetPtr(), block.GetSize(), true, exif, notes, error)) return kNoMemory;
  const unsigned turn = exif.orientation;
  const bool swapped = CKLT_Orientation::SwapsSides(turn);
  if (Status s = i_TakeHeader(jpeg, budget, error, false, swapped)) return s;
  // A file cut short or corrupt is refused as a damaged PNG or PSD is,
  // rather than filtered with made-up grey where its data is missing: the
  // decode stops at the first damage.
  jpeg.SetStopAtDamage(1);
  if (!jpeg.ParseImageByPtr(bytes.data(), n) || jpeg.IsDamaged()) return UnreadableJPEG(jpeg, error);
  i_TakeExtras(jpeg, swapped);
  if (!(jpeg.GetResolution() > 0)) i_TakeResolution(exif.xDpi, exif.yDpi, swapped);
  if (turn > 1) notes.push_back(OrientationNote(turn, width, height));
  if (jpeg.ProfileIncomplete())
    notes.push_back("its colour profile is incomplete (a part missing, twice or numbered past the count) and is left out");
  // CMYK samples are taken as PSD holds them, 255 for no ink, with Adobe's
  // marker or without, as other readers take them.
  layers.push_back(UprightLayer(jpeg, ColourPlanes(), turn, width, height));
  return kOk;
}

Status CKLT_HostDocument::i_ReadPSD(const Bytes& bytes, uint64_t budget, std::string& error) {
  uint64_t layerBytes = 0;
  const Status s = i_ReadPSDImage(bytes, budget, error, layerBytes);
  return s == kOk ? i_ReadPSDChannels(bytes, budget, layerBytes, error) : s;
}

// The alpha channels, when the budget holds them with the layers: the
// reader's and the copies taken here. Channels the budget does not hold,
// or damaged ones, are left out with a note (the image is whole without
// them); memory running out while they are read ends the read.
Status CKLT_HostDocument::i_ReadPSDChannels(const Bytes& bytes, uint64_t budget, uint64_t layerBytes,
                                            std::string& error) {
  CKLF_ImagePSD psd;
  const u32 n = static_cast<u32>(bytes.size());
  if (!psd.GetImageInfoByPtr(bytes.data(), n)) return UnreadablePSD(psd, error);
  const uint64_t extra = psd.GetImageBPP() == 8 ? static_cast<uint64_t>(KLF_GetBE16(bytes.data() + 12)) : 0;
  if (extra <= static_cast<uint64_t>(ColourPlanes())) return kOk;
  const uint64_t need = i_RunBytes(layerBytes + 2 * (extra - ColourPlanes()) * Area(width, height));
  if (need > budget) {
    std::string needs, budgets;
    SizesApart(need, budget, needs, budgets);
    notes.push_back("its alpha channels are left out for the memory budget: with them the run would need about " +
                    needs + ", more than the budget of " + budgets + " (see --memory-budget)");
    return kOk;
  }
  if (!psd.ParseAlphaChannelsByPtr(bytes.data(), n)) {
    if (psd.GetError() == klErrNoMemory) return error = "its alpha channels cannot be read (out of memory)", kNoMemory;
    notes.push_back(std::string("its alpha channels cannot be read (") +
                    (*psd.GetReason() ? psd.GetReason() : KLF_ErrorText(psd.GetError())) +
                    "); it is read without them");
    return kOk;
  }
  runBytes = need;
  for (u32 i = 0; i < psd.GetAlphaChannelCount(); ++i)
    channels.push_back({psd.GetAlphaChannelName(i), std::vector<uint8_t>(psd.GetAlphaChannel(i),
                                                                        psd.GetAlphaChannel(i) + Area(width, height))});
  if (!channels.empty())
    notes.push_back("its alpha channels are offered to the plug-in; the output does not keep them");
  return kOk;
}

Status CKLT_HostDocument::i_ReadPSDImage(const Bytes& bytes, uint64_t budget, std::string& error,
                                          uint64_t& layerBytes) {
  if (bytes.size() >= 6 && bytes[4] == 0 && bytes[5] == 2) {
    error = "it is a large document (PSB) file; save it as PSD, at most 65535 pixels a side";
    return kBadFile;
  }
  if (!SidesFit(bytes, false, error)) return kBadFile;
  CKLF_ImagePSD psd;
  const u32 n = static_cast<u32>(bytes.size());
  const u8 known = psd.GetImageInfoByPtr(bytes.data(), n);
  // The reader knows depths 1, 8 and 16; a 32-bit file is named as they are.
  const unsigned bits = known ? psd.GetImageBPP() : bytes.size() >= 26 ? KLF_GetBE16(bytes.data() + 22) : 0;
  if (bits == 32 || (known && bits != 8)) {
    error = "it has " + std::to_string(bits) + " bits a sample; PSD files are read with 8";
    return kBadFile;
  }
  if (!known) return UnreadablePSD(psd, error);
  if (Status s = i_TakeHeader(psd, UINT64_MAX, error)) return s;
  // The records first: the layers' sizes and the budget are checked before
  // a channel is decoded; without them, the budget of the flattened image.
  const bool records = psd.LParseRecordsByPtr(bytes.data(), n);
  if (Status s = records ? i_CheckPSDLayers(psd, bytes.size(), budget, error, layerBytes)
                         : i_CheckBudget(0, budget, error))
    return s;
  if (records && psd.LParseByPtr(bytes.data(), n)) {
    i_TakePSDExtras(psd);
    i_ReadPSDLayers(psd);
    return layers.empty() ? i_ReadPSDComposite(psd, bytes, error) : kOk;
  }
  if (!psd.LayersZipCompressed()) return UnreadablePSD(psd, error);
  if (i_ReadPSDComposite(psd, bytes, error) != kOk) {
    error =
        "its layers are ZIP-compressed (ImageMagick's default), which this program cannot read, and it has no "
        "flattened image it can read instead; save it with RLE compression (ImageMagick: -compress RLE)";
    return kBadFile;
  }
  notes.push_back(
      "its layers are ZIP-compressed, which this program cannot read: its flattened image is read as "
      "one layer (save it with RLE compression to keep the layers; ImageMagick: -compress RLE)");
  return kOk;
}

// The layers' records against the sides this program takes and against
// the budget. Before the run: while the file is read, the file, the
// reader's planes and the layers' copies of them; while they are converted
// to the run's mode, each layer's old and new planes beside the others.
// layerBytes, in the run: the layers in the run's mode, and a filtered
// layer's new planes, which can grow to the canvas, while its old ones are
// held.
Status CKLT_HostDocument::i_CheckPSDLayers(CKLF_ImagePSD& psd, uint64_t fileBytes, uint64_t budget,
                                           std::string& error, uint64_t& layerBytes) {
  const uint64_t from = static_cast<uint64_t>(ColourPlanes()), colours = static_cast<uint64_t>(RunPlanes());
  uint64_t decoded = 0, held = 0, heldFrom = 0, largest = 0, newPlanes = 0, count = 0;
  bool seeThrough = false;
  CKLF_ImagePSD::PSDLayerInfoExt_s info;
  for (u32 i = 0; psd.GetLayerInfo(i, info); ++i) {
    if (static_cast<uint32_t>(info.width) > kMaxSide || static_cast<uint32_t>(info.height) > kMaxSide) {
      error = "layer \"" + std::string(info.name ? info.name : "") + "\" is " + std::to_string(info.width) + " x " +
              std::to_string(info.height) + " pixels; layers may be at most " + std::to_string(kMaxSide) +
              " pixels a side";
      return kBadFile;
    }
    const u8 mask = psd.GetLayerPlaneMask(i);
    const uint64_t area = Area(info.width, info.height);
    decoded += area * static_cast<uint64_t>(__builtin_popcount(mask));
    if (info.groupOpen || info.groupEnd) continue;
    // Another layer, or one that lets the canvas show through, makes the
    // run hold a merged composite and an alpha apart.
    ++count;
    const int64_t x = info.left, y = info.top;
    seeThrough = seeThrough || !mask || (mask & 1) || x > 0 || y > 0 || x + info.width < width ||
                 y + info.height < height;
    if (mask) {
      held += area * (colours + (mask & 1));
      heldFrom += area * (from + (mask & 1));
      largest = std::max(largest, area * colours);
    }
    // A layer without pixels grows to what the canvas shows.
    const int64_t l = mask ? info.left : 0, t = mask ? info.top : 0;
    const int64_t r = std::max<int64_t>(l + (mask ? info.width : 0), width);
    const int64_t b = std::max<int64_t>(t + (mask ? info.height : 0), height);
    const uint64_t w = static_cast<uint64_t>(r - std::min<int64_t>(l, 0));
    const uint64_t h = static_cast<uint64_t>(b - std::min<int64_t>(t, 0));
    newPlanes = std::max(newPlanes, h && w > UINT64_MAX / h / (colours + 1) ? UINT64_MAX / 2 : w * h * (colours + 1));
  }
  const uint64_t converting = from != colours ? std::max(heldFrom, held) + largest : 0;
  layerBytes = held + newPlanes;
  m_beforeRunBytes = std::max(heldFrom + fileBytes + decoded, converting);
  m_mergedApart = count > 1 || seeThrough;
  return i_CheckBudget(layerBytes, budget, error);
}

// Layers at their own sizes. A colour channel the file lacks is zero and a
// missing alpha is opaque, as in the format; a layer whose channels carry
// no data at all has no pixels and is kept empty.
void CKLT_HostDocument::i_ReadPSDLayers(CKLF_ImagePSD& psd) {
  const int colours = ColourPlanes();
  bool groups = false;
  CKLF_ImagePSD::PSDLayerInfoExt_s info;
  for (u32 i = 0; psd.GetLayerInfo(i, info); ++i) {
    if (info.groupOpen || info.groupEnd) {
      groups = true;
      continue;
    }
    Layer l;
    l.name = info.name ? info.name : "";
    if (l.name.size() < info.nameBytes)
      notes.push_back("the name of layer " + std::to_string(layers.size()) + " holds a zero byte after \"" + l.name +
                      "\", so it is not UTF-8 text (UTF-16, perhaps): it is read up to there");
    l.left = info.left;
    l.top = info.top;
    l.visible = info.visible != 0;
    l.opacity = info.opacity;
    const size_t n = Area(info.width, info.height);
    if (std::any_of(info.planes, info.planes + 5, [](CKLF_Mem* p) { return p != nullptr; })) {
      l.width = info.width;
      l.height = info.height;
      for (int c = 0; c < colours; ++c) {
        l.planes.push_back(Copy(info.planes[c + 1], n));
        if (l.planes.back().empty()) l.planes.back().assign(n, 0);
      }
      if (info.planes[0] && info.planes[0]->GetSize() >= n) l.alpha = AlphaOf(info.planes[0]->GetPtr(), n);
    } else {
      if (n) notes.push_back("layer \"" + l.name + "\" carries no pixels; it is kept as an empty layer");
      l.planes.assign(colours, std::vector<uint8_t>());
    }
    layers.push_back(std::move(l));
  }
  if (groups) notes.push_back("its layer groups are not kept: their layers are written ungrouped");
}

Status CKLT_HostDocument::i_ReadPSDComposite(CKLF_ImagePSD& psd, const Bytes& bytes,
                                             std::string& error) {
  if (!psd.GetImageDataPtr(0) && !psd.ParseImageByPtr(bytes.data(), static_cast<u32>(bytes.size())))
    return UnreadablePSD(psd, error);
  i_TakePSDExtras(psd);
  layers.clear();
  layers.push_back(WholeLayer(psd, ColourPlanes(), "Background", width, height));
  return kOk;
}

std::vector<std::string> CKLT_HostDocument::PSDNameNotes() const {
  std::vector<std::string> out;
  for (const Layer& l : layers) {
    const std::string kept = l.name.substr(0, PSDNameBytes(l.name, CKLF_ImagePSD::kNameBytes));
    const std::string older = l.name.substr(0, PSDNameBytes(l.name, CKLF_ImagePSD::kPascalNameBytes));
    if (older == l.name) continue;
    const std::string field = "its older name field, which this program reads back, keeps " +
                              std::to_string(CKLF_ImagePSD::kPascalNameBytes) + " bytes: \"" + older + "\"";
    out.push_back(kept == l.name ? "layer \"" + l.name + "\": " + field
                                 : "layer \"" + l.name + "\" is written as \"" + kept + "\" (PSD keeps " +
                                       std::to_string(CKLF_ImagePSD::kNameBytes) + " bytes of a layer's name; " +
                                       field + ")");
  }
  return out;
}

bool CKLT_HostDocument::CanWrite(const std::string& path, int16_t m, int32_t w, int32_t h, std::string& error) {
  if (EndsWith(path, ".psd") && (w > kMaxPSDSide || h > kMaxPSDSide))
    return error = "the document is " + std::to_string(w) + " x " + std::to_string(h) + " pixels and PSD files hold " +
                   std::to_string(kMaxPSDSide) + " pixels a side at most: write it as .png",
           false;
  if (EndsWith(path, ".psd")) return true;
  if (!EndsWith(path, ".png")) return error = "the output must be a .png or .psd file", false;
  if (m == klpModeCMYK) return error = "PNG holds RGB and gray images only: write the CMYK document as .psd, or convert it with --mode rgb", false;
  return true;
}

bool CKLT_HostDocument::Write(const std::string& path, std::string& error, bool* noMemory, std::string* note) const {
  if (noMemory) *noMemory = false;
  if (note) note->clear();
  if (!CanWrite(path, mode, width, height, error)) return false;
  if (width <= 0 || height <= 0 || static_cast<uint32_t>(width) > kMaxSide || static_cast<uint32_t>(height) > kMaxSide)
    return error = "the document is empty or too large", false;
  CKLP_ReplaceFile file;
  errno = 0;
  const bool written =
      file.Begin(path, error) &&
      (EndsWith(path, ".png") ? i_WritePNG(file.TempPath(), error, note) : i_WritePSD(file.TempPath(), error)) &&
      file.Commit(error);
  if (!written && noMemory) *noMemory = errno == ENOMEM;
  return written;
}

namespace {

// Dots per inch rounded to whole pixels a metre; 0 for none.
u32 PerMetre(double dpi) {
  const double perMetre = std::round(dpi / 0.0254);
  return !(perMetre >= 1) ? 0 : perMetre > 2147483647.0 ? 2147483647u : static_cast<u32>(perMetre);
}

// The reason of a failed write; errno is ENOMEM when memory ran out,
// else 0.
std::string WriteFailure(u16 code, int savedErrno) {
  std::string reason;
  errno = KLF_WriteFailure(code, savedErrno, reason) == klErrNoMemory ? ENOMEM : 0;
  return reason;
}

}  // namespace

bool CKLT_HostDocument::i_WritePNG(const std::string& path, std::string& error, std::string* note) const {
  std::vector<std::vector<uint8_t>> planes;
  std::vector<uint8_t> alpha;
  // One opaque layer over the canvas is written from its own planes.
  const Layer* only = layers.size() == 1 ? &layers[0] : nullptr;
  const bool direct = only && only->visible && only->opacity == 255 && only->alpha.empty() && LayerCoversCanvas(*only);
  if (!direct) Flatten(planes, alpha);
  const std::vector<std::vector<uint8_t>>& colours = direct ? only->planes : planes;
  const bool opaque = std::all_of(alpha.begin(), alpha.end(), [](uint8_t v) { return v == 255; });
  CKLF_StdFile file;
  errno = 0;
  if (!file.Open(path.c_str(), 3)) return error = WriteFailure(file.GetError(), errno), false;
  CKLF_ImagePNG png;
  if (!png.Create(file)) return error = WriteFailure(png.GetError(), errno), false;
  png.SetCompression(pngCompression);
  png.SetThreads(threads);
  CKLF_ImagePNG::PNGWRITE_PARAMS p;
  std::memset(&p, 0, sizeof(p));
  p.width = static_cast<u16>(width);
  p.height = static_cast<u16>(height);
  const bool rgb = mode == klpModeRGB;
  p.mode = rgb ? (opaque ? CKLF_ImagePNG::kWriteRGB : CKLF_ImagePNG::kWriteRGBA)
               : (opaque ? CKLF_ImagePNG::kWriteGrey : CKLF_ImagePNG::kWriteGreyAlpha);
  for (int c = 0; c < ColourPlanes(); ++c) p.planes[c] = const_cast<u8*>(colours[c].data());
  p.planes[ColourPlanes()] = alpha.data();
  p.stride = static_cast<u32>(width);
  p.product = "Tessarette host";
  p.resolution = resolution;
  p.pixelsPerMetre = pixelsPerMetre ? pixelsPerMetre : PerMetre(resolution);
  p.verticalResolution = verticalResolution;
  p.verticalPixelsPerMetre = verticalPixelsPerMetre ? verticalPixelsPerMetre : PerMetre(verticalResolution);
  p.icc = icc.empty() ? nullptr : icc.data();
  p.iccSize = static_cast<u32>(icc.size());
  bool ok = png.WritePNG(&p) != 0;
  int saved = errno;
  u16 code = png.GetError();
  if (!file.Close() && ok) ok = false, code = file.GetError(), saved = errno;
  if (!ok) error = WriteFailure(code, saved);
  if (ok && note && png.ProfileUnreadable())
    *note = std::string("its colour profile cannot be written to PNG (") + png.ProfileProblem() + ") and is left out";
  return ok;
}

bool CKLT_HostDocument::i_WritePSD(const std::string& path, std::string& error) const {
  if (layers.empty()) return error = "the document has no layer", false;
  CKLF_StdFile file;
  errno = 0;
  if (!file.Open(path.c_str(), 3)) return error = WriteFailure(file.GetError(), errno), false;
  CKLF_ImagePSD psd;
  if (!psd.Create(file)) return error = WriteFailure(psd.GetError(), errno), false;
  CKLF_ImagePSD::PSDMLWRITE_INITPARAMS init;
  std::memset(&init, 0, sizeof(init));
  init.width = static_cast<u16>(width);
  init.height = static_cast<u16>(height);
  init.mode = mode == klpModeRGB ? 1 : mode == klpModeGray ? 2 : 3;
  init.resolution = resolution;
  init.verticalResolution = verticalResolution;
  init.globalAngle = 30;
  init.iccProfile = icc.empty() ? nullptr : icc.data();
  init.iccSize = static_cast<u32>(icc.size());
  if (!psd.Write_Init(&init)) return error = WriteFailure(psd.GetError(), errno), false;
  std::vector<std::vector<uint8_t>> opaque(layers.size());
  static u8 none = 0;  // the planes of an empty layer
  for (size_t i = 0; i < layers.size(); ++i) {
    const Layer& l = layers[i];
    if (l.left < -32768 || l.left > 32767 || l.top < -32768 || l.top > 32767 || l.width > 65535 || l.height > 65535)
      return error = "layer \"" + l.name + "\" lies beyond what PSD can place", false;
    CKLF_ImagePSD::PSDMLWRITE_LAYERPARAMS lp;
    std::memset(&lp, 0, sizeof(lp));
    lp.width = static_cast<u16>(l.width);
    lp.height = static_cast<u16>(l.height);
    lp.x = static_cast<i16>(l.left);
    lp.y = static_cast<i16>(l.top);
    lp.visible = l.visible ? 1 : 0;
    lp.opacity = l.opacity;
    std::memcpy(lp.name, l.name.data(), PSDNameBytes(l.name, CKLF_ImagePSD::kNameBytes));
    u8* planes[5] = {&none, &none, &none, &none, &none};
    const int n = ColourPlanes();
    for (int c = 0; c < n && Area(l.width, l.height); ++c) planes[c] = const_cast<u8*>(l.planes[c].data());
    if (l.alpha.empty() && Area(l.width, l.height)) opaque[i].assign(Area(l.width, l.height), 255);
    const std::vector<uint8_t>& a = l.alpha.empty() ? opaque[i] : l.alpha;
    if (!a.empty()) planes[n] = const_cast<u8*>(a.data());
    if (!psd.Write_AddLayer(&lp, planes, static_cast<u32>(l.width)))
      return error = "out of memory while collecting the layers", false;
  }
  bool ok = psd.WritePSD() != 0;
  int saved = errno;
  u16 code = psd.GetError();
  psd.WriteClean();
  if (!file.Close() && ok) ok = false, code = file.GetError(), saved = errno;
  if (!ok) error = WriteFailure(code, saved);
  return ok;
}

bool CKLT_HostDocument::ConvertTo(int16_t newMode) {
  if (newMode != klpModeGray && newMode != klpModeRGB && newMode != klpModeCMYK) return false;
  if (newMode == mode) return true;
  const int from = ColourPlanes(), to = ColourPlanesOf(newMode);
  for (Layer& l : layers) {
    const size_t n = Area(l.width, l.height);
    std::vector<std::vector<uint8_t>> out(to, std::vector<uint8_t>(n));
    int16_t in[4] = {0, 0, 0, 0}, res[4];
    for (size_t i = 0; i < n; ++i) {
      for (int c = 0; c < from; ++c) in[c] = l.planes[c][i];
      CKLT_FilterHost::ConvertColour(SpaceOf(mode), in, SpaceOf(newMode), res);
      for (int c = 0; c < to; ++c) out[c][i] = static_cast<uint8_t>(res[c]);
    }
    l.planes.swap(out);
  }
  mode = newMode;
  icc.clear();
  return true;
}

void CKLT_HostDocument::LayerToCanvas(const Layer& layer, std::vector<std::vector<uint8_t>>& planes,
                                      std::vector<uint8_t>& alpha) const {
  const size_t n = Area(width, height);
  planes.assign(ColourPlanes(), std::vector<uint8_t>(n, 0));
  alpha.assign(n, 0);
  const int32_t x0 = std::max(0, layer.left), x1 = std::min(width, layer.left + layer.width);
  const int32_t y0 = std::max(0, layer.top), y1 = std::min(height, layer.top + layer.height);
  for (int32_t y = y0; y < y1 && x0 < x1; ++y) {
    const size_t src = static_cast<size_t>(y - layer.top) * layer.width + (x0 - layer.left);
    const size_t dst = static_cast<size_t>(y) * width + x0;
    for (int c = 0; c < ColourPlanes(); ++c)
      std::memcpy(planes[c].data() + dst, layer.planes[c].data() + src, static_cast<size_t>(x1 - x0));
    if (layer.alpha.empty())
      std::memset(alpha.data() + dst, 255, static_cast<size_t>(x1 - x0));
    else
      std::memcpy(alpha.data() + dst, layer.alpha.data() + src, static_cast<size_t>(x1 - x0));
  }
}

void CKLT_HostDocument::PutBack(Layer& layer, const std::vector<std::vector<uint8_t>>& planes,
                                const std::vector<uint8_t>& alpha) const {
  // The new bounds: the old ones, grown to what the canvas now shows.
  int32_t l = layer.left, t = layer.top, r = layer.left + layer.width, b = layer.top + layer.height;
  if (layer.width <= 0 || layer.height <= 0) l = t = INT32_MAX, r = b = INT32_MIN;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      if (!alpha.empty() && !alpha[static_cast<size_t>(y) * width + x]) continue;
      l = std::min(l, x), t = std::min(t, y), r = std::max(r, x + 1), b = std::max(b, y + 1);
    }
  Layer out;
  if (r > l && b > t) out.left = l, out.top = t, out.width = r - l, out.height = b - t;
  const size_t n = Area(out.width, out.height);
  out.planes.assign(ColourPlanes(), std::vector<uint8_t>(n, 0));
  out.alpha.assign(n, 0);
  // What the layer held, then the canvas over it.
  for (int32_t y = 0; y < out.height; ++y)
    for (int32_t x = 0; x < out.width; ++x) {
      const int32_t dx = out.left + x, dy = out.top + y;
      const size_t o = static_cast<size_t>(y) * out.width + x;
      if (dx >= 0 && dy >= 0 && dx < width && dy < height) {
        const size_t i = static_cast<size_t>(dy) * width + dx;
        for (int c = 0; c < ColourPlanes(); ++c) out.planes[c][o] = planes[c][i];
        out.alpha[o] = alpha.empty() ? 255 : alpha[i];
      } else if (dx >= layer.left && dy >= layer.top && dx < layer.left + layer.width &&
                 dy < layer.top + layer.height) {
        const size_t i = static_cast<size_t>(dy - layer.top) * layer.width + (dx - layer.left);
        for (int c = 0; c < ColourPlanes(); ++c) out.planes[c][o] = layer.planes[c][i];
        out.alpha[o] = layer.alpha.empty() ? 255 : layer.alpha[i];
      }
    }
  if (std::all_of(out.alpha.begin(), out.alpha.end(), [](uint8_t v) { return v == 255; })) out.alpha.clear();
  layer.left = out.left, layer.top = out.top, layer.width = out.width, layer.height = out.height;
  layer.planes.swap(out.planes);
  layer.alpha.swap(out.alpha);
}

bool CKLT_HostDocument::LayerHasTransparency(const Layer& layer) const {
  return !layer.alpha.empty() || layer.left > 0 || layer.top > 0 || layer.left + layer.width < width ||
         layer.top + layer.height < height;
}

bool CKLT_HostDocument::LayerIsOffCanvas(const Layer& layer) const {
  const int32_t x0 = std::max(0, layer.left), x1 = std::min(width, layer.left + layer.width);
  const int32_t y0 = std::max(0, layer.top), y1 = std::min(height, layer.top + layer.height);
  for (int32_t y = y0; y < y1; ++y)
    for (int32_t x = x0; x < x1; ++x)
      if (layer.alpha.empty() || layer.alpha[static_cast<size_t>(y - layer.top) * layer.width + (x - layer.left)])
        return false;
  return true;
}

void CKLT_HostDocument::Flatten(std::vector<std::vector<uint8_t>>& planes, std::vector<uint8_t>& alpha) const {
  const int nc = ColourPlanes();
  planes.assign(nc, std::vector<uint8_t>(Area(width, height), 0));
  alpha.assign(Area(width, height), 0);
  for (const Layer& l : layers) {
    if (!l.visible || l.opacity == 0) continue;
    const int32_t x0 = std::max(0, l.left), x1 = std::min(width, l.left + l.width);
    const int32_t y0 = std::max(0, l.top), y1 = std::min(height, l.top + l.height);
    for (int32_t y = y0; y < y1; ++y)
      for (int32_t x = x0; x < x1; ++x) {
        const size_t s = static_cast<size_t>(y - l.top) * l.width + (x - l.left);
        const size_t i = static_cast<size_t>(y) * width + x;
        const uint32_t a = (l.alpha.empty() ? 255u : l.alpha[s]) * l.opacity / 255u;
        if (a == 0) continue;
        const uint32_t below = alpha[i] * (255u - a) / 255u;
        const uint32_t out = a + below;
        for (int c = 0; c < nc; ++c)
          planes[c][i] = static_cast<uint8_t>((l.planes[c][s] * a + planes[c][i] * below + out / 2) / out);
        alpha[i] = static_cast<uint8_t>(out);
      }
  }
}
