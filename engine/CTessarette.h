// The puzzle engine: the splitter grid, the knots between the splitters and
// the knives between the knots; it rasterises the knives into a mask, cuts
// the enclosed regions into pieces, renders each piece's effects and
// recombines the shown pieces. The main window and the effect windows read
// and write the layout and the piece array directly.
//
// Cost: a cut keeps one knife mask (1 byte a pixel, or 2 with the thin
// anti-aliased knife, which is drawn at four times the size on one bit a
// sub-pixel) and one piece work mask (1 byte a pixel); every piece holds a
// mask and an image of its own rectangle only. The seed fill, the pinhole
// pass and the scan for unfilled points work on runs and machine words.
//
// Limits: images up to 65535 x 65535 pixels whose masks fit 32-bit sizes
// (larger ones fail with error 1 or 17); at most 100 inner splitters each way,
// 20000 extra knives, 99999 pieces, 64 points a knife.
#pragma once

#include <cstddef>
#include <type_traits>

#include "CKLF_2DMath.h"
#include "CKLF_ErrorManager.h"
#include "CKLF_ImageDrawing.h"
#include "CKLF_ImageFX.h"
#include "CKLF_Mem.h"
#include "CKLF_Progress.h"
#include "CTessaretteCentres.h"
#include "CTessaretteFill.h"
#include "CTessaretteRuns.h"
#include "KLF_Parallel.h"
#include "KLF_Types.h"

class CTessaretteLayerSource;

class CTessarette : public CKLF_FrameWork {
 public:
  // Stored line positions and knot offsets beyond this magnitude are refused
  // by the settings readers: layouts keep them within 0..1 and -1..1, and a
  // larger value would stretch knives over many image sizes (and the cut's
  // cost with them).
  static constexpr f32 kCoordLimit = 4.0f;

  // ---- Effect setting records (native byte order in memory; the stored
  // 92-byte form is CTessaretteRecordCodec's, and stored bytes are never
  // copied into these structs). A colour line is 8 bytes: gray, red, green,
  // blue, then the four CMYK bytes. The records have no hidden padding (the
  // reserved bytes are fields, zeroed with the record) and the offsets of
  // the stored form, pinned below: undo copies and the needs-render
  // comparison may copy and compare them as bytes.
  struct SFX_BC {
    u8 enabled;
    i8 brightness;  // -100..100
    i8 contrast;    // -100..100
  };
  struct SFX_BEVEL {
    u8 enabled;
    u8 reserved0[3];
    f32 light[3];  // x, y, z; y upward
    u8 highlightOpacity;
    u8 highlightColor[8];
    u8 shadowOpacity;
    u8 shadowColor[8];
    u8 size;  // 0..200
    u8 reserved1;
    u16 depth;  // 0..999
    u8 soften;  // 0..20
    u8 reserved2;
  };
  struct SFX_BLUR {
    u8 enabled;
    u8 radius;  // 0..100
  };
  struct SFX_COLOROVERLAY {
    u8 enabled;
    u8 opacity;
    u8 color[8];
  };
  struct SFX_IMAGEOVERLAY {
    u8 enabled;
    u8 opacity;
    u8 sourceMode;  // 0 automatic (smallest layer covering the piece), 1 manual
    u8 reserved;
    i32 layerId;    // -1 the merged document
  };
  struct SFX_STROKE {
    u8 enabled;
    u8 opacity;
    u8 size;  // 0..100
    u8 color[8];
  };
  struct SFX_HSL {
    u8 enabled;
    u8 reserved;
    i16 hue;        // -180..180
    i8 saturation;  // -100..100
    i8 lightness;   // -100..100
  };
  struct SFX_MBLUR {
    u8 enabled;
    i8 angle;   // -90..90 degrees
    u8 radius;  // 0..100
  };
  struct SFX_OPACITY {
    u8 enabled;
    u8 opacity;
  };

  // The saved settings of one piece; 92 bytes when stored.
  struct SFX_ONEPIECE {
    SFX_BC bc;
    u8 reserved0;
    SFX_BEVEL bevel;
    SFX_BLUR blur;
    SFX_COLOROVERLAY colorOverlay;
    SFX_IMAGEOVERLAY imageOverlay;
    SFX_STROKE stroke;
    u8 reserved1;
    SFX_HSL hsl;
    SFX_MBLUR mblur;
    SFX_OPACITY opacity;
    u8 invert;
    u8 selected;
    u8 visible;
    u8 row;     // low byte
    u8 column;  // low byte
  };

  // Which of a piece's three copies of every effect record.
  enum { FX_RENDERED = 0, FX_WORKING = 1, FX_BACKUP = 2 };
  // Effect indices, the bits of a leave-out mask.
  enum : u8 {
    kEffectBlur = 0,
    kEffectBevel = 1,
    kEffectHSL = 2,
    kEffectColorOverlay = 3,
    kEffectBC = 4,
    kEffectMotionBlur = 5,
    kEffectOpacity = 6,
    kEffectInvert = 7,
    kEffectStroke = 8,
    kEffectImageOverlay = 9
  };

  // One cut piece.
  struct SPLITEDCELL {
    CKLF_Mem* maskBlock;  // width x height of the rectangle, 0..255
    kltRECT_s rect;       // image coordinates, right and bottom exclusive
    u8* srcPlanes[5];     // document colour planes at the rectangle, then the mask
    u32 srcStrides[5];
    u8* outerMask;  // at the rectangle's top-left, null when none
    u32 outerStride;
    CKLF_Mem* imageBlock;  // rendered piece: colour planes then alpha
    u8* imgPlanes[5];
    u32 imgStrides[5];
    u32 pixelCount;  // non-zero mask pixels
    u8 selected;
    u32 column;  // grid cell, counted from 1
    u32 row;
    u8 visible;
    SFX_COLOROVERLAY colorOverlay[3];
    SFX_IMAGEOVERLAY imageOverlay[3];
    SFX_STROKE stroke[3];
    SFX_HSL hsl[3];
    SFX_OPACITY opacity[3];
    SFX_BLUR blur[3];
    SFX_MBLUR mblur[3];
    SFX_BC bc[3];
    SFX_BEVEL bevel[3];
    u8 invert[3];
  };

  // One knife between two knots.
  struct KNIFESTRUCT_RENDERER {
    u32 thickness;  // pixels, drawn at least 1
    i32 count;      // 0 straight cut, 1..64 shaped, -1 no knife
    f32 position[64];    // along the knot-to-knot chord, 0..1
    f32 offset[64];      // across it in chord lengths, positive along (-dy, dx)
    f32 smoothness[64];  // 0..1
  };
  // A knife's effective points from its stored shape (positions, offsets
  // and smoothness as kept in a layout and a settings block, clamped to
  // 0..1, -3..3 and -2..2): mirrored by the flips, then scaled by the knob
  // size toward the pivot, the mean of the stored positions kept in single
  // precision. The layout's hand-over and the reading of a settings block
  // both use it, so an apply from the dialog and a later replay of the
  // stored block cut alike. count is capped at 64; the result is the count.
  static u32 EffectiveKnifePoints(const f32* positions, const f32* offsets, const f32* smoothness, u32 count,
                                  u8 flipH, u8 flipU, u32 knobSize, f64* u, f64* h, f64* s);
  // The knob-size pivot of stored positions: their mean, as f32 (0 for none).
  static f32 KnobPivot(const f32* positions, u32 count);
  struct EXTRAKNIFE {
    KNIFESTRUCT_RENDERER knife;
    u32 firstKnot;  // row x knot columns + column
    u32 secondKnot;
  };
  // A knot's displacement from its splitter crossing, as a fraction of the
  // distance to the neighbouring splitter or edge on the side of its sign.
  struct KNOT {
    f32 dx;
    f32 dy;
  };

  // The facts of the document the engine reads.
  struct DOCUMENT {
    u8 colorKind;          // 0 gray, 1 RGB, 2 CMYK
    kltRECT_s filterArea;  // the filter area in whole-document coordinates
    u8 layerAccess;        // image overlays may read document layers
    CTessaretteLayerSource* layers;  // not owned; may be null
  };

  // Receives the engine's alerts (a modal alert in the user interface).
  typedef void (*AlertProc)(const char* text, const char* title, void* user);

  static const u32 kMaxSplitters = 100;
  static const u32 kMaxExtraKnives = 20000;
  static const u32 kMaxPieces = 99999;
  static const i32 kMaxSide = 65535;

  CTessarette();
  virtual ~CTessarette();

  CTessarette(const CTessarette&) = delete;
  CTessarette& operator=(const CTessarette&) = delete;

  // ---- Layout
  // Inner splitters = min(columns - 1, 100) and min(rows - 1, 100); sizes and
  // zeroes the knots and knives. More than 20000 extra knives fails (the
  // inner counts are already set). 0 with error 17 when memory fails.
  [[nodiscard]] u8 Init(u32 columns, u32 rows, u32 extraKnives);
  KNOT* GetKnot(u32 column, u32 row);
  KNIFESTRUCT_RENDERER* GetVerticalKnife(u32 column, u32 row);
  KNIFESTRUCT_RENDERER* GetHorizontalKnife(u32 column, u32 row);
  EXTRAKNIFE* GetExtraKnife(u32 index);

  void SetDocument(const DOCUMENT& doc);
  const DOCUMENT& GetDocument() const { return m_doc; }
  void SetProgress(CKLF_Progress* progress) { m_progress = progress; }
  CKLF_Progress* GetProgress() const { return m_progress; }
  void SetAlertProc(AlertProc proc, void* user);

  // ---- Knives
  // Clears the plane and draws every knife into it (value 255). With the
  // drawing object's one-bit flag set the plane is a packed one-bit plane.
  // low and high give the progress range. 0 for a null plane, a zero size,
  // a stride below the row, a knife that cannot be drawn (its error kept)
  // or a cancel (no error). On more than one thread, bands of rows are
  // cleared and drawn side by side, every knife clipped to each band.
  [[nodiscard]] u8 DrawSplitting(i32 width, i32 height, u8* plane, u32 stride, u8 low, u8 high);
  kltFPOS i_ConvertKnot(u32 column, u32 row, i32 width, i32 height) const;
  kltFPOS i_ConvertKnot(u32 index, i32 width, i32 height) const;
  // 1 also when nothing is to be drawn (no knife, knots closer than 1e-7);
  // 0 with the error of the sampling or the rasteriser when the knife
  // cannot be drawn (a path too long to sample, coordinates out of range).
  [[nodiscard]] u8 i_DrawKnife(const KNIFESTRUCT_RENDERER* knife, kltFPOS a, kltFPOS b);
  // What draws a knife: the engine's objects, or a band's own; error holds
  // the code of a knife that could not be drawn.
  struct KnifePen {
    CKLF_ImageDrawing* drawing;
    CKLF_2DMath* math;
    CKLF_2DMath::KLSPLINEPOINT* knots;  // 66
    CKLF_Mem* points;
    u32 pointCount;
    u16 error;
  };
  // i_DrawKnife with a pen; changes nothing of the engine. With extent,
  // nothing is drawn: extent gets the lowest and highest y of the line's
  // points (lowest above highest when nothing would be drawn).
  [[nodiscard]] u8 i_DrawKnifeWith(KnifePen& pen, const KNIFESTRUCT_RENDERER* knife, kltFPOS a, kltFPOS b,
                                   f64* extent = nullptr) const;
  static void i_LineExtent(const kltFPOS* points, u32 count, f64* extent);
  // The knives in drawing order: vertical, horizontal, extra (knife null
  // for an extra knife between knots the grid does not have).
  u32 i_KnifeCount() const { return m_vKnifeCount + m_hKnifeCount + m_xKnifeCount; }
  void i_KnifeAt(u32 index, i32 width, i32 height, const KNIFESTRUCT_RENDERER*& knife, kltFPOS& a,
                 kltFPOS& b) const;
  // A band's or a worker's own drawing objects for KnifePen.
  struct KnifeTools;
  // The lowest and highest y of each knife's line (extent[2i], extent[2i+1];
  // lowest above highest for a knife that cannot be measured), knives side
  // by side, each worker with tools[worker].
  void i_KnifeExtents(i32 width, i32 height, KnifeTools* tools, u32 threads, f64* extent) const;
  [[nodiscard]] u8 i_DrawSplittingBands(i32 width, i32 height, u8* plane, u32 stride, u8 low, u8 high, u32 threads);

  // ---- Cutting
  // Frees the old pieces, then cuts the image (width x height, colour planes
  // with their stride, at most 4; outer mask 8-bit, may be null) into
  // pieces. Progress runs over low..high; render renders every piece (one
  // that cannot be rendered fails the cut). 0 on failure or cancel (the
  // pieces stored so far stay).
  [[nodiscard]] u8 SplitCells(i32 width, i32 height, u8* outerMask, u32 outerStride, u8** planes, u32 planeStride,
                              u8 planeCount, u8 low, u8 high, u8 render);
  void FreeSpliting();
  // How many pieces SplitCells would cut an image of width x height into
  // without an outer mask, without cutting them: the knife mask is drawn
  // and its regions counted side by side, on the engine's threads. Fails as that cut fails (its errors and alerts,
  // more than 99999 pieces included); the pieces stay as they are. The
  // knife mask's block is kept for the next count or cut.
  [[nodiscard]] u8 CountPieces(i32 width, i32 height, u32& count);
  u32 GetPieceCount() const { return m_cellCount; }
  SPLITEDCELL* GetPieces() const { return m_cells; }
  SPLITEDCELL* GetPiece(u32 index) const { return index < m_cellCount ? m_cells + index : nullptr; }
  u8 HasSplitterPiece() const { return m_splitterPiece; }

  // With on, the cut gives pieces no image block: a piece gets it when
  // first rendered (RenderAndCombine then holds one batch of images at a
  // time). Off by default.
  void SetImagesOnRender(u8 on) { m_imagesOnRender = on; }

  // ---- Rendering and recombination
  // Threads of the renders, the recombination and the effects: 0 (the
  // default) the machine's, 1 a single thread. Results do not depend on it.
  void SetThreads(u32 threads) { m_threads = threads; }
  u32 GetThreads() const { return m_threads; }
  // Renders one piece's working effects into its image; the as-rendered
  // copies take the working ones. 0 for an index out of range (error 1) or
  // when the progress object answers cancel (no error; the piece is left
  // as it was).
  [[nodiscard]] u8 RenderPiece(u32 index);
  // Renders every piece as RenderPiece does, pieces side by side on the
  // engine's threads (each with its own work image and effect engine);
  // pieces whose image overlay reads document layers go first, on the
  // calling thread. Progress runs over low..high by pieces done, with a
  // cancel check after each piece of the calling thread. 0 on cancel (no
  // error; some pieces rendered) or when no work image can be had (17).
  [[nodiscard]] u8 RenderAllPieces(u8 low, u8 high);
  // Renders the listed pieces as RenderPiece does, side by side on the
  // engine's threads (pieces whose image overlay reads document layers
  // first, on the calling thread). No progress is reported; the progress
  // object is asked for a cancel once, before any work. 0 for an index out
  // of range (error 1, nothing rendered), on cancel (no error, nothing
  // rendered) or when a piece cannot get its image (17; the others may
  // be rendered).
  [[nodiscard]] u8 RenderPieces(const u32* pieces, u32 count);
  // The replay's road without every piece image at once: renders the
  // pieces (side by side, as RenderAllPieces) in batches, composes each
  // batch as CombineSplitedCells does over the whole image (union 0) and
  // releases its images (a later render makes them again); the planes must
  // not be the pieces' sources. With background (colour planes of the
  // same stride, such as the pieces' sources), the colour planes start as
  // its copy where they are cleared, else they keep what they hold.
  // Progress low..high by pieces; 0 on cancel (error none), memory (17) or
  // bad arguments (1). The pieces keep their records and masks.
  [[nodiscard]] u8 RenderAndCombine(i32 width, i32 height, u8** planes, u32 stride, u8 planeCount, const u8* mask,
                                    u32 maskStride, u8 low, u8 high, u8* const* background = nullptr);
  // An image of a piece's rectangle: the engine's colour planes, then the
  // alpha, each with this row stride.
  struct PIECEIMAGE {
    u8* planes[5];
    u32 stride;
  };
  // Renders the listed pieces' as-rendered effects, without the effects
  // whose bits are set in leaveOut (1 << kEffect...), into the caller's
  // images (one a piece, of its rectangle's size), side by side as
  // RenderAllPieces does; the pieces, their images and records stay as
  // they are. Progress low..high by pieces; 0 on cancel (no error), for a
  // bad list or image (1) or when no work image can be had (17).
  [[nodiscard]] u8 RenderPieceImages(const u32* pieces, u32 count, u16 leaveOut, const PIECEIMAGE* images, u8 low,
                                     u8 high);
  // Composes the visible pieces in order into planes (colour planes then
  // alpha, planeCount with alpha). mask (8-bit) limits the alpha; rect
  // klNullRect is the whole image; unionAlpha chooses how alphas add up.
  // The alpha inside rect is cleared first, also without pieces. Bands of
  // rows are composed side by side. 0 only on cancel or bad arguments.
  [[nodiscard]] u8 CombineSplitedCells(i32 width, i32 height, u8** planes, u32 stride, u8 planeCount, const u8* mask,
                                       u32 maskStride, kltRECT_s rect, u8 unionAlpha, u8 low, u8 high);
  // The listed pieces (the visible ones, in list order) composed as
  // CombineSplitedCells composes them all, over a target whose alpha is
  // cleared first inside rect; no mask. 0 on cancel or bad arguments.
  [[nodiscard]] u8 CombinePieces(const u32* pieces, u32 count, i32 width, i32 height, u8** planes, u32 stride,
                                 u8 planeCount, kltRECT_s rect, u8 unionAlpha, u8 low, u8 high);

  // ---- Piece records
  // Fills rec from a piece's as-rendered effects, selected and visible
  // bytes and the low bytes of its row and column.
  u8 PieceToRecord(u32 index, SFX_ONEPIECE& rec) const;
  // Copies rec's effects into the piece's working copies; with setVisible
  // and setSelected also those bytes.
  u8 RecordToPiece(const SFX_ONEPIECE& rec, u32 index, u8 setVisible, u8 setSelected);
  // A record holding the default effects.
  void GetDefaultRecord(SFX_ONEPIECE& rec) const;
  // The default bevel light: (-0.5, 0.8, 0.5) normalised.
  static void DefaultLight(f32 light[3]);

  // ---- Settings block (replay)
  // Rebuilds the grid, knots and knives from a settings block. layout is 1
  // for a Layout-mode block; count and records give the 92-byte piece
  // records inside the block (0 and null when none). The whole block is
  // checked first (counts in 64 bits against the bytes present and the
  // limits, knot ids, finite values): a block that fails is refused whole
  // with error 49 and the layout is left as it was. Only an allocation
  // failure while rebuilding (error 17) leaves the layout sized but unfilled.
  [[nodiscard]] u8 InitFromLastSettingsBinary(const CKLF_Mem* block, u8& layout, u32& count, const u8*& records);

  // ---- Progress and alerts
  void SetLocalProgress(f64 percent, u8 low, u8 high);
  void PlatformMessageBox(const char* text, const char* title);
  // The last alert shown (empty strings when none).
  const char* GetLastAlertText() const { return m_alertText; }
  const char* GetLastAlertTitle() const { return m_alertTitle; }

  // The cut's region fill: 1 (default) the run-based fill, 0 the point-wise
  // seed fill of the geometry object with the fill callbacks. Both give the
  // same pieces; the second is the slow reference.
  void SetRunFill(u8 on) { m_runFill = on; }
  // Seeds one region fill of the run-based fill may keep pending (default
  // 2^28); a region that needs more fails the cut with error 17.
  void SetFillSeedLimit(u32 seeds) { m_fill.SetSeedLimit(seeds); }

  // ---- Layout data, read and written directly by the windows. Sizes
  // change only through Init.
  u8 m_colorKind = 1;
  u16 m_vCount = 0;  // inner vertical splitters
  u16 m_hCount = 0;  // inner horizontal splitters
  f32 m_vPos[kMaxSplitters]{};  // relative to the width, the first m_vCount used
  f32 m_hPos[kMaxSplitters]{};  // relative to the height
  KNOT* m_knots = nullptr;
  u32 m_knotCount = 0;
  u16 m_knotColumns = 0;  // m_vCount + 2
  u16 m_knotRows = 0;  // m_hCount + 2
  // Vertical knife (c, r) runs on splitter c from knot (c+1, r) to (c+1, r+1).
  KNIFESTRUCT_RENDERER* m_vKnives = nullptr;
  u32 m_vKnifeCount = 0;
  u16 m_vKnifeColumns = 0;  // m_vCount
  u16 m_vKnifeRows = 0;  // m_hCount + 1
  // Horizontal knife (c, r) runs on splitter r from knot (c, r+1) to (c+1, r+1).
  KNIFESTRUCT_RENDERER* m_hKnives = nullptr;
  u32 m_hKnifeCount = 0;
  u16 m_hKnifeColumns = 0;  // m_vCount + 1
  u16 m_hKnifeRows = 0;  // m_hCount
  EXTRAKNIFE* m_xKnives = nullptr;
  u32 m_xKnifeCount = 0;
  u8 m_thinKnife = 1;  // 1: knives 1 pixel wide, shared out among the pieces
  u8 m_antiAlias = 1;

  // What a new piece gets.
  SFX_COLOROVERLAY m_defColorOverlay;
  SFX_STROKE m_defStroke;
  SFX_IMAGEOVERLAY m_defImageOverlay;
  SFX_HSL m_defHsl;
  SFX_OPACITY m_defOpacity;
  u8 m_defInvert;
  SFX_BLUR m_defBlur;
  SFX_BC m_defBc;
  SFX_MBLUR m_defMblur;
  SFX_BEVEL m_defBevel;

  // Callbacks of the point-wise seed fill (context: the cut's fill state).
  static u32 fTestBounds(i32 x, i32 y, void* context);
  static u32 fTestBoundsBit(i32 x, i32 y, void* context);
  static void fFillLine(i32 x, i32 y, i32 count, void* context);

 private:
  u8 i_Cancelled();
  [[nodiscard]] u8 i_GrowBlock(CKLF_Mem& block, u64 bytes);
  [[nodiscard]] u8 i_CheckImageSize(i32 width, i32 height);
  void i_CopyDefaults(SPLITEDCELL& cell, u32 copy);
  [[nodiscard]] u8 i_ComputeCellCentres(i32 width, i32 height, u32& count);
  [[nodiscard]] u8 i_AddRectToSplitedCellsStorage(const u8* mask, i32 width, i32 height, kltRECT_s rect, u8 clear,
                                                  u8** planes, u32 planeStride, u8 planeCount, u8* outerMask,
                                                  u32 outerStride, const kltFPOS* centres, const u32* pairs,
                                                  u32 centreCount);
  // A new piece's mask and image blocks (owned until the piece takes them).
  struct PieceBlocks {
    CKLF_Mem* mask = nullptr;
    CKLF_Mem* image = nullptr;
    kltRECT_s rect = {0, 0, 0, 0};
    u32 pixels = 0;  // non-zero mask pixels
    // The mask, and an image of imagePlanes planes unless 0.
    [[nodiscard]] u8 Make(const kltRECT_s& r, u32 imagePlanes);
    void Free();
  };
  [[nodiscard]] u8 i_AppendPiece(PieceBlocks& b, u8** planes, u32 planeStride, u8 planeCount, u8* outerMask,
                                 u32 outerStride, const kltFPOS* centres, const u32* pairs, u32 centreCount);
  [[nodiscard]] u8 i_SplitCells(i32 width, i32 height, u8* outerMask, u32 outerStride, u8** planes, u32 planeStride,
                                u8 planeCount, u8 low, u8 high, u8 render);
  u8 i_MemoryFailure();
  [[nodiscard]] u8 i_DrawKnifeMask(i32 width, i32 height, u8 low, u8 high, CTessaretteFill::Mode& mode,
                                   u32& knifeStride);
  [[nodiscard]] u8 i_CountPieces(i32 width, i32 height, u32& count);
  // m_runs finds the regions of the knife mask m_fill is set up on (an
  // 8-bit mask's pinholes closed), progress 55 to 75. 0 on cancel (no
  // error) or memory (17, alert shown).
  [[nodiscard]] u8 i_FindRegions(u8 low, u8 high);
  [[nodiscard]] u8 i_FillRegions(i32 width, i32 height, u8* outerMask, u32 outerStride, u8** planes, u32 planeStride,
                                 u8 planeCount, u32 centreCount, u8 low, u8 high);
  [[nodiscard]] u8 i_StoreRegion(i32 width, i32 height, u8* outerMask, u32 outerStride, u8** planes, u32 planeStride,
                                 u8 planeCount, u32 centreCount);
  [[nodiscard]] u8 i_StoreSplitterPiece(i32 width, i32 height, u8* outerMask, u32 outerStride, u8** planes,
                                        u32 planeStride, u8 planeCount, u32 centreCount);
  u8 i_TooManyPieces();
  // A region found by the recording fill: its runs and bounds (image pixels).
  struct Region {
    u32 firstRun;
    u32 runCount;
    kltRECT_s bounds;
  };
  [[nodiscard]] u8 i_KeepRegion(u32 firstRun);
  // dst = src x outer / 255 inside r (dst left alone where src is 0); pixel
  // (x, y) of src and dst at (y - origin.y) x stride + x - origin.x, of
  // outer at y x outerStride + x. The bounds of the non-zero results, empty
  // when there are none.
  static kltRECT_s i_MultiplyByOuter(const u8* src, u8* dst, u32 stride, kltPOS origin, const u8* outer,
                                     u32 outerStride, kltRECT_s r);
  // Paints one region from its runs (fill order) and bounds into painted
  // (grown), limited by the outer mask, into new piece blocks (none when it
  // comes out empty). 0 on memory.
  [[nodiscard]] u8 i_PaintRegion(const CTessaretteFill::Run* runs, u32 runCount, kltRECT_s bounds, PieceBlocks& b,
                                 CKLF_Mem& painted, CKLF_Mem& bits, i32 width, i32 height, const u8* outer,
                                 u32 outerStride, u32 imagePlanes) const;
  // The painted mask of a region (rect r, stride its width) limited by the
  // outer mask and kept in new piece blocks when something is left.
  [[nodiscard]] static u8 i_KeepPainted(u8* painted, kltRECT_s r, PieceBlocks& b, const u8* outer, u32 outerStride,
                                        u32 imagePlanes);
  // The 8-bit mask's regions (m_runs, labelled; runs as traced): the knife
  // points a region paints beside its runs, painted into painted (area) and
  // bounds grown to hold them; and the whole region painted into piece
  // blocks.
  void i_ShareKnife(u32 region, const CTessaretteRuns::Run* runs, u32 count, u8* painted, const kltRECT_s& area,
                    kltRECT_s& bounds) const;
  [[nodiscard]] u8 i_PaintByteRegion(u32 region, const CTessaretteRuns::Run* runs, u32 count, PieceBlocks& b,
                                     CKLF_Mem& painted, const u8* outer, u32 outerStride, u32 imagePlanes) const;
  // Where i_PaintRegions takes its regions: those the recording fill kept,
  // those of m_runs on the four-times mask (each traced on the thread that
  // paints it), or those of m_runs on the 8-bit mask.
  enum { kRecordedRegions = 0, kTracedRegions = 1, kByteRegions = 2 };
  // Paints the regions side by side into their own piece blocks, then
  // stores them in order.
  [[nodiscard]] u8 i_PaintRegions(i32 width, i32 height, u8* outerMask, u32 outerStride, u8** planes, u32 planeStride,
                                  u8 planeCount, u32 centreCount, u8 source);
  // The regions are found side by side (m_runs) rather than by the fill:
  // the run fill on more than one thread.
  u8 i_RegionsSideBySide() const;
  // Closes the 8-bit mask's pinholes, rows side by side (even rows, then
  // odd ones: a row only reads its neighbours, which the other pass
  // writes). Progress 25 to 50; 0 on cancel.
  [[nodiscard]] u8 i_ClosePinholesSideBySide(u8 low, u8 high);
  void i_ReleaseCutBuffers();
  // One renderer: an effect engine and a work image of the largest
  // piece's size.
  struct RenderContext {
    CKLF_ImageFX fx;
    CKLF_Mem workBlock;
    u8* workPlanes[5];
    u32 workStride;
    u16 failed;  // an effect ran out of memory in the render under way
    RenderContext() : workPlanes(), workStride(0), failed(0) {}
  };
  [[nodiscard]] u8 i_GrowWorkImage(RenderContext& rc);
  [[nodiscard]] u8 i_RenderPiece(u32 index, RenderContext& rc);
  // The piece's image block, made when it has none, a block handed to the
  // piece taken first; not cleared: the render writes all of it.
  [[nodiscard]] u8 i_PieceImage(u32 index);
  // Image blocks kept from one batch of RenderAndCombine for the next.
  class KeptImages;
  // The effects one render applies (a copy of the piece's records).
  struct PieceEffects {
    u8 invert;
    SFX_IMAGEOVERLAY imageOverlay;
    SFX_COLOROVERLAY colorOverlay;
    SFX_HSL hsl;
    SFX_BC bc;
    SFX_MBLUR mblur;
    SFX_BLUR blur;
    SFX_STROKE stroke;
    SFX_BEVEL bevel;
  };
  PieceEffects i_Effects(u32 index, u32 copy) const;
  static void i_LeaveOut(PieceEffects& fx, u16 leaveOut);
  [[nodiscard]] u8 i_RenderEffects(u32 index, const PieceEffects& fx, const PIECEIMAGE& out, RenderContext& rc);
  void i_Ran(u8 ok, u8& dir, RenderContext& rc);
  // Copies the piece's source planes into the work image (toWork 1), or
  // the work image into out.
  void i_CopyPieceImage(u32 index, u8 toWork, const PIECEIMAGE& out, RenderContext& rc);
  // The render's steps; dir tells where the current result is (1: the work
  // image) and flips with every effect that ran.
  [[nodiscard]] u8 i_RenderColours(u32 index, const PieceEffects& fx, const PIECEIMAGE& out, u8& dir,
                                   RenderContext& rc);
  void i_RenderBlurs(u32 index, const PieceEffects& fx, const PIECEIMAGE& out, u8& dir, u8 noBlur,
                     RenderContext& rc);
  void i_RenderShading(u32 index, const PieceEffects& fx, const PIECEIMAGE& out, u8& dir, RenderContext& rc);
  [[nodiscard]] u8 i_SetFXData(u8 direction, u32 index, const PIECEIMAGE& out, RenderContext& rc);
  [[nodiscard]] u8 i_PutDocumentLayerContentToDestinationImage(kltRECT_s rect, u8 automatic, i32 layerId,
                                                               CKLF_ImageFX& fx);
  void i_ColorFromLine(const u8* line, u8* out) const;
  u8 i_NeedsLayers(u32 index, u32 copy) const;
  // Renderers 1..count-1 beside the engine's own, their work images grown;
  // the count that could be had (at least 1).
  u32 i_RenderContexts(u32 count, u32 fxThreads);
  // How many of count pieces render side by side on threads: one a thread,
  // as long as their work images, effect buffers and images (as large as
  // the largest piece's) stay within two planes of the cut image; at least
  // one. The others' threads go into the effects.
  u32 i_SideBySide(u32 threads, u32 count) const;
  [[nodiscard]] u8 i_RenderParallel(u8 low, u8 high, u8 cancellable);
  [[nodiscard]] u8 i_RenderRange(u32 first, u32 end, u8 low, u8 high, u8 cancellable);
  // What a side-by-side render runs through: slots 0..count-1. A total of 0
  // reports no progress.
  struct RenderList {
    virtual ~RenderList() {}
    virtual u8 NeedsLayers(u32 slot) const = 0;
    [[nodiscard]] virtual u8 Render(u32 slot, RenderContext& rc) = 0;
  };
  [[nodiscard]] u8 i_RenderList(RenderList& list, u32 count, u32 offset, u32 total, u8 low, u8 high, u8 cancellable);
  // Destination of a recombination: rect (clipped), planes (colours then
  // alpha), the limiting mask (may be null), what the colour planes are
  // cleared to (may be null: left as they are).
  struct CombineTarget {
    kltRECT_s rect;
    u8** planes;
    u32 stride;
    u8 planeCount;
    const u8* mask;
    u32 maskStride;
    u8 unionAlpha;
    const u32* list;  // the pieces composed (null: by index)
    u8* const* background;
  };
  void i_CombineRows(const CombineTarget& t, i32 y0, i32 y1, u32 first, u32 end, u8 clear, u8 limit);
  [[nodiscard]] u8 i_CombineBands(const CombineTarget& t, u32 first, u32 end, u8 clear, u8 limit, f64 from, f64 span,
                                  u8 low, u8 high);
  [[nodiscard]] u8 i_CheckCombine(i32 width, i32 height, u8** planes, u32 stride, u8 planeCount, const u8* mask,
                                  u32 maskStride);

  CKLF_Progress* m_progress = nullptr;
  i32 m_lastProgress = -1;
  AlertProc m_alertProc = nullptr;
  void* m_alertUser = nullptr;
  char m_alertText[251]{};
  char m_alertTitle[251]{};

  CKLF_Mem m_knotBlock;
  CKLF_Mem m_vKnifeBlock;
  CKLF_Mem m_hKnifeBlock;
  CKLF_Mem m_xKnifeBlock;

  CKLF_ImageDrawing m_drawing;
  CKLF_2DMath m_math;
  CKLF_2DMath::KLSPLINEPOINT m_splineKnots[66]{};
  CKLF_Mem m_splinePoints;
  u32 m_splinePointCount = 0;

  CKLF_Mem m_cellBlock;
  SPLITEDCELL* m_cells = nullptr;
  u32 m_cellCount = 0;
  u8 m_splitterPiece = 0;

  RenderContext m_render;
  RenderContext* m_extraRender[KLF_Parallel::kMaxThreads]{};
  u32 m_threads = 0;
  i32 m_largestWidth = 0;
  i32 m_largestHeight = 0;
  u64 m_cutArea = 0;  // pixels of the image cut
  u8 m_planeCount = 0;  // colour planes + the piece mask

  DOCUMENT m_doc = {1, {0, 0, 0, 0}, 0, nullptr};

  // Cut state: the knife mask, the piece work mask, cell centres.
  CKLF_Mem m_knifeBlock;
  CKLF_Mem m_workMaskBlock;
  CKLF_Mem m_centreBlock;
  CKLF_Mem m_pairBlock;
  CTessaretteCentres m_centreIndex;
  const kltFPOS* m_indexedCentres = nullptr;  // the centres the index holds
  u32 m_indexedCount = 0;
  CTessaretteFill m_fill;
  CKLF_Mem m_regionBlock;  // Region records of the recording fill
  u32 m_regionCount = 0;
  CTessaretteRuns m_runs;
  u8 m_runFill = 1;
  u8 m_nested = 0;  // inside a cut: keep the progress already reported
  u8 m_imagesOnRender = 0;
  // Blocks handed to pieces m_handedFirst.. of the batch being rendered
  // (null where none), each taken by its piece's render.
  CKLF_Mem** m_handed = nullptr;
  u32 m_handedFirst = 0;
  u32 m_handedCount = 0;
};

// The in-memory records keep the stored record's size and offsets with no
// padding of their own.
#define KLF_PIN(type, size) \
  static_assert(sizeof(CTessarette::type) == (size) && std::is_trivially_copyable<CTessarette::type>::value, #type)
KLF_PIN(SFX_BC, 3);
KLF_PIN(SFX_BEVEL, 40);
KLF_PIN(SFX_BLUR, 2);
KLF_PIN(SFX_COLOROVERLAY, 10);
KLF_PIN(SFX_IMAGEOVERLAY, 8);
KLF_PIN(SFX_STROKE, 11);
KLF_PIN(SFX_HSL, 6);
KLF_PIN(SFX_MBLUR, 3);
KLF_PIN(SFX_OPACITY, 2);
KLF_PIN(SFX_ONEPIECE, 92);
#undef KLF_PIN
#define KLF_AT(type, field, at) static_assert(offsetof(CTessarette::type, field) == (at), #type "." #field)
KLF_AT(SFX_BEVEL, light, 4);
KLF_AT(SFX_BEVEL, highlightOpacity, 16);
KLF_AT(SFX_BEVEL, shadowOpacity, 25);
KLF_AT(SFX_BEVEL, size, 34);
KLF_AT(SFX_BEVEL, depth, 36);
KLF_AT(SFX_BEVEL, soften, 38);
KLF_AT(SFX_IMAGEOVERLAY, layerId, 4);
KLF_AT(SFX_HSL, hue, 2);
KLF_AT(SFX_ONEPIECE, bevel, 4);
KLF_AT(SFX_ONEPIECE, blur, 44);
KLF_AT(SFX_ONEPIECE, colorOverlay, 46);
KLF_AT(SFX_ONEPIECE, imageOverlay, 56);
KLF_AT(SFX_ONEPIECE, stroke, 64);
KLF_AT(SFX_ONEPIECE, hsl, 76);
KLF_AT(SFX_ONEPIECE, mblur, 82);
KLF_AT(SFX_ONEPIECE, opacity, 85);
KLF_AT(SFX_ONEPIECE, invert, 87);
KLF_AT(SFX_ONEPIECE, selected, 88);
KLF_AT(SFX_ONEPIECE, visible, 89);
KLF_AT(SFX_ONEPIECE, row, 90);
KLF_AT(SFX_ONEPIECE, column, 91);
#undef KLF_AT
