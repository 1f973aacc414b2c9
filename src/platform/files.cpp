#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

// Pieces of a whole-file read.
constexpr std::size_t kWholeFileChunk = 64u << 10;

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

// Reads `path` piece by piece into `sink`, at most `maxBytes`. With
// `regularOnly` anything but a regular file is refused unread; otherwise a
// pipe or a device is read as it comes (blocking).
ReadOutcome ReadChunks(const std::string& path, std::size_t maxBytes, std::size_t chunk,
                       const std::function<void(std::string_view)>& sink, int* error,
                       bool regularOnly) {
  if (error) *error = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (regularOnly ? O_NONBLOCK : 0));
  if (fd < 0) {
    if (error) *error = errno;
    return errno == ENOENT ? ReadOutcome::kMissing : ReadOutcome::kFailed;
  }
  struct stat status {};
  if (regularOnly && (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
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

}  // namespace

std::string ErrnoText(std::string_view what, int error) {
  std::string text(what);
  text += ": ";
  text += std::strerror(error);
  return text;
}

ReadOutcome ReadFileChunks(const std::string& path, std::size_t maxBytes, std::size_t chunk,
                           const std::function<void(std::string_view)>& sink, int* error) {
  return ReadChunks(path, maxBytes, chunk, sink, error, true);
}

ReadOutcome ReadStreamChunks(const std::string& path, std::size_t maxBytes, std::size_t chunk,
                             const std::function<void(std::string_view)>& sink, int* error) {
  return ReadChunks(path, maxBytes, chunk, sink, error, false);
}

ReadOutcome ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& out,
                          int* error) {
  out.clear();
  return ReadFileChunks(
      path, maxBytes, kWholeFileChunk, [&out](std::string_view piece) { out.append(piece); },
      error);
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

int MakeDirectories(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (!error) return 0;
  return error.value();
}

std::FILE* OpenFile(const std::string& path, const char* mode, int* error) {
  const std::string modeCloseOnExec = std::string(mode) + "e";
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), modeCloseOnExec.c_str());
  if (error) *error = file ? 0 : (errno != 0 ? errno : EINVAL);
  return file;
}

int CloseFile(std::FILE* file) {
  if (file == nullptr) return EBADF;
  // stdio keeps no errno of a failed write, only the error flag: the flush
  // below repeats what is still pending and tells why.
  const bool failedBefore = std::ferror(file) != 0;
  int error = 0;
  if (std::fflush(file) != 0) error = errno;
  if (std::fclose(file) != 0 && error == 0) error = errno;
  if (error == 0 && failedBefore) error = EIO;
  return error;
}

int MoveAside(const std::string& path, std::string* kept) {
  for (int n = 1; n < 100; ++n) {
    const std::string name = path + ".bak" + (n > 1 ? "." + std::to_string(n) : std::string());
    struct stat info {};
    if (::lstat(name.c_str(), &info) == 0) continue;
    if (errno != ENOENT) return errno;
    // link() fails on a name taken since the check, where rename() would
    // replace it; a directory cannot be linked and is renamed.
    if (::link(path.c_str(), name.c_str()) == 0) {
      if (::unlink(path.c_str()) != 0) return errno;
    } else if (errno == EEXIST) {
      continue;
    } else if (errno == EPERM || errno == EXDEV || errno == EOPNOTSUPP || errno == EMLINK) {
      if (::rename(path.c_str(), name.c_str()) != 0) return errno;
    } else {
      return errno;
    }
    *kept = name;
    return 0;
  }
  return EEXIST;
}
