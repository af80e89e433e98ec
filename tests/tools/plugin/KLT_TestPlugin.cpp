// A small filter plug-in for the host program's tests, on the real plug-in
// object with its own Start: XORs the colour planes of the filter rectangle
// with a value where the selection mask is above 127, makes editable
// transparency opaque, reports progress and polls abort once per plane.
// The value is 255, or the one kept in the scripting descriptor; the dialog
// run stores 0x0F there (as a user's choice would be recorded), or with
// KLT_TEST_PLUGIN_STORE=n n bytes of noise as the plug-in's OK stores its
// settings: in the descriptor (left empty when they do not fit) and as
// "last.data" in the folder KLT_TEST_PLUGIN_FOLDER names. With
// KLT_TEST_PLUGIN_THROW set, Start throws as a failed allocation does. With
// KLT_TEST_PLUGIN_CHANNEL=n it writes the document's channel n (absolute
// number) into every colour plane instead, after printing the channel
// names the host gives on the error stream. With KLT_TEST_PLUGIN_RESULT=n
// Start changes nothing and ends with the result n. With
// KLT_TEST_PLUGIN_MAIN_THREAD set, Start ends with the result 1 when it
// runs on another thread than the process's first.
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "CPluginMain.h"

namespace {

class CTestPlugin : public CPluginMain {
 public:
  u8 DoStart() override {
    if (std::getenv("KLT_TEST_PLUGIN_THROW")) throw std::bad_alloc();
    if (std::getenv("KLT_TEST_PLUGIN_MAIN_THREAD") && syscall(SYS_gettid) != getpid()) {
      HostSetRetCode(1);
      return 0;
    }
    if (const char* result = std::getenv("KLT_TEST_PLUGIN_RESULT")) {
      HostSetRetCode(static_cast<i16>(std::atoi(result)));
      return 0;
    }
    u8 value = 255;
    CKLF_Mem block;
    u8 display = 0;
    if (m_dialogRequest) {
      value = 0x0F;
      if (const char* store = std::getenv("KLT_TEST_PLUGIN_STORE")) {
        std::vector<u8> noise(std::strtoul(store, nullptr, 10));
        u32 x = 1, n = static_cast<u32>(noise.size());
        for (u8& b : noise) b = static_cast<u8>((x = x * 1103515245u + 12345u) >> 23);
        KLP_FileRef folder;
        if (folder.SetPath(std::getenv("KLT_TEST_PLUGIN_FOLDER")) != klpNoErr) return 0;
        SetPluginFolder(folder);
        if (!WriteEncryptedScriptParameter_V2(noise.data(), n) && GetError() != klErrZipCompress) return 0;
        if (!ConfFile_Write(noise.data(), n, "last.data", "")) return 0;
      } else if (!WriteEncryptedScriptParameter_V2(&value, 1)) {
        return 0;
      }
    } else if (ReadEncryptedScriptParameter_V2(block, display) && block.GetSize() == 1) {
      value = block.GetPtr()[0];
    }
    const kltPLUGINDATA_s& pd = m_pluginData;
    const kltRECT_s r = pd.filterRect;
    const u32 w = static_cast<u32>(r.right - r.left), n = w * static_cast<u32>(r.bottom - r.top);
    std::vector<u8> plane(n), mask(n, 255);
    if (pd.hostMask && !HostGetChanel(255, r, mask.data(), w)) return 0;
    const u8 colours = static_cast<u8>(pd.planes - pd.transparency);
    if (const char* channel = std::getenv("KLT_TEST_PLUGIN_CHANNEL")) {
      std::fprintf(stderr, "channels:");
      for (u32 i = 0; i < m_channelNames.GetSize(); ++i) std::fprintf(stderr, " [%s]", m_channelNames[i].GetStr());
      std::fprintf(stderr, "\n");
      if (!HostGetAlphaChanel(static_cast<u8>(std::atoi(channel)), r, plane.data(), w)) return 0;
      for (u8 c = 0; c < colours; ++c)
        if (!HostPutChanel(c, r, plane.data(), w)) return 0;
      HostSetRetCode_NoError();
      return 1;
    }
    for (u8 c = 0; c < colours; ++c) {
      HostProgress(colours, c);
      if (HostCancel()) {
        HostSetRetCode_Cancel();
        return 0;
      }
      if (!HostGetChanel(c, r, plane.data(), w)) return 0;
      for (u32 i = 0; i < n; ++i) plane[i] ^= mask[i] > 127 ? value : 0;
      if (!HostPutChanel(c, r, plane.data(), w)) return 0;
    }
    if (pd.editableTransparency && !HostPutChanel(static_cast<u8>(pd.planes - 1), r, static_cast<u8>(255))) return 0;
    HostProgress(colours, colours);
    HostSetRetCode_NoError();
    return 1;
  }
};

CTestPlugin g_plugin;

}  // namespace

extern "C" __attribute__((visibility("default"))) void PluginMain(int16_t selector, KLP_FilterRecord* record,
                                                                  intptr_t* data, int16_t* result) {
  g_plugin.SetHostPointers(record, data, result);
  if (result) *result = 0;
  g_plugin.HandleSelector(selector);
}
