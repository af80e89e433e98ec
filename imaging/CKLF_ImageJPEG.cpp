#include "CKLF_ImageJPEG.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
// After jpeglib.h, whose configuration decides the message list.
#include <jerror.h>

// libjpeg reports errors through my_error_exit, which jumps back to the
// setjmp of the function driving the decompressor. Those functions and the
// source callbacks keep only plain locals, so no destructor is skipped.

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];  // the fatal error, else the first damage
  u8 damaged;
  u8 stopAtDamage;  // the first damage ends the decode as an error does
};

struct MemorySourceRecord {
  jpeg_source_mgr pub;
  u32 size;
  const JOCTET* data;
  u8 startOfFile;
};

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

// Every scan passes over the blocks of its components, and nothing else
// bounds how many a file holds: more than this is refused as damaged.
const int kMaxScans = 500;
// Nor how often they pass over the same blocks and coefficients: a
// progressive file of libjpeg's passes over its blocks 5 to 10 times, and
// a coefficient refined bit by bit from the last bit the format allows is
// visited 14 times. Work within the free amounts is cheap at any count.
const int kMaxBlockPasses = 64;
const int kMaxCoefficientPasses = 16;
const u64 kFreeBlocks = u64(1) << 22;
const u64 kFreeCoefficients = kFreeBlocks * 64;
// Our own messages, numbered past libjpeg's.
const int kMsgTooManyScans = 1000;
const int kMsgTooManyBlockPasses = 1001;
const int kMsgTooManyCoefficientPasses = 1002;
const char* const kOwnMessages[] = {"More than %d scans", "Scans that pass over the image's blocks more than %d times",
                                    "Scans that pass over the image's coefficients more than %d times"};

// What the APP1 and APP2 segments of a header leave: the first Exif block
// (its name dropped), and the parts of a profile taken as libjpeg's
// jpeg_read_icc_profile takes them: one part count, every part once.
// Allocated in the decompressor's image pool.
struct KeptSegments {
  JOCTET* exif;
  unsigned exifSize;
  int parts;       // as the first profile segment says; 0 none seen
  u8 badProfile;   // a count that changed, a part twice or past the count
  u8 present[256];
  JOCTET* part[256];
  unsigned partSize[256];
};

// Warnings that mean the entropy-coded data is corrupt or missing: libjpeg
// goes on with what it can make up.
bool IsDamage(int code) {
  switch (code) {
#if JPEG_LIB_VERSION >= 70 || defined(D_ARITH_CODING_SUPPORTED)
    case JWRN_ARITH_BAD_CODE:
#endif
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_JPEG_EOF:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL: return true;
    default: return false;
  }
}

// Errors that name a feature the library lacks rather than broken data.
bool IsUnsupported(int code) {
  switch (code) {
    case JERR_ARITH_NOTIMPL:
    case JERR_BAD_PRECISION:
    case JERR_CCIR601_NOTIMPL:
    case JERR_COMPONENT_COUNT:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_FRACT_SAMPLE_NOTIMPL:
    case JERR_IMAGE_TOO_BIG:
    case JERR_NOTIMPL:
    case JERR_NOT_COMPILED:
    case JERR_SOF_UNSUPPORTED: return true;
    default: return false;
  }
}

// The code of a libjpeg error: its memory running out is ours to report
// as such, whatever the data.
u16 CodeOf(int msgCode, u16 otherwise) {
  return msgCode == JERR_OUT_OF_MEMORY ? u16(klErrNoMemory) : IsUnsupported(msgCode) ? u16(klErrUnsupported) : otherwise;
}

// The coding processes of the frame headers libjpeg does not decode.
const char* ProcessName(int marker) {
  switch (marker) {
    case 0xC3: return "lossless";
    case 0xC5: return "differential sequential";
    case 0xC6: return "differential progressive";
    case 0xC7: return "differential lossless";
    case 0xCB: return "lossless arithmetic-coded";
    case 0xCD: return "differential sequential arithmetic-coded";
    case 0xCE: return "differential progressive arithmetic-coded";
    case 0xCF: return "differential lossless arithmetic-coded";
    default: return "an unknown process";
  }
}

// Nothing is printed; warnings are counted and the first damage kept.
void EmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  ++err->pub.num_warnings;
  if (err->damaged || !IsDamage(err->pub.msg_code)) return;
  err->damaged = 1;
  (*err->pub.format_message)(cinfo, err->message);
  if (err->stopAtDamage) longjmp(err->jump, 1);
}

}  // namespace

// A variant libjpeg does not decode is named in the user's terms (its
// coding process, its precision, its components); other errors keep
// libjpeg's text.
void my_error_exit(j_common_ptr cinfo) {
  ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  const int n = err->pub.msg_parm.i[0];
  switch (err->pub.msg_code) {
    case JERR_SOF_UNSUPPORTED:
      std::snprintf(err->message, sizeof(err->message), "%s coding (SOF%d)", ProcessName(n), n - 0xC0);
      break;
    case JERR_BAD_PRECISION: std::snprintf(err->message, sizeof(err->message), "%d bits a sample", n); break;
    case JERR_COMPONENT_COUNT: std::snprintf(err->message, sizeof(err->message), "%d colour components", n); break;
    default: (*cinfo->err->format_message)(cinfo, err->message);
  }
  longjmp(err->jump, 1);
}

void init_source_frommem(j_decompress_ptr cinfo) {
  reinterpret_cast<MemorySourceRecord*>(cinfo->src)->startOfFile = 1;
}

// The block once; after it, an end-of-image marker, again and again, so a
// decoder that wants more than the data holds comes to an end.
boolean fill_input_buffer_frommem(j_decompress_ptr cinfo) {
  MemorySourceRecord* src = reinterpret_cast<MemorySourceRecord*>(cinfo->src);
  if (src->startOfFile) {
    if (src->size == 0) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    src->pub.next_input_byte = src->data;
    src->pub.bytes_in_buffer = src->size;
    src->startOfFile = 0;
    return TRUE;
  }
  WARNMS(cinfo, JWRN_JPEG_EOF);
  src->pub.next_input_byte = kEndOfImage;
  src->pub.bytes_in_buffer = 2;
  return TRUE;
}

void skip_input_data_frommem(j_decompress_ptr cinfo, long n) {
  if (n <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  size_t k = static_cast<unsigned long>(n) < src->bytes_in_buffer ? static_cast<size_t>(n) : src->bytes_in_buffer;
  src->next_input_byte += k;
  src->bytes_in_buffer -= k;
}

void term_source_frommem(j_decompress_ptr) {}

void jpeg_frommem_src(jpeg_decompress_struct* cinfo, const void* data, u32 size) {
  if (!cinfo->src) {
    cinfo->src = static_cast<jpeg_source_mgr*>((*cinfo->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(MemorySourceRecord)));
  }
  MemorySourceRecord* src = reinterpret_cast<MemorySourceRecord*>(cinfo->src);
  src->pub.init_source = init_source_frommem;
  src->pub.fill_input_buffer = fill_input_buffer_frommem;
  src->pub.skip_input_data = skip_input_data_frommem;
  src->pub.resync_to_restart = jpeg_resync_to_restart;
  src->pub.term_source = term_source_frommem;
  src->pub.next_input_byte = nullptr;
  src->pub.bytes_in_buffer = 0;
  src->size = size;
  src->data = static_cast<const JOCTET*>(data);
  src->startOfFile = 0;
}

namespace {

void SetUpErrors(jpeg_decompress_struct* cinfo, ErrorManager* err) {
  std::memset(cinfo, 0, sizeof(*cinfo));
  cinfo->err = jpeg_std_error(&err->pub);
  err->pub.error_exit = my_error_exit;
  err->pub.emit_message = EmitMessage;
  err->pub.addon_message_table = kOwnMessages;
  err->pub.first_addon_message = kMsgTooManyScans;
  err->pub.last_addon_message = kMsgTooManyCoefficientPasses;
  err->message[0] = 0;
  err->damaged = 0;
  err->stopAtDamage = 0;
}

// The mode and channel count of libjpeg's output colour space; 0 for one
// the framework has no planes for.
u8 ModeOf(J_COLOR_SPACE space, u32& channels) {
  switch (space) {
    case JCS_RGB: channels = 3; return CKLF_ImageFormat::kModeRGB;
    case JCS_CMYK: channels = 4; return CKLF_ImageFormat::kModeCMYK;
    case JCS_GRAYSCALE: channels = 1; return CKLF_ImageFormat::kModeGrey;
    default: channels = 0; return 0;
  }
}

u64 BlocksOf(const jpeg_component_info& c) { return static_cast<u64>(c.width_in_blocks) * c.height_in_blocks; }

u64 ImageBlocks(const jpeg_decompress_struct* cinfo) {
  u64 blocks = 0;
  for (int c = 0; c < cinfo->num_components; ++c) blocks += BlocksOf(cinfo->comp_info[c]);
  return blocks;
}

// The scans met so far and the blocks and coefficients they pass over.
struct ScanTally {
  int scans;
  u64 blocks, coefficients;
};

// Counts a scan over inScan blocks, band coefficients of each: 0, or the
// message that refuses it with its figure in bound.
int CountScan(ScanTally& t, u64 imageBlocks, u64 inScan, int band, int& bound) {
  ++t.scans;
  t.blocks += inScan;
  t.coefficients += inScan * static_cast<u64>(band);
  if (t.scans > kMaxScans) return bound = kMaxScans, kMsgTooManyScans;
  if (t.blocks > std::max(kFreeBlocks, imageBlocks * kMaxBlockPasses))
    return bound = kMaxBlockPasses, kMsgTooManyBlockPasses;
  if (t.coefficients > std::max(kFreeCoefficients, imageBlocks * 64 * kMaxCoefficientPasses))
    return bound = kMaxCoefficientPasses, kMsgTooManyCoefficientPasses;
  return 0;
}

// libjpeg's progress record and the scans it has begun.
struct ScanWork {
  jpeg_progress_mgr pub;
  ScanTally tally;
};

// Called by libjpeg before each step of a decode: a scan is counted once
// its header is read, before its data is. The scans were counted so before
// the decode began; this holds for any the walk there did not see.
void LimitScans(j_common_ptr common) {
  j_decompress_ptr cinfo = reinterpret_cast<j_decompress_ptr>(common);
  ScanWork* work = reinterpret_cast<ScanWork*>(cinfo->progress);
  if (cinfo->input_scan_number <= work->tally.scans) return;
  work->tally.scans = cinfo->input_scan_number - 1;
  u64 inScan = 0;
  for (int i = 0; i < cinfo->comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i) inScan += BlocksOf(*cinfo->cur_comp_info[i]);
  int bound = 0;
  const int band = cinfo->Se >= cinfo->Ss ? cinfo->Se - cinfo->Ss + 1 : 1;
  if (const int refused = CountScan(work->tally, ImageBlocks(cinfo), inScan, band, bound))
    ERREXIT1(cinfo, refused, bound);
}

// Bytes through the memory source, which never suspends: past the data it
// hands out end-of-image markers, as for any other read.
void ReadBytes(j_decompress_ptr cinfo, JOCTET* dst, size_t n) {
  jpeg_source_mgr* src = cinfo->src;
  while (n > 0) {
    if (src->bytes_in_buffer == 0) (*src->fill_input_buffer)(cinfo);
    const size_t k = std::min(n, src->bytes_in_buffer);
    std::memcpy(dst, src->next_input_byte, k);
    dst += k;
    n -= k;
    src->next_input_byte += k;
    src->bytes_in_buffer -= k;
  }
}

// The part of a profile segment whose head is h (n bytes after the head),
// or null when it is not one to keep; a segment that breaks the parts'
// numbering spoils the whole profile.
JOCTET* ProfilePart(j_decompress_ptr cinfo, KeptSegments& k, const JOCTET* h, size_t n) {
  static const char kName[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
  if (k.badProfile || std::memcmp(h, kName, sizeof(kName)) != 0) return nullptr;
  const int seq = h[12];
  if (k.parts == 0) k.parts = h[13];
  if (h[13] != k.parts || seq == 0 || seq > k.parts || k.present[seq]) {
    k.badProfile = 1;
    return nullptr;
  }
  k.present[seq] = 1;
  k.partSize[seq] = static_cast<unsigned>(n);
  if (n == 0) return nullptr;
  k.part[seq] = static_cast<JOCTET*>((*cinfo->mem->alloc_large)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, n));
  return k.part[seq];
}

// APP1 and APP2: only an Exif block and a profile's parts are read whole,
// while the header is read; every other segment is skipped by its length,
// as libjpeg skips the segments it does not keep.
boolean ReadAppSegment(j_decompress_ptr cinfo) {
  JOCTET h[14];
  ReadBytes(cinfo, h, 2);
  const long length = ((h[0] << 8) | h[1]) - 2;  // the length counts itself
  KeptSegments* k = static_cast<KeptSegments*>(cinfo->client_data);
  const bool app1 = cinfo->unread_marker == JPEG_APP0 + 1;
  const size_t head = app1 ? 6 : 14;  // "Exif" and two zeros; "ICC_PROFILE", a zero, part and count
  // An Exif block holds at least a byte; a profile's part may be empty.
  if (!k || length < static_cast<long>(app1 ? head + 1 : head)) {
    if (length > 0) (*cinfo->src->skip_input_data)(cinfo, length);
    return TRUE;
  }
  ReadBytes(cinfo, h, head);
  const size_t rest = static_cast<size_t>(length) - head;
  JOCTET* keep = nullptr;
  if (!app1) {
    keep = ProfilePart(cinfo, *k, h, rest);
  } else if (!k->exif && std::memcmp(h, "Exif\0\0", 6) == 0) {
    keep = k->exif = static_cast<JOCTET*>(
        (*cinfo->mem->alloc_large)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, rest));
    k->exifSize = static_cast<unsigned>(rest);
  }
  if (keep)
    ReadBytes(cinfo, keep, rest);
  else if (rest > 0)
    (*cinfo->src->skip_input_data)(cinfo, static_cast<long>(rest));
  return TRUE;
}

// The Exif block, when there is one: 1, or 0 when it cannot be kept.
u8 TakeExif(const KeptSegments& k, CKLF_Mem& out) {
  if (!k.exifSize) return 1;
  if (!out.alloc(k.exifSize)) return 0;
  std::memcpy(out.GetPtr(), k.exif, k.exifSize);
  return 1;
}

// The profile's parts joined in order when every part is there and they
// hold something (else none, and incomplete set when there were parts):
// 1, or 0 when it cannot be kept.
u8 TakeProfile(const KeptSegments& k, CKLF_Mem& out, u8& incomplete) {
  incomplete = k.badProfile;
  if (k.badProfile || k.parts == 0) return 1;
  u32 size = 0;
  for (int seq = 1; seq <= k.parts; ++seq) {
    if (!k.present[seq]) return incomplete = 1, 1;
    size += k.partSize[seq];
  }
  if (size == 0) return 1;
  if (!out.alloc(size)) return 0;
  u8* p = out.GetPtr();
  for (int seq = 1; seq <= k.parts; p += k.partSize[seq++])
    if (k.partSize[seq]) std::memcpy(p, k.part[seq], k.partSize[seq]);
  return 1;
}

}  // namespace

CKLF_ImageJPEG::CKLF_ImageJPEG() : m_adobe(0), m_damaged(0), m_stopAtDamage(0), m_message(), m_profileIncomplete(0) {}

CKLF_ImageJPEG::~CKLF_ImageJPEG() {}

u8 CKLF_ImageJPEG::i_CheckStart(const u8* data, u32 size) {
  if (!data || size <= 1) return Fail(klErrNotFormat);
  if (data[0] != 0xFF || (data[1] != 0xD8 && data[1] != 0xC0 && data[1] != 0xC1)) return Fail(klErrUnsupported);
  return 1;
}

// Called inside the caller's setjmp frame: libjpeg errors jump past it,
// so it keeps only plain locals.
u32 CKLF_ImageJPEG::i_ReadHeader(jpeg_decompress_struct* cinfo) {
  i_ClearExtras();
  m_exifData.free();
  KeptSegments* kept = static_cast<KeptSegments*>(
      (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, sizeof(KeptSegments)));
  std::memset(kept, 0, sizeof(*kept));
  cinfo->client_data = kept;
  jpeg_set_marker_processor(cinfo, JPEG_APP0 + 1, ReadAppSegment);
  jpeg_set_marker_processor(cinfo, JPEG_APP0 + 2, ReadAppSegment);
  jpeg_read_header(cinfo, TRUE);
  cinfo->client_data = nullptr;  // segments between scans are passed over
  if (!TakeExif(*kept, m_exifData)) return FailFrom(m_exifData, klErrNoMemory);
  if (!TakeProfile(*kept, m_icc, m_profileIncomplete)) return FailFrom(m_icc, klErrNoMemory);
  u32 channels = 0;
  const u8 mode = ModeOf(cinfo->out_color_space, channels);
  if (!mode) {
    std::snprintf(m_message, sizeof(m_message), "%d colour components", cinfo->num_components);
    return Fail(klErrUnsupported);
  }
  m_width = static_cast<u16>(cinfo->image_width);
  m_height = static_cast<u16>(cinfo->image_height);
  m_bits = 8;
  m_mode = mode;
  m_adobe = cinfo->saw_Adobe_marker ? 1 : 0;
  if (cinfo->saw_JFIF_marker && cinfo->X_density && (cinfo->density_unit == 1 || cinfo->density_unit == 2)) {
    const f64 inch = cinfo->density_unit == 1 ? 1.0 : 2.54;
    m_resolution = cinfo->X_density * inch;
    m_verticalResolution = (cinfo->Y_density ? cinfo->Y_density : cinfo->X_density) * inch;
  }
  return channels;
}

void CKLF_ImageJPEG::i_KeepMessage(const char* text, u8 damaged) {
  std::strncpy(m_message, text, sizeof(m_message) - 1);
  m_message[sizeof(m_message) - 1] = 0;
  m_damaged = damaged;
}

u8 CKLF_ImageJPEG::GetImageInfoByPtr(const void* data, u32 size) {
  ResetError();
  i_KeepMessage("", 0);
  if (!i_CheckStart(static_cast<const u8*>(data), size)) return 0;
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  SetUpErrors(&cinfo, &err);
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    i_KeepMessage(err.message, 0);
    return Fail(CodeOf(err.pub.msg_code, klErrNotFormat));
  }
  jpeg_create_decompress(&cinfo);
  jpeg_frommem_src(&cinfo, data, size);
  const u32 channels = i_ReadHeader(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  if (err.damaged) i_KeepMessage(err.message, 1);
  return channels ? 1 : 0;
}

u8 CKLF_ImageJPEG::ParseImageByPtr(const void* data, u32 size) {
  ResetError();
  i_KeepMessage("", 0);
  if (i_Canceled(0)) return 0;
  if (!i_CheckStart(static_cast<const u8*>(data), size)) return 0;
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  ScanWork scans = {};
  scans.pub.progress_monitor = LimitScans;
  SetUpErrors(&cinfo, &err);
  err.stopAtDamage = m_stopAtDamage;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    i_FreePlanes();
    i_KeepMessage(err.message, err.damaged);
    return Fail(CodeOf(err.pub.msg_code, klErrNotFormat));
  }
  jpeg_create_decompress(&cinfo);
  cinfo.progress = &scans.pub;
  u8 ok = i_Decode(&cinfo, data, size);
  if (ok) jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  if (err.damaged) i_KeepMessage(err.message, 1);
  if (!ok || i_Canceled(100)) return 0;
  return 1;
}

namespace {

bool IsRestart(u8 marker) { return marker >= 0xD0 && marker <= 0xD7; }

// Markers without a length: the start and end of the image, restarts, TEM.
bool StandsAlone(u8 marker) { return marker == 0x01 || marker == 0xD8 || marker == 0xD9 || IsRestart(marker); }

// Frame headers of arithmetic coding: SOF9 to SOF15 but DAC.
bool IsArithmeticFrame(u8 marker) { return marker >= 0xC9 && marker <= 0xCF && marker != 0xCC; }

// A marker segment: its marker, its body after the length (cut at the
// data's end), and for a scan the entropy-coded bytes after it.
struct Segment {
  u8 marker;
  const u8* body;
  u32 length;
  u64 scanBytes;
};

// The entropy-coded bytes from p to the marker that ends the scan (stuffed
// zeros and restart markers left out); p is left at that marker.
u64 ScanBytesFrom(const u8* b, u32 size, u64& p) {
  u64 n = 0;
  while (p < size) {
    if (b[p] != 0xFF) {
      ++n, ++p;
    } else if (p + 1 >= size) {
      break;
    } else if (b[p + 1] == 0x00) {
      ++n, p += 2;
    } else if (IsRestart(b[p + 1])) {
      p += 2;
    } else if (b[p + 1] == 0xFF) {
      ++p;  // fill before a marker
    } else {
      break;
    }
  }
  return n;
}

// The segment at or after p (bytes between segments and fill passed
// over), p left past it; false at the end of the image or of the data.
bool NextSegment(const u8* b, u32 size, u64& p, Segment& s) {
  while (b && p + 1 < size) {
    if (b[p] != 0xFF || b[p + 1] == 0xFF || b[p + 1] == 0x00) {
      ++p;
      continue;
    }
    s.marker = b[p + 1];
    if (s.marker == 0xD9) return false;
    s.body = b + p + 2;
    s.length = 0;
    s.scanBytes = 0;
    if (StandsAlone(s.marker) || p + 4 > size) {
      p += 2;
      return true;
    }
    const u32 length = (static_cast<u32>(b[p + 2]) << 8) | b[p + 3];
    s.body = b + p + 4;
    s.length = static_cast<u32>(std::min<u64>(length < 2 ? 0 : length - 2, size - (p + 4)));
    p += 2 + length;
    if (s.marker == 0xDA) s.scanBytes = ScanBytesFrom(b, size, p);
    return true;
  }
  return false;
}

// What a scan header says, its components taken from the frame's.
struct ScanHeader {
  int components[MAX_COMPS_IN_SCAN];
  int count, ss, se, ah, al;
  u64 blocks;
};

// false for a header libjpeg refuses when it comes to it.
bool ReadScanHeader(const jpeg_decompress_struct* cinfo, const Segment& s, ScanHeader& h) {
  h.count = s.length ? s.body[0] : 0;
  if (h.count < 1 || h.count > MAX_COMPS_IN_SCAN || s.length < 4u + 2u * h.count) return false;
  h.blocks = 0;
  for (int i = 0; i < h.count; ++i) {
    int c = 0;
    while (c < cinfo->num_components && cinfo->comp_info[c].component_id != s.body[1 + 2 * i]) ++c;
    if (c == cinfo->num_components) return false;
    h.components[i] = c;
    h.blocks += BlocksOf(cinfo->comp_info[c]);
  }
  const u8* tail = s.body + 1 + 2 * h.count;
  h.ss = tail[0], h.se = tail[1], h.ah = tail[2] >> 4, h.al = tail[2] & 15;
  return true;
}

// Each coefficient of a progressive file is coded first once and then
// refined a bit at a time, as libjpeg checks at the start of each scan.
// bits: the last bit each coefficient of each component was coded to (-1
// none yet). 0 with the reason in why when h breaks the order.
bool Progresses(const jpeg_decompress_struct* cinfo, const ScanHeader& h, signed char (*bits)[DCTSIZE2],
                char* why, size_t whySize) {
  const char* const* texts = cinfo->err->jpeg_message_table;
  const bool dc = h.ss == 0;
  if ((dc && h.se != 0) || (!dc && (h.se < h.ss || h.se >= DCTSIZE2 || h.count != 1)) ||
      (h.ah != 0 && h.al != h.ah - 1) || h.al > 13) {
    std::snprintf(why, whySize, texts[JERR_BAD_PROGRESSION], h.ss, h.se, h.ah, h.al);
    return false;
  }
  for (int i = 0; i < h.count; ++i) {
    signed char* coded = bits[h.components[i]];
    int out = !dc && coded[0] < 0 ? 0 : -1;  // AC before DC
    for (int k = h.ss; out < 0 && k <= h.se; ++k)
      if (h.ah != (coded[k] < 0 ? 0 : coded[k])) out = k;
    if (out >= 0) {
      std::snprintf(why, whySize, texts[JWRN_BOGUS_PROGRESSION], h.components[i], out);
      return false;
    }
    for (int k = h.ss; k <= h.se; ++k) coded[k] = static_cast<signed char>(h.al);
  }
  return true;
}

}  // namespace

u32 CKLF_ImageJPEG::ScanDataBytes(const void* data, u32 size, u8* arithmetic) {
  u64 total = 0, p = 2;  // past the start of the image
  Segment s;
  if (arithmetic) *arithmetic = 0;
  while (NextSegment(static_cast<const u8*>(data), size, p, s)) {
    total += s.scanBytes;
    if (arithmetic && IsArithmeticFrame(s.marker)) *arithmetic = 1;
  }
  return static_cast<u32>(total);
}

// The scans' headers and data, read before the first is decoded: each
// block is coded with at least one bit in the first Huffman-coded scan
// that holds it, and the scans stay within the bounds of their number and
// work. A file that breaks either is refused before libjpeg allocates for
// it (a progressive image holds all its coefficients at once) or decodes
// a scan; one that will be refused at damage also when its scans refine
// coefficients out of order. Segments that are not scans (comments,
// padding) count for nothing.
u8 CKLF_ImageJPEG::i_CheckScans(const jpeg_decompress_struct* cinfo, const void* data, u32 size) {
  const u64 blocks = ImageBlocks(cinfo);
  char why[sizeof(m_message)];
  const u32 bytes = ScanDataBytes(data, size);
  if (!cinfo->arith_code && blocks > static_cast<u64>(bytes) * 8) {
    std::snprintf(why, sizeof(why), "Scans of %u bytes cannot hold the image's %llu blocks", bytes,
                  static_cast<unsigned long long>(blocks));
    i_KeepMessage(why, 1);
    return 0;
  }
  signed char bits[MAX_COMPONENTS][DCTSIZE2];
  std::memset(bits, -1, sizeof(bits));
  ScanTally tally = {};
  Segment s;
  ScanHeader h;
  for (u64 p = 2; NextSegment(static_cast<const u8*>(data), size, p, s);) {
    if (s.marker != 0xDA || !ReadScanHeader(cinfo, s, h)) continue;
    int bound = 0;
    if (const int refused = CountScan(tally, blocks, h.blocks, h.se >= h.ss ? h.se - h.ss + 1 : 1, bound)) {
      std::snprintf(why, sizeof(why), kOwnMessages[refused - kMsgTooManyScans], bound);
      i_KeepMessage(why, 1);
      return 0;
    }
    if (m_stopAtDamage && cinfo->progressive_mode && !Progresses(cinfo, h, bits, why, sizeof(why))) {
      i_KeepMessage(why, 1);
      return 0;
    }
  }
  return 1;
}

// Runs inside ParseImageByPtr's setjmp frame: plain locals only. 0 on a
// cancel (no code) or a failure (code set).
u8 CKLF_ImageJPEG::i_Decode(jpeg_decompress_struct* cinfo, const void* data, u32 size) {
  if (i_Canceled(1)) return 0;
  jpeg_frommem_src(cinfo, data, size);
  if (i_Canceled(2)) return 0;
  const u32 channels = i_ReadHeader(cinfo);
  if (!channels || i_Canceled(3)) return 0;
  if (!i_CheckScans(cinfo, data, size)) {
    i_FreePlanes();  // no planes of an earlier file pass for this one's
    return Fail(klErrNotFormat);
  }
  jpeg_start_decompress(cinfo);
  if (i_Canceled(4)) return 0;
  const u32 width = cinfo->output_width;
  const u32 height = cinfo->output_height;
  if (width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF ||
      static_cast<u32>(cinfo->output_components) != channels)
    return Fail(klErrNotFormat);
  const u64 area = static_cast<u64>(width) * height;
  if (!klFits32(area * channels)) return Fail(klErrNoMemory);
  if (!i_AllocPlanes(0, static_cast<i32>(channels) - 1, static_cast<u32>(area)) || i_Canceled(10)) return 0;
  JSAMPARRAY line = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                                width * channels, 1);
  if (i_Canceled(11)) return 0;
  while (cinfo->output_scanline < height) {
    if (i_Canceled(11 + 88 * cinfo->output_scanline / height)) return 0;
    // The memory source never suspends: no line read means a broken decoder state.
    if (jpeg_read_scanlines(cinfo, line, 1) != 1) {
      i_FreePlanes();
      return Fail(klErrNotFormat);
    }
    u32 row = cinfo->output_scanline == 0 ? 0 : cinfo->output_scanline - 1;
    if (row >= height) row = height - 1;
    const u64 offset = static_cast<u64>(row) * width;
    for (u32 c = 0; c < channels; ++c)
      i_TakeChannel(line[0] + c, channels, i_Plane(static_cast<i32>(c))->GetPtr() + offset, width);
  }
  return 1;
}
