// Planar 8-bit image effects: blurs, colour effects, inside stroke, bevel,
// resize, tile and convolution. An effect reads the source descriptor and
// writes the destination descriptor (plane pointers, row stride, size, plane
// count, alpha flag; alpha is the last plane). The engine owns neither image;
// it keeps its work buffers between calls and only grows them.
//
// Cost: every effect is linear in the image area. The blurs do not depend on
// the radius (recursive filter, columns worked several at a time); the
// inside stroke costs the outline length times its width plus the area; the
// bevel is two blurs plus a per-pixel lighting step.
// Limits: 1 to 5 planes, 16-bit width and height; buffers are 32-bit sized
// (a larger need fails with error 17). Source and destination must be
// distinct planes. One object serves one caller at a time.
#pragma once

#include "CKLF_Mem.h"
#include "CKLF_Progress.h"
#include "CKLF_StrokeDiscs.h"
#include "KLF_Parallel.h"
#include "KLF_Types.h"

class CKLF_Image;

// Convolution mask of any size: signed weights row by row, not owned.
struct KLFFX_CONVOLUTIONMASK {
  i16* weights;
  u16 columns;
  u16 rows;
};

class CKLF_ImageFX : public CKLF_FrameWork {
 public:
  // One-dimensional blur of a line of samples (0..255 as doubles), filtered
  // in place. Filled by Blur_PrepareBlurData; the caller sets length and
  // vector before each Blur_BlurVector.
  struct STRUCT_Blur_VectorData {
    f64 b1;  // feedback coefficients, already divided by b0
    f64 b2;
    f64 b3;
    f64 B;  // input gain
    u32 length;
    f64* vector;
    f64 sigma;
    CKLF_Mem* padBuffer;
    u8 borderFlag;  // 1: pad with borderValue, 0: repeat the end values
    u8 borderValue;
    f64 kernel[20];  // small-sigma weights, centre first
    u8 smallSigma;
    u16 kernelLength;
  };

  // A family of equally long lines in memory: sample i of line n sits at
  // base + n * lineStep + i * step (in elements of the kind).
  struct Lines {
    u8 isFloat;  // 0: bytes, 1: 32-bit floats
    void* base;
    i64 step;
    i64 lineStep;
    // Alpha lines only: per line, whether it holds a 0, marked once for
    // every plane by i_MarkZeroLines.
    const u8* zeroLines = nullptr;
  };

  CKLF_ImageFX();
  ~CKLF_ImageFX() override;
  CKLF_ImageFX(const CKLF_ImageFX&) = delete;
  CKLF_ImageFX& operator=(const CKLF_ImageFX&) = delete;

  // Descriptors. The plane-list forms copy up to five pointers and check
  // nothing; the block forms take planes laid one after another (plane k at
  // base + k * stride * height) and refuse a null base (error 1). Effects
  // refuse (error 1) a descriptor with no or more than five planes, a
  // missing plane pointer or a stride below the width.
  [[nodiscard]] u8 SetSource(u8** planes, u32 stride, u8 planeCount, u8 hasAlpha, u16 width, u16 height);
  [[nodiscard]] u8 SetDestination(u8** planes, u32 stride, u8 planeCount, u8 hasAlpha, u16 width, u16 height);
  [[nodiscard]] u8 SetSource(u8* base, u32 stride, u8 planeCount, u8 hasAlpha, u16 width, u16 height);
  [[nodiscard]] u8 SetDestination(u8* base, u32 stride, u8 planeCount, u8 hasAlpha, u16 width, u16 height);
  // The image's block, stride = width; planes and alpha by the image mode
  // (1: 3, 2: 4 with alpha, 3: 4, 4: 5 with alpha, 5: 1, 6: 2).
  [[nodiscard]] u8 SetSource(CKLF_Image* image);
  [[nodiscard]] u8 SetDestination(CKLF_Image* image);
  [[nodiscard]] u8 GetDestination(u8** planes, u32& stride, u8& planeCount, u8& hasAlpha, i32& width, i32& height);

  // Written by the resizes outside the scaled picture.
  void SetFillValue(u8 v) { m_fillValue = v; }
  u8 GetFillValue() const { return m_fillValue; }
  // Threads of the blurs' line passes (and the bevel's): 0 the machine's,
  // 1 (the default) the calling thread alone. Results do not depend on it.
  void SetThreads(u32 threads) { m_threads = threads; }
  u32 GetThreads() const { return m_threads; }
  // Asked by Resize and Tile only; not owned.
  void SetProgress(CKLF_Progress* p) { m_progress = p; }
  CKLF_Progress* GetProgress() const { return m_progress; }

  // Source with three colour planes: each becomes (r + g + b) / 3 in place.
  // Other layouts return 0 and leave the error code alone.
  [[nodiscard]] u8 ConvertSourceToGray();

  // Blurs. Radius and distance are the Gaussian's sigma in pixels; below
  // 0.1 the image is copied. blurAlpha 0 copies the alpha plane;
  // zeroAlphaRecovery gives fully transparent pixels the colour of their
  // nearest visible neighbours along the line before filtering.
  [[nodiscard]] u8 GaussianBlur(f64 radius, u8 blurAlpha, u8 zeroAlphaRecovery);
  // Angle in degrees, folded into 0..180.
  [[nodiscard]] u8 MotionBlur(f64 angle, f64 distance, u8 blurAlpha, u8 zeroAlphaRecovery);

  // Colour effects; alpha is copied.
  [[nodiscard]] u8 HSLCorrection(i16 hue, i16 saturation, i16 lightness, u8 lightnessFirst);
  [[nodiscard]] u8 HSLColorize(i16 hue, i16 saturation, i16 lightness, u8 lightnessFirst);
  [[nodiscard]] u8 BrightnessContrast(i8 brightness, i8 contrast, u8 pivot);
  [[nodiscard]] u8 ColorOverlay(const u8* colour, u8 opacity);
  [[nodiscard]] u8 Invert();
  // Blends the destination's content over the source, into the destination.
  [[nodiscard]] u8 Combine_DonStoD(u8 amount);

  // A band of colour inside the alpha shape's edge; alpha is kept.
  [[nodiscard]] u8 StrokeInside(const u8* colour, u8 width, u8 opacity);
  // Anti-aliased disc in a (2 radius + 1)^2 matrix, 2^shift samples a side.
  static void Stroke_FillCircleMatrix(u8 shift, u8* matrix, i32 radius);

  // Raised-tile lighting of the alpha shape; alpha is kept.
  [[nodiscard]] u8 Bevel(u16 size, u16 depth, f64 soften, klt3D_VECTOR light, const u8* highlightColour,
                         u8 highlightOpacity, const u8* shadowColour, u8 shadowOpacity);

  // Geometry: the destination may have another size; plane counts match.
  [[nodiscard]] u8 Resize(u8 keepAspect);
  [[nodiscard]] u8 Resize_Int_ZO(u8 keepAspect);
  // Where a resize that keeps the aspect puts a sw x sh picture in a
  // dw x dh destination: fitted and centred.
  static kltRECT_s FitRect(u32 sw, u32 sh, u32 dw, u32 dh);
  [[nodiscard]] u8 Tile();
  [[nodiscard]] u8 ApplyConvolutionMask(KLFFX_CONVOLUTIONMASK mask, u8 filterAlpha);
  [[nodiscard]] u8 filter_UnsharpenMaskDelicate(u8 filterAlpha);
  [[nodiscard]] u8 filter_UnsharpenMaskNormal(u8 filterAlpha);
  [[nodiscard]] u8 filter_UnsharpenMaskMore(u8 filterAlpha);

  // One-dimensional blur machinery, shared with the bevel.
  void Blur_PrepareBlurData(f64 sigma, STRUCT_Blur_VectorData* rec, CKLF_Mem* padBuffer, u8 borderFlag,
                            u8 borderValue);
  // 0 with error 17 when the pad buffer cannot grow (the vector is left as
  // it was).
  [[nodiscard]] u8 Blur_BlurVector(STRUCT_Blur_VectorData* rec);
  [[nodiscard]] u8 Blur_BlurVectorHQ(STRUCT_Blur_VectorData* rec);
  static void Blur_ZeroAlphaRecoveryData(const u8* values, f64* out, u32 length, const u8* alpha);

  // Colour model conversions (HLS: hue 0..360, lightness and saturation 0..1).
  static void Color_RGB2HLS(u8 r, u8 g, u8 b, f64& h, f64& l, f64& s);
  static void Color_HLS2RGB(f64 h, f64 l, f64 s, u8& r, u8& g, u8& b);
  static f64 Color_HLS2RGBhelper(f64 m1, f64 m2, f64 hue);
  static void Color_CorrectLightness(u8* r, u8* g, u8* b, i32 lightness);

 private:
  struct Desc {
    u8* planes[5];
    u32 stride;
    u32 width;
    u32 height;
    u8 count;
    u8 hasAlpha;
  };


  void i_SetDesc(Desc& d, u8** planes, u32 stride, u8 count, u8 hasAlpha, u16 width, u16 height);
  [[nodiscard]] u8 i_SetDescBlock(Desc& d, u8* base, u32 stride, u8 count, u8 hasAlpha, u16 width, u16 height);
  [[nodiscard]] u8 i_SetDescImage(Desc& d, CKLF_Image* image);
  static u8 i_DescValid(const Desc& d);
  // Common checks: valid and equal descriptors, else error 1.
  [[nodiscard]] u8 i_CheckPair();
  void i_CopyPlane(u8 p);
  void i_CopyAll();
  u8 i_ColourPlanes() const { return static_cast<u8>(m_src.count - (m_src.hasAlpha ? 1 : 0)); }
  // Grows a work buffer to at least n bytes, keeping the memory it has
  // touched; error 17 on failure.
  [[nodiscard]] u8* i_Grow(CKLF_Mem& m, u64 n);
  void i_StrokeBlendRow(u32 v, const u8* cov, const u8* colour, u8 opacity);
  // row(j) for rows 0..h-1, bands of rows side by side on the object's
  // threads; a row's output must be its own.
  template <class Row>
  void i_RowBands(u32 h, Row&& row) {
    const u32 rows = 32, bands = (h + rows - 1) / rows;
    KLF_Parallel::ForEach(m_threads, bands, [&](u32 b, u32) noexcept {
      for (u32 j = b * rows; j < h && j < (b + 1) * rows; ++j) row(j);
    });
  }
  void i_BevelLighting(u16 depth, klt3D_VECTOR light, u8 highlightOpacity, u8 shadowOpacity);
  void i_BevelPaint(const u8* highlightColour, const u8* shadowColour);
  // Applies a per-plane byte table to the colour planes, copies alpha.
  void i_ApplyTables(const u8* tables);

  // Filters lineCount lines of the given length from in to out (same
  // geometry, may be the same memory), several lines at a time and groups
  // of lines on the object's threads. alpha, when
  // given (marked by i_MarkZeroLines), runs the zero-alpha recovery of
  // each line that holds a 0 against it.
  [[nodiscard]] u8 i_BlurLines(const STRUCT_Blur_VectorData& rec, const Lines& in, const Lines& out, const Lines* alpha,
                               u32 lineCount, u32 length);
  [[nodiscard]] u8 i_BlurPlane(u8 p, u8 blurAlpha, u8 zeroAlphaRecovery, u8& recover);
  // Marks which of alpha's lines hold a 0, for every plane's recovery to
  // share; alpha given to i_BlurLines must be marked.
  [[nodiscard]] u8 i_MarkZeroLines(Lines& alpha, u32 lineCount, u32 length);
  // Grows the line buffers for lines up to length long, one set a thread.
  [[nodiscard]] u8 i_GrowBlurLines(const STRUCT_Blur_VectorData& rec, u32 length);
  // The sampled kernel straight on rows or columns of bytes (no float lines,
  // no recovery down columns): whether it takes these lines, its buffers,
  // and the pass itself.
  static u8 i_KernelLinesFit(const STRUCT_Blur_VectorData& rec, const Lines& in, const Lines& out,
                             const Lines* alpha, u32 length);
  [[nodiscard]] u8 i_GrowKernelLines(const STRUCT_Blur_VectorData& rec, u32 length);
  [[nodiscard]] u8 i_KernelLines(const STRUCT_Blur_VectorData& rec, const Lines& in, const Lines& out,
                                 const Lines* alpha, u32 lineCount, u32 length);
  // The motion blur's passes: along rows, along columns, along lines at
  // an angle in 0.1..179.9 (without 89.9..90.1).
  [[nodiscard]] u8 Blur_Motion_DoHorizontal(f64 distance, u8 blurAlpha, u8 zeroAlphaRecovery);
  [[nodiscard]] u8 Blur_Motion_DoVertical(f64 distance, u8 blurAlpha, u8 zeroAlphaRecovery);
  [[nodiscard]] u8 Blur_Motion_DoAngle(f64 angle, f64 distance, u8 blurAlpha, u8 zeroAlphaRecovery);
  [[nodiscard]] u8 i_MotionStraight(u8 horizontal, f64 distance, u8 blurAlpha, u8 zeroAlphaRecovery);
  void i_ResizePlacement(u32& pw, u32& ph, u32& ox, u32& oy, f64& sx, f64& sy, u8 keepAspect) const;
  void i_FillBorder(u8 p, u32 pw, u32 ph, u32 ox, u32 oy);
  [[nodiscard]] u8 i_ReportProgress(f64 percent);

  CKLF_Mem m_lineBuffer;    // blur lines, 64-bit floats
  CKLF_Mem m_padBuffer;     // padded lines of the recursive filter
  CKLF_Mem m_kernelBuffer;  // sampled kernel: rows as floats, strip rings
  CKLF_Mem m_zeroLines;     // blur: per alpha line, whether it holds a 0
  CKLF_Mem m_shearOffset;   // motion blur: offset per length position
  CKLF_Mem m_shearFrac;     // motion blur: fraction per length position
  CKLF_Mem m_motionLine;    // motion blur: one line of 64-bit floats
  CKLF_Mem m_motionBytes;   // motion blur: gathered values, then alpha
  u8 m_fillValue;
  u32 m_threads;
  CKLF_Progress* m_progress;
  Desc m_src;
  Desc m_dst;
  CKLF_Mem m_heightMap;     // bevel: bordered 32-bit float height field
  CKLF_Mem m_highlightMap;  // bevel: highlight strength per pixel
  CKLF_Mem m_shadowMap;     // bevel: shadow strength per pixel
  CKLF_StrokeDiscs m_strokeDiscs;  // stroke: discs of the last widths
  CKLF_Mem m_strokeTables;  // stroke: outline lists
  CKLF_Mem m_strokeRows;    // stroke: per-row coverage work
};
