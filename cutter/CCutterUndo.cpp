#include "CCutterUndo.h"

#include <cstring>
#include <new>

CCutterUndo::CCutterUndo() : m_cursor(0), m_top(0) {}

CCutterUndo::~CCutterUndo() { i_Free(); }

void CCutterUndo::i_Free() {
  for (u32 i = 0; i < m_list.GetSize(); ++i) delete i_At(i);
  m_list.Empty();
  m_cursor = m_top = 0;
}

u8 CCutterUndo::Equal(const SHAPE& a, const SHAPE& b) {
  if (a.nodeCount != b.nodeCount) return 0;
  u32 n = a.nodeCount > CCutterServices::kMaxNodes ? CCutterServices::kMaxNodes : a.nodeCount;
  for (u32 i = 0; i < n; ++i)
    if (a.nodes[i].H != b.nodes[i].H || a.nodes[i].U != b.nodes[i].U || a.S[i] != b.S[i] ||
        a.selected[i] != b.selected[i])
      return 0;
  return 1;
}

void CCutterUndo::Copy(const SHAPE& from, SHAPE& to) { std::memcpy(&to, &from, sizeof(SHAPE)); }

u8 CCutterUndo::Init(const SHAPE& shape) {
  m_cursor = m_top = 0;
  if (m_list.GetSize() == 0) {
    SHAPE* s = new (std::nothrow) SHAPE();
    if (!s) return Fail(klErrNoMemory);
    if (m_list.Add(s) < 0) {
      delete s;
      return FailFrom(m_list, klErrNoMemory);
    }
  }
  Copy(shape, *i_At(0));
  return 1;
}

u8 CCutterUndo::Push(const SHAPE& shape, u8 check) {
  if (m_list.GetSize() == 0) return Init(shape);
  if (check && Equal(*i_At(m_cursor), shape)) return 0;
  u32 next = m_cursor + 1;
  if (m_cursor >= kMaxSteps) {
    // Full: the oldest snapshot becomes the newest, nothing is allocated.
    void* oldest = m_list[0];
    m_list.DeleteAt(0);
    if (m_list.Add(oldest) < 0) {  // the slot just freed holds it
      delete static_cast<SHAPE*>(oldest);
      return Fail(klErrNoMemory);
    }
    next = kMaxSteps;
  } else if (next >= m_list.GetSize()) {
    SHAPE* s = new (std::nothrow) SHAPE();
    if (!s) return Fail(klErrNoMemory);
    if (m_list.Add(s) < 0) {
      delete s;
      return FailFrom(m_list, klErrNoMemory);
    }
  }
  m_cursor = next;
  Copy(shape, *i_At(m_cursor));
  m_top = m_cursor;
  return 1;
}

u8 CCutterUndo::Undo(SHAPE& shape) {
  if (m_cursor == 0) return 0;
  --m_cursor;
  return Current(shape);
}

u8 CCutterUndo::Redo(SHAPE& shape) {
  if (m_cursor >= m_top) return 0;
  ++m_cursor;
  return Current(shape);
}

u8 CCutterUndo::Current(SHAPE& shape) const {
  if (m_cursor >= m_list.GetSize()) return 0;
  Copy(*i_At(m_cursor), shape);
  return 1;
}
