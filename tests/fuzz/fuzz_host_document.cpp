// Reads untrusted bytes as the host program reads its document and its
// --selection mask: a PNG, PSD or JPEG file through CKLT_HostDocument, then
// the mask's grey conversion and flattening. What the heap holds at once
// is watched, and an allocation that takes it past the limit fails the run
// at once:
// - within a small memory budget, the budget plus a little per input byte
//   (a document beyond the budget is refused before its pixels);
// - without one, a fixed multiple of the input plus a constant: a file
//   costs what its pixels can cost (64 Ki times its size covers the most a
//   deflated 1-bit palette PNG with transparency expands to, about 34 Ki).
// Every failure must carry a reason; a document read has layers of its
// own sizes.
#include <sanitizer/allocator_interface.h>
#include <sanitizer/common_interface_defs.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "CKLT_HostDocument.h"
#include "FuzzPngChunks.h"

namespace {

const uint64_t kMiB = 1 << 20;
const uint64_t kSmallBudget = kMiB;
// What a read holds beside its budget: decoder state, the layer table and
// names, the profile.
const uint64_t kBesideBudget = kMiB, kBesidePerByte = 32;
const uint64_t kPerInputByte = 65536, kConstant = 64 * kMiB;
// Larger masks are valid but only slow the search down.
const uint64_t kMaxMaskPixels = 1 << 20;

std::atomic<bool> g_watching{false};
std::atomic<int64_t> g_held{0};
int64_t g_limit = 0;
size_t g_input = 0;

void OnMalloc(const volatile void*, size_t size) {
  if (!g_watching.load(std::memory_order_relaxed)) return;
  const int64_t held = g_held.fetch_add(static_cast<int64_t>(size)) + static_cast<int64_t>(size);
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

// Reads as the host does, the heap held to limit meanwhile.
CKLT_HostDocument::Status Read(const uint8_t* data, size_t size, uint64_t budget, uint64_t limit,
                               CKLT_HostDocument& doc) {
  doc.threads = 1;
  std::string error;
  g_held = 0;
  g_limit = static_cast<int64_t>(limit);
  g_input = size;
  g_watching = true;
  const CKLT_HostDocument::Status s = doc.Read(CKLT_HostDocument::Bytes(data, size), budget, error);
  g_watching = false;
  if (s != CKLT_HostDocument::kOk && error.empty()) abort();
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
  const uint64_t limit = kPerInputByte * size + kConstant;
  if (Read(data, size, UINT64_MAX, limit, doc) != CKLT_HostDocument::kOk) return 0;
  uint64_t pixels = static_cast<uint64_t>(doc.width) * static_cast<uint64_t>(doc.height);
  for (const CKLT_HostDocument::Layer& l : doc.layers) pixels += static_cast<uint64_t>(l.width) * l.height;
  if (pixels > kMaxMaskPixels) return 0;
  // As a mask: grey, flattened over transparency.
  std::vector<std::vector<uint8_t>> planes;
  std::vector<uint8_t> alpha;
  g_watching = true;
  doc.ConvertTo(klpModeGray);
  doc.Flatten(planes, alpha);
  g_watching = false;
  return 0;
}
