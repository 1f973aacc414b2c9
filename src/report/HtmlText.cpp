#include "report/HtmlText.h"

namespace {

std::string Escape(std::string_view text, bool quotes) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += quotes ? "&quot;" : "\"";
        break;
      case '\'':
        out += quotes ? "&#39;" : "'";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::string EscapeHtmlText(std::string_view text) { return Escape(text, false); }
std::string EscapeHtmlAttribute(std::string_view text) { return Escape(text, true); }
