// The JSON reader behind --compare gets files from anywhere: any bytes must
// parse or be refused without a fault, and what parses must write back as
// JSON that reads again, and writing what was read again gives the same text
// (strings that were not UTF-8 are written as Latin-1 the first time).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "report/Json.h"

namespace {

void Write(std::string& out, const JsonValue& v) {
  switch (v.kind) {
    case JsonValue::Kind::kNull:
      out += "null";
      break;
    case JsonValue::Kind::kBool:
      out += v.boolean ? "true" : "false";
      break;
    case JsonValue::Kind::kNumber:
      AppendJsonNumber(out, v.number);
      break;
    case JsonValue::Kind::kString:
      AppendJsonString(out, v.text);
      break;
    case JsonValue::Kind::kArray:
      out += '[';
      for (std::size_t i = 0; i < v.items.size(); ++i) {
        if (i) out += ',';
        Write(out, v.items[i]);
      }
      out += ']';
      break;
    case JsonValue::Kind::kObject:
      out += '{';
      for (std::size_t i = 0; i < v.members.size(); ++i) {
        if (i) out += ',';
        AppendJsonString(out, v.members[i].first);
        out += ':';
        Write(out, v.members[i].second);
      }
      out += '}';
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  JsonValue value;
  std::string error;
  if (!ParseJson(text, &value, &error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  std::string written;
  Write(written, value);
  JsonValue again;
  if (!ParseJson(written, &again, &error)) std::abort();
  // The first writing turns stray bytes into escapes; from the second on the
  // text must stay the same.
  std::string rewritten;
  Write(rewritten, again);
  JsonValue third;
  if (!ParseJson(rewritten, &third, &error)) std::abort();
  std::string stable;
  Write(stable, third);
  if (stable != rewritten) std::abort();
  return 0;
}
