// The main panel's procedures and callbacks: start-up's quit button, test
// launch, the configuration file and the receiver profile editor. Every
// callback acts on EVENT_COMMIT only and returns 0.
#pragma once

// ---- Quit (GNSS_MAIN.cpp) ----------------------------------------------------
int callbackExit(int panel, int control, int event, void* callbackData, int eventData1,
                 int eventData2);

// ---- Configuration file and profile editor (GNSS_UI_MENU_Config.cpp) ---------
// CONFIG.INI in the working directory.
inline constexpr const char* kConfigFileName = "CONFIG.INI";
// LoadConfig: a CONFIG.INI that stands but cannot be read whole as text is
// reported on stderr, and the next SaveConfig first moves it aside as
// CONFIG.INI.bak (or .bak.2, ...): the settings it holds are never replaced
// by the defaults without a copy.
void LoadConfig();
// SaveConfig: a failed save prints the station's two messages and its reason
// on stderr; ConfigSaveFailed() then stays true for the rest of the run (the
// run's exit code is not 0).
void SaveConfig();
bool ConfigSaveFailed();
void ShowReceiverProfile();
int COMBO_RCVTYPE_CALLBK(int panel, int control, int event, void* callbackData, int eventData1,
                         int eventData2);
int CMD_APPEND_EXTRAMSG(int panel, int control, int event, void* callbackData, int eventData1,
                        int eventData2);
int CMD_DEL_EXTRAMSG(int panel, int control, int event, void* callbackData, int eventData1,
                     int eventData2);
int CMD_RECSAVE(int panel, int control, int event, void* callbackData, int eventData1,
                int eventData2);
int CMD_REREAD_INI(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);

// ---- Test launch (GNSS_UI_MENU_Launch.cpp) -----------------------------------
#define STATION_LAUNCH_CALLBACK(name) \
  int name(int panel, int control, int event, void* callbackData, int eventData1, int eventData2)
STATION_LAUNCH_CALLBACK(callbackRunTest000);
STATION_LAUNCH_CALLBACK(callbackRunTest001);
STATION_LAUNCH_CALLBACK(callbackRunTest003);
STATION_LAUNCH_CALLBACK(callbackRunTest004);
STATION_LAUNCH_CALLBACK(callbackRunTest009);
STATION_LAUNCH_CALLBACK(callbackRunTest010);
STATION_LAUNCH_CALLBACK(callbackRunTest011);
STATION_LAUNCH_CALLBACK(callbackRunTest012);
STATION_LAUNCH_CALLBACK(callbackRunTestSeq);
// Abort and exit buttons of the run panels (basic test: 000, moving test: 009).
// Both abort buttons and the moving test's exit button set AbortFlag: one
// callback, which the callback table registers under the three names.
STATION_LAUNCH_CALLBACK(callbackAbortTest);
inline constexpr auto CALLBK_CMDABORT000 = &callbackAbortTest;
inline constexpr auto CALLBK_CMDABORT009 = &callbackAbortTest;
inline constexpr auto CALLBK_CMDEXITTEST009 = &callbackAbortTest;
// The basic test's exit button closes its panel and lets the test run on.
STATION_LAUNCH_CALLBACK(CALLBK_CMDEXITTEST000);
#undef STATION_LAUNCH_CALLBACK
// Names the launch's run-log directory from the local time (RunLogDirectory)
// and creates LOG/<name>, and LOG itself when missing.
void CreateRunLogDirectory();
// Writes `text` unchanged into LOG/<directory>/Firmware_Version.txt.
void WriteFirmwareVersion(const char* directory, const char* text);

// ---- The system's callback table (CallbackTable.cpp) -------------------------
// Every callback a panel resource may name, registered with the panel layer
// before the first panel loads.
void RegisterSystemCallbacks();
