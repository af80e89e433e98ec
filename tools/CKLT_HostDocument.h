// The document of the host program: a canvas in gray, RGB or CMYK with
// layers (position, name, visibility, opacity, colour planes and an
// optional alpha plane), read from PNG or PSD files and written back as
// PNG (flattened, RGB or gray with alpha) or layered PSD.
//
// Cost: every layer is held whole; flattening and canvas conversions touch
// each pixel once per layer. Limits: 8-bit samples, sides up to 65535 (the
// file formats' limit), layer positions within +-32767 for PSD output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "KLP_FilterHost.h"

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

  int16_t mode = klpModeRGB;  // klpModeGray, klpModeRGB or klpModeCMYK
  int32_t width = 0;
  int32_t height = 0;
  double resolution = 72.0;
  std::vector<Layer> layers;  // bottom first

  static int ColourPlanesOf(int16_t mode) { return mode == klpModeRGB ? 3 : mode == klpModeCMYK ? 4 : 1; }
  int ColourPlanes() const { return ColourPlanesOf(mode); }

  // PNG or PSD, told apart by their first bytes.
  bool Read(const std::string& path, std::string& error);
  // By the extension: ".png" (flattened) or ".psd" (layered).
  bool Write(const std::string& path, std::string& error) const;
  bool WritePNG(const std::string& path, std::string& error) const;
  bool WritePSD(const std::string& path, std::string& error) const;

  // Converts every layer to another colour mode.
  bool ConvertTo(int16_t newMode);

  // A layer over the whole canvas: colour planes (0 outside the layer) and
  // alpha (0 outside the layer, 255 inside where the layer has none).
  void LayerToCanvas(const Layer& layer, std::vector<std::vector<uint8_t>>& planes,
                     std::vector<uint8_t>& alpha) const;
  // Replaces the layer by canvas-sized planes; alpha empty keeps it opaque.
  void CanvasToLayer(Layer& layer, const std::vector<std::vector<uint8_t>>& planes,
                     const std::vector<uint8_t>& alpha) const;
  // True when the layer lets something show through: it has an alpha plane
  // or does not cover the canvas.
  bool LayerHasTransparency(const Layer& layer) const;
  // The visible layers composed over transparency.
  void Flatten(std::vector<std::vector<uint8_t>>& planes, std::vector<uint8_t>& alpha) const;

 private:
  bool i_ReadPNG(const std::vector<uint8_t>& bytes, std::string& error);
  bool i_ReadPSD(const std::vector<uint8_t>& bytes, std::string& error);
};
