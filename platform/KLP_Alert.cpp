#include "KLP_Alert.h"

#include <cstdio>

namespace {

void ToStandardError(const char* title, const char* text) {
  std::fprintf(stderr, "%s %s\n", title, text);
  std::fflush(stderr);
}

KLP_AlertHook g_hook = ToStandardError;

}  // namespace

void KLP_ShowAlert(const char* title, const char* text) { g_hook(title ? title : "", text ? text : ""); }

KLP_AlertHook KLP_SetAlertHook(KLP_AlertHook hook) {
  KLP_AlertHook previous = g_hook;
  g_hook = hook ? hook : ToStandardError;
  return previous;
}
