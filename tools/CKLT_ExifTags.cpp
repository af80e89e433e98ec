#include "CKLT_ExifTags.h"

#include <libexif/exif-data.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const double kMaxDpi = 100000.0;

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

bool Short(ExifData* d, ExifTag tag, unsigned& out) {
  ExifEntry* e = exif_content_get_entry(d->ifd[EXIF_IFD_0], tag);
  if (!e || e->format != EXIF_FORMAT_SHORT || e->components < 1 || e->size < 2) return false;
  out = exif_get_short(e->data, exif_data_get_byte_order(d));
  return true;
}

// Dots per inch from a resolution in the block's unit (2 inches, 3
// centimetres; 1, no absolute unit, gives none), 0 when out of range.
double Dpi(double value, unsigned unit) {
  const double dpi = unit == 3 ? value * 2.54 : unit == 2 ? value : 0;
  return dpi >= 1.0 && dpi <= kMaxDpi ? dpi : 0;
}

void TakeTags(ExifData* d, CKLT_ExifTags::Tags& out) {
  unsigned unit = 2;  // inches unless the block says otherwise
  Short(d, EXIF_TAG_RESOLUTION_UNIT, unit);
  double x = 0, y = 0;
  if (Rational(d, EXIF_TAG_X_RESOLUTION, x)) out.xDpi = Dpi(x, unit);
  out.yDpi = Rational(d, EXIF_TAG_Y_RESOLUTION, y) && Dpi(y, unit) > 0 ? Dpi(y, unit) : out.xDpi;
  Short(d, EXIF_TAG_ORIENTATION, out.orientation);
}

}  // namespace

bool CKLT_ExifTags::Read(const uint8_t* block, size_t size, Tags& out) {
  out = Tags();
  if (!block || size == 0 || size > 0xFFFF) return true;
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
  TakeTags(d.get(), out);
  return true;
}
