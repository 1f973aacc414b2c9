#include "report/Json.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "text/CText.h"

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0 when it is not one.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  std::size_t length = 0;
  unsigned minimum = 0;
  unsigned code = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2, minimum = 0x80, code = c & 0x1Fu;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3, minimum = 0x800, code = c & 0x0Fu;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4, minimum = 0x10000, code = c & 0x07u;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0u) != 0x80u) return 0;
    code = (code << 6) | (byte(i + k) & 0x3Fu);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

void AppendEscapedCode(std::string& out, unsigned code) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u00";
  out += kHex[(code >> 4) & 0xFu];
  out += kHex[code & 0xFu];
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  bool Document(JsonValue* value, std::string* error) {
    SkipSpace();
    if (!Value(value, 0)) return Fail(error);
    SkipSpace();
    if (at_ != text_.size()) {
      reason_ = "text after the value";
      return Fail(error);
    }
    return true;
  }

 private:
  bool Fail(std::string* error) {
    if (error) *error = FormatC("%s at byte %zu", reason_.c_str(), at_);
    return false;
  }
  bool Error(const char* reason) {
    reason_ = reason;
    return false;
  }
  void SkipSpace() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
  }
  bool Literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return Error("unknown literal");
    at_ += word.size();
    return true;
  }

  bool Value(JsonValue* value, int depth) {
    if (depth > kJsonMaxDepth) return Error("nested too deep");
    if (at_ >= text_.size()) return Error("value expected");
    switch (text_[at_]) {
      case '{':
        return Object(value, depth);
      case '[':
        return Array(value, depth);
      case '"':
        value->kind = JsonValue::Kind::kString;
        return String(&value->text);
      case 't':
        value->kind = JsonValue::Kind::kBool;
        value->boolean = true;
        return Literal("true");
      case 'f':
        value->kind = JsonValue::Kind::kBool;
        value->boolean = false;
        return Literal("false");
      case 'n':
        value->kind = JsonValue::Kind::kNull;
        return Literal("null");
      default:
        return Number(value);
    }
  }

  bool Object(JsonValue* value, int depth) {
    value->kind = JsonValue::Kind::kObject;
    ++at_;
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == '}') {
      ++at_;
      return true;
    }
    for (;;) {
      SkipSpace();
      if (at_ >= text_.size() || text_[at_] != '"') return Error("member name expected");
      JsonMember member;
      if (!String(&member.first)) return false;
      SkipSpace();
      if (at_ >= text_.size() || text_[at_] != ':') return Error("':' expected");
      ++at_;
      SkipSpace();
      if (!Value(&member.second, depth + 1)) return false;
      value->members.push_back(std::move(member));
      SkipSpace();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < text_.size() && text_[at_] == '}') {
        ++at_;
        return true;
      }
      return Error("',' or '}' expected");
    }
  }

  bool Array(JsonValue* value, int depth) {
    value->kind = JsonValue::Kind::kArray;
    ++at_;
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == ']') {
      ++at_;
      return true;
    }
    for (;;) {
      SkipSpace();
      JsonValue item;
      if (!Value(&item, depth + 1)) return false;
      value->items.push_back(std::move(item));
      SkipSpace();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < text_.size() && text_[at_] == ']') {
        ++at_;
        return true;
      }
      return Error("',' or ']' expected");
    }
  }

  bool Hex4(unsigned* code) {
    if (at_ + 4 > text_.size()) return Error("short \\u escape");
    *code = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text_[at_++];
      unsigned digit;
      if (c >= '0' && c <= '9')
        digit = static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        digit = static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        digit = static_cast<unsigned>(c - 'A' + 10);
      else
        return Error("bad \\u escape");
      *code = (*code << 4) | digit;
    }
    return true;
  }

  static void AppendUtf8(std::string* out, unsigned code) {
    if (code < 0x80) {
      *out += static_cast<char>(code);
    } else if (code < 0x800) {
      *out += static_cast<char>(0xC0 | (code >> 6));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      *out += static_cast<char>(0xE0 | (code >> 12));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (code >> 18));
      *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool String(std::string* out) {
    ++at_;  // the opening quote
    for (;;) {
      if (at_ >= text_.size()) return Error("unterminated string");
      const char c = text_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Error("control character in a string");
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (at_ >= text_.size()) return Error("unterminated string");
      const char e = text_[at_++];
      switch (e) {
        case '"':
          *out += '"';
          break;
        case '\\':
          *out += '\\';
          break;
        case '/':
          *out += '/';
          break;
        case 'b':
          *out += '\b';
          break;
        case 'f':
          *out += '\f';
          break;
        case 'n':
          *out += '\n';
          break;
        case 'r':
          *out += '\r';
          break;
        case 't':
          *out += '\t';
          break;
        case 'u': {
          unsigned code = 0;
          if (!Hex4(&code)) return false;
          if (code >= 0xD800 && code <= 0xDBFF && text_.substr(at_, 2) == "\\u") {
            at_ += 2;
            unsigned low = 0;
            if (!Hex4(&low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return Error("bad surrogate pair");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xD800 && code <= 0xDFFF) {
            return Error("lone surrogate");
          }
          AppendUtf8(out, code);
          break;
        }
        default:
          return Error("bad escape");
      }
    }
  }

  bool Number(JsonValue* value) {
    // The JSON grammar first, so that from_chars never sees "+1", ".5", "inf".
    const std::size_t start = at_;
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    const auto digits = [&] {
      const std::size_t from = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return at_ - from;
    };
    if (at_ < text_.size() && text_[at_] == '0') {
      ++at_;
    } else if (digits() == 0) {
      at_ = start;
      return Error("value expected");
    }
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (digits() == 0) return Error("digits expected after '.'");
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (digits() == 0) return Error("digits expected in the exponent");
    }
    value->kind = JsonValue::Kind::kNumber;
    const auto result = std::from_chars(text_.data() + start, text_.data() + at_, value->number);
    if (result.ec == std::errc::result_out_of_range) {
      value->number = text_[start] == '-' ? -std::numeric_limits<double>::infinity()
                                          : std::numeric_limits<double>::infinity();
    } else if (result.ec != std::errc()) {
      return Error("bad number");
    }
    return true;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::string reason_;
};

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c == '\n') {
      out += "\\n", ++i;
    } else if (c == '\r') {
      out += "\\r", ++i;
    } else if (c == '\t') {
      out += "\\t", ++i;
    } else if (c < 0x20 || c == 0x7F) {
      AppendEscapedCode(out, c);
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else if (const std::size_t length = Utf8SequenceLength(text, i); length > 0) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      AppendEscapedCode(out, c);  // a Latin-1 byte as its code point
      ++i;
    }
  }
  out += '"';
}

std::string ShortestNumberText(double value) {
  if (!std::isfinite(value)) return std::string();
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

void AppendJsonNumber(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

const JsonValue* JsonValue::Find(std::string_view key) const {
  if (kind != Kind::kObject) return nullptr;
  for (const auto& member : members)
    if (member.first == key) return &member.second;
  return nullptr;
}

double JsonValue::NumberAt(std::string_view key) const {
  const JsonValue* v = Find(key);
  return v != nullptr && v->kind == Kind::kNumber ? v->number
                                                  : std::numeric_limits<double>::quiet_NaN();
}

std::string JsonValue::TextAt(std::string_view key) const {
  const JsonValue* v = Find(key);
  return v != nullptr && v->kind == Kind::kString ? v->text : std::string();
}

bool ParseJson(std::string_view text, JsonValue* value, std::string* error) {
  *value = JsonValue{};
  return Parser(text).Document(value, error);
}
