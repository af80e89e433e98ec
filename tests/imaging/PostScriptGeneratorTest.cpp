#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "CKLF_2DMath.h"
#include "CKLF_PostScriptGenerator.h"
#include "support/TestSupport.h"

namespace {

struct Box {
  f64 l, b, r, t;
};

// Ghostscript's measure of the marks a document makes ("bbox" device),
// drawn shifted by 1000 so that no mark falls below the page's origin.
// False when Ghostscript does not run or reports an error.
bool GhostscriptBox(const std::string& path, Box& box) {
  const std::string cmd =
      "gs -dSAFER -q -dNOPAUSE -dBATCH -sDEVICE=bbox -c '1000 1000 translate' -f '" + path + "' 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return false;
  std::string out;
  char buf[256];
  while (std::fgets(buf, sizeof(buf), p)) out += buf;
  const bool ran = pclose(p) == 0 && out.find("Error") == std::string::npos;
  const size_t at = out.find("%%HiResBoundingBox:");
  if (!ran || at == std::string::npos ||
      std::sscanf(out.c_str() + at, "%%%%HiResBoundingBox: %lf %lf %lf %lf", &box.l, &box.b, &box.r, &box.t) != 4)
    return false;
  box = {box.l - 1000, box.b - 1000, box.r - 1000, box.t - 1000};
  return true;
}

Box HeaderBox(const std::string& doc) {
  Box h = {0, 0, 0, 0};
  const size_t at = doc.find("%%HiResBoundingBox:");
  if (at != std::string::npos) std::sscanf(doc.c_str() + at, "%%%%HiResBoundingBox: %lf %lf %lf %lf", &h.l, &h.b, &h.r, &h.t);
  return h;
}

// The knife's marks measured plainly: the cubic spans sampled densely in
// Bernstein form, y negated, widened by half the 1-unit stroke.
Box KnifeBox(const std::vector<kltFPOS>& pts, const kltFPOS* ctl) {
  Box k = {1e9, 1e9, -1e9, -1e9};
  for (size_t i = 0; i + 1 < pts.size(); ++i)
    for (int s = 0; s <= 4000; ++s) {
      const f64 t = s / 4000.0, u = 1 - t;
      const kltFPOS a = pts[i], b = ctl[2 * i], c = ctl[2 * i + 1], d = pts[i + 1];
      const f64 x = u * u * u * a.x + 3 * u * u * t * b.x + 3 * u * t * t * c.x + t * t * t * d.x;
      const f64 y = -(u * u * u * a.y + 3 * u * u * t * b.y + 3 * u * t * t * c.y + t * t * t * d.y);
      k = {std::fmin(k.l, x), std::fmin(k.b, y), std::fmax(k.r, x), std::fmax(k.t, y)};
    }
  return {k.l - 0.5, k.b - 0.5, k.r + 0.5, k.t + 0.5};
}

void ExpectBox(const Box& got, const Box& want, f64 tol, const char* what) {
  EXPECT_NEAR(got.l, want.l, tol) << what;
  EXPECT_NEAR(got.b, want.b, tol) << what;
  EXPECT_NEAR(got.r, want.r, tol) << what;
  EXPECT_NEAR(got.t, want.t, tol) << what;
}

}  // namespace

// A knob knife (spans of unequal length, bulging past its control points'
// hull nowhere and past its knots everywhere) as EPS and as AI: Ghostscript
// reads both, and the box it measures, the box the header declares and the
// knife's own agree.
TEST(PostScriptGenerator, GhostscriptReadsTheKnifeWithItsBoundingBox) {
  if (std::system("gs --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "Ghostscript (gs) is not installed";
  const CKLF_2DMath::KLSPLINEPOINT k[7] = {{0, 0, 0, 0},       {40, 2, 0.5f, 0},  {33, 30, 0.7f, 0}, {55, 45, 1.0f, 0},
                                           {77, 30, 0.7f, 0}, {70, 2, 0.5f, 0}, {130, 0, 0, 0}};
  CKLF_2DMath g;
  CKLF_Mem ctl;
  u32 n = 0;
  ASSERT_EQ(g.CalcBezierPointSpline(k, 7, &ctl, n), 1);
  std::vector<kltFPOS> pts;
  for (const auto& p : k) pts.push_back({p.x, p.y});
  const kltFPOS* c = reinterpret_cast<const kltFPOS*>(ctl.GetPtr());
  const Box knife = KnifeBox(pts, c);
  klftest::TempDir dir;
  for (bool ai : {false, true}) {
    CKLF_PostScriptGenerator ps;
    CKLF_String out;
    ASSERT_EQ(ai ? ps.AI_AddPath(pts.data(), c, 7) : ps.EPS_AddPath(pts.data(), c, 7), 1);
    ASSERT_EQ(ai ? ps.AI_GetData(&out) : ps.EPS_GetData(&out), 1);
    const std::string doc = out.GetStr();
    EXPECT_NE(doc.find(ai ? "0.000 0.000 m\n" : "newpath\n0.000 0.000 moveto\n"), std::string::npos) << doc;
    EXPECT_NE(doc.find(ai ? " c\nS\n" : " curveto\nstroke\n"), std::string::npos) << doc;
    const std::string path = dir.File(ai ? "knife.ai" : "knife.eps");
    ASSERT_TRUE(klftest::WriteFileBytes(path, std::vector<uint8_t>(doc.begin(), doc.end())));
    Box measured;
    ASSERT_TRUE(GhostscriptBox(path, measured)) << doc;
    ExpectBox(HeaderBox(doc), knife, 1e-3, ai ? "AI header" : "EPS header");
    // The bbox device measures at 4000 dpi, a step of 0.018 units.
    ExpectBox(measured, knife, 0.05, ai ? "AI by Ghostscript" : "EPS by Ghostscript");
  }
}

TEST(PostScriptGenerator, StraightPathsCleanAndRefusals) {
  CKLF_PostScriptGenerator ps;
  const kltFPOS pts[3] = {{10, 20}, {30, 25}, {-5, 40}};
  ASSERT_EQ(ps.AI_AddPath(pts, nullptr, 3), 1);
  CKLF_String out;
  ASSERT_EQ(ps.AI_GetData(&out), 1);
  std::string s = out.GetStr();
  EXPECT_NE(s.find("%%BoundingBox: -6 -41 31 -19\n"), std::string::npos) << s;
  EXPECT_NE(s.find("10.000 -20.000 m\n30.000 -25.000 l\n-5.000 -40.000 l\nS\n%%PageTrailer"), std::string::npos) << s;

  EXPECT_FAILS(ps, ps.AI_AddPath(pts, nullptr, 1), klErrBadArg);
  const kltFPOS bad[2] = {{0, 0}, {NAN, 1}};
  EXPECT_EQ(ps.EPS_AddPath(bad, nullptr, 2), 0);
  EXPECT_EQ(ps.EPS_GetData(nullptr), 0);

  ps.Clean();
  EXPECT_EQ(ps.GetError(), 0);
  ASSERT_EQ(ps.EPS_GetData(&out), 1);
  s = out.GetStr();
  EXPECT_NE(s.find("%%BoundingBox: 0 0 0 0\n"), std::string::npos);
  EXPECT_EQ(s.find("stroke"), std::string::npos);
}
