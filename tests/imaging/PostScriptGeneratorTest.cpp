#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "CKLF_2DMath.h"
#include "CKLF_PostScriptGenerator.h"

TEST(PostScriptGenerator, EpsPathWithCurvesAndBoundingBox) {
  CKLF_2DMath g;
  const CKLF_2DMath::KLSPLINEPOINT k[3] = {{0, 0, 0.5f, 0}, {6, 0, 0.5f, 0}, {6, 6, 1.0f, 0}};
  CKLF_Mem ctl;
  u32 n = 0;
  ASSERT_EQ(g.CalcBezierPointSpline(k, 3, &ctl, n), 1);
  const kltFPOS pts[3] = {{0, 0}, {6, 0}, {6, 6}};
  CKLF_PostScriptGenerator ps;
  ASSERT_EQ(ps.EPS_AddPath(pts, reinterpret_cast<const kltFPOS*>(ctl.GetPtr()), 3), 1);
  CKLF_String out;
  ASSERT_EQ(ps.EPS_GetData(&out), 1);
  const std::string s = out.GetStr();
  EXPECT_EQ(s.rfind("%!PS-Adobe-3.0 EPSF-3.0\n", 0), 0u);
  // Points and controls span x 0..7.5 and y -1.5..6; y is negated.
  EXPECT_NE(s.find("%%BoundingBox: 0 -6 8 2\n"), std::string::npos) << s;
  EXPECT_NE(s.find("newpath\n0.000 0.000 moveto\n"), std::string::npos) << s;
  EXPECT_NE(s.find("1.500 0.000 4.500 1.500 6.000 0.000 curveto\n"), std::string::npos) << s;
  EXPECT_NE(s.find("7.500 -1.500 6.000 -3.000 6.000 -6.000 curveto\nstroke\n"), std::string::npos) << s;
  EXPECT_EQ(s.substr(s.size() - 15), "showpage\n%%EOF\n");
}

TEST(PostScriptGenerator, AiLinesCleanAndRefusals) {
  CKLF_PostScriptGenerator ps;
  const kltFPOS pts[3] = {{10, 20}, {30, 25}, {-5, 40}};
  ASSERT_EQ(ps.AI_AddPath(pts, nullptr, 3), 1);
  ASSERT_EQ(ps.AI_AddPath(pts, nullptr, 2), 1);
  CKLF_String out;
  ASSERT_EQ(ps.AI_GetData(&out), 1);
  std::string s = out.GetStr();
  EXPECT_NE(s.find("%%BoundingBox: -5 -40 30 -20\n"), std::string::npos) << s;
  EXPECT_NE(s.find("10.000 -20.000 m\n30.000 -25.000 l\n-5.000 -40.000 l\nS\n"), std::string::npos) << s;
  EXPECT_NE(s.find("10.000 -20.000 m\n30.000 -25.000 l\nS\n%%PageTrailer"), std::string::npos) << s;

  EXPECT_EQ(ps.AI_AddPath(pts, nullptr, 1), 0);
  EXPECT_EQ(ps.GetError(), klErrBadArg);
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
