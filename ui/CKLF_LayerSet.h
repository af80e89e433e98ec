// The ordered layers of a window (bottom first) and the RGB canvas they are
// composed into. The set does not own its layers.
//
// Render works row by row over the asked rectangle and only over the layers
// that meet it: the lowest layer present in a row is copied, every further
// one blended with the fixed integer formulas below. It allocates nothing
// (the work list is sized whenever a layer is added or removed). Cost: one
// pass over the rectangle per layer that covers it.
#pragma once

#include "CKLF_Array.h"
#include "CKLF_Layer.h"

class CKLF_LayerSet : public CKLF_FrameWork {
 public:
  CKLF_LayerSet();
  ~CKLF_LayerSet() override;

  // Empties the set and makes a w x h canvas.
  [[nodiscard]] u8 Create(u16 w, u16 h);
  // A new canvas; the layers stay.
  [[nodiscard]] u8 Resize(u16 w, u16 h);
  // No layers, no canvas.
  void Clean();

  // The new index, or -1.
  [[nodiscard]] i32 AddLayer(CKLF_Layer* layer);
  // An index at or past the end appends.
  [[nodiscard]] u8 InsertLayer(CKLF_Layer* layer, u32 index);
  // Removes (does not free) the layer; 0 with error 1 for a bad index.
  u8 DeleteLayer(u32 index);
  CKLF_Layer* GetLayer(u32 index) const;
  u32 GetLayerCount() const { return m_layers.GetSize(); }
  // First layer of exactly that name, or -1.
  i32 FindLayerByName(const CKLF_String& name);

  CKLF_Image* GetCanvas() { return &m_canvas; }
  u16 GetCanvasWidth() const { return m_width; }
  u16 GetCanvasHeight() const { return m_height; }

  // Composes the rectangle (klNullRect = the whole canvas) into the canvas.
  // Per plane, d the canvas byte, s the layer's, a its alpha, o its opacity:
  //   alpha, o < 255:    d -= floor(o a (d - s) / 65536)
  //   alpha, o = 255:    d -= floor(a (d - s) / 256)
  //   no alpha, o < 255: d = floor((d (255 - o) + s o) / 256)
  //   no alpha, o = 255: d = s
  // Error 2 without a canvas.
  u8 Render(kltRECT_s rect);
  // Renders the layer's own rectangle; 0 with error 1 for a bad index.
  u8 RenderLayer(u32 index);

 private:
  [[nodiscard]] u8 i_SizeWorkList();
  void i_RenderRow(i32 y, i32 left, u16 width, u32 listed);

  CKLF_Image m_canvas;
  u16 m_width;
  u16 m_height;
  CKLF_PtrArray m_layers;
  CKLF_Mem m_work;  // the layers of one render, one pointer a layer
};
