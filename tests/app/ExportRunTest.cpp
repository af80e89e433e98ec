#include <gtest/gtest.h>
#include <png.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <set>
#include <string>
#include <vector>

#include "CExportRun.h"
#include "CKLF_ImagePSD.h"
#include "FailingAllocations.h"
#include "PuzzleTestUtil.h"
#include "support/TestSupport.h"

namespace {

typedef CExportDialogModel M;
typedef CTessarette::SPLITEDCELL Cell;
using puzzletest::Bytes;

// The pieces of a 48 x 32 document cut 3 x 2, placed at (10, 5) in a
// 64 x 40 document; piece 1 hidden, pieces 0, 1 and 4 selected, piece 3 at
// opacity 128.
struct Cut {
  puzzletest::Puzzle p{3, 2};
  CExportRun run{p.engine};
  std::vector<std::string> alerts;
  Cut() {
    for (u32 i : {0u, 1u, 4u}) p.Piece(i).selected = 1;
    p.Piece(1).visible = 0;
    p.Piece(3).opacity[CTessarette::FX_RENDERED] = {1, 128};
    run.SetDocument({64, 40, 10, 5, 300.0, 0.0, nullptr, 0});
    run.SetAlert([](const char* text, const char*, void* user) { static_cast<Cut*>(user)->alerts.push_back(text); },
                 this);
  }
  const Cell& Piece(u32 i) { return p.Piece(i); }
  // Piece ids in row, then column order.
  std::vector<u32> Ordered(bool selectedOnly, bool hiddenToo) {
    std::vector<u32> v;
    for (u32 i = 0; i < p.engine.GetPieceCount(); ++i)
      if ((!selectedOnly || Piece(i).selected) && (hiddenToo || Piece(i).visible)) v.push_back(i);
    std::stable_sort(v.begin(), v.end(), [&](u32 a, u32 b) {
      return Piece(a).row != Piece(b).row ? Piece(a).row < Piece(b).row : Piece(a).column < Piece(b).column;
    });
    return v;
  }
};

M::SETTINGS Settings(u8 what, u8 to, u8 naming, u8 composite, u8 withoutBevel, u8 hidden, u8 fullCanvas) {
  return M::SETTINGS{what, to, naming, composite, withoutBevel, hidden, fullCanvas};
}

// Plane p of a piece's rendered image, rows of its width.
Bytes ImagePlane(const Cell& c, u32 p) {
  const u32 w = static_cast<u32>(c.rect.right - c.rect.left), h = static_cast<u32>(c.rect.bottom - c.rect.top);
  Bytes out;
  for (u32 y = 0; y < h; ++y) out.insert(out.end(), c.imgPlanes[p] + y * c.imgStrides[p], c.imgPlanes[p] + y * c.imgStrides[p] + w);
  return out;
}

// An RGBA file read by libpng itself.
bool ReadPng(const std::string& path, u32& w, u32& h, Bytes& rgba) {
  png_image img;
  std::memset(&img, 0, sizeof(img));
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path.c_str())) return false;
  img.format = PNG_FORMAT_RGBA;
  rgba.resize(PNG_IMAGE_SIZE(img));
  const bool ok = png_image_finish_read(&img, nullptr, rgba.data(), 0, nullptr) != 0;
  w = img.width, h = img.height;
  return ok;
}

std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> out;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = d ? readdir(d) : nullptr)
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) out.push_back(e->d_name);
  if (d) closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> Written(const CExportRun& run) {
  std::vector<std::string> out;
  for (u32 i = 0; i < run.Written().GetSize(); ++i) out.push_back(run.Written()[i].GetStr());
  return out;
}

std::string Output(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while (p && (n = std::fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
  if (p) pclose(p);
  return out;
}

// Cancels at the n-th report.
struct CancelAt : CKLF_Progress {
  int n, seen = 0;
  explicit CancelAt(int at) : n(at) {}
  i32 Progress(u8, void*) override {
    if (++seen >= n) Cancel();
    return 0;
  }
};

// Every file of a folder with its bytes.
std::vector<std::pair<std::string, Bytes>> Listing(const std::string& dir) {
  std::vector<std::pair<std::string, Bytes>> out;
  for (const std::string& name : Files(dir)) out.emplace_back(name, klftest::ReadFileBytes(dir + "/" + name));
  return out;
}

// A file-size limit for this process while alive, with SIGXFSZ ignored so
// that a write beyond it fails with EFBIG.
struct FileSizeLimit {
  rlimit old;
  void (*oldHandler)(int);
  explicit FileSizeLimit(rlim_t bytes) {
    oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit now = old;
    now.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &now);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
  }
};

// A small tmpfs of its own (needs the right to mount; empty path when not).
struct SmallDisk {
  klftest::TempDir dir;
  std::string path;
  explicit SmallDisk(const char* size) {
    if (mount("tmpfs", dir.Path().c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0) path = dir.Path();
  }
  ~SmallDisk() {
    if (!path.empty()) umount(path.c_str());
  }
};

}  // namespace

// A layered PSD of every piece, hidden ones as hidden layers, read back by
// the project's reader: the layers in row and column order with their
// names, places, visibility, opacity and pixels; then the selection with
// the composite of the unselected shown pieces as its lowest layer.
TEST(ExportRun, LayeredPSDOfARealCut) {
  klftest::TempDir dir;
  Cut cut;
  const std::string path = dir.File("pieces.psd");
  ASSERT_EQ(cut.run.ExportPieces(Settings(M::kAll, M::kToPSD, M::kExtended, 0, 0, 1, 0), path.c_str()), 1);
  EXPECT_EQ(Written(cut.run), std::vector<std::string>({path}));
  const Bytes file = klftest::ReadFileBytes(path);
  CKLF_ImagePSD psd;
  ASSERT_EQ(psd.LParseByPtr(file.data(), static_cast<u32>(file.size())), 1);
  const std::vector<u32> order = cut.Ordered(false, true);
  ASSERT_EQ(psd.GetLayersCount(), order.size());
  for (u32 k = 0; k < order.size(); ++k) {
    const Cell& c = cut.Piece(order[k]);
    CKLF_ImagePSD::PSDLayerInfoExt_s L{};
    ASSERT_EQ(psd.GetLayerInfo(k, L), 1);
    char name[64];
    std::snprintf(name, sizeof(name), "L%u - Piece: %u (R: %u / C: %u)", k + 1, order[k] + 1, c.row, c.column);
    EXPECT_STREQ(L.name, name);
    EXPECT_EQ(std::vector<i32>({L.left, L.top, L.width, L.height, L.visible, L.opacity}),
              std::vector<i32>({c.rect.left + 10, c.rect.top + 5, c.rect.right - c.rect.left, c.rect.bottom - c.rect.top,
                                order[k] == 1 ? 0 : 1, order[k] == 3 ? 128 : 255}));
    for (u32 p = 0; p < 4; ++p) {
      const CKLF_Mem* m = L.planes[p == 3 ? 0 : p + 1];
      ASSERT_EQ(Bytes(m->GetPtr(), m->GetPtr() + m->GetSize()), ImagePlane(c, p)) << "piece " << order[k];
    }
  }

  ASSERT_EQ(cut.run.ExportPieces(Settings(M::kSelected, M::kToPSD, M::kSimple, 1, 0, 0, 0), path.c_str()), 1);
  const Bytes sel = klftest::ReadFileBytes(path);
  ASSERT_EQ(psd.LParseByPtr(sel.data(), static_cast<u32>(sel.size())), 1);
  const std::vector<u32> chosen = cut.Ordered(true, false);
  ASSERT_EQ(psd.GetLayersCount(), chosen.size() + 1);
  CKLF_ImagePSD::PSDLayerInfoExt_s L{};
  ASSERT_EQ(psd.GetLayerInfo(1, L), 1);
  EXPECT_STREQ(L.name, "Layer 1");
  ASSERT_EQ(psd.GetLayerInfo(0, L), 1);
  EXPECT_STREQ(L.name, "Composite");
  // The composite: every piece but the selected (and the hidden) ones,
  // composed as the preview composes them.
  const i32 w = 48, h = 32, n = w * h;
  Bytes want(4 * n, 0);
  u8* planes[4] = {&want[0], &want[n], &want[2 * n], &want[3 * n]};
  std::vector<u8> visible;
  for (u32 i = 0; i < cut.p.engine.GetPieceCount(); ++i) {
    visible.push_back(cut.p.Piece(i).visible);
    if (cut.p.Piece(i).selected) cut.p.Piece(i).visible = 0;
  }
  ASSERT_EQ(cut.p.engine.CombineSplitedCells(w, h, planes, w, 4, nullptr, w, klNullRect, 1, 0, 100), 1);
  for (u32 i = 0; i < visible.size(); ++i) cut.p.Piece(i).visible = visible[i];
  for (u32 p = 0; p < 4; ++p)
    for (i32 y = 0; y < L.height; ++y)
      for (i32 x = 0; x < L.width; ++x)
        ASSERT_EQ(L.planes[p == 3 ? 0 : p + 1]->GetPtr()[y * L.width + x],
                  want[p * n + (y + L.top - 5) * w + x + L.left - 10])
            << p << " " << x << "," << y;
}

// Without the bevel a piece is the piece rendered without it; ImageMagick
// reads the file's layers, names and places (when it is installed).
TEST(ExportRun, WithoutBevelAndReadByImageMagick) {
  klftest::TempDir dir;
  Cut cut;
  const std::string path = dir.File("flat.psd");
  ASSERT_EQ(cut.run.ExportPieces(Settings(M::kAll, M::kToPSD, M::kExtended, 0, 1, 0, 0), path.c_str()), 1);
  const std::vector<u32> order = cut.Ordered(false, false);
  // The reference: each piece rendered as usual with its bevel off.
  for (u32 i = 0; i < cut.p.engine.GetPieceCount(); ++i) {
    Cell& c = cut.p.Piece(i);
    c.bevel[CTessarette::FX_WORKING].enabled = 0;
    ASSERT_EQ(cut.p.engine.RenderPiece(i), 1);
  }
  const Bytes file = klftest::ReadFileBytes(path);
  CKLF_ImagePSD psd;
  ASSERT_EQ(psd.LParseByPtr(file.data(), static_cast<u32>(file.size())), 1);
  for (u32 k : {0u, static_cast<u32>(order.size() - 1)}) {
    CKLF_ImagePSD::PSDLayerInfoExt_s L{};
    ASSERT_EQ(psd.GetLayerInfo(k, L), 1);
    for (u32 p = 0; p < 4; ++p)
      ASSERT_EQ(Bytes(L.planes[p == 3 ? 0 : p + 1]->GetPtr(), L.planes[p == 3 ? 0 : p + 1]->GetPtr() + L.width * L.height),
                ImagePlane(cut.Piece(order[k]), p));
  }
  if (std::system("identify -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick is not installed";
  // The first image is the flattened one, then a layer each.
  const std::string listed = Output("identify -format '%l|%X|%Y|%w|%h\\n' '" + path + "' 2>/dev/null");
  std::vector<std::string> lines;
  for (size_t at = 0, nl; (nl = listed.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(listed.substr(at, nl - at));
  ASSERT_EQ(lines.size(), order.size() + 1) << listed;
  for (u32 k = 0; k < order.size(); ++k) {
    const Cell& c = cut.Piece(order[k]);
    char want[160];
    std::snprintf(want, sizeof(want), "L%u - Piece: %u (R: %u / C: %u)|+%d|+%d|%d|%d", k + 1, order[k] + 1, c.row,
                  c.column, c.rect.left + 10, c.rect.top + 5, c.rect.right - c.rect.left, c.rect.bottom - c.rect.top);
    EXPECT_EQ(lines[k + 1], want);
  }
  // The pixels of two full-opacity layers as ImageMagick decodes them.
  for (u32 k : {0u, static_cast<u32>(order.size() - 1)}) {
    ASSERT_NE(order[k], 3u);
    const Cell& c = cut.Piece(order[k]);
    const std::string raw = Output("convert '" + path + "[" + std::to_string(k + 1) + "]' -depth 8 rgba:- 2>/dev/null");
    const Bytes alpha = ImagePlane(c, 3);
    ASSERT_EQ(raw.size(), 4 * alpha.size());
    for (size_t i = 0; i < alpha.size(); ++i) {
      ASSERT_EQ(static_cast<u8>(raw[4 * i + 3]), alpha[i]);
      for (u32 p = 0; p < 3 && alpha[i]; ++p) ASSERT_EQ(static_cast<u8>(raw[4 * i + p]), ImagePlane(c, p)[i]);
    }
  }
}

// One PNG a piece, on the document's canvas at the piece's place or its
// own rectangle, read back by libpng; the opacity scales the alpha; the
// bytes do not depend on the threads; nothing but the files is left.
TEST(ExportRun, PNGFilesOnTheCanvasAndCropped) {
  klftest::TempDir one, many;
  Cut cut;
  const std::vector<u32> order = cut.Ordered(false, false);
  cut.run.SetThreads(1);
  ASSERT_EQ(cut.run.ExportPieces(Settings(M::kAll, M::kToPNG, M::kSimple, 0, 0, 1, 1), one.File("set.png").c_str()), 1);
  cut.run.SetThreads(4);
  ASSERT_EQ(cut.run.ExportPieces(Settings(M::kAll, M::kToPNG, M::kSimple, 0, 0, 1, 1), many.File("set.PNG").c_str()),
            1);
  std::vector<std::string> names;
  for (u32 k = 0; k < order.size(); ++k) {
    char name[32];
    std::snprintf(name, sizeof(name), "set_%04u.png", k + 1);
    names.push_back(name);
  }
  EXPECT_EQ(Files(one.Path()), names);
  ASSERT_EQ(Files(many.Path()), names);
  for (u32 k = 0; k < order.size(); ++k) {
    EXPECT_EQ(Written(cut.run)[k], many.File(names[k]));
    ASSERT_EQ(klftest::ReadFileBytes(one.File(names[k])), klftest::ReadFileBytes(many.File(names[k])));
    u32 w = 0, h = 0;
    Bytes rgba;
    ASSERT_TRUE(ReadPng(one.File(names[k]), w, h, rgba));
    ASSERT_EQ(std::vector<u32>({w, h}), std::vector<u32>({64, 40}));
    const Cell& c = cut.Piece(order[k]);
    const u32 rw = static_cast<u32>(c.rect.right - c.rect.left);
    for (u32 y = 0; y < h; ++y)
      for (u32 x = 0; x < w; ++x) {
        const i32 px = static_cast<i32>(x) - 10 - c.rect.left, py = static_cast<i32>(y) - 5 - c.rect.top;
        const bool in = px >= 0 && py >= 0 && px < static_cast<i32>(rw) && py < c.rect.bottom - c.rect.top;
        for (u32 p = 0; p < 4; ++p) {
          u32 v = in ? c.imgPlanes[p][py * c.imgStrides[p] + px] : (p == 3 ? 0 : 255);
          if (in && p == 3 && order[k] == 3) v = v * 128 / 255;
          ASSERT_EQ(rgba[4 * (y * w + x) + p], v) << names[k] << " " << x << "," << y;
        }
      }
  }
  // Cropped: the piece's own rectangle.
  klftest::TempDir own;
  ASSERT_EQ(cut.run.ExportPieces(Settings(M::kAll, M::kToPNG, M::kExtended, 0, 0, 0, 0), own.File("p").c_str()), 1);
  const Cell& c = cut.Piece(order[1]);
  char name[64];
  std::snprintf(name, sizeof(name), "p_F0002-Piece%u_R%u_C%u.png", order[1] + 1, c.row, c.column);
  u32 w = 0, h = 0;
  Bytes rgba;
  ASSERT_TRUE(ReadPng(own.File(name), w, h, rgba));
  ASSERT_EQ(w, static_cast<u32>(c.rect.right - c.rect.left));
  for (u32 p = 0; p < 4; ++p) {
    const Bytes plane = ImagePlane(c, p);
    for (size_t i = 0; i < plane.size(); ++i) ASSERT_EQ(rgba[4 * i + p], plane[i]);
  }
}

// A piece with nothing on the canvas makes no file and counts as skipped.
// A file that cannot be put in place fails the export with the alert and
// its reason; the files written before it are listed and stay, an earlier
// file of a target's name stays as it was, and no temporary file is left,
// after a failure as after a cancel.
TEST(ExportRun, SkippedPiecesAndFilesReplacedAllOrNothing) {
  klftest::TempDir dir;
  Cut cut;
  const std::vector<u32> order = cut.Ordered(false, false);
  // Only x 0..30 of the pieces' area lies on a 40-wide document at x 10.
  cut.run.SetDocument({40, 40, 10, 5, 72.0, 0.0, nullptr, 0});
  ASSERT_EQ(cut.run.ExportPieces(Settings(M::kAll, M::kToPNG, M::kSimple, 0, 0, 0, 1), dir.File("s.png").c_str()), 1);
  u32 off = 0;
  for (u32 k = 0; k < order.size(); ++k) {
    const bool gone = cut.Piece(order[k]).rect.left + 10 >= 40;
    off += gone;
    char name[32];
    std::snprintf(name, sizeof(name), "s_%04u.png", k + 1);
    struct stat st;
    EXPECT_EQ(stat(dir.File(name).c_str(), &st) == 0, !gone) << name;
  }
  ASSERT_GT(off, 0u);
  EXPECT_EQ(cut.run.Skipped(), off);
  EXPECT_EQ(Written(cut.run).size(), order.size() - off);

  // The third file's name is a folder: no file of the set is replaced.
  klftest::TempDir bad;
  ASSERT_EQ(mkdir(bad.File("b_0003.png").c_str(), 0755), 0);
  ASSERT_TRUE(klftest::WriteFileBytes(bad.File("b_0001.png"), {1, 2, 3}));
  cut.run.SetDocument({64, 40, 10, 5, 72.0, 0.0, nullptr, 0});
  cut.run.SetThreads(1);
  EXPECT_FAILS(cut.run, cut.run.ExportPieces(Settings(M::kAll, M::kToPNG, M::kSimple, 0, 0, 0, 1), bad.File("b").c_str()),
               klErrFileWrite);
  EXPECT_EQ(std::string(cut.run.Reason()), "b_0003.png: Is a directory");
  EXPECT_EQ(cut.alerts, std::vector<std::string>({"Cannot write file..."}));
  EXPECT_TRUE(Written(cut.run).empty());
  EXPECT_EQ(Files(bad.Path()), std::vector<std::string>({"b_0001.png", "b_0003.png"}));
  EXPECT_EQ(klftest::ReadFileBytes(bad.File("b_0001.png")), Bytes({1, 2, 3}));

  // A cancelled PSD export leaves the earlier file.
  const Bytes earlier = {9, 8, 7};
  ASSERT_TRUE(klftest::WriteFileBytes(dir.File("keep.psd"), earlier));
  const std::vector<std::string> before = Files(dir.Path());
  for (int at : {1, 3, 6}) {
    CancelAt cancel(at);
    cut.run.SetProgress(&cancel);
    EXPECT_FAILS(cut.run, cut.run.ExportPieces(Settings(M::kAll, M::kToPSD, M::kSimple, 0, 1, 0, 0),
                                               dir.File("keep.psd").c_str()),
                 0);
    EXPECT_EQ(klftest::ReadFileBytes(dir.File("keep.psd")), earlier) << at;
    EXPECT_EQ(Files(dir.Path()), before) << at;
  }
}

// Names never leave the chosen folder and fit its name length, whatever
// the chosen name holds.
TEST(ExportRun, NamesStayInTheFolder) {
  CKLF_String out;
  const struct {
    const char* base;
    const char* want;
  } cases[] = {{"..", "_."}, {"../x", "_._x"}, {"a\\..\\b", "a_._b"}, {".hidden", "_hidden"},
               {"tab\there", "tab_here"}, {"", "Pieces"}, {"ok name", "ok name"}, {"a...b", "a.b"}};
  for (const auto& c : cases) {
    ASSERT_TRUE(CExportRun::SafeFileName(c.base, "_0001", ".png", 255, out));
    EXPECT_EQ(std::string(out.GetStr()), std::string(c.want) + "_0001.png") << c.base;
  }
  // A long name of two-byte characters is cut between characters.
  std::string longBase;
  for (int i = 0; i < 200; ++i) longBase += "\xC3\xA9";
  ASSERT_TRUE(CExportRun::SafeFileName(longBase.c_str(), "_F0001-Piece1_R1_C1", ".png", 255, out));
  EXPECT_LE(out.GetLength(), 255u);
  const std::string s = out.GetStr();
  const size_t cut = s.find("_F0001");
  EXPECT_EQ(cut % 2, 0u);
  EXPECT_EQ(s.substr(cut), "_F0001-Piece1_R1_C1.png");

  klftest::TempDir dir;
  Cut cut2;
  const std::string chosen = dir.File("..\\.." + longBase + ".png");
  ASSERT_EQ(cut2.run.ExportPieces(Settings(M::kSelected, M::kToPNG, M::kExtended, 1, 0, 0, 1), chosen.c_str()), 1);
  const std::vector<std::string> files = Files(dir.Path());
  ASSERT_EQ(files.size(), Written(cut2.run).size());
  for (const std::string& f : files) {
    EXPECT_LE(f.size(), 255u);
    EXPECT_EQ(f.find(".."), std::string::npos) << f;
    EXPECT_EQ(f.find('\\'), std::string::npos) << f;
  }
  EXPECT_NE(std::find_if(files.begin(), files.end(), [](const std::string& f) { return f.find("_Composite.png") != std::string::npos; }),
            files.end());
}

// One merged image of every shown piece; what cannot be exported is
// refused before any file is made.
TEST(ExportRun, MergedAndRefusals) {
  klftest::TempDir dir;
  Cut cut;
  ASSERT_EQ(cut.run.ExportPieces(Settings(M::kMerged, M::kToPNG, M::kSimple, 0, 0, 0, 0), dir.File("all.png").c_str()),
            1);
  EXPECT_EQ(Files(dir.Path()), std::vector<std::string>({"all.png"}));
  u32 w = 0, h = 0;
  Bytes rgba;
  ASSERT_TRUE(ReadPng(dir.File("all.png"), w, h, rgba));
  EXPECT_EQ(std::vector<u32>({w, h}), std::vector<u32>({48, 32}));
  ASSERT_EQ(cut.run.ExportPieces(Settings(M::kMerged, M::kToPSD, M::kSimple, 0, 0, 0, 0), dir.File("all.psd").c_str()),
            1);
  const Bytes file = klftest::ReadFileBytes(dir.File("all.psd"));
  CKLF_ImagePSD psd;
  ASSERT_EQ(psd.LParseByPtr(file.data(), static_cast<u32>(file.size())), 1);
  CKLF_ImagePSD::PSDLayerInfoExt_s L{};
  ASSERT_EQ(psd.GetLayersCount(), 1u);
  ASSERT_EQ(psd.GetLayerInfo(0, L), 1);
  EXPECT_STREQ(L.name, "Merged");

  for (u32 i = 0; i < cut.p.engine.GetPieceCount(); ++i) cut.p.Piece(i).visible = 0;
  EXPECT_FAILS(cut.run, cut.run.ExportPieces(Settings(M::kAll, M::kToPNG, M::kSimple, 0, 0, 0, 1), dir.File("x").c_str()),
               klErrEmpty);
  puzzletest::Puzzle grey(2, 2, 32, 32, 0);
  CExportRun run(grey.engine);
  EXPECT_FAILS(run, run.ExportPieces(Settings(M::kAll, M::kToPSD, M::kSimple, 0, 0, 0, 0), dir.File("g.psd").c_str()),
               klErrUnsupported);
  EXPECT_EQ(Files(dir.Path()), std::vector<std::string>({"all.png", "all.psd"}));
}

// The names a PNG export would write, told before it writes any: the very
// files it then writes, in order, for every way of choosing and naming.
TEST(ExportRun, PlannedPNGNamesAreTheFilesWritten) {
  const M::SETTINGS settings[] = {Settings(M::kAll, M::kToPNG, M::kExtended, 0, 0, 0, 1),
                                  Settings(M::kSelected, M::kToPNG, M::kSimple, 1, 0, 0, 1),
                                  Settings(M::kSelected, M::kToPNG, M::kExtended, 0, 1, 0, 0),
                                  Settings(M::kMerged, M::kToPNG, M::kSimple, 0, 0, 0, 1)};
  for (const char* name : {"p.png", "..\\.hidden.PNG", "noext"}) {
    for (const M::SETTINGS& s : settings) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(s.what) + std::to_string(s.naming));
      klftest::TempDir dir;
      Cut cut;
      CKLF_StringArray planned;
      ASSERT_EQ(cut.run.PNGFileNames(s, dir.File(name).c_str(), planned), 1);
      EXPECT_TRUE(Files(dir.Path()).empty());
      std::vector<std::string> names;
      for (u32 i = 0; i < planned.GetSize(); ++i) names.push_back(planned[i].GetStr());
      ASSERT_EQ(cut.run.ExportPieces(s, dir.File(name).c_str()), 1);
      EXPECT_EQ(names, Written(cut.run));
      EXPECT_FALSE(names.empty());
    }
  }
}

namespace {

// Whether name is one a PNG export to path makes, the two steps at once.
bool IsPNGFileName(const char* path, const char* name, u8 cut) {
  CKLF_String base;
  EXPECT_TRUE(CExportRun::PNGFileBase(path, base));
  return CExportRun::IsPNGFileNameOf(base.GetStr(), name, cut);
}

}  // namespace

// The names an export to a path makes, whatever the layout, choice and
// naming, are known as its own from the path alone, whole or cut where a
// temporary's name cuts them; names of other paths or shapes are not.
TEST(ExportRun, NamesOfAnyPNGExportAreKnownByItsPath) {
  const M::SETTINGS settings[] = {Settings(M::kAll, M::kToPNG, M::kExtended, 0, 0, 0, 1),
                                  Settings(M::kSelected, M::kToPNG, M::kSimple, 1, 0, 0, 1),
                                  Settings(M::kMerged, M::kToPNG, M::kSimple, 0, 0, 0, 1)};
  std::string longBase;
  for (int i = 0; i < 130; ++i) longBase += "\xC3\xA9";
  Cut cut;
  for (const std::string& path : {std::string("d/p.png"), std::string("d/..\\.hidden.PNG"), std::string("d/noext"),
                                  "d/" + longBase + ".png", "d/" + std::string(228, 'x') + ".png"}) {
    for (const M::SETTINGS& s : settings) {
      SCOPED_TRACE(path.substr(0, 20) + " " + std::to_string(s.what));
      CKLF_StringArray names;
      ASSERT_EQ(cut.run.PNGFileNames(s, path.c_str(), names), 1);
      for (u32 i = 0; i < names.GetSize(); ++i) {
        const std::string name = names[i].GetStr() + 2;
        EXPECT_TRUE(IsPNGFileName(path.c_str(), name.c_str(), 0)) << name;
        EXPECT_TRUE(IsPNGFileName(path.c_str(), name.substr(0, 231).c_str(), 1)) << name;
        EXPECT_FALSE(IsPNGFileName("d/q.png", name.c_str(), 0)) << name;
        EXPECT_EQ(IsPNGFileName(path.c_str(), (name + ".old").c_str(), 0), 0) << name;
      }
    }
  }
  for (const char* name : {"p_001.png", "p_0001_x.png", "p_F0001-Piece1_R1.png", "p.PNG", "pp.png", "p_Composite",
                           "p_F0001-Piece_R1_C1.png", "q_0001.png", "p_0001.png.tsr-tmp.1.Ab12Cd", ".p_0001.png"})
    EXPECT_FALSE(IsPNGFileName("p.png", name, 0)) << name;
  for (const char* name : {"p.png", "p_0001.png", "p_123456.png", "p_Composite.png", "p_F12345-Piece9_R2_C3.png"})
    EXPECT_TRUE(IsPNGFileName("p.png", name, 0)) << name;
  EXPECT_TRUE(IsPNGFileName("p.png", "p_F00", 1));
  EXPECT_FALSE(IsPNGFileName("p.png", "p_x", 1));
}

// A write that fails part way through the set (a file-size limit; a full
// disk where a small one can be mounted) leaves the folder as it was,
// though it held an earlier export of another layout under the same and
// other names, and names the system's reason; on one thread and on many.
TEST(ExportRun, AFailedWriteLeavesTheFolderAsItWas) {
  puzzletest::Puzzle p{8, 6, 400, 300};
  CExportRun run(p.engine);
  run.SetDocument({400, 300, 0, 0, 72.0, 0.0, nullptr, 0});
  const M::SETTINGS all = Settings(M::kAll, M::kToPNG, M::kSimple, 0, 0, 0, 0);
  klftest::TempDir sizes;
  ASSERT_EQ(run.ExportPieces(all, sizes.File("p.png").c_str()), 1);
  std::vector<off_t> size;
  for (const std::string& file : Written(run)) {
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    size.push_back(st.st_size);
  }
  ASSERT_EQ(size.size(), 48u);
  std::sort(size.begin(), size.end());
  ASSERT_LT(size[8], size[40]);

  klftest::TempDir dir;
  for (u32 k = 1; k <= 60; k += 3) {
    char name[16];
    std::snprintf(name, sizeof(name), "p_%04u.png", k);
    ASSERT_TRUE(klftest::WriteFileBytes(dir.File(name), Bytes(k, static_cast<u8>(k))));
  }
  const auto before = Listing(dir.Path());
  for (u32 threads : {1u, 8u, 64u}) {
    SCOPED_TRACE(threads);
    run.SetThreads(threads);
    {
      // Most files fit, a few do not.
      FileSizeLimit limit(static_cast<rlim_t>(size[40]));
      EXPECT_FAILS(run, run.ExportPieces(all, dir.File("p.png").c_str()), klErrFileWrite);
    }
    EXPECT_NE(std::string(run.Reason()).find(": File too large"), std::string::npos) << run.Reason();
    EXPECT_TRUE(Written(run).empty());
    EXPECT_EQ(Listing(dir.Path()), before);
  }

  SmallDisk disk("96k");
  if (disk.path.empty()) return;  // no right to mount: the limit above stands in
  for (u32 k = 1; k <= 4; ++k)
    ASSERT_TRUE(klftest::WriteFileBytes(disk.path + "/p_000" + std::to_string(k) + ".png", Bytes(100, 1)));
  const auto full = Listing(disk.path);
  for (u32 threads : {1u, 64u}) {
    run.SetThreads(threads);
    EXPECT_FAILS(run, run.ExportPieces(all, (disk.path + "/p.png").c_str()), klErrFileWrite);
    EXPECT_NE(std::string(run.Reason()).find("No space left on device"), std::string::npos) << run.Reason();
    EXPECT_EQ(Listing(disk.path), full) << threads;
  }
}

// One merged file of about 4.5 MB written on eight threads, its image data
// written in chunks of 1 MiB by whichever thread sent the band that filled
// one: the thread whose write failed gives the reason.
TEST(ExportRun, AFailedWriteOnManyThreadsNamesTheSystemsReason) {
  puzzletest::Puzzle p{4, 3, 1500, 1000};
  CExportRun run(p.engine);
  run.SetDocument({1500, 1000, 0, 0, 72.0, 0.0, nullptr, 0});
  run.SetThreads(8);
  klftest::TempDir dir;
  for (rlim_t bytes : {1000000, 2000000, 3000000, 4000000}) {
    FileSizeLimit limit(bytes);
    EXPECT_FAILS(run, run.ExportPieces(Settings(M::kMerged, M::kToPNG, M::kSimple, 0, 0, 0, 1), dir.File("m.png").c_str()),
                 klErrFileWrite);
    EXPECT_EQ(std::string(run.Reason()), "m.png: File too large") << bytes;
  }
  {
    FileSizeLimit limit(20000);
    EXPECT_FAILS(run, run.ExportPieces(Settings(M::kAll, M::kToPSD, M::kSimple, 0, 0, 0, 1), dir.File("m.psd").c_str()),
                 klErrFileWrite);
    EXPECT_EQ(std::string(run.Reason()), "File too large");
  }
  EXPECT_TRUE(Files(dir.Path()).empty());
}

// Memory running out while pieces are written, on the helpers alone or at
// one allocation after another on any thread: the export fails as out of
// memory (17), with no alert of its own (the caller tells), and leaves no
// file and no temporary; nothing is thrown out of it.
TEST(ExportRun, MemoryRunningOutOnAnyThreadIsOutOfMemoryAndLeavesNothing) {
  puzzletest::Puzzle p{4, 3, 160, 120};
  CExportRun run(p.engine);
  std::vector<std::string> alerts;
  run.SetAlert(
      [](const char* text, const char*, void* user) { static_cast<std::vector<std::string>*>(user)->push_back(text); },
      &alerts);
  run.SetDocument({160, 120, 0, 0, 72.0, 0.0, nullptr, 0});
  run.SetThreads(4);
  klftest::TempDir dir;
  const M::SETTINGS png = Settings(M::kAll, M::kToPNG, M::kSimple, 0, 0, 0, 1);
  const std::string path = dir.File("p.png");
  {
    klftest::FailingAllocations failing(klftest::FailingAllocations::kOtherThreads, 0);
    EXPECT_FAILS(run, run.ExportPieces(png, path.c_str()), klErrNoMemory);
    EXPECT_GT(failing.Failed(), 0u);
  }
  EXPECT_TRUE(Files(dir.Path()).empty());
  EXPECT_TRUE(alerts.empty());

  for (const M::SETTINGS& s : {Settings(M::kAll, M::kToPSD, M::kSimple, 0, 0, 0, 1), png}) {
    u32 failures = 0;
    // The PSD's every allocation, the PNG files' further apart.
    for (uint64_t after = 0;; after += s.to == M::kToPSD ? 1 : 1 + after / 4) {
      SCOPED_TRACE(std::to_string(s.to) + " " + std::to_string(after));
      const std::string target = dir.File(s.to == M::kToPSD ? "p.psd" : "p.png");
      u8 ok = 0;
      uint64_t failed = 0;
      bool threw = false;
      {
        klftest::FailingAllocations failing(klftest::FailingAllocations::kAnyThread, after);
        try {
          ok = run.ExportPieces(s, target.c_str());
        } catch (...) {
          threw = true;
        }
        failed = failing.Failed();
      }
      ASSERT_FALSE(threw);
      if (!ok) {
        ++failures;
        EXPECT_EQ(run.GetError(), klErrNoMemory) << run.Reason();
        EXPECT_EQ(Files(dir.Path()), std::vector<std::string>());
      }
      for (const std::string& f : Files(dir.Path())) std::remove(dir.File(f).c_str());
      if (!failed) break;
      ASSERT_LT(after, 1000000u);
    }
    EXPECT_GT(failures, 5u);
  }
  EXPECT_TRUE(alerts.empty());
}
