// The live receiver view: a window of its own (GNSS_UI_LIVE.uir) in which the
// operator opens a receiver port while no test runs and watches the receiver:
// its NMEA scrolling, the current fix, a C/N0 bar chart and a sky plot. The
// port is read from a periodic callback through the same epoch cutting and
// decoding as the tests, a little at a time, so the window never blocks.
// Every callback acts on EVENT_COMMIT only and returns 0.
#pragma once

#include <string>
#include <vector>

// Loads the window (once) and shows it, with the serial ports found.
void OpenLiveReceiverView();
// Closes the view's port (when it still holds ReceiverPort), stops reading
// and closes the window. A test launch calls it before opening the port
// itself; safe to call at any time, also when the view was never opened.
void CloseLiveReceiverView();

// A serial port the view offers: an entry COM<n> of the COM directory (opened
// by number, as the tests open it) or a device path.
struct LivePortChoice {
  std::string label;  // "COM3 -> /dev/pts/4", "/dev/ttyUSB0", ...
  int comNumber = 0;  // > 0: the COM directory's entry
  std::string path;   // otherwise: the device path
};
// The COM directory's entries COM<n> (by number) with their link targets,
// then /dev/serial/by-id, then /dev/ttyUSB* and /dev/ttyACM*; `devRoot`
// stands for "/dev" (tests give a folder of their own).
std::vector<LivePortChoice> FindLivePorts(const std::string& comDirectory,
                                          const std::string& devRoot = "/dev");

// ---- Callbacks ----------------------------------------------------------------
int callbackOpenLiveView(int panel, int control, int event, void* callbackData, int eventData1,
                         int eventData2);
int CMD_LIVE_RESCAN(int panel, int control, int event, void* callbackData, int eventData1,
                    int eventData2);
int CMD_LIVE_OPEN(int panel, int control, int event, void* callbackData, int eventData1,
                  int eventData2);
int CMD_LIVE_CLOSE(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);
int CMD_LIVE_COLDSTART(int panel, int control, int event, void* callbackData, int eventData1,
                       int eventData2);
int CMD_LIVE_INIT_GPS(int panel, int control, int event, void* callbackData, int eventData1,
                      int eventData2);
int CMD_LIVE_INIT_GLN(int panel, int control, int event, void* callbackData, int eventData1,
                      int eventData2);
int CMD_LIVE_DONE(int panel, int control, int event, void* callbackData, int eventData1,
                  int eventData2);
