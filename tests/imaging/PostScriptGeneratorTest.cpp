#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "CKLF_2DMath.h"
#include "CKLF_PostScriptGenerator.h"
#include "support/TestSupport.h"

using klftest::ExpectBox;
using klftest::PSBox;

// A knob knife (spans of unequal length, bulging past its control points'
// hull nowhere and past its knots everywhere) as EPS and as AI: Ghostscript
// reads both, and the box it measures, the box the header declares and the
// knife's own, moved to the origin, agree.
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
  const PSBox placed = klftest::CubicPathBox(pts, c);
  const PSBox knife = {0, 0, placed.r - placed.l, placed.t - placed.b};
  klftest::TempDir dir;
  for (bool ai : {false, true}) {
    CKLF_PostScriptGenerator ps;
    CKLF_String out;
    ASSERT_EQ(ai ? ps.AI_AddPath(pts.data(), c, 7) : ps.EPS_AddPath(pts.data(), c, 7), 1);
    ASSERT_EQ(ai ? ps.AI_GetData(&out) : ps.EPS_GetData(&out), 1);
    const std::string doc = out.GetStr();
    // The first point, (0, 0) in the image, moved with the box.
    double mx = 0, my = 0;
    const size_t move = doc.find(ai ? " m\n" : " moveto\n");
    ASSERT_NE(move, std::string::npos) << doc;
    ASSERT_EQ(2, std::sscanf(doc.c_str() + doc.rfind('\n', move) + 1, "%lf %lf", &mx, &my));
    EXPECT_NEAR(mx, -placed.l, 1e-3);
    EXPECT_NEAR(my, -placed.b, 1e-3);
    EXPECT_NE(doc.find(ai ? " c\nS\n" : " curveto\nstroke\n"), std::string::npos) << doc;
    const std::string path = dir.File(ai ? "knife.ai" : "knife.eps");
    ASSERT_TRUE(klftest::WriteFileBytes(path, std::vector<uint8_t>(doc.begin(), doc.end())));
    PSBox measured;
    ASSERT_TRUE(klftest::GhostscriptBox(path, measured)) << doc;
    ExpectBox(klftest::HeaderBox(doc), knife, 1e-3, ai ? "AI header" : "EPS header");
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
  // Turned over and moved by (5.5, 40.5): the marks from the origin.
  EXPECT_NE(s.find("%%BoundingBox: 0 0 36 21\n%%HiResBoundingBox: 0 0 36.000 21.000\n"), std::string::npos) << s;
  EXPECT_NE(s.find("15.500 20.500 m\n35.500 15.500 l\n0.500 0.500 l\nS\n%%PageTrailer"), std::string::npos) << s;

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

// Thousands of curved knives (a fine layout's export) come out whole and in
// order, one path after the other.
TEST(PostScriptGenerator, ThousandsOfKnivesComeOutWhole) {
  CKLF_PostScriptGenerator ps;
  const u32 kKnives = 3000, kPoints = 20;
  std::vector<kltFPOS> pts(kPoints), ctl(2 * (kPoints - 1));
  for (u32 k = 0; k < kKnives; ++k) {
    for (u32 i = 0; i < kPoints; ++i) pts[i] = {static_cast<f64>(i), static_cast<f64>(k)};
    for (u32 i = 0; i < ctl.size(); ++i) ctl[i] = {i * 0.5, k + 0.25};
    ASSERT_EQ(ps.EPS_AddPath(pts.data(), ctl.data(), kPoints), 1) << k;
  }
  CKLF_String out;
  ASSERT_EQ(ps.EPS_GetData(&out), 1);
  const std::string s = out.GetStr();
  ASSERT_EQ(s.size(), out.GetLength());
  size_t strokes = 0, curves = 0;
  for (size_t at = 0; (at = s.find("\nstroke\n", at)) != std::string::npos; ++at) ++strokes;
  for (size_t at = 0; (at = s.find(" curveto\n", at)) != std::string::npos; ++at) ++curves;
  EXPECT_EQ(strokes, kKnives);
  EXPECT_EQ(curves, kKnives * (kPoints - 1));
  // The first knife at the top: the curves reach 0.1875 below the last.
  EXPECT_NE(s.find("newpath\n0.500 2999.688 moveto\n"), std::string::npos);
  EXPECT_NE(s.find("newpath\n0.500 0.688 moveto\n"), std::string::npos);
  EXPECT_EQ(s.compare(s.size() - 22, 22, "stroke\nshowpage\n%%EOF\n"), 0);
}

// Every number as the C library's "%.3f" prints it: exact ties on binary
// sixteenths (which round to even) and random values of every size, in
// curved paths inside a frame from (0.5, 0.5), so that the text's numbers
// are x and top - y.
TEST(PostScriptGenerator, NumbersReadAsTheCLibraryPrintsThem) {
  std::mt19937 g(7);
  const f64 kTop = 1e9;
  auto value = [&]() {
    return g() % 2 ? 0.5 + (g() % 4000) / 16.0
                   : 0.5 + std::ldexp(static_cast<f64>(g()) / 4294967296.0, static_cast<int>(g() % 30));
  };
  CKLF_PostScriptGenerator ps;
  const kltFPOS frame[3] = {{0.5, 0.5}, {kTop, kTop}, {0.5, kTop}};
  ASSERT_EQ(ps.EPS_AddPath(frame, nullptr, 3), 1);
  std::string want;
  char n[64];
  for (int path = 0; path < 300; ++path) {
    std::vector<kltFPOS> pts(2 + g() % 5), ctl(2 * (pts.size() - 1));
    for (kltFPOS& p : pts) p = {value(), value()};
    for (kltFPOS& c : ctl) c = {value(), value()};
    ASSERT_EQ(ps.EPS_AddPath(pts.data(), ctl.data(), static_cast<u32>(pts.size())), 1);
    for (size_t i = 0; i < 3 * pts.size() - 2; ++i) {
      const kltFPOS p = i == 0 ? pts[0] : i % 3 ? ctl[i - 1 - i / 3] : pts[i / 3];
      std::snprintf(n, sizeof(n), "%.3f %.3f ", p.x, kTop + 0.5 - p.y);
      want += (i == 0 ? "newpath\n" : "") + std::string(n) + (i == 0 ? "moveto\n" : i % 3 ? "" : "curveto\n");
    }
    want += "stroke\n";
  }
  CKLF_String out;
  ASSERT_EQ(ps.EPS_GetData(&out), 1);
  EXPECT_NE(std::string(out.GetStr()).find(want), std::string::npos);
}
