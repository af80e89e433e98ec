// The document of the real-display run of the bevel and image overlay
// windows, and the replay its output is held against: a two-layer PSD
// (the cut's picture with its transparency, and a pattern over the whole
// canvas) written, read back and served to a host as an image host does,
// the settings block of the layout with the pieces' records as the
// windows left them, and the plug-in's replay of that block without its
// user interface.
#pragma once

#include <string>
#include <vector>

#include "CKLT_FilterHost.h"
#include "CTessarette.h"

namespace klt_fxreplay {

typedef std::vector<u8> Bytes;

// Writes the PSD at path: layer "Photo" (the colour planes and alpha of
// width x height) and layer "Pattern" (diagonal stripes, opaque).
bool WritePSD(const std::string& path, int32_t width, int32_t height, const std::vector<Bytes>& planes,
              const Bytes& alpha, std::string& error);
// Reads the PSD and serves it: its first layer as the filtered layer (the
// document's planes and transparency), every layer as a document layer
// (ids from 1), the merged document flattened.
bool ServePSD(const std::string& path, CKLT_FilterHost& host, std::string& error);
// The layout of a settings block (an area of width x height) with a record
// of every piece of the engine.
bool BlockWithRecords(const Bytes& layout, int32_t width, int32_t height, const CTessarette& engine, Bytes& out);
// The plug-in's replay of the block over the host (Prepare, Start without
// the dialog, Continue, Finish), its configuration kept in folder; the
// plug-in's result.
int16_t Replay(CKLT_FilterHost& host, const Bytes& block, const std::string& folder);

}  // namespace klt_fxreplay
