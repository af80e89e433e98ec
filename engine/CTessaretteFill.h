// The region fill of the puzzle engine's cut: the knife mask (8-bit at the
// image size, or one bit a sub-pixel at four times the size), the piece work
// mask it paints, and the running bounds of the region being filled.
//
// SeedFill visits the runs of a region in the same order as the geometry
// object's point-wise seed fill driven by Test and FillLineReference, and
// paints them with FillLine, which works on whole words of the one-bit mask;
// both give the same bytes. Pinhole closing and the search for unfilled
// points also work on words. The seed stack is kept and grown between fills.
//
// Limits: scan sizes up to 4 x 65535; one-bit rows are padded to 8 bytes
// and the padding bits are set, so they read as knife; at most 2^28 seeds
// pending in one fill.
#pragma once

#include "CKLF_Mem.h"
#include "KLF_Types.h"

class CTessaretteFill {
 public:
  enum Mode {
    MODE_BIT4 = 0,        // thin knife, anti-aliased: one-bit mask at 4x
    MODE_8BIT_THIN = 1,   // thin knife, plain: knife lines go to the first region
    MODE_8BIT_THICK = 2,  // thick knife, plain: the knife is a piece of its own
    MODE_8BIT_AA = 3      // thick knife, anti-aliased: edges shared out
  };

  CTessaretteFill();

  // Row bytes of the one-bit mask for an image width (padded to 8 bytes).
  static u32 BitRowBytes(i32 imageWidth);

  // knife: the knife mask (scan size = the image size, or four times it in
  // MODE_BIT4); work: the piece work mask at the image size, stride = width.
  void Setup(Mode mode, u8* knife, u32 knifeStride, u8* work, i32 imageWidth, i32 imageHeight);
  // Sets the padding bits of every one-bit row (call after drawing).
  void SealPadding();

  Mode GetMode() const { return m_mode; }
  i32 GetScanWidth() const { return m_scanW; }
  i32 GetScanHeight() const { return m_scanH; }
  u32 GetKnifeStride() const { return m_knifeStride; }

  // 1 outside the scan area or on knife (or filled) points.
  u32 Test(i32 x, i32 y) const;
  // Paints the run of count points from (x, y), clipped to the scan area.
  void FillLine(i32 x, i32 y, i32 count);
  // The same, point by point, as the rules state it (the slow reference).
  void FillLineReference(i32 x, i32 y, i32 count);

  // Fills the region of the seed. 0 when the seed stack (or, recording, the
  // run list) could not grow (the region is then partly filled).
  [[nodiscard]] u8 SeedFill(i32 x, i32 y);

  // One run of a region's fill in scan coordinates, in fill order.
  struct Run {
    i32 x, y, count;
  };
  // Recording (MODE_BIT4): SeedFill marks each run filled and keeps it, and
  // the bounds, instead of painting the work mask; PaintRuns paints a region
  // from its runs later, so that regions paint side by side.
  void SetRecording(u8 on) { m_recording = on; }
  const Run* GetRuns() const { return reinterpret_cast<const Run*>(m_runBlock.GetPtr()); }
  u32 GetRunCount() const { return m_runCount; }
  void ClearRuns() { m_runCount = 0; }
  void ReleaseRuns() {
    m_runBlock.free();
    m_runCount = m_runCapacity = 0;
  }
  // Paints a region's runs into mask (the image pixels of rect r, rows of
  // stride bytes, zeroed first) with the bytes FillLine gives the work mask
  // in MODE_BIT4: a vertical neighbour counts as set when it is knife or a
  // point of an earlier run (a free neighbour is always the region's own).
  // r must hold the region's bounds. 0 when scratch cannot grow.
  [[nodiscard]] static u8 PaintRuns(const Run* runs, u32 count, i32 scanW, i32 scanH, const kltRECT_s& r, u8* mask,
                                    u32 stride, CKLF_Mem& scratch);
  // A worker's scratch for the next region: need bytes, grown with half as
  // much again and in place (the regions a worker meets next are mostly no
  // larger, and memory taken afresh is faulted in afresh). 0 when it cannot
  // grow.
  [[nodiscard]] static u8 GrowScratch(CKLF_Mem& scratch, u64 need);
  // Seeds the stack may hold (default 2^28, as the geometry object's fill).
  void SetSeedLimit(u32 seeds) { m_seedLimit = seeds; }
  u32 GetSeedLimit() const { return m_seedLimit; }

  // Closes the pinholes of scan row y: a free point whose four neighbours
  // are knife (outside counts as knife) becomes knife; in MODE_8BIT_AA it
  // takes the mean of its neighbours inside the image.
  void ClosePinholes(i32 y);

  // The first point at or after x on scan row y that tests 0, or -1.
  i32 FindFree(i32 y, i32 x) const;

  // Running bounds in image pixels (maximum inclusive).
  void ResetBounds();
  i32 m_minX, m_minY, m_maxX, m_maxY;

 private:
  // Clips a run to the scan area; 0 when nothing of it is left.
  u8 i_ClipRun(i32& x, i32 y, i32& count) const;
  u8 i_Bit(i32 x, i32 y) const;
  void i_SetBits(u8* row, i32 x0, i32 x1);
  i32 i_PrevFree(i32 y, i32 x, i32 limit) const;
  i32 i_PrevKnife(i32 y, i32 x, i32 limit) const;
  i32 i_NextKnife(i32 y, i32 x) const;
  i32 i_PrevKnifeLeft(i32 y, i32 x) const;
  [[nodiscard]] u8 i_Push(i32 x, i32 y);
  void i_PushStretches(i32 y, i32 left, i32 right);
  void i_Extend(i32 x0, i32 y0, i32 x1, i32 y1);
  [[nodiscard]] u8 i_RecordRun(i32 x, i32 y, i32 count);

  Mode m_mode;
  u8* m_knife;
  u32 m_knifeStride;
  u8* m_work;
  i32 m_imageW;
  i32 m_imageH;
  i32 m_scanW;
  i32 m_scanH;

  CKLF_Mem m_stackBlock;
  u32 m_stackCount;
  u32 m_stackCapacity;
  u32 m_seedLimit;
  u8 m_pushFailed;
  u8 m_recording;
  CKLF_Mem m_runBlock;
  u32 m_runCount;
  u32 m_runCapacity;
};
