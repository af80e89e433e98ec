// surface_render: draws a picture as a relief for a person to look at: a
// height field made from the picture's brightness, the picture mapped onto
// it, turned and put in perspective, written as a PNG file. The options
// are in the help text (Usage).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CKLF_3D_Surface.h"
#include "CKLF_3D_Surface2.h"
#include "CKLF_ImagePNG.h"
#include "CKLF_StdFile.h"
#include "CKLP_ReplaceFile.h"
#include "CKLT_FileAccess.h"
#include "CKLT_HostDocument.h"

namespace {

struct Options {
  std::string photo, out, mode = "draft";
  f64 tilt = 35, turn = 12, relief = 60;
  int step = 6, width = 1200, height = 900, samples = 3;
  klt3D_VECTOR light = {0.6f, 0.5f, 1.0f};
};

const char kUsage[] =
    "Usage: surface_render [options] -o OUT.png\n"
    "\n"
    "Draws a picture as a relief: a height field made from its brightness (white\n"
    "highest), the picture mapped onto it, turned and seen in perspective, written\n"
    "as an RGBA PNG file.\n"
    "\n"
    "Options:\n"
    "  -o FILE           the PNG file to write (required)\n"
    "  --photo FILE      the picture: PNG, PSD or JPEG (default: the sample\n"
    "                    picture lake.png beside the program, else the one it\n"
    "                    was built with)\n"
    "  --mode MODE       draft: texture mapped, shaded by the turn of each face\n"
    "                    from the viewer (the default); flat: flat-shaded with\n"
    "                    the mesh edges, hidden lines removed; grid: the mesh\n"
    "                    lines; hq: supersampled, lit by one light whose shadow\n"
    "                    falls on the relief and on a plane behind it; hq2: the\n"
    "                    second renderer class, automatic ambient light, a\n"
    "                    highlight, the shadow on the relief, no background\n"
    "  --tilt DEG        turn about the horizontal axis, -360..360 (default 35)\n"
    "  --turn DEG        turn in the picture plane, -360..360 (default 12)\n"
    "  --relief PX       height of white above black, -1000..1000 (default 60)\n"
    "  --step PX         mesh cell size in picture pixels, 1..1000 (default 6)\n"
    "  --size WxH        output size, 1..65535 each (default 1200x900)\n"
    "  --light X,Y,Z     hq, hq2: the way the light runs, in output pixels, z into\n"
    "                    the picture (default 0.6,0.5,1; not all 0)\n"
    "  --samples N       hq, hq2: samples a pixel side, 1..16 (default 3)\n"
    "  -h, --help        this text\n"
    "\n"
    "Exit codes: 0 done; 1 a file could not be read or written, or rendering\n"
    "failed; 2 bad command line.\n";

// A whole number or a decimal within low..high; "abc", "" and "1x" are not.
bool Number(const char* s, f64 low, f64 high, f64& out) {
  errno = 0;
  char* end = nullptr;
  const f64 v = std::strtod(s, &end);
  if (end == s || *end || errno || !std::isfinite(v) || v < low || v > high) return false;
  out = v;
  return true;
}

bool Whole(const char* s, int low, int high, int& out) {
  f64 v = 0;
  if (!Number(s, low, high, v) || v != std::floor(v) || std::strpbrk(s, ".eE")) return false;
  out = static_cast<int>(v);
  return true;
}

// "a<sep>b<sep>c..." as count numbers within low..high.
bool Numbers(const char* s, char sep, int count, f64 low, f64 high, f64* out) {
  std::string text = s;
  for (int i = 0; i < count; ++i) {
    const size_t at = i + 1 < count ? text.find(sep) : std::string::npos;
    if ((i + 1 < count) != (at != std::string::npos)) return false;
    if (!Number(text.substr(0, at).c_str(), low, high, out[i])) return false;
    text = at == std::string::npos ? "" : text.substr(at + 1);
  }
  return true;
}

// Takes one option and its value; false with the reason.
bool TakeOption(const std::string& k, const char* v, Options& o, std::string& why) {
  const std::string bad = "bad " + k + " " + v + " (";
  f64 pair[3];
  if (k == "-o" || k == "--output") return o.out = v, true;
  if (k == "--photo") return o.photo = v, true;
  if (k == "--mode") {
    if (std::strcmp(v, "draft") && std::strcmp(v, "flat") && std::strcmp(v, "grid") && std::strcmp(v, "hq") &&
        std::strcmp(v, "hq2"))
      return why = bad + "draft, flat, grid, hq or hq2)", false;
    return o.mode = v, true;
  }
  if (k == "--tilt" || k == "--turn")
    return Number(v, -360, 360, k == "--tilt" ? o.tilt : o.turn) || (why = bad + "-360..360)", false);
  if (k == "--relief") return Number(v, -1000, 1000, o.relief) || (why = bad + "-1000..1000)", false);
  if (k == "--step") return Whole(v, 1, 1000, o.step) || (why = bad + "1..1000)", false);
  if (k == "--samples") return Whole(v, 1, 16, o.samples) || (why = bad + "1..16)", false);
  if (k == "--size") {
    const char* x = std::strchr(v, 'x');
    if (!x || !Whole(std::string(v, x).c_str(), 1, 65535, o.width) || !Whole(x + 1, 1, 65535, o.height))
      return why = bad + "WxH, 1..65535 each)", false;
    return true;
  }
  if (k == "--light") {
    if (!Numbers(v, ',', 3, -1e6, 1e6, pair) || (pair[0] == 0 && pair[1] == 0 && pair[2] == 0))
      return why = bad + "X,Y,Z, not all 0)", false;
    o.light = {static_cast<f32>(pair[0]), static_cast<f32>(pair[1]), static_cast<f32>(pair[2])};
    return true;
  }
  return why = "unknown option " + k, false;
}

// 0 to render, 1 for the help, -1 with the reason.
int Parse(int argc, char** argv, Options& o, std::string& why) {
  for (int i = 1; i < argc; ++i) {
    const std::string k = argv[i];
    if (k == "-h" || k == "--help") return 1;
    if (k.empty() || k[0] != '-') return why = "unexpected argument " + k, -1;
    if (i + 1 >= argc) return why = k + " needs a value", -1;
    if (!TakeOption(k, argv[++i], o, why)) return -1;
  }
  if (o.out.empty()) return why = "no output file: give -o FILE.png", -1;
  return 0;
}

// The sample picture installed beside the program, else the one it was
// built with.
std::string DefaultPicture() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (n > 0) {
    std::string beside(self, static_cast<size_t>(n));
    beside = beside.substr(0, beside.rfind('/') + 1) + "lake.png";
    if (CKLT_FileAccess::Exists(beside)) return beside;
  }
  return KLF_SAMPLE_PICTURE;
}

// The picture's visible layers flattened in RGB, as RGBA planes.
bool LoadPicture(const std::string& path, CKLF_Image& tex, std::string& why) {
  CKLT_HostDocument doc;
  if (doc.ReadFile(path, UINT64_MAX, why) != CKLT_HostDocument::kOk) return false;
  if (!doc.ConvertTo(klpModeRGB)) return why = "cannot make " + path + " RGB", false;
  std::vector<std::vector<uint8_t>> planes;
  std::vector<uint8_t> alpha;
  doc.Flatten(planes, alpha);
  if (!tex.Create(static_cast<u16>(doc.width), static_cast<u16>(doc.height), 2))
    return why = "cannot read " + path + ": out of memory", false;
  u8* p[5];
  u32 stride;
  tex.GetImageChannels(p, stride);
  const size_t area = static_cast<size_t>(doc.width) * doc.height;
  for (int c = 0; c < 3; ++c) std::memcpy(p[c], planes[c].data(), area);
  std::memcpy(p[3], alpha.data(), area);
  return true;
}

// A knot every step pixels; its height is the mean brightness around it.
// Cells are two triangles facing the viewer; the first carries the cell's
// left and top edges for the mesh lines.
void BuildHeightField(CKLF_3D_SurfaceBase& s, CKLF_Image& tex, const Options& o) {
  const int w = tex.GetImageWidth(), h = tex.GetImageHeight();
  const int cols = (w - 1) / o.step, rows = (h - 1) / o.step;
  s.Create(static_cast<u32>((cols + 1) * (rows + 1)), static_cast<u32>(2 * cols * rows));
  u8* p[5];
  u32 stride;
  tex.GetImageChannels(p, stride);
  for (int r = 0; r <= rows; ++r)
    for (int c = 0; c <= cols; ++c) {
      f64 sum = 0;
      int n = 0;
      for (int y = std::max(0, r * o.step - o.step / 2); y <= std::min(h - 1, r * o.step + o.step / 2); ++y)
        for (int x = std::max(0, c * o.step - o.step / 2); x <= std::min(w - 1, c * o.step + o.step / 2); ++x, ++n) {
          const size_t i = static_cast<size_t>(y) * w + x;
          sum += 0.299 * p[0][i] + 0.587 * p[1][i] + 0.114 * p[2][i];
        }
      *s.GetVertex(r * (cols + 1) + c) = {static_cast<f32>(c * o.step), static_cast<f32>(r * o.step),
                                          static_cast<f32>(-o.relief * sum / n / 255.0)};
    }
  u32 t = 0;
  for (u32 r = 0; r < static_cast<u32>(rows); ++r)
    for (u32 c = 0; c < static_cast<u32>(cols); ++c) {
      const u32 k = r * (cols + 1) + c;
      *s.GetTriMesh(t++) = {{k + cols + 1, k, k + 1}, 7};
      *s.GetTriMesh(t++) = {{k + 1, k + cols + 2, k + cols + 1}, 1};
    }
}

// Turned about the centre, seen in perspective, fitted into the output.
void Place(CKLF_3D_SurfaceBase& s, const CKLF_Image& tex, const Options& o) {
  const f64 rad = 3.14159265358979323846 / 180.0;
  const klt3D_VERTEX c = {tex.GetImageWidth() / 2.0f, tex.GetImageHeight() / 2.0f, 0.0f};
  s.Rotate(static_cast<f32>(o.tilt * rad), 0.0f, static_cast<f32>(o.turn * rad), c);
  s.PerspectiveZ(static_cast<f32>(2.5 * tex.GetImageWidth()), c);
  const CKLF_3D_SurfaceBase::OBJECT_BOUNDS b = s.GetObjectBounds();
  const f64 fit = 0.92 * std::min(o.width / (b.maxX - b.minX), o.height / (b.maxY - b.minY));
  s.Zoom(static_cast<f32>(fit), static_cast<f32>(fit), static_cast<f32>(fit), c);
  s.OffsetByCenterXY(o.width / 2.0f, o.height / 2.0f);
}

// ---- the HQ path ----

typedef CKLF_3D_SurfaceBase Base;

// Planes of the output size: alpha, then red, green, blue.
struct Layer {
  std::vector<u8> p[4];
  u32 w, h;
  Layer(u32 w_, u32 h_) : w(w_), h(h_) {
    for (auto& q : p) q.assign(static_cast<size_t>(w) * h, 0);
  }
  Base::HQ_DESTINATION Dest() { return {{p[1].data(), p[2].data(), p[3].data(), nullptr}, p[0].data(), w, w, h}; }
};

// The picture in front, a solid colour underneath.
Base::HQ_TEXTURE TextureOf(CKLF_Image& tex) {
  static const u8 under[3] = {70, 70, 80};
  u8* p[5];
  u32 stride;
  tex.GetImageChannels(p, stride);
  Base::HQ_TEXTURE t = {};
  t.front = {0, nullptr, {p[0], p[1], p[2], nullptr}};
  t.back = {1, under, {}};
  t.alpha = p[3];
  t.stride = stride, t.width = tex.GetImageWidth(), t.height = tex.GetImageHeight();
  return t;
}

// The relief lit by its lights (RenderHQ_Opt of either class, shadow maps
// made), laid over the picture: out = layer a + out (1 - a).
template <class S>
u8 RenderOver(S& s, CKLF_Image& tex, CKLF_Image& out, const Options& o) {
  Layer l(out.GetImageWidth(), out.GetImageHeight());
  const Base::HQ_BUMP none = {};
  if (!s.RenderHQ_Opt(0, klt3D_VERTEX{}, 0, 1, static_cast<u8>(o.samples), 4, l.Dest(), TextureOf(tex), none,
                      klNullRect, -100.0f))
    return 0;
  u8* p[5];
  u32 stride;
  out.GetImageChannels(p, stride);
  for (size_t i = 0; i < static_cast<size_t>(l.w) * l.h; ++i) {
    const u32 a = l.p[0][i];
    for (int c = 0; c < 3; ++c) p[c][i] = static_cast<u8>((l.p[c + 1][i] * a + p[c][i] * (255 - a)) / 255);
  }
  return 1;
}

// hq: a first-class light that casts its shadow on the relief (a shadow
// map) and on the background behind it.
u8 RenderFirstClass(CKLF_3D_Surface& s, CKLF_Image& tex, CKLF_Image& out, const Options& o) {
  CKLF_3D_Surface::LIGHT_SOURCE l = {};
  l.name = "sun";
  l.enabled = 1;
  l.intensity = 1.0f;
  for (f32& c : l.colour) c = 1.0f;
  l.factor = 100.0f, l.lightingMix = 85.0f, l.shadowStrength = 75.0f;
  // The first class lights with the direction as given: a unit one.
  const f32 len = std::sqrt(o.light.x * o.light.x + o.light.y * o.light.y + o.light.z * o.light.z);
  l.direction = {o.light.x / len, o.light.y / len, o.light.z / len};
  l.shadowMap = {1, 0, 1.0f, 1.0f};
  l.bgShadowOn = 1, l.bgStrength = 60.0f, l.bgShadow = {0, 1, 2.0f, 8.0f};
  s.Light_SetAmbientLight(0.35f, 0.35f, 0.35f, 0.35f);
  s.SetMatShading(-60);
  const u32 w = tex.GetImageWidth(), h = tex.GetImageHeight();
  const u8* alpha = tex.GetMemObj()->GetPtr() + 3u * w * h;
  std::vector<u8> density(static_cast<size_t>(out.GetImageWidth()) * out.GetImageHeight());
  if (!s.Light_Add(&l) || !s.Light_UseShadowMap("sun", 1) ||
      !s.Light_GenerateAllInnerShadowMaps(alpha, w, w, h, 0) ||
      !s.RenderHQ_BgShadow(40.0f, alpha, w, w, h, density.data(), out.GetImageWidth(), out.GetImageWidth(),
                           out.GetImageHeight()))
    return 0;
  u8* p[5];
  u32 stride;
  out.GetImageChannels(p, stride);
  for (size_t i = 0; i < density.size(); ++i)
    for (int c = 0; c < 3; ++c) p[c][i] = static_cast<u8>(p[c][i] * (255 - density[i]) / 255);
  return RenderOver(s, tex, out, o);
}

// hq2: a second-class light (lighting vector = the direction with x
// turned, so --light means the same) with a highlight and a fragment-method
// shadow map, automatic ambient light.
u8 RenderSecondClass(CKLF_3D_Surface2& s, CKLF_Image& tex, CKLF_Image& out, const Options& o) {
  CKLF_3D_Surface2::LIGHT_SOURCE l = {};
  l.name = "sun";
  l.direction = {-o.light.x, o.light.y, o.light.z};
  l.front = 1;
  l.intensity1 = 70.0f, l.intensity2 = 35.0f, l.highlightSharpness = 40.0f;
  std::memset(l.colour1, 255, 8);
  std::memset(l.colour2, 255, 8);
  l.diffuseToAmbient1 = l.diffuseToAmbient2 = l.highlightToAmbient1 = 1;
  l.castsShadow = 1, l.shadowValue1 = 75.0f, l.shadowValue2 = 1.5f;
  const u32 w = tex.GetImageWidth(), h = tex.GetImageHeight();
  const u8* alpha = tex.GetMemObj()->GetPtr() + 3u * w * h;
  if (!s.Light_Add(&l) || !s.Light_SetAmbientLight(nullptr, 0, nullptr, 0, 1, 1) || !s.Light_PrecalculateLights(1) ||
      !s.Light_GenerateAllInnerShadowMaps(alpha, w, w, h, 1.0f))
    return 0;
  return RenderOver(s, tex, out, o);
}

bool WritePNG(const std::string& path, CKLF_Image& im, std::string& why) {
  CKLP_ReplaceFile replace;
  if (!replace.Begin(path, why)) return why = "cannot write " + path + ": " + why, false;
  CKLF_StdFile file;
  if (!file.Open(replace.TempPath().c_str(), 3))
    return why = "cannot write " + path + ": " + KLF_ErrorText(file.GetError()), false;
  CKLF_ImagePNG png;
  if (!png.Create(file)) return why = "cannot write " + path + ": " + KLF_ErrorText(png.GetError()), false;
  CKLF_ImagePNG::PNGWRITE_PARAMS p;
  std::memset(&p, 0, sizeof(p));
  u32 stride;
  u8* planes[5];
  im.GetImageChannels(planes, stride);
  p.width = im.GetImageWidth();
  p.height = im.GetImageHeight();
  p.mode = CKLF_ImagePNG::kWriteRGBA;
  for (int c = 0; c < 4; ++c) p.planes[c] = planes[c];
  p.stride = stride;
  p.product = "surface_render";
  p.resolution = 72;
  const bool written = png.WritePNG(&p) != 0;
  const u16 code = written ? file.GetError() : png.GetError();
  if (!file.Close() || !written)
    return why = "cannot write " + path + ": " + KLF_ErrorText(code ? code : u16(klErrFileWrite)), false;
  return replace.Commit(why) || (why = "cannot write " + path + ": " + why, false);
}

u8 Render(const Options& o, CKLF_Image& tex, CKLF_Image& out, CKLF_3D_Surface& s, CKLF_3D_Surface2& s2) {
  CKLF_Image back;
  if (!back.Create(&tex)) return 0;
  back.Set(kltRGBA8{70, 70, 80, 255}, 7);  // the underside, where a face turns away
  const kltRGBA8 edge = {255, 230, 120, 255}, front = {150, 170, 200, 255}, under = {90, 60, 60, 255};
  if (o.mode == "draft") return s.RenderDraftTexturedSurface(&out, 0, 0, &tex, &back, klNullRect);
  if (o.mode == "flat") return s.RenderFlatShadedSurface(&out, 0, 0, klNullRect, 1, edge, front, under);
  if (o.mode == "grid") return s.RenderMeshGrid(&out, 0, 0, klNullRect, 1, edge);
  if (o.mode == "hq") return RenderFirstClass(s, tex, out, o);
  return RenderSecondClass(s2, tex, out, o);
}

int Fail(const std::string& why, int code) {
  std::fprintf(stderr, "surface_render: %s\n", why.c_str());
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::string why;
  const int parsed = Parse(argc, argv, o, why);
  if (parsed == 1) return std::fputs(kUsage, stdout), 0;
  if (parsed < 0) return Fail(why + " (see --help)", 2);
  if (o.photo.empty()) o.photo = DefaultPicture();
  CKLF_Image tex, out;
  if (!LoadPicture(o.photo, tex, why)) return Fail(why, 1);
  if (o.step >= std::min(tex.GetImageWidth(), tex.GetImageHeight()))
    return Fail("the picture (" + std::to_string(tex.GetImageWidth()) + " x " + std::to_string(tex.GetImageHeight()) +
                    " pixels) is too small for a mesh of --step " + std::to_string(o.step),
                1);
  CKLF_3D_Surface s;
  CKLF_3D_Surface2 s2;
  CKLF_3D_SurfaceBase& mesh = o.mode == "hq2" ? static_cast<CKLF_3D_SurfaceBase&>(s2) : s;
  BuildHeightField(mesh, tex, o);
  mesh.RecreateMappingArrayFromCurrentValues();
  Place(mesh, tex, o);
  if (!out.Create(static_cast<u16>(o.width), static_cast<u16>(o.height), 2))
    return Fail("out of memory for a " + std::to_string(o.width) + " x " + std::to_string(o.height) + " picture", 1);
  const bool hq = o.mode == "hq" || o.mode == "hq2";
  out.Set(hq ? kltRGBA8{210, 205, 195, 255} : kltRGBA8{24, 26, 30, 255}, 255);
  if (!Render(o, tex, out, s, s2)) return Fail(std::string("rendering failed: ") + KLF_ErrorText(mesh.GetError()), 1);
  if (!WritePNG(o.out, out, why)) return Fail(why, 1);
  return 0;
}
