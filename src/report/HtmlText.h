// Text from outside the station (instrument answers, the operator's lists
// and paths, anything from the receiver) on its way into the HTML logs and
// the summary: escaped so that it stays text. A text without &, < and > (and,
// for an attribute, without quotes) comes out byte for byte.
#pragma once

#include <string>
#include <string_view>

// &, < and > as entities: for text content. Quotes stay as they are.
std::string EscapeHtmlText(std::string_view text);
// The same, and " and ' as entities: for a quoted attribute value.
std::string EscapeHtmlAttribute(std::string_view text);
