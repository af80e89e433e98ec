// Turns UI descriptions into the records of the UI resource file. Names
// (of fonts, strings, rects, windows and controls) become parts of store
// keys: 1 to 255 bytes without ">". Top-level statements:
//   font NAME FILE PIXELS [FIRST LAST]   a bitmap font (codes 32-126 by default)
//   string NAME "text"                   "UIResources>Strings>NAME"
//   rect NAME LEFT TOP RIGHT BOTTOM      "UIResources>Rects>NAME>Rect ..."
//   accelerator [cmd+|ctrl+][option+][shift+]KEY COMMAND
//   window NAME ["title"]                a window, with its parts below it
// Inside a window: size W H (required), caption HEIGHT (26 by default, 0 for
// none), drag L T R B (the caption strip by default), panel L T R B
// ["title"], well L T R B, label X TOP "text" (a caption for the controls
// beside it, on a 16-pixel line), named rects and strings, and one
// statement per control, each with its own parts (rect L T R B always):
//   button NAME      label "text" | arrow up|down|left|right, menu
//   checkbox NAME    label "text"
//   radio NAME       label "text", group N
//   image NAME       art piece|sample|frame|navigator|plain|cover (sample: a
//                    piece of a landscape over transparency; frame: an accent
//                    frame; cover: a veil over the window with a box in its
//                    middle); a cover's label "text" and field L T R B (a
//                    trough, window coordinates)
//   text NAME        (paint for a text set at run time)
//   progress NAME    bare: no trough on the window (a cover's field instead)
//   edit NAME
//   list NAME
//   scrollbar NAME   arrows: instead of NAME, the bars NAME_MAC (both arrows at
//                    the far end) and NAME_NR (one at each end), each with its
//                    arrow buttons NAME_MAC_Less, NAME_MAC_More, ...
//   slider NAME      points N, values FIRST LAST, value POINT VALUE (a point
//                    with a value of its own), path line|dial
//   ruler NAME       (a static image the ruler draws its ticks through)
// Every control's pictures are drawn by the theme over its rectangle. A
// button that reaches into the caption strip (a close box) is cut out of the
// caption pictures and the drag area, so that it takes its own clicks.
#pragma once

#include <string>
#include <vector>

#include "CKLT_UIArt.h"
#include "CKLT_UIDescription.h"
#include "CKLT_UIResourceFile.h"

class CKLT_UIBuilder {
 public:
  // Font files named by descriptions are looked up in fontDir.
  CKLT_UIBuilder(CKLT_UIResourceFile& out, const std::string& fontDir) : m_out(out), m_fontDir(fontDir) {}

  bool Build(const CKLT_UIDescription& desc);
  const std::string& Error() const { return m_error; }

 private:
  bool i_Statement(const KLT_UINode& n);
  bool i_Font(const KLT_UINode& n);
  bool i_String(const KLT_UINode& n);
  bool i_NamedRect(const KLT_UINode& n);
  bool i_Accelerator(const KLT_UINode& n);
  bool i_Window(const KLT_UINode& n);
  bool i_WindowPictures(const KLT_UINode& n, const std::string& title, int caption);
  std::vector<kltRECT_s> i_CaptionControls(const KLT_UINode& n, int caption);
  static void i_CutOut(CKLT_UIArt& art, const std::vector<kltRECT_s>& holes);
  void i_Decor(cairo_t* cr, const KLT_UINode& c);
  bool i_Control(const KLT_UINode& n);
  bool i_Button(const KLT_UINode& n, const std::string& name, kltRECT_s r, int arrow);
  bool i_Toggle(const KLT_UINode& n, kltRECT_s r, bool radio);
  bool i_Image(const KLT_UINode& n, kltRECT_s r);
  bool i_Text(const KLT_UINode& n, kltRECT_s r);
  bool i_Progress(const KLT_UINode& n, kltRECT_s r);
  bool i_List(const KLT_UINode& n, kltRECT_s r);
  bool i_ScrollBar(const KLT_UINode& n, kltRECT_s r);
  bool i_Bar(const std::string& name, kltRECT_s r, bool vertical);
  bool i_Slider(const KLT_UINode& n, kltRECT_s r);
  bool i_SliderPoints(const KLT_UINode& n, const std::string& f, kltRECT_s r, std::vector<kltPOS>& points,
                      bool& dial);

  // Helpers that check a statement's parts.
  bool i_Check(const KLT_UINode& n, std::initializer_list<const char*> allowed);
  // The statement's first argument as one part of a store key.
  bool i_Name(const KLT_UINode& n);
  bool i_RectArgs(const KLT_UINode& n, size_t first, kltRECT_s& r);
  bool i_OwnRect(const KLT_UINode& n, kltRECT_s& r);
  std::string i_Label(const KLT_UINode& n);
  bool i_Rects(const std::string& folder, kltRECT_s r);
  bool i_Fail(const std::string& message);
  bool i_Out(bool ok);

  CKLT_UIResourceFile& m_out;
  std::string m_fontDir;
  std::string m_error;
  const KLT_UINode* m_at = nullptr;  // the statement being built, for messages
  std::vector<u8> m_accelerators;  // the table's entries, in statement order
  int m_width = 0, m_height = 0;   // of the window being built
};
