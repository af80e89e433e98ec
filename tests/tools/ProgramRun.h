// Runs the host program as a user does, through a shell, and collects its
// exit code and everything it printed (standard output and error; a pipe,
// not a terminal); builds and reads the documents it is given.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "CKLT_HostDocument.h"
#include "imaging/PsdTestUtil.h"

namespace hostprogram {

struct Outcome {
  int code = -1;
  std::string out;
};

// prefix goes before the program in the shell's command (a ulimit, an
// environment variable).
inline Outcome RunProgram(const std::string& args, const std::string& prefix = "") {
  std::string cmd = prefix + " " + std::string(KLF_HOST_PROGRAM) + " " + args + " 2>&1";
  Outcome o;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return o;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0) o.out.append(buf, n);
  int status = pclose(p);
  o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return o;
}

// A document of one layer; colour(c, i) and alpha(i) give the samples (no
// alpha function: opaque).
inline CKLT_HostDocument OneLayer(int16_t mode, int32_t w, int32_t h,
                                  const std::function<uint8_t(int, int32_t)>& colour,
                                  const std::function<uint8_t(int32_t)>& alpha = nullptr) {
  CKLT_HostDocument doc;
  doc.mode = mode;
  doc.width = w;
  doc.height = h;
  CKLT_HostDocument::Layer l;
  l.name = "Layer 1";
  l.width = w;
  l.height = h;
  l.planes.assign(doc.ColourPlanes(), std::vector<uint8_t>(static_cast<size_t>(w) * h));
  for (int c = 0; c < doc.ColourPlanes(); ++c)
    for (int32_t i = 0; i < w * h; ++i) l.planes[c][i] = colour(c, i);
  if (alpha) {
    l.alpha.resize(static_cast<size_t>(w) * h);
    for (int32_t i = 0; i < w * h; ++i) l.alpha[i] = alpha(i);
  }
  doc.layers.push_back(l);
  return doc;
}

inline void Write(const CKLT_HostDocument& doc, const std::string& path) {
  std::string error;
  EXPECT_TRUE(doc.Write(path, error)) << error;
}

inline CKLT_HostDocument Read(const std::string& path) {
  CKLT_HostDocument d;
  std::string error;
  EXPECT_EQ(d.ReadFile(path, UINT64_MAX, error), CKLT_HostDocument::kOk) << error;
  return d;
}

inline bool Has(const Outcome& o, const std::string& text) { return o.out.find(text) != std::string::npos; }

// Writes doc as a PSD whose first layer channel says ZIP (as ImageMagick
// writes them), and the composite too when asked.
inline void WriteZipPsd(const CKLT_HostDocument& doc, const std::string& path, bool zipComposite) {
  Write(doc, path);
  std::vector<uint8_t> b = klftest::ReadFileBytes(path);
  const psdtest::Walk w = psdtest::WalkPsd(b);
  b.at(w.channelsAt + 1) = 2;
  if (zipComposite) b.at(w.compositeAt + 1) = 2;
  klftest::WriteFileBytes(path, b);
}

// Files the program left in a folder, temporary ones included.
inline size_t FileCount(const std::string& folder) {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) n += e.is_regular_file() || e.is_symlink();
  return n;
}

}  // namespace hostprogram
