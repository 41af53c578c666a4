// Text clean-up of the engine: the output must stay valid UTF-8 and safe in a script or a
// page whatever bytes a document or a caller hands over.
#include <gtest/gtest.h>

#include "engine/EngineOptions.h"
#include "engine/TextUtil.h"

TEST(EngineText, InvalidUtf8BecomesReplacementCharacters)
{
    EXPECT_EQ(SanitizeUtf8("ok \xC3\xA9"), "ok \xC3\xA9");
    EXPECT_EQ(SanitizeUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(SanitizeUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");            // overlong "/"
    EXPECT_EQ(SanitizeUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");   // surrogate
    EXPECT_EQ(SanitizeUtf8("cut \xE2\x82"), "cut \xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(EngineText, OneLineBlanksBreaksAndCutsOnCharacterBoundaries)
{
    EXPECT_EQ(OneLine("a\r\nb\tc\xE2\x80\xA8" "d", 100), "a  b c d");
    EXPECT_EQ(OneLine("\xC3\xA9\xC3\xA9\xC3\xA9", 5), "\xC3\xA9\xC3\xA9");
    EXPECT_EQ(OneLine("abc", 0), "");
}

TEST(EngineText, JsonStringIsSafeInsideAScriptElement)
{
    EXPECT_EQ(JsonString("a\"b\\c\nd"), "\"a\\\"b\\\\c\\nd\"");
    EXPECT_EQ(JsonString("</script>&"), "\"\\u003c/script\\u003e\\u0026\"");
    EXPECT_EQ(JsonString("\xE2\x80\xA8\xE2\x80\xA9\x01"), "\"\\u2028\\u2029\\u0001\"");
    EXPECT_EQ(JsonString("\xFF"), "\"\xEF\xBF\xBD\"");
    EXPECT_EQ(HtmlEscape("<a href='x'>&\"</a>"), "&lt;a href=&#39;x&#39;&gt;&amp;&quot;&lt;/a&gt;");
}

TEST(EngineOptionsParse, ValuesAndModes)
{
    EngineOptions o;
    std::string error;
    ASSERT_EQ(ParseEngineOptions({"-r", "64.5", "-verbose", "-png-single-bit-alpha", "-bf", "-d", "out",
                                  "-jpeg-quality", "25", "-jpeg-smoothing-factor", "10", "", "doc.pdf", ""},
                                 o, error),
              ParseResult::Ok)
        << error;
    EXPECT_DOUBLE_EQ(o.resolution, 64.5);
    EXPECT_EQ(o.Mode(), ImageMode::SplitLayers);
    EXPECT_EQ(o.jpeg_quality, 25);
    EXPECT_EQ(o.jpeg_smoothing, 10);
    EXPECT_EQ(o.pdf_path, "doc.pdf");
    // A path that begins with a dash is reachable after "--".
    ASSERT_EQ(ParseEngineOptions({"-size", "--", "-odd.pdf"}, o, error), ParseResult::Ok) << error;
    EXPECT_EQ(o.pdf_path, "-odd.pdf");
    EXPECT_EQ(ParseEngineOptions({"-e", "jpeg", "-bf", "-d", "x", "a.pdf"}, o, error), ParseResult::Usage);
    EXPECT_EQ(ParseEngineOptions({"-r", "2401", "-size", "a.pdf"}, o, error), ParseResult::Usage);
    EXPECT_EQ(ParseEngineOptions({"-r", "1e3", "-size", "a.pdf"}, o, error), ParseResult::Usage);
}
