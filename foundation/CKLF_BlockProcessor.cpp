#include "CKLF_BlockProcessor.h"

#include <cstring>
#include <new>

CKLF_BlockProcessor::CKLF_BlockProcessor()
    : m_source(nullptr), m_sourceSize(0), m_dest(nullptr), m_destExternal(0), m_progress(nullptr) {
  // Without memory for it the code stays; i_Dest tries again.
  (void)SetDestBlock();
}

CKLF_BlockProcessor::~CKLF_BlockProcessor() { Clean(); }

u8 CKLF_BlockProcessor::SetSourceBlock(const void* p, u32 n) {
  m_source = static_cast<const u8*>(p);
  m_sourceSize = p ? n : 0;
  return 1;
}

u8 CKLF_BlockProcessor::SetSourceBlock(CKLF_Mem& m) { return SetSourceBlock(m.GetPtr(), m.GetSize()); }

u8 CKLF_BlockProcessor::SetSourceBlock(CKLF_String s) {
  const u8 copied = !(m_sourceText = s).IsError();
  m_source = reinterpret_cast<const u8*>(m_sourceText.GetStr());
  m_sourceSize = m_sourceText.GetLength();
  return copied ? 1 : FailFrom(m_sourceText, klErrNoMemory);
  return 1;
}

void CKLF_BlockProcessor::Clean() {
  if (m_dest && !m_destExternal) delete m_dest;
  m_dest = nullptr;
  m_destExternal = 0;
}

u8 CKLF_BlockProcessor::SetDestBlock(CKLF_Mem* m) {
  Clean();
  m_dest = m;
  m_destExternal = m ? 1 : 0;
  return 1;
}

CKLF_Mem* CKLF_BlockProcessor::SetDestBlock() {
  Clean();
  m_dest = new (std::nothrow) CKLF_Mem();
  if (!m_dest) SetError(klErrNoMemory);
  return m_dest;
}

CKLF_Mem* CKLF_BlockProcessor::i_Dest() { return m_dest ? m_dest : SetDestBlock(); }

u8 CKLF_BlockProcessor::i_DetachSource() {
  if (!m_dest || !m_source || !m_dest->GetPtr()) return 1;
  const u8* lo = m_dest->GetPtr();
  const u8* hi = lo + m_dest->GetSize();
  if (m_source + m_sourceSize <= lo || m_source >= hi) return 1;
  // The copy is a block of our own, never the destination.
  if (!m_sourceCopy.alloc(m_sourceSize)) return Fail(klErrNoMemory);
  std::memcpy(m_sourceCopy.GetPtr(), m_source, m_sourceSize);
  m_source = m_sourceCopy.GetPtr();
  return 1;
}

u8 CKLF_BlockProcessor::Process() {
  if (!m_dest || !m_source || m_sourceSize == 0) return Fail(klErrEmpty);
  if (!i_DetachSource()) return 0;
  if (!m_dest->Resize(m_sourceSize)) return FailFrom(*m_dest, klErrNoMemory);
  std::memcpy(m_dest->GetPtr(), m_source, m_sourceSize);
  ResetError();
  return 1;
}
