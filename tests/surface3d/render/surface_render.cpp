// Renders a picture as a relief for a person to look at: a height field
// made from the picture's brightness, the picture mapped onto it, turned
// and put in perspective, written as a PNG file.
//
//   surface_render [options] -o out.png
//     --photo FILE      PNG picture (default: the bundled sample picture)
//     --mode MODE       draft (texture mapped, shaded by the turn of each
//                       face from the viewer; default), flat (flat-shaded
//                       with the mesh edges, hidden lines removed) or grid
//     --tilt DEG        turn about the horizontal axis (default 35)
//     --turn DEG        turn in the picture plane (default 12)
//     --relief PX       height of white above black (default 60)
//     --step PX         mesh cell size in picture pixels (default 6)
//     --size WxH        output size (default 1200x900)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CKLF_3D_Surface.h"
#include "CKLF_ImagePNG.h"
#include "CKLF_StdFile.h"

namespace {

struct Options {
  std::string photo = KLF_SAMPLE_PICTURE, out, mode = "draft";
  f64 tilt = 35, turn = 12, relief = 60;
  int step = 6, width = 1200, height = 900;
};

int Usage(const char* why) {
  std::fprintf(why ? stderr : stdout,
               "%s%s%susage: surface_render [--photo FILE] [--mode draft|flat|grid] [--tilt DEG] [--turn DEG] "
               "[--relief PX] [--step PX] [--size WxH] -o out.png\n",
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
    else if (k != "--size" || std::sscanf(v, "%dx%d", &o.width, &o.height) != 2)
      return false;
  }
  return argc % 2 == 1 && !o.out.empty() && o.step > 0 && o.width > 0 && o.height > 0 && o.width < 65536 &&
         o.height < 65536 && (o.mode == "draft" || o.mode == "flat" || o.mode == "grid");
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
void BuildHeightField(CKLF_3D_Surface& s, CKLF_Image& tex, const Options& o) {
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
void Place(CKLF_3D_Surface& s, const CKLF_Image& tex, const Options& o) {
  const f64 rad = 3.14159265358979323846 / 180.0;
  const klt3D_VERTEX c = {tex.GetImageWidth() / 2.0f, tex.GetImageHeight() / 2.0f, 0.0f};
  s.Rotate(static_cast<f32>(o.tilt * rad), 0.0f, static_cast<f32>(o.turn * rad), c);
  s.PerspectiveZ(static_cast<f32>(2.5 * tex.GetImageWidth()), c);
  const CKLF_3D_SurfaceBase::OBJECT_BOUNDS b = s.GetObjectBounds();
  const f64 fit = 0.92 * std::min(o.width / (b.maxX - b.minX), o.height / (b.maxY - b.minY));
  s.Zoom(static_cast<f32>(fit), static_cast<f32>(fit), static_cast<f32>(fit), c);
  s.OffsetByCenterXY(o.width / 2.0f, o.height / 2.0f);
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
  BuildHeightField(s, tex, o);
  s.RecreateMappingArrayFromCurrentValues();
  Place(s, tex, o);
  out.Create(static_cast<u16>(o.width), static_cast<u16>(o.height), 2);
  out.Set(kltRGBA8{24, 26, 30, 255}, 255);
  const kltRGBA8 edge = {255, 230, 120, 255}, front = {150, 170, 200, 255}, under = {90, 60, 60, 255};
  u8 ok = 0;
  if (o.mode == "draft") ok = s.RenderDraftTexturedSurface(&out, 0, 0, &tex, &back, klNullRect);
  if (o.mode == "flat") ok = s.RenderFlatShadedSurface(&out, 0, 0, klNullRect, 1, edge, front, under);
  if (o.mode == "grid") ok = s.RenderMeshGrid(&out, 0, 0, klNullRect, 1, edge);
  if (!ok) return Usage(KLF_ErrorText(s.GetError()));
  if (!WritePNG(o.out, out)) return Usage(("cannot write " + o.out).c_str());
  return 0;
}
