// malloc, calloc and realloc replaced, for the AllocationPoints of
// FailingAllocations.h: each asks it first, then passes the allocation on
// to the C library's or, in a sanitized program, to the sanitizer's.
#include <cstddef>
#include <cstdint>

#include "FailingAllocations.h"

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __interceptor_malloc(size_t) __attribute__((weak));
void* __interceptor_calloc(size_t, size_t) __attribute__((weak));
void* __interceptor_realloc(void*, size_t) __attribute__((weak));
}

using klftest::AllocationPoints;

// Called before a sanitizer has set up its shadow memory: not instrumented.
extern "C" __attribute__((no_sanitize_address)) void* malloc(size_t n) {
  if (AllocationPoints::Fails(n)) return nullptr;
  return __interceptor_malloc ? __interceptor_malloc(n) : __libc_malloc(n);
}

extern "C" __attribute__((no_sanitize_address)) void* calloc(size_t count, size_t n) {
  size_t bytes = 0;
  if (AllocationPoints::Fails(__builtin_mul_overflow(count, n, &bytes) ? SIZE_MAX : bytes)) return nullptr;
  return __interceptor_calloc ? __interceptor_calloc(count, n) : __libc_calloc(count, n);
}

// A realloc to 0 bytes frees: it does not fail.
extern "C" __attribute__((no_sanitize_address)) void* realloc(void* p, size_t n) {
  if (n && AllocationPoints::Fails(n)) return nullptr;
  return __interceptor_realloc ? __interceptor_realloc(p, n) : __libc_realloc(p, n);
}
