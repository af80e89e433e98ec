// The piece writers of the export: a prepared list of piece layers into
// one layered PSD file, or the layer at an index into one PNG file (on a
// transparent canvas of the document's size at the piece's place, or the
// piece's own rectangle), each with the document's resolution and colour
// profile. Both write to a standard file opened by the
// caller (for the main window, the save dialog's file), with progress in
// per cent on the job's progress object. The main window knows them as
// CWnd_Main::stExportToPSD and CWnd_Main::stExportToPNGs.
//
// Cost: the PSD holds the layers' planes as given (not copied) and packs
// them on the job's threads; a PNG on a canvas is written without drawing
// the canvas, at the cost of the rows the piece covers. Limits: 1..100000
// layers a job (a PSD holds at most 32767); names are cut to 60 bytes in
// a PSD.
#pragma once

#include "CKLF_Mem.h"
#include "CKLF_Progress.h"

class CKLF_StdFile;

class CExportWriters {
 public:
  static constexpr u32 kMaxLayers = 100000;
  static const char kProduct[];      // "Kelvanos Tessarette 3.0"
  static const char kCannotWrite[];  // "Cannot write file..."
  static const char kErrorTitle[];   // "Error!"

  typedef void (*AlertProc)(const char* text, const char* title, void* user);

  // One piece (or the composite) to write: red, green, blue and alpha
  // planes with one row stride, placed in the document.
  struct LAYER {
    char name[256];
    u8* planes[4];
    u32 stride;
    i32 x;
    i32 y;
    u16 width;
    u16 height;
    u8 visible;
    u8 opacity;  // 0..255
  };

  struct JOB {
    LAYER* layers;
    u32 count;
    u16 width;   // the document
    u16 height;
    f64 resolution;  // dots per inch across
    f64 verticalResolution;  // down; 0: as across
    const u8* icc;   // null or iccSize 0: none; in the PSD and every PNG
    u32 iccSize;
    u8 fullCanvas;       // PNG: the piece on a document-sized canvas
    CKLF_Mem* scratch;   // PNG: room for an alpha plane scaled by the opacity
    CKLF_Progress* progress;  // may be null
    u32 threads;         // the writers' own (1: one thread; 0: the machine's)
    AlertProc alert;     // "Cannot write file..." (may be null)
    void* alertUser;
    u16 error;           // out: the writer's code after a failure (0 after a cancel)
  };

  // Writes every layer of the job; 1, or 0 (after the alert for a write
  // failure; a cancel of the progress object, and memory running out
  // (error 17, which the caller tells), alert nothing). After a failed
  // file write errno holds the system's reason.
  static u8 stExportToPSD(CKLF_StdFile* file, void* job);
  // Writes the layer at index. 0 for a failure, as above, and for a piece
  // with nothing on the canvas: nothing is written then (OnCanvas tells
  // such a piece beforehand, so that no file is made for it).
  static u8 stExportToPNGs(CKLF_StdFile* file, void* job, u32 index);
  // Whether the layer has pixels inside the document.
  static u8 OnCanvas(const JOB& job, u32 index);
};
