// Inputs that broke or could break the readers (overflowing sizes,
// allocation bombs, truncated data) live in crashers/. Every one is read by
// every reader through every path; each must end with a reader error code or
// an image, and the known ones with their expected outcome.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "CKLF_ImageJPEG.h"
#include "CKLF_ImagePNG.h"
#include "CKLF_ImagePSD.h"
#include "support/TestSupport.h"

namespace {

bool ReaderCode(u16 e) { return e == klErrUnsupported || e == klErrNotFormat || e == klErrNoMemory; }

// The outcome of the reader a file is named after: (result, error).
struct Expect {
  int info;
  int parse;
  u16 error;  // of the last operation that failed
};

}  // namespace

TEST(ImageReaderCrashers, EveryInputEndsCleanly) {
  const std::map<std::string, Expect> known = {
      {"psd_layer_negative_height.psd", {1, 0, klErrNotFormat}},
      {"psd_layer_area_beyond_32bits.psd", {1, 0, klErrNoMemory}},
      {"psd_layer_packbits_bomb.psd", {1, 0, klErrNotFormat}},
      {"psd_width_beyond_16bits.psd", {0, 0, klErrUnsupported}},
      // Layers are not believed on a canvas whose composite is missing.
      {"psd_canvas_65535_one_pixel_layer.psd", {1, 0, klErrNotFormat}},
      // Read at their own sizes: empty channels give no planes.
      {"psd_layer_65535_empty_channels.psd", {1, 1, 0}},
      {"psd_2000_layers_on_2048_canvas.psd", {1, 1, 0}},
      {"png_declares_60000x60000.png", {1, 0, klErrNotFormat}},
      {"png_width_70000.png", {0, 0, klErrUnsupported}},
      {"png_text_claims_2GiB.png", {0, 0, klErrNotFormat}},
      // Its image data chunk claims more than the data left: not even the
      // header is believed.
      {"png_truncated_idat.png", {0, 0, klErrNotFormat}},
      // A chunk after the image data whose type holds a digit: damage, not
      // a chunk to step over.
      {"png_chunk_type_with_a_digit.png", {1, 0, klErrNotFormat}},
      {"jpeg_truncated_progressive.jpg", {1, 0, klErrNotFormat}},  // cut inside a marker segment
      {"jpeg_soi_only.jpg", {0, 0, klErrNotFormat}},
  };
  size_t seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(KLF_TEST_DATA_DIR) + "/imaging/crashers")) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    std::vector<u8> bytes = klftest::ReadFileBytes(entry.path().string());
    const u32 n = static_cast<u32>(bytes.size());
    CKLF_ImagePSD psd;
    CKLF_ImagePNG png;
    CKLF_ImageJPEG jpeg;
    CKLF_ImageReader* readers[3] = {&psd, &png, &jpeg};
    int info[3], parse[3];
    for (int r = 0; r < 3; ++r) {
      info[r] = readers[r]->GetImageInfoByPtr(bytes.data(), n);
      EXPECT_TRUE(info[r] || ReaderCode(readers[r]->GetError())) << r;
      parse[r] = readers[r]->ParseImageByPtr(bytes.data(), n);
      EXPECT_TRUE(parse[r] || ReaderCode(readers[r]->GetError())) << r;
    }
    int layers = psd.LParseByPtr(bytes.data(), n);
    EXPECT_TRUE(layers || ReaderCode(psd.GetError()));

    auto it = known.find(name);
    if (it == known.end()) continue;
    ++seen;
    const int r = name.rfind("psd", 0) == 0 ? 0 : (name.rfind("png", 0) == 0 ? 1 : 2);
    EXPECT_EQ(it->second.info, info[r]);
    const int result = r == 0 ? layers : parse[r];
    EXPECT_EQ(it->second.parse, result);
    EXPECT_EQ(it->second.error, result ? 0 : readers[r]->GetError());
  }
  EXPECT_EQ(known.size(), seen) << "a known input is missing from crashers/";
}
