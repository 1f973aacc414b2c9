// The receiver's own words kept: every byte the station reads from the
// receiver port while a capture is open goes to a file (NMEA_<id>.nmea in the
// run-log directory), so that a run can be decoded again with --decode-nmea.
// The procedures open and close the capture around a test.
#pragma once

#include <cstddef>
#include <string>

// A capture stops growing here and ends with a note saying so.
inline constexpr std::size_t kNmeaCaptureMaxBytes = 50u << 20;

// Starts a capture into `path` (created or truncated); a capture still open
// is closed first. `limit` bytes at most (tests pass a small one). Returns 0
// or the errno of the open (then nothing is captured).
int BeginNmeaCapture(const std::string& path, std::size_t limit = kNmeaCaptureMaxBytes);
// Appends bytes read from the receiver, while a capture is open.
void CaptureReceiverBytes(const char* data, std::size_t count);
// Closes the capture. Returns 0, or the errno of the first failed write.
int EndNmeaCapture();
