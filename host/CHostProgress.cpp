#include "CHostProgress.h"

#include "CKLF_8BFPluginVirtual.h"

i32 CHostProgress::Progress(u8 percent, void* data) {
  (void)data;
  m_lastPercent = percent;
  CKLF_8BFPluginVirtual* plugin = static_cast<CKLF_8BFPluginVirtual*>(GetUserDataPtr());
  if (plugin) plugin->HostProgress(100, percent);
  return 0;
}

u8 CHostProgress::IsCanceled() {
  CKLF_8BFPluginVirtual* plugin = static_cast<CKLF_8BFPluginVirtual*>(GetUserDataPtr());
  return plugin ? plugin->HostCancel() : 0;
}
