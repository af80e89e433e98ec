#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "CKLF_ImagePNG.h"
#include "CKLF_StdFile.h"
#include "IccTestUtil.h"
#include "PngTestUtil.h"
#include "support/TestSupport.h"

namespace {

using Bytes = std::vector<u8>;
using pngtest::Chunk;
using pngtest::EncodePng;
using pngtest::PngParams;
using pngtest::PutChunk;

// An 8-bit file made by hand: the rows as given (filter byte first) deflated
// and cut into IDAT chunks of piece bytes, then a text chunk and the end.
Bytes HandMadePng(u32 w, u32 h, u8 colourType, const Bytes& rows, size_t piece) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PutChunk(out, "IHDR", {u8(w >> 24), u8(w >> 16), u8(w >> 8), u8(w), u8(h >> 24), u8(h >> 16), u8(h >> 8), u8(h), 8,
                         colourType, 0, 0, 0});
  uLongf size = compressBound(static_cast<uLong>(rows.size()));
  Bytes z(size);
  compress(z.data(), &size, rows.data(), static_cast<uLong>(rows.size()));
  z.resize(size);
  for (size_t p = 0; p < z.size(); p += piece)
    PutChunk(out, "IDAT", Bytes(z.begin() + p, z.begin() + std::min(z.size(), p + piece)));
  PutChunk(out, "tEXt", {'a', 0, 'b'});
  PutChunk(out, "IEND", {});
  return out;
}

// The offset of the data of the k-th chunk of a type.
size_t ChunkAt(const Bytes& file, const char* type, size_t k = 0) {
  for (size_t p = 8; p + 12 <= file.size(); p += 12 + pngtest::Be32(file, p))
    if (std::memcmp(&file[p + 4], type, 4) == 0 && k-- == 0) return p + 8;
  return 0;
}

// Sets the CRC of the chunk whose data starts at at.
void FixCrc(Bytes& file, size_t at) {
  const u32 n = pngtest::Be32(file, at - 8);
  const uLong crc = crc32(0, &file[at - 4], n + 4);
  for (int i = 0; i < 4; ++i) file[at + n + i] = static_cast<u8>(crc >> (24 - 8 * i));
}

Bytes Plane(CKLF_ImagePNG& p, int c) {
  u16 w = 0, h = 0;
  if (!p.GetMainImageSize(w, h)) return Bytes();
  const u8* d = p.GetImageDataPtr(c);
  return d ? Bytes(d, d + w * h) : Bytes();
}

}  // namespace

TEST(ImagePNG, WriteReadBackInEveryMode) {
  klftest::TempDir dir;
  std::mt19937 rng(2);
  const Bytes icc = icctest::Profile("RGB ", 1);
  // mode, planes, alpha, colour type in the file
  const int modes[][4] = {{1, 4, 1, 6}, {2, 2, 1, 4}, {3, 3, 0, 2}, {4, 1, 0, 0}};
  for (const auto& m : modes) {
    const u8 mode = static_cast<u8>(m[0]);
    SCOPED_TRACE(int(mode));
    const u32 w = 37, h = 23, stride = 40, n = static_cast<u32>(m[1]);
    std::vector<Bytes> planes;
    for (u32 c = 0; c < n; ++c) planes.push_back(klftest::RandomBytes(rng, stride * h));
    CKLF_ImagePNG::PNGWRITE_PARAMS p{};
    p.width = w, p.height = h, p.mode = mode, p.stride = stride, p.resolution = 72;
    p.verticalResolution = mode == 4 ? 0 : 300;  // 0: as across
    p.product = "Kelvanos Tessarette 3.0";
    // A profile for RGB: kept in an RGB file, left out of a grey one.
    if (mode == 3 || mode == 4) p.icc = icc.data(), p.iccSize = static_cast<u32>(icc.size());
    for (u32 c = 0; c < n; ++c) p.planes[c] = planes[c].data();
    std::string path = dir.File("a.png");
    {
      CKLF_StdFile f(path.c_str(), 2);
      CKLF_ImagePNG writer;
      ASSERT_EQ(1, writer.Create(f));
      ASSERT_EQ(1, writer.WritePNG(&p));
    }
    Bytes file = klftest::ReadFileBytes(path);
    EXPECT_EQ(m[3], Chunk(file, "IHDR").at(9));
    const Bytes phys = {0, 0, 0x0B, 0x12, 0, 0, u8(mode == 4 ? 0x0B : 0x2E), u8(mode == 4 ? 0x12 : 0x23), 1};
    EXPECT_EQ(phys, Chunk(file, "pHYs")) << "2834 pixels a metre across, 11811 down";
    Bytes t0 = Chunk(file, "tEXt"), t1 = Chunk(file, "tEXt", 1);
    EXPECT_EQ(std::string("Generator\0Kelvanos FrameWork", 28), std::string(t0.begin(), t0.end()));
    EXPECT_EQ(std::string("Product\0Kelvanos Tessarette 3.0", 31), std::string(t1.begin(), t1.end()));

    CKLF_StdFile in(path.c_str(), 1);
    CKLF_ImagePNG reader;
    ASSERT_EQ(1, reader.ParseImageByFile(in));
    EXPECT_EQ(mode % 2 ? 1 : 2, reader.GetImageMode());
    EXPECT_EQ(std::make_pair(72.0, mode == 4 ? 72.0 : 300.0),
              std::make_pair(reader.GetResolution(), reader.GetVerticalResolution()));
    EXPECT_EQ(mode == 4 ? 2834u : 11811u, reader.GetVerticalPixelsPerMetre());
    const CKLF_Mem& profile = reader.GetICCProfile();
    EXPECT_EQ(mode == 3 ? icc : Bytes(), Bytes(profile.GetPtr(), profile.GetPtr() + profile.GetSize()));
    for (u32 c = 0; c < n; ++c) {
      Bytes got = Plane(reader, m[2] && c + 1 == n ? -1 : static_cast<int>(c));
      for (u32 y = 0; y < h; ++y)
        ASSERT_EQ(0, std::memcmp(&got[y * w], &planes[c][y * stride], w)) << "plane " << c << " row " << y;
    }
    if (!m[2]) {
      EXPECT_EQ(Bytes(w * h, 255), Plane(reader, -1));
    }
  }
}

TEST(ImagePNG, ReadsEveryCommonVariant) {
  std::mt19937 rng(7);
  const u32 w = 13, h = 9;
  const struct {
    int type, depth, samples;
    bool trns;
  } variants[] = {{PNG_COLOR_TYPE_GRAY, 1, 1, false},      {PNG_COLOR_TYPE_GRAY, 2, 1, false},
                  {PNG_COLOR_TYPE_GRAY, 4, 1, false},      {PNG_COLOR_TYPE_GRAY, 16, 1, false},
                  {PNG_COLOR_TYPE_GRAY, 8, 1, true},       {PNG_COLOR_TYPE_GRAY_ALPHA, 8, 2, false},
                  {PNG_COLOR_TYPE_RGB, 16, 3, false},      {PNG_COLOR_TYPE_RGB_ALPHA, 16, 4, false},
                  {PNG_COLOR_TYPE_PALETTE, 4, 1, true},    {PNG_COLOR_TYPE_PALETTE, 8, 1, false}};
  for (int interlace : {PNG_INTERLACE_NONE, PNG_INTERLACE_ADAM7})
    for (const auto& v : variants) {
      SCOPED_TRACE(testing::Message() << "type " << v.type << " depth " << v.depth << " interlace " << interlace);
      const bool grey = v.type == PNG_COLOR_TYPE_GRAY || v.type == PNG_COLOR_TYPE_GRAY_ALPHA;
      const bool palette = v.type == PNG_COLOR_TYPE_PALETTE;
      const int colours = grey ? 1 : 3;
      PngParams s;
      s.width = w, s.height = h, s.depth = v.depth, s.type = v.type, s.interlace = interlace;
      for (int i = 0; palette && i < (1 << v.depth); ++i)
        s.palette.push_back({static_cast<u8>(rng()), static_cast<u8>(rng()), static_cast<u8>(rng())});
      if (palette && v.trns) s.trns = klftest::RandomBytes(rng, 5);
      s.greyKey = v.trns && !palette;  // grey 0 is transparent
      // Random packed rows; the expected planes red/grey, green, blue, alpha.
      std::vector<Bytes> rows, expect(4, Bytes(w * h, 255));
      for (u32 y = 0; y < h; ++y) {
        rows.push_back(klftest::RandomBytes(rng, (w * v.samples * v.depth + 7) / 8));
        if (s.greyKey) rows[y][3] = 0;
        for (u32 x = 0; x < w; ++x) {
          auto sample = [&](int k) -> u32 {  // to 8 bits, 16-bit samples to the nearest
            const u32 i = x * v.samples + k, bit = i * v.depth, max = (1u << v.depth) - 1;
            if (v.depth == 16) return ((rows[y][bit / 8] * 256u + rows[y][bit / 8 + 1]) * 510u + 65535) / 131070;
            if (v.depth == 8) return rows[y][bit / 8];
            const u32 raw = (rows[y][bit / 8] >> (8 - v.depth - bit % 8)) & max;
            return palette ? raw : raw * 255 / max;
          };
          const size_t i = y * w + x;
          if (palette) {
            const png_color& c = s.palette[sample(0)];
            expect[0][i] = c.red, expect[1][i] = c.green, expect[2][i] = c.blue;
            if (sample(0) < s.trns.size()) expect[3][i] = s.trns[sample(0)];
            continue;
          }
          for (int k = 0; k < colours; ++k) expect[k][i] = static_cast<u8>(sample(k));
          if (v.samples > colours) expect[3][i] = static_cast<u8>(sample(colours));
          if (s.greyKey && sample(0) == 0) expect[3][i] = 0;
        }
      }
      Bytes file = EncodePng(s, rows);
      ASSERT_FALSE(file.empty());
      CKLF_ImagePNG r;
      ASSERT_EQ(1, r.GetImageInfoByPtr(file.data(), static_cast<u32>(file.size())));
      EXPECT_EQ(grey ? 2 : 1, r.GetImageMode());
      EXPECT_EQ(v.depth, r.GetSourceBits());
      ASSERT_EQ(1, r.ParseImageByPtr(file.data(), static_cast<u32>(file.size())));
      for (int c = 0; c < colours; ++c) EXPECT_EQ(expect[c], Plane(r, c)) << "channel " << c;
      EXPECT_EQ(expect[3], Plane(r, -1));
      EXPECT_EQ(grey, r.GetImageDataPtr(1) == nullptr);
      // The same pixels into the caller's planes; alpha only when the file has one.
      EXPECT_EQ(v.samples > colours || v.trns, r.HasAlpha() != 0);
      std::vector<Bytes> into(4, Bytes(w * h, 7));
      u8* planes[4] = {into[0].data(), grey ? nullptr : into[1].data(), grey ? nullptr : into[2].data(),
                       into[3].data()};
      EXPECT_EQ(0, r.ParseImageInto(file.data(), static_cast<u32>(file.size()), planes, w, h + 1));
      ASSERT_EQ(1, r.ParseImageInto(file.data(), static_cast<u32>(file.size()), planes, w, h));
      for (int c = 0; c < colours; ++c) EXPECT_EQ(expect[c], into[c]) << "channel " << c;
      EXPECT_EQ(expect[3], into[3]);
      EXPECT_EQ(nullptr, r.GetImageDataPtr(0));
    }
}

TEST(ImagePNG, BadDataSizesAndTruncation) {
  CKLF_ImagePNG r;
  const u8 three[3] = {0x89, 'P', 'N'};
  EXPECT_FAILS(r, r.ParseImageByPtr(three, 3), klErrNotFormat);
  const u8 notPng[8] = {'G', 'I', 'F', '8', '9', 'a', 0, 0};
  EXPECT_FAILS(r, r.GetImageInfoByPtr(notPng, 8), klErrNotFormat);

  PngParams s;
  std::vector<Bytes> rows(s.height, Bytes(s.width * 3, 9));
  Bytes file = EncodePng(s, rows);
  for (size_t n = 0; n + 1 < file.size(); ++n) {  // every cut: the end chunk is missing at least
    Bytes cut(file.begin(), file.begin() + n);
    EXPECT_EQ(0, r.ParseImageByPtr(cut.data(), static_cast<u32>(n))) << n;
    EXPECT_EQ(klErrNotFormat, r.GetError()) << n;
  }
  Bytes damaged = file;
  damaged[40] ^= 0x55;  // inside the image data: the CRC no longer matches
  EXPECT_FAILS(r, r.ParseImageByPtr(damaged.data(), static_cast<u32>(damaged.size())), klErrNotFormat);
  // Headers declaring huge sizes are among the crashers.
}

TEST(ImagePNG, WriterRefusalsWriteErrorsAndCancel) {
  u8 plane[16] = {};
  CKLF_ImagePNG::PNGWRITE_PARAMS p{};
  p.width = 4;
  p.height = 4;
  p.mode = 1;
  p.stride = 4;
  for (auto& q : p.planes) q = plane;
  CKLF_ImagePNG w;
  EXPECT_EQ(0, w.WritePNG(&p)) << "no file";
  CKLF_StdFile full("/dev/full", 2);
  ASSERT_EQ(1, w.Create(full));
  p.mode = 5;
  EXPECT_FAILS(w, w.WritePNG(&p), klErrUnsupported);
  p.mode = 2;
  p.planes[1] = nullptr;
  EXPECT_FAILS(w, w.WritePNG(&p), klErrBadArg);
  p.planes[1] = plane;
  // libpng flushes at the end; the failed write comes back as the file's code.
  EXPECT_EQ(0, w.WritePNG(&p));
  EXPECT_NE(0, w.GetError());

  klftest::TempDir dir;
  CKLF_StdFile f(dir.File("c.png").c_str(), 2);
  ASSERT_EQ(1, w.Create(f));
  struct CancelLate : CKLF_Progress {
    int calls = 0;
    i32 Progress(u8, void*) override { return ++calls; }
    u8 IsCanceled() override { return calls >= 5; }
  } cancel;
  w.SetProgress(&cancel);
  EXPECT_EQ(0, w.WritePNG(&p));
  EXPECT_EQ(0, w.GetError());
}

// Rows deflated in bands side by side: every filter and strategy reads back
// through libpng (its checks of the stream and of the Adler-32 included),
// and the bytes do not depend on the threads.
TEST(ImagePNG, BandedImageDataReadsBackAndIgnoresThreads) {
  klftest::TempDir dir;
  std::mt19937 rng(5);
  // 2049-byte rows give bands of 127 rows: three bands, the last short.
  const u32 w = 1024, h = 300;
  ASSERT_EQ(127u, CKLF_PNGEncoder::BandRows(2 * w + 1));
  Bytes grey(w * h), alpha(w * h);
  for (u32 i = 0; i < w * h; ++i) grey[i] = static_cast<u8>(i % w / 16 + rng() % 8), alpha[i] = static_cast<u8>(rng());
  CKLF_ImagePNG::PNGWRITE_PARAMS p{};
  p.width = w, p.height = h, p.mode = CKLF_ImagePNG::kWriteGreyAlpha, p.stride = w, p.resolution = 72;
  p.planes[0] = grey.data(), p.planes[1] = alpha.data();
  auto write = [&](const CKLF_PNGEncoder::Settings& s, u32 threads) {
    std::string path = dir.File("b.png");
    CKLF_StdFile f(path.c_str(), 2);
    CKLF_ImagePNG writer;
    EXPECT_TRUE(writer.Create(f));
    writer.SetCompression(s);
    writer.SetThreads(threads);
    EXPECT_EQ(1, writer.WritePNG(&p));
    EXPECT_TRUE(f.Close());
    return klftest::ReadFileBytes(path);
  };
  for (u8 filter = 0; filter <= CKLF_PNGEncoder::kFilterAdaptive; ++filter)
    for (u8 strategy = 0; strategy <= CKLF_PNGEncoder::kStrategyRLE; ++strategy) {
      SCOPED_TRACE(testing::Message() << "filter " << int(filter) << " strategy " << int(strategy));
      const CKLF_PNGEncoder::Settings s = {static_cast<u8>(1 + 3 * strategy), strategy, filter};
      const Bytes file = write(s, 1);
      if (filter == 0 || filter == CKLF_PNGEncoder::kFilterAdaptive) {
        ASSERT_EQ(file, write(s, 3));
      }
      // Read on one thread, and band by band side by side.
      for (u32 threads : {1u, 4u}) {
        CKLF_ImagePNG reader;
        reader.SetThreads(threads);
        ASSERT_EQ(1, reader.ParseImageByPtr(file.data(), static_cast<u32>(file.size())));
        ASSERT_EQ(grey, Plane(reader, 0));
        ASSERT_EQ(alpha, Plane(reader, -1));
      }
    }
  // A damaged band, its CRC recomputed, is refused however it is read; so
  // are a file whose last band lost two bytes before the Adler-32 and one
  // with a flipped CRC (the CRCs are checked side by side).
  const Bytes file = write(CKLF_PNGEncoder::DefaultSettings(), 2);
  for (int damage = 0; damage < 3; ++damage) {
    Bytes bad = file;
    size_t last = 0;
    while (ChunkAt(file, "IDAT", last + 1)) ++last;
    const size_t idat = ChunkAt(file, "IDAT", damage != 1 ? last / 2 : last);
    const u32 n = pngtest::Be32(file, idat - 8);
    if (damage == 0) {
      bad[idat + n / 2] ^= 0x21;
    } else if (damage == 2) {
      bad[idat + n + 1] ^= 0x04;
    } else {
      bad.erase(bad.begin() + static_cast<std::ptrdiff_t>(idat + n - 6), bad.begin() + static_cast<std::ptrdiff_t>(idat + n - 4));
      for (int i = 0; i < 4; ++i) bad[idat - 8 + i] = static_cast<u8>((n - 2) >> (24 - 8 * i));
    }
    if (damage != 2) FixCrc(bad, idat);
    for (u32 threads : {1u, 4u}) {
      SCOPED_TRACE(testing::Message() << "damage " << damage << " threads " << threads);
      CKLF_ImagePNG reader;
      reader.SetThreads(threads);
      EXPECT_FAILS(reader, reader.ParseImageByPtr(bad.data(), static_cast<u32>(bad.size())), klErrNotFormat);
    }
  }
  // The same rows in another writer's one stream, under the Paeth filter
  // (each band reads the one above), read again and again on eight
  // threads: whichever band's thread comes first unfilters them in order.
  Bytes rows(static_cast<size_t>(2 * w + 1) * h), pixels(2 * w * h);
  for (u32 i = 0; i < w * h; ++i) pixels[2 * i] = grey[i], pixels[2 * i + 1] = alpha[i];
  for (size_t y = 0; y < h; ++y)
    CKLF_PNGEncoder::FilterRow(CKLF_PNGEncoder::kFilterPaeth, &pixels[y * 2 * w], y ? &pixels[(y - 1) * 2 * w] : nullptr,
                               2 * w, 2, &rows[y * (2 * w + 1)]);
  const Bytes other = HandMadePng(w, h, PNG_COLOR_TYPE_GRAY_ALPHA, rows, 1 << 20);
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  const int reads = 50;
#else
  const int reads = 300;
#endif
  for (int read = 0; read < reads; ++read) {
    CKLF_ImagePNG reader;
    reader.SetThreads(8);
    ASSERT_EQ(1, reader.ParseImageByPtr(other.data(), static_cast<u32>(other.size()))) << read;
    ASSERT_EQ(grey, Plane(reader, 0)) << read;
    ASSERT_EQ(alpha, Plane(reader, -1)) << read;
  }
}

// The encoder's stream goes out in order whichever threads finish which
// bands: more bands than the ring of places the threads share, the last
// band short. The same pieces on any thread count, inflating to the rows
// (zlib checks the Adler-32); a sink that stops is not called again, and a
// poll that stops leaves no error (on several threads every band may be
// out before the first poll).
TEST(ImagePNG, EncoderBandsGoOutInOrderOnAnyThreads) {
  struct Out {
    std::vector<Bytes> pieces;
    size_t stopAt = SIZE_MAX;
    u32 polls = 0, stopPollAt = UINT32_MAX;
    static u8 Sink(void* user, const u8* data, u32 size) {
      Out* o = static_cast<Out*>(user);
      o->pieces.emplace_back(data, data + size);
      return o->pieces.size() < o->stopAt;
    }
    static u8 Poll(void* user, u32) { return ++static_cast<Out*>(user)->polls < static_cast<Out*>(user)->stopPollAt; }
  };
  std::mt19937 rng(23);
  const u32 w = 64, bandRows = CKLF_PNGEncoder::BandRows(w + 1), h = 13 * bandRows + 5;
  Bytes grey(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<u8>(i % w * 2 + rng() % 5);
  const u8* planes[1] = {grey.data()};
  const CKLF_PNGEncoder::Settings s = {1, CKLF_PNGEncoder::kStrategyRLE, CKLF_PNGEncoder::kFilterUp};
  CKLF_PNGEncoder enc;
  Out one;
  ASSERT_EQ(1, enc.Encode(planes, 1, w, h, w, s, 1, Out::Sink, Out::Poll, &one));
  ASSERT_EQ(14u + 2u, one.pieces.size()) << "header, a piece a band, Adler-32";
  Bytes stream, rows(static_cast<size_t>(w + 1) * h);
  for (const Bytes& piece : one.pieces) stream.insert(stream.end(), piece.begin(), piece.end());
  uLongf size = static_cast<uLongf>(rows.size());
  ASSERT_EQ(Z_OK, uncompress(rows.data(), &size, stream.data(), static_cast<uLong>(stream.size())));
  ASSERT_EQ(rows.size(), size);
  for (u32 y = 1; y < h; ++y) ASSERT_EQ((grey[y * w + 5] - grey[(y - 1) * w + 5]) & 255, rows[y * (w + 1) + 6]);
  for (u32 threads : {2u, 3u, 8u}) {
    SCOPED_TRACE(testing::Message() << threads << " threads");
    Out many;
    ASSERT_EQ(1, enc.Encode(planes, 1, w, h, w, s, threads, Out::Sink, Out::Poll, &many));
    ASSERT_EQ(one.pieces, many.pieces);
    Out stops;
    stops.stopAt = 6;
    EXPECT_EQ(0, enc.Encode(planes, 1, w, h, w, s, threads, Out::Sink, nullptr, &stops));
    EXPECT_EQ(0, enc.GetError());
    ASSERT_EQ(6u, stops.pieces.size());
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(one.pieces[i], stops.pieces[i]) << i;
    Out cancel;
    cancel.stopPollAt = 1;
    const u8 done = enc.Encode(planes, 1, w, h, w, s, threads, Out::Sink, Out::Poll, &cancel);
    EXPECT_EQ(0, enc.GetError());
    EXPECT_EQ(done, cancel.pieces.size() == one.pieces.size());
    for (size_t i = 0; i < cancel.pieces.size(); ++i) EXPECT_EQ(one.pieces[i], cancel.pieces[i]) << i;
  }
  Out cancel;
  cancel.stopPollAt = 2;
  EXPECT_EQ(0, enc.Encode(planes, 1, w, h, w, s, 1, Out::Sink, Out::Poll, &cancel));
  EXPECT_EQ(0, enc.GetError());
  EXPECT_EQ(3u, cancel.pieces.size()) << "the header and the bands before the stop";
}

// The one-pass choice against filtering the row five times and summing the
// bytes as signed values: random rows, smooth rows (where the predictors
// compete), equal sums (the first filter wins), every pixel size, lengths
// around the vector step, with and without a row above.
TEST(ImagePNG, FilterChoiceMatchesFilteringEveryWay) {
  std::mt19937 rng(11);
  auto chosenByFiltering = [](const Bytes& row, const u8* prev, u32 bpp) {
    const u32 n = static_cast<u32>(row.size());
    Bytes out(n + 1);
    u64 best = ~0ull;
    u8 filter = 0;
    for (u8 f = 0; f < 5; ++f) {
      CKLF_PNGEncoder::FilterRow(f, row.data(), prev, n, bpp, out.data());
      u64 sum = 0;
      for (u32 i = 1; i <= n; ++i) sum += out[i] < 128 ? out[i] : 256 - out[i];
      if (sum < best) best = sum, filter = f;
    }
    return filter;
  };
  int seen[5] = {};
  for (u32 bpp = 1; bpp <= 4; ++bpp)
    for (u32 n : {1u, 3u, 7u, 8u, 9u, 17u, 64u, 2051u, 5000u})
      for (int kind = 0; kind < 4; ++kind) {
        if (n < bpp) continue;
        SCOPED_TRACE(testing::Message() << "bpp " << bpp << " bytes " << n << " kind " << kind);
        Bytes row(n), up(n), zeros(n, 0);
        for (u32 i = 0; i < n; ++i) {
          const u32 ramp = i / bpp * (1 + kind), noise = kind == 3 ? 0 : rng() % (kind == 0 ? 256 : 4);
          up[i] = static_cast<u8>(ramp + noise + 5 * (i % bpp));
          row[i] = static_cast<u8>(kind == 3 ? up[i] : ramp + 3 + rng() % (kind == 0 ? 256 : 4) + 5 * (i % bpp));
        }
        const u8 withUp = CKLF_PNGEncoder::ChooseFilter(row.data(), up.data(), n, bpp);
        ASSERT_EQ(chosenByFiltering(row, up.data(), bpp), withUp);
        ASSERT_EQ(chosenByFiltering(row, nullptr, bpp), CKLF_PNGEncoder::ChooseFilter(row.data(), zeros.data(), n, bpp));
        ++seen[withUp];
      }
  // A row of zeros under zeros: every sum is 0, and None comes first.
  Bytes zero(40, 0);
  EXPECT_EQ(0, CKLF_PNGEncoder::ChooseFilter(zero.data(), zero.data(), 40, 4));
  for (int f = 1; f < 5; ++f) EXPECT_GT(seen[f], 0) << "filter " << f << " never chosen";
}

// Image data in many small chunks with a text chunk after them reads as one
// stream, every filter undone; a flipped byte anywhere in the image data or
// its checks is refused, whether the CRC then fails or (recomputed) only
// the stream or its Adler-32 does. A damaged chunk that a reader may skip
// (the text after the image data) is skipped.
TEST(ImagePNG, ImageDataChunksFiltersAndDamage) {
  std::mt19937 rng(13);
  const u32 w = 57, h = 31, bpp = 4, n = w * bpp;
  Bytes image(n * h), rows;
  for (u32 i = 0; i < image.size(); ++i) image[i] = static_cast<u8>(i % n / 3 + i / n * 2 + rng() % 9);
  for (u32 y = 0; y < h; ++y) {
    const u8 filter = static_cast<u8>(y % 5);
    Bytes out(n + 1);
    CKLF_PNGEncoder::FilterRow(filter, &image[y * n], y ? &image[(y - 1) * n] : nullptr, n, bpp, out.data());
    rows.insert(rows.end(), out.begin(), out.end());
  }
  auto expectImage = [&](CKLF_ImagePNG& r) {
    for (u32 c = 0; c < bpp; ++c) {
      const Bytes got = Plane(r, c < 3 ? static_cast<int>(c) : -1);
      ASSERT_EQ(w * h, got.size());
      for (u32 i = 0; i < w * h; ++i) ASSERT_EQ(image[i * bpp + c], got[i]) << "channel " << c << " pixel " << i;
    }
  };
  const Bytes file = HandMadePng(w, h, 6, rows, 100);
  ASSERT_GT(ChunkAt(file, "IDAT", 3), 0u);
  CKLF_ImagePNG r;
  ASSERT_EQ(1, r.ParseImageByPtr(file.data(), static_cast<u32>(file.size())));
  expectImage(r);

  const size_t second = ChunkAt(file, "IDAT", 1);
  Bytes bad = file;
  bad[second + 50] ^= 0x10;
  {
    SCOPED_TRACE("data, CRC kept");
    EXPECT_FAILS(r, r.ParseImageByPtr(bad.data(), static_cast<u32>(bad.size())), klErrNotFormat);
  }
  FixCrc(bad, second);
  {
    SCOPED_TRACE("data, CRC fixed");
    EXPECT_FAILS(r, r.ParseImageByPtr(bad.data(), static_cast<u32>(bad.size())), klErrNotFormat);
  }
  bad = file;
  bad[second + 100 + 2] ^= 0x01;
  {
    SCOPED_TRACE("a CRC");
    EXPECT_FAILS(r, r.ParseImageByPtr(bad.data(), static_cast<u32>(bad.size())), klErrNotFormat);
  }
  bad = file;
  const size_t end = ChunkAt(file, "tEXt") - 12;  // where the image data ends
  bad[end - 1] ^= 0x80;                          // the Adler-32's last byte
  for (size_t k = 0; ChunkAt(bad, "IDAT", k); ++k) FixCrc(bad, ChunkAt(bad, "IDAT", k));
  {
    SCOPED_TRACE("the Adler-32");
    EXPECT_FAILS(r, r.ParseImageByPtr(bad.data(), static_cast<u32>(bad.size())), klErrNotFormat);
  }

  bad = file;
  bad[ChunkAt(file, "tEXt") + 3 + 1] ^= 0x01;
  ASSERT_EQ(1, r.ParseImageByPtr(bad.data(), static_cast<u32>(bad.size()))) << "the text chunk's CRC";
  expectImage(r);

  Bytes unknown = rows;
  unknown[(n + 1) * 7] = 5;
  bad = HandMadePng(w, h, 6, unknown, 1 << 20);
  {
    SCOPED_TRACE("filter 5");
    EXPECT_FAILS(r, r.ParseImageByPtr(bad.data(), static_cast<u32>(bad.size())), klErrNotFormat);
  }
}

namespace {

// Rows (filter byte first) as a zlib stream: whole, or in the encoder's
// independent bands, each ended by a sync flush.
Bytes ImageStream(const Bytes& rows, u32 rowBytes, bool banded) {
  if (!banded) return pngtest::Deflated(rows);
  Bytes out = {0x78, 0x01};
  const size_t band = static_cast<size_t>(CKLF_PNGEncoder::BandRows(rowBytes)) * rowBytes;
  for (size_t p = 0; p < rows.size(); p += band) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = const_cast<u8*>(&rows[p]);
    z.avail_in = static_cast<uInt>(std::min(band, rows.size() - p));
    Bytes part(deflateBound(&z, z.avail_in) + 16);
    z.next_out = part.data(), z.avail_out = static_cast<uInt>(part.size());
    deflate(&z, p + band >= rows.size() ? Z_FINISH : Z_SYNC_FLUSH);
    out.insert(out.end(), part.begin(), part.end() - z.avail_out);
    deflateEnd(&z);
  }
  const uLong a = adler32(1, rows.data(), static_cast<uInt>(rows.size()));
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<u8>(a >> (24 - 8 * i)));
  return out;
}

// Planes of area bytes made when asked, counted; a code of fails ends the
// read.
struct Source : CKLF_ImagePNG::PlaneSource {
  size_t area = 300 * 600;
  Bytes planes[4];
  int made = 0;
  u16 fails = 0;
  u16 MakePlanes(u8* p[4]) override {
    ++made;
    for (int c = 0; c < 4; ++c) planes[c].assign(area, 0), p[c] = planes[c].data();
    return fails;
  }
};

}  // namespace

// Damage is refused in libpng's words, whichever way the file is read (8-bit
// RGB by the reader's own decoder, as one stream or in bands, on one thread
// or four; a palette file by libpng). The planes are made only once the
// first rows have decoded, never for damage in them; the reader's own
// decoder makes them only once the whole image data has proved sound. A
// source that cannot make them ends the read with its code, no row written.
TEST(ImagePNG, DamageIsRefusedWithItsReason) {
  enum { kCrc, kGarbage, kFilterFirst, kFilterLast, kCut, kAdler, kTwoPalettes, kNoPlanes };
  const struct {
    int fault;
    const char* says;
    int made;
    u16 code = klErrNotFormat;
  } faults[] = {{kCrc, "IDAT: CRC error", 0},
                {kGarbage, "IDAT: incorrect header check", 0},
                {kFilterFirst, "bad adaptive filter value", 0},
                {kFilterLast, "bad adaptive filter value", 1},
                {kCut, "Not enough image data", 1},
                {kAdler, "IDAT: incorrect data check", 1},
                {kTwoPalettes, "PLTE: duplicate", 0},
                {kNoPlanes, "", 1, klErrNoMemory}};
  const u32 w = 300, h = 600;  // three bands of RGB rows
  std::mt19937 rng(21);
  for (int kind = 0; kind < 3; ++kind) {  // RGB whole, RGB in bands, palette
    const u32 rowBytes = (kind < 2 ? 3 * w : w) + 1;
    Bytes image = klftest::RandomBytes(rng, static_cast<size_t>(rowBytes) * h);
    for (u32 y = 0; y < h; ++y) image[y * rowBytes] = static_cast<u8>(y % 5);
    for (const auto& f : faults)
      for (u32 threads : {1u, 4u}) {
        SCOPED_TRACE(testing::Message() << f.says << " kind " << kind << " threads " << threads);
        Bytes rows = image;
        if (f.fault == kFilterFirst) rows[0] = 5;
        if (f.fault == kFilterLast) rows[(h - 1) * rowBytes] = 7;
        Bytes stream = ImageStream(rows, rowBytes, kind == 1);
        if (f.fault == kGarbage) stream = klftest::RandomBytes(rng, stream.size()), stream[0] = 0x78, stream[1] = 0;
        if (f.fault == kCut) stream.resize(stream.size() * 3 / 4);
        if (f.fault == kAdler) stream.back() ^= 1;
        Bytes file = pngtest::Start(w, h, 8, kind < 2 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_PALETTE);
        for (int k = 0; k < (f.fault == kTwoPalettes ? 2 : kind / 2); ++k) PutChunk(file, "PLTE", Bytes(768, 9));
        PutChunk(file, "IDAT", stream);
        if (f.fault == kCrc) file[ChunkAt(file, "IDAT") + stream.size() / 2] ^= 0x10;
        PutChunk(file, "IEND", {});
        CKLF_ImagePNG r;
        r.SetThreads(threads);
        Source planes;
        planes.fails = f.fault == kNoPlanes ? klErrNoMemory : 0;
        EXPECT_FAILS(r, r.ParseImageInto(file.data(), static_cast<u32>(file.size()), planes, w, h), f.code);
        EXPECT_STREQ(f.says, r.GetDamage());
        EXPECT_EQ(kind < 2 && f.fault != kNoPlanes ? 0 : f.made, planes.made);
        if (f.fault == kNoPlanes) {
          EXPECT_EQ(Bytes(planes.area, 0), planes.planes[0]);
        }
      }
  }
  // A 1-bit palette file whose planes (100 MB) outweigh its data is read
  // through without them first: data cut short near its end makes none;
  // whole, interlaced or not, it reads with its planes made once.
  for (int interlace : {PNG_INTERLACE_NONE, PNG_INTERLACE_ADAM7})
    for (bool cut : {true, false}) {
      PngParams p;
      p.width = p.height = 5000, p.depth = 1, p.type = PNG_COLOR_TYPE_PALETTE, p.interlace = interlace;
      p.palette = {{0, 0, 0}, {255, 255, 255}}, p.trns = {0};
      Bytes file = EncodePng(p, std::vector<Bytes>(5000, Bytes(625, 0x55)));
      size_t last = 0;
      while (ChunkAt(file, "IDAT", last + 1)) ++last;
      const size_t at = ChunkAt(file, "IDAT", last);
      if (cut) file[at - 5] = static_cast<u8>(file[at - 5] - 8), file.erase(file.begin() + at, file.begin() + at + 8);
      if (cut) FixCrc(file, at);
      CKLF_ImagePNG r;
      Source planes;
      planes.area = 5000 * 5000;
      EXPECT_EQ(!cut, r.ParseImageInto(file.data(), static_cast<u32>(file.size()), planes, 5000, 5000)) << cut;
      EXPECT_EQ(!cut, planes.made);
      EXPECT_TRUE(cut || (planes.planes[0][5000 * 5000 - 1] == 255 && planes.planes[3][5000 * 5000 - 2] == 0));
    }
}

// Damage is refused in libpng's words and a damaged or malformed chunk is
// left out and named, whichever way the file is read (8-bit RGB and grey
// by the reader's own decoder; 16-bit, interlaced and palette by libpng);
// what is read equals the sound file. Damage in the first rows makes no
// planes, whatever follows the image data. Chunks out of place after the
// image data are judged alike on both ways.
TEST(ImagePNG, DamageIsRefusedOrWhatIsLeftOutNamed) {
  enum Shape { kRGB, kRGB16, kInterlaced, kPalette, kGrey };
  enum Fault { kSound, kExtraBadCheck, kNoCheck, kNoFinal, kSecondRow, kTrnsCrc, kPhysCrc, kTrnsFour, kTrnsLong,
               kTrnsFirst, kSuggestedPalette, kNoEnd, kBadChunkAfter, kChunkBetween, kPaletteAfter, kTrnsAfter,
               kGammaAfter, kCriticalAfter, kDataAgain };
  const struct {
    Shape shape;
    Fault fault, ending;
    const char *damage, *leftOut;
  } rows[] = {
      {kRGB, kSound, kSound, "", ""}, {kRGB16, kSound, kSound, "", ""}, {kInterlaced, kSound, kSound, "", ""},
      {kPalette, kSound, kSound, "", ""}, {kGrey, kSound, kSound, "", ""},
      {kRGB, kExtraBadCheck, kSound, "IDAT: incorrect data check", ""},
      {kRGB16, kExtraBadCheck, kSound, "IDAT: incorrect data check", ""},
      {kInterlaced, kExtraBadCheck, kSound, "IDAT: incorrect data check", ""},
      {kRGB, kNoCheck, kSound, "Not enough image data", ""}, {kRGB, kNoFinal, kSound, "Not enough image data", ""},
      {kGrey, kTrnsCrc, kSound, "", "tRNS: CRC error"}, {kRGB, kPhysCrc, kSound, "", "pHYs: CRC error"},
      {kGrey, kTrnsFour, kSound, "", "tRNS: invalid"}, {kPalette, kTrnsLong, kSound, "", "tRNS: invalid"},
      {kPalette, kTrnsFirst, kSound, "", "tRNS: out of place"}, {kRGB, kSound, kNoEnd, "data ends early", ""},
      {kRGB16, kSound, kBadChunkAfter, "", "tEXt: CRC error"}, {kRGB, kSound, kBadChunkAfter, "", "tEXt: CRC error"},
      {kRGB, kSound, kChunkBetween, "Not enough image data", ""},
      {kRGB, kSecondRow, kNoEnd, "bad adaptive filter value", ""},
      {kRGB, kSecondRow, kBadChunkAfter, "bad adaptive filter value", ""},
      {kRGB, kSecondRow, kChunkBetween, "bad adaptive filter value", ""},
      {kRGB, kSuggestedPalette, kSound, "", ""}, {kRGB, kSound, kPaletteAfter, "", "PLTE: out of place"},
      {kRGB16, kSound, kPaletteAfter, "", "PLTE: out of place"},
      {kRGB, kSuggestedPalette, kPaletteAfter, "PLTE: duplicate", ""},
      {kRGB16, kSuggestedPalette, kPaletteAfter, "PLTE: duplicate", ""},
      {kPalette, kSound, kPaletteAfter, "PLTE: duplicate", ""},
      {kRGB, kSound, kTrnsAfter, "", "tRNS: out of place"}, {kInterlaced, kSound, kTrnsAfter, "", "tRNS: out of place"},
      {kGrey, kSound, kGammaAfter, "", "gAMA: out of place"}, {kRGB16, kSound, kGammaAfter, "", "gAMA: out of place"},
      {kRGB, kSound, kCriticalAfter, "ABCD: unhandled critical chunk", ""},
      {kInterlaced, kSound, kCriticalAfter, "ABCD: unhandled critical chunk", ""},
      {kGrey, kSound, kDataAgain, "IDAT: Too many IDATs found", ""},
      {kRGB16, kSound, kDataAgain, "IDAT: Too many IDATs found", ""},
      {kPalette, kSound, kDataAgain, "IDAT: Too many IDATs found", ""}};
  Bytes sound[5];
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "shape " << row.shape << " fault " << row.fault << " ending " << row.ending);
    PngParams p;
    p.width = 48, p.height = 32, p.depth = row.shape == kRGB16 ? 16 : 8;
    p.palette.resize(row.shape == kPalette ? 16 : 0);
    p.type = row.shape == kPalette ? PNG_COLOR_TYPE_PALETTE
                                   : row.shape == kGrey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB;
    p.interlace = row.shape == kInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;
    std::mt19937 rng(row.shape);
    std::vector<Bytes> pixels(32);
    for (Bytes& r : pixels) r = klftest::RandomBytes(rng, 48 * (p.depth / 8) * (p.type == PNG_COLOR_TYPE_RGB ? 3 : 1));
    for (Bytes& r : pixels)
      for (u8& v : r) v %= 16;  // palette indices; one IDAT chunk
    const Bytes encoded = EncodePng(p, pixels), z = Chunk(encoded, "IDAT");
    Bytes raw(1 << 16), file = Bytes(encoded.begin(), encoded.begin() + ChunkAt(encoded, "IDAT") - 8);
    uLongf n = raw.size();
    ASSERT_EQ(Z_OK, uncompress(raw.data(), &n, z.data(), static_cast<uLong>(z.size())));
    raw.resize(n + (row.fault == kExtraBadCheck ? 50 : 0));
    if (row.fault == kSecondRow) raw[n / 32] = 7;
    Bytes chunk;  // before the image data, or before PLTE
    const size_t length = row.fault == kTrnsFour ? 4 : row.fault == kTrnsLong ? 20 : row.fault == kPhysCrc ? 9 : 2;
    if (row.fault >= kTrnsCrc && row.fault <= kTrnsFirst)
      PutChunk(chunk, row.fault == kPhysCrc ? "pHYs" : "tRNS", Bytes(length, 1));
    if (row.fault == kTrnsCrc || row.fault == kPhysCrc) chunk.back() ^= 1;
    if (row.fault == kSuggestedPalette) PutChunk(chunk, "PLTE", Bytes(6, 1));
    file.insert(file.begin() + (row.fault == kTrnsFirst ? 33 : file.size()), chunk.begin(), chunk.end());
    Bytes stream = pngtest::Deflated(raw, row.fault == kNoFinal ? 0 : 6);
    if (row.fault == kExtraBadCheck) stream.back() ^= 1;
    if (row.fault == kNoFinal) stream[2] = 0;  // the one stored block not final
    if (row.fault == kNoCheck || row.fault == kNoFinal) stream.resize(stream.size() - 4);
    const size_t half = row.ending == kChunkBetween ? stream.size() / 2 : stream.size();
    PutChunk(file, "IDAT", Bytes(stream.begin(), stream.begin() + half));
    if (row.ending == kChunkBetween)
      PutChunk(file, "tEXt", {'a', 0, 'b'}), PutChunk(file, "IDAT", Bytes(stream.begin() + half, stream.end()));
    if (row.ending == kBadChunkAfter) PutChunk(file, "tEXt", {'a', 0, 'b'}), file.back() ^= 1;
    static const char* const kAfter[] = {"PLTE", "tRNS", "gAMA", "ABCD"};
    if (row.ending >= kPaletteAfter && row.ending <= kCriticalAfter)
      PutChunk(file, kAfter[row.ending - kPaletteAfter], Bytes(6, 1));
    if (row.ending == kDataAgain) PutChunk(file, "tEXt", {'a', 0, 'b'}), PutChunk(file, "IDAT", {});
    if (row.ending != kNoEnd) PutChunk(file, "IEND", {});
    CKLF_ImagePNG r;
    Source planes;
    planes.area = 48 * 32;
    const u8 ok = r.ParseImageInto(file.data(), static_cast<u32>(file.size()), planes, 48, 32);
    EXPECT_EQ(!*row.damage, ok);
    EXPECT_STREQ(row.damage, r.GetDamage());
    EXPECT_EQ(*row.leftOut ? 1u : 0u, r.LeftOutCount());
    EXPECT_STREQ(row.leftOut, r.LeftOut(0));
    EXPECT_TRUE(ok || row.shape != kRGB || !planes.made) << "the planes of a damaged file";
    if (row.fault == kSound && row.ending == kSound) sound[row.shape] = planes.planes[0];
    EXPECT_TRUE(!ok || sound[row.shape] == planes.planes[0]) << "read as without what is left out";
  }
}

// Unusual valid 16-bit files (with and without alpha, a grey key colour,
// interlaced) read as ImageMagick decodes them, when it is installed: its
// 16-bit samples, each rounded to the nearest 8-bit value.
TEST(ImagePNG, SixteenBitFilesReadAsImageMagickDecodesThem) {
  if (std::system("convert -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick is not installed";
  klftest::TempDir dir;
  std::mt19937 rng(16);
  const struct {
    int type, samples, interlace;
    bool key;
  } files[] = {{PNG_COLOR_TYPE_GRAY, 1, PNG_INTERLACE_NONE, false}, {PNG_COLOR_TYPE_GRAY, 1, PNG_INTERLACE_NONE, true},
               {PNG_COLOR_TYPE_GRAY_ALPHA, 2, PNG_INTERLACE_ADAM7, false},
               {PNG_COLOR_TYPE_RGB, 3, PNG_INTERLACE_ADAM7, false}, {PNG_COLOR_TYPE_RGB_ALPHA, 4, PNG_INTERLACE_NONE, false}};
  const u32 w = 37, h = 23;
  for (const auto& f : files) {
    SCOPED_TRACE(testing::Message() << "type " << f.type << " interlace " << f.interlace << " key " << f.key);
    PngParams s;
    s.width = w, s.height = h, s.depth = 16, s.type = f.type, s.interlace = f.interlace, s.greyKey = f.key;
    std::vector<Bytes> rows;
    for (u32 y = 0; y < h; ++y) rows.push_back(klftest::RandomBytes(rng, w * f.samples * 2));
    if (f.key) rows[0][0] = rows[0][1] = 0;
    const Bytes file = EncodePng(s, rows);
    const std::string path = dir.File("sixteen.png");
    ASSERT_TRUE(klftest::WriteFileBytes(path, file));
    CKLF_ImagePNG r;
    ASSERT_EQ(1, r.ParseImageByPtr(file.data(), static_cast<u32>(file.size())));
    std::string raw;
    FILE* p = popen(("convert '" + path + "' -depth 16 -endian MSB rgba:- 2>/dev/null").c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof(buf), p)) > 0;) raw.append(buf, n);
    pclose(p);
    ASSERT_EQ(raw.size(), 8u * w * h);
    for (int c = 0; c < 4; ++c) {
      Bytes magick(w * h);
      for (u32 i = 0; i < w * h; ++i) {
        const u32 v = static_cast<u8>(raw[8 * i + 2 * c]) * 256u + static_cast<u8>(raw[8 * i + 2 * c + 1]);
        magick[i] = static_cast<u8>((v * 510u + 65535) / 131070);
      }
      EXPECT_EQ(magick, Plane(r, c == 3 ? -1 : (f.samples < 3 ? 0 : c))) << "channel " << c;
    }
  }
}

// A placed image is encoded as its canvas drawn out would be: the same
// filtered rows (byte for byte the same stream, but for the run-length
// strategy, whose zeros go into blocks of their own), for any channels,
// filter and strategy, places inside, across the edges and off the
// canvas, bands of background rows repeated and the last band short; and
// the file through WritePNGPlaced reads back as that canvas.
TEST(ImagePNG, PlacedImageIsItsCanvasDrawnOut) {
  // The zlib stream inflated.
  auto inflated = [](const Bytes& stream) {
    Bytes out(1 << 16);
    z_stream z{};
    inflateInit(&z);
    z.next_in = const_cast<u8*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    Bytes all;
    int r = Z_OK;
    while (r == Z_OK) {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      r = inflate(&z, Z_NO_FLUSH);
      all.insert(all.end(), out.data(), out.data() + (out.size() - z.avail_out));
    }
    inflateEnd(&z);
    return r == Z_STREAM_END ? all : Bytes();
  };
  struct Collect {
    static u8 Sink(void* user, const u8* data, u32 size) {
      static_cast<Bytes*>(user)->insert(static_cast<Bytes*>(user)->end(), data, data + size);
      return 1;
    }
  };
  std::mt19937 rng(17);
  struct Case {
    u32 cw, ch, channels, w, h;
    i32 x, y;
  };
  // 2000 x 4 bytes: bands of 32 rows. 37 wide: one band.
  const Case cases[] = {{2000, 300, 4, 120, 70, 900, 100},  {2000, 300, 4, 300, 90, -40, -20},
                        {2000, 300, 4, 150, 50, 1900, 270}, {2000, 300, 4, 40, 40, 3000, 10},
                        {1500, 200, 3, 1500, 1, 0, 199},    {37, 500, 2, 10, 7, 27, 0},
                        {1, 9, 1, 1, 3, 0, 6},              {1200, 260, 1, 1, 260, 1199, 0}};
  for (const Case& c : cases) {
    std::vector<Bytes> planes(c.channels);
    for (Bytes& p : planes) p = klftest::RandomBytes(rng, static_cast<size_t>(c.w + 3) * c.h);
    const u8 bg[4] = {255, 254, 255, 0};
    // The canvas drawn out.
    std::vector<Bytes> canvas(c.channels);
    for (u32 k = 0; k < c.channels; ++k) {
      canvas[k].assign(static_cast<size_t>(c.cw) * c.ch, bg[k]);
      for (u32 y = 0; y < c.h; ++y)
        for (u32 x = 0; x < c.w; ++x) {
          const i64 cx = c.x + static_cast<i64>(x), cy = c.y + static_cast<i64>(y);
          if (cx >= 0 && cy >= 0 && cx < c.cw && cy < c.ch) canvas[k][cy * c.cw + cx] = planes[k][y * (c.w + 3) + x];
        }
    }
    const u8* pp[4] = {};
    const u8* cp[4] = {};
    for (u32 k = 0; k < c.channels; ++k) pp[k] = planes[k].data(), cp[k] = canvas[k].data();
    for (u8 filter = 0; filter <= CKLF_PNGEncoder::kFilterAdaptive; ++filter) {
      const CKLF_PNGEncoder::Settings s = {static_cast<u8>(filter % 3 ? 6 : 1), static_cast<u8>(filter % 3), filter};
      SCOPED_TRACE(testing::Message() << c.cw << "x" << c.ch << " at " << c.x << "," << c.y << " filter "
                                      << int(filter));
      Bytes want, got, threaded;
      CKLF_PNGEncoder enc;
      ASSERT_EQ(1, enc.Encode(cp, c.channels, c.cw, c.ch, c.cw, s, 1, Collect::Sink, nullptr, &want));
      const CKLF_PNGEncoder::Placement at = {c.cw, c.ch, c.x, c.y, bg};
      ASSERT_EQ(1, enc.EncodePlaced(pp, c.channels, c.w, c.h, c.w + 3, at, s, 1, Collect::Sink, nullptr, &got));
      if (s.strategy == CKLF_PNGEncoder::kStrategyRLE) {
        ASSERT_FALSE(inflated(want).empty());
        ASSERT_EQ(inflated(want), inflated(got));
      } else {
        ASSERT_EQ(want, got);
      }
      ASSERT_EQ(1, enc.EncodePlaced(pp, c.channels, c.w, c.h, c.w + 3, at, s, 3, Collect::Sink, nullptr, &threaded));
      ASSERT_EQ(got, threaded);
    }
  }
  // Through the writer: the file reads back as the canvas.
  klftest::TempDir dir;
  const u32 w = 30, h = 20;
  std::vector<Bytes> piece(4);
  for (Bytes& p : piece) p = klftest::RandomBytes(rng, w * h);
  CKLF_ImagePNG::PNGWRITE_PARAMS p{};
  p.width = w, p.height = h, p.mode = CKLF_ImagePNG::kWriteRGBA, p.stride = w, p.resolution = 72;
  for (int k = 0; k < 4; ++k) p.planes[k] = piece[k].data();
  const u8 bg[4] = {255, 255, 255, 0};
  CKLF_StdFile f(dir.File("placed.png").c_str(), 2);
  CKLF_ImagePNG writer;
  ASSERT_TRUE(writer.Create(f));
  ASSERT_EQ(1, writer.WritePNGPlaced(&p, 50, 40, 35, -5, bg));
  ASSERT_TRUE(f.Close());
  const Bytes file = klftest::ReadFileBytes(dir.File("placed.png"));
  CKLF_ImagePNG reader;
  ASSERT_EQ(1, reader.ParseImageByPtr(file.data(), static_cast<u32>(file.size())));
  u16 rw = 0, rh = 0;
  ASSERT_TRUE(reader.GetMainImageSize(rw, rh));
  ASSERT_EQ(50, rw);
  ASSERT_EQ(40, rh);
  for (int k = 0; k < 4; ++k) {
    const Bytes got = Plane(reader, k == 3 ? -1 : k);
    for (u32 y = 0; y < 40; ++y)
      for (u32 x = 0; x < 50; ++x) {
        const bool in = x >= 35 && y < 15;
        ASSERT_EQ(in ? piece[k][(y + 5) * w + x - 35] : bg[k], got[y * 50 + x]) << k << " " << x << "," << y;
      }
  }
  EXPECT_FAILS(writer, writer.WritePNGPlaced(&p, 0, 40, 0, 0, bg), klErrBadArg);
}

// Every row filter against the obvious definition (the Paeth predictor as
// the PNG specification writes it), with and without a row above, at every
// pixel size.
TEST(ImagePNG, RowFiltersMatchTheirDefinition) {
  std::mt19937 rng(3);
  auto paeth = [](int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : (pb <= pc ? b : c);
  };
  for (u32 bpp = 1; bpp <= 4; ++bpp)
    for (u32 n : {bpp, 3 * bpp, 257 * bpp}) {
      Bytes row = klftest::RandomBytes(rng, n), above = klftest::RandomBytes(rng, n);
      // Runs and equal neighbours, where the predictor's ties are decided.
      for (u32 i = 0; i + 8 < n; i += 16) std::fill(&row[i], &row[i + 5], row[i]), above[i + 1] = above[i];
      for (int withAbove = 0; withAbove < 2; ++withAbove)
        for (u8 f = 0; f < 5; ++f) {
          Bytes got(n + 1), want(n + 1, f);
          CKLF_PNGEncoder::FilterRow(f, row.data(), withAbove ? above.data() : nullptr, n, bpp, got.data());
          for (u32 i = 0; i < n; ++i) {
            const int a = i >= bpp ? row[i - bpp] : 0, b = withAbove ? above[i] : 0;
            const int c = i >= bpp && withAbove ? above[i - bpp] : 0;
            const int pred[5] = {0, a, b, (a + b) / 2, paeth(a, b, c)};
            want[i + 1] = static_cast<u8>(row[i] - pred[f]);
          }
          ASSERT_EQ(got, want) << "filter " << int(f) << " bpp " << bpp << " n " << n << " above " << withAbove;
        }
    }
}

namespace {

// A 1 x 1 grey file up to its header, then the chunk of the given type
// with its length as given and the bytes as given (no CRC when cut short).
Bytes HeaderThen(const char* type, u32 length, const Bytes& data) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PutChunk(out, "IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 0, 0, 0});
  const u8 head[8] = {u8(length >> 24), u8(length >> 16), u8(length >> 8), u8(length),
                      u8(type[0]),      u8(type[1]),      u8(type[2]),     u8(type[3])};
  out.insert(out.end(), head, head + 8);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// A whole 1 x 1 grey file with one more chunk before its image data.
Bytes WithChunk(const char* type, const Bytes& data) {
  Bytes out = HeaderThen("IHDR", 0, {});
  out.resize(out.size() - 8);
  PutChunk(out, type, data);
  Bytes z(64);
  uLongf zSize = static_cast<uLongf>(z.size());
  const u8 row[2] = {0, 77};
  compress(z.data(), &zSize, row, 2);
  z.resize(zSize);
  PutChunk(out, "IDAT", z);
  PutChunk(out, "IEND", {});
  return out;
}

const u64 kSmallPeak = 1u << 20;

}  // namespace

// A chunk is judged by its length before libpng holds it: one claiming
// more than the data left is refused as damaged, with libpng never holding
// more than a few structures; by pointer and from a file alike.
TEST(ImagePNG, ChunkLengthsAreCheckedBeforeAnythingIsHeld) {
  klftest::TempDir dir;
  for (const char* type : {"tEXt", "sPLT", "iTXt", "zTXt", "iCCP", "pHYs", "zzZz"}) {
    SCOPED_TRACE(type);
    const Bytes file = HeaderThen(type, 0x7FFFFFFFu, {'C', 'o', 'm', 'm', 'e', 'n', 't', 0});
    ASSERT_EQ(49u, file.size());
    const u32 n = static_cast<u32>(file.size());
    CKLF_ImagePNG r;
    EXPECT_FAILS(r, r.GetImageInfoByPtr(file.data(), n), klErrNotFormat);
    EXPECT_LT(r.GetLibraryPeak(), 16u << 20);
    EXPECT_FAILS(r, r.ParseImageByPtr(file.data(), n), klErrNotFormat);
    EXPECT_LT(r.GetLibraryPeak(), 16u << 20);
    EXPECT_GT(r.GetLibraryPeak(), 0u) << "libpng's structures are counted";
    EXPECT_EQ(nullptr, r.GetImageDataPtr(0));
    ASSERT_TRUE(klftest::WriteFileBytes(dir.File("claim.png"), file));
    CKLF_StdFile in(dir.File("claim.png").c_str(), 1);
    EXPECT_FAILS(r, r.ParseImageByFile(in), klErrNotFormat);
    EXPECT_LT(r.GetLibraryPeak(), 16u << 20);
  }
  // Claims just past the data.
  const Bytes whole = WithChunk("tEXt", {'a', 0, 'b'});
  const size_t at = ChunkAt(whole, "tEXt") - 8;
  CKLF_ImagePNG r;
  for (u32 claim = static_cast<u32>(whole.size() - at - 12) + 1; claim < whole.size(); ++claim) {
    SCOPED_TRACE(claim);
    Bytes b = whole;
    b[at + 3] = static_cast<u8>(claim);
    EXPECT_FAILS(r, r.ParseImageByPtr(b.data(), static_cast<u32>(b.size())), klErrNotFormat);
    EXPECT_LT(r.GetLibraryPeak(), kSmallPeak);
  }
  ASSERT_EQ(1, r.ParseImageByPtr(whole.data(), static_cast<u32>(whole.size())));
  EXPECT_EQ(77, r.GetImageDataPtr(0)[0]);
}

// Chunks the reader has no use for are skipped unread whatever their
// length (8 MiB or beyond), so neither a long text nor a small compressed
// one that inflates to megabytes costs anything.
TEST(ImagePNG, UnusedChunksOfAnyLengthCostNothing) {
  CKLF_ImagePNG r;
  Bytes big(8u << 20, 'x');
  big[3] = 0;
  Bytes file = WithChunk("tEXt", big);
  ASSERT_EQ(1, r.ParseImageByPtr(file.data(), static_cast<u32>(file.size()))) << "8 MiB";
  EXPECT_LT(r.GetLibraryPeak(), kSmallPeak);
  big.push_back('x');
  for (const char* type : {"tEXt", "zzZz"}) {
    file = WithChunk(type, big);
    ASSERT_EQ(1, r.ParseImageByPtr(file.data(), static_cast<u32>(file.size()))) << type << " beyond 8 MiB";
    EXPECT_EQ(77, r.GetImageDataPtr(0)[0]);
    EXPECT_LT(r.GetLibraryPeak(), kSmallPeak);
  }
  // Image data is bounded by the image, not by the chunk limit: covered by
  // the large images read elsewhere.

  const Bytes zeros(7u << 20, 0);
  uLongf zSize = compressBound(static_cast<uLong>(zeros.size()));
  Bytes z(zSize);
  ASSERT_EQ(Z_OK, compress2(z.data(), &zSize, zeros.data(), static_cast<uLong>(zeros.size()), 9));
  z.resize(zSize);
  for (const char* type : {"zTXt", "iTXt"}) {
    SCOPED_TRACE(type);
    // The keyword, then deflate (iTXt: compressed, deflate, no language
    // and no translated keyword).
    Bytes data = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0};
    if (type[0] == 'i') data.insert(data.end(), {1, 0, 0, 0});
    else data.push_back(0);
    data.insert(data.end(), z.begin(), z.end());
    file = WithChunk(type, data);
    ASSERT_LT(file.size(), 64u << 10);
    ASSERT_EQ(1, r.ParseImageByPtr(file.data(), static_cast<u32>(file.size())));
    EXPECT_EQ(77, r.GetImageDataPtr(0)[0]);
    EXPECT_LT(r.GetLibraryPeak(), kSmallPeak);
  }
}

// A valid picture carrying a chunk longer than 8 MiB that the reader does
// not keep (a text, XMP, EXIF or a private chunk), before or after its image
// data, in RGB and in palette: read as without it, libpng holding none of
// it. A profile is kept up to 8 MiB and beyond that left out, and said to
// be. Cut short inside the chunk, the file is refused.
TEST(ImagePNG, LongChunksAreSkippedOrLeftOut) {
  const u32 kLong = 9u << 20;
  Bytes profile;
  const Bytes iccp = pngtest::ProfileChunkData(kLong, profile);
  ASSERT_EQ(kLong, iccp.size());
  const struct {
    const char* type;
    Bytes head;  // the chunk's data before the filler
  } chunks[] = {{"tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0}},
                {"iTXt", {'X', 'M', 'L', ':', 'c', 'o', 'm', '.', 'a', 'd', 'o', 'b', 'e', '.', 'x', 'm', 'p', 0, 0, 0,
                          0, 0}},
                {"eXIf", {'M', 'M', 0, 42}},
                {"iCCP", {}},
                {"prVt", {}}};
  CKLF_ImagePNG r;
  Bytes reds[2], blues[2], data, file;  // data and file kept from one case to the next
  for (u8 palette = 0; palette < 2; ++palette) {
    pngtest::Picture(file, palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, nullptr, {}, false);
    ASSERT_EQ(1, r.ParseImageByPtr(file.data(), static_cast<u32>(file.size())));
    reds[palette] = Plane(r, 0), blues[palette] = Plane(r, 2);
  }
  for (const auto& chunk : chunks) {
    const u8 isProfile = chunk.type == std::string("iCCP");
    data.assign(chunk.head.begin(), chunk.head.end());
    data.resize(kLong, 'a');
    for (u8 palette = 0; palette < 2; ++palette)
      for (bool after : {false, true}) {
        SCOPED_TRACE(std::string(chunk.type) + (after ? " after" : " before") + " the image data" +
                     (palette ? " in palette" : " in RGB"));
        pngtest::Picture(file, palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, chunk.type,
                         isProfile ? iccp : data, after);
        const u32 n = static_cast<u32>(file.size());
        ASSERT_EQ(1, r.ParseImageByPtr(file.data(), n));
        EXPECT_EQ(reds[palette], Plane(r, 0));
        EXPECT_EQ(blues[palette], Plane(r, 2));
        EXPECT_LT(r.GetLibraryPeak(), kSmallPeak);
        EXPECT_EQ(0u, r.GetICCProfile().GetSize());
        EXPECT_EQ(isProfile && !after, r.ProfileDropped());
        u32 exif = 0;  // found where it lies, not copied
        EXPECT_EQ(ChunkAt(file, "eXIf") ? file.data() + ChunkAt(file, "eXIf") : nullptr, r.GetExifData(exif));
        const u32 cut = n - (after ? 12 + 1000 : 2000);  // inside the long chunk either way
        EXPECT_FAILS(r, r.ParseImageByPtr(file.data(), cut), klErrNotFormat);
        EXPECT_EQ(nullptr, r.GetImageDataPtr(0));
      }
  }
  // At 8 MiB the profile is kept.
  const Bytes kept = pngtest::ProfileChunkData(8u << 20, profile);
  ASSERT_EQ(8u << 20, kept.size());
  pngtest::Picture(file, PNG_COLOR_TYPE_RGB, "iCCP", kept, false);
  ASSERT_EQ(1, r.ParseImageByPtr(file.data(), static_cast<u32>(file.size())));
  EXPECT_EQ(0, r.ProfileDropped());
  const CKLF_Mem& got = r.GetICCProfile();
  EXPECT_TRUE(got.GetSize() == profile.size() && std::equal(profile.begin(), profile.end(), got.GetPtr()));
}

// The image data present bounds the image a file may declare: deflate gives
// at most 1032 bytes a byte, so 1000 bytes hold 1032 x 1000 grey pixels and
// not one more, whatever else the file carries. The header is still read;
// a parse refuses before it holds anything. A real stream at deflate's best
// ratio stays within the bound.
TEST(ImagePNG, DeclaredImageMustFitItsImageData) {
  CKLF_ImagePNG r;
  const Bytes text(64u << 10, 'a');
  for (u32 dataBytes : {1000u, 999u}) {
    Bytes file = pngtest::Start(1032, 1000, 8, PNG_COLOR_TYPE_GRAY);
    PutChunk(file, "tEXt", text);
    PutChunk(file, "IDAT", Bytes(dataBytes / 2, 1));
    PutChunk(file, "tEXt", text);
    PutChunk(file, "IDAT", Bytes(dataBytes - dataBytes / 2, 1));
    PutChunk(file, "IEND", {});
    ASSERT_EQ(1, r.GetImageInfoByPtr(file.data(), static_cast<u32>(file.size())));
    EXPECT_EQ(dataBytes == 1000, r.DataCanHoldImage()) << dataBytes;
  }
  // 21000 x 21000 in every colour type, interlaced too, from 16 bytes.
  const struct {
    u8 type, depth, interlace;
  } shapes[] = {{0, 8, 0}, {0, 1, 0}, {2, 8, 0}, {3, 8, 0}, {4, 8, 0}, {6, 8, 0}, {6, 16, 0}, {6, 8, 1}, {3, 2, 1}};
  for (const auto& shape : shapes) {
    SCOPED_TRACE(std::to_string(shape.type) + " " + std::to_string(shape.depth) + " " + std::to_string(shape.interlace));
    Bytes file = pngtest::Start(21000, 21000, shape.depth, shape.type, shape.interlace);
    if (shape.type == 3) PutChunk(file, "PLTE", Bytes(12, 7)), PutChunk(file, "tRNS", {0, 128});
    PutChunk(file, "IDAT", pngtest::Deflated(Bytes(16, 0)));
    PutChunk(file, "IEND", {});
    const u32 n = static_cast<u32>(file.size());
    ASSERT_EQ(1, r.GetImageInfoByPtr(file.data(), n));
    u16 w = 0, h = 0;
    ASSERT_TRUE(r.GetMainImageSize(w, h));
    EXPECT_EQ(21000, w);
    EXPECT_EQ(0, r.DataCanHoldImage());
    EXPECT_FAILS(r, r.ParseImageByPtr(file.data(), n), klErrNotFormat);
    EXPECT_EQ(nullptr, r.GetImageDataPtr(-1));
    EXPECT_LT(r.GetLibraryPeak(), kSmallPeak);
  }
  // Rows of zeros deflated as tightly as zlib can.
  Bytes file = pngtest::Start(2048, 2048, 8, PNG_COLOR_TYPE_GRAY);
  PutChunk(file, "IDAT", pngtest::Deflated(Bytes(2049u * 2048, 0), 9));
  PutChunk(file, "IEND", {});
  ASSERT_GT(2049u * 2048 / pngtest::Chunk(file, "IDAT").size(), 1000u);
  ASSERT_EQ(1, r.ParseImageByPtr(file.data(), static_cast<u32>(file.size())));
  EXPECT_EQ(1, r.DataCanHoldImage());
}

namespace {

// The threads of this process but the calling one that run or are ready
// to (state R), rather than sleep.
u32 RunnableOthers() {
  namespace fs = std::filesystem;
  const std::string self = std::to_string(syscall(SYS_gettid));
  std::error_code e;
  u32 n = 0;
  for (fs::directory_iterator it("/proc/self/task", e), end; !e && it != end; it.increment(e)) {
    if (it->path().filename() == self) continue;
    std::ifstream in(it->path() / "stat");
    std::string line;
    std::getline(in, line);
    const size_t name = line.rfind(')');  // the state follows the name
    n += name != std::string::npos && name + 2 < line.size() && line[name + 2] == 'R';
  }
  return n;
}

// The times the threads of this process have gone to sleep of their own
// accord, every thread's.
u64 Sleeps() {
  namespace fs = std::filesystem;
  std::error_code e;
  u64 n = 0;
  for (fs::directory_iterator it("/proc/self/task", e), end; !e && it != end; it.increment(e)) {
    std::ifstream in(it->path() / "status");
    const std::string key = "voluntary_ctxt_switches:";
    for (std::string line; std::getline(in, line);)
      if (line.compare(0, key.size(), key) == 0) n += std::stoull(line.substr(key.size()));
  }
  return n;
}

struct Stream {
  Bytes bytes;
  u32 calls = 0;
  u8 othersSlept = 0;
  static u8 Keep(void* user, const u8* data, u32 size) {
    Stream* s = static_cast<Stream*>(user);
    s->bytes.insert(s->bytes.end(), data, data + size);
    return 1;
  }
  // Holds the first band (the second piece, after the stream's header)
  // until every other thread sleeps, 10 s at most.
  static u8 Hold(void* user, const u8* data, u32 size) {
    Stream* s = static_cast<Stream*>(user);
    if (++s->calls == 2) {
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!(s->othersSlept = RunnableOthers() == 0) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return Keep(user, data, size);
  }
};

}  // namespace

// Threads that wait for another (for a place for their band while a band
// is written; for a band to be inflated or unfiltered) sleep rather than
// spin.
TEST(ImagePNG, WaitingThreadsSleep) {
  const u32 kThreads = 4;
  // Writing: while the sink holds the first band, the other threads fill
  // the ring of bands (three a thread) and wait for places: 17 bands.
  std::mt19937 rng(5);
  const u32 w = 256, h = 4096;
  const Bytes noise = klftest::RandomBytes(rng, static_cast<size_t>(w) * h * 4);
  const u8* planes[4] = {&noise[0], &noise[w * h], &noise[2 * w * h], &noise[3 * w * h]};
  CKLF_PNGEncoder encoder;
  Stream held;
  ASSERT_EQ(1, encoder.Encode(planes, 4, w, h, w, CKLF_PNGEncoder::DefaultSettings(), kThreads, Stream::Hold,
                              nullptr, &held));
  EXPECT_EQ(1, held.othersSlept);

  // Reading: flat grey rows under the Paeth filter, in one stream as
  // another writer makes it, inflate at once; then each band is unfiltered
  // from the row above it, band after band, and the threads that come to a
  // band before the one above it is unfiltered wait for it. Asleep, they go
  // to sleep for about every band; spinning, only the few sleeps of the
  // pool's threads starting and ending the job would count. A busy machine
  // holds a thread back now and then, which then finds its band ready.
  // Tens of milliseconds of work at least, which ThreadSanitizer makes
  // of a smaller image.
#if defined(__SANITIZE_THREAD__)
  const u32 fw = 4096, fh = 512;
#else
  const u32 fw = 4096, fh = 4096;
#endif
  const u32 bands = fh / CKLF_PNGEncoder::BandRows(fw + 1);
  const Bytes flat(static_cast<size_t>(fw) * fh, 9);
  Bytes rows(static_cast<size_t>(fw + 1) * fh);
  for (size_t y = 0; y < fh; ++y)
    CKLF_PNGEncoder::FilterRow(CKLF_PNGEncoder::kFilterPaeth, &flat[y * fw], y ? &flat[(y - 1) * fw] : nullptr, fw, 1,
                               &rows[y * (fw + 1)]);
  Bytes file = pngtest::Start(fw, fh, 8, PNG_COLOR_TYPE_GRAY);
  PutChunk(file, "IDAT", pngtest::Deflated(rows));
  PutChunk(file, "IEND", {});
  Bytes out(flat.size());
  u8* into[4] = {out.data(), nullptr, nullptr, nullptr};
  CKLF_ImagePNG r;
  r.SetThreads(kThreads);
  // Read once first, so that the one counted finds its buffers and the
  // pool its threads in place.
  ASSERT_EQ(1, r.ParseImageInto(file.data(), static_cast<u32>(file.size()), into, fw, fh));
  const u64 before = Sleeps();
  ASSERT_EQ(1, r.ParseImageInto(file.data(), static_cast<u32>(file.size()), into, fw, fh));
  const u64 sleeps = Sleeps() - before;
  EXPECT_EQ(flat, out);
  EXPECT_GT(sleeps, bands / 4) << bands << " bands";
}
