// Helpers shared by the test suites.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// The call answers its failure value (0, or the one given) and leaves the
// error code in obj.
#define EXPECT_FAILS_WITH(obj, call, failure, code) \
  do {                                             \
    EXPECT_EQ((call), failure) << #call;           \
    EXPECT_EQ((obj).GetError(), code) << #call;    \
  } while (0)
#define EXPECT_FAILS(obj, call, code) EXPECT_FAILS_WITH(obj, call, 0, code)

namespace klftest {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A PostScript bounding box: left, bottom, right, top.
struct PSBox {
  double l, b, r, t;
};
struct PSPoint {
  double x, y;
};
// Ghostscript's measure of the marks a document makes ("bbox" device),
// drawn shifted by 1000 so that no mark falls below the page's origin.
// False when Ghostscript does not run or reports an error.
bool GhostscriptBox(const std::string& path, PSBox& box);
inline void ExpectBox(const PSBox& got, const PSBox& want, double tol, const char* what) {
  EXPECT_NEAR(got.l, want.l, tol) << what;
  EXPECT_NEAR(got.b, want.b, tol) << what;
  EXPECT_NEAR(got.r, want.r, tol) << what;
  EXPECT_NEAR(got.t, want.t, tol) << what;
}
// The "%%HiResBoundingBox:" a document declares (zeros when none).
PSBox HeaderBox(const std::string& doc);
// The marks of cubic spans (points, and two control points a span, C1 and
// C2) stroked 1 unit wide, measured plainly: sampled densely in Bernstein
// form, y negated, widened by half the stroke.
PSBox CubicPathBoxOf(const std::vector<PSPoint>& points, const std::vector<PSPoint>& controls);
template <class Point>
PSBox CubicPathBox(const std::vector<Point>& points, const Point* controls) {
  std::vector<PSPoint> p, c;
  for (const Point& q : points) p.push_back({q.x, q.y});
  for (size_t i = 0; i + 1 < points.size(); ++i)
    for (int k = 0; k < 2; ++k) c.push_back({controls[2 * i + k].x, controls[2 * i + k].y});
  return CubicPathBoxOf(p, c);
}
// Deterministic random bytes for oracle tests.
std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n);

}  // namespace klftest
