// Whole files as strings for tests: read back what the code under test wrote,
// or lay down the exact bytes a case starts from.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Every byte of the file; empty when it cannot be read.
inline std::string ReadTextFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The file cut at each LF (the LF dropped, a CR before it kept); a last line
// without LF counts too.
inline std::vector<std::string> ReadTextLines(const std::filesystem::path& path) {
  const std::string bytes = ReadTextFile(path);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t lf; (lf = bytes.find('\n', start)) != std::string::npos; start = lf + 1) {
    lines.push_back(bytes.substr(start, lf - start));
  }
  if (start < bytes.size()) lines.push_back(bytes.substr(start));
  return lines;
}

// Replaces the file with exactly `bytes`; false when it cannot be written.
inline bool WriteTextFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  return static_cast<bool>(out);
}

// Everything an open stream holds, from its start (after flushing what was
// written through it).
inline std::string ReadTextStream(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  return text;
}

// How often `what` occurs in `text` (overlapping occurrences count).
inline int CountOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}
