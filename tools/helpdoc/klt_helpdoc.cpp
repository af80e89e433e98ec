// klt-helpdoc: writes the plug-in's help document as a PDF from a text of
// the repository: "# " starts the title, "## " a heading, other lines are
// paragraphs (separated by blank lines), wrapped to A4 pages.
//   klt-helpdoc TEXT FONT_DIR OUT.pdf
// Exit codes: 0 written, 1 the text, a font or the output failed, 2 bad
// command line.
#include <cairo-ft.h>
#include <cairo-pdf.h>
#include <cairo.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const double kPageW = 595, kPageH = 842, kMargin = 64;

struct Face {
  FT_Face face = nullptr;
  cairo_font_face_t* cairo = nullptr;
};

bool OpenFace(FT_Library lib, const std::string& path, Face& f) {
  if (FT_New_Face(lib, path.c_str(), 0, &f.face) != 0) return false;
  f.cairo = cairo_ft_font_face_create_for_ft_face(f.face, 0);
  return cairo_font_face_status(f.cairo) == CAIRO_STATUS_SUCCESS;
}

class Writer {
 public:
  Writer(cairo_t* cr, Face& regular, Face& bold) : m_cr(cr), m_regular(regular), m_bold(bold), m_y(kMargin) {}

  void Block(const std::string& text, bool bold, double size, double before, double after) {
    cairo_set_font_face(m_cr, bold ? m_bold.cairo : m_regular.cairo);
    cairo_set_font_size(m_cr, size);
    const double line = size * 1.45;
    m_y += before;
    std::istringstream words(text);
    std::string word, current;
    auto flush = [&]() {
      if (current.empty()) return;
      if (m_y + line > kPageH - kMargin) {
        cairo_show_page(m_cr);
        m_y = kMargin;
      }
      cairo_move_to(m_cr, kMargin, m_y + size);
      cairo_show_text(m_cr, current.c_str());
      m_y += line;
      current.clear();
    };
    while (words >> word) {
      const std::string tried = current.empty() ? word : current + " " + word;
      cairo_text_extents_t te;
      cairo_text_extents(m_cr, tried.c_str(), &te);
      if (te.x_advance > kPageW - 2 * kMargin && !current.empty()) {
        flush();
        current = word;
      } else {
        current = tried;
      }
    }
    flush();
    m_y += after;
  }

 private:
  cairo_t* m_cr;
  Face& m_regular;
  Face& m_bold;
  double m_y;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: klt-helpdoc TEXT FONT_DIR OUT.pdf\n");
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::fprintf(stderr, "klt-helpdoc: cannot read %s\n", argv[1]);
    return 1;
  }
  FT_Library lib = nullptr;
  Face regular, bold;
  const std::string fonts = argv[2];
  if (FT_Init_FreeType(&lib) != 0 || !OpenFace(lib, fonts + "/DejaVuSans.ttf", regular) ||
      !OpenFace(lib, fonts + "/DejaVuSans-Bold.ttf", bold)) {
    std::fprintf(stderr, "klt-helpdoc: cannot open the DejaVu fonts in %s\n", argv[2]);
    return 1;
  }
  const std::string tmp = std::string(argv[3]) + ".tmp";
  cairo_surface_t* pdf = cairo_pdf_surface_create(tmp.c_str(), kPageW, kPageH);
  cairo_t* cr = cairo_create(pdf);
  cairo_set_source_rgb(cr, 0.1, 0.1, 0.12);
  Writer w(cr, regular, bold);
  std::string line, paragraph;
  auto endParagraph = [&]() {
    if (!paragraph.empty()) w.Block(paragraph, false, 10.5, 0, 8);
    paragraph.clear();
  };
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) {
      endParagraph();
      w.Block(line.substr(3), true, 13, 8, 4);
    } else if (line.rfind("# ", 0) == 0) {
      endParagraph();
      w.Block(line.substr(2), true, 20, 0, 12);
    } else if (line.empty()) {
      endParagraph();
    } else {
      paragraph += (paragraph.empty() ? "" : " ") + line;
    }
  }
  endParagraph();
  cairo_destroy(cr);
  cairo_surface_finish(pdf);
  const bool ok = cairo_surface_status(pdf) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(pdf);
  cairo_font_face_destroy(regular.cairo);
  cairo_font_face_destroy(bold.cairo);
  FT_Done_Face(regular.face);
  FT_Done_Face(bold.face);
  FT_Done_FreeType(lib);
  if (!ok || std::rename(tmp.c_str(), argv[3]) != 0) {
    std::remove(tmp.c_str());
    std::fprintf(stderr, "klt-helpdoc: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
