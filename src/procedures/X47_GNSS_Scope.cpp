// Test 011: one oscilloscope waveform into SCOPE_OUT.txt (in the working
// directory), then, once the operator has acknowledged the connection, the
// basic localization test on the same session.
#include <string>

#include "instrument/DUT_IP_Control.h"
#include "instrument/ScopeCapture.h"
#include "platform/files.h"
#include "platform/stdio.h"
#include "platform/ui.h"
#include "procedures/X47_GNSS.h"
#include "text/CText.h"

namespace {

constexpr const char* kScopeFileName = "SCOPE_OUT.txt";
// Room the text is made with: 10,000 values of a few characters each.
constexpr std::size_t kScopeTextReserve = 3200000;

}  // namespace

void RunScopeCaptureTest() {
  std::string text;
  text.reserve(kScopeTextReserve);
  long count = 0;
  if (const auto values = CaptureScopeWaveform(SimulatorSession, &count)) {
    for (const double value : *values) text += FormatC("%f\n", value);
  }
  // Replaced as a whole: a failed capture leaves an empty file.
  if (const int error = WriteFileAtomically(kScopeFileName, text); error != 0) {
    StdWrite("Error opening file\n");
    StdErrReason(ErrnoText(kScopeFileName, error));
  }
  MessagePopup("Basic Localization",
               "Connected to QARN...\nRunning basic localization looping test...");
  RunBasicTest();
}
