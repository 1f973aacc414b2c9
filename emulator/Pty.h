// The virtual receiver's serial port: the master side of a pseudo-terminal,
// and the COM<n> link that points the station at its slave side.
#pragma once

#include <cstddef>
#include <string>

namespace emu {

// "what: strerror(errno)", the one place where errno becomes a message.
std::string ErrnoMessage(const std::string& what, int error);

// A raw 8N1 pseudo-terminal at 9600 baud. Move-only owner of the master fd.
class Pty {
 public:
  Pty() = default;
  ~Pty();
  Pty(Pty&& other) noexcept;
  Pty& operator=(Pty&& other) noexcept;
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  // Opens a new pair; the slave starts raw, 9600 8N1, and not held open by
  // us, so that PeerOpen() tells whether a reader has it. False with the
  // reason in `error`.
  bool Open(std::string* error);
  void Close();
  bool IsOpen() const { return master_ >= 0; }
  int MasterFd() const { return master_; }
  const std::string& SlavePath() const { return slavePath_; }

  // True while some process holds the slave side open.
  bool PeerOpen() const;
  // Drops what a reader that has gone left unread. A pseudo-terminal keeps
  // it for the next reader, where a serial port that was closed would not.
  void DiscardUnread();

  // Non-blocking; returns the bytes taken (0 when the slave's input queue is
  // full) or -1 on an error other than EAGAIN/EINTR.
  long Write(const char* data, std::size_t size);
  // Non-blocking; returns the bytes read, 0 when none are waiting, -1 when the
  // slave side is closed (EIO) or on another error.
  long Read(char* data, std::size_t capacity);

 private:
  int master_ = -1;
  std::string slavePath_;
};

// The entry COM<n> of a directory as a symbolic link to a device. Placed only
// where no entry stands or where a qarn-emu that has gone left its own link
// (an owner file "COM<n>.qarn-emu" beside the link names its process and
// target); any other entry is refused and left as it is. Removed by Remove()
// or the destructor, together with the owner file, but only while they are
// still this process's.
class ComLink {
 public:
  ComLink() = default;
  ~ComLink();
  ComLink(const ComLink&) = delete;
  ComLink& operator=(const ComLink&) = delete;

  bool Place(const std::string& directory, int port, const std::string& target, std::string* error);
  void Remove();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::string target_;
};

}  // namespace emu
