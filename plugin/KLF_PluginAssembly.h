// The plug-in put together: the one place that knows every layer. It
// registers the runner of the user interface (the application object and
// its windows, shown on the display module beside the plug-in when no
// platform is in use yet), the Cutter window's factory and the effect
// windows' factory. Called once when the plug-in is loaded, and by tests
// that run the plug-in linked into themselves.
#pragma once

#include "CPluginUIRun.h"

void KLF_AssemblePlugin();

// The registered runner: makes sure a UI platform is in use (the display
// module from the plug-in's folder when a display is named; an alert and
// null when there is none), then runs the application.
CPluginUIRun* KLF_RunPluginUI(CPluginMain& plugin, u8 about);
