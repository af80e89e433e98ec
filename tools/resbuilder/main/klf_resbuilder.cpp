// klf-resbuilder: makes the UI resource file from UI descriptions, with
// the default knife shape set under "DefSet".
//   klf-resbuilder -o OUT.kls4 [--fonts DIR] DESCRIPTION...
// Exit codes: 0 written and verified, 1 a description or the writing
// failed (the message names the file and line), 2 bad command line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CDefaultShapeSet.h"
#include "CKLT_UIBuilder.h"
#include "KLT_UITheme.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: klf-resbuilder -o OUT.kls4 [--fonts DIR] [--label-font FILE.ttf] DESCRIPTION...\n");
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "klf-resbuilder: %s\n", message.c_str());
  KLT_ThemeDone();
  return 1;
}

// The default shape set as a whole shape set file, made beside the output.
bool AddDefaultShapeSet(CKLT_UIResourceFile& file, const std::string& scratch) {
  CKLF_StdFile f(scratch.c_str(), 4);
  const bool written = CDefaultShapeSet::Write(&f) && f.Close();
  std::vector<u8> bytes;
  if (FILE* in = written ? std::fopen(scratch.c_str(), "rb") : nullptr) {
    u8 chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof(chunk), in)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(in);
  }
  std::remove(scratch.c_str());
  return !bytes.empty() && file.AddBlock("DefSet", bytes);
}

}  // namespace

int main(int argc, char** argv) {
  std::string out, fonts = "/usr/share/fonts/truetype/dejavu", label = "DejaVuSans.ttf";
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) {
    const bool more = i + 1 < argc;
    if (!std::strcmp(argv[i], "-o") && more)
      out = argv[++i];
    else if (!std::strcmp(argv[i], "--fonts") && more)
      fonts = argv[++i];
    else if (!std::strcmp(argv[i], "--label-font") && more)
      label = argv[++i];
    else if (argv[i][0] == '-')
      return Usage();
    else
      inputs.push_back(argv[i]);
  }
  if (out.empty() || inputs.empty()) return Usage();
  if (!KLT_ThemeSetLabelFont(fonts + "/" + label)) return Fail(fonts + "/" + label + ": cannot open the label font");
  CKLT_UIDescription desc;
  for (const std::string& in : inputs)
    if (!desc.ParseFile(in)) return Fail(desc.Error());
  CKLT_UIResourceFile file;
  CKLT_UIBuilder builder(file, fonts);
  if (!builder.Build(desc)) return Fail(builder.Error());
  if (!AddDefaultShapeSet(file, out + ".defset")) return Fail(out + ": cannot make the default shape set");
  if (!file.Write(out)) return Fail(file.Error());
  KLT_ThemeDone();
  std::printf("klf-resbuilder: %s: %zu records from %zu description(s)\n", out.c_str(), file.Count(), inputs.size());
  return 0;
}
