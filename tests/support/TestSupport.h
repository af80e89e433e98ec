// Helpers shared by the test suites.
#pragma once

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

// Deterministic random bytes for oracle tests.
std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n);

}  // namespace klftest
