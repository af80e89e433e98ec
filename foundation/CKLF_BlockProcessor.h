// Base of the block processors: one source byte block in, one destination
// block out, in a single call of Process(). The source is borrowed (or a
// copy of a string given as source); the destination is either the
// caller's block or one the processor makes and deletes. The base Process
// copies the source. Sizes are 32-bit.
#pragma once

#include "CKLF_Progress.h"
#include "CKLF_String.h"

class CKLF_BlockProcessor : public CKLF_FrameWork {
 public:
  CKLF_BlockProcessor();
  ~CKLF_BlockProcessor() override;

  CKLF_BlockProcessor(const CKLF_BlockProcessor&) = delete;
  CKLF_BlockProcessor& operator=(const CKLF_BlockProcessor&) = delete;

  // 1 on success; 0 with an error code of the subclass.
  [[nodiscard]] virtual u8 Process();

  // The bytes must stay valid until Process has run. All return 1.
  virtual u8 SetSourceBlock(const void* p, u32 n);
  virtual u8 SetSourceBlock(CKLF_Mem& m);
  // Keeps a copy of s; its characters without the NUL are the source.
  [[nodiscard]] virtual u8 SetSourceBlock(CKLF_String s);
  // Deletes an own destination and writes into m from now on (the caller's).
  virtual u8 SetDestBlock(CKLF_Mem* m);
  // Deletes an own destination and makes a new empty own one; null with
  // error 17 when it cannot be made.
  [[nodiscard]] virtual CKLF_Mem* SetDestBlock();
  CKLF_Mem* GetDestBlock() const { return m_dest; }
  // Deletes an own destination and leaves none.
  void Clean();

  // None of the processors reports progress: Process fails while one is set.
  void SetProgress(CKLF_Progress& progress) { m_progress = &progress; }
  void ClearProgress() { m_progress = nullptr; }

 protected:
  // The destination, made when there is none; null with error 17.
  [[nodiscard]] CKLF_Mem* i_Dest();
  // When the source lies inside the destination block (which Process is
  // about to resize), reads it from a copy of its own from now on. 0 with
  // error 17 when the copy cannot be made.
  [[nodiscard]] u8 i_DetachSource();

  const u8* m_source;
  u32 m_sourceSize;
  CKLF_String m_sourceText;
  CKLF_Mem m_sourceCopy;
  CKLF_Mem* m_dest;
  u8 m_destExternal;
  CKLF_Progress* m_progress;
};
