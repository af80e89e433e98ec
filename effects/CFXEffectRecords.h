// What an effect window edits, without the window: the listed pieces (the
// selected ones, or every piece when none is selected) with the box of
// their centres, value 1 and value 2 (two copies of the effect's settings
// record), one result record a listed piece, and the road by which results
// reach the pieces. A piece holds three copies of each effect record:
// current (rendered), working (the next render's) and backup (taken when
// the window opened). The window writes only working and backup records:
//   - opening: backup and working := current;
//   - a main-window update: working := result, or := backup while the main
//     preview is off and the update is not forced (the pieces as they were);
//   - OK: working := result; Cancel (and the close box): working := backup;
//   - both end with the main window's re-render of the listed pieces.
//
// Cost: one record a listed piece (the results); every step is one pass over
// the list. Limits: the engine's piece count.
#pragma once

#include "CEffectWindowServices.h"
#include "CFXSpread.h"
#include "CKLF_Array.h"
#include "CTessarette.h"

class CFXEffectRecords : public CKLF_FrameWork {
 public:
  // The largest effect record (the bevel's).
  static constexpr u32 kMaxRecord = sizeof(CTessarette::SFX_BEVEL);

  // How the results are spread: off (every result is value 1), or on in a
  // direction (CFXSpread's codes) over the fields the window spreads, with
  // the random source of the random spread.
  struct SPREAD {
    u8 on;
    u8 direction;
    const CFXSpread::FIELDSTATE* fields;
    u32 fieldCount;
    CFXSpread::RandomProc random;
  };

  // effect: the engine's effect index (0 blur ... 9 image overlay; invert
  // has no record here).
  explicit CFXEffectRecords(u8 effect);
  ~CFXEffectRecords() override;
  CFXEffectRecords(const CFXEffectRecords&) = delete;
  CFXEffectRecords& operator=(const CFXEffectRecords&) = delete;

  u8 GetEffect() const { return m_effect; }
  u32 GetRecordSize() const { return m_size; }
  // The bytes of an effect's record size; 0 for invert and past 9.
  static u32 RecordSize(u8 effect);
  // A piece's copy of an effect record (CTessarette::FX_RENDERED,
  // FX_WORKING, FX_BACKUP); null for invert and past 9.
  static u8* PieceRecord(CTessarette::SPLITEDCELL& cell, u8 effect, u32 copy);
  static const u8* DefaultRecord(const CTessarette& engine, u8 effect);

  // Lists the pieces and takes their backups (see above) and the box of
  // their centres; sizes the results. 0 without pieces (the list is then
  // empty), with error 1 for an effect without a record, or with error 17
  // when the results cannot be held.
  u8 PreparePieces(CTessarette& engine);
  CKLF_DWordArray* GetPieces() { return &m_pieces; }
  u32 GetPieceCount() const { return m_pieces.GetSize(); }
  const CFXSpread::CENTREBOX& GetCentreBox() const { return m_box; }

  // Value 1 := the backup of the current piece when that piece is listed,
  // else of the first listed piece; value 2 := the engine's default.
  void InitValues(u32 currentPiece);
  // Value 1 (which 0) or value 2 (which 1), a record of GetRecordSize bytes.
  u8* GetValue(u8 which) { return which ? m_value2 : m_value1; }
  const u8* GetValue(u8 which) const { return which ? m_value2 : m_value1; }
  // The record a window of this effect shows in mode (0 value 1, 1 value 2)
  // on its sample picture.
  void GetPreview(u8 mode, const SPREAD& spread, u8* out) const;

  // Fills every listed piece's result: value 1 with the effect on while the
  // spread is off (value 1's enabled byte is set too), else each piece's t
  // (by its centre along the direction, or a new random draw a piece in
  // list order) through CFXSpread::BuildResult against its backup.
  void Regenerate(const SPREAD& spread);
  u8 ResultsValid() const { return m_valid; }
  const u8* GetResult(u32 i) const;

  // The roads to the pieces. Each regenerates first when no result was
  // ever computed, and asks the owner to re-render the list live (the
  // windows' events run between pieces: a long render of OK or Cancel, too,
  // leaves them answering, while the closing window takes no input); the
  // re-render's result.
  u8 UpdateMainWindow(CEffectWindowServices::Owner& owner, u8 mainPreviewOn, u8 force, const SPREAD& spread);
  u8 Confirm(CEffectWindowServices::Owner& owner, const SPREAD& spread);
  u8 Restore(CEffectWindowServices::Owner& owner);

 private:
  u8* i_Piece(u32 i, u32 copy);
  // Listed piece i's t: along a..b when directed, else a new draw.
  f64 i_T(u32 i, u8 directed, kltFPOS a, kltFPOS b, CFXSpread::RandomProc random);
  void i_WorkingFrom(u8 results);

  u8 m_effect;
  u32 m_size;
  CTessarette* m_engine;
  CKLF_DWordArray m_pieces;
  CFXSpread::CENTREBOX m_box;
  alignas(8) u8 m_value1[kMaxRecord];
  alignas(8) u8 m_value2[kMaxRecord];
  CKLF_Mem m_results;
  u8 m_valid;
  CKLF_2DMath m_math;
};
