#include "CKLF_PostScriptGenerator.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {
// Without a "-0" for zero.
inline f64 Z(f64 v) { return v + 0.0; }

// What the path block holds: an element's kind, then its points.
const f64 kMove = 0, kLine = 1, kCurve = 2, kStroke = 3;

// The Illustrator operators the AI flavour uses, in PostScript, so that
// the file prints and any PostScript reader opens it.
const char kIllustratorProcs[] =
    "/m {moveto} bind def /l {lineto} bind def /c {curveto} bind def /S {stroke} bind def\n"
    "/w {setlinewidth} bind def /j {setlinejoin} bind def /J {setlinecap} bind def\n"
    "/G {setgray} bind def /A {pop} bind def /R {pop} bind def\n";

// Paths are stroked 1 unit wide with round caps and joins: the marks reach
// half a unit beyond the path on every side.
const f64 kHalfWidth = 0.5;

// One line of a path written at p, with room up to end: head, the numbers
// as "%.3f" prints them (the C library's formatting of doubles is slow
// enough to dominate a large layout's text), each followed by a space, then
// tail. The line's end, or null when it does not fit.
char* PathLine(char* p, char* end, const char* head, const f64* v, u32 n, const char* tail) {
  const size_t headLength = std::strlen(head), tailLength = std::strlen(tail);
  if (static_cast<size_t>(end - p) < headLength) return nullptr;
  std::memcpy(p, head, headLength);
  p += headLength;
  for (u32 i = 0; i < n; ++i) {
    const std::to_chars_result r = std::to_chars(p, end, Z(v[i]), std::chars_format::fixed, 3);
    if (r.ec != std::errc() || r.ptr == end) return nullptr;
    p = r.ptr;
    *p++ = ' ';
  }
  if (static_cast<size_t>(end - p) < tailLength) return nullptr;
  std::memcpy(p, tail, tailLength);
  return p + tailLength;
}

// The lines gathered in chunk up to p, added to the text.
bool AddChunk(CKLF_String& text, char* chunk, char* p) {
  *p = 0;
  const CKLF_String part(chunk);
  return !part.IsError() && text.Append(part, text.GetLength());
}

// The cubic's coordinate at t.
inline f64 Cubic(f64 p0, f64 p1, f64 p2, f64 p3, f64 t) {
  const f64 u = 1.0 - t;
  return u * u * u * p0 + 3.0 * u * u * t * p1 + 3.0 * u * t * t * p2 + t * t * t * p3;
}

// The parameters in (0, 1) where one coordinate of a cubic turns: the roots
// of its derivative a t^2 + b t + c. Returns their count.
u32 CubicTurns(f64 p0, f64 p1, f64 p2, f64 p3, f64 t[2]) {
  const f64 a = p3 - 3.0 * p2 + 3.0 * p1 - p0, b = 2.0 * (p2 - 2.0 * p1 + p0), c = p1 - p0;
  f64 r[2];
  u32 n = 0;
  if (std::fabs(a) < 1e-12) {
    if (std::fabs(b) > 1e-12) r[n++] = -c / b;
  } else {
    const f64 disc = b * b - 4.0 * a * c;
    if (disc >= 0.0) {
      const f64 q = std::sqrt(disc);
      r[n++] = (-b + q) / (2.0 * a);
      r[n++] = (-b - q) / (2.0 * a);
    }
  }
  u32 k = 0;
  for (u32 i = 0; i < n; ++i)
    if (r[i] > 0.0 && r[i] < 1.0) t[k++] = r[i];
  return k;
}
}  // namespace

CKLF_PostScriptGenerator::CKLF_PostScriptGenerator() { Clean(); }

CKLF_PostScriptGenerator::~CKLF_PostScriptGenerator() {}

void CKLF_PostScriptGenerator::Clean() {
  m_path.free();
  m_used = 0;
  m_minX = m_minY = m_maxX = m_maxY = 0.0;
  ResetError();
}

void CKLF_PostScriptGenerator::i_Extend(kltFPOS p) {
  if (m_used == 0) {  // the first point of the first path
    m_minX = m_maxX = p.x;
    m_minY = m_maxY = p.y;
    return;
  }
  m_minX = std::fmin(m_minX, p.x);
  m_maxX = std::fmax(m_maxX, p.x);
  m_minY = std::fmin(m_minY, p.y);
  m_maxY = std::fmax(m_maxY, p.y);
}

// The curve's own extremes, not its control points: the box is where the
// marks are.
void CKLF_PostScriptGenerator::i_ExtendCurve(kltFPOS p0, kltFPOS c1, kltFPOS c2, kltFPOS p3) {
  f64 t[2];
  for (u32 i = 0, n = CubicTurns(p0.x, c1.x, c2.x, p3.x, t); i < n; ++i)
    i_Extend({Cubic(p0.x, c1.x, c2.x, p3.x, t[i]), Cubic(p0.y, c1.y, c2.y, p3.y, t[i])});
  for (u32 i = 0, n = CubicTurns(p0.y, c1.y, c2.y, p3.y, t); i < n; ++i)
    i_Extend({Cubic(p0.x, c1.x, c2.x, p3.x, t[i]), Cubic(p0.y, c1.y, c2.y, p3.y, t[i])});
}

// The path block doubles as it fills: thousands of knives of dozens of
// spans each stay linear to record.
bool CKLF_PostScriptGenerator::i_Record(const f64* values, u32 count) {
  const u64 need = (static_cast<u64>(m_used) + count) * sizeof(f64);
  if (need > m_path.GetSize()) {
    const u64 grown = need > 2ull * m_path.GetSize() ? need : 2ull * m_path.GetSize();
    if (!klFits32(grown) || !m_path.Resize(static_cast<u32>(grown))) return false;
  }
  std::memcpy(m_path.GetPtr() + static_cast<u64>(m_used) * sizeof(f64), values, count * sizeof(f64));
  m_used += count;
  return true;
}

u8 CKLF_PostScriptGenerator::i_AddPath(const kltFPOS* points, const kltFPOS* controls, u32 n) {
  if (!points || n < 2) return Fail(klErrBadArg);
  for (u32 i = 0; i < n; ++i)
    if (!std::isfinite(points[i].x) || !std::isfinite(points[i].y) ||
        (controls && i + 1 < n &&
         !(std::isfinite(controls[2 * i].x) && std::isfinite(controls[2 * i].y) &&
           std::isfinite(controls[2 * i + 1].x) && std::isfinite(controls[2 * i + 1].y)))) {
      return Fail(klErrBadArg);
    }
  const u32 before = m_used;
  const f64 minX = m_minX, minY = m_minY, maxX = m_maxX, maxY = m_maxY;
  i_Extend(points[0]);
  const f64 move[3] = {kMove, points[0].x, points[0].y};
  bool ok = i_Record(move, 3);
  for (u32 i = 1; ok && i < n; ++i) {
    const kltFPOS p = points[i];
    i_Extend(p);
    if (controls) {
      const kltFPOS c1 = controls[2 * (i - 1)], c2 = controls[2 * (i - 1) + 1];
      i_ExtendCurve(points[i - 1], c1, c2, p);
      const f64 curve[7] = {kCurve, c1.x, c1.y, c2.x, c2.y, p.x, p.y};
      ok = i_Record(curve, 7);
    } else {
      const f64 line[3] = {kLine, p.x, p.y};
      ok = i_Record(line, 3);
    }
  }
  const f64 stroke = kStroke;
  if (ok && i_Record(&stroke, 1)) return 1;
  // A path that could not be recorded whole is left out, box and all.
  m_used = before;
  m_minX = minX, m_minY = minY, m_maxX = maxX, m_maxY = maxY;
  return FailFrom(m_path, klErrNoMemory);
}

u8 CKLF_PostScriptGenerator::EPS_AddPath(const kltFPOS* points, const kltFPOS* controls, u32 n) {
  return i_AddPath(points, controls, n);
}

u8 CKLF_PostScriptGenerator::AI_AddPath(const kltFPOS* points, const kltFPOS* controls, u32 n) {
  return i_AddPath(points, controls, n);
}

// The recorded paths as text, moved so that the box of the marks has its
// lower left corner at the page's origin.
bool CKLF_PostScriptGenerator::i_PutPaths(CKLF_String& text, bool ai, f64 dx, f64 top) const {
  const f64* v = reinterpret_cast<const f64*>(m_path.GetPtr());
  // Lines gather in a chunk that goes into the text when full (a string a
  // line would cost allocations a line); a line takes at most some 2 KB.
  char chunk[32768];
  char* p = chunk;
  char* const end = chunk + sizeof(chunk) - 1;
  for (u32 i = 0; i < m_used;) {
    const f64 kind = v[i];
    // Turned over and moved: x + dx, top - y.
    const u32 numbers = kind == kCurve ? 6 : kind == kStroke ? 0 : 2;
    f64 at[6];
    for (u32 j = 0; j < numbers; ++j) at[j] = j % 2 ? top - v[i + 1 + j] : v[i + 1 + j] + dx;
    const char* op = kind == kMove ? (ai ? "m\n" : "moveto\n")
                     : kind == kLine ? (ai ? "l\n" : "lineto\n")
                     : kind == kCurve ? (ai ? "c\n" : "curveto\n")
                                      : (ai ? "S\n" : "stroke\n");
    const char* head = kind == kMove && !ai ? "newpath\n" : "";
    char* next = PathLine(p, end, head, at, numbers, op);
    if (!next) {
      // The text grows by its own length at a time: linear in the paths.
      if (!AddChunk(text, chunk, p) || !(next = PathLine(chunk, end, head, at, numbers, op))) return false;
    }
    p = next;
    i += numbers + 1;
  }
  return AddChunk(text, chunk, p);
}

u8 CKLF_PostScriptGenerator::i_Finish(CKLF_String* out, bool ai) {
  if (!out) return Fail(klErrBadArg);
  // PostScript y grows upwards: the drawing is turned over and moved to the
  // origin, the box around the stroke's width.
  const f64 pad = m_used ? kHalfWidth : 0.0;
  const f64 w = m_used ? m_maxX - m_minX + 2.0 * pad : 0.0, h = m_used ? m_maxY - m_minY + 2.0 * pad : 0.0;
  const f64 dx = pad - m_minX, top = m_maxY + pad;
  CKLF_String head;
  bool ok;
  if (ai) {
    ok = head.Format(
             "%%!PS-Adobe-3.0\n%%%%Creator: Tessarette knife export\n%%%%BoundingBox: 0 0 %.0f %.0f\n"
             "%%%%HiResBoundingBox: 0 0 %.3f %.3f\n%%%%DocumentProcessColors: Black\n%%%%EndComments\n"
             "%%%%BeginProlog\n%s%%%%EndProlog\n%%%%BeginSetup\n%%%%EndSetup\n0 A\n0 R\n0 G\n1 w\n1 j\n1 J\n",
             std::ceil(w), std::ceil(h), w, h, kIllustratorProcs) != nullptr;
  } else {
    ok = head.Format(
             "%%!PS-Adobe-3.0 EPSF-3.0\n%%%%Creator: Tessarette knife export\n"
             "%%%%BoundingBox: 0 0 %.0f %.0f\n%%%%HiResBoundingBox: 0 0 %.3f %.3f\n"
             "%%%%EndComments\n1 setlinewidth\n1 setlinecap\n1 setlinejoin\n0 setgray\n",
             std::ceil(w), std::ceil(h), w, h) != nullptr;
  }
  if (ok) {
    ok = !(*out = head).IsError() && i_PutPaths(*out, ai, dx, top) &&
         out->Append(ai ? "%%PageTrailer\nshowpage\n%%Trailer\n%%EOF\n" : "showpage\n%%EOF\n");
  }
  if (!ok) return FailFrom(*out, klErrNoMemory);
  return 1;
}

u8 CKLF_PostScriptGenerator::EPS_GetData(CKLF_String* out) { return i_Finish(out, false); }

u8 CKLF_PostScriptGenerator::AI_GetData(CKLF_String* out) { return i_Finish(out, true); }
