#include "CKLF_StdFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace {

const u32 kMaxPathBytes = 1024;
const u32 kSystemEncoding = 65535;
const u32 kMaxTransfer = 0x7FFFFFFF;

// "e" keeps the descriptor out of launched programs.
const char* StdioMode(u32 mode) {
  switch (mode) {
    case 1: return "rbe";
    case 2: return "wbe";
    case 3: return "r+be";
    case 4: return "w+be";
    default: return nullptr;
  }
}

}  // namespace

CKLF_StdFile::CKLF_StdFile() : m_stream(nullptr), m_canRead(0), m_canWrite(0), m_lastOp(0) {}

// A file that cannot be opened leaves the code; IsOpened() says it.
CKLF_StdFile::CKLF_StdFile(CKLF_String path, u32 mode) : CKLF_StdFile() { (void)Open(path, mode); }

// A caller whose writes must be kept closes the file first and reads the
// result.
CKLF_StdFile::~CKLF_StdFile() { (void)Close(); }

// Opening closes the file open first: a failure to close it fails the open.
u8 CKLF_StdFile::Open(CKLF_String path, u32 mode) {
  if (!Close()) return 0;
  if (path.IsError()) return FailFrom(path, klErrNoMemory);
  const char* how = StdioMode(mode);
  if (!how) return Fail(klErrBadArg);
  FILE* f = std::fopen(path.GetStr(), how);
  if (!f) return Fail(errno == ENOMEM ? klErrNoMemory : klErrFileOpen);
  // stdio opens folders for reading; they are not files.
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
    std::fclose(f);
    return Fail(klErrFileOpen);
  }
  m_stream = f;
  m_canRead = (mode == 2) ? 0 : 1;
  m_canWrite = (mode == 1) ? 0 : 1;
  m_lastOp = 0;
  ResetError();
  return 1;
}

u8 CKLF_StdFile::Open(const KLP_FileRef* ref, u32 mode) {
  if (!Close()) return 0;
  if (!ref) return Fail(klErrFileOpen);
  char path[kMaxPathBytes + 1];
  if (KLP_RefMakePath(*ref, path, sizeof(path)) != klpNoErr) return Fail(klErrFileOpen);
  return Open(CKLF_String(path), mode);
}

u8 CKLF_StdFile::Open(CKLF_String name, const KLP_FileRef* parent, u32 mode) {
  if (!Close()) return 0;
  if (name.IsError()) return FailFrom(name, klErrNoMemory);
  if (!StdioMode(mode)) return Fail(klErrBadArg);
  KLP_FileName uname;
  if (!parent || HFSNameGetUnicodeName(name.GetStr(), &uname, kSystemEncoding) != klpNoErr ||
      uname.length == 0) {
    return Fail(klErrFileOpen);
  }
  KLP_FileRef ref;
  if (mode == 2 || mode == 4) {
    // The file created here goes again when it cannot be opened.
    if (KLP_CreateFile(*parent, uname, &ref) == klpNoErr) {
      if (Open(&ref, mode)) return 1;
      (void)unlink(ref.Path().c_str());
      return 0;
    }
  }
  if (KLP_MakeChildRef(*parent, uname, &ref) != klpNoErr) return Fail(klErrFileOpen);
  return Open(&ref, mode);
}

u8 CKLF_StdFile::Close() {
  if (!m_stream) return 1;
  int r = std::fclose(m_stream);
  m_stream = nullptr;
  m_canRead = 0;
  m_canWrite = 0;
  m_lastOp = 0;
  if (r != 0) return Fail(klErrFileWrite);
  return 1;
}

i32 CKLF_StdFile::SetPos(i32 offset) {
  if (!m_stream) return Fail(klErrFileNotOpen, -1);
  if (offset < 0 || std::fseek(m_stream, offset, SEEK_SET) != 0) return Fail(klErrFileSeek, -1);
  m_lastOp = 0;
  return offset;
}

i32 CKLF_StdFile::GetPos() {
  if (!m_stream) return Fail(klErrFileNotOpen, -1);
  long p = std::ftell(m_stream);
  if (p < 0) return Fail(klErrFileSeek, -1);
  if (p > INT32_MAX) return Fail(klErrNoMemory, -1);
  return static_cast<i32>(p);
}

i32 CKLF_StdFile::OffsetPos(i32 delta) {
  if (!m_stream) return Fail(klErrFileNotOpen, -1);
  if (std::fseek(m_stream, delta, SEEK_CUR) != 0) return Fail(klErrFileSeek, -1);
  m_lastOp = 0;
  return GetPos();
}

i32 CKLF_StdFile::GetLength() {
  if (!m_stream) return Fail(klErrFileNotOpen, -1);
  long here = std::ftell(m_stream);
  if (here < 0 || std::fseek(m_stream, 0, SEEK_END) != 0) return Fail(klErrFileSeek, -1);
  long end = std::ftell(m_stream);
  if (std::fseek(m_stream, here, SEEK_SET) != 0 || end < 0) return Fail(klErrFileSeek, -1);
  m_lastOp = 0;
  if (end > INT32_MAX) return Fail(klErrNoMemory, -1);
  return static_cast<i32>(end);
}

// Checks before a transfer of n bytes (op 1 read, 2 write): 1 to go on, 0
// for nothing to transfer, -1 on failure with the code set.
i32 CKLF_StdFile::i_BeginTransfer(u8 op, const void* buf, u32 n) {
  if (!m_stream) return Fail(klErrFileNotOpen, -1);
  if (!(op == 1 ? m_canRead : m_canWrite)) return Fail(klErrFileAccess, -1);
  if (n == 0) return 0;
  if (!buf || n > kMaxTransfer) return Fail(klErrBadArg, -1);
  // stdio needs a positioning call between a write and a read.
  if (m_lastOp != 0 && m_lastOp != op && std::fseek(m_stream, 0, SEEK_CUR) != 0) return Fail(klErrFileSeek, -1);
  m_lastOp = op;
  return 1;
}

i32 CKLF_StdFile::Read(void* buf, u32 n) {
  i32 go = i_BeginTransfer(1, buf, n);
  if (go <= 0) return go;
  size_t got = std::fread(buf, 1, n, m_stream);
  if (got == 0) return Fail(klErrFileRead, -1);
  return static_cast<i32>(got);
}

i32 CKLF_StdFile::Read(CKLF_Mem& m, u32 n) {
  u32 count = (n > 0 && n < m.GetSize()) ? n : m.GetSize();
  return Read(m.GetPtr(), count);
}

i32 CKLF_StdFile::Write(const void* buf, u32 n) {
  i32 go = i_BeginTransfer(2, buf, n);
  if (go <= 0) return go;
  size_t put = std::fwrite(buf, 1, n, m_stream);
  if (put == 0) return Fail(klErrFileWrite, -1);
  return static_cast<i32>(put);
}

i32 CKLF_StdFile::Write(CKLF_Mem& m, u32 n) {
  u32 count = (n > 0 && n < m.GetSize()) ? n : m.GetSize();
  return Write(m.GetPtr(), count);
}

u8 CKLF_StdFile::Flush() {
  if (!m_stream) return Fail(klErrFileNotOpen);
  if (std::fflush(m_stream) != 0) return Fail(klErrFileWrite);
  return 1;
}

u8 CKLF_StdFile::SetUnbuffered() {
  if (!Flush()) return 0;
  if (std::setvbuf(m_stream, nullptr, _IONBF, 0) != 0) return Fail(klErrFileWrite);
  return 1;
}

u8 CKLF_StdFile::Truncate(u32 length) {
  if (!m_stream) return Fail(klErrFileNotOpen);
  if (!m_canWrite) return Fail(klErrFileAccess);
  if (!Flush()) return 0;
  if (ftruncate(fileno(m_stream), static_cast<off_t>(length)) != 0 || std::fseek(m_stream, 0, SEEK_END) != 0) {
    return Fail(klErrFileWrite);
  }
  m_lastOp = 0;
  return 1;
}

u8 CKLF_StdFile::LaunchFile(const KLP_FileRef* ref) {
  if (!ref) return 0;
  return KLP_LaunchFile(*ref) == klpNoErr ? 1 : 0;
}

u8 CKLF_StdFile::LaunchFile(CKLF_String name, const KLP_FileRef* parent) {
  KLP_FileName uname;
  if (!parent || name.IsError() || HFSNameGetUnicodeName(name.GetStr(), &uname, kSystemEncoding) != klpNoErr ||
      uname.length == 0)
    return 0;
  KLP_FileRef ref;
  if (KLP_MakeChildRef(*parent, uname, &ref) != klpNoErr) return 0;
  return LaunchFile(&ref);
}

i32 CKLF_StdFile::HFSNameGetUnicodeName(const char* name, KLP_FileName* out, u32 enc) {
  if (!out) return klpErrParam;
  out->length = 0;
  if (enc != kSystemEncoding) return klpErrParam;
  return KLP_ConvertFileName(name, out);
}

u16 KLF_WriteFailure(u16 code, int savedErrno, std::string& reason) {
  const bool fileError = !code || (code >= klErrFileOpen && code <= klErrFileNotOpen);
  reason = fileError && savedErrno ? std::strerror(savedErrno) : KLF_ErrorText(code ? code : u16(klErrFileWrite));
  return code == klErrNoMemory || (fileError && savedErrno == ENOMEM) ? u16(klErrNoMemory) : u16(klErrFileWrite);
}
