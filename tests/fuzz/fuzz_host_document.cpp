// Reads untrusted bytes as the host program reads its document and its
// --selection mask: a PNG, PSD or JPEG file through CKLT_HostDocument, then
// the mask's grey conversion and flattening, within a small and a large
// memory budget. What the heap holds at once is watched:
// - an allocation that takes it past the budget plus a little per input
//   byte fails the run at once (a document beyond the budget is refused
//   before its pixels);
// - a refused file may have held at most 64 MiB plus 2 KiB a byte of the
//   image data that decoded before its damage showed: a JPEG's
//   Huffman-coded scans (8 blocks a byte, their coefficients or planes),
//   a PNG's IDAT data, a PSD's channels (the whole file). Comments,
//   padding and declared sizes buy nothing. Arithmetic-coded JPEG data
//   can describe any size in a few bytes: the budget alone bounds it.
// Every failure must carry a reason; a document read has layers of its
// own sizes.
#include <sanitizer/allocator_interface.h>
#include <sanitizer/common_interface_defs.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CKLF_ImageJPEG.h"
#include "CKLT_HostDocument.h"
#include "FuzzPngChunks.h"

namespace {

const uint64_t kMiB = 1 << 20;
// The large budget holds every document the search makes of a few KB:
// without one, an arithmetic-coded JPEG of 65500 x 65500 pixels is read.
const uint64_t kSmallBudget = kMiB, kLargeBudget = 1024 * kMiB;
// What a read holds beside its budget: decoder state, the layer table and
// names, the profile.
const uint64_t kBesideBudget = kMiB, kBesidePerByte = 32;
const uint64_t kRefused = 64 * kMiB, kRefusedPerDataByte = 2048;
// Larger masks are valid but only slow the search down.
const uint64_t kMaxMaskPixels = 1 << 20;

std::atomic<bool> g_watching{false};
std::atomic<int64_t> g_held{0}, g_peak{0};
int64_t g_limit = 0;
size_t g_input = 0;

void OnMalloc(const volatile void*, size_t size) {
  if (!g_watching.load(std::memory_order_relaxed)) return;
  const int64_t held = g_held.fetch_add(static_cast<int64_t>(size)) + static_cast<int64_t>(size);
  for (int64_t peak = g_peak; held > peak && !g_peak.compare_exchange_weak(peak, held);) {
  }
  if (held <= g_limit) return;
  g_watching = false;
  std::fprintf(stderr, "an allocation of %zu bytes takes the heap to %lld bytes, past %lld for %zu input bytes\n",
               size, static_cast<long long>(held), static_cast<long long>(g_limit), g_input);
  __sanitizer_print_stack_trace();
  std::abort();
}

void OnFree(const volatile void* p) {
  if (p && g_watching.load(std::memory_order_relaxed))
    g_held.fetch_sub(static_cast<int64_t>(__sanitizer_get_allocated_size(const_cast<const void*>(p))));
}

// The bytes of data that can decode to pixels (see the head comment);
// the whole size for an arithmetic-coded JPEG.
uint64_t ImageDataBytes(const uint8_t* data, size_t size) {
  static const uint8_t kPng[4] = {0x89, 'P', 'N', 'G'};
  if (size >= 4 && std::memcmp(data, kPng, 4) == 0) {
    uint64_t idat = 0;
    for (size_t p = 8; p + 12 <= size;) {
      const uint32_t length = static_cast<uint32_t>(data[p]) << 24 | data[p + 1] << 16 | data[p + 2] << 8 | data[p + 3];
      if (std::memcmp(data + p + 4, "IDAT", 4) == 0) idat += std::min<uint64_t>(length, size - p - 12);
      if (length > size - p - 12) break;
      p += 12 + length;
    }
    return idat;
  }
  if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) return size;
  u8 arithmetic = 0;
  const uint64_t scans = CKLF_ImageJPEG::ScanDataBytes(data, static_cast<u32>(size), &arithmetic);
  return arithmetic ? UINT64_MAX / kRefusedPerDataByte : scans;
}

// Reads as the host does, the heap held to limit meanwhile; a refused file
// to what its image data can cost.
CKLT_HostDocument::Status Read(const uint8_t* data, size_t size, uint64_t budget, uint64_t limit,
                               CKLT_HostDocument& doc) {
  doc.threads = 1;
  std::string error;
  g_held = 0;
  g_peak = 0;
  g_limit = static_cast<int64_t>(limit);
  g_input = size;
  g_watching = true;
  const CKLT_HostDocument::Status s = doc.Read(CKLT_HostDocument::Bytes(data, size), budget, error);
  g_watching = false;
  if (s != CKLT_HostDocument::kOk && error.empty()) abort();
  const uint64_t refused = kRefused + kBesidePerByte * size + kRefusedPerDataByte * ImageDataBytes(data, size);
  if (s != CKLT_HostDocument::kOk && static_cast<uint64_t>(g_peak) > refused) {
    std::fprintf(stderr, "a refused file held %lld bytes at once, past %llu for %zu input bytes: %s\n",
                 static_cast<long long>(g_peak.load()), static_cast<unsigned long long>(refused), size, error.c_str());
    abort();
  }
  for (const CKLT_HostDocument::Layer& l : doc.layers) {
    const size_t area = static_cast<size_t>(l.width) * static_cast<size_t>(l.height);
    if (static_cast<int>(l.planes.size()) != doc.ColourPlanes() || (!l.alpha.empty() && l.alpha.size() != area))
      abort();
    for (const std::vector<uint8_t>& p : l.planes)
      if (p.size() != area && !p.empty()) abort();
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!__sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree)) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  {
    CKLT_HostDocument small;
    Read(data, size, kSmallBudget, kSmallBudget + kBesideBudget + kBesidePerByte * size, small);
  }
  CKLT_HostDocument doc;
  if (Read(data, size, kLargeBudget, kLargeBudget + kBesideBudget + kBesidePerByte * size, doc) !=
      CKLT_HostDocument::kOk)
    return 0;
  uint64_t pixels = static_cast<uint64_t>(doc.width) * static_cast<uint64_t>(doc.height);
  for (const CKLT_HostDocument::Layer& l : doc.layers) pixels += static_cast<uint64_t>(l.width) * l.height;
  if (pixels > kMaxMaskPixels) return 0;
  // As a mask: grey, flattened over transparency.
  std::vector<std::vector<uint8_t>> planes;
  std::vector<uint8_t> alpha;
  g_watching = true;
  if (doc.ConvertTo(klpModeGray)) doc.Flatten(planes, alpha);
  g_watching = false;
  return 0;
}
