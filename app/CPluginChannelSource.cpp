#include "CPluginChannelSource.h"

#include "CPluginMain.h"

CChannelListModel::Source::FACTS CPluginChannelSource::Facts() const {
  const kltPLUGINDATA_s& d = *m_plugin.GetPluginDataPtr();
  const kltRECT_s& r = d.filterRect;
  const u32 w = r.right > r.left ? static_cast<u32>(r.right - r.left) : 0;
  const u32 h = r.bottom > r.top ? static_cast<u32>(r.bottom - r.top) : 0;
  return FACTS{d.colorKind, d.planes, d.transparency, d.selection, d.hostMask, w, h};
}

u32 CPluginChannelSource::NameCount() const {
  return m_plugin.GetPluginDataPtr()->channelNamesGiven ? m_plugin.GetChannelNames().GetSize() : 0;
}

const char* CPluginChannelSource::Name(u32 index) const {
  const CKLF_String* name = index < NameCount() ? m_plugin.GetChannelNames().GetPtrAt(index) : nullptr;
  return name ? name->GetStr() : "";
}

u8 CPluginChannelSource::ReadPlane(u8 plane, u8* map, u32 stride) {
  return m_plugin.HostGetChanel(plane, m_plugin.GetPluginDataPtr()->filterRect, map, stride);
}

u8 CPluginChannelSource::ReadChannel(u8 channel, u8* map, u32 stride) {
  return m_plugin.HostGetAlphaChanel(channel, m_plugin.GetPluginDataPtr()->filterRect, map, stride);
}
