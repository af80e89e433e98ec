// The export's files: names kept inside the chosen folder, every file
// written beside its target, PNG files side by side and renamed into place
// together once all are written.
#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "CExportRun.h"
#include "CKLF_StdFile.h"
#include "CKLP_ReplaceFile.h"
#include "CTessarette.h"
#include "KLF_Parallel.h"
#include "KLP_File.h"

namespace {

typedef CExportDialogModel M;

enum : u8 { kPending = 0, kWritten = 1, kSkipped = 2, kFailed = 3 };

// Folder and last name of a path (no folder for a bare name); 0 without
// memory for them.
[[nodiscard]] u8 SplitPath(const char* path, CKLF_String& folder, CKLF_String& name) {
  const char* slash = std::strrchr(path, '/');
  if (!slash) return !(folder = "").IsError() && !(name = path).IsError();
  const std::string f(path, slash == path ? 1 : static_cast<size_t>(slash - path));
  return !(folder = f.c_str()).IsError() && !(name = slash + 1).IsError();
}

// name without a last ".png" (any case); 0 without memory.
[[nodiscard]] u8 DropPngExtension(CKLF_String& name);

// One PNG file into its temporary beside the target, finished but not yet
// renamed; runs on any thread and throws nothing. 0 with the code (17 when
// memory ran out) and otherwise the reason.
u8 WriteOnePNG(CExportWriters::JOB& job, u32 item, const std::string& target, CKLP_ReplaceFile& file,
               std::string& reason, u16& code) {
  try {
    if (!file.Begin(target, reason, false)) return code = KLF_WriteFailure(0, errno, reason), 0;
    errno = 0;
    CKLF_StdFile f(file.TempPath().c_str(), 3);
    u8 ok = f.IsOpened() && CExportWriters::stExportToPNGs(&f, &job, item);
    int saved = errno;
    u16 writer = f.IsOpened() ? job.error : f.GetError();
    if (!f.Close() && ok) ok = 0, saved = errno, writer = f.GetError();
    if (!ok) {
      file.Abandon();
      return code = KLF_WriteFailure(writer, saved, reason), 0;
    }
    if (file.Finish(reason)) return 1;
    return code = KLF_WriteFailure(0, errno, reason), 0;
  } catch (...) {  // an allocation of a name or a reason
    file.Abandon();
    return code = klErrNoMemory, 0;
  }
}

std::string Join(const CKLF_String& folder, const char* name) {
  return folder.GetLength() ? std::string(folder.GetStr()) + "/" + name : std::string(name);
}

// Whether name ends with ".png" in any case.
bool PngName(const CKLF_String& name) {
  const u32 n = name.GetLength();
  if (n < 4) return false;
  const char* t = name.GetStr() + n - 4;
  return t[0] == '.' && (t[1] | 0x20) == 'p' && (t[2] | 0x20) == 'n' && (t[3] | 0x20) == 'g';
}

// Keeps what may stand in a file name: separators and control characters
// become "_", a run of dots one dot, a leading dot "_".
std::string Clean(const char* s) {
  std::string out;
  for (const char* p = s; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '.' && !out.empty() && out.back() == '.') continue;
    out += c == '/' || c == '\\' || c < 0x20 || c == 0x7F || (c == '.' && out.empty()) ? '_' : static_cast<char>(c);
  }
  return out;
}

// The tails of the PNG files' names after "[file]": '#' stands for
// digits, '%' for four digits or more.
const char* const kPNGTails[] = {".png", "_Composite.png", "_%.png", "_F%-Piece#_R#_C#.png"};

// Whether s (n bytes) is the tail, or with cut, its start.
bool IsTail(const char* s, size_t n, const char* tail, bool cut) {
  size_t i = 0;
  for (const char* t = tail; *t; ++t) {
    if (i == n) return cut;
    if (*t != '#' && *t != '%') {
      if (s[i++] != *t) return false;
      continue;
    }
    const size_t start = i;
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i;
    if (i == n && cut) return true;
    if (i - start < (*t == '%' ? 4u : 1u)) return false;
  }
  return i == n;
}

// A base is cut only to fit a folder entry beside a tail of at most 56
// bytes: a cut base keeps this many bytes or more.
const size_t kCutBaseAtLeast = klpMaxNameBytes - 60;

// Whether name is base (whole, or cut to fit) and a tail; with cut, name
// may stop anywhere.
bool IsPNGName(const std::string& base, const char* name, bool cut) {
  const size_t n = std::strlen(name);
  size_t common = 0;
  while (common < n && common < base.size() && name[common] == base[common]) ++common;
  if (cut && common == n) return true;
  const size_t lowest = base.size() < kCutBaseAtLeast ? base.size() : kCutBaseAtLeast;
  for (size_t p = common; p >= lowest && p > 0; --p)
    for (const char* tail : kPNGTails)
      if (IsTail(name + p, n - p, tail, cut)) return true;
  return false;
}

u8 DropPngExtension(CKLF_String& name) {
  return !PngName(name) || !(name = name.Left(name.GetLength() - 4)).IsError();
}

}  // namespace

u8 CExportRun::PNGFileBase(const char* path, CKLF_String& base) {
  CKLF_String folder, name;
  return SplitPath(path ? path : "", folder, name) && DropPngExtension(name) &&
         SafeFileName(name, nullptr, nullptr, 0xFFFFFFFF, base);
}

u8 CExportRun::IsPNGFileNameOf(const char* base, const char* name, u8 cut) {
  return base && name && IsPNGName(base, name, cut != 0);
}

u8 CExportRun::SafeFileName(const char* base, const char* suffix, const char* extension, u32 maxBytes,
                            CKLF_String& out) {
  std::string b = Clean(base ? base : "");
  const std::string tail = Clean(suffix ? suffix : "") + (extension ? extension : "");
  if (b.empty()) b = "Pieces";
  const size_t room = maxBytes > tail.size() ? maxBytes - tail.size() : 1;
  if (b.size() > room) {
    size_t cut = room;
    // Not inside a character's UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(b[cut]) & 0xC0) == 0x80) --cut;
    b.resize(cut > 0 ? cut : 1);
    if (b.back() == '.' && b.size() > 1) b.pop_back();
  }
  return !(out = (b + tail).c_str()).IsError();
}

u8 CExportRun::SafePath(const char* path, CKLF_String& out) {
  CKLF_String folder, name, safe;
  return SplitPath(path, folder, name) && SafeFileName(name, nullptr, nullptr, klpMaxNameBytes, safe) &&
         !(out = Join(folder, safe).c_str()).IsError();
}

CExportWriters::JOB CExportRun::i_Job(u8 fullCanvas) const {
  CExportWriters::JOB job = {};
  job.layers = reinterpret_cast<CExportWriters::LAYER*>(m_layerMem.GetPtr());
  job.count = m_count;
  job.width = m_doc.width;
  job.height = m_doc.height;
  job.resolution = m_doc.resolution;
  job.verticalResolution = m_doc.verticalResolution;
  job.icc = m_doc.icc;
  job.iccSize = m_doc.iccSize;
  job.fullCanvas = fullCanvas;
  job.threads = KLF_Parallel::Resolve(m_threads);
  return job;
}

u8 CExportRun::i_WritePSD(const char* path) {
  if (!i_RenderImages(0, m_count, 0, 40)) return 0;
  CKLF_String safe;
  if (!SafePath(path, safe)) return Fail(klErrNoMemory);
  const std::string target = safe.GetStr();
  CExportWriters::JOB job = i_Job(0);
  job.progress = m_progress;
  job.alert = m_alert;
  job.alertUser = m_alertUser;
  CKLP_ReplaceFile file;
  std::string reason;
  if (!file.Begin(target, reason)) {
    if (errno == ENOMEM || (m_reason = reason.c_str()).IsError()) return Fail(klErrNoMemory);
    if (m_alert) m_alert(CExportWriters::kCannotWrite, CExportWriters::kErrorTitle, m_alertUser);
    return Fail(klErrFileOpen);
  }
  errno = 0;
  CKLF_StdFile f(file.TempPath().c_str(), 3);
  u8 ok = f.IsOpened() && CExportWriters::stExportToPSD(&f, &job);
  int saved = errno;
  u16 writer = f.IsOpened() ? job.error : f.GetError();
  if (!f.Close() && ok) ok = 0, saved = errno, writer = f.GetError();
  if (!ok) {
    file.Abandon();
    if (m_progress && m_progress->IsCanceled()) return 0;
    const u16 code = KLF_WriteFailure(writer, saved, reason);
    if (code == klErrFileWrite && (m_reason = reason.c_str()).IsError()) return Fail(klErrNoMemory);
    return Fail(code);
  }
  // Listed before it is placed: once placed, nothing is left to fail.
  if (m_written.Add(CKLF_String(target.c_str()), 0) < 0) {
    file.Abandon();
    return Fail(klErrNoMemory);
  }
  if (!file.Commit(reason)) {
    m_written.Empty();
    if (errno == ENOMEM || (m_reason = reason.c_str()).IsError()) return Fail(klErrNoMemory);
    if (m_alert) m_alert(CExportWriters::kCannotWrite, CExportWriters::kErrorTitle, m_alertUser);
    return Fail(klErrFileWrite);
  }
  return 1;
}

u8 CExportRun::i_WritePNGs(const CExportDialogModel::SETTINGS& s, const char* path) {
  CKLF_String folder, name, baseName;
  if (!SplitPath(path, folder, name) || !DropPngExtension(name) || (m_base = name).IsError() ||
      !PNGFileBase(path, baseName))
    return Fail(klErrNoMemory);
  CExportWriters::JOB job = i_Job(s.fullCanvas);
  std::vector<std::string> targets(m_count);
  for (u32 i = 0; i < m_count; ++i) {
    CKLF_String file;
    if (!SafeFileName(m_base, m_names.GetPtrAt(i)->GetStr(), ".png", klpMaxNameBytes, file))
      return Fail(klErrNoMemory);
    targets[i] = Join(folder, file);
  }
  // Stale temporaries of any earlier export to this "[file]", whatever
  // its layout or naming.
  const std::string base = baseName.GetStr();
  CKLP_ReplaceFile::RemoveStale(folder.GetLength() ? folder.GetStr() : ".",
                                [&](const std::string& n, bool cut) { return IsPNGName(base, n.c_str(), cut); });
  // Every file waits in its temporary until all are written; whatever
  // ends the export early removes them all.
  std::unique_ptr<CKLP_ReplaceFile[]> files(new (std::nothrow) CKLP_ReplaceFile[m_count]);
  if (!files) return Fail(klErrNoMemory);
  for (u32 first = 0, end = 0; first < m_count; first = end) {
    end = i_BatchEnd(first);
    const f64 from = 90.0 * first / m_count, mid = from + 45.0 * (end - first) / m_count;
    if (!i_RenderImages(first, end, static_cast<u8>(from), static_cast<u8>(mid))) return 0;
    if (!i_WritePNGBatch(job, first, end, targets.data(), files.get())) return 0;
  }
  // The files are listed before they are placed, so that once placed
  // nothing is left to fail; a set placed in part keeps the list of those
  // placed (they come first).
  for (u32 i = 0; i < m_count; ++i)
    if (!files[i].TempPath().empty() && m_written.Add(CKLF_String(targets[i].c_str()), 0) < 0) {
      m_written.Empty();
      return Fail(klErrNoMemory);  // the files' destructors remove the temporaries
    }
  std::string reason;
  const char* const where = folder.GetLength() ? folder.GetStr() : ".";
  const bool placed = CKLP_ReplaceFile::CommitSet(files.get(), m_count, reason,
                                                  [&] { i_ListEarlier(where, path, targets.data(), files.get()); });
  u32 committed = 0;
  for (u32 i = 0; i < m_count; ++i) committed += files[i].Committed();
  while (m_written.GetSize() > committed) m_written.DeleteAt(m_written.GetSize() - 1);
  if (!placed) {
    if (errno == ENOMEM || (m_reason = reason.c_str()).IsError()) return Fail(klErrNoMemory);
    if (m_alert) m_alert(CExportWriters::kCannotWrite, CExportWriters::kErrorTitle, m_alertUser);
    return Fail(klErrFileWrite);
  }
  return 1;
}

// Under the folder's lock, once the set is placed. A failure (memory, a
// folder that cannot be read) leaves the list empty.
void CExportRun::i_ListEarlier(const char* folder, const char* path, const std::string* targets,
                               const CKLP_ReplaceFile* files) {
  bool listed = false;
  DIR* d = nullptr;
  try {
    std::vector<std::string> placed;
    for (u32 i = 0; i < m_count; ++i)
      if (files[i].Committed()) placed.push_back(targets[i].substr(targets[i].rfind('/') + 1));
    std::sort(placed.begin(), placed.end());
    CKLF_String baseName;
    const std::string base = PNGFileBase(path, baseName) ? baseName.GetStr() : "";
    d = base.empty() ? nullptr : opendir(folder);
    listed = d != nullptr;
    while (const dirent* e = listed ? readdir(d) : nullptr)
      if (IsPNGName(base, e->d_name, false) && !std::binary_search(placed.begin(), placed.end(), e->d_name)) {
        const CKLF_String name(e->d_name);
        listed = !name.GetError() && m_earlier.Add(name, 0) >= 0;
      }
  } catch (...) {  // a name's allocation
    listed = false;
  }
  if (d) closedir(d);
  if (!listed) m_earlier.Empty();
}

// Files of the items first..end-1, side by side, one a thread (with the
// threads left over given to each file's encoder), each left finished in
// its temporary. Progress and cancel between files on the calling thread;
// a failure stops handing out files.
u8 CExportRun::i_WritePNGBatch(CExportWriters::JOB& job, u32 first, u32 end, const std::string* targets,
                               CKLP_ReplaceFile* files) {
  const u32 threads = KLF_Parallel::Resolve(m_threads), count = end - first;
  const u32 workers = threads < count ? threads : count;
  struct Worker {
    CKLF_Mem scratch;
    CKLF_String reason;
    u32 failedAt = 0xFFFFFFFF;
  };
  CKLF_Mem statusMem;
  Worker* worker = new (std::nothrow) Worker[workers];
  if (!worker || !statusMem.alloc(count)) {
    delete[] worker;
    return Fail(klErrNoMemory);
  }
  std::memset(statusMem.GetPtr(), kPending, count);
  struct Job : KLF_ParallelJob {
    CExportRun* run;
    CExportWriters::JOB job;
    const std::string* targets;
    CKLP_ReplaceFile* files;
    u32 first, count;
    f64 from, span;
    Worker* workers;
    u8* status;
    std::atomic<u8> failed{0};
    void RunTask(u32 index, u32 w) override {
      const u32 item = first + index;
      CExportWriters::JOB mine = job;
      mine.scratch = &workers[w].scratch;
      if (!CExportWriters::OnCanvas(mine, item)) {
        status[index] = kSkipped;
        return;
      }
      std::string reason;
      u16 code = 0;
      if (WriteOnePNG(mine, item, targets[item], files[item], reason, code)) {
        status[index] = kWritten;
        return;
      }
      status[index] = kFailed;
      if (code == klErrNoMemory) return Fail(code);
      if (item < workers[w].failedAt) {
        const size_t slash = targets[item].rfind('/');
        workers[w].failedAt = item;
        const std::string said = targets[item].substr(slash == std::string::npos ? 0 : slash + 1) + ": " + reason;
        if ((workers[w].reason = said.c_str()).IsError()) return Fail(klErrNoMemory);
      }
      failed.store(1);
    }
    u8 Poll(u32 done) override {
      return run->i_Progress(static_cast<u32>(from + span * done / count)) && !failed.load();
    }
  } task;
  task.run = this;
  task.job = job;
  task.job.threads = threads / workers;
  task.targets = targets;
  task.files = files;
  task.first = first;
  task.count = count;
  task.from = 90.0 * first / m_count + 45.0 * count / m_count;
  task.span = 45.0 * count / m_count;
  task.workers = worker;
  task.status = statusMem.GetPtr();
  const u8 ran = KLF_Parallel::Run(workers, count, task);
  u32 failedAt = 0xFFFFFFFF;
  u8 told = 1;
  for (u32 w = 0; w < workers; ++w)
    if (worker[w].failedAt < failedAt) failedAt = worker[w].failedAt, told = !(m_reason = worker[w].reason).IsError();
  delete[] worker;
  const u8* status = statusMem.GetPtr();
  for (u32 i = 0; i < count; ++i)
    if (status[i] == kSkipped) ++m_skipped;
  // Memory running out is told by the caller, not as a file's failure.
  if (const u16 error = task.GetError()) return m_reason.Clear(), Fail(error);
  if (failedAt != 0xFFFFFFFF) {
    if (!told) return m_reason.Clear(), Fail(klErrNoMemory);
    if (m_alert) m_alert(CExportWriters::kCannotWrite, CExportWriters::kErrorTitle, m_alertUser);
    return Fail(klErrFileWrite);
  }
  // Every file done, or a cancel (no error).
  return ran;
}
