// The main panel off-screen with the wait hook a windowed run installs, and a
// silent instrument to launch against: qarn-emu with its answers withheld.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "app/LaunchActivity.h"
#include "panels/GNSS_UI_MENU_uir.h"
#include "platform/ui.h"
#include "platform/ui_timer.h"
#include "platform/waits.h"
#include "state/StationState.h"
#include "support/EmulatorProcess.h"
#include "support/MainPanelFixture.h"
#include "tests/console/ScpiClient.h"

inline double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class ConsoleTest : public MainPanelTest {
 protected:
  void SetUp() override {
    MainPanelTest::SetUp();
    previousHook_ = SetWaitHook(LaunchWaitHook);
    AbortFlag = 0;
  }
  void TearDown() override {
    SetWaitHook(previousHook_);
    AbortFlag = 0;
    MainPanelTest::TearDown();
  }

  // Starts qarn-emu and makes it withhold every answer (but its own
  // EMULator: ones); MAIN_DUTIP points at it.
  void StartSilentInstrument() {
    std::string error;
    ASSERT_TRUE(emulator_.Start(&error)) << error;
    ScpiClient scpi(emulator_.Port());
    ASSERT_EQ(scpi.Query("EMULator:SILent ON;:EMULator:SILent?"), "1");
    SetCtrlVal(MainPanelHandle, MAIN_DUTIP, emulator_.Address().c_str());
  }

  EmulatorProcess emulator_{STATION_BINARY_DIR "/bin/qarn-emu"};

 private:
  WaitHook previousHook_ = nullptr;
};
