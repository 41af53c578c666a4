// The addresses a book page names for link previews and the embed snippet that shows a
// published book inside another site's page.
#include "pipeline/BookAddress.h"
#include "pipeline/EmbedSnippet.h"

#include <gtest/gtest.h>

namespace {

const std::string kKey = "0123456789ABCDEF0123456789ABCDEF";

TEST(ShareAddress, ThePageNamesTheAddressItIsServedAt) {
    // The FTP site serves the page made here; the service serves its own copy.
    EXPECT_EQ(PublishedPageAddress(true, "https://example.org/books", true, "http://svc.test/", kKey),
              "https://example.org/books/" + kKey + "/index.html");
    EXPECT_EQ(PublishedPageAddress(false, "https://example.org/books", true, "http://svc.test", kKey),
              "http://svc.test/books/" + kKey + "/");
    // No publication, no web address on the FTP profile, or one that is no web address:
    // nothing, so that no tag points where the book is not.
    EXPECT_EQ(PublishedPageAddress(false, "https://example.org", false, "http://svc.test/", kKey), "");
    EXPECT_EQ(PublishedPageAddress(true, "", false, "http://svc.test/", kKey), "");
    EXPECT_EQ(PublishedPageAddress(true, "example.org/books", false, "", kKey), "");
}

TEST(ShareAddress, EmbedSnippetIsAnEscapedLazyFrameAllowedFullScreen) {
    const std::string snippet =
        EmbedSnippet("https://example.org/b/" + kKey + "/index.html?a=1&b=\"2\"", "Tom's <b>\"best\"</b>", 612, 792);
    EXPECT_EQ(snippet, "<iframe src=\"https://example.org/b/" + kKey +
                           "/index.html?a=1&amp;b=&quot;2&quot;\" title=\"Tom&#39;s &lt;b&gt;&quot;best&quot;&lt;/b&gt;\" "
                           "style=\"width: 100%; aspect-ratio: 136 / 99; border: 0\" allow=\"fullscreen\" "
                           "allowfullscreen loading=\"lazy\"></iframe>");
    // A landscape page gives a wider frame; a book without a title is named by its address.
    EXPECT_NE(EmbedSnippet("https://e.org/x/", "", 800, 400).find("aspect-ratio: 32 / 9;"), std::string::npos);
    EXPECT_NE(EmbedSnippet("https://e.org/x/", "", 800, 400).find("title=\"https://e.org/x/\""), std::string::npos);
    EXPECT_NE(EmbedSnippet("https://e.org/x/", "T", 0, 0).find("aspect-ratio: 3 / 2;"), std::string::npos);
    EXPECT_EQ(EmbedSnippet("", "T", 612, 792), "");
}

}  // namespace
