// The fixture of tests that drive windows without a display: the user-interface queue on the
// test's thread and a headless host that answers from the test's script and records what was shown.
#pragma once
#include <gtest/gtest.h>

#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/ui_host.h"

namespace velmora::test {

class HeadlessUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host);
  }
  void TearDown() override { SetUiHost(nullptr); }
  CHeadlessUiHost host;
};

}  // namespace velmora::test
