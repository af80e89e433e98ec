// Where the host program's replay takes its settings block from: a file
// (a block as stored in "last.data", or a saved "KLTS30" / older "KLTS20"
// document), the default layout of the filtered area, optionally with the
// grid counts given on the command line, in Puzzle or Layout mode, or a
// recorded scripting descriptor. The block reaches the plug-in through the
// scripting descriptor, recorded the way the plug-in itself records it, as
// a host's action would hold it; Record says when it is too large for that.
//
// Cost: the block is small (a few kilobytes a hundred knives); finding
// that one does not fit costs the compression of the descriptor's worth.
// Limits: 1..101 columns and rows; a compressed block of at most 325000
// bytes in the descriptor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CKLT_FilterHost.h"
#include "CKLT_LayoutShaper.h"


class CKLT_SettingsSource {
 public:
  // Reads a settings file. A "KLTS30" document gives the block after its
  // magic; a "KLTS20" document is read into a layout for an area of
  // width x height and written again as a current block (Layout mode); any
  // other file must be a block itself. Whatever is not a settings block
  // the plug-in could take is refused, with the reason in error.
  // A block that passes the first check but that the plug-in's replay
  // would refuse is damaged too. noMemory (when given) says that the
  // block could not be looked at for want of memory.
  [[nodiscard]] static bool ReadFile(const std::string& path, int32_t width, int32_t height,
                                     std::vector<uint8_t>& block, std::string& error, bool* noMemory = nullptr);

  // Whether the plug-in's replay takes a block: its engine reads it more
  // strictly than the first check (every count must match, the piece
  // records be whole).
  enum Replay { kReplayable, kDamaged, kNoMemory };
  static Replay CheckReplay(const std::vector<uint8_t>& block);

  // The "last.data" the plug-in at pluginPath keeps beside it.
  static std::string LastDataPath(const std::string& pluginPath);

  // The default layout for an area of width x height: the grid the main
  // window chooses for a new document, or columns x rows when both are
  // above 0; every knife the default knob; then shaped (shape may be
  // null). Puzzle mode (no piece records: every piece gets the default
  // effects) unless layoutMode.
  [[nodiscard]] static bool DefaultBlock(int32_t width, int32_t height, int columns, int rows, bool layoutMode,
                                         std::vector<uint8_t>& block, std::string& error,
                                         const CKLT_LayoutShaper::Options* shape = nullptr);

  // Whether a block draws the knives (Layout mode) rather than a puzzle:
  // its first byte, as the plug-in reads it.
  static bool IsLayoutMode(const std::vector<uint8_t>& block);

  // Puts the block into the host's scripting descriptor. noMemory (when
  // given) says that memory ran out, tooLarge that the block does not fit
  // the descriptor (kDescriptorLimit).
  [[nodiscard]] static bool Record(CKLT_FilterHost& host, const std::vector<uint8_t>& block, std::string& error,
                                   bool* noMemory = nullptr, bool* tooLarge = nullptr);
  // The most the descriptor holds: the compressed block, in bytes.
  static const uint32_t kDescriptorLimit;
  // Whether the descriptor would hold a block; unknown when memory ran
  // out finding it out.
  enum Fit { kFits, kTooLarge, kFitUnknown };
  static Fit FitsDescriptor(const std::vector<uint8_t>& block);
  // Why a block cannot be recorded, for a message.
  static std::string TooLargeReason(size_t blockBytes);
  // Whether a descriptor holds settings (its text length record).
  static bool HoldsSettings(const std::vector<CKLT_FilterHost::DescRecord>& records);
  // The block the host's scripting descriptor holds; noMemory as above.
  [[nodiscard]] static bool FromDescriptor(CKLT_FilterHost& host, std::vector<uint8_t>& block, std::string& error,
                                           bool* noMemory = nullptr);

  // Writes the block as a saved document ("KLTS30" and the block),
  // replacing the file all or nothing; false with the reason and errno.
  [[nodiscard]] static bool WriteDocument(const std::string& path, const std::vector<uint8_t>& block,
                                          std::string& error);
};
