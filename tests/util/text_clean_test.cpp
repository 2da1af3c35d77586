#include "util/text_clean.h"

#include <gtest/gtest.h>

TEST(TextClean, RemovesAnchorAndParagraphTagsLeftmostLongest) {
    std::string text = "see <a href=\"x\">here</a> now";
    removeHTMLtags(text);
    EXPECT_EQ(text, "see here now");

    // With two anchors the first match runs to the last "\">".
    std::string two = "<a href=\"1\">one</a> and <a href=\"2\">two</a>";
    removeHTMLtags(two);
    EXPECT_EQ(two, "two");

    std::string para = "<p>first</P><P>second</p>";
    removeHTMLtags(para);
    EXPECT_EQ(para, "firstsecond");

    // Erasing one tag can complete another across the join.
    std::string joined = "x<<p>/p>y";
    removeHTMLtags(joined);
    EXPECT_EQ(joined, "xy");
}

TEST(TextClean, RemovesLinksKeepingTheBlanksAround) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"read https://news.example/a/b?c=1&d=2 today", "read  today"},
        {"x -(https://a.example/p) y", "x ) y"},
        {"plain http://h.example", "plain "},
        {"no links here", "no links here"},
        {"a-http://x!http://y b", "a b"},  // erasing one link joins "-!" to the next
    };
    for (auto& c : cases) {
        std::string text = c.in;
        removeURLs(text);
        EXPECT_EQ(text, c.out) << c.in;
    }
}

TEST(TextClean, DecodesCharacterReferencesToUtf8) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"&amp;lt;", "&lt;"},
        {"&#233;&#xE9;&eacute;", "\xC3\xA9\xC3\xA9\xC3\xA9"},
        {"&#8364;", "\xE2\x82\xAC"},
        {"&ang;", "&ang;"},
        {"&#12 x", " x"},
        {"a & b", "a & b"},
        {"&#x1F600;", "\xF0\x9F\x98\x80"},
        {"&#0;", "\xEF\xBF\xBD"},
        {"&#xD800;", "\xEF\xBF\xBD"},
        {"&#x110000;", "\xEF\xBF\xBD"},
        {"&#99999999999999999999;", "\xEF\xBF\xBD"},
        {"&#65;&#x41;", "AA"},
        {"&Dagger;&dagger;", "\xE2\x80\xA1\xE2\x80\xA0"},
        {"&nbsp", ""},  // a partial reference at the end is dropped
        {"&#;x", ";x"},
        {"&nbsp x", "&nbsp x"},
        {"&foo;", "&foo;"},
        {"tail &", "tail "},
    };
    for (auto& c : cases) EXPECT_EQ(decodeHtmlEntities(c.in), c.out) << c.in;
}

TEST(TextClean, WrapsAtBlanksWithoutSplittingWords) {
    struct Case {
        std::string in;
        int width;
        std::string out;
    } cases[] = {
        {"the quick brown fox", 10, "the quick\nbrown fox"},
        {"ab cdefgh", 4, "ab\ncdefgh"},
        {"ab cdefgh ij", 4, "ab\ncdefgh\nij"},
        {"unchanged text", 0, "unchanged text"},
        {"unchanged text", -3, "unchanged text"},
        {"short", 10, "short"},
        {"", 5, ""},
    };
    for (auto& c : cases) {
        std::string text = c.in;
        wordWrap(text, c.width);
        EXPECT_EQ(text, c.out) << c.in << " width " << c.width;
    }
}

TEST(TextClean, LongTextsAreWrappedAndFlattenedWholly) {
    std::string words;
    while (words.size() < 200000) words += "word\nwords ";
    std::string flat = words;
    replaceLineFeeds(flat);
    EXPECT_EQ(flat.find('\n'), std::string::npos);
    EXPECT_EQ(flat.size(), words.size());

    wordWrap(flat, 40);
    size_t lineStart = 0;
    for (size_t i = 0; i <= flat.size(); ++i) {
        if (i == flat.size() || flat[i] == '\n') {
            ASSERT_LE(i - lineStart, 40u) << "line at " << lineStart;
            lineStart = i + 1;
        }
    }
    std::string restored = flat;
    replaceLineFeeds(restored);
    EXPECT_EQ(restored.size(), words.size());
}
