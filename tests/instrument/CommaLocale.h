// Switches LC_NUMERIC to a decimal-comma locale (de_DE.UTF-8, made with
// localedef in the build tree when the system has none) for one scope.
#pragma once

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

class CommaLocale {
 public:
  CommaLocale() {
    const std::filesystem::path locales =
        std::filesystem::path(STATION_BINARY_DIR) / "test-locales";
    if (!std::filesystem::exists(locales / "de_DE.UTF-8" / "LC_NUMERIC")) {
      std::filesystem::create_directories(locales);
      const std::string make =
          "localedef -i de_DE -f UTF-8 " + (locales / "de_DE.UTF-8").string() + " >/dev/null 2>&1";
      if (std::system(make.c_str()) != 0) return;
    }
    if (const char* path = std::getenv("LOCPATH")) oldPath_ = path;
    hadPath_ = std::getenv("LOCPATH") != nullptr;
    setenv("LOCPATH", locales.c_str(), 1);
    oldNumeric_ = std::setlocale(LC_NUMERIC, nullptr);
    active_ = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  }
  ~CommaLocale() {
    if (!oldNumeric_.empty()) std::setlocale(LC_NUMERIC, oldNumeric_.c_str());
    if (hadPath_) {
      setenv("LOCPATH", oldPath_.c_str(), 1);
    } else {
      unsetenv("LOCPATH");
    }
  }
  bool Active() const { return active_; }

 private:
  bool active_ = false;
  bool hadPath_ = false;
  std::string oldPath_;
  std::string oldNumeric_;
};
