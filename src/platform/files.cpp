#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Writes all of `text` to `fd`, retrying after signals. 0 or an errno.
int WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : EIO;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

}  // namespace

std::string ErrnoText(std::string_view what, int error) {
  std::string text(what);
  text += ": ";
  text += std::strerror(error);
  return text;
}

ReadOutcome ReadFileChunks(const std::string& path, std::size_t maxBytes, std::size_t chunk,
                           const std::function<void(std::string_view)>& sink, int* error) {
  if (error) *error = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errno;
    return errno == ENOENT ? ReadOutcome::kMissing : ReadOutcome::kFailed;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return ReadOutcome::kNotRegular;
  }
  std::string buffer(std::max<std::size_t>(chunk, 1), '\0');
  std::size_t total = 0;
  ReadOutcome outcome = ReadOutcome::kComplete;
  for (;;) {
    if (total >= maxBytes) {
      char probe;
      ssize_t more;
      do more = ::read(fd, &probe, 1);
      while (more < 0 && errno == EINTR);
      if (more > 0) outcome = ReadOutcome::kCutAtBound;
      break;
    }
    const ssize_t got = ::read(fd, buffer.data(), std::min(buffer.size(), maxBytes - total));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      if (error) *error = errno;
      outcome = ReadOutcome::kFailed;
      break;
    }
    if (got == 0) break;
    sink(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    total += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return outcome;
}

ReadOutcome ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& out,
                          int* error) {
  out.clear();
  return ReadFileChunks(
      path, maxBytes, 64u << 10, [&out](std::string_view piece) { out.append(piece); }, error);
}

int WriteFileAtomically(const std::string& path, std::string_view text) {
  std::string target = path;
  struct stat linkStatus {};
  if (::lstat(path.c_str(), &linkStatus) == 0 && S_ISLNK(linkStatus.st_mode)) {
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
      target = resolved;
      std::free(resolved);
    }
  }
  const std::string temporary = target + ".tmp";

  // A stale temporary file from an interrupted save goes first; anything that
  // cannot be removed (a directory) makes the save fail below.
  if (::unlink(temporary.c_str()) != 0 && errno != ENOENT) return errno;
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  struct stat oldStatus {};
  if (::stat(target.c_str(), &oldStatus) == 0 && S_ISREG(oldStatus.st_mode)) {
    ::fchmod(fd, oldStatus.st_mode & 07777);  // keep the old file's permissions
  }

  int error = WriteAll(fd, text);
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(temporary.c_str());
  return error;
}

int AppendToFile(const std::string& path, std::string_view text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  int error = WriteAll(fd, text);
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
}
