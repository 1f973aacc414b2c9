// The little JSON the station writes and reads back (results.json): text
// escaping, numbers in a locale-free shortest round-trip form, and a bounded
// reader for comparing two runs. Standard library only.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Appends `text` as a JSON string with its quotes. Bytes that are not valid
// UTF-8 are taken as Latin-1 (an instrument's identification may hold any
// byte), so the result is always valid JSON.
void AppendJsonString(std::string& out, std::string_view text);

// Appends a number in the shortest form that reads back to the same double,
// independent of the locale; NaN and infinities (which JSON lacks) as null.
void AppendJsonNumber(std::string& out, double value);

// The same shortest form as a plain text ("" for NaN and infinities), for CSV.
std::string ShortestNumberText(double value);

struct JsonMember;

// A parsed JSON value. Objects keep their members in file order.
struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0.0;
  std::string text;
  std::vector<JsonValue> items;
  std::vector<JsonMember> members;

  // The member named `key` of an object, or nullptr.
  const JsonValue* Find(std::string_view key) const;
  // The member's number, or NaN when it is absent, null or not a number.
  double NumberAt(std::string_view key) const;
  // The member's text, or "" when it is absent or not a string.
  std::string TextAt(std::string_view key) const;
};

struct JsonMember {
  std::string first;  // the name
  JsonValue second;
};

// Nesting deeper than this is refused (the station's own files nest 5 deep).
inline constexpr int kJsonMaxDepth = 64;

// Parses one JSON document (RFC 8259; surrounding white space allowed).
// False with the reason and its byte offset in *error.
bool ParseJson(std::string_view text, JsonValue* value, std::string* error);
