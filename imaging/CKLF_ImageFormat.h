// Common shape of the framework's image file formats: what a file says about
// its main image (size, colour mode, bits per channel, comment and EXIF
// texts) and up to five decoded 8-bit planes, addressed by channel -1 (alpha)
// and 0..3 (colour channels in the mode's order). Readers and writers derive
// from it virtually, so a format that is both holds one copy.
//
// Cost: the planes are the only large data, width x height bytes each.
// Limits: width and height are 16-bit; the planes of one image together must
// fit 32-bit sizes.
#pragma once

#include "CKLF_Mem.h"
#include "CKLF_Progress.h"
#include "CKLF_String.h"

class CKLF_ImageFormat : public CKLF_FrameWork {
 public:
  // Image modes as readers report them.
  enum { kModeRGB = 1, kModeGrey = 2, kModeCMYK = 3 };

  CKLF_ImageFormat();
  ~CKLF_ImageFormat() override;

  CKLF_ImageFormat(const CKLF_ImageFormat&) = delete;
  CKLF_ImageFormat& operator=(const CKLF_ImageFormat&) = delete;

  [[nodiscard]] virtual u8 GetMainImageSize(u16& width, u16& height);
  virtual u8 GetImageMode();
  virtual u8 GetImageBPP();
  // The plane of a channel (-1 alpha, 0..3 colour), or null when the index
  // lies outside -1..3 or the plane is empty.
  [[nodiscard]] virtual CKLF_Mem* GetImageDataMem(i32 channel);
  [[nodiscard]] virtual u8* GetImageDataPtr(i32 channel);
  virtual CKLF_String GetComments();
  virtual CKLF_String GetEXIF();

  // What a parsed file says beside its pixels: its resolution in dots per
  // inch across and down (0 when it gives none) and its colour profile
  // (empty when none).
  f64 GetResolution() const { return m_resolution; }
  f64 GetVerticalResolution() const { return m_verticalResolution; }
  const CKLF_Mem& GetICCProfile() const { return m_icc; }

  void SetProgress(CKLF_Progress* progress) { m_progress = progress; }
  CKLF_Progress* GetProgress() const { return m_progress; }

 protected:
  // Reports percent to the progress object (when there is one) after a
  // cancel check; 1 when the operation is cancelled.
  [[nodiscard]] u8 i_Canceled(u32 percent);
  // The plane slot of a channel -1..3 (never null for those indices).
  [[nodiscard]] CKLF_Mem* i_Plane(i32 channel);
  void i_FreePlanes();
  // Frees every plane, then makes channels first..last of area bytes each:
  // 1, or 0 with every plane freed and error 17.
  [[nodiscard]] u8 i_AllocPlanes(i32 first, i32 last, u32 area);
  // Every step-th byte from samples on (one channel of interleaved
  // samples, step 1 to 4) into plane, count of them; the two must not
  // overlap. The loops are fixed per step, so their speed does not hang on
  // where the caller keeps its buffers.
  static void i_TakeChannel(const u8* samples, u32 step, u8* plane, u32 count);
  // Forgets the resolutions and the profile (a parse starts with this).
  void i_ClearExtras();
  // Keeps a copy of a profile the file carries: 1, or 0 with error 17.
  [[nodiscard]] u8 i_SetICCProfile(const u8* data, u32 size);

  CKLF_Progress* m_progress;
  u16 m_width;
  u16 m_height;
  u8 m_mode;
  u8 m_bits;
  CKLF_String m_comments;
  CKLF_String m_exif;
  CKLF_Mem m_planes[5];
  f64 m_resolution;
  f64 m_verticalResolution;
  CKLF_Mem m_icc;
};
