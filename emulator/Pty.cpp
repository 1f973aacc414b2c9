#include "Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

namespace emu {

std::string ErrnoMessage(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

namespace {

int OpenRetrying(const char* path, int flags) {
  int fd;
  do {
    fd = ::open(path, flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// One read or write on the non-blocking master, retried on EINTR: the bytes
// moved, 0 when none can move now (EAGAIN), -1 on an error or when closed.
template <typename Io>
long NonBlockingOn(int fd, Io io) {
  if (fd < 0) return -1;
  for (;;) {
    const ssize_t n = io();
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    return -1;
  }
}

void CloseQuietly(int fd) {
  if (fd >= 0) ::close(fd);  // no retry on EINTR: the fd is gone either way on Linux
}

// Raw bytes, 9600 8N1, no flow control, no echo: the slave must pass NMEA and
// binary frames unchanged in both directions even before a reader sets it up.
bool MakeRaw(int fd, std::string* error) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    *error = ErrnoMessage("tcgetattr on the pseudo-terminal", errno);
    return false;
  }
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  ::cfsetispeed(&tio, B9600);
  ::cfsetospeed(&tio, B9600);
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
    *error = ErrnoMessage("tcsetattr on the pseudo-terminal", errno);
    return false;
  }
  return true;
}

// mkdir -p for the COM directory.
bool MakeDirectories(const std::string& directory, std::string* error) {
  std::string partial;
  std::size_t start = 0;
  while (start <= directory.size()) {
    std::size_t slash = directory.find('/', start);
    if (slash == std::string::npos) slash = directory.size();
    partial = directory.substr(0, slash);
    start = slash + 1;
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
      *error = ErrnoMessage("cannot create the directory " + partial, errno);
      return false;
    }
  }
  struct stat info {};
  if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *error = "not a directory: " + directory;
    return false;
  }
  return true;
}

std::string ReadLink(const std::string& path) {
  std::array<char, 4096> buffer{};
  const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size() - 1);
  return n < 0 ? std::string() : std::string(buffer.data(), static_cast<std::size_t>(n));
}

}  // namespace

Pty::~Pty() { Close(); }

Pty::Pty(Pty&& other) noexcept
    : master_(std::exchange(other.master_, -1)), slavePath_(std::move(other.slavePath_)) {}

Pty& Pty::operator=(Pty&& other) noexcept {
  if (this != &other) {
    Close();
    master_ = std::exchange(other.master_, -1);
    slavePath_ = std::move(other.slavePath_);
  }
  return *this;
}

bool Pty::Open(std::string* error) {
  Close();
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    *error = ErrnoMessage("posix_openpt", errno);
    return false;
  }
  std::array<char, 128> name{};
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
      ::ptsname_r(master, name.data(), name.size()) != 0) {
    *error = ErrnoMessage("cannot prepare the pseudo-terminal", errno);
    CloseQuietly(master);
    return false;
  }
  const int flags = ::fcntl(master, F_GETFL);
  if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
    *error = ErrnoMessage("fcntl on the pseudo-terminal master", errno);
    CloseQuietly(master);
    return false;
  }
  // Open the slave once to set it raw, then let go: from then on the master
  // reports a hang-up until a reader opens it, and nothing queues for nobody.
  const int slave = OpenRetrying(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (slave < 0) {
    *error = ErrnoMessage(std::string("cannot open ") + name.data(), errno);
    CloseQuietly(master);
    return false;
  }
  const bool raw = MakeRaw(slave, error);
  CloseQuietly(slave);
  if (!raw) {
    CloseQuietly(master);
    return false;
  }
  master_ = master;
  slavePath_ = name.data();
  return true;
}

void Pty::Close() {
  CloseQuietly(std::exchange(master_, -1));
  slavePath_.clear();
}

bool Pty::PeerOpen() const {
  if (master_ < 0) return false;
  pollfd pfd{master_, 0, 0};
  int n;
  do {
    n = ::poll(&pfd, 1, 0);
  } while (n < 0 && errno == EINTR);
  return n >= 0 && (pfd.revents & (POLLHUP | POLLERR)) == 0;
}

void Pty::DiscardUnread() {
  if (master_ < 0) return;
  const int slave = OpenRetrying(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (slave < 0) return;
  ::tcflush(slave, TCIFLUSH);
  CloseQuietly(slave);
}

long Pty::Write(const char* data, std::size_t size) {
  return NonBlockingOn(master_, [&] { return ::write(master_, data, size); });
}

long Pty::Read(char* data, std::size_t capacity) {
  return NonBlockingOn(master_, [&] { return ::read(master_, data, capacity); });
}

ComLink::~ComLink() { Remove(); }

namespace {

// The owner file beside a link qarn-emu made: "COM<n>.qarn-emu", one line
// "qarn-emu <pid> <target>". It tells our links from an operator's.
std::string OwnerPath(const std::string& link) { return link + ".qarn-emu"; }

struct Owner {
  long pid = 0;
  std::string target;
};

std::optional<Owner> ReadOwner(const std::string& link) {
  const int fd =
      OpenRetrying(OwnerPath(link).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::array<char, 4200> buffer{};
  struct stat info {};
  ssize_t n = -1;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
    n = ::read(fd, buffer.data(), buffer.size() - 1);
  CloseQuietly(fd);
  if (n <= 0) return std::nullopt;
  const std::string text(buffer.data(), static_cast<std::size_t>(n));
  constexpr std::string_view kTag = "qarn-emu ";
  if (text.compare(0, kTag.size(), kTag) != 0 || text.back() != '\n') return std::nullopt;
  const std::size_t blank = text.find(' ', kTag.size());
  if (blank == std::string::npos) return std::nullopt;
  Owner owner;
  const char* first = text.data() + kTag.size();
  const auto [end, ec] = std::from_chars(first, text.data() + blank, owner.pid);
  if (ec != std::errc() || end != text.data() + blank || owner.pid <= 0) return std::nullopt;
  owner.target = text.substr(blank + 1, text.size() - blank - 2);
  return owner;
}

bool WriteOwner(const std::string& link, const std::string& target, std::string* error) {
  const std::string path = OwnerPath(link);
  const std::string temporary = path + ".tmp" + std::to_string(::getpid());
  const std::string text = "qarn-emu " + std::to_string(::getpid()) + " " + target + "\n";
  const int fd =
      OpenRetrying(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  int failure = fd < 0 ? errno : 0;
  if (fd >= 0) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n != static_cast<ssize_t>(text.size())) failure = n < 0 ? errno : EIO;
    if (::close(fd) != 0 && failure == 0) failure = errno;
  }
  if (failure == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) failure = errno;
  if (failure != 0) {
    *error = ErrnoMessage("cannot write " + path, failure);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

// A running qarn-emu (not a process that took a dead one's number).
bool IsRunningEmulator(long pid) {
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  const int fd =
      OpenRetrying(("/proc/" + std::to_string(pid) + "/comm").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;  // alive, name unknown: assume it is one
  std::array<char, 64> name{};
  const ssize_t n = ::read(fd, name.data(), name.size() - 1);
  CloseQuietly(fd);
  return n > 0 && std::string_view(name.data(), static_cast<std::size_t>(n)) == "qarn-emu\n";
}

// Whether the entry at `path` may be replaced by our link: nothing there, or
// a link that a qarn-emu made (its owner file names this very target) and
// that no running qarn-emu holds any more. Otherwise false and why.
bool MayPlaceAt(const std::string& path, bool* replace, std::string* error) {
  *replace = false;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return true;
    *error = ErrnoMessage("cannot examine " + path, errno);
    return false;
  }
  if (!S_ISLNK(info.st_mode)) {
    *error = path + " exists and is not a link made by qarn-emu; left as it is";
    return false;
  }
  const std::string target = ReadLink(path);
  const std::optional<Owner> owner = ReadOwner(path);
  if (!owner || owner->target != target) {
    *error = path + " is a link to " + target + " not made by qarn-emu; left as it is";
    return false;
  }
  if (owner->pid != ::getpid() && IsRunningEmulator(owner->pid)) {
    *error =
        path + " is in use by qarn-emu (process " + std::to_string(owner->pid) + "); left as it is";
    return false;
  }
  *replace = true;  // ours, left behind by a qarn-emu that has gone
  return true;
}

}  // namespace

bool ComLink::Place(const std::string& directory, int port, const std::string& target,
                    std::string* error) {
  Remove();
  if (!MakeDirectories(directory, error)) return false;
  const std::string path = directory + "/COM" + std::to_string(port);
  bool replace = false;
  if (!MayPlaceAt(path, &replace, error)) return false;
  if (!WriteOwner(path, target, error)) return false;
  const auto fail = [&](const std::string& message) {
    *error = message;
    ::unlink(OwnerPath(path).c_str());
    return false;
  };
  if (!replace) {
    // symlink() never replaces what stands: an entry that appeared since the
    // check above is kept.
    if (::symlink(target.c_str(), path.c_str()) != 0) {
      if (errno == EEXIST)
        return fail(path + " appeared while qarn-emu placed its link; left as it is");
      return fail(ErrnoMessage("cannot create the link " + path, errno));
    }
  } else {
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0)
      return fail(ErrnoMessage("cannot create the link " + temporary, errno));
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
      const int renameError = errno;
      ::unlink(temporary.c_str());
      return fail(ErrnoMessage("cannot place the link " + path, renameError));
    }
  }
  path_ = path;
  target_ = target;
  return true;
}

void ComLink::Remove() {
  if (path_.empty()) return;
  // Only what this process made: the link while it still points at our
  // device, and its owner file while it still names this process.
  const std::optional<Owner> owner = ReadOwner(path_);
  const bool ownerIsUs = owner && owner->pid == ::getpid();
  if (ownerIsUs && ReadLink(path_) == target_) ::unlink(path_.c_str());
  if (ownerIsUs) ::unlink(OwnerPath(path_).c_str());
  path_.clear();
  target_.clear();
}

}  // namespace emu
