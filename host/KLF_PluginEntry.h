// The plug-in's exported entry and the process-wide values it keeps.
#pragma once

#include "CPluginMain.h"
#include "KLP_FilterHost.h"

extern "C" __attribute__((visibility("default"))) void PluginMain(int16_t selector, KLP_FilterRecord* record,
                                                                  intptr_t* data, int16_t* result);

// Finds the folder of the plug-in's own files: the folder of the library
// the entry was loaded from, or the override. A platform status; on
// failure the previous folder stays.
[[nodiscard]] i32 PrepareAppInfo();
// Makes PrepareAppInfo answer this folder (null or "" clears it): for a
// plug-in linked into another program, whose files are not beside it.
void KLF_SetPluginFolderOverride(const char* folder);
// The one plug-in object.
CPluginMain& KLF_GetPluginObject();
