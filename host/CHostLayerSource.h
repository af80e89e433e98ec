// The document's layers as the engine's image overlays see them: the
// adapter's layer table and its layer reads, for the engine of the plug-in
// object. Holds no pixels of its own beyond one row-packed read buffer,
// kept and grown between reads.
#pragma once

#include "CKLF_Mem.h"
#include "CTessaretteLayerSource.h"

class CKLF_8BFPluginVirtual;

class CHostLayerSource : public CTessaretteLayerSource {
 public:
  CHostLayerSource() : m_plugin(nullptr) {}
  void SetPlugin(CKLF_8BFPluginVirtual* plugin) { m_plugin = plugin; }

  [[nodiscard]] u8 FillLayerTable(kltRECT_s area, u8 force) override;
  u32 GetLayerCount() override;
  [[nodiscard]] u8 GetLayerInfo(u32 index, LAYERINFO& info) override;
  [[nodiscard]] u8 ReadLayer(i32 id, u8** planes, u32 stride, i32 width, i32 height, u8 planeCount,
                             kltRECT_s rect) override;
  u16 GetLastError() const override { return m_lastError; }

 private:
  [[nodiscard]] u8 i_Read(i32 id, u8** planes, u32 stride, i32 width, i32 height, u8 planeCount, kltRECT_s rect);

  CKLF_8BFPluginVirtual* m_plugin;
  CKLF_Mem m_buffer;
  u16 m_lastError = 0;
};
