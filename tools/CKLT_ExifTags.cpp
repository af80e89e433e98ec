#include "CKLT_ExifTags.h"

#include <libexif/exif-data.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const double kMaxDpi = 100000.0;
// libexif reads no further into a block than a JPEG's APP1 segment holds
// after its name: a JPEG's block is read whole.
const size_t kMostRead = 0xFFFF - 2 - 6;

// Whether an allocation of libexif's failed on this thread since the last
// read began: libexif logs such a failure and goes on without the entry.
thread_local bool t_failed = false;

void* Alloc(ExifLong n) {
  void* p = std::calloc(n, 1);  // libexif takes its blocks zeroed
  if (!p) t_failed = true;
  return p;
}

void* Realloc(void* p, ExifLong n) {
  void* q = std::realloc(p, n);
  if (!q && n) t_failed = true;
  return q;
}

void Free(void* p) { std::free(p); }

struct ExifDataFree {
  void operator()(ExifData* d) const { exif_data_unref(d); }
};

// The rational or short in IFD0 under tag; false when absent or of
// another format.
bool Rational(ExifData* d, ExifTag tag, double& out) {
  ExifEntry* e = exif_content_get_entry(d->ifd[EXIF_IFD_0], tag);
  if (!e || e->format != EXIF_FORMAT_RATIONAL || e->components < 1 || e->size < 8) return false;
  const ExifRational r = exif_get_rational(e->data, exif_data_get_byte_order(d));
  if (r.denominator == 0) return false;
  out = static_cast<double>(r.numerator) / r.denominator;
  return true;
}

// A SHORT, as the standard stores these tags, or a LONG, as some writers
// do and other readers take.
bool Whole(ExifData* d, ExifTag tag, unsigned& out) {
  ExifEntry* e = exif_content_get_entry(d->ifd[EXIF_IFD_0], tag);
  if (!e || e->components < 1) return false;
  const ExifByteOrder order = exif_data_get_byte_order(d);
  if (e->format == EXIF_FORMAT_SHORT && e->size >= 2) return out = exif_get_short(e->data, order), true;
  if (e->format == EXIF_FORMAT_LONG && e->size >= 4) return out = exif_get_long(e->data, order), true;
  return false;
}

// Dots per inch from a resolution in the block's unit (2 inches, 3
// centimetres; 1, no absolute unit, gives none), 0 when out of range.
double Dpi(double value, unsigned unit) {
  const double dpi = unit == 3 ? value * 2.54 : unit == 2 ? value : 0;
  return dpi >= 1.0 && dpi <= kMaxDpi ? dpi : 0;
}

void TakeTags(ExifData* d, bool resolution, CKLT_ExifTags::Tags& out) {
  Whole(d, EXIF_TAG_ORIENTATION, out.orientation);
  if (!resolution) return;
  unsigned unit = 2;  // inches unless the block says otherwise
  Whole(d, EXIF_TAG_RESOLUTION_UNIT, unit);
  double x = 0, y = 0;
  if (Rational(d, EXIF_TAG_X_RESOLUTION, x)) out.xDpi = Dpi(x, unit);
  out.yDpi = Rational(d, EXIF_TAG_Y_RESOLUTION, y) && Dpi(y, unit) > 0 ? Dpi(y, unit) : out.xDpi;
}

// The block's TIFF structure, read field by field in its byte order.
struct Tiff {
  const uint8_t* b;
  bool big;
  uint32_t U16(uint64_t at) const { return big ? b[at] << 8 | b[at + 1] : b[at + 1] << 8 | b[at]; }
  uint32_t U32(uint64_t at) const {
    return big ? U16(at) << 16 | U16(at + 2) : U16(at + 2) << 16 | U16(at);
  }
};

// Bytes a value of an EXIF type takes (0: a type not known).
uint64_t TypeBytes(uint32_t type) {
  static const uint8_t kBytes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return type < 13 ? kBytes[type] : 0;
}

// Why the block cannot give the tags read, or null: its header, IFD0 and
// the values of those tags must lie within it.
const char* Damage(const uint8_t* b, size_t size, bool resolution) {
  if (size < 8) return "it is shorter than its header";
  const bool little = b[0] == 'I' && b[1] == 'I', big = b[0] == 'M' && b[1] == 'M';
  if (!little && !big) return "no byte-order mark";
  const Tiff t = {b, big};
  if (t.U16(2) != 42) return "no TIFF header";
  const uint64_t ifd = t.U32(4);
  if (ifd < 8 || ifd + 2 > size) return "its first directory lies outside it";
  const uint64_t count = t.U16(ifd);
  if (ifd + 2 + 12 * count > size) return "its first directory is cut short";
  for (uint64_t e = ifd + 2; e < ifd + 2 + 12 * count; e += 12) {
    const uint32_t tag = t.U16(e);
    const bool read = tag == EXIF_TAG_ORIENTATION || (resolution && (tag == EXIF_TAG_X_RESOLUTION ||
                                                                     tag == EXIF_TAG_Y_RESOLUTION ||
                                                                     tag == EXIF_TAG_RESOLUTION_UNIT));
    if (!read) continue;
    const uint64_t bytes = TypeBytes(t.U16(e + 2)) * t.U32(e + 4);
    if (bytes > 4 && t.U32(e + 8) + bytes > size) return "a value lies outside it";
  }
  return nullptr;
}

}  // namespace

bool CKLT_ExifTags::Read(const uint8_t* block, size_t size, bool resolution, Tags& out) {
  out = Tags();
  if (!block || size == 0) return true;
  if (size > kMostRead) size = kMostRead;
  if ((out.damage = Damage(block, size, resolution)) != nullptr) return true;
  // libexif takes the block with its APP1 name in front.
  static const uint8_t kName[6] = {'E', 'x', 'i', 'f', 0, 0};
  std::vector<uint8_t> named(kName, kName + sizeof(kName));
  named.insert(named.end(), block, block + size);
  t_failed = false;
  ExifMem* mem = exif_mem_new(Alloc, Realloc, Free);
  std::unique_ptr<ExifData, ExifDataFree> d(mem ? exif_data_new_mem(mem) : nullptr);
  exif_mem_unref(mem);
  if (!d) return false;
  // Only the tags are wanted: no repairs, no tags libexif does not know.
  exif_data_unset_option(d.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_set_option(d.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
  exif_data_load_data(d.get(), named.data(), static_cast<unsigned>(named.size()));
  if (t_failed) return false;
  TakeTags(d.get(), resolution, out);
  return true;
}
