// The export of pieces as one layered PSD file or as one PNG file a piece,
// as the export dialog's settings say: the pieces gathered in row and
// column order (the selected ones or all, hidden ones as hidden layers in
// a PSD when asked, the unselected shown pieces composed as one more
// layer, or one merged image of every shown piece), each as its rendered
// image or rendered again without its bevel, named by the Simple or
// Extended pattern, and written through the piece writers.
//
// Every file is written to a temporary file beside it; the PNG files of an
// export are renamed over their targets together, only once every one is
// written, so a failed, cancelled or interrupted export leaves the folder
// as it was (earlier files of those names too); the run lists the files
// it put in place. A failure names the system's reason. A PNG file whose
// piece has nothing on the canvas is not made and counts as skipped. Names
// made for the PNG files stay inside the chosen folder (no path separator,
// no "..", no leading dot) and within a folder entry's 255 bytes.
//
// Cost: pieces without their bevel are rendered side by side on the
// engine's threads into images of their own (all at once for a PSD, in
// batches of about 64 MiB for PNG files); PNG files are written side by
// side, one a thread, and every PNG file of an export waits on the disk
// in its temporary until the last is written (the folder needs room for
// the whole set beside the files it replaces); a composite layer holds
// one RGBA image of the pieces' area. Progress: 0..40 rendering, 40..90 writing, 100 done; a
// cancel stops between pieces or files.
// Limits: RGB documents only; a PSD holds at most 32767 layers.
#pragma once

#include <string>

#include "CExportDialogModel.h"
#include "CExportWriters.h"
#include "CKLF_Array.h"

class CKLP_ReplaceFile;
class CTessarette;

class CExportRun : public CKLF_FrameWork {
 public:
  // The document the pieces were cut from.
  struct DOCUMENT {
    u16 width;  // the whole document
    u16 height;
    i32 originX;  // the pieces' area (the filter area) in it
    i32 originY;
    f64 resolution;  // dots per inch across
    f64 verticalResolution;  // down; 0: as across
    const u8* icc;   // null or iccSize 0: none
    u32 iccSize;
  };

  static const char kComposite[];  // "Composite", the composite layer's name and file suffix
  static const char kMerged[];     // "Merged", the merged layer's name

  explicit CExportRun(CTessarette& engine);
  ~CExportRun() override;

  CExportRun(const CExportRun&) = delete;
  CExportRun& operator=(const CExportRun&) = delete;

  void SetDocument(const DOCUMENT& doc) { m_doc = doc; }
  void SetProgress(CKLF_Progress* progress) { m_progress = progress; }
  // 0: the machine's threads; 1: one.
  void SetThreads(u32 threads) { m_threads = threads; }
  void SetAlert(CExportWriters::AlertProc proc, void* user) {
    m_alert = proc;
    m_alertUser = user;
  }

  // Exports with the effective settings (CExportDialogModel::Effective).
  // PSD: path is the file. PNG: the files go to path's folder, named from
  // path's name without ".png" ("[file]" of the naming example). 1 when
  // every file was written; 0 with error 48 (not an RGB document), 2
  // (nothing to export), 1 (a bad path or too many layers), 17, a file's
  // code with Reason(), or no error after a cancel. A document of no size
  // is error 1.
  u8 ExportPieces(const CExportDialogModel::SETTINGS& settings, const char* path);

  // The files a PNG export with these settings would write for path, in
  // order (those of pieces with nothing on the canvas too), without
  // writing anything. 0 with error 2 or 17 as ExportPieces.
  u8 PNGFileNames(const CExportDialogModel::SETTINGS& settings, const char* path, CKLF_StringArray& out);

  // The files put in place by the last export, in order (none after a
  // failure, but for the files renamed before a rename that failed).
  const CKLF_StringArray& Written() const { return m_written; }
  // Files of the folder named as pieces of the last PNG export that it
  // did not put in place (last names), as the folder held them once its
  // set was placed and before another export could place one: an earlier
  // export's. Empty when the folder could not be listed, or memory ran
  // out.
  const CKLF_StringArray& Earlier() const { return m_earlier; }
  // PNG files not made: their pieces have nothing on the canvas.
  u32 Skipped() const { return m_skipped; }
  // Why the last export failed, in words (empty when it did not).
  const char* Reason() const { return m_reason.GetStr(); }

  // A file name of base, suffix and extension that stays in its folder:
  // separators, control characters and leading dots become "_", runs of
  // dots one dot, and base is cut (at a character's start) so that the
  // name holds at most maxBytes bytes. An empty base becomes "Pieces". 0
  // without memory for the name.
  [[nodiscard]] static u8 SafeFileName(const char* base, const char* suffix, const char* extension, u32 maxBytes,
                                       CKLF_String& out);
  // A chosen path with its last name made safe as above, within a folder
  // entry's length; 0 without memory for it.
  [[nodiscard]] static u8 SafePath(const char* path, CKLF_String& out);
  // Whether name (a last name) is one a PNG export to path makes, of any
  // layout and naming, in two steps: the "[file]" of the export (0 without
  // memory for it), then whether name is "[file]" alone, or with
  // "_Composite", "_0012" or "_F0012-Piece9_R2_C3", and ".png"; with cut,
  // name may be the start of one.
  [[nodiscard]] static u8 PNGFileBase(const char* path, CKLF_String& base);
  static u8 IsPNGFileNameOf(const char* base, const char* name, u8 cut);

 private:
  struct Item;
  u8 i_Gather(const CExportDialogModel::SETTINGS& s);
  u8 i_Add(u32 piece, u8 kind);
  u8 i_MakeLayers(const CExportDialogModel::SETTINGS& s);
  u8 i_Compose(u8 merged, CExportWriters::LAYER& layer);
  // Renders the items first..end-1 that need it into m_images.
  u8 i_RenderImages(u32 first, u32 end, u8 low, u8 high);
  u32 i_BatchEnd(u32 first) const;
  // Without an image, or to be written without the bevel it has.
  u8 i_NeedsRender(u32 item) const;
  CExportWriters::JOB i_Job(u8 fullCanvas) const;
  u8 i_WritePSD(const char* path);
  u8 i_WritePNGs(const CExportDialogModel::SETTINGS& s, const char* path);
  u8 i_WritePNGBatch(CExportWriters::JOB& job, u32 first, u32 end, const std::string* targets,
                     CKLP_ReplaceFile* files);
  void i_ListEarlier(const char* folder, const char* path, const std::string* targets,
                     const CKLP_ReplaceFile* files);
  u8 i_Progress(u32 percent);

  CTessarette& m_engine;
  DOCUMENT m_doc;
  CKLF_Progress* m_progress;
  u32 m_threads;
  CExportWriters::AlertProc m_alert;
  void* m_alertUser;

  CKLF_Mem m_itemMem;   // Item a layer
  CKLF_Mem m_layerMem;  // CExportWriters::LAYER a layer
  u32 m_count;
  u16 m_leaveOut;  // effects the pieces are written without
  CKLF_Mem m_images;     // rendered pieces
  CKLF_Mem m_composite;  // the composite's or merged image's planes
  CKLF_StringArray m_names;  // PNG file name suffixes, a layer each
  CKLF_String m_base;        // PNG file names' "[file]"
  CKLF_StringArray m_written;
  CKLF_StringArray m_earlier;
  u32 m_skipped;
  CKLF_String m_reason;
};
