#include "CKLT_HostOptions.h"

#include <strings.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "KLP_FilterHost.h"

namespace {

typedef CKLT_HostOptions O;

bool ParseInt(const char* s, int64_t low, int64_t high, int64_t& out) {
  uint64_t v = 0;
  if (low < 0 || !O::ParseNumber(s, static_cast<uint64_t>(low), static_cast<uint64_t>(high), v)) return false;
  out = static_cast<int64_t>(v);
  return true;
}

bool EndsWithPSD(const std::string& path) {
  return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".psd") == 0;
}

bool Bad(const char* option, const char* value, const char* expected, std::string& error) {
  error = std::string("bad ") + option + " " + value + " (" + expected + ")";
  return false;
}

bool TakeColour(const char* value, uint8_t rgb[3]) {
  if (*value == '#') ++value;
  if (std::strlen(value) != 6) return false;
  for (int i = 0; i < 6; ++i)
    if (!std::strchr("0123456789abcdefABCDEF", value[i])) return false;
  const unsigned long v = std::strtoul(value, nullptr, 16);
  for (int i = 0; i < 3; ++i) rgb[i] = static_cast<uint8_t>(v >> (16 - 8 * i));
  return true;
}

// Bytes with an optional K, M or G (binary multiples).
bool TakeSize(const char* value, uint64_t& out) {
  const size_t digits = std::strspn(value, "0123456789");
  unsigned shift = 0;
  if (value[digits]) {
    const char* units = "KMG";
    // A nul would find the list's end.
    const char* u = value[digits + 1] ? nullptr : std::strchr(units, value[digits] & ~0x20);
    if (!u || !*u) return false;
    shift = 10 * static_cast<unsigned>(u - units + 1);
  }
  uint64_t v = 0;
  if (!O::ParseNumber(std::string(value, digits).c_str(), 0, UINT64_MAX >> shift, v)) return false;
  out = v << shift;
  return true;
}

bool TakeGrid(O& o, const char* v, std::string& e) {
  const char* x = std::strpbrk(v, "xX");
  int64_t c = 0, r = 0;
  if (!x || !ParseInt(std::string(v, x).c_str(), 1, 101, c) || !ParseInt(x + 1, 1, 101, r))
    return Bad("--grid", v, "columns x rows, 1..101 each", e);
  o.columns = static_cast<int>(c);
  o.rows = static_cast<int>(r);
  return true;
}

bool TakeMode(O& o, const char* v, std::string& e) {
  const std::string m = v;
  if (m == "gray" || m == "grey")
    o.mode = klpModeGray;
  else if (m == "rgb")
    o.mode = klpModeRGB;
  else if (m == "cmyk")
    o.mode = klpModeCMYK;
  else
    return Bad("--mode", v, "gray, rgb or cmyk", e);
  return true;
}

bool TakeInt(const char* option, const char* v, int64_t low, int64_t high, int64_t& out, std::string& e) {
  if (ParseInt(v, low, high, out)) return true;
  return Bad(option, v, (std::to_string(low) + ".." + std::to_string(high)).c_str(), e);
}

// The index of value in a null-ended list of names.
bool TakeName(const char* value, const char* const* names, uint8_t& out) {
  for (uint8_t i = 0; names[i]; ++i)
    if (std::strcmp(value, names[i]) == 0) return out = i, true;
  return false;
}

const char* const kStrategies[] = {"default", "filtered", "rle", nullptr};
const char* const kFilters[] = {"none", "sub", "up", "average", "paeth", "adaptive", nullptr};

const O::OptionEntry kOptions[] = {
    {"--output", "-o", "FILE", "write the result: .png (flattened) or .psd (layered)",
     [](O& o, const char* v, std::string& e) { return O::TakeFileName("--output", v, o.output, e); }},
    {"--settings", nullptr, "FILE",
     "replay this settings file: a saved document (.klpd) or a block as the plug-in keeps it in \"last.data\"",
     [](O& o, const char* v, std::string& e) { return O::TakeFileName("--settings", v, o.settings, e); }},
    {"--grid", nullptr, "CxR",
     "the default layout with C columns and R rows (1..101); with the full knob, cells three times as long as "
     "wide or longer cut slivers on some pictures (see --random-knots)",
     TakeGrid},
    {"--layout-mode", nullptr, nullptr,
     "draw the knives alone, in the foreground colour over transparency (or over the background colour)",
     [](O& o, const char*, std::string&) { return o.layoutMode = true; }},
    {"--last", nullptr, nullptr,
     "hand no settings: the plug-in replays what its dialog stored in \"last.data\" beside it when the "
     "user applied (--dialog); with nothing stored the run is cancelled",
     [](O& o, const char*, std::string&) { return o.last = true; }},
    {"--save-settings", nullptr, "FILE", "also save the settings handed over as a document (.klpd)",
     [](O& o, const char* v, std::string& e) { return O::TakeFileName("--save-settings", v, o.saveSettings, e); }},
    {"--dialog", nullptr, nullptr,
     "ask for the plug-in's dialog (Parameters, then Start): its window opens on the display; OK writes the "
     "output, Cancel writes nothing. Needs a display (DISPLAY or WAYLAND_DISPLAY)",
     [](O& o, const char*, std::string&) { return o.dialog = true; }},
    {"--about", nullptr, nullptr, "show the plug-in's About window on the display and stop",
     [](O& o, const char*, std::string&) { return o.about = true; }},
    {"--script", nullptr, "FILE",
     "the scripting descriptor: played when the file exists, recorded there after a run that is not cancelled "
     "(as an action is); settings whose compressed block passes its 325000 bytes cannot be recorded (exit 10)",
     [](O& o, const char* v, std::string& e) { return O::TakeFileName("--script", v, o.script, e); }},
    {"--selection", nullptr, "FILE",
     "a selection mask image (PNG, PSD or JPEG of the document's size; white is selected)",
     [](O& o, const char* v, std::string& e) { return O::TakeFileName("--selection", v, o.selection, e); }},
    {"--layer", nullptr, "N", "filter layer N (0 = bottom); default: the topmost visible layer",
     [](O& o, const char* v, std::string& e) {
       int64_t n = 0;
       return TakeInt("--layer", v, 0, 32767, n, e) && (o.layer = static_cast<int>(n), true);
     }},
    {"--lock-transparency", nullptr, nullptr, "the layer's transparency may not be changed",
     [](O& o, const char*, std::string&) { return o.lockTransparency = true; }},
    {"--no-filter-case", nullptr, nullptr, "behave as a host that gives no filter case",
     [](O& o, const char*, std::string&) { return o.noFilterCase = true; }},
    {"--mode", nullptr, "gray|rgb|cmyk", "convert the document first (its colour profile is dropped)", TakeMode},
    {"--fg", nullptr, "RRGGBB", "the foreground colour: the knives' in Layout mode",
     [](O& o, const char* v, std::string& e) {
       return (TakeColour(v, o.fore) && (o.foreGiven = true)) || Bad("--fg", v, "RRGGBB, six hex digits", e);
     }},
    {"--bg", nullptr, "RRGGBB",
     "the background colour: behind the knives in Layout mode when the layer's transparency cannot be changed",
     [](O& o, const char* v, std::string& e) {
       return (TakeColour(v, o.back) && (o.backGiven = true)) || Bad("--bg", v, "RRGGBB, six hex digits", e);
     }},
    {"--dpi", nullptr, "N", "resolution in pixels per inch, across and down (default: the file's, else 72)",
     [](O& o, const char* v, std::string& e) {
       int64_t n = 0;
       return TakeInt("--dpi", v, 1, 100000, n, e) && (o.dpi = static_cast<double>(n), true);
     }},
    {"--max-space", nullptr, "BYTES", "the memory the plug-in may ask the host for at once",
     [](O& o, const char* v, std::string& e) {
       int64_t n = 0;
       return TakeInt("--max-space", v, 0, 0x7FFFFFFF, n, e) && (o.maxSpace = static_cast<int32_t>(n), true);
     }},
    {"--memory-budget", nullptr, "SIZE",
     "refuse documents whose run would need more at its peak, counting the document in the mode it is run in "
     "(--mode), its copies, the plug-in's work and this program's own memory (bytes, or with K, M or G; default: "
     "half the machine's memory)",
     [](O& o, const char* v, std::string& e) {
       return (TakeSize(v, o.memoryBudget) && o.memoryBudget > 0) ||
              Bad("--memory-budget", v, "bytes above 0, or with K, M or G, like 512M or 4G", e);
     }},
    {"--cancel-after", nullptr, "N", "answer \"cancel\" from the (N+1)-th abort poll on",
     [](O& o, const char* v, std::string& e) { return TakeInt("--cancel-after", v, 0, INT64_MAX, o.cancelAfter, e); }},
    {"--threads", nullptr, "N",
     "threads for the plug-in and the PNG writer (default: the machine's); the results do not depend on it",
     [](O& o, const char* v, std::string& e) {
       int64_t n = 0;
       return TakeInt("--threads", v, 1, 256, n, e) && (o.threads = static_cast<uint32_t>(n), true);
     }},
    {"--png-level", nullptr, "N",
     "zlib level of PNG output, 0..9 (default 6); under the run-length strategy only 0 (stored) differs",
     [](O& o, const char* v, std::string& e) {
       int64_t n = 0;
       return TakeInt("--png-level", v, 0, 9, n, e) &&
              (o.png.level = static_cast<uint8_t>(n), o.levelGiven = true, o.pngGiven = true);
     }},
    {"--png-strategy", nullptr, "NAME", "zlib strategy of PNG output: default, filtered or rle (default rle)",
     [](O& o, const char* v, std::string& e) {
       return (TakeName(v, kStrategies, o.png.strategy) && (o.strategyGiven = true, o.pngGiven = true)) ||
              Bad("--png-strategy", v, "default, filtered or rle", e);
     }},
    {"--png-filter", nullptr, "NAME",
     "row filter of PNG output: none, sub, up, average, paeth or adaptive (chosen per row; the default)",
     [](O& o, const char* v, std::string& e) {
       return (TakeName(v, kFilters, o.png.filter) && (o.pngGiven = true)) ||
              Bad("--png-filter", v, "none, sub, up, average, paeth or adaptive", e);
     }},
    {"--plugin", nullptr, "FILE", "the plug-in library (default: beside this program, or $TESSARETTE_PLUGIN)",
     [](O& o, const char* v, std::string& e) { return O::TakeFileName("--plugin", v, o.plugin, e); }},
    {"--quiet", "-q", nullptr, "no progress (a bar on a terminal, else a line at each quarter)",
     [](O& o, const char*, std::string&) { return o.quiet = true; }},
    {"--timings", nullptr, nullptr, "print the wall time of each step (read, plug-in, write...)",
     [](O& o, const char*, std::string&) { return o.timings = true; }},
    {"--help", "-h", nullptr, "this text", nullptr},
};

// The program's own table first; constant: set before any initialiser runs.
O::OptionTable g_tables = {kOptions, sizeof(kOptions) / sizeof(kOptions[0]), nullptr};
O::OptionTable* g_lastTable = &g_tables;

const O::OptionEntry* Find(const std::string& arg) {
  for (const O::OptionTable* t = &g_tables; t; t = t->next)
    for (size_t i = 0; i < t->count; ++i)
      if (arg == t->entries[i].name || (t->entries[i].shortName && arg == t->entries[i].shortName))
        return &t->entries[i];
  return nullptr;
}

}  // namespace

void CKLT_HostOptions::AddTable(OptionTable& table) {
  table.next = nullptr;
  g_lastTable->next = &table;
  g_lastTable = &table;
}

int CKLT_HostOptions::Parse(const std::vector<std::string>& args, CKLT_HostOptions& o, std::string& error) {
  bool options = true;  // "--" ends them: what follows are file names
  std::map<std::string, std::string> given;  // the value of each option given one, by its name
  const auto once = [&](const std::string& name, const std::string& as, const std::string& value) {
    const auto was = given.emplace(name, value);
    if (!was.second) error = as + " is given twice (" + was.first->second + ", then " + value + "): give it once";
    return was.second;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    if (options && args[i] == "--") {
      options = false;
      continue;
    }
    if (!options) {
      if (!o.input.empty()) return error = "more than one input file: " + args[i], -1;
      if (args[i].empty()) return error = "the input file's name is empty", -1;
      o.input = args[i];
      continue;
    }
    const size_t at = i;
    const int shaping = CKLT_LayoutShaper::ParseOption(args, i, o.shape, error);
    if (shaping < 0) return -1;
    if (shaping > 0 && i > at && !once(args[at], args[at], args[i])) return -1;
    if (shaping > 0) continue;
    const std::string& a = args[i];
    const OptionEntry* entry = a.size() > 1 && a[0] == '-' ? Find(a) : nullptr;
    if (entry && !entry->take) return 1;  // help
    if (entry) {
      if (entry->value && i + 1 >= args.size()) return error = a + " needs a value (" + entry->value + ")", -1;
      if (entry->value && !once(entry->name, a, args[i + 1])) return -1;
      if (!entry->take(o, entry->value ? args[++i].c_str() : nullptr, error)) return -1;
    } else if (a.size() > 1 && a[0] == '-') {
      return error = "unknown option " + a, -1;
    } else if (o.input.empty()) {
      o.input = a;
    } else {
      return error = "more than one input file: " + a, -1;
    }
  }
  return o.i_Check(error) ? 0 : -1;
}

bool CKLT_HostOptions::ParseNumber(const char* s, uint64_t low, uint64_t high, uint64_t& out) {
  if (!s || !*s) return false;
  uint64_t v = 0;
  for (; *s; ++s) {
    if (*s < '0' || *s > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(*s - '0');
    if (v > (UINT64_MAX - digit) / 10) return false;
    v = v * 10 + digit;
  }
  if (v < low || v > high) return false;
  out = v;
  return true;
}

bool CKLT_HostOptions::TakeFileName(const char* option, const char* value, std::string& out, std::string& error) {
  if (!*value) return error = std::string(option) + " needs a file name: the one given is empty", false;
  out = value;
  return true;
}

std::string CKLT_HostOptions::Listed(const std::vector<std::string>& names, const char* lastJoint) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) out += (i == 0 ? "" : i + 1 == names.size() ? lastJoint : ", ") + names[i];
  return out;
}

namespace {

// The names and the verb that agrees with them ("a is", "a and b are").
std::string Subject(const std::vector<std::string>& names, const char* one, const char* more) {
  return O::Listed(names) + (names.size() == 1 ? one : more);
}

}  // namespace

bool CKLT_HostOptions::i_Check(std::string& error) const {
  std::vector<std::string> layout = CKLT_LayoutShaper::Given(shape);
  if (layoutMode) layout.insert(layout.begin(), "--layout-mode");
  if (columns > 0) layout.insert(layout.begin(), "--grid");
  std::vector<std::string> noSettings;  // options that hand no settings
  for (const auto& flag : {std::make_pair(dialog, "--dialog"), {about, "--about"}, {last, "--last"}})
    if (flag.first) noSettings.push_back(flag.second);
  std::vector<std::string> handed = layout;  // what they do not go with
  if (!saveSettings.empty()) handed.insert(handed.begin(), "--save-settings");
  if (!settings.empty()) handed.insert(handed.begin(), "--settings");
  std::string conflict;
  if (about && (!input.empty() || !output.empty() || !selection.empty() || !script.empty() || dialog))
    conflict = "--about shows the About box alone: it takes no INPUT, -o, --selection, --script or --dialog";
  else if (input.empty() && !about)
    conflict = "no input file";
  else if (output.empty() && !about)
    conflict = "no output file: give -o FILE (.png or .psd)";
  else if (!noSettings.empty() && !handed.empty())
    conflict = Subject(noSettings, " hands", " hand") + " no settings: " +
               (noSettings.size() == 1 ? "it does" : "they do") + " not go with " + Listed(handed);
  else if (!settings.empty() && !layout.empty())
    conflict = Subject(layout, " is", " are") + " for the default layout: --settings carries its own";
  else if (last && dialog)
    conflict = "--last replays without the dialog: it does not go with --dialog";
  else if (pngGiven && EndsWithPSD(output))
    conflict = "--png-level, --png-strategy and --png-filter set how PNG output is compressed: the output " + output +
               " is a PSD file";
  else if (pngGiven && png.strategy == CKLF_PNGEncoder::kStrategyRLE && png.level > 0 && levelGiven &&
           png.level != CKLF_PNGEncoder::DefaultSettings().level)
    conflict = "--png-level " + std::to_string(png.level) +
               " changes nothing under the run-length strategy (" +
               (strategyGiven ? "--png-strategy rle" : "the default") +
               "): its levels 1 to 9 give the same bytes; give --png-strategy default or filtered, or level 0 "
               "(stored)";
  else if ((foreGiven || backGiven) && !layoutMode && settings.empty() && script.empty() && !last && !dialog)
    conflict = std::string(foreGiven && backGiven ? "--fg colours the knives and --bg the ground behind them"
                           : foreGiven            ? "--fg colours the knives"
                                                  : "--bg colours the ground behind the knives") +
               " in --layout-mode: the puzzle of the default layout does not use " +
               (foreGiven && backGiven ? "them" : "it");
  if (!conflict.empty()) return error = conflict, false;
  return CKLT_LayoutShaper::Check(shape, columns > 0, error);
}

std::string CKLT_HostOptions::Usage() {
  std::string u =
      "Usage: tessarette-host [options] INPUT -o OUTPUT\n"
      "       tessarette-host [options] -o OUTPUT -- INPUT  (-- ends the options:\n"
      "       what follows is the input's name, which may start with -)\n"
      "\n"
      "Runs the Tessarette filter plug-in on an image file the way an image host\n"
      "does: the plug-in is loaded as a shared library, gets the document's planes\n"
      "in bands and writes its result back; the result is saved as PNG or PSD.\n"
      "\n"
      "INPUT is a PNG, PSD or JPEG file (layers, transparency, resolution and\n"
      "colour profile are kept where the output can hold them). Without --dialog\n"
      "the plug-in replays a layout without its dialog: it cuts the image into\n"
      "pieces, renders their effects (a bevel by default) and writes the puzzle\n"
      "back, or in Layout mode draws the knives alone. The layout comes from\n"
      "--settings, else from a played --script, else it is the default layout for\n"
      "the filtered area (the grid of --grid, or one of near-square pieces), handed\n"
      "over in the scripting descriptor as a recorded action would be (settings\n"
      "too large for it as the \"last.data\" of a copy of the plug-in).\n"
      "\n"
      "Options:\n";
  const size_t kIndent = 25, kWidth = 79;
  for (const OptionTable* t = &g_tables; t; t = t->next)
    for (size_t i = 0; i < t->count; ++i) {
      const OptionEntry& entry = t->entries[i];
      std::string line = std::string("  ") + (entry.shortName ? std::string(entry.shortName) + ", " : "") + entry.name;
      if (entry.value) line += std::string(" ") + entry.value;
      // The help text, word-wrapped in its column.
      const char* word = entry.help;
      while (*word) {
        const size_t n = std::strcspn(word, " ");
        if (line.size() >= kIndent && line.size() + 1 + n > kWidth) u += line + "\n", line.clear();
        line.resize(std::max(line.size() + 1, kIndent), ' ');
        line.append(word, n);
        word += n + (word[n] == ' ');
      }
      u += line + "\n";
      if (std::strcmp(entry.name, "--save-settings") == 0) u += CKLT_LayoutShaper::Usage();
    }
  u += "\n"
       "Limits: images up to 65535 pixels a side, this program's limit (PNG files\n"
       "may be larger; JPEG stops at 65500); PSD output up to 30000 pixels a side,\n"
       "the format's (write a larger document as PNG); 8 bits a sample (16-bit PNG\n"
       "files are reduced, and the program says so); PSD files with RLE or raw\n"
       "channels (ZIP-compressed layers are read from the file's flattened image\n"
       "when it has one). A document whose run would need more memory than the\n"
       "budget (its whole peak: the document in the mode it is run in, the copies\n"
       "made of it, the plug-in's work, this program's own 8 MiB) is refused\n"
       "before its pixels are decoded. A JPEG file cut short or corrupt is\n"
       "refused. When the cut gives more or fewer pieces than the\n"
       "layout has cells (knives that cross), the program says so, with what\n"
       "keeps them apart when that is known; when a regular layout leaves a\n"
       "margin larger than one of its shapes, it says that too.\n"
       "\n"
       "Exit codes: 0 done; 1 cancelled (-128); 2 out of memory (-108, the memory\n"
       "budget, or too little --max-space); 3 bad parameters (-30100, or settings\n"
       "whose cut gives no piece, or more than the plug-in takes, from the image);\n"
       "4 unsupported image mode or filter case (-30101); 5 another result of the\n"
       "plug-in; 6 --dialog or --about without a display; 10 a file could not be\n"
       "read or written (also a --script that cannot hold the settings); 64 bad\n"
       "command line; 70 an internal error.\n";
  return u;
}

uint64_t CKLT_HostOptions::DefaultMemoryBudget() {
  const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  uint64_t machine =
      pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) : uint64_t(4) << 30;
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit limit;
    if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < machine)
      machine = limit.rlim_cur;
  }
  return machine / 2;
}
