// Periodic callbacks from the event loop: what a view that polls a device
// (the live receiver view reading its port) runs on, without ever blocking
// the loop. Qt-free, like ui.h.
#pragma once

#include "platform/ui.h"

// Runs function(callbackData) every `intervalMs` milliseconds from the event
// loop for as long as `panel` lives (discarding the panel stops it). A call
// that is still running when the next tick comes (it processes events itself,
// in a wait) is not entered again. Returns a timer id (> 0) or a negative
// error.
int SetPeriodicCallback(int panel, int intervalMs, DeferredCallbackPtr function,
                        void* callbackData);
// Stops the timer. Ids of timers that are already gone are ignored.
int CancelPeriodicCallback(int timerId);
