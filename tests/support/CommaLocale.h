// A decimal-comma locale for tests that check numbers stay in the C locale.
// de_DE.UTF-8 is compiled once per build tree with localedef (it takes
// seconds) into STATION_BINARY_DIR/test-locales and reached through LOCPATH.
#pragma once

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

// The folder that holds de_DE.UTF-8, made on first use; empty when localedef
// is missing or fails.
inline std::filesystem::path CommaLocaleFolder() {
  const std::filesystem::path locales = std::filesystem::path(STATION_BINARY_DIR) / "test-locales";
  if (!std::filesystem::exists(locales / "de_DE.UTF-8" / "LC_NUMERIC")) {
    std::filesystem::create_directories(locales);
    const std::string make =
        "localedef -i de_DE -f UTF-8 " + (locales / "de_DE.UTF-8").string() + " >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0 ||
        !std::filesystem::exists(locales / "de_DE.UTF-8" / "LC_NUMERIC")) {
      return {};
    }
  }
  return locales;
}

// Switches this process's LC_NUMERIC to de_DE.UTF-8 for one scope; Active()
// tells whether the switch took place (skip the test otherwise).
class CommaLocale {
 public:
  CommaLocale() {
    const std::filesystem::path locales = CommaLocaleFolder();
    if (locales.empty()) return;
    if (const char* path = std::getenv("LOCPATH")) oldPath_ = path;
    hadPath_ = std::getenv("LOCPATH") != nullptr;
    saved_ = true;
    setenv("LOCPATH", locales.c_str(), 1);
    oldNumeric_ = std::setlocale(LC_NUMERIC, nullptr);
    active_ = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  }
  ~CommaLocale() { Restore(); }
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;

  bool Active() const { return active_; }

  // Back to the locale and LOCPATH from before; the destructor does it too.
  void Restore() {
    if (!saved_) return;
    saved_ = false;
    if (!oldNumeric_.empty()) std::setlocale(LC_NUMERIC, oldNumeric_.c_str());
    oldNumeric_.clear();
    if (hadPath_) {
      setenv("LOCPATH", oldPath_.c_str(), 1);
    } else {
      unsetenv("LOCPATH");
    }
    active_ = false;
  }

 private:
  bool active_ = false;
  bool saved_ = false;
  bool hadPath_ = false;
  std::string oldPath_;
  std::string oldNumeric_;
};
