// Helper of the JPEG tests: files made by libjpeg itself.
#pragma once

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace jpegtest {

typedef std::vector<uint8_t> Bytes;

// A JPEG of random blocks (or of the one sample value flat, from 0 to 255),
// made by libjpeg itself, with a JFIF density in the given unit (1 dots an
// inch, 2 a centimetre), an optional profile, an optional scan script and
// any other setting made by tweak (arithmetic coding, no Adobe marker).
inline Bytes Encode(uint32_t w, uint32_t h, J_COLOR_SPACE space, int components, bool progressive, std::mt19937& rng,
                    uint8_t unit = 0, uint16_t density = 1, const Bytes& icc = {}, int flat = -1,
                    const jpeg_scan_info* script = nullptr, int scriptScans = 0,
                    const std::function<void(jpeg_compress_struct&)>& tweak = nullptr) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = w;
  c.image_height = h;
  c.input_components = components;
  c.in_color_space = space;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  if (script) c.scan_info = script, c.num_scans = scriptScans;
  c.density_unit = unit;
  c.X_density = c.Y_density = density;
  if (tweak) tweak(c);
  jpeg_start_compress(&c, TRUE);
  if (!icc.empty()) jpeg_write_icc_profile(&c, icc.data(), static_cast<unsigned>(icc.size()));
  Bytes row(w * components);
  while (c.next_scanline < h) {
    for (size_t i = 0; i < row.size(); ++i)
      row[i] = static_cast<uint8_t>(flat >= 0 ? flat : (i / components / 8 + c.next_scanline / 8) * 40 + rng() % 20);
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  Bytes file(out, out + size);
  jpeg_destroy_compress(&c);
  free(out);
  return file;
}

// An EXIF block (the TIFF structure APP1 carries after "Exif\0\0") whose
// IFD0 holds XResolution = num / den and, unless unit is 0,
// ResolutionUnit, in either byte order.
inline Bytes ExifResolution(bool bigEndian, uint32_t num, uint32_t den, uint16_t unit) {
  Bytes b;
  auto put = [&](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * (bigEndian ? bytes - 1 - i : i))));
  };
  const uint16_t entries = unit ? 2 : 1;
  const uint32_t rationalAt = 8 + 2 + 12u * entries + 4;
  put(bigEndian ? 0x4D4D : 0x4949, 2), put(42, 2), put(8, 4);  // header, IFD0 at 8
  put(entries, 2);
  put(0x011A, 2), put(5, 2), put(1, 4), put(rationalAt, 4);  // XResolution, RATIONAL
  if (unit) put(0x0128, 2), put(3, 2), put(1, 4), put(static_cast<uint32_t>(unit) << (bigEndian ? 16 : 0), 4);
  put(0, 4);  // no next IFD
  put(num, 4), put(den, 4);
  return b;
}

// An EXIF block whose IFD0 holds Orientation (unless 0; a SHORT, or of
// type 4, a LONG) and, unless xDpi is 0, XResolution and YResolution in
// inches, in either byte order.
inline Bytes ExifOrientation(uint16_t orientation, uint32_t xDpi = 0, uint32_t yDpi = 0, bool bigEndian = false,
                             uint16_t type = 3) {
  Bytes b;
  auto put = [&](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * (bigEndian ? bytes - 1 - i : i))));
  };
  put(bigEndian ? 0x4D4D : 0x4949, 2), put(42, 2), put(8, 4);
  const uint16_t entries = (orientation ? 1 : 0) + (xDpi ? 3 : 0);
  const uint32_t rationals = 8 + 2 + 12u * entries + 4;
  put(entries, 2);
  const int bytes = type == 3 ? 2 : 4;
  if (orientation) put(0x0112, 2), put(type, 2), put(1, 4), put(orientation, bytes), put(0, 4 - bytes);
  if (xDpi) {
    put(0x011A, 2), put(5, 2), put(1, 4), put(rationals, 4);
    put(0x011B, 2), put(5, 2), put(1, 4), put(rationals + 8, 4);
    put(0x0128, 2), put(3, 2), put(1, 4), put(2, 2), put(0, 2);
  }
  put(0, 4);
  if (xDpi) put(xDpi, 4), put(1, 4), put(yDpi, 4), put(1, 4);
  return b;
}

// The file with count segments of marker (an APPn), each carrying
// payload, right after its start marker.
inline Bytes WithSegments(const Bytes& jpeg, uint8_t marker, size_t count, const Bytes& payload = {}) {
  const size_t length = 2 + payload.size();
  Bytes one = {0xFF, marker, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 0xFF)};
  one.insert(one.end(), payload.begin(), payload.end());
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  out.reserve(jpeg.size() + count * one.size());
  for (size_t i = 0; i < count; ++i) out.insert(out.end(), one.begin(), one.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

// The file with an APP1 "Exif" segment holding block right after its
// start marker.
inline Bytes WithExif(const Bytes& jpeg, const Bytes& block) {
  Bytes payload = {'E', 'x', 'i', 'f', 0, 0};
  payload.insert(payload.end(), block.begin(), block.end());
  return WithSegments(jpeg, 0xE1, 1, payload);
}

// An ICC_PROFILE segment's payload: part seq of parts, then data.
inline Bytes IccPart(uint8_t seq, uint8_t parts, const Bytes& data) {
  Bytes b(14 + data.size());
  std::memcpy(b.data(), "ICC_PROFILE", 12);
  b[12] = seq, b[13] = parts;
  std::copy(data.begin(), data.end(), b.begin() + 14);
  return b;
}

// A progressive grey JPEG of one flat level in scans scans (3 or more
// when refined): the DC, then the AC band 1..last again and again. Each AC
// scan codes its coefficients in full (no successive approximation), so
// libjpeg takes every copy as it takes the first; the tables it uses are
// defined once before it. Refined: the band coded to its last bit but one,
// then its refinement to the last bit again and again, out of order from
// the second on.
inline Bytes RepeatedScans(uint32_t w, uint32_t h, int scans, int last = 63, bool refined = false) {
  const jpeg_scan_info script[3] = {{1, {0, 0, 0, 0}, 0, 0, 0, 0},
                                    {1, {0, 0, 0, 0}, 1, last, 0, refined ? 1 : 0},
                                    {1, {0, 0, 0, 0}, 1, last, 1, 0}};
  const int own = refined ? 3 : 2;
  std::mt19937 rng(1);
  const Bytes file = Encode(w, h, JCS_GRAYSCALE, 1, false, rng, 0, 1, {}, 128, script, own);
  // Marker segments by their lengths; a scan's data up to the next marker
  // that is neither a stuffed byte nor a restart.
  size_t p = 2, lastScan = 0;
  while (p + 4 <= file.size() && file[p + 1] != 0xD9) {
    const bool scan = file[p + 1] == 0xDA;
    if (scan) lastScan = p;
    p += 2 + ((file[p + 2] << 8) | file[p + 3]);
    while (scan && p + 1 < file.size() &&
           !(file[p] == 0xFF && file[p + 1] != 0 && (file[p + 1] < 0xD0 || file[p + 1] > 0xD7)))
      ++p;
  }
  Bytes out(file.begin(), file.begin() + p);
  for (int i = own; i < scans; ++i) out.insert(out.end(), file.begin() + lastScan, file.begin() + p);
  out.insert(out.end(), file.begin() + p, file.end());
  return out;
}

// The file with its frame header's size set to w x h.
inline Bytes Resized(Bytes file, uint16_t w, uint16_t h) {
  for (size_t p = 2; p + 9 < file.size(); ++p)
    if (file[p] == 0xFF && (file[p + 1] == 0xC0 || file[p + 1] == 0xC2)) {
      file[p + 5] = uint8_t(h >> 8), file[p + 6] = uint8_t(h), file[p + 7] = uint8_t(w >> 8), file[p + 8] = uint8_t(w);
      return file;
    }
  return {};
}

struct Decoded {
  uint32_t w = 0, h = 0, n = 0;
  Bytes pixels;  // interleaved
  Bytes icc;     // the profile as libjpeg puts it together
};

struct JumpErr {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

inline void Jump(j_common_ptr c) { longjmp(reinterpret_cast<JumpErr*>(c->err)->jump, 1); }

// The reference: libjpeg's own memory source and decoder.
inline Decoded Reference(const Bytes& file) {
  Decoded d;
  jpeg_decompress_struct c;
  JumpErr err;
  c.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = Jump;
  err.pub.output_message = [](j_common_ptr) {};
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&c);
    return Decoded();
  }
  jpeg_create_decompress(&c);
  jpeg_mem_src(&c, file.data(), file.size());
  jpeg_save_markers(&c, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&c, TRUE);
  JOCTET* icc = nullptr;
  unsigned int iccSize = 0;
  if (jpeg_read_icc_profile(&c, &icc, &iccSize)) d.icc.assign(icc, icc + iccSize);
  free(icc);
  jpeg_start_decompress(&c);
  d.w = c.output_width, d.h = c.output_height, d.n = c.output_components;
  d.pixels.resize(static_cast<size_t>(d.w) * d.h * d.n);
  while (c.output_scanline < c.output_height) {
    JSAMPROW r = &d.pixels[static_cast<size_t>(c.output_scanline) * d.w * d.n];
    jpeg_read_scanlines(&c, &r, 1);
  }
  jpeg_finish_decompress(&c);
  jpeg_destroy_decompress(&c);
  return d;
}

// Component c of a reference decode, as a plane.
inline Bytes Plane(const Decoded& d, uint32_t c) {
  Bytes plane(static_cast<size_t>(d.w) * d.h);
  for (size_t i = 0; i < plane.size(); ++i) plane[i] = d.pixels[i * d.n + c];
  return plane;
}

}  // namespace jpegtest
