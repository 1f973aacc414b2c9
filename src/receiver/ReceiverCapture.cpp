#include "receiver/ReceiverCapture.h"

#include <cerrno>
#include <cstdio>

#include "platform/files.h"
#include "text/CText.h"

namespace {

struct Capture {
  std::FILE* file = nullptr;
  std::string path;
  std::size_t limit = 0;
  std::size_t written = 0;
  bool cut = false;
  int error = 0;
};

Capture capture;

void NoteError(int error) {
  if (capture.error != 0) return;
  capture.error = error != 0 ? error : EIO;
  std::fprintf(stderr, "gnss-station: %s\n", ErrnoText(capture.path, capture.error).c_str());
}

}  // namespace

int BeginNmeaCapture(const std::string& path, std::size_t limit) {
  EndNmeaCapture();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    const int error = errno;
    std::fprintf(stderr, "gnss-station: %s\n", ErrnoText(path, error).c_str());
    return error;
  }
  capture = Capture{};
  capture.file = file;
  capture.path = path;
  capture.limit = limit;
  return 0;
}

void CaptureReceiverBytes(const char* data, std::size_t count) {
  if (capture.file == nullptr || count == 0 || capture.cut) return;
  std::size_t take = count;
  if (capture.written + take > capture.limit) {
    take = capture.limit - capture.written;
    capture.cut = true;
  }
  if (take > 0 && std::fwrite(data, 1, take, capture.file) != take) NoteError(errno);
  capture.written += take;
  if (capture.cut) {
    // A line of its own, which --decode-nmea skips like any non-NMEA text.
    const std::string note =
        FormatC("\r\n# capture cut at %zu bytes: the receiver sent more during this test\r\n",
                capture.limit);
    if (std::fputs(note.c_str(), capture.file) < 0) NoteError(errno);
  }
}

int EndNmeaCapture() {
  if (capture.file == nullptr) return 0;
  if (std::fclose(capture.file) != 0) NoteError(errno);
  const int error = capture.error;
  capture = Capture{};
  return error;
}
