// The document of the host program: a canvas in gray, RGB or CMYK with
// layers (position, name, visibility, opacity, colour planes and an
// optional alpha plane, each at the layer's own size), its resolution
// across and down and its colour profile. Read from PNG, PSD or JPEG (a
// JPEG or PNG turned upright by its EXIF orientation); written as PNG
// (flattened:
// RGB or gray, with alpha only when something is transparent) or layered
// PSD, always through an all-or-nothing replacement of the file.
//
// Cost: every layer is held at its own size; flattening touches each
// pixel of a layer once. A read refuses a document whose run would need
// more than a memory budget (in the mode the run converts it to, with
// what the program holds besides) before it decodes the pixels.
// Limits: 8-bit samples, sides up to 65535 (the framework's 16-bit sizes;
// PNG holds more, JPEG 65500), PSD output up to 30000 a side (the
// format's), layer positions within +-32767 for PSD output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CKLF_PNGEncoder.h"
#include "CKLT_FileAccess.h"
#include "KLP_FilterHost.h"

class CKLF_ImageFormat;
class CKLF_ImagePSD;

class CKLT_HostDocument {
 public:
  struct Layer {
    std::string name;
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool visible = true;
    uint8_t opacity = 255;
    std::vector<std::vector<uint8_t>> planes;  // colour planes, width x height
    std::vector<uint8_t> alpha;                // width x height; empty: opaque
  };

  // An alpha channel of the document (a PSD's saved selections), canvas sized.
  struct Channel {
    std::string name;
    std::vector<uint8_t> plane;
  };

  enum Status { kOk, kBadFile, kNoMemory, kOtherSize };
  typedef CKLT_FileAccess::Bytes Bytes;

  int16_t mode = klpModeRGB;  // klpModeGray, klpModeRGB or klpModeCMYK
  int32_t width = 0;
  int32_t height = 0;
  double resolution = 72.0;  // dots per inch across
  double verticalResolution = 0;  // down; 0: as across
  double ResolutionDown() const { return verticalResolution > 0 ? verticalResolution : resolution; }
  // A PNG input's pixels a metre across and down, written back as they
  // were (0: none, or the resolution was set otherwise; PNG output then
  // rounds the resolution to whole pixels a metre; down 0: as across).
  uint32_t pixelsPerMetre = 0;
  uint32_t verticalPixelsPerMetre = 0;
  std::vector<uint8_t> icc;   // the colour profile; empty: none
  std::vector<Layer> layers;  // bottom first
  std::vector<Channel> channels;  // read from PSD files; not written
  // What the last read changed or could not keep, one sentence each.
  std::vector<std::string> notes;
  // How PNG output is compressed, and the threads that compress it and
  // read PNG input (0: the machine's); the bytes written and the planes read
  // do not depend on the threads.
  CKLF_PNGEncoder::Settings pngCompression = CKLF_PNGEncoder::DefaultSettings();
  uint32_t threads = 0;
  // A read refuses a file of another size from its header, before it
  // decodes anything (kOtherSize); width 0: any size.
  int32_t requiredWidth = 0;
  int32_t requiredHeight = 0;
  // The mode the run converts the document to (ConvertTo) before it runs;
  // -1: the file's. The budget counts the run in that mode, and a
  // selection mask when the run is given one.
  int16_t runMode = -1;
  bool runSelection = false;
  // What the program holds besides the document and the run's work on it
  // (its code, the plug-in's, the libraries', the stacks), counted within
  // the budget.
  uint64_t ownBytes = 0;
  // What the last read found its run needs, once within the budget; 0
  // before.
  uint64_t runBytes = 0;

  static int ColourPlanesOf(int16_t mode) { return mode == klpModeRGB ? 3 : mode == klpModeCMYK ? 4 : 1; }
  int ColourPlanes() const { return ColourPlanesOf(mode); }

  // PNG, PSD or JPEG, told apart by their first bytes. kNoMemory when its
  // run would need more than budget (found before the pixels are decoded)
  // or memory runs out; error says why whenever the read fails.
  Status Read(const Bytes& bytes, uint64_t budget, std::string& error);
  Status Read(const std::vector<uint8_t>& bytes, uint64_t budget, std::string& error) {
    return Read(Bytes(bytes.data(), bytes.size()), budget, error);
  }
  Status ReadFile(const std::string& path, uint64_t budget, std::string& error);

  // Whether a document of this mode and size (0: not known yet) can be
  // written at path (by its extension: ".png" or ".psd"), with the reason
  // when not. PSD stops at 30000 pixels a side; PNG goes to this program's
  // 65535.
  static bool CanWrite(const std::string& path, int16_t mode, int32_t width, int32_t height, std::string& error);
  // Writes by the extension; the file is replaced only when the whole new
  // one is on disk. noMemory, when given, says whether memory ran out;
  // note, when given, is set to what the file could not keep (a profile
  // libpng finds unfit for the PNG), else emptied.
  [[nodiscard]] bool Write(const std::string& path, std::string& error, bool* noMemory = nullptr,
                           std::string* note = nullptr) const;

  // What a PSD file keeps of the layers' names, for each one it shortens:
  // 63 bytes, 55 in the Pascal name this program reads back, each cut
  // between UTF-8 characters.
  std::vector<std::string> PSDNameNotes() const;

  // Converts every layer to another colour mode; the profile is dropped.
  [[nodiscard]] bool ConvertTo(int16_t newMode);

  // A layer over the whole canvas: colour planes (0 outside the layer) and
  // alpha (0 outside the layer, 255 inside where the layer has none).
  void LayerToCanvas(const Layer& layer, std::vector<std::vector<uint8_t>>& planes, std::vector<uint8_t>& alpha) const;
  // Puts canvas-sized planes back into a layer (alpha empty: opaque). The
  // layer keeps its bounds and what lies off the canvas, and grows only
  // to hold content the canvas now shows beyond them.
  void PutBack(Layer& layer, const std::vector<std::vector<uint8_t>>& planes, const std::vector<uint8_t>& alpha) const;
  // True when the layer lets something show through: it has an alpha plane
  // or does not cover the canvas.
  bool LayerHasTransparency(const Layer& layer) const;
  // True when the layer lies exactly over the canvas.
  bool LayerCoversCanvas(const Layer& layer) const {
    return layer.left == 0 && layer.top == 0 && layer.width == width && layer.height == height &&
           static_cast<int>(layer.planes.size()) == ColourPlanes();
  }
  // True when the layer shows nothing on the canvas.
  bool LayerIsOffCanvas(const Layer& layer) const;
  // The visible layers composed over transparency.
  void Flatten(std::vector<std::vector<uint8_t>>& planes, std::vector<uint8_t>& alpha) const;

 private:
  Status i_ReadPNG(const Bytes& bytes, uint64_t budget, std::string& error);
  Status i_ReadJPEG(const Bytes& bytes, uint64_t budget, std::string& error);
  Status i_ReadPSD(const Bytes& bytes, uint64_t budget, std::string& error);
  Status i_ReadPSDImage(const Bytes& bytes, uint64_t budget, std::string& error, uint64_t& layerBytes);
  Status i_ReadPSDChannels(const Bytes& bytes, uint64_t budget, uint64_t layerBytes, std::string& error);
  Status i_CheckPSDLayers(CKLF_ImagePSD& psd, uint64_t fileBytes, uint64_t budget, std::string& error,
                          uint64_t& layerBytes);
  void i_ReadPSDLayers(CKLF_ImagePSD& psd);
  Status i_ReadPSDComposite(CKLF_ImagePSD& psd, const Bytes& bytes, std::string& error);
  Status i_TakeHeader(CKLF_ImageFormat& image, uint64_t budget, std::string& error, bool mergedApart = false,
                      bool swapSides = false);
  void i_TakeExtras(const CKLF_ImageFormat& image, bool swapped = false);
  void i_TakeResolution(double across, double down, bool swapped);
  void i_TakePSDExtras(const CKLF_ImagePSD& psd);
  uint64_t i_RunBytes(uint64_t layerBytes) const;
  Status i_CheckBudget(uint64_t layerBytes, uint64_t budget, std::string& error);
  int RunPlanes() const { return runMode < 0 ? ColourPlanes() : ColourPlanesOf(runMode); }
  [[nodiscard]] bool i_WritePNG(const std::string& path, std::string& error, std::string* note) const;
  [[nodiscard]] bool i_WritePSD(const std::string& path, std::string& error) const;

  // Whether the run keeps a merged composite and an alpha apart from the
  // layer it filters, and what the layers cost before the run (read and
  // converted, i_CheckPSDLayers); set from the header and the layers.
  bool m_mergedApart = false;
  uint64_t m_beforeRunBytes = 0;
};
