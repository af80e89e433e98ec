#include "HostTestSupport.h"

namespace hosttest {
CPluginMain* ObjectEntry::target = nullptr;
KLP_FileRef ObjectEntry::folder;
}  // namespace hosttest
