#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "CKLT_ProgressBar.h"

namespace {

std::string Shown(bool terminal, std::initializer_list<int> percents) {
  FILE* f = std::tmpfile();
  CKLT_ProgressBar bar;
  bar.SetOutput(f, terminal);
  for (int p : percents) bar.Show(p, 100);
  bar.End();
  std::string out(static_cast<size_t>(std::ftell(f)), 0);
  std::rewind(f);
  out.resize(std::fread(&out[0], 1, out.size(), f));
  std::fclose(f);
  return out;
}

TEST(ProgressBar, NeverGoesBackwards) {
  // Each phase of the plug-in's work reports from its own start.
  const std::string bar = Shown(true, {50, 20, 50, 60, 5});
  EXPECT_EQ(bar,
            "\r[####################....................]  50%"
            "\r[########################................]  60%\n");
  EXPECT_EQ(Shown(false, {30, 10, 80, 40, 100}), "tessarette-host: 30%\ntessarette-host: 80%\ntessarette-host: 100%\n");
}

}  // namespace
