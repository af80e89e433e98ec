// Renders a picture as a relief for a person to look at: a height field
// made from the picture's brightness, the picture mapped onto it, turned
// and put in perspective, written as a PNG file.
//
//   surface_render [options] -o out.png
//     --photo FILE      PNG picture (default: the bundled sample picture)
//     --mode MODE       draft (texture mapped, shaded by the turn of each
//                       face from the viewer; default), flat (flat-shaded
//                       with the mesh edges, hidden lines removed), grid,
//                       hq (supersampled, lit by one light whose shadow
//                       falls on the relief, by texels, and on a plane
//                       behind it) or hq2 (the second class: automatic
//                       ambient light, a highlight, the shadow by
//                       fragments, no background)
//     --tilt DEG        turn about the horizontal axis (default 35)
//     --turn DEG        turn in the picture plane (default 12)
//     --relief PX       height of white above black (default 60)
//     --step PX         mesh cell size in picture pixels (default 6)
//     --size WxH        output size (default 1200x900)
//     --light X,Y,Z     hq: the way the light runs, in output pixels, z
//                       into the picture (default 0.6,0.5,1)
//     --samples N       hq: samples a pixel side (default 3)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CKLF_3D_Surface.h"
#include "CKLF_3D_Surface2.h"
#include "CKLF_ImagePNG.h"
#include "CKLF_StdFile.h"

namespace {

struct Options {
  std::string photo = KLF_SAMPLE_PICTURE, out, mode = "draft";
  f64 tilt = 35, turn = 12, relief = 60;
  int step = 6, width = 1200, height = 900, samples = 3;
  klt3D_VECTOR light = {0.6f, 0.5f, 1.0f};
};

int Usage(const char* why) {
  std::fprintf(why ? stderr : stdout,
               "%s%s%susage: surface_render [--photo FILE] [--mode draft|flat|grid|hq|hq2] [--tilt DEG] [--turn DEG] "
               "[--relief PX] [--step PX] [--size WxH] [--light X,Y,Z] [--samples N] -o out.png\n",
               why ? "surface_render: " : "", why ? why : "", why ? "\n" : "");
  return why ? 2 : 0;
}

bool Parse(int argc, char** argv, Options& o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string k = argv[i];
    const char* v = argv[i + 1];
    std::string* text = k == "-o" ? &o.out : k == "--photo" ? &o.photo : k == "--mode" ? &o.mode : nullptr;
    f64* number = k == "--tilt" ? &o.tilt : k == "--turn" ? &o.turn : k == "--relief" ? &o.relief : nullptr;
    if (text)
      *text = v;
    else if (number)
      *number = std::atof(v);
    else if (k == "--step")
      o.step = std::atoi(v);
    else if (k == "--samples")
      o.samples = std::atoi(v);
    else if (k == "--light" && std::sscanf(v, "%f,%f,%f", &o.light.x, &o.light.y, &o.light.z) == 3)
      continue;
    else if (k != "--size" || std::sscanf(v, "%dx%d", &o.width, &o.height) != 2)
      return false;
  }
  const bool modeOK = o.mode == "draft" || o.mode == "flat" || o.mode == "grid" || o.mode == "hq" || o.mode == "hq2";
  return argc % 2 == 1 && !o.out.empty() && o.step > 0 && o.width > 0 && o.height > 0 && o.width < 65536 &&
         o.height < 65536 && o.samples > 0 && o.samples < 17 && modeOK;
}

bool LoadPicture(const std::string& path, CKLF_Image& tex) {
  std::ifstream f(path, std::ios::binary);
  const std::vector<u8> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  CKLF_ImagePNG png;
  u16 w = 0, h = 0;
  if (bytes.empty() || !png.ParseImageByPtr(bytes.data(), static_cast<u32>(bytes.size())) ||
      !png.GetMainImageSize(w, h) || !tex.Create(w, h, 2))
    return false;
  u8* planes[5];
  u32 stride;
  tex.GetImageChannels(planes, stride);
  const bool grey = png.GetImageMode() == CKLF_ImageFormat::kModeGrey;
  for (int c = 0; c < 3; ++c) std::memcpy(planes[c], png.GetImageDataPtr(grey ? 0 : c), static_cast<size_t>(w) * h);
  std::memset(planes[3], 255, static_cast<size_t>(w) * h);
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

bool WritePNG(const std::string& path, CKLF_Image& im) {
  CKLF_StdFile file;
  if (!file.Open(path.c_str(), 2)) return false;
  CKLF_ImagePNG png;
  png.Create(file);
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
  const bool ok = png.WritePNG(&p) != 0;
  return file.Close() && ok;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) return Usage(nullptr);
  if (!Parse(argc, argv, o)) return Usage("bad arguments");
  CKLF_Image tex, back, out;
  if (!LoadPicture(o.photo, tex)) return Usage(("cannot read " + o.photo).c_str());
  back.Create(&tex);
  back.Set(kltRGBA8{70, 70, 80, 255}, 7);  // the underside, where a face turns away
  CKLF_3D_Surface s;
  CKLF_3D_Surface2 s2;
  CKLF_3D_SurfaceBase& mesh = o.mode == "hq2" ? static_cast<CKLF_3D_SurfaceBase&>(s2) : s;
  BuildHeightField(mesh, tex, o);
  mesh.RecreateMappingArrayFromCurrentValues();
  Place(mesh, tex, o);
  out.Create(static_cast<u16>(o.width), static_cast<u16>(o.height), 2);
  const bool hq = o.mode == "hq" || o.mode == "hq2";
  out.Set(hq ? kltRGBA8{210, 205, 195, 255} : kltRGBA8{24, 26, 30, 255}, 255);
  const kltRGBA8 edge = {255, 230, 120, 255}, front = {150, 170, 200, 255}, under = {90, 60, 60, 255};
  u8 ok = 0;
  if (o.mode == "draft") ok = s.RenderDraftTexturedSurface(&out, 0, 0, &tex, &back, klNullRect);
  if (o.mode == "flat") ok = s.RenderFlatShadedSurface(&out, 0, 0, klNullRect, 1, edge, front, under);
  if (o.mode == "grid") ok = s.RenderMeshGrid(&out, 0, 0, klNullRect, 1, edge);
  if (o.mode == "hq") ok = RenderFirstClass(s, tex, out, o);
  if (o.mode == "hq2") ok = RenderSecondClass(s2, tex, out, o);
  if (!ok) return Usage(KLF_ErrorText(mesh.GetError()));
  if (!WritePNG(o.out, out)) return Usage(("cannot write " + o.out).c_str());
  return 0;
}
