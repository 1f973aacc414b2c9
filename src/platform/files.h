// Files: whole-file and chunked reads with a stated bound, atomic replacement
// (temporary file, fsync, rename, permissions kept) and errno as text. Every
// reader and writer of the station's own files goes through here.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

// "<what>: <strerror(error)>", e.g. "LOG/x/GNSS_000.html: No space left on device".
std::string ErrnoText(std::string_view what, int error);

enum class ReadOutcome {
  kComplete,    // the whole file was read
  kCutAtBound,  // more bytes were there than the bound allows
  kMissing,     // no such file
  kNotRegular,  // a directory, a pipe, a device: not read (it could block)
  kFailed,      // opening or reading failed; *error holds errno
};

// Reads a regular file in pieces of at most `chunk` bytes and hands each to
// `sink`, stopping after `maxBytes`. Never blocks on a pipe or device.
ReadOutcome ReadFileChunks(const std::string& path, std::size_t maxBytes, std::size_t chunk,
                           const std::function<void(std::string_view)>& sink, int* error);

// The same for a file the user names as input: a pipe, a terminal or a
// device is read as well, as its bytes come (blocking), up to `maxBytes`.
// Never kNotRegular.
ReadOutcome ReadStreamChunks(const std::string& path, std::size_t maxBytes, std::size_t chunk,
                             const std::function<void(std::string_view)>& sink, int* error);

// The whole regular file into `out` (at most `maxBytes`).
ReadOutcome ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& out,
                          int* error);

// Replaces `path` with `text`: a temporary file beside it, fsync, rename, so
// that a failed write leaves the old file whole. A symbolic link stays a link
// (the file it points to is replaced); the old file's permissions are kept.
// Returns 0 or the errno of the failing step.
int WriteFileAtomically(const std::string& path, std::string_view text);

// Appends `text` to `path` (created when missing) and reports whether every
// byte was written and the file closed cleanly. Returns 0 or an errno.
int AppendToFile(const std::string& path, std::string_view text);

// Moves `path` (a file, a link or a directory) to the first free name of
// `path`.bak, `path`.bak.2, ... `path`.bak.99, never replacing what stands
// there. 0 with the name in *kept, or an errno (ENOENT: `path` is gone).
int MoveAside(const std::string& path, std::string* kept);

// Creates the directory `path` and every missing one above it. 0 when it
// stands (made now or before), or an errno.
int MakeDirectories(const std::string& path);

// A stdio stream for files written piece by piece (the HTML logs): fopen
// with `mode`, its descriptor closed on exec. nullptr with *error = errno.
std::FILE* OpenFile(const std::string& path, const char* mode, int* error);
// Closes `file` and reports whether everything written to it arrived: 0, or
// the errno of the first failed write, of the final flush or of the close.
int CloseFile(std::FILE* file);
