#include "app/GNSS_UI_MENU_ConfigFile.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "text/CText.h"

namespace {

// A known key and what its value does.
enum class ConfigKey { kNone, kAddress, kLevelOffset, kProfileText, kBasicRow, kMovingRow };

// The four profile texts by key prefix; the two characters after the prefix
// are the receiver type.
constexpr std::size_t kProfilePrefixLength = 6;
constexpr std::size_t kProfileKeyLength = kProfilePrefixLength + 2;  // "RCVCLD07"

// A number of a row as text: a double in fixed notation with six decimals
// takes at most 309 integer digits, the sign, the point and the decimals.
constexpr std::size_t kRowNumberTextSize = 400;
struct ProfileField {
  const char* prefix;
  std::string ReceiverProfile::*text;
  std::size_t max;
};
constexpr ProfileField kProfileFields[] = {
    {"RCVCLD", &ReceiverProfile::coldStart, kCommandTextMax},
    {"RCVGPS", &ReceiverProfile::gpsInit, kCommandTextMax},
    {"RCVGLN", &ReceiverProfile::glonassInit, kCommandTextMax},
    {"RCVXTR", &ReceiverProfile::extraCommands, kExtraCommandsMax},
};

std::string Cut(std::string_view text, std::size_t max) { return std::string(text.substr(0, max)); }

// Fields of `line` between "=" characters, empty ones skipped (strtok's way).
std::string_view NextField(std::string_view line, std::size_t& pos) {
  while (pos < line.size() && line[pos] == '=') ++pos;
  const std::size_t start = pos;
  while (pos < line.size() && line[pos] != '=') ++pos;
  return line.substr(start, pos - start);
}

void ParseRow(std::string_view value, const RowFieldKind* kinds, RowField* fields,
              std::size_t fieldCount) {
  value = value.substr(0, kConfigRowValueMax);
  // Field 0 is the "Y" marker; fields 1.. are the row's fields in order. Every
  // field is written with a ";" after it, so the empty rest after the last ";"
  // is the end of the row, not a field.
  std::size_t index = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = std::min(value.find(';', start), value.size());
    const bool emptyRest = end == value.size() && start == end;
    if (index >= 1 && index <= fieldCount && !emptyRest) {
      const std::string_view text = value.substr(start, end - start);
      RowField& field = fields[index - 1];
      field.present = true;
      switch (kinds[index - 1]) {
        case RowFieldKind::kInteger:
          field.integer = ReadIntC(text);
          break;
        case RowFieldKind::kReal:
          field.real = ReadDoubleC(text);
          break;
        case RowFieldKind::kText:
          field.text = Cut(text, kConfigRowTextMax);
          break;
      }
    }
    if (end >= value.size() || index > fieldCount) break;
    start = end + 1;
    ++index;
  }
}

// Values travel unquoted, one per line: a line end inside a value would start
// a line of its own on reload, so it is written as a blank.
void AppendValue(std::string& out, std::string_view value) {
  for (char c : value) out += (c == '\r' || c == '\n') ? ' ' : c;
}

void AppendLine(std::string& out, std::string_view key, std::string_view value) {
  out += key;
  out += '=';
  AppendValue(out, value);
  out += "\r\n";
}

void AppendRow(std::string& out, const char* key, const RowField* fields, const RowFieldKind* kinds,
               std::size_t count) {
  out += key;
  out += "=Y;";
  for (std::size_t i = 0; i < count; ++i) {
    char number[kRowNumberTextSize];
    std::to_chars_result result{number, {}};
    switch (kinds[i]) {
      case RowFieldKind::kInteger:
        result = std::to_chars(number, number + sizeof number, fields[i].integer);
        out.append(number, result.ptr);
        break;
      case RowFieldKind::kReal:
        result = std::to_chars(number, number + sizeof number, fields[i].real,
                               std::chars_format::fixed, 6);
        out.append(number, result.ptr);
        break;
      case RowFieldKind::kText:
        AppendValue(out, fields[i].text.substr(0, kConfigRowTextMax));
        break;
    }
    out += ';';
  }
  out += "\r\n";
}

}  // namespace

void ApplyConfigLine(ConfigLoad& load, std::string_view line) {
  // A line is a C text: it ends at a zero byte.
  line = line.substr(0, std::min(line.find('\0'), line.size()));
  if (!line.empty() && (line.front() == '#' || line.front() == '%')) return;
  for (int pass = 0; pass < 2; ++pass) {
    if (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  }

  std::size_t pos = 0;
  const std::string_view key = NextField(line, pos);
  if (key.empty()) return;
  const std::string_view value = NextField(line, pos);
  const bool hasValue = !value.empty();

  ConfigSettings& settings = load.settings;
  if (key == "DUTIP") {
    settings.address = Cut(value, kConfigAddressMax);
    return;
  }
  if (key == "LEVEL_OFFSET") {
    settings.levelOffset = hasValue ? Cut(value, kConfigLevelOffsetMax) : "0";
    return;
  }
  for (const ProfileField& field : kProfileFields) {
    if (key.substr(0, kProfilePrefixLength) != field.prefix) continue;
    const int type = ReadIntC(key.substr(kProfilePrefixLength, 2));
    if (type >= 0 && type < kReceiverTypeCount && load.profiles != nullptr) {
      load.profiles[type].*field.text = Cut(value, field.max);
    }
    return;
  }
  if (key == "BASIC") {
    if (hasValue) ParseRow(value, kBasicRowKinds, settings.basic, kBasicRowFieldCount);
    return;
  }
  if (key == "MOVING") {
    if (hasValue) ParseRow(value, kMovingRowKinds, settings.moving, kMovingRowFieldCount);
    return;
  }
  // "ZELIP" (a spectrum analyzer's address) and any other key: no effect.
}

void FeedConfigBytes(ConfigLoad& load, std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t lineEnd = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, lineEnd);
    if (!load.pendingCut) {
      const std::size_t room = kConfigLineMax - load.pendingLine.size();
      load.pendingLine.append(piece.substr(0, room));
      if (piece.size() > room) load.pendingCut = true;
    }
    if (lineEnd == std::string_view::npos) return;
    // A cut line has lost its line end with the rest of it.
    if (!load.pendingCut) load.pendingLine += '\n';
    ApplyConfigLine(load, load.pendingLine);
    load.pendingLine.clear();
    load.pendingCut = false;
    bytes.remove_prefix(lineEnd + 1);
  }
}

void FinishConfigBytes(ConfigLoad& load) {
  if (!load.pendingLine.empty()) ApplyConfigLine(load, load.pendingLine);
  load.pendingLine.clear();
  load.pendingCut = false;
}

std::string FormatConfigFile(const ConfigSettings& settings, const ReceiverProfile* profiles) {
  std::string out;
  AppendLine(out, "DUTIP", std::string_view(settings.address).substr(0, kConfigAddressMax));
  AppendLine(out, "LEVEL_OFFSET",
             std::string_view(settings.levelOffset).substr(0, kConfigLevelOffsetMax));
  for (int type = 0; type < kReceiverTypeCount; ++type) {
    const ReceiverProfile& profile = profiles[type];
    bool any = false;
    for (const ProfileField& field : kProfileFields) any = any || !(profile.*field.text).empty();
    if (!any) continue;
    for (const ProfileField& field : kProfileFields) {
      char key[kProfileKeyLength];
      std::memcpy(key, field.prefix, kProfilePrefixLength);
      key[kProfilePrefixLength] = static_cast<char>('0' + type / 10);
      key[kProfilePrefixLength + 1] = static_cast<char>('0' + type % 10);
      AppendLine(out, std::string_view(key, kProfileKeyLength),
                 std::string_view(profile.*field.text).substr(0, field.max));
    }
  }
  AppendRow(out, "BASIC", settings.basic, kBasicRowKinds, kBasicRowFieldCount);
  AppendRow(out, "MOVING", settings.moving, kMovingRowKinds, kMovingRowFieldCount);
  return out;
}
