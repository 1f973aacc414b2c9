// Long waits of the platform: an instrument's answer (up to its session
// time-out), a connection being made, a serial port's output draining. With a
// wait hook set (the application sets one in a windowed run), such a wait is
// cut into slices of at most kWaitSliceMs and the hook runs between them: it
// keeps the user interface alive and shows what is being waited for, and it
// may end the wait early (the operator's abort), which then ends as a
// time-out does. Without a hook (headless runs, tests) a wait is one piece,
// exactly as before.
//
// The hook is never entered from inside itself: a wait that starts while the
// hook runs (an event it processes) waits in one piece.
#pragma once

#include <string>

// What a wait is for.
enum class WaitSubject {
  kInstrumentConnect,  // making the connection to an instrument
  kInstrument,         // an instrument's answer (or taking a message)
  kSerialPort,         // a serial port (its output draining)
};

struct WaitProgress {
  WaitSubject subject = WaitSubject::kInstrument;
  const char* name = "";  // the resource or device: "TCPIP::10.0.0.7::INSTR", "COM3"
  double seconds = 0;     // waited so far
  bool finished = false;  // the last call of a wait that called the hook before
};

// Returns true when the wait should end now.
using WaitHook = bool (*)(const WaitProgress& progress);

inline constexpr int kWaitSliceMs = 50;

// nullptr removes the hook. Returns the previous one.
WaitHook SetWaitHook(WaitHook hook);

// Names the waits of the current thread while it lives (they nest: the inner
// one counts). Platform code opens one around each operation that may wait.
class ScopedWait {
 public:
  ScopedWait(WaitSubject subject, std::string name);
  ~ScopedWait();
  ScopedWait(const ScopedWait&) = delete;
  ScopedWait& operator=(const ScopedWait&) = delete;

 private:
  ScopedWait* outer_;
  WaitSubject subject_;
  std::string name_;
  double start_;
  bool hooked_ = false;
  friend bool WaitSliced();
  friend bool WaitTick();
};

// True when waits of this thread are to be cut into slices now: a hook is
// set, a ScopedWait names the wait and the hook is not running.
bool WaitSliced();
// Calls the hook between two slices; true when the wait should end now.
// False (and no call) when waits are not sliced.
bool WaitTick();
