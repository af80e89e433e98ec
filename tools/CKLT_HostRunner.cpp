#include "CKLT_HostRunner.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "CKLT_FilterHost.h"
#include "CKLT_HostDocument.h"
#include "CKLT_PluginLibrary.h"
#include "CKLT_SettingsSource.h"

namespace {

bool ParseInt(const std::string& s, int64_t low, int64_t high, int64_t& out) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(s.c_str(), &end, 10);
  if (errno || *end || v < low || v > high) return false;
  out = v;
  return true;
}

bool ParseColour(std::string s, uint8_t rgb[3]) {
  if (!s.empty() && s[0] == '#') s.erase(0, 1);
  if (s.size() != 6) return false;
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    std::string part = s.substr(2 * i, 2);
    long v = std::strtol(part.c_str(), &end, 16);
    if (*end) return false;
    rgb[i] = static_cast<uint8_t>(v);
  }
  return true;
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

bool ReadFile(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

// A progress bar on a terminal, redrawn only when the percent changes. A
// log or a pipe gets a plain line at each quarter passed instead.
struct ProgressBar {
  FILE* out = nullptr;
  bool terminal = false;
  int last = -1;
  int quarter = 0;
  void SetOutput(FILE* f) {
    out = f;
    terminal = f && isatty(fileno(f));
  }
  void Show(int32_t done, int32_t total) {
    if (!out || total <= 0) return;
    int pct = static_cast<int>(static_cast<int64_t>(done) * 100 / total);
    pct = pct < 0 ? 0 : pct > 100 ? 100 : pct;
    if (!terminal) {
      if (pct / 25 <= quarter) return;
      quarter = pct / 25;
      std::fprintf(out, "tessarette-host: %d%%\n", pct);
      std::fflush(out);
      return;
    }
    if (pct == last) return;
    last = pct;
    char bar[41];
    int fill = pct * 40 / 100;
    for (int i = 0; i < 40; ++i) bar[i] = i < fill ? '#' : '.';
    bar[40] = 0;
    std::fprintf(out, "\r[%s] %3d%%", bar, pct);
    std::fflush(out);
  }
  void End() {
    if (terminal && last >= 0) std::fprintf(out, "\n");
  }
};

}  // namespace

const char* CKLT_HostRunner::Usage() {
  return "Usage: tessarette-host [options] INPUT [-o OUTPUT]\n"
         "\n"
         "Runs the Tessarette filter plug-in on an image file the way an image host\n"
         "does: the plug-in is loaded as a shared library, gets the document's planes\n"
         "in bands and writes its result back; the result is saved as PNG or PSD.\n"
         "\n"
         "INPUT is a PNG or PSD file (layers and transparency are kept). Without\n"
         "--dialog the plug-in replays a layout without its dialog: it cuts the image\n"
         "into pieces, renders their effects (a bevel by default) and writes the\n"
         "puzzle back, or in Layout mode draws the knives alone. The layout comes\n"
         "from --settings, else from a recorded --script, else it is the default\n"
         "layout for the document (the grid of --grid, or one of near-square pieces\n"
         "with two rows or two columns), handed over in the scripting descriptor as\n"
         "a recorded action would be.\n"
         "\n"
         "Options:\n"
         "  -o, --output FILE      write the result (.png flattened, .psd layered)\n"
         "  --settings FILE        replay this settings file: a saved document (.klpd)\n"
         "                         or a block as the plug-in keeps it in \"last.data\"\n"
         "  --grid CxR             the default layout with C columns and R rows (1..101)\n"
         "  --layout-mode          draw the knives alone, in the foreground colour over\n"
         "                         transparency (or over the background colour)\n"
         "  --last                 hand no settings: the plug-in replays its own last\n"
         "                         settings (\"last.data\" beside it), or cancels\n"
         "  --save-settings FILE   also save the settings handed over as a document\n"
         "  --dialog               ask for the plug-in's dialog (Parameters, then Start)\n"
         "  --about                show the plug-in's About box and stop\n"
         "  --script FILE          the scripting descriptor: played when the file exists,\n"
         "                         recorded there after the run (as an action does)\n"
         "  --selection FILE       a selection mask image (PNG/PSD, the document's size)\n"
         "  --layer N              filter layer N (0 = bottom); default: the top layer\n"
         "  --lock-transparency    the layer's transparency may not be changed\n"
         "  --no-filter-case       behave as a host that gives no filter case\n"
         "  --mode gray|rgb|cmyk   convert the document first\n"
         "  --fg RRGGBB, --bg RRGGBB  foreground and background colours (RGB hex)\n"
         "  --dpi N                resolution in pixels per inch\n"
         "  --max-space BYTES      the memory the plug-in may ask for at once\n"
         "  --cancel-after N       answer \"cancel\" from the (N+1)-th abort poll on\n"
         "  --plugin FILE          the plug-in library (default: beside this program,\n"
         "                         or $TESSARETTE_PLUGIN)\n"
         "  -q, --quiet            no progress (a bar on a terminal, else a line at\n"
         "                         each quarter on standard error)\n"
         "  -h, --help             this text\n"
         "\n"
         "Exit codes: 0 done; 1 cancelled (-128); 2 out of memory (-108);\n"
         "3 bad parameters (-30100); 4 unsupported image mode or filter case (-30101);\n"
         "5 another result of the plug-in; 10 a file could not be read or written;\n"
         "64 bad command line.\n";
}

int CKLT_HostRunner::ParseArgs(const std::vector<std::string>& args, Options& o, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) -> bool {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string v;
    int64_t n = 0;
    if (a == "-h" || a == "--help") return 1;
    if (a == "-o" || a == "--output") {
      if (!value(o.output)) return -1;
    } else if (a == "--dialog") {
      o.dialog = true;
    } else if (a == "--about") {
      o.about = true;
    } else if (a == "--script") {
      if (!value(o.script)) return -1;
    } else if (a == "--settings") {
      if (!value(o.settings)) return -1;
    } else if (a == "--save-settings") {
      if (!value(o.saveSettings)) return -1;
    } else if (a == "--grid") {
      if (!value(v)) return -1;
      size_t x = v.find_first_of("xX");
      int64_t c = 0, r = 0;
      if (x == std::string::npos || !ParseInt(v.substr(0, x), 1, 101, c) || !ParseInt(v.substr(x + 1), 1, 101, r))
        return error = "bad --grid " + v + " (columns x rows, 1..101 each)", -1;
      o.columns = static_cast<int>(c);
      o.rows = static_cast<int>(r);
    } else if (a == "--layout-mode") {
      o.layoutMode = true;
    } else if (a == "--last") {
      o.last = true;
    } else if (a == "--selection") {
      if (!value(o.selection)) return -1;
    } else if (a == "--plugin") {
      if (!value(o.plugin)) return -1;
    } else if (a == "--lock-transparency") {
      o.lockTransparency = true;
    } else if (a == "--no-filter-case") {
      o.noFilterCase = true;
    } else if (a == "-q" || a == "--quiet") {
      o.quiet = true;
    } else if (a == "--layer") {
      if (!value(v) || !ParseInt(v, 0, 32767, n)) return error.empty() ? (error = "bad --layer " + v, -1) : -1;
      o.layer = static_cast<int>(n);
    } else if (a == "--mode") {
      if (!value(v)) return -1;
      if (v == "gray" || v == "grey")
        o.mode = klpModeGray;
      else if (v == "rgb")
        o.mode = klpModeRGB;
      else if (v == "cmyk")
        o.mode = klpModeCMYK;
      else
        return error = "bad --mode " + v, -1;
    } else if (a == "--fg" || a == "--bg") {
      if (!value(v)) return -1;
      if (!ParseColour(v, a == "--fg" ? o.fore : o.back)) return error = "bad colour " + v, -1;
    } else if (a == "--dpi") {
      if (!value(v) || !ParseInt(v, 1, 100000, n)) return error.empty() ? (error = "bad --dpi " + v, -1) : -1;
      o.dpi = static_cast<double>(n);
    } else if (a == "--max-space") {
      if (!value(v) || !ParseInt(v, 0, 0x7FFFFFFF, n))
        return error.empty() ? (error = "bad --max-space " + v, -1) : -1;
      o.maxSpace = static_cast<int32_t>(n);
    } else if (a == "--cancel-after") {
      if (!value(v) || !ParseInt(v, 0, INT64_MAX, n))
        return error.empty() ? (error = "bad --cancel-after " + v, -1) : -1;
      o.cancelAfter = n;
    } else if (!a.empty() && a[0] == '-') {
      error = "unknown option " + a;
      return -1;
    } else if (o.input.empty()) {
      o.input = a;
    } else {
      error = "more than one input file: " + a;
      return -1;
    }
  }
  if (o.input.empty() && !o.about) {
    error = "no input file";
    return -1;
  }
  if (o.last && (!o.settings.empty() || o.columns > 0 || o.layoutMode)) {
    error = "--last hands no settings: it goes with neither --settings, --grid nor --layout-mode";
    return -1;
  }
  if (!o.settings.empty() && (o.columns > 0 || o.layoutMode)) {
    error = "--settings carries its own layout: it goes with neither --grid nor --layout-mode";
    return -1;
  }
  return 0;
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

int CKLT_HostRunner::Run(const Options& o, FILE* progressOut, std::string& message) {
  m_lastResult = 0;
  CKLT_HostDocument doc;
  CKLT_FilterHost host;
  std::string error;
  if (!o.input.empty()) {
    if (!doc.Read(o.input, error)) {
      message = error;
      return kExitFiles;
    }
    if (o.mode >= 0) doc.ConvertTo(o.mode);
    if (o.dpi > 0) doc.resolution = o.dpi;
    if (doc.layers.empty()) {
      message = o.input + " holds no layer";
      return kExitFiles;
    }
    size_t target = o.layer < 0 ? doc.layers.size() - 1 : static_cast<size_t>(o.layer);
    if (target >= doc.layers.size()) {
      message = "there is no layer " + std::to_string(o.layer) + " (the document has " +
                std::to_string(doc.layers.size()) + ")";
      return kExitUsage;
    }
    CKLT_HostDocument::Layer& layer = doc.layers[target];
    bool transparency = doc.LayerHasTransparency(layer);
    host.SetDocument(doc.mode, doc.width, doc.height, transparency);
    std::vector<std::vector<uint8_t>> planes;
    std::vector<uint8_t> alpha;
    doc.LayerToCanvas(layer, planes, alpha);
    for (int c = 0; c < doc.ColourPlanes(); ++c) host.Plane(c) = planes[c];
    if (transparency) host.Plane(doc.ColourPlanes()) = alpha;
    host.LockTransparency(o.lockTransparency);
    if (o.noFilterCase) host.ForceFilterCase(klpCaseUnsupported);
    if (!o.selection.empty()) {
      CKLT_HostDocument sel;
      if (!sel.Read(o.selection, error)) {
        message = "selection: " + error;
        return kExitFiles;
      }
      if (sel.width != doc.width || sel.height != doc.height) {
        message = "the selection must have the document's size";
        return kExitUsage;
      }
      sel.ConvertTo(klpModeGray);
      std::vector<std::vector<uint8_t>> sp;
      std::vector<uint8_t> sa;
      sel.Flatten(sp, sa);
      // White and opaque is selected.
      for (size_t i = 0; i < sa.size(); ++i) sp[0][i] = static_cast<uint8_t>(sp[0][i] * sa[i] / 255);
      if (!host.SetSelection(sp[0])) {
        message = "the selection is empty";
        return kExitUsage;
      }
    }
    uint8_t fore[4], back[4];
    ToDocument(doc.mode, o.fore, fore);
    ToDocument(doc.mode, o.back, back);
    host.SetColours(fore, back);
    host.SetResolution(doc.resolution, doc.resolution);
    host.SetChannelNames(ChannelNames(doc.mode), true);
    for (size_t i = 0; i < doc.layers.size(); ++i) {
      CKLT_FilterHost::Layer hl;
      hl.id = static_cast<int32_t>(i + 1);
      hl.name = doc.layers[i].name;
      const auto& dl = doc.layers[i];
      int32_t l = dl.left < 0 ? 0 : dl.left, t = dl.top < 0 ? 0 : dl.top;
      int32_t r = dl.left + dl.width > doc.width ? doc.width : dl.left + dl.width;
      int32_t b = dl.top + dl.height > doc.height ? doc.height : dl.top + dl.height;
      hl.bounds = r > l && b > t ? KLP_Rect32{l, t, r, b} : KLP_Rect32{0, 0, 0, 0};
      doc.LayerToCanvas(dl, hl.planes, hl.transparency);
      host.AddLayer(hl);
    }
    doc.Flatten(planes, alpha);
    host.SetMergedComposite(planes, alpha);
  } else {
    host.SetDocument(klpModeRGB, 1, 1, false);
  }
  host.SetMaxSpace(o.maxSpace);
  host.CancelAfterPolls(o.cancelAfter);

  if (!o.script.empty()) {
    std::vector<uint8_t> bytes;
    if (ReadFile(o.script, bytes) && !bytes.empty()) {
      std::vector<CKLT_FilterHost::DescRecord> records;
      if (!CKLT_FilterHost::DecodeDescriptor(bytes.data(), bytes.size(), records)) {
        message = o.script + " is not a scripting descriptor file";
        return kExitFiles;
      }
      host.SetDescriptor(records);
    }
  }

  // The settings of a replay, handed over in the descriptor. A recorded
  // script that was played is left as it is.
  if (!o.dialog && !o.about && !o.last && (!o.settings.empty() || !host.HasDescriptor())) {
    std::vector<uint8_t> block;
    bool ok = o.settings.empty()
                  ? CKLT_SettingsSource::DefaultBlock(host.Width(), host.Height(), o.columns, o.rows, o.layoutMode,
                                                      block, error)
                  : CKLT_SettingsSource::ReadFile(o.settings, host.Width(), host.Height(), block, error);
    if (!ok) {
      message = error;
      return kExitFiles;
    }
    if (!CKLT_SettingsSource::Record(host, block, error)) {
      message = error;
      return kExitFiles;
    }
    if (!o.saveSettings.empty() && !CKLT_SettingsSource::WriteDocument(o.saveSettings, block, error)) {
      message = error;
      return kExitFiles;
    }
  }

  CKLT_PluginLibrary library;
  std::string path = o.plugin.empty() ? CKLT_PluginLibrary::DefaultPath() : o.plugin;
  if (!library.Load(path, error)) {
    message = error;
    return kExitFiles;
  }
  ProgressBar bar;
  bar.SetOutput(o.quiet ? nullptr : progressOut);
  host.SetProgressSink([&bar](int32_t done, int32_t total) { bar.Show(done, total); });

  int16_t result = o.about ? host.Call(library.Entry(), klpSelectorAbout) : host.RunFilter(library.Entry(), o.dialog);
  bar.End();
  // The plug-in goes before the host whose callbacks it may still hold.
  library.Unload();
  m_lastResult = result;
  message = MessageFor(result);
  if (result == klpResUserCanceled && (o.dialog || o.about))
    message = "the plug-in's dialog is not available yet in this build; " + message;

  if (!o.script.empty() && host.HasDescriptor() && !o.about) {
    if (!WriteFile(o.script, CKLT_FilterHost::EncodeDescriptor(host.Descriptor()))) {
      message = "cannot write " + o.script;
      return kExitFiles;
    }
  }
  if (result != klpResNoErr || o.about) return ExitCodeFor(result);

  if (!o.output.empty()) {
    size_t target = o.layer < 0 ? doc.layers.size() - 1 : static_cast<size_t>(o.layer);
    CKLT_HostDocument::Layer& layer = doc.layers[target];
    std::vector<std::vector<uint8_t>> planes(doc.ColourPlanes());
    for (int c = 0; c < doc.ColourPlanes(); ++c) planes[c] = host.Plane(c);
    std::vector<uint8_t> alpha;
    if (host.HasTransparency()) alpha = host.Plane(doc.ColourPlanes());
    doc.CanvasToLayer(layer, planes, alpha);
    if (!doc.Write(o.output, error)) {
      message = error;
      return kExitFiles;
    }
    message = "done: wrote " + o.output;
  }
  return kExitOk;
}
