#include "report/ProgressLog.h"

#include <string>

#include "platform/clock.h"
#include "platform/stdio.h"
#include "platform/ui.h"

int RunPanelHandle = 0;
int StatusLogPanel = 0;
int StatusLogControl = 0;
std::FILE* StatusLogFile = nullptr;
int RunPanelLogControl = 0;
char GetStringBuffer[kGetStringBufferSize];

namespace {

// Names and layout of the C library's asctime, written out here so that the
// stamp does not depend on the locale.
constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The stamp of the current (scaled) local time.
void CurrentTimeStamp(char (&stamp)[kTimeStampSize]) { FormatLogTimeStamp(CalendarTime(), stamp); }

// stamp + two blanks + text, cut to kLogLineSize - 1 characters. The text is
// an argument, never a format, so "%" reaches the output unchanged.
int BuildLine(char (&line)[kLogLineSize], const char* stamp, const char* text) {
  const int length = std::snprintf(line, sizeof line, "%s  %s", stamp, text ? text : "");
  if (length < 0) {
    line[0] = '\0';
    return 0;
  }
  return length < kLogLineSize ? length : kLogLineSize - 1;
}

void WriteToFile(std::FILE* file, const char* text, std::size_t length) {
  std::fwrite(text, 1, length, file);
}

// The log box of the running test's panel, or standard output without one.
void ShowOnScreen(const char* line, int length) {
  if (RunPanelHandle != 0) {
    SetCtrlVal(RunPanelHandle, RunPanelLogControl, line);
  } else {
    StdWrite(std::string_view(line, static_cast<std::size_t>(length)));
  }
}

bool IsSink(int handle) { return handle != 0 && handle != -1; }

}  // namespace

void FormatLogTimeStamp(std::time_t t, char (&stamp)[kTimeStampSize]) {
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) {
    std::snprintf(stamp, sizeof stamp, "%s", "??? ??? ?? ??:??:?? ????");
    return;
  }
  const int weekday = (local.tm_wday >= 0 && local.tm_wday < 7) ? local.tm_wday : 0;
  const int month = (local.tm_mon >= 0 && local.tm_mon < 12) ? local.tm_mon : 0;
  // A year beyond four digits would not fit the fixed layout; it is cut.
  std::snprintf(stamp, sizeof stamp, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", kWeekdays[weekday],
                kMonths[month], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                local.tm_year + 1900);
}

void LogStatus(const char* message) {
  char stamp[kTimeStampSize];
  CurrentTimeStamp(stamp);
  char line[kLogLineSize];
  const int length = BuildLine(line, stamp, message);

  if (IsSink(StatusLogPanel) && IsSink(StatusLogControl)) {
    SetCtrlVal(StatusLogPanel, StatusLogControl, line);
  }
  if (StatusLogFile != nullptr) {
    WriteToFile(StatusLogFile, line, static_cast<std::size_t>(length));
    WriteToFile(StatusLogFile, "<br>", 4);
  } else {
    StdWrite(std::string_view(line, static_cast<std::size_t>(length)));
  }
}

void LogProgress(const char* text, std::FILE* file) {
  char stamp[kTimeStampSize];
  CurrentTimeStamp(stamp);
  char line[kLogLineSize];
  const int length = BuildLine(line, stamp, text);
  ShowOnScreen(line, length);
  if (file != nullptr) WriteToFile(file, line, static_cast<std::size_t>(length));
}

void LogProgressHtml(const char* plainText, const char* htmlText, std::FILE* file) {
  // One stamp for both lines. The HTML text may live in GetStringBuffer; it
  // is read before anything else could overwrite it.
  char stamp[kTimeStampSize];
  CurrentTimeStamp(stamp);
  char htmlLine[kLogLineSize];
  const int htmlLength = BuildLine(htmlLine, stamp, htmlText);
  char line[kLogLineSize];
  const int length = BuildLine(line, stamp, plainText);
  ShowOnScreen(line, length);
  if (file != nullptr) WriteToFile(file, htmlLine, static_cast<std::size_t>(htmlLength));
}

char* GetColorHtml(const char* colour, const char* text) {
  // The text is often the previous result of GetString or GetColorHtml, i.e.
  // GetStringBuffer itself: copy it before formatting over it.
  const std::string copy = text ? text : "";
  if (colour != nullptr) {
    std::snprintf(GetStringBuffer, sizeof GetStringBuffer, "<font color='%s'>%s</font><br>", colour,
                  copy.c_str());
  } else {
    std::snprintf(GetStringBuffer, sizeof GetStringBuffer, "%s<br>", copy.c_str());
  }
  return GetStringBuffer;
}

int ReplaceChar(char* text, char find, char replacement) {
  if (text == nullptr) return 0;
  int length = 0;
  for (char* c = text; *c != '\0'; ++c, ++length) {
    if (*c == find) *c = replacement;
  }
  return length;
}
