// The reason behind each failure, one line on the error output, beside the
// launch's and the receiver link's own texts on standard output, which stay
// as they are.
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/GNSS_UI_MENU.h"
#include "receiver/ReceiverLink.h"
#include "tests/console2/ConsoleFixture.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

void PressAbortOnceWaiting(void* data) {
  bool& pressed = *static_cast<bool*>(data);
  if (pressed || CtrlValueAsText(MainPanelHandle, MAIN_STATUS).rfind("waiting for", 0) != 0) return;
  pressed = true;
  CommitControl(MainPanelHandle, MAIN_ABORT);
}

struct Case {
  const char* name;
  std::function<void()> run;
  std::function<void(const std::string& out)> checkOut;  // the unchanged texts
  std::vector<std::string> reasons;                      // each on stderr
};

std::string Launch(CtrlCallbackPtr button, const std::string& address) {
  SetCtrlVal(MainPanelHandle, MAIN_DUTIP, address.c_str());
  button(MainPanelHandle, 0, EVENT_COMMIT, nullptr, 0, 0);
  return address;
}

TEST_F(ConsoleTest, EachFailureSaysWhyOnTheErrorOutput) {
  StartSilentInstrument();
  const std::string silent = emulator_.Resource();
  const std::filesystem::path comDir = workdir_ / "COM";
  std::filesystem::create_directories(comDir);
  std::filesystem::create_symlink("/dev/nonexistent-gnss-port", comDir / "COM7");
  ASSERT_EQ(setenv("GNSS_COM_DIR", comDir.c_str(), 1), 0);

  const auto exactly = [](const char* text) {
    return [text](const std::string& out) { EXPECT_EQ(out, text); };
  };
  const auto contains = [](std::vector<std::string> texts) {
    return [texts](const std::string& out) {
      for (const std::string& t : texts) EXPECT_NE(out.find(t), std::string::npos) << t << out;
    };
  };
  const Case cases[] = {
      {"refused port",
       [] { Launch(callbackRunTest001, "127.0.0.1::1::SOCKET"); },
       exactly("Error, Can not connect to QARN. Check IP address!"),
       {"gnss-station: cannot connect to the simulator at TCPIP::127.0.0.1::1::SOCKET: ",
        "Connection refused"}},
      {"no VXI-11 server at the address",
       [] { Launch(callbackRunTest000, "127.0.0.1:1"); },
       exactly("Error: Can not connect to QARN. Check IP address!"),
       {"gnss-station: cannot connect to the simulator at TCPIP::127.0.0.1:1: ",
        "no VXI-11 server at 127.0.0.1:1", "Connection refused"}},
      {"unresolvable name",
       [] { Launch(callbackRunTestSeq, "no-such-host.invalid::5025::SOCKET"); },
       exactly("Error: Can not connect to QARN. Check IP address!\n"),
       {"gnss-station: cannot connect to the simulator at "
        "TCPIP::no-such-host.invalid::5025::SOCKET: ",
        "cannot resolve no-such-host.invalid:5025"}},
      {"silent instrument",
       [this] {
         bool pressed = false;
         const int timer =
             SetPeriodicCallback(MainPanelHandle, 100, PressAbortOnceWaiting, &pressed);
         Launch(callbackRunTest003, emulator_.Address());
         CancelPeriodicCallback(timer);
       },
       exactly("Carrier Phase: Connected to QARN...\nRunning Carrier Phase test...\n"),
       {"gnss-station: the simulator at " + silent + " did not answer *idn?"}},
      {"missing COM entry",
       [] { OpenReceiverPort(5); },
       contains({"Trying connection to COM port 5... \n", "Failed\n",
                 "GetCommState failed with error ", "SetCommState failed with error "}),
       {"gnss-station: cannot open receiver port COM5 (" + (comDir / "COM5").string() +
        "): No such file or directory"}},
      {"COM entry whose device is gone",
       [] { OpenReceiverPort(7); },
       contains({"Trying connection to COM port 7... \n", "Failed\n"}),
       {"gnss-station: cannot open receiver port COM7 (" + (comDir / "COM7").string() +
        " -> /dev/nonexistent-gnss-port): No such file or directory"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CaptureStdout();
    CaptureStderr();
    c.run();
    const std::string out = GetCapturedStdout();
    const std::string err = GetCapturedStderr();
    c.checkOut(out);
    EXPECT_EQ(out.find("gnss-station:"), std::string::npos) << out;
    for (const std::string& reason : c.reasons)
      EXPECT_NE(err.find(reason), std::string::npos) << reason << "\nin: " << err;
  }
  CloseReceiverPort();
  unsetenv("GNSS_COM_DIR");
}

}  // namespace
