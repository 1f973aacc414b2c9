// Tests on the station's real main panel, loaded off-screen into
// MainPanelHandle, with the process's working directory in a fresh temporary
// folder for each test (the station reads and writes its files there).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "app/GNSS_UI_MENU.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/ui.h"
#include "state/StationState.h"
#include "support/HeadlessRuntime.h"

class MainPanelTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(StartHeadlessRuntimeOnce("station-tests")); }

  void SetUp() override {
    home_ = std::filesystem::current_path();
    char pattern[] = "/tmp/station-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    workdir_ = pattern;
    std::filesystem::current_path(workdir_);
    MainPanelHandle = LoadPanel(0, STATION_SOURCE_DIR "/ui/GNSS_UI_MENU.uir", MAINPANEL);
    ASSERT_GT(MainPanelHandle, 0) << UiLastError();
  }

  void TearDown() override {
    if (MainPanelHandle > 0) DiscardPanel(MainPanelHandle);
    MainPanelHandle = 0;
    std::filesystem::current_path(home_);
    if (!workdir_.empty()) std::filesystem::remove_all(workdir_);
  }

  std::filesystem::path home_, workdir_;
};
