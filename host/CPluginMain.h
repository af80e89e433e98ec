// The plug-in object: one lives as long as the plug-in is loaded and
// serves every call of the entry. It dispatches the selectors, runs Start
// (the run with the user interface after Parameters, else the silent
// replay of the last settings), keeps the composite alpha (selection times
// transparency) and the windows' positions in the configuration store.
//
// The replay hands the settings block to the engine it holds, which cuts,
// renders and writes the result back through the apply writers. The user
// interface is not the shell's: the plug-in's assembly registers the
// runner that shows the windows (SetUIRunner); after the run the shell
// writes back what the user applied (the knives, the composed image, or the
// pieces cut and rendered anew). Without a runner a dialog run ends as
// cancelled (-128) with the document untouched.
//
// Cost: the composite alpha is one byte per pixel of the filter rectangle;
// a Puzzle-mode apply holds the document's colour planes and one alpha
// plane besides the engine's cut. Limits: the engine's, 65535 pixels a side.
#pragma once

#include "CHostLayerSource.h"
#include "CHostProgress.h"
#include "CKLF_8BFPluginVirtual.h"
#include "CPluginUIRun.h"
#include "CTessarette.h"

class CKLF_Image;

class CPluginMain : public CKLF_8BFPluginVirtual {
 public:
  CPluginMain();
  ~CPluginMain() override;

  // Step 5 of the entry: the selector's action (the pointers are stored).
  void HandleSelector(i16 selector);

  [[nodiscard]] u8 DoAbout() override;
  [[nodiscard]] u8 DoStart() override;
  [[nodiscard]] u8 DoFinish() override;

  // Trims the filter rectangle to the layer's content (transparency without
  // a selection; the engine's document follows the moved filter area) and,
  // when full is 1, builds the composite alpha.
  [[nodiscard]] u8 PrepareCompositeAlpha(u8 full);
  const u8* GetCompositeAlpha(i32& width, i32& height) const {
    width = m_alphaWidth;
    height = m_alphaHeight;
    return m_alphaPtr;
  }

  // A window's saved position: x clamped to -100..7000, y to -10..6000;
  // -32000, -32000 (centred) when the store is closed or a record is
  // missing, and when it cannot be read: then with the code (17 when
  // memory ran out, else the store's). def and flag do not change the
  // result.
  kltSIZE_s WindowPosFromConf(CKLF_String name, CKLF_String parent, kltSIZE_s def, u8 flag);
  // Stores a window's position when the store is open.
  // 0 with the store's code when the position cannot be kept.
  [[nodiscard]] u8 PutWindowPosToConf(CKLF_String name, CKLF_String parent, kltPOS position);

  // Layout mode: replaces the filter rectangle by the knives, drawn in the
  // foreground colour over transparency (editable) or over the background
  // colour. 1 or 0.
  [[nodiscard]] u8 Apply_DrawSpliting();
  // Writes an RGBA image of the filter rectangle's size (RGB documents).
  [[nodiscard]] u8 Apply_SplittingUI(CKLF_Image* image);
  // Cuts the filter rectangle into pieces, renders them with the given
  // 92-byte stored records (count 0 or null: default effects), recombines
  // and writes the result.
  [[nodiscard]] u8 Apply_SplittingNoUI(u32 count, const u8* records);
  // The replay's pieces, kept rather than written back: the block's layout
  // cut from the filter rectangle's planes (copied into source, which the
  // pieces point into while they live) with the block's records, their
  // selection too, and every piece rendered. Nothing goes to the host. Call
  // after FillPluginData. 1, or 0 with the error (a block the engine
  // refuses: 49).
  [[nodiscard]] u8 CutPieces(CKLF_Mem& block, CKLF_Mem& source);

  // The user interface's runner, one for the process (null: none).
  static void SetUIRunner(CPluginUIRun::Runner runner);

  CTessarette& GetEngine() { return m_engine; }
  CHostProgress& GetHostProgress() { return m_hostProgress; }
  // Whether image overlays may read document layers (set at Start).
  u8 GetEngineLayerAccess() const { return m_engineLayerAccess; }

 protected:
  // The About window (about 1) or the dialog through the registered runner,
  // then, for the dialog, the write-back of what the user applied. -1 when
  // no run could be made or its loop failed, else 0.
  [[nodiscard]] virtual i32 i_RunUI(u8 about);
  // Writes back an applied dialog run: the knives in Layout mode, the
  // composed image of an RGB document, else the pieces cut and rendered
  // anew with the effects they had. Sets the host result on failure.
  [[nodiscard]] u8 i_ApplyUIRun(CPluginUIRun& run);
  // The engine rebuilds the layout from the settings block and writes the
  // result into the host's planes; 1 on success.
  [[nodiscard]] virtual u8 i_ReplaySettings(CKLF_Mem& block);
  // Gives the engine the document's facts, its layers and the progress.
  void i_PrepareEngine();
  // Whether image overlays may read the document's layers, then the engine.
  void i_PrepareRun();
  [[nodiscard]] u8 i_CheckEngineSize(i32 width, i32 height);
  [[nodiscard]] u8 i_CutFilterArea(u32 count, const u8* records, u8 withSelection, CKLF_Mem& source, const u8*& limit);
  [[nodiscard]] u8 i_GiveRecords(u32 count, const u8* records, u8 withSelection);
  // The document is opaque without a selection and the knife thin: the
  // cut needs no alpha.
  u8 i_OpaqueThinCut() const;
  [[nodiscard]] u8 i_AlphaOpaque(u64 size) const;
  [[nodiscard]] u8 i_WriteComposed(u8* const* planes, u8 n);

  [[nodiscard]] u8 i_DialogRun();
  [[nodiscard]] u8 i_Replay();

  CTessarette m_engine;
  CHostLayerSource m_layerSource;
  CHostProgress m_hostProgress;
  CKLF_Mem m_alpha;
  u8* m_alphaPtr;
  i32 m_alphaWidth;
  i32 m_alphaHeight;
  u8 m_engineLayerAccess;
};
