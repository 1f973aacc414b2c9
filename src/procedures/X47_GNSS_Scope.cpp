// Test 011: one oscilloscope waveform, then (once the operator has
// acknowledged the connection) the basic localization test.
#include "platform/stdio.h"
#include "platform/ui.h"
#include "procedures/X47_GNSS.h"

void RunScopeCaptureTest() {
  StdWrite("Oscilloscope capture: the capture is not built yet.\n");
  MessagePopup("Basic Localization",
               "Connected to QARN...\nRunning basic localization looping test...");
  RunBasicTest();
}
