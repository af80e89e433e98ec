// Alerts on this platform. A plug-in shows its modal alerts inside the
// host's process; here an alert is one line on the process's standard
// error, "<title> <text>", which is where a command-line host's user sees
// it. Tests replace the hook to catch alerts.
#pragma once

typedef void (*KLP_AlertHook)(const char* title, const char* text);

// Shows an alert (null texts are taken as empty).
void KLP_ShowAlert(const char* title, const char* text);

// Replaces how alerts are shown; null restores the standard error. The
// previous hook is returned.
KLP_AlertHook KLP_SetAlertHook(KLP_AlertHook hook);
