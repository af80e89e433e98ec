#include "support/TestSupport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace klftest {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "klftest-XXXXXX").string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back(0);
  if (mkdtemp(buf.data())) m_path = buf.data();
}

TempDir::~TempDir() {
  if (!m_path.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

bool GhostscriptBox(const std::string& path, PSBox& box) {
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

PSBox HeaderBox(const std::string& doc) {
  PSBox h = {0, 0, 0, 0};
  const size_t at = doc.find("%%HiResBoundingBox:");
  if (at != std::string::npos) std::sscanf(doc.c_str() + at, "%%%%HiResBoundingBox: %lf %lf %lf %lf", &h.l, &h.b, &h.r, &h.t);
  return h;
}

PSBox CubicPathBoxOf(const std::vector<PSPoint>& pts, const std::vector<PSPoint>& ctl) {
  PSBox k = {1e9, 1e9, -1e9, -1e9};
  for (size_t i = 0; i + 1 < pts.size(); ++i)
    for (int s = 0; s <= 4000; ++s) {
      const double t = s / 4000.0, u = 1 - t;
      const PSPoint a = pts[i], b = ctl[2 * i], c = ctl[2 * i + 1], d = pts[i + 1];
      const double x = u * u * u * a.x + 3 * u * u * t * b.x + 3 * u * t * t * c.x + t * t * t * d.x;
      const double y = -(u * u * u * a.y + 3 * u * u * t * b.y + 3 * u * t * t * c.y + t * t * t * d.y);
      k = {std::fmin(k.l, x), std::fmin(k.b, y), std::fmax(k.r, x), std::fmax(k.t, y)};
    }
  return {k.l - 0.5, k.b - 0.5, k.r + 0.5, k.t + 0.5};
}

}  // namespace klftest
