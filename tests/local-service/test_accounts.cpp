// The accounts of the local service: amounts, the accounts file, charging,
// the WAV prompt and SIP addresses of the far end.
#include "platform/gbk.h"
#include "tools/local-service/accounts.h"
#include "tools/local-service/far_end.h"
#include "tools/local-service/prompt.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace velkor::local;

TEST(LocalAccounts, MoneyTextsRoundTripAndOddTextsAreRefused)
{
    struct Case {
        const char* text;
        std::optional<Fen> fen;
        const char* back;
    } cases[] = {
        {"25.60", 2560, "25.60"}, {"0.11", 11, "0.11"}, {"3", 300, "3.00"},   {"-0.05", -5, "-0.05"},
        {"+1.5", 150, "1.50"},    {"0.1", 10, "0.10"},  {"", {}, nullptr},    {"1.234", {}, nullptr},
        {"1.", {}, nullptr},      {".5", {}, nullptr},  {"1,00", {}, nullptr}, {"1e3", {}, nullptr},
        {"-", {}, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseMoney(c.text), c.fen) << c.text;
        if (c.back) {
            EXPECT_EQ(formatMoney(*c.fen), c.back) << c.text;
        }
    }
}

TEST(LocalAccounts, TheRepositoryFileHasEveryDemoCase)
{
    std::string error;
    const auto accounts = loadAccounts(std::string(std::getenv("VELKOR_SOURCE_DIR")) +
                                           "/tools/local-service/accounts.txt", &error);
    ASSERT_TRUE(accounts) << error;
    bool good = false, locked = false, poor = false, otherVersion = false, chinese = false;
    for (const auto& a : *accounts) {
        good = good || (!a.locked && a.version == "2.54" && a.balance >= 12);
        locked = locked || a.locked;
        poor = poor || (!a.locked && a.balance < 12);
        otherVersion = otherVersion || a.version != "2.54";
        chinese = chinese || !velkor::gbk::isAscii(a.id);
    }
    EXPECT_TRUE(good && locked && poor && otherVersion && chinese);
    const auto demo = std::find_if(accounts->begin(), accounts->end(), [](const Account& a) { return a.id == "demo1001"; });
    ASSERT_NE(demo, accounts->end());
    EXPECT_EQ(demo->password, "1234");
    EXPECT_EQ(demo->sipUser, "7001");
    EXPECT_EQ(demo->balance, 2560);
}

TEST(LocalAccounts, BadLinesAreNamed)
{
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"a 1 7001 1.00 0.10 ok 2.54\n", "line 1: expected 8 fields, found 7"},
        {"# x\n\na 1 7001 1.00 0.10 frozen 2.54 666\n", "line 3: state is \"ok\" or \"locked\""},
        {"a 1 7001 lots 0.10 ok 2.54 666\n", "line 1: balance and tariff are amounts such as 25.60"},
        {"a 1 70@1 1.00 0.10 ok 2.54 666\n", "line 1: the SIP user and display number must not hold any of !@#$%^"},
        {"a 1 7001 1.00 0.10 ok 2.54 666\nb 1 7001 1.00 0.10 ok 2.54 667\n", "line 2: account and SIP user must be unique"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(parseAccounts(c.text, &error)) << c.text;
        EXPECT_EQ(error, c.error);
    }
    // Names are kept in GBK; CR LF line ends are fine.
    const auto ok = parseAccounts("演示 密码 7006 8.88 0.20 ok 2.54 671\r\n");
    ASSERT_TRUE(ok);
    EXPECT_EQ((*ok)[0].id, "\xD1\xDD\xCA\xBE");
    EXPECT_EQ((*ok)[0].password, "\xC3\xDC\xC2\xEB");
}

TEST(LocalAccounts, CallsAreChargedPerStartedMinute)
{
    AccountStore store(*parseAccounts("a 1 7001 1.00 0.10 ok 2.54 666\n"));
    EXPECT_EQ(store.charge("7001", "0123", 0), 100);     // answered and ended in the same instant
    EXPECT_EQ(store.charge("7001", "0123", 1), 90);
    EXPECT_EQ(store.charge("7001", "0123", 60), 80);
    EXPECT_EQ(store.charge("7001", "0123", 61), 60);
    EXPECT_EQ(store.charge("7999", "0123", 10), std::nullopt);
    EXPECT_EQ(store.byId("a")->balance, 60);
    const auto calls = store.calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].seconds, 61);  // newest first
    EXPECT_EQ(calls[0].charge, 20);
    // A long call may take the balance below zero: the talk time is what it is.
    EXPECT_EQ(store.charge("7001", "0123", 3600), -540);
    EXPECT_EQ(store.topUp("a", "1", 1000), 460);
    EXPECT_EQ(store.topUp("a", "2", 1000), std::nullopt);
}

namespace {

std::string wav(int rate, int channels, const std::vector<int16_t>& samples, bool dataSizeZero = false)
{
    auto le = [](std::string& s, uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            s += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    std::string s = "RIFF";
    le(s, 36 + 2 * static_cast<uint32_t>(samples.size()), 4);
    s += "WAVEfmt ";
    le(s, 16, 4), le(s, 1, 2), le(s, static_cast<uint32_t>(channels), 2), le(s, static_cast<uint32_t>(rate), 4);
    le(s, static_cast<uint32_t>(rate * channels * 2), 4), le(s, static_cast<uint32_t>(channels * 2), 2), le(s, 16, 2);
    s += "LIST";  // a chunk to skip
    le(s, 3, 4);
    s += std::string("abc\0", 4);  // odd size, padded
    s += "data";
    le(s, dataSizeZero ? 0 : 2 * static_cast<uint32_t>(samples.size()), 4);
    for (int16_t v : samples)
        le(s, static_cast<uint16_t>(v), 2);
    return s;
}

} // namespace

TEST(LocalPrompt, WavFilesBecomeMono8k)
{
    // 16 kHz stereo: the channels are averaged, every two frames make one.
    const auto a = decodeWav8k(wav(16000, 2, {100, 300, 100, 300, -50, -150, -50, -150}));
    ASSERT_TRUE(a);
    EXPECT_EQ(*a, (std::vector<int16_t>{200, -100}));
    // 8 kHz mono is taken as it is, also when the writer left the data size at 0.
    EXPECT_EQ(decodeWav8k(wav(8000, 1, {1, 2, 3}, true)), (std::vector<int16_t>{1, 2, 3}));
    EXPECT_FALSE(decodeWav8k("RIFF....WAVE"));
    EXPECT_FALSE(decodeWav8k("not a wav file at all"));
    const auto beeps = beepPrompt();
    EXPECT_EQ(beeps.size(), 3u * 2400u);
}

TEST(LocalFarEnd, SipUserOfAnAddress)
{
    EXPECT_EQ(sipUserOf("sip:7001@127.0.0.1:5070"), "7001");
    EXPECT_EQ(sipUserOf("sip:0123@127.0.0.1"), "0123");
    EXPECT_EQ(sipUserOf("sip:127.0.0.1:5070"), "");
    EXPECT_EQ(sipUserOf(""), "");
}
