#include "phone/number_rules.h"

#include "platform/gbk.h"

#include <gtest/gtest.h>

using namespace velkor::phone;
using velkor::gbk::lit;

TEST(NumberRules, EveryExampleGetsItsVerdict)
{
    struct Case {
        std::string number;
        const char* balance;
        Verdict verdict;
    } cases[] = {
        {"", "5", Verdict::Empty},
        {"012", "5", Verdict::TooShort},
        {lit("中"), "5", Verdict::TooShort}, // two bytes
        {"0123", "5", Verdict::Accepted},
        {"13912345678", "5", Verdict::NeedsLeadingZero},
        {"013912345678", "5", Verdict::Accepted},
        {"9000", "5", Verdict::NeedsLeadingZero},
        {"90000", "0", Verdict::Accepted},
        {"90006", "", Verdict::Accepted},
        {"0755-123456", "5", Verdict::NotAllDigits},
        {"0123 ", "5", Verdict::NotAllDigits},
        {" 0123", "5", Verdict::NeedsLeadingZero}, // the zero rule comes first
        {"*123", "5", Verdict::NeedsLeadingZero},
        {"0*12", "5", Verdict::NotAllDigits},
        {"0123", "0.11", Verdict::BalanceTooLow},
        {"0123", "0.12", Verdict::Accepted},
        {"0123", "", Verdict::BalanceTooLow},
        {"0123", " +1.5e0yuan", Verdict::Accepted},
        {"0123", "abc", Verdict::BalanceTooLow},
        {"0" + lit("中文"), "5", Verdict::NotAllDigits},
    };
    for (const auto& c : cases)
        EXPECT_EQ(numberVerdict(c.number, c.balance), c.verdict) << "'" << c.number << "' / '" << c.balance << "'";
}

TEST(NumberRules, VerdictTexts)
{
    EXPECT_EQ(verdictText(Verdict::Empty, ""), lit("请输入对方电话号码"));
    EXPECT_EQ(verdictText(Verdict::TooShort, ""), lit("对方电话号码不正确"));
    EXPECT_EQ(verdictText(Verdict::NeedsLeadingZero, ""), lit("手机请在号码前加0"));
    EXPECT_EQ(verdictText(Verdict::NotAllDigits, ""), lit("对方电话号码错误"));
    EXPECT_EQ(verdictText(Verdict::BalanceTooLow, ""), lit("话费余额不足.请充值"));
    EXPECT_EQ(verdictText(Verdict::Accepted, "0123"), lit("正在呼叫:") + "0123");
}
