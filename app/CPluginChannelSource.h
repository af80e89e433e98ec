// The document's channels as the channel selection reads them, through the
// plug-in's adapter: the plug-in data's facts over the filter rectangle,
// the channel names when the host gives them, and the host's plane reads
// (plane 255, the selection mask) and absolute channel reads.
//
// Cost: a read copies the channel over the filter rectangle once.
#pragma once

#include "CChannelListModel.h"

class CPluginMain;

class CPluginChannelSource : public CChannelListModel::Source {
 public:
  explicit CPluginChannelSource(CPluginMain& plugin) : m_plugin(plugin) {}

  FACTS Facts() const override;
  u32 NameCount() const override;
  const char* Name(u32 index) const override;
  u8 ReadPlane(u8 plane, u8* map, u32 stride) override;
  u8 ReadChannel(u8 channel, u8* map, u32 stride) override;

 private:
  CPluginMain& m_plugin;
};
