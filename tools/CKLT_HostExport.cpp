#include "CKLT_HostExport.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "CExportDialogModel.h"
#include "CExportKnives.h"
#include "CExportLMDialogModel.h"
#include "CExportRun.h"
#include "CKLP_ReplaceFile.h"
#include "CKLT_FileAccess.h"
#include "CKLT_FilterHost.h"
#include "CKLT_HostOptions.h"
#include "CKLT_HostRunner.h"
#include "CKLT_PluginLibrary.h"
#include "CKLT_ProgressBar.h"
#include "CKLT_SettingsSource.h"
#include "CLayoutModel.h"
#include "CPluginMain.h"
#include "CSettingsBlock.h"

namespace {

typedef CKLT_HostOptions O;
typedef CKLT_HostExport::Options E;

bool EndsWith(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, tail) == 0;
}

// The index + first of value in a null-ended list of names.
bool TakeChoice(const char* option, const char* value, const char* const* names, uint8_t first, uint8_t& out,
                std::string& error) {
  for (uint8_t i = 0; names[i]; ++i)
    if (std::strcmp(value, names[i]) == 0) return out = static_cast<uint8_t>(first + i), true;
  std::vector<std::string> choices;
  for (uint8_t i = 0; names[i]; ++i) choices.push_back(names[i]);
  error = std::string("bad ") + option + " " + value + " (" + O::Listed(choices, " or ") + ")";
  return false;
}

const char* const kWhat[] = {"merged", "selected", "all", nullptr};
const char* const kNaming[] = {"simple", "extended", nullptr};
const char* const kKnivesWhat[] = {"selected", "all", nullptr};

// Every export option says that one was given.
E& Ex(O& o) {
  o.exports.any = true;
  return o.exports;
}

const O::OptionEntry kOptions[] = {
    {"--export-pieces", nullptr, "FILE",
     "also export the pieces of the layout replayed: FILE.psd holds a layer a piece; FILE.png stands for a PNG "
     "file a piece beside it (FILE_F0001-Piece1_R1_C1.png...)",
     [](O& o, const char* v, std::string& e) { return O::TakeFileName("--export-pieces", v, Ex(o).pieces, e); }},
    {"--export-what", nullptr, "merged|selected|all",
     "the pieces exported: one merged image, the selected ones (all when none is; the default) or all",
     [](O& o, const char* v, std::string& e) { return TakeChoice("--export-what", v, kWhat, 1, Ex(o).what, e); }},
    {"--export-naming", nullptr, "simple|extended",
     "names: \"Layer 12\" and FILE_0012.png, or \"L12 - Piece: 9 (R: 2 / C: 3)\" and "
     "FILE_F0012-Piece9_R2_C3.png (the default)",
     [](O& o, const char* v, std::string& e) { return TakeChoice("--export-naming", v, kNaming, 1, Ex(o).naming, e); }},
    {"--export-no-composite", nullptr, nullptr,
     "with selected pieces, no layer (or file) of the other shown pieces composed",
     [](O& o, const char*, std::string&) { return Ex(o).composite = false, true; }},
    {"--export-without-bevel", nullptr, nullptr, "the pieces without their bevel",
     [](O& o, const char*, std::string&) { return Ex(o).withoutBevel = true, true; }},
    {"--export-hidden", nullptr, nullptr, "hidden pieces too, as hidden layers (PSD)",
     [](O& o, const char*, std::string&) { return Ex(o).hidden = true, true; }},
    {"--export-cropped", nullptr, nullptr,
     "PNG files of the pieces' own rectangles rather than of the document's size",
     [](O& o, const char*, std::string&) { return Ex(o).fullCanvas = false, true; }},
    {"--export-knives", nullptr, "FILE", "also export the knives: FILE.eps or FILE.ai, in points at the document's "
     "resolution",
     [](O& o, const char* v, std::string& e) { return O::TakeFileName("--export-knives", v, Ex(o).knives, e); }},
    {"--export-knives-what", nullptr, "selected|all",
     "the knives exported: the selected ones (all when none is; the default) or all; hidden knives never",
     [](O& o, const char* v, std::string& e) {
       return TakeChoice("--export-knives-what", v, kKnivesWhat, 2, Ex(o).knivesWhat, e);
     }},
};

O::OptionTable g_table = {kOptions, sizeof(kOptions) / sizeof(kOptions[0]), nullptr};

struct Registrar {
  Registrar() { O::AddTable(g_table); }
} registrar;

// The progress of an export on the program's bar.
struct Bar : CKLF_Progress {
  CKLT_ProgressBar bar;
  i32 Progress(u8 percent, void*) override { return bar.Show(percent, 100), 0; }
};

// The block the run replays.
bool Block(CKLT_FilterHost& host, const O& o, std::vector<uint8_t>& block, std::string& message, bool& noMemory) {
  if (!o.last) return CKLT_SettingsSource::FromDescriptor(host, block, message, &noMemory);
  const std::string last =
      CKLT_SettingsSource::LastDataPath(o.plugin.empty() ? CKLT_PluginLibrary::DefaultPath() : o.plugin);
  const KLP_Rect32 r = host.FilterRect();
  return CKLT_SettingsSource::ReadFile(last, r.right - r.left, r.bottom - r.top, block, message, &noMemory);
}

void Report(FILE* err, const std::string& text) {
  std::fprintf(err, "tessarette-host: %s\n", text.c_str());
  std::fflush(err);
}

// The PNG files' names, as the export makes them, against every other
// file the run writes or reads and what they name now; each may be
// written as -o may (no read-only file is replaced).
int CheckNames(CExportRun& run, const CExportDialogModel::SETTINGS& s, const O& o, std::string& message) {
  CKLF_StringArray names;
  if (!run.PNGFileNames(s, o.exports.pieces.c_str(), names)) return -1;  // the export says why
  std::vector<CKLT_HostRunner::NamedFile> targets;
  if (!CKLT_HostRunner::Targets(o, targets))
    return message = "out of memory: the export's names cannot be made", CKLT_HostRunner::kExitMemory;
  for (u32 i = 0; i < names.GetSize(); ++i) targets.push_back({"--export-pieces", names.GetPtrAt(i)->GetStr(), true});
  if (!CKLT_HostRunner::CheckTargets(targets, CKLT_HostRunner::Reads(o), message)) return CKLT_HostRunner::kExitUsage;
  std::string reason;
  for (u32 i = 0; i < names.GetSize(); ++i)
    if (!CKLT_FileAccess::CanWrite(names.GetPtrAt(i)->GetStr(), reason))
      return message = std::string("cannot write ") + names.GetPtrAt(i)->GetStr() + ": " + reason,
             CKLT_HostRunner::kExitFiles;
  return -1;
}

// The files an earlier export left in the folder named as pieces of this
// one, as the export found them once its set was placed, but for those
// the run reads or writes otherwise (told apart by identity, whatever
// their names). false without memory for the names.
bool EarlierFiles(const O& o, const CKLF_StringArray& earlier, std::string& folder, u32& count) {
  const std::string& path = o.exports.pieces;
  const size_t slash = path.rfind('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::set<std::pair<dev_t, ino_t>> run;
  CKLT_FileAccess::Identity id;
  std::vector<CKLT_HostRunner::NamedFile> targets;
  if (!CKLT_HostRunner::Targets(o, targets)) return false;
  for (const auto& files : {targets, CKLT_HostRunner::Reads(o)})
    for (const CKLT_HostRunner::NamedFile& f : files)
      if (CKLT_FileAccess::Identify(f.path, id) && id.name.empty()) run.insert({id.device, id.inode});
  count = 0;
  for (u32 i = 0; i < earlier.GetSize(); ++i)
    count += !(CKLT_FileAccess::Identify(folder + "/" + earlier[i].GetStr(), id) && id.name.empty() &&
               run.count({id.device, id.inode}));
  return true;
}

// The export waits for another export's set to be placed in the folder.
void SayWaiting(void* err, const char* folder) {
  Report(static_cast<FILE*>(err),
         std::string("note: waiting for another export into ") + folder +
             " to place its files first; Ctrl-C ends this one and leaves the folder as it was");
}

int Pieces(CPluginMain& plugin, const O& o, FILE* err, std::string& message, std::vector<std::string>& placed) {
  const E& x = o.exports;
  CTessarette& engine = plugin.GetEngine();
  const kltPLUGINDATA_s& pd = *plugin.GetPluginDataPtr();
  CExportDialogModel::SETTINGS s = {x.what,
                                    static_cast<u8>(EndsWith(x.pieces, ".psd") ? CExportDialogModel::kToPSD
                                                                               : CExportDialogModel::kToPNG),
                                    x.naming,
                                    x.composite,
                                    x.withoutBevel,
                                    x.hidden,
                                    x.fullCanvas};
  const CExportDialogModel dialog(CExportDialogModel::Count(engine), s);
  // What the pieces' selection and visibility leave without effect.
  if (!x.composite && !dialog.IsEnabled("Export_Composite"))
    Report(err, "note: --export-no-composite changes nothing: no other shown piece is composed beside the "
                "exported ones here");
  if (x.hidden && !dialog.IsEnabled("Export_Hidden"))
    Report(err, "note: --export-hidden changes nothing: no hidden piece is among those exported");
  CExportRun run(engine);
  const CExportRun::DOCUMENT doc = {static_cast<u16>(pd.wholeSize.horizontal),
                                    static_cast<u16>(pd.wholeSize.vertical),
                                    pd.filterArea.left,
                                    pd.filterArea.top,
                                    pd.resolutionH,
                                    pd.resolutionV,
                                    pd.iccProfile,
                                    pd.iccProfileSize};
  run.SetDocument(doc);
  run.SetThreads(o.threads);
  engine.SetThreads(o.threads);
  Bar bar;
  bar.bar.SetOutput(o.quiet ? nullptr : err, isatty(fileno(err)) != 0);
  run.SetProgress(&bar);
  if (s.to == CExportDialogModel::kToPNG) {
    const int code = CheckNames(run, dialog.Effective(), o, message);
    if (code >= 0) return code;
  }
  CKLP_ReplaceFile::SetWaitNotice(SayWaiting, err);
  const u8 ok = run.ExportPieces(dialog.Effective(), x.pieces.c_str());
  CKLP_ReplaceFile::SetWaitNotice(nullptr, nullptr);
  bar.bar.End();
  const u32 files = run.Written().GetSize();
  // A set whose rename failed part way keeps the files renamed before.
  if (s.to == CExportDialogModel::kToPNG && files)
    placed.push_back(std::to_string(files) + (files == 1 ? " PNG file" : " PNG files") + " of --export-pieces " +
                     x.pieces);
  else if (files)
    placed.push_back("--export-pieces " + x.pieces);
  if (!ok) {
    message = "cannot export the pieces to " + x.pieces + ": ";
    message += run.GetError() == klErrUnsupported ? "only RGB documents are exported"
               : run.GetError() == klErrEmpty     ? "no piece to export (every chosen piece is hidden)"
               : *run.Reason()                    ? run.Reason()
                                                  : KLF_ErrorText(run.GetError());
    return run.GetError() == klErrNoMemory ? CKLT_HostRunner::kExitMemory : CKLT_HostRunner::kExitFiles;
  }
  std::string said = "exported ";
  if (s.to == CExportDialogModel::kToPSD)
    said += std::string("the pieces to ") + run.Written().GetPtrAt(0)->GetStr();
  else
    said += std::to_string(files) + (files == 1 ? " PNG file" : " PNG files") +
            (files ? std::string(" (") + run.Written().GetPtrAt(0)->GetStr() + (files > 1 ? " ... " : "") +
                         (files > 1 ? run.Written().GetPtrAt(files - 1)->GetStr() : "") + ")"
                   : "");
  if (run.Skipped()) said += " (" + std::to_string(run.Skipped()) + " pieces with nothing on the canvas skipped)";
  Report(err, said);
  std::string folder;
  u32 earlier = 0;
  if (s.to == CExportDialogModel::kToPNG && !EarlierFiles(o, run.Earlier(), folder, earlier))
    return message = "out of memory: the exported files cannot be told from earlier ones", CKLT_HostRunner::kExitMemory;
  if (earlier)
    Report(err, "note: " + folder + " still holds " + std::to_string(earlier) +
                    (earlier == 1 ? " file" : " files") + " named as pieces of " + x.pieces +
                    " that this export did not write (an earlier export's); " +
                    (earlier == 1 ? "it is left as it was" : "they are left as they were"));
  return -1;
}

int Knives(CPluginMain& plugin, const std::vector<uint8_t>& block, const O& o, FILE* err, std::string& message,
           std::vector<std::string>& placed) {
  const E& x = o.exports;
  const kltPLUGINDATA_s& pd = *plugin.GetPluginDataPtr();
  CLayoutModel layout;
  layout.SetImageSize(static_cast<u32>(pd.filterRect.right - pd.filterRect.left),
                      static_cast<u32>(pd.filterRect.bottom - pd.filterRect.top));
  const u8* records = nullptr;
  u32 count = 0;
  CSettingsBlock reader;
  if (!reader.Read(layout, block.data(), static_cast<u32>(block.size()), &records, count)) {
    const u16 e = reader.GetError() ? reader.GetError() : static_cast<u16>(klErrBadArg);
    message = "cannot export the knives: the layout cannot be laid (" + std::string(KLF_ErrorText(e)) + ")";
    return e == klErrNoMemory ? CKLT_HostRunner::kExitMemory : CKLT_HostRunner::kExitFiles;
  }
  const CExportLMDialogModel dialog(
      CExportLMDialogModel::Count(layout),
      {x.knivesWhat, static_cast<u8>(EndsWith(x.knives, ".ai") ? CExportLMDialogModel::kToAI
                                                                : CExportLMDialogModel::kToEPS)});
  CExportKnives ex(layout);
  ex.SetDocument({pd.filterArea.left, pd.filterArea.top, pd.resolutionH, pd.resolutionV});
  if (!ex.ExportKnives(dialog.Settings(), x.knives.c_str())) {
    message = "cannot export the knives to " + x.knives + ": " +
              (ex.GetError() == klErrEmpty ? std::string("no knife to export (every chosen knife is hidden)")
               : *ex.Reason()              ? std::string(ex.Reason())
                                           : std::string(KLF_ErrorText(ex.GetError())));
    return ex.GetError() == klErrNoMemory ? CKLT_HostRunner::kExitMemory : CKLT_HostRunner::kExitFiles;
  }
  placed.push_back("--export-knives " + x.knives);
  Report(err, "exported " + std::to_string(ex.Exported()) + " knives to " + ex.Written());
  return -1;
}

// The export options that would change nothing, with why; empty when
// each acts. What depends on the pieces' selection is known after the cut.
std::string Unused(const E& x) {
  const bool pieces = !x.pieces.empty(), psd = EndsWith(x.pieces, ".psd"), merged = x.what == 1;
  const E defaults;
  std::vector<std::string> given;
  if (x.what != defaults.what) given.push_back("--export-what");
  if (x.naming != defaults.naming) given.push_back("--export-naming");
  if (!x.composite) given.push_back("--export-no-composite");
  if (x.withoutBevel) given.push_back("--export-without-bevel");
  if (x.hidden) given.push_back("--export-hidden");
  if (!x.fullCanvas) given.push_back("--export-cropped");
  if (!pieces && !given.empty())
    return O::Listed(given) + (given.size() == 1 ? " is" : " are") + " for --export-pieces, which is not given";
  if (x.knives.empty() && x.knivesWhat != defaults.knivesWhat)
    return "--export-knives-what is for --export-knives, which is not given";
  if (!pieces) return std::string();
  if (psd && !x.fullCanvas) return "--export-cropped is for PNG files: a PSD's layers keep their own rectangles";
  if (!psd && x.hidden) return "--export-hidden is for a PSD file, whose layers can be hidden: PNG files cannot";
  if (merged) {
    given.erase(given.begin());  // --export-what itself
    if (!given.empty())
      return O::Listed(given) + " change" + (given.size() == 1 ? "s" : "") +
             " nothing when one merged image is exported (--export-what merged)";
  }
  if (!x.composite && x.what == 3)
    return "--export-no-composite changes nothing with --export-what all: the other pieces are composed only "
           "beside selected ones";
  return std::string();
}

}  // namespace

int CKLT_HostExport::Check(const CKLT_HostOptions& o, std::string& error) {
  const E& x = o.exports;
  const int usage = CKLT_HostRunner::kExitUsage;
  std::string reason;
  if (x.any && !x.Wanted()) return error = "the export options go with --export-pieces or --export-knives", usage;
  if (!x.Wanted()) return -1;
  const std::string idle = Unused(x);
  if (!idle.empty()) return error = idle, usage;
  if (o.dialog || o.about) return error = "--dialog and --about replay no layout to export", usage;
  if (!x.pieces.empty() && !EndsWith(x.pieces, ".psd") && !EndsWith(x.pieces, ".png"))
    return error = "--export-pieces makes a .psd file or .png files: " + x.pieces, usage;
  if (!x.knives.empty() && !EndsWith(x.knives, ".eps") && !EndsWith(x.knives, ".ai"))
    return error = "--export-knives makes an .eps or .ai file: " + x.knives, usage;
  for (const std::string* path : {&x.pieces, &x.knives})
    if (!path->empty() && !CKLT_FileAccess::CanWrite(*path, reason))
      return error = "cannot write " + *path + ": " + reason, CKLT_HostRunner::kExitFiles;
  return -1;
}

int CKLT_HostExport::Run(CKLT_FilterHost& host, const CKLT_HostOptions& o, FILE* err, std::string& message,
                         std::vector<std::string>& placed, const std::vector<uint8_t>* handed) {
  const E& x = o.exports;
  if (!x.Wanted()) return -1;
  std::vector<uint8_t> own;
  bool noMemory = false;
  if (!handed && !Block(host, o, own, message, noMemory))
    return message = "cannot export: " + message, noMemory ? CKLT_HostRunner::kExitMemory : CKLT_HostRunner::kExitFiles;
  const std::vector<uint8_t>& block = handed ? *handed : own;
  // The plug-in's own replay code, in the program, on the same document.
  host.ResetRun();
  CPluginMain plugin;
  int16_t result = 0;
  plugin.SetHostPointers(&host.Record(), nullptr, &result);
  int code = -1;
  CKLF_Mem blockMem, source;
  if (!plugin.FillPluginData()) {
    const bool memory = plugin.GetError() == klErrNoMemory;
    message = memory ? "cannot export: out of memory"
                     : "cannot export: the document's mode or filter case is not supported";
    code = memory ? CKLT_HostRunner::kExitMemory : CKLT_HostRunner::kExitBadMode;
  } else if (!x.pieces.empty() && plugin.GetPluginDataPtr()->colorKind != 1) {
    message = "cannot export the pieces: only RGB documents are exported as pieces; this one is " +
              std::string(plugin.GetPluginDataPtr()->colorKind == 0 ? "grey" : "CMYK") +
              " (convert it with --mode rgb)";
    code = CKLT_HostRunner::kExitUsage;
  } else if (!blockMem.alloc(static_cast<u32>(block.size()))) {
    message = "cannot export: out of memory";
    code = CKLT_HostRunner::kExitMemory;
  } else {
    std::memcpy(blockMem.GetPtr(), block.data(), block.size());
    if (!x.pieces.empty() && !plugin.CutPieces(blockMem, source)) {
      // A cut the host's abort stopped.
      const u16 e = plugin.HostCancel() ? 0 : plugin.GetError();
      message = e ? "cannot export the pieces: the layout could not be cut (" + std::string(KLF_ErrorText(e)) + ")"
                  : "cancelled (-128) while the pieces were cut for the export";
      code = !e ? CKLT_HostRunner::kExitCancelled
                : e == klErrNoMemory ? CKLT_HostRunner::kExitMemory : CKLT_HostRunner::kExitFiles;
    } else if (x.pieces.empty() && !plugin.PrepareCompositeAlpha(0)) {
      const bool memory = plugin.GetError() == klErrNoMemory;
      message = memory ? "cannot export the knives: out of memory"
                       : "cannot export the knives: the filtered area is empty";
      code = memory ? CKLT_HostRunner::kExitMemory : CKLT_HostRunner::kExitFiles;
    }
    if (code < 0 && !x.pieces.empty()) code = Pieces(plugin, o, err, message, placed);
    if (code < 0 && !x.knives.empty()) code = Knives(plugin, block, o, err, message, placed);
  }
  plugin.GetEngine().FreeSpliting();
  // The plug-in's own run starts afresh, its abort polls counted anew.
  host.ResetRun();
  host.ClearObservations();
  return code;
}
