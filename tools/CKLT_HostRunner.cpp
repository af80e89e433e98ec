#include "CKLT_HostRunner.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <new>
#include <stdexcept>
#include <tuple>

#include "CExportRun.h"
#include "CKLP_ReplaceFile.h"
#include "CKLP_UIPlatform.h"
#include "CKLT_FileAccess.h"
#include "CKLT_PieceCount.h"
#include "CKLT_PluginLibrary.h"
#include "CKLT_ProgressBar.h"
#include "CKLT_SettingsSource.h"
#include "CTessarette.h"
#include "KLF_Parallel.h"

namespace {

typedef CKLT_HostDocument Doc;

// The colour chooser of a dialog run: the display the plug-in's windows
// are on, the module beside the plug-in (loaded already by the plug-in, so
// the same platform answers); none without a display.
std::function<CKLP_UIPlatform*()> DisplayChooser(const std::string& pluginPath) {
  const size_t slash = pluginPath.rfind('/');
  const std::string module =
      (slash == std::string::npos ? std::string(".") : pluginPath.substr(0, slash)) + "/" KLP_DISPLAY_MODULE_FILE;
  return [module]() { return KLP_DisplayNamed() ? KLP_LoadDisplayModule(module.c_str()) : nullptr; };
}

int16_t SpaceOf(int16_t mode) {
  return mode == klpModeRGB ? klpSpaceRGB : mode == klpModeCMYK ? klpSpaceCMYK : klpSpaceGray;
}

void ToDocument(int16_t mode, const uint8_t rgb[3], uint8_t out[4]) {
  int16_t in[4] = {rgb[0], rgb[1], rgb[2], 0}, res[4] = {0, 0, 0, 0};
  CKLT_FilterHost::ConvertColour(klpSpaceRGB, in, SpaceOf(mode), res);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(res[i]);
}

std::vector<std::string> ChannelNames(int16_t mode) {
  if (mode == klpModeRGB) return {"Red", "Green", "Blue"};
  if (mode == klpModeCMYK) return {"Cyan", "Magenta", "Yellow", "Black"};
  return {"Gray"};
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

bool EndsWithPSD(const std::string& path) {
  return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".psd") == 0;
}

// The file an export writes for a chosen path; false without memory for it.
bool ExportPath(const std::string& path, std::string& out) {
  CKLF_String safe;
  if (!CExportRun::SafePath(path.c_str(), safe)) return false;
  out = safe.GetStr();
  return true;
}

struct IdentityLess {
  bool operator()(const CKLT_FileAccess::Identity& a, const CKLT_FileAccess::Identity& b) const {
    return std::tie(a.device, a.inode, a.name) < std::tie(b.device, b.inode, b.name);
  }
};

const char* ReadAs(const std::string& option) {
  return option == "INPUT" ? "the input document" : option == "--selection" ? "the --selection mask"
                                                                            : "the --settings file read";
}

}  // namespace

bool CKLT_HostRunner::Targets(const CKLT_HostOptions& o, std::vector<NamedFile>& t) {
  t.clear();
  if (!o.output.empty()) t.push_back({"-o", o.output, false});
  if (!o.saveSettings.empty()) t.push_back({"--save-settings", o.saveSettings, true});
  if (!o.script.empty()) t.push_back({"--script", o.script, true});
  const CKLT_HostExport::Options& x = o.exports;
  std::string path;
  if (EndsWithPSD(x.pieces)) {
    if (!ExportPath(x.pieces, path)) return false;
    t.push_back({"--export-pieces", path, true});
  }
  if (!x.knives.empty()) {
    if (!ExportPath(x.knives, path)) return false;
    t.push_back({"--export-knives", path, true});
  }
  return true;
}

std::vector<CKLT_HostRunner::NamedFile> CKLT_HostRunner::Reads(const CKLT_HostOptions& o) {
  std::vector<NamedFile> r;
  if (!o.input.empty()) r.push_back({"INPUT", o.input, false});
  if (!o.selection.empty()) r.push_back({"--selection", o.selection, false});
  if (!o.settings.empty()) r.push_back({"--settings", o.settings, false});
  return r;
}

bool CKLT_HostRunner::CheckTargets(const std::vector<NamedFile>& targets, const std::vector<NamedFile>& reads,
                                   std::string& message) {
  std::string reason;
  for (const NamedFile& t : targets)
    if (!CKLT_FileAccess::Replaceable(t.path, reason))
      return message = std::string(t.option) + " " + t.path + " " + reason, false;
  // A name whose folder cannot be looked at is left to the write checks.
  std::map<CKLT_FileAccess::Identity, const NamedFile*, IdentityLess> read, written;
  CKLT_FileAccess::Identity id;
  for (const NamedFile& r : reads)
    if (CKLT_FileAccess::Identify(r.path, id)) read.emplace(id, &r);
  for (const NamedFile& t : targets) {
    if (!CKLT_FileAccess::Identify(t.path, id)) continue;
    const auto was = written.emplace(id, &t);
    if (!was.second) {
      const NamedFile& a = *was.first->second;
      message = std::string(a.option) + " " + a.path;
      message += a.option == t.option ? " and " + t.path : " and " + std::string(t.option) + " " + t.path;
      message += " are one file: one would be lost";
      return false;
    }
    // -o may replace the input, never another file the run reads.
    const auto r = read.find(id);
    if (r != read.end() && (t.side || std::string(r->second->option) != "INPUT"))
      return message = std::string(t.option) + " " + t.path + " is " + ReadAs(r->second->option) +
                       ": it would be replaced",
             false;
  }
  return true;
}

bool CKLT_HostRunner::CheckReads(const std::vector<NamedFile>& reads, std::string& message) {
  // Looked at before opening: a FIFO would wait for a writer.
  std::string reason;
  for (const NamedFile& r : reads)
    if (!CKLT_FileAccess::RegularOrAbsent(r.path, reason))
      return message = std::string(r.option) + " " + r.path + " " + reason + ": only a regular file is read", false;
  return true;
}

int CKLT_HostRunner::ExitCodeFor(int16_t result) {
  switch (result) {
    case klpResNoErr: return kExitOk;
    case klpResUserCanceled: return kExitCancelled;
    case klpResMemFull: return kExitMemory;
    case klpResBadParameters: return kExitBadParameters;
    case klpResBadMode: return kExitBadMode;
    default: return kExitOtherResult;
  }
}

std::string CKLT_HostRunner::MessageFor(int16_t result) {
  switch (result) {
    case klpResNoErr: return "done";
    case klpResUserCanceled: return "cancelled (-128): the document is unchanged";
    case klpResMemFull: return "the plug-in ran out of memory (-108)";
    case klpResBadParameters: return "the plug-in reported bad parameters (-30100)";
    case klpResBadMode: return "the plug-in does not support this image mode or filter case (-30101)";
    default: return "the plug-in returned " + std::to_string(result);
  }
}

uint64_t CKLT_HostRunner::OwnBytes(uint32_t threads) {
  return (uint64_t(8) << 20) + KLF_Parallel::Resolve(threads) * (uint64_t(16) << 10);
}

void CKLT_HostRunner::i_Note(const std::string& text) const {
  std::fprintf(m_err, "tessarette-host: note: %s\n", text.c_str());
  std::fflush(m_err);
}

int CKLT_HostRunner::Main(int argc, const char* const* argv, FILE* out, FILE* err) {
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    CKLT_HostOptions options;
    std::string error;
    const int parsed = CKLT_HostOptions::Parse(args, options, error);
    if (parsed == 1) {
      std::fputs(CKLT_HostOptions::Usage().c_str(), out);
      return kExitOk;
    }
    if (parsed < 0) {
      std::fprintf(err, "tessarette-host: %s (see --help)\n", error.c_str());
      return kExitUsage;
    }
    CKLT_HostRunner runner;
    std::string message;
    const int code = runner.Run(options, err, message);
    std::fprintf(code == kExitOk ? out : err, "tessarette-host: %s\n", message.c_str());
    return code;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  } catch (const std::exception& e) {
    std::fprintf(err, "tessarette-host: internal error: %s\n", e.what());
    return kExitInternal;
  }
  std::fprintf(err, "tessarette-host: out of memory: the document needs more memory than the machine can give\n");
  return kExitMemory;
}

int CKLT_HostRunner::Run(const CKLT_HostOptions& options, FILE* err, std::string& message) {
  m_options = &options;
  m_err = err;
  m_doc = CKLT_HostDocument();
  m_host.reset(new CKLT_FilterHost);
  m_scriptPlayed = m_targetOffCanvas = m_scriptDamaged = m_counted = m_countRan = m_handedAsFile = false;
  m_block.clear();
  m_placed.clear();
  m_lastResult = 0;
  typedef int (CKLT_HostRunner::*Step)(std::string&);
  static const struct {
    Step step;
    const char* name;
  } steps[] = {{&CKLT_HostRunner::i_CheckFiles, "check"},      {&CKLT_HostRunner::i_LoadDocument, "read"},
               {&CKLT_HostRunner::i_ChooseLayer, "layer"},     {&CKLT_HostRunner::i_ServeDocument, "serve"},
               {&CKLT_HostRunner::i_HandSettings, "settings"}, {&CKLT_HostRunner::i_Export, "export"},
               {&CKLT_HostRunner::i_SaveSettings, "save"},
               {&CKLT_HostRunner::i_RunPlugin, "plug-in"},     {&CKLT_HostRunner::i_CountPieces, "pieces"},
               {&CKLT_HostRunner::i_WriteOutput, "write"}};
  for (const auto& s : steps) {
    const auto start = std::chrono::steady_clock::now();
    const int code = (this->*s.step)(message);
    if (options.timings)
      std::fprintf(err, "tessarette-host: time: %-8s %8.3f s\n", s.name,
                   std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (code == kGoOn) continue;
    if (code != kExitOk && !m_placed.empty())
      message += " (already put in place by this run, and kept: " + CKLT_HostOptions::Listed(m_placed) + ")";
    return code;
  }
  return kExitOk;
}

// Every file the run will write, and the script it may play, before
// anything is read or run.
int CKLT_HostRunner::i_CheckFiles(std::string& message) {
  const CKLT_HostOptions& o = *m_options;
  std::string reason;
  std::vector<NamedFile> targets;
  if (!Targets(o, targets)) return message = "out of memory: the export's names cannot be made", kExitMemory;
  // The names of PNG pieces are checked as the export makes them; the
  // name given is looked at now.
  const std::string& pieces = o.exports.pieces;
  if (!pieces.empty() && !EndsWithPSD(pieces) && !CKLT_FileAccess::RegularOrAbsent(pieces, reason))
    return message = "--export-pieces " + pieces + " " + reason + ": only a regular file is replaced", kExitUsage;
  if (!CheckTargets(targets, Reads(o), message) || !CheckReads(Reads(o), message)) return kExitUsage;
  // The plug-in too: a FIFO would wait for a writer, and what one writes
  // is no library.
  const char* const variable = std::getenv("TESSARETTE_PLUGIN");
  const char* const named = !o.plugin.empty() ? "--plugin" : variable && *variable ? "TESSARETTE_PLUGIN" : "the plug-in";
  if (!CheckReads({{named, i_PluginPath(), false}}, message))
    return kExitUsage;
  if (const int code = CKLT_HostExport::Check(o, reason); code >= 0) return message = reason, code;
  // The windows need a display: refused before anything is read.
  if ((o.dialog || o.about) && !KLP_DisplayNamed())
    return message = std::string(o.about ? "--about" : "--dialog") +
                     " opens the plug-in's window, which needs a display: DISPLAY or WAYLAND_DISPLAY is not set",
           kExitNoDisplay;
  if (!o.output.empty() && !Doc::CanWrite(o.output, klpModeRGB, 0, 0, reason))
    return message = "cannot write " + o.output + ": " + reason, kExitUsage;
  for (const std::string* path : {&o.output, &o.saveSettings, &o.script})
    if (!path->empty() && !CKLT_FileAccess::CanWrite(*path, reason))
      return message = "cannot write " + *path + ": " + reason, kExitFiles;
  if (o.script.empty() || !CKLT_FileAccess::Exists(o.script)) return i_CheckRecording(message);
  std::vector<uint8_t> bytes;
  if (!CKLT_FileAccess::ReadAll(o.script, bytes, reason))
    return message = "cannot read " + o.script + ": " + reason, kExitFiles;
  if (!bytes.empty() && !CKLT_FilterHost::DecodeDescriptor(bytes.data(), bytes.size(), m_script))
    return message = o.script + " is not a scripting descriptor file", kExitFiles;
  m_scriptPlayed = !bytes.empty();
  if (m_scriptPlayed && (o.columns > 0 || o.layoutMode || o.shape.Any()))
    return message =
               "--grid, --layout-mode and the layout shaping options lay a new layout: they do not go with a "
               "--script that is played (" +
               o.script + " exists)",
           kExitUsage;
  return i_CheckRecording(message);
}

// A replay of the plug-in's "last.data" hands no settings and gets none
// back: a script that is not played would record nothing.
int CKLT_HostRunner::i_CheckRecording(std::string& message) const {
  const CKLT_HostOptions& o = *m_options;
  if (!o.last || o.script.empty() || m_scriptPlayed) return kGoOn;
  return message = "--last hands the plug-in no settings and gets none back: --script " + o.script +
                   ", which holds no settings to play, would record none",
         kExitUsage;
}

int CKLT_HostRunner::i_LoadDocument(std::string& message) {
  const CKLT_HostOptions& o = *m_options;
  if (o.about) return kGoOn;
  m_doc.threads = o.threads;
  m_doc.runMode = o.mode;
  m_doc.runSelection = !o.selection.empty();
  m_doc.ownBytes = OwnBytes(o.threads);
  const Doc::Status s = m_doc.ReadFile(o.input, o.Budget(), message);
  if (s != Doc::kOk) return s == Doc::kNoMemory ? kExitMemory : kExitFiles;
  for (const std::string& note : m_doc.notes) i_Note(o.input + ": " + note);
  if (o.mode >= 0 && o.mode != m_doc.mode) {
    if (!m_doc.icc.empty()) i_Note("--mode: the document's colour profile no longer fits and is dropped");
    if (!m_doc.ConvertTo(o.mode)) return message = "--mode: the document cannot be converted", kExitUsage;
  }
  if (o.dpi > 0) {
    m_doc.resolution = o.dpi, m_doc.verticalResolution = 0;
    m_doc.pixelsPerMetre = m_doc.verticalPixelsPerMetre = 0;
  }
  m_doc.pngCompression = o.png;
  std::string reason;
  if (!Doc::CanWrite(o.output, m_doc.mode, m_doc.width, m_doc.height, reason))
    return message = "cannot write " + o.output + ": " + reason, kExitUsage;
  if (EndsWithPSD(o.output))
    for (const std::string& note : m_doc.PSDNameNotes()) i_Note(o.output + ": " + note);
  return kGoOn;
}

// The layer a host filters: the one asked for, else the topmost visible.
int CKLT_HostRunner::i_ChooseLayer(std::string& message) {
  const CKLT_HostOptions& o = *m_options;
  if (o.about) return kGoOn;
  const size_t count = m_doc.layers.size();
  if (o.layer >= 0 && static_cast<size_t>(o.layer) >= count)
    return message =
               "there is no layer " + std::to_string(o.layer) + " (the document has " + std::to_string(count) + ")",
           kExitUsage;
  if (o.layer >= 0) {
    m_target = static_cast<size_t>(o.layer);
    if (!m_doc.layers[m_target].visible)
      i_Note("layer " + std::to_string(o.layer) + " " + Quoted(m_doc.layers[m_target].name) +
             " is hidden; it is filtered as asked");
  } else {
    m_target = count - 1;
    while (m_target > 0 && !m_doc.layers[m_target].visible) --m_target;
    if (!m_doc.layers[m_target].visible) {
      m_target = count - 1;
      i_Note("no layer is visible; the top layer is filtered");
    }
  }
  const Doc::Layer& layer = m_doc.layers[m_target];
  m_targetOffCanvas = m_doc.LayerIsOffCanvas(layer);
  if (m_targetOffCanvas) i_Note("layer " + Quoted(layer.name) + " has no pixels on the canvas");
  return kGoOn;
}

int CKLT_HostRunner::i_ServeDocument(std::string& message) {
  const CKLT_HostOptions& o = *m_options;
  CKLT_FilterHost& host = *m_host;
  host.SetMaxSpace(o.maxSpace);
  host.SetThreads(static_cast<int32_t>(o.threads ? o.threads : KLF_Parallel::MachineThreads()));
  host.CancelAfterPolls(o.cancelAfter);
  if (o.about) return host.SetDocument(klpModeRGB, 1, 1, false) ? kGoOn : kExitInternal;
  const Doc::Layer& target = m_doc.layers[m_target];
  const int colours = m_doc.ColourPlanes();
  const bool transparency = m_doc.LayerHasTransparency(target);
  if (!host.SetDocument(m_doc.mode, m_doc.width, m_doc.height, transparency, false))
    return message = "the document cannot be served to the plug-in", kExitInternal;
  std::vector<std::vector<uint8_t>> planes;
  std::vector<uint8_t> alpha;
  // A layer over the whole canvas lends its planes as the document's; one
  // opaque such layer alone is its own merged composite, else the
  // composite is flattened while the layer still holds its planes.
  m_lent = m_doc.LayerCoversCanvas(target);
  const bool mergedIsDocument =
      m_lent && !transparency && m_doc.layers.size() == 1 && target.visible && target.opacity == 255;
  if (mergedIsDocument) {
    host.SetMergedIsDocument();
  } else {
    m_doc.Flatten(planes, alpha);
    host.SetMergedComposite(std::move(planes), std::move(alpha));
  }
  if (m_lent) {
    Doc::Layer& t = m_doc.layers[m_target];
    for (int c = 0; c < colours; ++c) host.Plane(c) = std::move(t.planes[c]);
    if (transparency) host.Plane(colours) = std::move(t.alpha);
  } else {
    m_doc.LayerToCanvas(target, planes, alpha);
    for (int c = 0; c < colours; ++c) host.Plane(c).swap(planes[c]);
    if (transparency) host.Plane(colours).swap(alpha);
  }
  host.LockTransparency(o.lockTransparency);
  if (o.noFilterCase) host.ForceFilterCase(klpCaseUnsupported);
  if (!o.selection.empty()) {
    const int code = i_ServeSelection(message);
    if (code != kGoOn) return code;
  }
  uint8_t fore[4], back[4];
  ToDocument(m_doc.mode, o.fore, fore);
  ToDocument(m_doc.mode, o.back, back);
  host.SetColours(fore, back);
  host.SetResolution(m_doc.resolution, m_doc.ResolutionDown());
  // Absolute channel numbers count the colours, the transparency, then
  // the document's alpha channels.
  std::vector<std::string> names = ChannelNames(m_doc.mode);
  if (transparency) names.push_back("Layer Transparency");
  for (Doc::Channel& channel : m_doc.channels)
    if (host.AddAlphaChannel(std::move(channel.plane))) names.push_back(channel.name);
  host.SetChannelNames(names, true);
  host.SetICCProfile(m_doc.icc);
  // The layers are lent to the host at their own sizes and taken back
  // after the run.
  for (size_t i = 0; i < m_doc.layers.size(); ++i) {
    Doc::Layer& dl = m_doc.layers[i];
    CKLT_FilterHost::Layer hl;
    hl.id = static_cast<int32_t>(i + 1);
    hl.name = dl.name;
    hl.rect = {dl.left, dl.top, dl.left + dl.width, dl.top + dl.height};
    const int32_t l = std::max(0, dl.left), t = std::max(0, dl.top);
    const int32_t r = std::min(m_doc.width, dl.left + dl.width), b = std::min(m_doc.height, dl.top + dl.height);
    hl.bounds = r > l && b > t ? KLP_Rect32{l, t, r, b} : KLP_Rect32{0, 0, 0, 0};
    hl.planes.swap(dl.planes);
    hl.transparency.swap(dl.alpha);
    hl.document = m_lent && i == m_target;
    host.AddLayer(std::move(hl));
  }
  return kGoOn;
}

int CKLT_HostRunner::i_ServeSelection(std::string& message) {
  const CKLT_HostOptions& o = *m_options;
  CKLT_HostDocument sel;
  sel.threads = o.threads;
  sel.requiredWidth = m_doc.width;
  sel.requiredHeight = m_doc.height;
  const Doc::Status s = sel.ReadFile(o.selection, o.Budget(), message);
  if (s != Doc::kOk && s != Doc::kOtherSize)
    return message = "selection: " + message, s == Doc::kNoMemory ? kExitMemory : kExitFiles;
  for (const std::string& note : sel.notes) i_Note(o.selection + ": " + note);
  if (sel.width != m_doc.width || sel.height != m_doc.height)
    return message = "the selection must have the document's size (" + std::to_string(m_doc.width) + " x " +
                     std::to_string(m_doc.height) + ")",
           kExitUsage;
  if (!sel.ConvertTo(klpModeGray)) return message = "the selection cannot be made grey", kExitInternal;
  std::vector<std::vector<uint8_t>> planes;
  std::vector<uint8_t> alpha;
  sel.Flatten(planes, alpha);
  // White and opaque is selected.
  for (size_t i = 0; i < alpha.size(); ++i) planes[0][i] = static_cast<uint8_t>(planes[0][i] * alpha[i] / 255);
  if (!m_host->SetSelection(planes[0])) return message = "the selection is empty", kExitUsage;
  return kGoOn;
}

// The settings of a replay, handed over in the descriptor: a played
// script as it is, else the settings file or the default layout of the
// filtered area.
int CKLT_HostRunner::i_HandSettings(std::string& message) {
  const CKLT_HostOptions& o = *m_options;
  CKLT_FilterHost& host = *m_host;
  if (m_scriptPlayed) host.SetDescriptor(m_script);
  if (o.dialog || o.about) return kGoOn;
  if (o.last) return i_CheckLastSettings(message);
  std::vector<uint8_t>& block = m_block;
  bool noMemory = false;
  if (m_scriptPlayed && o.settings.empty()) {
    if (!CKLT_SettingsSource::FromDescriptor(host, block, message, &noMemory))
      return message = o.script + ": " + message, noMemory ? kExitMemory : kExitFiles;
    // Said when the plug-in cancels: another plug-in may record other
    // values.
    m_scriptDamaged = CKLT_SettingsSource::CheckReplay(block) == CKLT_SettingsSource::kDamaged;
  } else {
    const KLP_Rect32 area = host.FilterRect();
    const int32_t w = area.right - area.left, h = area.bottom - area.top;
    if (!o.settings.empty() && !CKLT_SettingsSource::ReadFile(o.settings, w, h, block, message, &noMemory))
      return noMemory ? kExitMemory : kExitFiles;
    if (o.settings.empty() &&
        !CKLT_SettingsSource::DefaultBlock(w, h, o.columns, o.rows, o.layoutMode, block, message, &o.shape))
      return kExitMemory;
    const std::string margins = o.settings.empty() ? CKLT_LayoutShaper::MarginNote(o.shape, w, h) : "";
    if (!margins.empty()) i_Note(margins);
    bool tooLarge = false;
    if (!CKLT_SettingsSource::Record(host, block, message, &noMemory, &tooLarge)) {
      if (!tooLarge) return noMemory ? kExitMemory : kExitFiles;
      // A replay takes them from the plug-in's "last.data"; a script
      // cannot hold them.
      if (!o.script.empty())
        return message = "cannot record --script " + o.script + ": " + message +
                         " (a run without --script replays them)",
               kExitFiles;
      host.ClearDescriptor();
      m_handedAsFile = true;
    }
  }
  i_NoteUnusedColours(CKLT_SettingsSource::IsLayoutMode(block));
  return kGoOn;
}

// Saved once the export has named its files, none of which it may be.
int CKLT_HostRunner::i_SaveSettings(std::string& message) {
  const std::string& path = m_options->saveSettings;
  if (path.empty() || m_block.empty()) return kGoOn;
  if (CKLT_SettingsSource::WriteDocument(path, m_block, message)) {
    m_placed.push_back("--save-settings " + path);
    std::fprintf(m_err, "tessarette-host: saved the settings to %s\n", path.c_str());
    std::fflush(m_err);
    return kGoOn;
  }
  return errno == ENOMEM ? kExitMemory : kExitFiles;
}

// What --last replays: a played script's settings, else the plug-in's
// "last.data", which when there is one must be a block its replay takes.
int CKLT_HostRunner::i_CheckLastSettings(std::string& message) {
  std::vector<uint8_t> block;
  if (m_scriptPlayed && CKLT_SettingsSource::FromDescriptor(*m_host, block, message)) {
    m_scriptDamaged = CKLT_SettingsSource::CheckReplay(block) == CKLT_SettingsSource::kDamaged;
    return kGoOn;
  }
  const std::string path = CKLT_SettingsSource::LastDataPath(i_PluginPath());
  if (!CKLT_FileAccess::Exists(path)) return kGoOn;
  const KLP_Rect32 area = m_host->FilterRect();
  bool noMemory = false;
  if (CKLT_SettingsSource::ReadFile(path, area.right - area.left, area.bottom - area.top, block, message, &noMemory))
    return kGoOn;
  message = "--last: " + message;
  return noMemory ? kExitMemory : kExitFiles;
}

// The colours act on the knives of Layout mode, the background only where
// the layer's transparency cannot take what the plug-in leaves open.
void CKLT_HostRunner::i_NoteUnusedColours(bool layoutMode) const {
  const CKLT_HostOptions& o = *m_options;
  const bool editable = m_host->HasTransparency() && !o.lockTransparency;
  if (o.foreGiven && !layoutMode)
    i_Note("--fg colours the knives of Layout mode; these settings make a puzzle, which does not use it");
  if (o.backGiven && editable)
    i_Note("--bg is not used: the layer's transparency may be changed, so what the plug-in leaves open stays "
           "transparent");
}

// Knives that cross or touch cut more pieces, or fewer, than the layout
// has cells: said, with what keeps them apart, the layout kept as made.
int CKLT_HostRunner::i_CountPieces(std::string&) {
  if (m_countRan) i_NoteCounts(m_counted, m_counts, m_countError);
  return kGoOn;
}

// A replay's pieces are counted (the block is known and cut).
bool CKLT_HostRunner::i_CountWanted() const {
  return !m_block.empty() && !m_options->about && !m_options->dialog;
}

void CKLT_HostRunner::i_CountNow() {
  m_counted = i_Count(m_counts, m_countError);
  m_countRan = true;
}

// A cut that gives no piece, or more than the plug-in takes, is the
// settings' fault on this document, not a cancel: refused as bad
// parameters, the document unchanged.
bool CKLT_HostRunner::i_CutRefused(int16_t result, std::string& message) {
  const CKLT_HostOptions& o = *m_options;
  const bool hostCancelled = o.cancelAfter >= 0 && m_host->AbortPolls() > o.cancelAfter;
  if (!i_CountWanted() || (result != klpResNoErr && (result != klpResUserCanceled || hostCancelled))) return false;
  if (!m_countRan) i_CountNow();
  const KLP_Rect32 area = m_host->FilterRect();
  const std::string size = " from the filtered area (" + std::to_string(area.right - area.left) + " x " +
                           std::to_string(area.bottom - area.top) + " pixels)";
  if (result == klpResNoErr && m_counted && !m_counts.layoutMode && m_counts.pieces == 0)
    message = "the settings cut no piece" + size + ": their knives cover all of it; the document is unchanged";
  else if (result == klpResUserCanceled && m_counts.tooMany)
    message = "the settings cut more than " + std::to_string(CTessarette::kMaxPieces) + " pieces" + size +
              ", more than the plug-in takes; the document is unchanged";
  else
    return false;
  return true;
}

uint32_t CKLT_HostRunner::i_CountThreads() const {
  return m_options->threads ? m_options->threads : KLF_Parallel::MachineThreads();
}

bool CKLT_HostRunner::i_Count(CKLT_PieceCount::Counts& counts, std::string& error) const {
  const KLP_Rect32 area = m_host->FilterRect();
  return CKLT_PieceCount::Count(m_block, area.right - area.left, area.bottom - area.top, i_CountThreads(), counts,
                                error);
}

void CKLT_HostRunner::i_NoteCounts(bool counted, const CKLT_PieceCount::Counts& counts,
                                   const std::string& error) const {
  const CKLT_HostOptions& o = *m_options;
  if (!counted) return i_Note("the pieces could not be counted: " + error);
  if (counts.layoutMode || counts.pieces == counts.cells || counts.cells == 0) return;
  const KLP_Rect32 area = m_host->FilterRect();
  std::string note = "the cut gave " + std::to_string(counts.pieces) + " pieces where the layout has " +
                     std::to_string(counts.cells) + " cells: ";
  if (counts.cellsUnderKnives)
    return i_Note(note + "its cells are narrower than its knives on this area, which join them");
  note += counts.pieces > counts.cells ? "knives that cross, or meet at a narrow angle, cut slivers off"
                                       : "knives that touch or cross join cells";
  if (o.settings.empty() && !m_scriptPlayed)
    note += "; " + CKLT_LayoutShaper::Remedy(o.shape, area.right - area.left, area.bottom - area.top, counts.cellRatio);
  else
    note += " (the settings' knives are kept as they are)";
  i_Note(note);
}

// The export of pieces and knives, before the plug-in changes the document.
// An ending signal kept while its set was placed ends the run here, once
// the files are named.
int CKLT_HostRunner::i_Export(std::string& message) {
  const int code =
      CKLT_HostExport::Run(*m_host, *m_options, m_err, message, m_placed, m_handedAsFile ? &m_block : nullptr);
  const int signal = CKLP_ReplaceFile::PlacingTold();
  if (!signal) return code;
  message = std::string("interrupted (") + strsignal(signal) + ") while the exported files were put in place";
  return kExitSignal + signal;
}

int CKLT_HostRunner::i_RunPlugin(std::string& message) {
  const CKLT_HostOptions& o = *m_options;
  CKLT_FilterHost& host = *m_host;
  CKLT_PluginLibrary library;
  bool noMemory = false;
  std::string path = i_PluginPath();
  if (m_handedAsFile) {
    if (!m_folder.Make(path, m_block, message, &noMemory)) return noMemory ? kExitMemory : kExitFiles;
    path = m_folder.Plugin();
  }
  if (!library.Load(path, message, &noMemory)) {
    std::string left;
    if (m_handedAsFile) message += " (a copy that reads the settings from its folder)";
    if (!m_folder.Remove(&left)) message += "; " + left;
    return noMemory ? kExitMemory : kExitFiles;
  }
  CKLT_ProgressBar bar;
  bar.SetOutput(o.quiet ? nullptr : m_err, isatty(fileno(m_err)) != 0);
  host.SetProgressSink([&bar](int32_t done, int32_t total) { bar.Show(done, total); });
  if (o.dialog) host.SetColourChooser(DisplayChooser(i_PluginPath()));
  // With threads to spare, a replay's pieces are counted while it runs.
  // The plug-in runs on this thread (worker 0), whichever task it takes;
  // a helper counts. What either throws (a failed allocation) goes on once
  // both ended.
  int16_t result = 0;
  bool played = false;  // this thread's alone
  std::exception_ptr thrown[2];
  const auto play = [&] {
    played = true;
    try {
      result = o.about ? host.Call(library.Entry(), klpSelectorAbout) : host.RunFilter(library.Entry(), o.dialog);
    } catch (...) {
      thrown[0] = std::current_exception();
    }
  };
  if (i_CountWanted() && i_CountThreads() > 1)
    KLF_Parallel::ForEach(2, 2, [&](u32, u32 worker) noexcept {
      if (worker == 0 && !played) return play();
      try {
        if (!m_countRan) i_CountNow();
      } catch (...) {
        thrown[1] = std::current_exception();
      }
    });
  if (!played) play();
  for (const std::exception_ptr& e : thrown)
    if (e) std::rethrow_exception(e);
  host.SetColourChooser(nullptr);
  bar.End();
  host.SetProgressSink(nullptr);
  // The plug-in goes before the host whose callbacks it may still hold.
  library.Unload();
  std::string left;
  if (!m_folder.Remove(&left)) i_Note("the plug-in's folder for the settings stays: " + left);
  m_lastResult = result;
  // A run that failed after the host could not give the plug-in memory
  // failed for that, whatever the plug-in made of it.
  if (result != klpResNoErr && result != klpResMemFull && host.MemoryFailed())
    return message = "out of memory: the host could not give the plug-in memory it asked for (" + MessageFor(result) +
                     ")",
           kExitMemory;
  if (i_CutRefused(result, message)) return kExitBadParameters;
  if (result != klpResNoErr) return i_Explain(result, message);
  message = MessageFor(result);
  return o.about ? kExitOk : kGoOn;
}

int CKLT_HostRunner::i_Explain(int16_t result, std::string& message) const {
  const CKLT_HostOptions& o = *m_options;
  message = MessageFor(result);
  const KLP_Rect32 area = m_host->FilterRect();
  if (result == klpResBadParameters && o.maxSpace < area.right - area.left) {
    message = "too little memory: --max-space " + std::to_string(o.maxSpace) +
              " bytes cannot hold one row of the filtered area (" + std::to_string(area.right - area.left) + " pixels)";
    return kExitMemory;
  }
  if (result == klpResUserCanceled) {
    if (o.dialog)
      message = "cancelled (-128): the dialog was closed without applying; the document is unchanged";
    else if (m_targetOffCanvas)
      message = "cancelled (-128): layer " + Quoted(m_doc.layers[m_target].name) +
                " has no pixels on the canvas, so there was nothing to filter; the document is unchanged";
    else if (m_scriptDamaged)
      return message = o.script + " holds a damaged settings block: the plug-in cannot replay it; the document is "
                                  "unchanged",
             kExitFiles;
    else if (o.last)
      message += " (--last: the plug-in found no stored settings it could replay)";
  }
  return ExitCodeFor(result);
}

// The output, then the script (a run is recorded only once its result is
// kept).
int CKLT_HostRunner::i_WriteOutput(std::string& message) {
  const CKLT_HostOptions& o = *m_options;
  CKLT_FilterHost& host = *m_host;
  for (size_t i = 0; i < m_doc.layers.size(); ++i) {
    m_doc.layers[i].planes.swap(host.Layers()[i].planes);
    m_doc.layers[i].alpha.swap(host.Layers()[i].transparency);
  }
  const int colours = m_doc.ColourPlanes();
  Doc::Layer& target = m_doc.layers[m_target];
  if (m_lent) {
    // The lent planes come back as the layer, which keeps its bounds.
    for (int c = 0; c < colours; ++c) target.planes[c].swap(host.Plane(c));
    if (host.HasTransparency()) target.alpha.swap(host.Plane(colours));
    if (std::all_of(target.alpha.begin(), target.alpha.end(), [](uint8_t v) { return v == 255; })) target.alpha.clear();
  } else {
    std::vector<std::vector<uint8_t>> planes(static_cast<size_t>(colours));
    for (int c = 0; c < colours; ++c) planes[c].swap(host.Plane(c));
    std::vector<uint8_t> none;
    m_doc.PutBack(target, planes, host.HasTransparency() ? host.Plane(colours) : none);
  }
  std::string reason, note;
  bool noMemory = false;
  if (!m_doc.Write(o.output, reason, &noMemory, &note))
    return message = "cannot write " + o.output + ": " + (noMemory ? "out of memory" : reason),
           noMemory ? kExitMemory : kExitFiles;
  m_placed.push_back("-o " + o.output);
  if (!note.empty()) i_Note(o.output + ": " + note);
  if (!o.script.empty() && o.dialog &&
      (!host.HasDescriptor() || !CKLT_SettingsSource::HoldsSettings(host.Descriptor())))
    return i_RefuseEmptyScript(message);
  if (!o.script.empty() && host.DescriptorBroken())
    return message = "cannot write " + o.script + ": the plug-in handed back a scripting descriptor that cannot be read",
           kExitInternal;
  if (!o.script.empty() && host.HasDescriptor() &&
      !CKLP_ReplaceFile::WriteAll(o.script, CKLT_FilterHost::EncodeDescriptor(host.Descriptor()), reason)) {
    noMemory = errno == ENOMEM;
    return message = "cannot write " + o.script + ": " + (noMemory ? "out of memory" : reason),
           noMemory ? kExitMemory : kExitFiles;
  }
  message = "done: wrote " + o.output;
  return kExitOk;
}

// The dialog's settings reached no descriptor: a script would hold none,
// so it is not written. Why is found in the plug-in's "last.data", which
// holds them.
int CKLT_HostRunner::i_RefuseEmptyScript(std::string& message) const {
  const std::string& script = m_options->script;
  const std::string last = CKLT_SettingsSource::LastDataPath(i_PluginPath());
  std::vector<uint8_t> block;
  std::string reason;
  std::string why = "the plug-in handed back a scripting descriptor without settings";
  if (!CKLT_FileAccess::ReadAll(last, block, reason))
    why += " (and " + last + " cannot be read: " + reason + ")";
  else if (CKLT_SettingsSource::FitsDescriptor(block) == CKLT_SettingsSource::kTooLarge)
    why = CKLT_SettingsSource::TooLargeReason(block.size()) + "; --last or --settings " + last + " replays them";
  return message = "cannot record the run in --script " + script + ": " + why + "; " + script +
                   (m_scriptPlayed ? " is left as it was" : " is not written"),
         kExitFiles;
}

std::string CKLT_HostRunner::i_PluginPath() const {
  return m_options->plugin.empty() ? CKLT_PluginLibrary::DefaultPath() : m_options->plugin;
}
