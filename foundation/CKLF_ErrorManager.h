// Root classes of the framework. Every object carries one 16-bit error code;
// operations return success or failure and leave the reason here. A caller
// that fails because a member failed copies the member's code.
#pragma once

#include "KLF_Types.h"

// The framework's table of error codes (blocks of sixteen).
enum KLF_Error : u16 {
  klErrNone = 0,
  klErrBadArg = 1,          // bad argument, bad state or missing parent object
  klErrEmpty = 2,           // empty block: no memory, no pixels, not created
  klErrNoMemory = 17,       // allocation failed, or a size beyond 32 bits
  klErrFileOpen = 32,
  klErrFileWrite = 33,
  klErrFileRead = 34,
  klErrFileAccess = 35,     // not opened for this access
  klErrFileSeek = 36,
  klErrFileNotOpen = 37,
  klErrUnsupported = 48,    // unsupported image variant (mode, depth, compression)
  klErrNotFormat = 49,      // not this image format, or too short
  klErrZipMalformed = 64,
  klErrZipCompress = 65,
  klErrZipArgs = 66,
  klErrZipProgress = 67,
  klErrMD5NoSource = 80,
  klErrMD5Progress = 81,
  klErrSecureArgs = 96,
  klErrSecureDigest = 97,
  klErrSecureShort = 98,
  klErrSecureProgress = 99,
  klErrStoreDigest = 112,
  klErrStoreMagic = 113,
  klErrStoreNoKey = 114,
  klErrStoreReadOnly = 115,
  klErrStoreKeyExists = 116,
  klErrStoreNotFolder = 117,
  klErrStoreType = 118,
  klErrOffscreen = 128,
  klErrWindowCreate = 144,
  klErrWindowExists = 145,
  klErrLayerNotFound = 146,
  klErrNoResources = 160,
  klErrFontRecord = 176,
  klErrFontChar = 177,
  klErrUIResource = 192,
};

// Short text of a code, "unknown error" for a code outside the table.
const char* KLF_ErrorText(u16 code);

class CKLF_ErrorManager {
 public:
  CKLF_ErrorManager() : m_error(0) {}
  virtual ~CKLF_ErrorManager() {}

  void SetError(u16 code) { m_error = code; }
  u16 GetError() const { return m_error; }
  u8 IsError() const { return m_error != 0 ? 1 : 0; }
  void ResetError() { m_error = 0; }

  // A failure is one expression: `return Fail(klErrBadArg);` sets the code
  // and answers 0; the second form answers another failure value
  // (`return Fail(klErrNoMemory, nullptr);`, `Fail(klErrBadArg, -1)`).
  u8 Fail(u16 code) {
    m_error = code;
    return 0;
  }
  template <class R>
  R Fail(u16 code, R result) {
    m_error = code;
    return result;
  }

  // Failure because a member failed: takes the member's code, or the
  // fallback when the member left none.
  u8 FailFrom(const CKLF_ErrorManager& member, u16 fallback) {
    return Fail(member.m_error != 0 ? member.m_error : fallback);
  }
  template <class R>
  R FailFrom(const CKLF_ErrorManager& member, u16 fallback, R result) {
    return Fail(member.m_error != 0 ? member.m_error : fallback, result);
  }

  // A look-up through a member that found nothing usable: out of memory
  // stays out of memory (nothing could be looked at), any other cause
  // becomes code (a record missing or malformed).
  u8 FailLookup(const CKLF_ErrorManager& member, u16 code) {
    return Fail(member.m_error == klErrNoMemory ? static_cast<u16>(klErrNoMemory) : code);
  }
  template <class R>
  R FailLookup(const CKLF_ErrorManager& member, u16 code, R result) {
    return Fail(member.m_error == klErrNoMemory ? static_cast<u16>(klErrNoMemory) : code, result);
  }

 private:
  u16 m_error;
};

class CKLF_FrameWork : public CKLF_ErrorManager {
 public:
  CKLF_FrameWork() {}
  ~CKLF_FrameWork() override {}
};
