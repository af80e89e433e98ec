#include <gtest/gtest.h>

#include <string>

#include "KLP_Alert.h"

namespace {

std::string g_seen;

void Catch(const char* title, const char* text) { g_seen = std::string(title) + "|" + text; }

TEST(Alert, GoesToStandardErrorOrTheHook) {
  testing::internal::CaptureStderr();
  KLP_ShowAlert("Error!", "Memory allocation problem...");
  KLP_ShowAlert(nullptr, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error! Memory allocation problem...\n \n");
  KLP_SetAlertHook(Catch);
  KLP_ShowAlert("Error!", "Too many...");
  EXPECT_EQ(g_seen, "Error!|Too many...");
  EXPECT_EQ(KLP_SetAlertHook(nullptr), &Catch);
}

}  // namespace
