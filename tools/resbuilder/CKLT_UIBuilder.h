// Turns UI descriptions into the records of the UI resource file. Names
// (of fonts, strings, rects, windows and controls) become parts of store
// keys: 1 to 255 bytes without ">". Top-level statements:
//   font NAME FILE PIXELS [FIRST LAST]   a bitmap font (codes 32-126 by default)
//   string NAME "text"                   "UIResources>Strings>NAME"
//   rect NAME LEFT TOP RIGHT BOTTOM      "UIResources>Rects>NAME>Rect ..."
//   accelerator [cmd+|ctrl+][option+][shift+]KEY COMMAND
//   help "title" "URL" | help ---      one link of the Help menu, or a
//                                      separator ("InfoM": the items as
//                                      "{|title|}{|URL|}{|---|}..." text)
//   window NAME ["title"]                a window, with its parts below it;
//                                      the title, drawn in the caption, is
//                                      also "UIResources>Windows>NAME>Title"
// Inside a window: size W H (required), caption HEIGHT (26 by default, 0 for
// none), drag L T R B (the caption strip by default), panel L T R B
// ["title"], well L T R B, disc L T R B (a round well inside the
// rectangle), emblem L T R B (the jigsaw piece), label X Y
// "text" [size N] [align left|centre|right] [tone normal|muted|soft|bright|
// accent] (a fixed text, 12 pixels by default, centred on the line Y and
// starting, centred or ending at X), named rects and strings, and one
// statement per control, each with its own parts (rect L T R B always):
//   button NAME      label "text" | arrow up|down|left|right, menu, fade
//   checkbox NAME    label "text", fade
//   radio NAME       label "text", group N, fade
//   image NAME       art piece|sample|overlay|frame|navigator|thumb|swatch|
//                    plain|cover ["text"]|triangles|hexagons|cells COLUMNS
//                    ROWS [BOTTOM] (sample: a piece of a landscape over
//                    transparency; overlay: the same piece in a pattern of
//                    its own; frame: an accent frame; thumb: a round knob;
//                    swatch: a framed empty colour field; cover: a veil over the window
//                    with a box in its middle, headed by the text; triangles,
//                    hexagons: a sample of such a layout; cells: light cards
//                    in a grid, kCellGap pixels from the sides and apart,
//                    BOTTOM pixels (kCellGap by default) kept free at the
//                    bottom); marks
//                    drawn over the art in window coordinates, in order:
//                    label (as above), badge L T R B "text" [orange] (a
//                    chip), field L T R B (a trough)
//   text NAME        (paint for a text set at run time)
//   progress NAME    bare
//   edit NAME        bare
//   list NAME
//   scrollbar NAME   arrows: instead of NAME, the bars NAME_MAC (both arrows at
//                    the far end) and NAME_NR (one at each end), each with its
//                    arrow buttons NAME_MAC_Less, NAME_MAC_More, ...
//   slider NAME      points N, values FIRST LAST, value POINT VALUE (a point
//                    with a value of its own), place POINT SHARE (a point at
//                    SHARE per mille of a straight track; the points between
//                    two placed ones lie evenly), path line|dial [START STEP]
//                    (a dial's points: from the top clockwise round the
//                    ring, the last on the first; or from START degrees on,
//                    STEP degrees each, counterclockwise from the right), fade
//   ruler NAME       (a static image the ruler draws its ticks through)
// Every control's pictures are drawn by the theme over its rectangle. A
// control that reaches into the caption strip (a close box) is cut out of
// the caption pictures and the drag area, so that it takes its own clicks,
// and the caption is drawn under it on the background. "fade": no disabled
// picture, so a disabled control shows its normal one at the control's
// disabled opacity (faint, or gone at 0); a navigator never has one (the
// preview draws its view frame into the normal picture). "bare": no field
// under the control on the window's background (a progress bar on a
// cover's field, an edit line sharing its place with other controls).
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
  bool i_Help(const KLT_UINode& n);
  bool i_Window(const KLT_UINode& n);
  bool i_WindowPictures(const KLT_UINode& n, const std::string& title, int caption);
  // The rectangles of the window's controls that reach into the caption.
  static std::vector<kltRECT_s> i_CaptionHoles(const KLT_UINode& window, int caption);
  static void i_CutOut(CKLT_UIArt& art, const std::vector<kltRECT_s>& holes);
  void i_Decor(cairo_t* cr, const KLT_UINode& c);
  // Marks drawn into a picture whose top-left is at origin (window
  // coordinates); each fails on a malformed statement.
  bool i_TextMark(cairo_t* cr, const KLT_UINode& n, kltPOS origin);
  bool i_Badge(cairo_t* cr, const KLT_UINode& n, kltPOS origin);
  bool i_FieldMark(cairo_t* cr, const KLT_UINode& n, kltPOS origin);
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
  // The text of the control's label part.
  std::string i_LabelText(const KLT_UINode& n);
  bool i_Rects(const std::string& folder, kltRECT_s r);
  bool i_Fail(const std::string& message);
  bool i_Out(bool ok);

  CKLT_UIResourceFile& m_out;
  std::string m_fontDir;
  std::string m_error;
  const KLT_UINode* m_at = nullptr;  // the statement being built, for messages
  std::vector<u8> m_accelerators;  // the table's entries, in statement order
  std::string m_help;              // the help items' text, in statement order
  int m_width = 0, m_height = 0;   // of the window being built
};
