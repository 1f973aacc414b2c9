// Outside text on its way into the HTML logs: escaped to stay text, and
// byte for byte what it was when there is nothing to escape.
#include <gtest/gtest.h>

#include "procedures/X47_GNSS_BasicDisplays.h"
#include "report/HtmlText.h"

namespace {

TEST(HtmlText, EscapesMarkupAndLeavesOtherTextAlone) {
  struct Case {
    std::string text, content, attribute;
  };
  const Case cases[] = {
      {"", "", ""},
      {"1,5,7 AUTO /var/user/route.txt", "1,5,7 AUTO /var/user/route.txt",
       "1,5,7 AUTO /var/user/route.txt"},
      {"-221,\"Settings conflict\"", "-221,\"Settings conflict\"",
       "-221,&quot;Settings conflict&quot;"},
      {"<script>a&&b</script>", "&lt;script&gt;a&amp;&amp;b&lt;/script&gt;",
       "&lt;script&gt;a&amp;&amp;b&lt;/script&gt;"},
      {"x' onerror='1", "x' onerror='1", "x&#39; onerror=&#39;1"},
      {std::string("\0\xff&", 3), std::string("\0\xff&amp;", 7), std::string("\0\xff&amp;", 7)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeHtmlText(c.text), c.content) << c.text;
    EXPECT_EQ(EscapeHtmlAttribute(c.text), c.attribute) << c.text;
  }
}

// Where the operator's SVID lists land in SUMMARY.html: as text, and byte
// for byte as before when they hold nothing to escape.
TEST(HtmlText, SummaryCellsOfTheOperatorsListsStayText) {
  BasicTestSettings settings;
  settings.gpsSvids = "1,5,7";
  settings.galileoSvids = "AUTO";
  settings.glonassSvids = "<script>x</script>&";
  const std::string html = BasicSummarySection(1, settings, 1.5, 2.5, "PASS");
  EXPECT_NE(
      html.find("<td>1,5,7</td>\n<td>AUTO</td>\n<td>&lt;script&gt;x&lt;/script&gt;&amp;</td>"),
      std::string::npos)
      << html;
  EXPECT_EQ(html.find("<script>"), std::string::npos);
}

}  // namespace
