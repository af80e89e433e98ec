#include "CKLT_UIBuilder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "KLT_UIFontRaster.h"
#include "KLT_UITheme.h"
#include "KLF_BigEndian.h"

namespace {

const char* const kButtons = "UIResources>Buttons>";

struct StateName {
  const char* name;
  KLT_Look look;
};

const StateName kButtonStates[] = {{"Normal", KLT_Look::Normal},
                                   {"Highlighted", KLT_Look::Highlighted},
                                   {"Pressed", KLT_Look::Pressed},
                                   {"Pressed Mouse Out", KLT_Look::PressedOut},
                                   {"Disabled", KLT_Look::Disabled}};
// Scroll bars, sliders and lists: Pressed is their working state.
const StateName kBarStates[] = {{"Normal", KLT_Look::Normal},
                                {"Highlighted", KLT_Look::Highlighted},
                                {"Pressed", KLT_Look::Pressed},
                                {"Disabled", KLT_Look::Disabled}};

bool Vertical(kltRECT_s r) { return r.bottom - r.top > r.right - r.left; }

// A dial's points lie on this circle, in window coordinates.
void DialCircle(kltRECT_s r, double& cx, double& cy, double& radius) {
  cx = (r.left + r.right) / 2.0;
  cy = (r.top + r.bottom) / 2.0;
  radius = std::min(r.right - r.left, r.bottom - r.top) / 2.0 - 8;
}

}  // namespace

bool CKLT_UIBuilder::i_Fail(const std::string& message) {
  m_error = message;
  return false;
}

bool CKLT_UIBuilder::i_Out(bool ok) { return ok || i_Fail((m_at ? m_at->Where() : std::string()) + m_out.Error()); }

bool CKLT_UIBuilder::i_Check(const KLT_UINode& n, std::initializer_list<const char*> allowed) {
  for (const auto& c : n.children) {
    bool known = false;
    for (const char* a : allowed) known = known || c->keyword == a;
    if (!known) return i_Fail(c->Where() + "'" + c->keyword + "' has no meaning inside '" + n.keyword + "'");
  }
  return true;
}

// Keys join their parts with ">": a name holding one would make other keys.
bool CKLT_UIBuilder::i_Name(const KLT_UINode& n) {
  const std::string& s = n.args[0];
  if (s.empty()) return i_Fail(n.Where() + "'" + n.keyword + "' needs a name that is not empty");
  if (s.find('>') != std::string::npos)
    return i_Fail(n.Where() + "the name \"" + s + "\" holds '>', which joins the parts of a resource key");
  if (s.size() > 255) return i_Fail(n.Where() + "the name \"" + s.substr(0, 20) + "...\" is longer than 255 bytes");
  return true;
}

bool CKLT_UIBuilder::i_RectArgs(const KLT_UINode& n, size_t first, kltRECT_s& r) {
  KLT_Args a(n);
  long v[4];
  for (size_t i = 0; i < 4; ++i)
    if (!a.Int(first + i, 0, 65535, v[i], m_error)) return false;
  r = {static_cast<i32>(v[0]), static_cast<i32>(v[1]), static_cast<i32>(v[2]), static_cast<i32>(v[3])};
  if (r.right <= r.left || r.bottom <= r.top) return i_Fail(n.Where() + "the rectangle is empty");
  return true;
}

// The control's own "rect L T R B", inside the window.
bool CKLT_UIBuilder::i_OwnRect(const KLT_UINode& n, kltRECT_s& r) {
  const KLT_UINode* rect = n.Find("rect");
  if (!rect) return i_Fail(n.Where() + "'" + n.keyword + " " + n.args[0] + "' needs a rect");
  if (!KLT_Args(*rect).Count(4, 4, m_error) || !i_RectArgs(*rect, 0, r)) return false;
  if (r.right > m_width || r.bottom > m_height) return i_Fail(rect->Where() + "the rectangle leaves the window");
  return true;
}

std::string CKLT_UIBuilder::i_LabelText(const KLT_UINode& n) {
  const KLT_UINode* l = n.Find("label");
  return l && !l->args.empty() ? l->args[0] : std::string();
}

bool CKLT_UIBuilder::i_Rects(const std::string& folder, kltRECT_s r) {
  return i_Out(m_out.AddU16(folder + ">Rect Left", static_cast<u16>(r.left)) &&
               m_out.AddU16(folder + ">Rect Top", static_cast<u16>(r.top)) &&
               m_out.AddU16(folder + ">Rect Right", static_cast<u16>(r.right)) &&
               m_out.AddU16(folder + ">Rect Bottom", static_cast<u16>(r.bottom)));
}

bool CKLT_UIBuilder::Build(const CKLT_UIDescription& desc) {
  for (const auto& s : desc.Statements())
    if (!i_Statement(*s)) return false;
  if (!m_help.empty() && !i_Out(m_out.AddPacked("InfoM", std::vector<u8>(m_help.begin(), m_help.end())))) return false;
  return m_accelerators.empty() || i_Out(m_out.AddPacked("UIResources>Accelerators", m_accelerators));
}

bool CKLT_UIBuilder::i_Statement(const KLT_UINode& n) {
  m_at = &n;
  if (n.keyword == "font") return i_Font(n);
  if (n.keyword == "string") return i_String(n);
  if (n.keyword == "rect") return i_NamedRect(n);
  if (n.keyword == "accelerator") return i_Accelerator(n);
  if (n.keyword == "help") return i_Help(n);
  if (n.keyword == "window") return i_Window(n);
  return i_Fail(n.Where() + "unknown statement '" + n.keyword + "'");
}

bool CKLT_UIBuilder::i_Font(const KLT_UINode& n) {
  KLT_Args a(n);
  long px, first = 32, last = 126;
  if (!i_Check(n, {}) || !a.Count(3, 5, m_error) || !i_Name(n) || !a.Int(2, 4, 96, px, m_error)) return false;
  if (a.Size() == 5 && (!a.Int(3, 0, 255, first, m_error) || !a.Int(4, first, 255, last, m_error))) return false;
  if (a.Size() == 4) return i_Fail(n.Where() + "a font range needs its first and its last code");
  KLT_FontRequest font;
  font.file = m_fontDir + "/" + a.Str(1);
  font.pixels = static_cast<u32>(px);
  font.first = static_cast<u8>(first);
  font.last = static_cast<u8>(last);
  std::vector<u8> record;
  if (!KLT_RasteriseFont(font, record, m_error)) return i_Fail(n.Where() + m_error);
  return i_Out(m_out.AddPacked("UIResources>Fonts>" + a.Str(0), record));
}

bool CKLT_UIBuilder::i_String(const KLT_UINode& n) {
  if (!i_Check(n, {}) || !KLT_Args(n).Count(2, 2, m_error) || !i_Name(n)) return false;
  if (n.args[1].empty()) return i_Fail(n.Where() + "a resource string cannot be empty");
  return i_Out(m_out.AddString("UIResources>Strings>" + n.args[0], n.args[1]));
}

bool CKLT_UIBuilder::i_NamedRect(const KLT_UINode& n) {
  kltRECT_s r;
  if (!i_Check(n, {}) || !KLT_Args(n).Count(5, 5, m_error) || !i_Name(n) || !i_RectArgs(n, 1, r)) return false;
  return i_Rects("UIResources>Rects>" + n.args[0], r);
}

// Entries of 108 bytes: primary modifier held, Option, Shift, primary is
// Command, key, unused, command (little-endian), unused.
bool CKLT_UIBuilder::i_Accelerator(const KLT_UINode& n) {
  long command;
  if (!i_Check(n, {}) || !KLT_Args(n).Count(2, 2, m_error) || !KLT_Args(n).Int(1, 0, 65534, command, m_error))
    return false;
  std::string keys = n.args[0];
  u8 e[108] = {};
  for (size_t p; (p = keys.find('+')) != std::string::npos && p + 1 < keys.size(); keys.erase(0, p + 1)) {
    const std::string mod = keys.substr(0, p);
    if (mod == "cmd") e[0] = e[3] = 1;
    else if (mod == "ctrl") e[0] = 1;
    else if (mod == "option") e[1] = 1;
    else if (mod == "shift") e[2] = 1;
    else return i_Fail(n.Where() + "unknown modifier '" + mod + "'");
  }
  if (keys.size() == 1 && std::strchr("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789=,-.;/`[]\\'+_", keys[0]))
    e[4] = static_cast<u8>(keys[0]);
  else if (keys.size() >= 2 && keys[0] == 'F' && std::atoi(keys.c_str() + 1) >= 1 && std::atoi(keys.c_str() + 1) <= 12)
    e[4] = static_cast<u8>(219 + std::atoi(keys.c_str() + 1));
  else
    return i_Fail(n.Where() + "'" + keys + "' is not an accelerator key (A-Z, 0-9, punctuation, F1-F12)");
  e[6] = static_cast<u8>(command);
  e[7] = static_cast<u8>(command >> 8);
  m_accelerators.insert(m_accelerators.end(), e, e + sizeof(e));
  return true;
}

// The item markers may not appear inside a title or a link: they would
// split it.
bool CKLT_UIBuilder::i_Help(const KLT_UINode& n) {
  if (!i_Check(n, {})) return false;
  const bool separator = n.args.size() == 1 && n.args[0] == "---";
  if (!separator && !KLT_Args(n).Count(2, 2, m_error)) return false;
  for (const std::string& a : n.args) {
    if (a.empty()) return i_Fail(n.Where() + "a help item's title and link cannot be empty");
    if (a.find("{|") != std::string::npos || a.find("|}") != std::string::npos)
      return i_Fail(n.Where() + "'{|' and '|}' mark the help items: they cannot appear inside one");
  }
  if (!separator && n.args[0] == "---") return i_Fail(n.Where() + "a help item cannot be titled '---'");
  for (const std::string& a : n.args) m_help += "{|" + a + "|}";
  return true;
}

// ---- windows ----

// label X Y "text" [size N] [align A] [tone T], X and Y inside the window.
bool CKLT_UIBuilder::i_TextMark(cairo_t* cr, const KLT_UINode& n, kltPOS origin) {
  static const char* const kAligns[] = {"left", "centre", "right"};
  static const struct {
    const char* name;
    klt_theme::KLT_Tone tone;
  } kTones[] = {{"normal", klt_theme::KLT_Tone::Normal}, {"muted", klt_theme::KLT_Tone::Muted},
                {"soft", klt_theme::KLT_Tone::Soft},     {"bright", klt_theme::KLT_Tone::Bright},
                {"accent", klt_theme::KLT_Tone::Accent}};
  KLT_Args a(n);
  long x, y, size = 12;
  if (!i_Check(n, {}) || n.args.size() < 3 || n.args.size() % 2 == 0)
    return i_Fail(n.Where() + "a label is X Y \"text\", then pairs of size N, align A or tone T");
  if (!a.Int(0, 0, m_width - 1, x, m_error) || !a.Int(1, 0, m_height - 1, y, m_error)) return false;
  int align = 0;
  klt_theme::KLT_Tone tone = klt_theme::KLT_Tone::Normal;
  for (size_t i = 3; i + 1 < n.args.size(); i += 2) {
    const std::string &k = n.args[i], &v = n.args[i + 1];
    bool known = false;
    if (k == "size") {
      if (!a.Int(i + 1, 6, 64, size, m_error)) return false;
      known = true;
    } else if (k == "align") {
      for (int j = 0; j < 3; ++j)
        if (v == kAligns[j]) align = j, known = true;
      if (!known) return i_Fail(n.Where() + "a label aligns left, centre or right");
    } else if (k == "tone") {
      for (const auto& t : kTones)
        if (v == t.name) tone = t.tone, known = true;
      if (!known) return i_Fail(n.Where() + "a label's tone is normal, muted, soft, bright or accent");
    } else {
      return i_Fail(n.Where() + "a label takes size, align and tone, not '" + k + "'");
    }
  }
  klt_theme::Text(cr, n.args[2], x - origin.x, y - origin.y, static_cast<double>(size), align, tone);
  return true;
}

bool CKLT_UIBuilder::i_Badge(cairo_t* cr, const KLT_UINode& n, kltPOS origin) {
  kltRECT_s r;
  if (!i_Check(n, {}) || !KLT_Args(n).Count(5, 6, m_error) || !i_RectArgs(n, 0, r)) return false;
  if (n.args.size() == 6 && n.args[5] != "orange") return i_Fail(n.Where() + "a badge is blue, or orange");
  klt_theme::Badge(cr, {r.left - origin.x, r.top - origin.y, r.right - origin.x, r.bottom - origin.y}, n.args[4],
                   n.args.size() == 6);
  return true;
}

bool CKLT_UIBuilder::i_FieldMark(cairo_t* cr, const KLT_UINode& n, kltPOS origin) {
  kltRECT_s r;
  if (!i_Check(n, {}) || !KLT_Args(n).Count(4, 4, m_error) || !i_RectArgs(n, 0, r)) return false;
  klt_theme::Field(cr, {r.left - origin.x, r.top - origin.y, r.right - origin.x, r.bottom - origin.y});
  return true;
}

std::vector<kltRECT_s> CKLT_UIBuilder::i_CaptionHoles(const KLT_UINode& window, int caption) {
  std::vector<kltRECT_s> holes;
  for (const auto& c : window.children) {
    const KLT_UINode* rect = c->Find("rect");
    if (!rect || rect->args.size() != 4) continue;
    // Malformed rectangles are the control's own checks' to report.
    long v[4];
    bool ok = true;
    std::string ignored;
    for (size_t i = 0; i < 4; ++i) ok = ok && KLT_Args(*rect).Int(i, 0, 65535, v[i], ignored);
    const kltRECT_s r = {static_cast<i32>(v[0]), static_cast<i32>(v[1]), static_cast<i32>(v[2]),
                         static_cast<i32>(v[3])};
    if (ok && r.top < caption && r.bottom > r.top && r.right > r.left) holes.push_back(r);
  }
  return holes;
}

// Makes rectangles (window coordinates) of a picture transparent.
void CKLT_UIBuilder::i_CutOut(CKLT_UIArt& art, const std::vector<kltRECT_s>& holes) {
  for (const kltRECT_s& h : holes) klt_theme::Clear(art.Cr(), art.Local(h));
}

// Background marks that belong to controls or to the window's layout.
// Malformed statements draw nothing here: the window's checks report them.
void CKLT_UIBuilder::i_Decor(cairo_t* cr, const KLT_UINode& c) {
  kltRECT_s r;
  if (c.keyword == "label") {
    i_TextMark(cr, c, {0, 0});
    return;
  }
  if (c.keyword == "emblem" && c.args.size() == 4 && i_RectArgs(c, 0, r)) {
    cairo_save(cr);
    cairo_translate(cr, r.left, r.top);
    klt_theme::Piece(cr, r.right - r.left, r.bottom - r.top, false);
    cairo_restore(cr);
    return;
  }
  if ((c.keyword == "panel" || c.keyword == "well" || c.keyword == "disc") && c.args.size() >= 4 &&
      i_RectArgs(c, 0, r)) {
    if (c.keyword == "panel")
      klt_theme::Panel(cr, r, c.args.size() > 4 ? c.args[4] : std::string());
    else if (c.keyword == "well")
      klt_theme::Well(cr, r);
    else
      klt_theme::Disc(cr, r);
    return;
  }
  const KLT_UINode* rect = c.Find("rect");
  if (!rect || rect->args.size() != 4 || !i_RectArgs(*rect, 0, r)) return;
  const KLT_UINode* art = c.Find("art");
  if ((c.keyword == "edit" || c.keyword == "progress") && !c.Find("bare"))
    klt_theme::Field(cr, r);
  else if (c.keyword == "ruler")
    klt_theme::RulerStrip(cr, r, Vertical(r));
  else if (c.keyword == "image" && art && !art->args.empty() && art->args[0] == "navigator")
    klt_theme::Well(cr, {r.left - 1, r.top - 1, r.right + 1, r.bottom + 1});
}

// Controls in the caption strip (a close box) take their own clicks: they
// are cut out of the caption pictures and the drag area, and the caption
// is drawn under them on the background.
bool CKLT_UIBuilder::i_WindowPictures(const KLT_UINode& n, const std::string& title, int caption) {
  const std::string base = "UIResources>Windows>" + n.args[0];
  const std::vector<kltRECT_s> holes = i_CaptionHoles(n, caption);
  CKLT_UIArt bg({0, 0, m_width, m_height});
  klt_theme::WindowBackground(bg.Cr(), m_width, m_height, caption);
  if (!holes.empty()) {
    cairo_save(bg.Cr());
    for (const kltRECT_s& h : holes) cairo_rectangle(bg.Cr(), h.left, h.top, h.right - h.left, h.bottom - h.top);
    cairo_clip(bg.Cr());
    klt_theme::Caption(bg.Cr(), m_width, caption, "", true);
    cairo_restore(bg.Cr());
  }
  for (const auto& c : n.children) i_Decor(bg.Cr(), *c);
  if (!i_Out(m_out.AddPacked(base + ">Background", bg.ImageRecord()))) return false;
  const kltRECT_s strip = {0, 0, m_width, caption};
  // A title that a caption button would cover starts at the left instead.
  const double half = klt_theme::CaptionTitleWidth(title) / 2 + 4;
  double titleLeft = -1;
  for (const kltRECT_s& h : holes)
    if (h.left < m_width / 2.0 + half && h.right > m_width / 2.0 - half) titleLeft = 12;
  for (bool active : {true, false}) {
    CKLT_UIArt art(strip);
    klt_theme::Caption(art.Cr(), m_width, caption, title, active, titleLeft);
    i_CutOut(art, holes);
    if (caption > 0 &&
        !i_Out(m_out.AddPacked(base + (active ? ">Caption_Active" : ">Caption_Inactive"), art.ImageRecord())))
      return false;
  }
  // The drag area is the caption strip unless one is given.
  kltRECT_s drag = strip;
  const KLT_UINode* d = n.Find("drag");
  if (d && (!KLT_Args(*d).Count(4, 4, m_error) || !i_RectArgs(*d, 0, drag))) return false;
  if (!d && caption == 0) return true;
  CKLT_UIArt mask(drag);
  mask.Fill(0, 0, 0, 255);
  i_CutOut(mask, holes);
  return i_Out(m_out.AddPacked(base + ">Drag_Area", mask.MaskRecord()));
}

bool CKLT_UIBuilder::i_Window(const KLT_UINode& n) {
  KLT_Args a(n);
  long w, h, caption = 26;
  if (!a.Count(1, 2, m_error) || !i_Name(n)) return false;
  const KLT_UINode* size = n.Find("size");
  if (!size) return i_Fail(n.Where() + "window " + n.args[0] + " needs a size");
  if (!KLT_Args(*size).Count(2, 2, m_error) || !KLT_Args(*size).Int(0, 16, 4000, w, m_error) ||
      !KLT_Args(*size).Int(1, 16, 4000, h, m_error))
    return false;
  if (const KLT_UINode* c = n.Find("caption"))
    if (!KLT_Args(*c).Count(1, 1, m_error) || !KLT_Args(*c).Int(0, 0, h, caption, m_error)) return false;
  m_width = static_cast<int>(w);
  m_height = static_cast<int>(h);
  if (!i_WindowPictures(n, a.Size() > 1 ? a.Str(1) : n.args[0], static_cast<int>(caption))) return false;
  // The caption's title is also the window's name on the desktop.
  if (a.Size() > 1 && !i_Out(m_out.AddString("UIResources>Windows>" + n.args[0] + ">Title", a.Str(1)))) return false;
  for (const auto& c : n.children) {
    const std::string& k = c->keyword;
    m_at = c.get();
    if (k == "label") {
      CKLT_UIArt scratch({0, 0, 1, 1});
      if (!i_TextMark(scratch.Cr(), *c, {0, 0})) return false;
      continue;
    }
    if (k == "size" || k == "caption" || k == "drag" || k == "panel" || k == "well" || k == "disc" || k == "emblem") {
      kltRECT_s r;
      if ((k == "panel" || k == "well" || k == "disc") &&
          (!KLT_Args(*c).Count(4, k == "panel" ? 5 : 4, m_error) || !i_RectArgs(*c, 0, r)))
        return false;
      if (k == "emblem" && (!KLT_Args(*c).Count(4, 4, m_error) || !i_RectArgs(*c, 0, r))) return false;
      continue;
    }
    if (!(k == "string" ? i_String(*c) : k == "rect" ? i_NamedRect(*c) : i_Control(*c))) return false;
  }
  return true;
}

// ---- controls ----

bool CKLT_UIBuilder::i_Control(const KLT_UINode& n) {
  static const char* const kKinds[] = {"button", "checkbox", "radio", "image", "text",      "progress",
                                       "edit",   "list",     "slider", "ruler", "scrollbar"};
  bool known = false;
  for (const char* k : kKinds) known = known || n.keyword == k;
  if (!known) return i_Fail(n.Where() + "unknown window part '" + n.keyword + "'");
  kltRECT_s r;
  if (!KLT_Args(n).Count(1, 1, m_error) || !i_Name(n) || !i_OwnRect(n, r)) return false;
  const std::string& k = n.keyword;
  if (k == "button") {
    if (!i_Check(n, {"rect", "label", "arrow", "menu", "fade"})) return false;
    int arrow = 0;
    if (const KLT_UINode* a = n.Find("arrow")) {
      static const char* const kDirs[] = {"up", "down", "left", "right"};
      for (int i = 0; i < 4; ++i)
        if (!a->args.empty() && a->args[0] == kDirs[i]) arrow = i + 1;
      if (!arrow) return i_Fail(a->Where() + "an arrow points up, down, left or right");
    }
    return i_Button(n, n.args[0], r, arrow);
  }
  if (k == "checkbox" || k == "radio") return i_Toggle(n, r, k == "radio");
  if (k == "image" || k == "ruler") return i_Image(n, r);
  if (k == "text") return i_Text(n, r);
  if (k == "progress") return i_Progress(n, r);
  if (k == "edit") return i_Check(n, {"rect", "bare"}) && i_Rects("UIResources>Edits>" + n.args[0], r);
  if (k == "list") return i_List(n, r);
  if (k == "slider") return i_Slider(n, r);
  return i_ScrollBar(n, r);
}

bool CKLT_UIBuilder::i_Button(const KLT_UINode& n, const std::string& name, kltRECT_s r, int arrow) {
  const std::string f = kButtons + name;
  const std::string label = i_LabelText(n);
  const bool menu = n.Find("menu") != nullptr;
  const bool fade = n.Find("fade") != nullptr;
  for (const StateName& s : kButtonStates) {
    if (fade && s.look == KLT_Look::Disabled) continue;
    CKLT_UIArt art(r);
    klt_theme::Button(art.Cr(), art.W(), art.H(), s.look, label, menu, arrow);
    if (!i_Out(m_out.AddPacked(f + ">" + s.name, art.ImageRecord()))) return false;
    if (s.look == KLT_Look::Normal && !i_Out(m_out.AddPacked(f + ">Data", art.MaskRecord()))) return false;
  }
  return true;
}

bool CKLT_UIBuilder::i_Toggle(const KLT_UINode& n, kltRECT_s r, bool radio) {
  if (!i_Check(n, radio ? std::initializer_list<const char*>{"rect", "label", "group", "fade"}
                        : std::initializer_list<const char*>{"rect", "label", "fade"}))
    return false;
  const bool fade = n.Find("fade") != nullptr;
  const std::string f = std::string(radio ? "UIResources>Radio Buttons>" : "UIResources>Check Boxes>") + n.args[0];
  const std::string label = i_LabelText(n);
  for (const StateName& s : kButtonStates)
    for (bool on : {true, false}) {
      if (fade && s.look == KLT_Look::Disabled) continue;
      // A radio button has one highlighted, pressed and pressed-outside
      // picture, shown while it is off.
      const bool paired = !radio || s.look == KLT_Look::Normal || s.look == KLT_Look::Disabled;
      if (!paired && on) continue;
      CKLT_UIArt art(r);
      (radio ? klt_theme::Radio : klt_theme::CheckBox)(art.Cr(), art.W(), art.H(), s.look, on, label);
      const std::string key = f + ">" + s.name + (paired ? (on ? " On" : " Off") : "");
      if (!i_Out(m_out.AddPacked(key, art.ImageRecord()))) return false;
    }
  CKLT_UIArt hit(r);
  hit.Fill(0, 0, 0, 255);
  if (!i_Out(m_out.AddPacked(f + ">Data", hit.MaskRecord()))) return false;
  if (!radio) return true;
  long group = 0;
  const KLT_UINode* g = n.Find("group");
  if (!g) return i_Fail(n.Where() + "a radio button needs a group");
  if (!KLT_Args(*g).Count(1, 1, m_error) || !KLT_Args(*g).Int(0, 0, 254, group, m_error)) return false;
  return i_Out(m_out.AddU8(f + ">Group ID", static_cast<u8>(group)));
}

// Static images; a ruler is one whose colour planes are the ticks' ink and
// whose alpha the ruler writes.
bool CKLT_UIBuilder::i_Image(const KLT_UINode& n, kltRECT_s r) {
  const bool ruler = n.keyword == "ruler";
  if (!i_Check(n, ruler ? std::initializer_list<const char*>{"rect"}
                        : std::initializer_list<const char*>{"rect", "art", "label", "badge", "field"}))
    return false;
  std::string kind = ruler ? "ruler" : "plain", heading;
  if (const KLT_UINode* a = n.Find("art")) {
    kind = a->args.empty() ? "" : a->args[0];
    if (kind == "cover" && a->args.size() == 2)
      heading = a->args[1];
    else if (a->args.size() != 1 && kind != "cells")
      return i_Fail(a->Where() + "'art' takes a kind, and a cover its heading");
  }
  static const char* const kKinds[] = {"ruler", "plain",  "piece", "navigator", "sample",    "overlay",  "frame",
                                       "thumb", "swatch", "cover", "cells",     "triangles", "hexagons"};
  if (std::find(std::begin(kKinds), std::end(kKinds), kind) == std::end(kKinds))
    return i_Fail(n.Where() +
                  "an image's art is piece, sample, overlay, frame, navigator, thumb, swatch, cover, cells, triangles, "
                  "hexagons or plain");
  long columns = 0, rows = 0, bottom = klt_theme::kCellGap;
  if (kind == "cells") {
    const KLT_UINode* a = n.Find("art");
    if (!KLT_Args(*a).Count(3, 4, m_error) || !KLT_Args(*a).Int(1, 1, 16, columns, m_error) ||
        !KLT_Args(*a).Int(2, 1, 16, rows, m_error) ||
        (a->args.size() == 4 && !KLT_Args(*a).Int(3, 0, r.bottom - r.top, bottom, m_error)))
      return false;
  }
  // The preview draws the navigator's view frame into its normal picture,
  // which a disabled navigator then shows dimmed.
  const bool fade = kind == "navigator";
  const std::string f = "UIResources>Static Images>" + n.args[0];
  for (bool disabled : {false, true}) {
    if (disabled && fade) continue;
    CKLT_UIArt art(r);
    if (kind == "ruler")
      art.Fill(disabled ? 0x70 : 0xB8, disabled ? 0x70 : 0xB8, disabled ? 0x74 : 0xBE, 0);
    else if (kind == "navigator")
      art.Fill(200, 200, 200, 0);
    else if (kind == "piece")
      klt_theme::Piece(art.Cr(), art.W(), art.H(), disabled);
    else if (kind == "sample")
      klt_theme::Sample(art.Cr(), art.W(), art.H());
    else if (kind == "overlay")
      klt_theme::OverlaySample(art.Cr(), art.W(), art.H());
    else if (kind == "thumb")
      klt_theme::Thumb(art.Cr(), art.W(), art.H());
    else if (kind == "swatch")
      klt_theme::Swatch(art.Cr(), art.W(), art.H());
    else if (kind == "frame")
      klt_theme::ValueFrame(art.Cr(), art.W(), art.H());
    else if (kind == "cover")
      klt_theme::Cover(art.Cr(), art.W(), art.H(), heading);
    else if (kind == "cells")
      klt_theme::Cells(art.Cr(), art.W(), art.H(), static_cast<int>(columns), static_cast<int>(rows), bottom);
    else if (kind == "triangles" || kind == "hexagons")
      klt_theme::LayoutSample(art.Cr(), art.W(), art.H(), kind == "hexagons", disabled);
    const kltPOS origin = {r.left, r.top};
    for (const auto& c : n.children) {
      const std::string& k = c->keyword;
      const bool ok = k == "label"   ? i_TextMark(art.Cr(), *c, origin)
                      : k == "badge" ? i_Badge(art.Cr(), *c, origin)
                      : k == "field" ? i_FieldMark(art.Cr(), *c, origin)
                                     : true;
      if (!ok) return false;
    }
    if (!i_Out(m_out.AddPacked(f + (disabled ? ">Disabled" : ">Normal"), art.ImageRecord()))) return false;
  }
  return true;
}

bool CKLT_UIBuilder::i_Text(const KLT_UINode& n, kltRECT_s r) {
  if (!i_Check(n, {"rect"})) return false;
  const std::string f = "UIResources>Static Texts>" + n.args[0];
  for (KLT_Look look : {KLT_Look::Normal, KLT_Look::Disabled}) {
    u8 red, green, blue;
    klt_theme::TextPaint(look, red, green, blue);
    CKLT_UIArt art(r);
    art.Fill(red, green, blue, 255);
    if (!i_Out(m_out.AddPacked(f + (look == KLT_Look::Normal ? ">Normal" : ">Disabled"), art.ImageRecord())))
      return false;
  }
  return true;
}

// The bar shows where the ramp's first plane is not above the level: the
// ramp rises from 1 to 255 along the bar, so level 0 hides it all.
bool CKLT_UIBuilder::i_Progress(const KLT_UINode& n, kltRECT_s r) {
  if (!i_Check(n, {"rect", "bare"})) return false;
  const std::string f = "UIResources>Progresses>" + n.args[0];
  CKLT_UIArt bar(r);
  klt_theme::ProgressBar(bar.Cr(), bar.W(), bar.H());
  CKLT_UIArt ramp(r);
  ramp.Fill(0, 0, 0, 255);
  const int w = static_cast<int>(ramp.W());
  for (int x = 0; x < w; ++x)
    for (int y = 0; y < ramp.H(); ++y) ramp.Poke(x, y, 0, static_cast<u8>(w > 1 ? 1 + x * 254 / (w - 1) : 255));
  return i_Out(m_out.AddPacked(f + ">Normal", bar.ImageRecord()) && m_out.AddPacked(f + ">Data", ramp.ImageRecord()));
}

bool CKLT_UIBuilder::i_List(const KLT_UINode& n, kltRECT_s r) {
  if (!i_Check(n, {"rect"})) return false;
  const std::string f = "UIResources>Lists>" + n.args[0];
  static const StateName kList[] = {{"Normal", KLT_Look::Normal},
                                    {"Highlighted", KLT_Look::Highlighted},
                                    {"Working", KLT_Look::Pressed},
                                    {"Disabled", KLT_Look::Disabled},
                                    {"Selected", KLT_Look::Normal}};
  for (const StateName& s : kList) {
    const bool selected = std::strcmp(s.name, "Selected") == 0;
    CKLT_UIArt back(r), fore(r);
    klt_theme::ListBack(back.Cr(), back.W(), back.H(), s.look, selected);
    u8 red, green, blue;
    klt_theme::TextPaint(selected ? KLT_Look::Pressed : s.look, red, green, blue);
    fore.Fill(red, green, blue, 255);
    if (!i_Out(m_out.AddPacked(f + ">Background_" + s.name, back.ImageRecord()) &&
               m_out.AddPacked(f + ">Foreground_" + s.name, fore.ImageRecord())))
      return false;
  }
  return i_Rects(f, r);
}

// One scroll bar: track pictures over the rectangle, thumb pictures of 16
// pixels along the axis at its start, and the thumb's parts in
// ">Thumb_Data": along the first row or column, head pixels carry 255 in
// the first plane, then tile pixels in the third, then tail pixels in the
// second.
bool CKLT_UIBuilder::i_Bar(const std::string& name, kltRECT_s r, bool vertical) {
  const std::string f = "UIResources>Scroll Bars>" + name;
  const int length = vertical ? r.bottom - r.top : r.right - r.left;
  const int thumb = std::min(16, length), head = thumb * 3 / 8, tail = head, tile = thumb - head - tail;
  const kltRECT_s t = vertical ? kltRECT_s{r.left, r.top, r.right, r.top + thumb}
                               : kltRECT_s{r.left, r.top, r.left + thumb, r.bottom};
  if (!i_Out(m_out.AddU8(f + ">Is Vertical", vertical ? 1 : 0))) return false;
  for (const StateName& s : kBarStates) {
    CKLT_UIArt back(r), knob(t);
    klt_theme::ScrollTrack(back.Cr(), back.W(), back.H(), s.look);
    klt_theme::ScrollThumb(knob.Cr(), knob.W(), knob.H(), vertical, s.look);
    if (!i_Out(m_out.AddPacked(f + ">Background_" + s.name, back.ImageRecord()) &&
               m_out.AddPacked(f + ">Thumb_" + s.name, knob.ImageRecord())))
      return false;
  }
  CKLT_UIArt parts(t);
  parts.Fill(0, 0, 0, 255);
  for (int i = 0; i < thumb; ++i) {
    const int plane = i < head ? 0 : i < head + tile ? 2 : 1;
    parts.Poke(vertical ? 0 : i, vertical ? i : 0, plane, 255);
  }
  return i_Out(m_out.AddPacked(f + ">Thumb_Data", parts.ImageRecord())) && i_Rects(f, r);
}

// With arrows, the bar is made twice, once for each arrow style the
// platform may prefer: "_MAC" with both arrows at the far end, "_NR" with
// one at each end; each has its "_Less" and "_More" arrow buttons.
bool CKLT_UIBuilder::i_ScrollBar(const KLT_UINode& n, kltRECT_s r) {
  if (!i_Check(n, {"rect", "arrows"})) return false;
  if (!n.Find("arrows")) return i_Bar(n.args[0], r, Vertical(r));
  const bool v = Vertical(r);
  const int t = v ? r.right - r.left : r.bottom - r.top;
  const int along0 = v ? r.top : r.left, along1 = v ? r.bottom : r.right;
  if (along1 - along0 < 3 * t) return i_Fail(n.Where() + "the bar is too short for its arrows");
  auto span = [&](int a, int b) {
    return v ? kltRECT_s{r.left, a, r.right, b} : kltRECT_s{a, r.top, b, r.bottom};
  };
  const int less = v ? 1 : 3, more = v ? 2 : 4;
  const std::string mac = n.args[0] + "_MAC", nr = n.args[0] + "_NR";
  return i_Bar(mac, span(along0, along1 - 2 * t), v) &&
         i_Button(n, mac + "_Less", span(along1 - 2 * t, along1 - t), less) &&
         i_Button(n, mac + "_More", span(along1 - t, along1), more) &&
         i_Bar(nr, span(along0 + t, along1 - t), v) && i_Button(n, nr + "_Less", span(along0, along0 + t), less) &&
         i_Button(n, nr + "_More", span(along1 - t, along1), more);
}

bool CKLT_UIBuilder::i_SliderPoints(const KLT_UINode& n, const std::string& f, kltRECT_s r,
                                    std::vector<kltPOS>& points, bool& dial) {
  long count = 11, first = 0, last = 100;
  if (const KLT_UINode* p = n.Find("points"))
    if (!KLT_Args(*p).Count(1, 1, m_error) || !KLT_Args(*p).Int(0, 2, 4096, count, m_error)) return false;
  if (const KLT_UINode* v = n.Find("values"))
    if (!KLT_Args(*v).Count(2, 2, m_error) || !KLT_Args(*v).Int(0, 0, 0x7FFFFFFF, first, m_error) ||
        !KLT_Args(*v).Int(1, 0, 0x7FFFFFFF, last, m_error))
      return false;
  const KLT_UINode* path = n.Find("path");
  dial = path && !path->args.empty() && path->args[0] == "dial";
  if (path && !dial && (path->args.empty() || path->args[0] != "line" || path->args.size() > 1))
    return i_Fail(path->Where() + "a slider's path is line or dial");
  if (dial && count < 3) return i_Fail(n.Where() + "a dial needs at least 3 points");
  // A dial from START degrees on, STEP degrees a point, counterclockwise
  // from the right; else from the top clockwise round the whole ring.
  long start = 0, step = 0;
  const bool stepped = dial && path->args.size() > 1;
  if (stepped && (!KLT_Args(*path).Count(3, 3, m_error) || !KLT_Args(*path).Int(1, -360, 360, start, m_error) ||
                  !KLT_Args(*path).Int(2, -360, 360, step, m_error)))
    return false;
  if (stepped && step == 0) return i_Fail(path->Where() + "a dial's step cannot be 0");
  std::vector<u8> coors(static_cast<size_t>(count) * 5);
  std::vector<bool> flagged(static_cast<size_t>(count));
  for (const auto& c : n.children) {
    long at, value;
    if (c->keyword != "value") continue;
    if (!KLT_Args(*c).Count(2, 2, m_error) || !KLT_Args(*c).Int(0, 1, count - 2, at, m_error) ||
        !KLT_Args(*c).Int(1, 0, 0x7FFFFFFF, value, m_error))
      return false;
    if (flagged[at]) return i_Fail(c->Where() + "point " + std::to_string(at) + " has a value already");
    flagged[at] = true;
  }
  // Where the points of a straight track lie: evenly, or evenly between
  // the points placed at a share of the track (per mille) of their own.
  std::vector<std::pair<long, double>> anchors = {{0, 0.0}, {count - 1, 1.0}};
  for (const auto& c : n.children) {
    long at, share;
    if (c->keyword != "place") continue;
    if (dial) return i_Fail(c->Where() + "a dial's points cannot be placed");
    if (!KLT_Args(*c).Count(2, 2, m_error) || !KLT_Args(*c).Int(0, 1, count - 2, at, m_error) ||
        !KLT_Args(*c).Int(1, 1, 999, share, m_error))
      return false;
    anchors.push_back({at, share / 1000.0});
  }
  std::sort(anchors.begin(), anchors.end());
  for (size_t k = 1; k < anchors.size(); ++k)
    if (anchors[k].first == anchors[k - 1].first || anchors[k].second <= anchors[k - 1].second)
      return i_Fail(n.Where() + "placed points must be distinct and in order along the track");
  double cx, cy, radius;
  DialCircle(r, cx, cy, radius);
  const bool v = Vertical(r);
  size_t seg = 0;
  for (long j = 0; j < count; ++j) {
    double x, y;
    if (stepped) {
      const double a = (start + step * j) * M_PI / 180;
      x = cx + radius * std::cos(a), y = cy - radius * std::sin(a);
    } else if (dial) {
      const double a = -M_PI / 2 + 2 * M_PI * j / (count - 1);
      x = cx + radius * std::cos(a), y = cy + radius * std::sin(a);
    } else {
      while (anchors[seg + 1].first < j) ++seg;
      const auto &a = anchors[seg], &b = anchors[seg + 1];
      const double t = a.second + (b.second - a.second) * (j - a.first) / (b.first - a.first);
      x = v ? cx : r.left + 8 + t * (r.right - r.left - 17);
      y = v ? r.bottom - 9 - t * (r.bottom - r.top - 17) : cy;  // vertical sliders grow upwards
    }
    points.push_back({static_cast<i32>(std::lround(x)), static_cast<i32>(std::lround(y))});
    KLF_PutBE16(&coors[j * 5], static_cast<u16>(points.back().x));
    KLF_PutBE16(&coors[j * 5 + 2], static_cast<u16>(points.back().y));
    coors[j * 5 + 4] = flagged[j] ? 1 : 0;
  }
  if (!i_Out(m_out.AddU16(f + ">Data_NumPoints", static_cast<u16>(count)) && m_out.AddBlock(f + ">Data_Coors", coors) &&
             m_out.AddU32(f + ">Data_ValueStart", static_cast<u32>(first)) &&
             m_out.AddU32(f + ">Data_ValueEnd", static_cast<u32>(last))))
    return false;
  std::vector<std::pair<long, long>> values;
  for (const auto& c : n.children)
    if (c->keyword == "value") values.push_back({std::atol(c->args[0].c_str()), std::atol(c->args[1].c_str())});
  std::sort(values.begin(), values.end());
  for (size_t k = 0; k < values.size(); ++k)
    if (!i_Out(m_out.AddU32(f + ">Data_Value_" + std::to_string(k), static_cast<u32>(values[k].second)))) return false;
  return true;
}

bool CKLT_UIBuilder::i_Slider(const KLT_UINode& n, kltRECT_s r) {
  if (!i_Check(n, {"rect", "points", "values", "value", "place", "path", "fade"})) return false;
  const std::string f = "UIResources>Sliders>" + n.args[0];
  std::vector<kltPOS> points;
  bool dial = false;
  if (!i_SliderPoints(n, f, r, points, dial)) return false;
  // Pixel centres in the picture's own coordinates.
  std::vector<kltFPOS> path;
  for (const kltPOS& p : points) path.push_back({p.x - r.left + 0.5, p.y - r.top + 0.5});
  double cx, cy, radius;
  DialCircle(r, cx, cy, radius);
  const int d = 15, x0 = points[0].x, y0 = points[0].y;
  const kltRECT_s knobRect = {x0 - d / 2, y0 - d / 2, x0 - d / 2 + d, y0 - d / 2 + d};
  if (knobRect.left < 0 || knobRect.top < 0) return i_Fail(n.Where() + "the knob leaves the window");
  const bool fade = n.Find("fade") != nullptr;
  for (const StateName& s : kBarStates) {
    if (fade && s.look == KLT_Look::Disabled) continue;
    CKLT_UIArt track(r), knob(knobRect);
    if (dial)
      klt_theme::SliderRing(track.Cr(), cx - r.left + 0.5, cy - r.top + 0.5, radius, s.look);
    else
      klt_theme::SliderTrack(track.Cr(), path, s.look);
    klt_theme::SliderKnob(knob.Cr(), d, s.look);
    if (!i_Out(m_out.AddPacked(f + ">Background_" + s.name, track.ImageRecord()) &&
               m_out.AddPacked(f + ">Thumb_" + s.name, knob.ImageRecord())))
      return false;
  }
  CKLT_UIArt zone(r);
  zone.Fill(255, 255, 255, 255);
  return i_Out(m_out.AddPacked(f + ">Data_HotZone", zone.ImageRecord()) &&
               m_out.AddU16(f + ">HotSpot_X", static_cast<u16>(x0)) &&
               m_out.AddU16(f + ">HotSpot_Y", static_cast<u16>(y0)));
}
