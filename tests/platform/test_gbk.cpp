#include "platform/gbk.h"

#include <gtest/gtest.h>

using namespace velkor;

TEST(Gbk, FindStepsByCharacters)
{
    // 0x95 0x5C is one character whose second byte is a backslash; 0xB0 0x40 ends in '@'.
    const std::string s = "\x95\x5C" "a\\" "\xB0\x40" "@";
    struct Case { char c; std::size_t at; } cases[] = {
        {'\\', 3}, {'@', 6}, {'a', 2}, {'!', std::string::npos},
    };
    for (auto [c, at] : cases)
        EXPECT_EQ(gbk::find(s, c), at) << c;
    EXPECT_EQ(gbk::find(s, "\\\xB0"), 3u);
    EXPECT_EQ(gbk::find(s, "\x5C" "a"), std::string::npos) << "a match may not start at a trail byte";
}

TEST(Gbk, LeadByteNeedsANonNulSecondByte)
{
    EXPECT_TRUE(gbk::isLeadByte("\x81\x40", 0));
    EXPECT_FALSE(gbk::isLeadByte(std::string("\x81\0", 2), 0));
    EXPECT_FALSE(gbk::isLeadByte("\x81", 0)) << "last byte of a text";
    EXPECT_FALSE(gbk::isLeadByte("\x80\x40", 0));
    EXPECT_FALSE(gbk::isLeadByte("\xFF\x40", 0));
}

TEST(Gbk, RoundTripsAndReportsLostCharacters)
{
    const std::string zhong = "\xD6\xD0"; // 中
    EXPECT_EQ(gbk::fromUtf8("中a").text, zhong + "a");
    EXPECT_FALSE(gbk::fromUtf8("中a").lost);
    EXPECT_EQ(gbk::toUtf8(zhong + "a").text, "中a");
    EXPECT_EQ(gbk::toUtf16(zhong).text, u"中");
    EXPECT_EQ(gbk::fromUtf16(u"中").text, zhong);

    const auto lost = gbk::fromUtf8("a😀b");
    EXPECT_TRUE(lost.lost);
    EXPECT_EQ(lost.text, "a?b");

    const auto badUtf8 = gbk::fromUtf8("a\xE4\xB8" "b"); // cut sequence in the middle
    EXPECT_TRUE(badUtf8.lost);
    EXPECT_EQ(badUtf8.text, "a?b");

    const auto cut = gbk::toUtf8("a\xD6"); // lead byte at the end
    EXPECT_TRUE(cut.lost);
    EXPECT_EQ(cut.text, "a?");

    EXPECT_FALSE(gbk::convert("x", "NO-SUCH-CODE", "GBK").ok);
}
