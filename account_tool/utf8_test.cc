#include "utf8.h"

#include <gtest/gtest.h>

namespace {

const std::string R = "\xef\xbf\xbd";  // U+FFFD

}  // namespace

TEST(Utf8, AcceptsWellFormedTextUpToTheLastCodePoint) {
    const std::string texts[] = {"",
                                 "plain",
                                 "M\xc3\xbcller",
                                 "\xe2\x82\xac",
                                 "\xed\x9f\xbf",
                                 "\xee\x80\x80",
                                 "\xf0\x9f\x98\x80",
                                 "\xf4\x8f\xbf\xbf",
                                 std::string("a\0b", 3),
                                 "\xef\xbf\xbd"};
    for (const std::string& text : texts) {
        EXPECT_TRUE(is_utf8(text)) << text;
        EXPECT_EQ(to_utf8(text), text);
    }
}

TEST(Utf8, ReplacesEachMaximalIllFormedPart) {
    const std::pair<std::string, std::string> cases[] = {
        {"raw\xff\xfe", "raw" + R + R},
        {"M\xfcller", "M" + R + "ller"},      // Latin-1
        {"\xc0\xaf", R + R},                  // overlong '/'
        {"\xe0\x80\xaf", R + R + R},          // overlong, three bytes
        {"\xed\xa0\x80", R + R + R},          // a surrogate
        {"\xf4\x90\x80\x80", R + R + R + R},  // beyond U+10FFFF
        {"\xf5\x80", R + R},                  // no such lead byte
        {"\xe2\x82", R},                      // cut short at the end
        {"\xe2\x82"
         "A\xf0\x9f\x98",
         R + "A" + R},        // cut short, then more
        {"\x80\xbf", R + R},  // trail bytes alone
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_FALSE(is_utf8(text)) << text;
        EXPECT_EQ(to_utf8(text), expected) << text;
    }
}
