#include "CCutterServices.h"

#include <cstring>

namespace {
CCutterServices::Factory g_factory = nullptr;
}

void CCutterServices::SetFactory(Factory factory) { g_factory = factory; }

CCutterServices* CCutterServices::New() { return g_factory ? g_factory() : nullptr; }

CCutterServices::CCutterServices() {}

CCutterServices::~CCutterServices() {}

u8 CCutterServices::SetPendingRecords(const u8* records, u32 count) {
  return i_CopyRecords(pendingRecordsMem, pendingRecords, pendingRecordCount, records, count);
}

u8 CCutterServices::SetDocumentRecords(const u8* records, u32 count) {
  return i_CopyRecords(documentRecordsMem, documentRecords, documentRecordCount, records, count);
}

u8 CCutterServices::i_CopyRecords(CKLF_Mem& mem, u8*& first, u32& count, const u8* records, u32 n) {
  first = nullptr;
  count = 0;
  if (!records || n == 0) {
    mem.free();
    return 1;
  }
  u64 bytes = static_cast<u64>(n) * kPieceRecordSize;
  if (!klFits32(bytes)) {
    mem.free();
    return mem.Fail(klErrNoMemory);
  }
  if (!mem.alloc(static_cast<u32>(bytes))) return 0;
  std::memcpy(mem.GetPtr(), records, static_cast<size_t>(bytes));
  first = mem.GetPtr();
  count = n;
  return 1;
}

void CCutterServices::GetShape(SPLINE_STRUCT& out) const {
  std::memset(&out, 0, sizeof(out));
  u32 n = nodeCount > kMaxNodes ? kMaxNodes : nodeCount;
  out.nodeCount = static_cast<u8>(n);
  for (u32 j = 0; j < n; ++j) {
    out.nodes[j] = nodes[j];
    out.selected[j] = nodeSelected[j];
    out.S[j] = nodeS[j];
  }
}
