#include "CKLT_ExifResolution.h"

#include <libexif/exif-data.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

const double kMaxDpi = 100000.0;

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

}  // namespace

double CKLT_ExifResolution::DotsPerInch(const uint8_t* block, size_t size) {
  if (!block || size == 0 || size > 0xFFFF) return 0;
  // libexif takes the block with its APP1 name in front.
  static const uint8_t kName[6] = {'E', 'x', 'i', 'f', 0, 0};
  std::vector<uint8_t> named(kName, kName + sizeof(kName));
  named.insert(named.end(), block, block + size);
  std::unique_ptr<ExifData, ExifDataFree> d(exif_data_new());
  if (!d) return 0;
  // Only the tags are wanted: no maker notes, no repairs.
  exif_data_unset_option(d.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_set_option(d.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
  exif_data_load_data(d.get(), named.data(), static_cast<unsigned>(named.size()));
  double dpi = 0;
  unsigned unit = 2;  // inches unless the block says otherwise
  if (!Rational(d.get(), EXIF_TAG_X_RESOLUTION, dpi)) return 0;
  Short(d.get(), EXIF_TAG_RESOLUTION_UNIT, unit);
  if (unit == 3)
    dpi *= 2.54;
  else if (unit != 2)
    return 0;  // 1: no absolute unit
  return dpi >= 1.0 && dpi <= kMaxDpi ? dpi : 0;
}
