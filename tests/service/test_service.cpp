#include "platform/gbk.h"
#include "service/account.h"
#include "service/address.h"
#include "service/exchange.h"
#include "service/reply.h"
#include "tests/service/loopback.h"

#include <gtest/gtest.h>

using namespace velkor;
using namespace velkor::service;
using namespace std::chrono_literals;
using test::HttpServer;
using test::RawServer;

namespace {

// GBK bytes of the texts the tests compare with.
const std::string kWrong = "\xD5\xCA\xBA\xC5\xC3\xDC\xC2\xEB\xD1\xE9\xD6\xA4\xB4\xED\xCE\xF3";  // 帐号密码验证错误
const std::string kZhangSan = "\xD5\xC5\xC8\xFD";  // 张三

http::Options quick()
{
    http::Options o;
    o.connectTimeout = 2s;
    o.totalTimeout = 2s;
    return o;
}

ServiceAccount request(std::string id = "demo1001", std::string pw = "1234")
{
    ServiceAccount a;
    a.accountId = std::move(id);
    a.password = std::move(pw);
    return a;
}

// A service whose two scripts answer with a body and status the test sets, and
// which records the decoded query of the last request.
class Service : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto answer = [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex);
            params = req.params;
            target = req.target;
            res.status = status;
            res.set_content(body, "text/plain");
        };
        server.server().Get("/login.php", answer);
        server.server().Get("/money.php", answer);
    }
    std::string param(const std::string& key)
    {
        std::lock_guard lock(mutex);
        auto it = params.find(key);
        return it == params.end() ? "<missing>" : it->second;
    }

    HttpServer server;
    std::mutex mutex;
    std::string body;
    int status = 200;
    httplib::Params params;
    std::string target;
};

} // namespace

TEST(HostPortSplit, WholeDecimalPortAfterTheFirstColon)
{
    struct Case { const char* text; const char* host; int port; } cases[] = {
        {"192.0.2.10:5060", "192.0.2.10", 5060},
        {"sip.example.com:15060", "sip.example.com", 15060},
        {"h:65535", "h", 65535},
        {"h:65536", "h", 0},
        {"h:99999999999999999999", "h", 0},
        {"h:0", "h", 0},
        {"h:5060;transport=udp", "h", 5060},
        {"h:x5060", "h", 0},
        {"h:", "h", 0},
        {":5060", "", 5060},
        {"h:1:2", "h", 1},
        {"5060", "", 0},
        {"", "", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(splitHostPort(c.text), (HostPort{c.host, c.port})) << c.text;
}

TEST(ReplyLine, FieldsAreCutAtTheFirstDelimiterOfWholeCharacters)
{
    const auto f = parseReply("ok!7001@12.50#192.0.2.10:5060$666%192.0.2.20:9000^tail");
    EXPECT_EQ(f.status, "ok");
    EXPECT_EQ(f.field1, "7001");
    EXPECT_EQ(f.field2, "12.50");
    EXPECT_EQ(f.field3, "192.0.2.10:5060");
    EXPECT_EQ(f.field4, "666");
    EXPECT_EQ(f.field5, "192.0.2.20:9000");

    // 0x81 0x40 is one character whose second byte is '@'; 0xD5 0x21 ends in '!'.
    const auto g = parseReply("\xD5\x21" "ok!\x81\x40" "u@1#s$d%^");
    EXPECT_EQ(g.status, "\xD5\x21" "ok");
    EXPECT_EQ(g.field1, "\x81\x40" "u");
    EXPECT_EQ(g.field2, "1");

    // Missing or misordered delimiters give empty fields.
    EXPECT_EQ(replyField("ok!8.88", '!', '@'), "");
    EXPECT_EQ(replyField("ok@8.88!", '!', '@'), "");
    EXPECT_EQ(statusWord("ok"), "");
    EXPECT_EQ(statusWord("!x"), "");
}

TEST(Addresses, TimeTextIsGbkWithZeroPaddedFields)
{
    std::tm t{};
    t.tm_year = 2010 - 1900;
    t.tm_mon = 4;
    t.tm_mday = 3;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 7;
    EXPECT_EQ(timeText(t), "\xCF\xD6\xD4\xDA\xCA\xB1\xBC\xE4\xCA\xC7" "2010\xC4\xEA" "05\xD4\xC2"
                           "03\xC8\xD5 09:05:07");
    std::tm bad = t;
    bad.tm_mon = 12;
    EXPECT_EQ(timeText(bad), "");
    bad = t;
    bad.tm_hour = -1;
    EXPECT_EQ(timeText(bad), "");
    EXPECT_EQ(timeTextNow().size(), timeText(t).size());
}

TEST(Addresses, UrlsEncodeEveryValueByte)
{
    EXPECT_EQ(percentEncode("aZ09-._~ &=#+%/?" "\xD5\xC5"), "aZ09-._~%20%26%3D%23%2B%25%2F%3F%D5%C5");
    EXPECT_EQ(loginUrl("http://h", "a b", "p&q", "t 1"),
              "http://h/login.php?username=a%20b&pass=p%26q&banben=2.54&t=t%201");
    EXPECT_EQ(moneyUrl("http://h:81", "demo1001", "1234"),
              "http://h:81/money.php?username=demo1001&pass=1234");
    EXPECT_EQ(pageUrl("http://h", page::advert), "http://h/ad2.htm");

    EXPECT_EQ(serviceBase(), VELKOR_SERVICE_BASE_DEFAULT) << "the build's address";
    setServiceBase("http://other:1");
    EXPECT_EQ(pageUrl(page::registration), "http://other:1/reguser.php");
    setServiceBase(VELKOR_SERVICE_BASE_DEFAULT);
}

TEST(Outcomes, StatusTexts)
{
    struct Case { VerifyOutcome outcome; const char* utf8; bool report; } cases[] = {
        {VerifyOutcome::Ok, "", false},
        {VerifyOutcome::Unknown, "", false},
        {VerifyOutcome::WrongPassword, "帐号密码验证错误", true},
        {VerifyOutcome::Locked, "帐号非法.被系统锁定", true},
        {VerifyOutcome::Upgrade, "版本已升级.请到网站更新", true},
        {VerifyOutcome::NetworkFailure, "验证失败.网络问题", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(gbk::toUtf8(statusText(c.outcome)).text, c.utf8);
        EXPECT_EQ(isFailureReport(c.outcome), c.report) << c.utf8;
    }
    EXPECT_EQ(statusText(VerifyOutcome::WrongPassword), kWrong);
}

// Every reply of the verification, through the real HTTP path.
TEST_F(Service, VerificationReplies)
{
    using O = VerifyOutcome;
    struct Case {
        std::string body;
        int status;
        O outcome;
        std::string word, sipUser, balance, sipServer, host;
        int port;
        std::string display;
    } cases[] = {
        {"ok!7001@12.50#192.0.2.10:5060$666%192.0.2.20:9000^", 200, O::Ok,
         "ok", "7001", "12.50", "192.0.2.10:5060", "192.0.2.10", 5060, "666"},
        {"ok!7001@25.60#127.0.0.1:15060$666%127.0.0.1:5060^\r\nmore", 200, O::Ok,
         "ok", "7001", "25.60", "127.0.0.1:15060", "127.0.0.1", 15060, "666"},
        {"ok!7001@1#sipserver$6%^", 200, O::Ok, "ok", "7001", "1", "sipserver", "", 0, "6"},
        {"ok!7001@12.50", 200, O::Ok, "ok", "7001", "", "", "", 0, ""},
        {"ok!\x81\x40" "7@1#h:1$d%^", 200, O::Ok, "ok", "\x81\x40" "7", "1", "h:1", "h", 1, "d"},
        {"error!", 200, O::WrongPassword, "error", "", "0", "", "", 0, ""},
        {"error!xyz\n", 200, O::WrongPassword, "error", "", "0", "", "", 0, ""},
        {"suoding!", 200, O::Locked, "suoding", "", "0", "", "", 0, ""},
        {"shengji!", 200, O::Upgrade, "shengji", "", "0", "", "", 0, ""},
        {"ERROR!", 200, O::Unknown, "ERROR", "", "0", "", "", 0, ""},
        {"ok", 200, O::Unknown, "", "", "0", "", "", 0, ""},
        {"", 200, O::Unknown, "", "", "0", "", "", 0, ""},
        {"\nok!7001@1#h:1$d%^", 200, O::Unknown, "", "", "0", "", "", 0, ""},
        {std::string("\0\x89PNG\r\n\x1a\n", 9), 200, O::Unknown, "", "", "0", "", "", 0, ""},
        // An HTTP error page is a network failure, whatever it says.
        {"ok!7001@12.50#192.0.2.10:5060$666%^", 500, O::NetworkFailure, "", "", "0", "", "", 0, ""},
        {"error!", 404, O::NetworkFailure, "", "", "0", "", "", 0, ""},
    };
    for (const auto& c : cases) {
        body = c.body;
        status = c.status;
        const auto r = verify(server.base(), request(), "t", quick());
        SCOPED_TRACE(c.body);
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(r.statusWord, c.word);
        EXPECT_EQ(r.account.accountId, "demo1001");
        EXPECT_EQ(r.account.password, "1234");
        EXPECT_EQ(r.account.sipUser, c.sipUser);
        EXPECT_EQ(r.account.balance, c.balance);
        EXPECT_EQ(r.account.sipServer, c.sipServer);
        EXPECT_EQ(r.account.sipServerHost, c.host);
        EXPECT_EQ(r.account.sipServerPort, c.port);
        EXPECT_EQ(r.account.displayNumber, c.display);
    }
    body = "ok!7001@12.50#192.0.2.10:5060$666%192.0.2.20:9000^";
    status = 200;
    EXPECT_EQ(verify(server.base(), request(), "t", quick()).secondServer,
              (HostPort{"192.0.2.20", 9000}));
}

TEST_F(Service, VerificationSendsEveryValueIntact)
{
    const std::string id = "a&b=c#d e+%" + kZhangSan;
    const std::string pw = "p?w/d;\x81\x40&x=1";
    const std::string when = timeTextNow();
    body = "error!";
    verify(server.base(), request(id, pw), when, quick());
    EXPECT_EQ(param("username"), id);
    EXPECT_EQ(param("pass"), pw);
    EXPECT_EQ(param("banben"), "2.54");
    EXPECT_EQ(param("t"), when);
    EXPECT_EQ(params.size(), 4u) << target;

    // The short form uses the run-time base address and the current time.
    setServiceBase(server.base());
    verify(request(), quick());
    EXPECT_EQ(param("username"), "demo1001");
    EXPECT_EQ(param("t").size(), when.size());
    setServiceBase(VELKOR_SERVICE_BASE_DEFAULT);
}

TEST_F(Service, BalanceReplies)
{
    using O = BalanceOutcome;
    struct Case { std::string body; int status; O outcome; std::string balance; } cases[] = {
        {"ok!8.88@", 200, O::Updated, "8.88"},
        {"ok!8.88@x#y\r\n", 200, O::Updated, "8.88"},
        {"ok!8.88", 200, O::Updated, ""},
        {"ok@8.88!", 200, O::Cleared, ""},  // the status word is "ok@8.88"
        {"error!", 200, O::Cleared, ""},
        {"OK!8.88@", 200, O::Cleared, ""},
        {"", 200, O::Cleared, ""},
        {"ok!8.88@", 503, O::NetworkFailure, ""},
    };
    for (const auto& c : cases) {
        body = c.body;
        status = c.status;
        const auto r = queryBalance(server.base(), "demo 1001", kZhangSan, quick());
        SCOPED_TRACE(c.body);
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(r.balance, c.balance);
    }
    EXPECT_EQ(param("username"), "demo 1001");
    EXPECT_EQ(param("pass"), kZhangSan);
    EXPECT_EQ(params.size(), 2u);
}

// Broken replies and peers each end in one outcome within the time-outs.
TEST(ServiceBadPeers, EndInAnOutcome)
{
    HttpServer big;
    big.server().Get("/login.php", [](const httplib::Request& req, httplib::Response& res) {
        const bool withLine = req.get_param_value("username") == "line";
        std::string data = withLine ? "ok!7001@1#h:5060$6%^\n" : "";
        data.resize(4 * 1024 * 1024, 'x');
        res.set_content(data, "text/plain");
    });
    RawServer stalls([](int fd, RawServer& s) {
        RawServer::readRequestHead(fd);
        s.waitForShutdown();
    });
    RawServer resets([](int fd, RawServer&) {
        RawServer::readRequestHead(fd);
        RawServer::resetConnection(fd);
    });
    RawServer cut([](int fd, RawServer&) {
        RawServer::readRequestHead(fd);
        RawServer::sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 60\r\n\r\nok!7001@12.5");
    });
    struct Case { std::string base; std::string id; VerifyOutcome outcome; } cases[] = {
        {big.base(), "line", VerifyOutcome::Ok},
        {big.base(), "noline", VerifyOutcome::Unknown},
        {stalls.base(), "demo", VerifyOutcome::NetworkFailure},
        {resets.base(), "demo", VerifyOutcome::NetworkFailure},
        {cut.base(), "demo", VerifyOutcome::NetworkFailure},
        {"http://127.0.0.1:" + std::to_string(test::closedPort()), "demo", VerifyOutcome::NetworkFailure},
    };
    auto o = quick();
    o.totalTimeout = 500ms;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base + " " + c.id);
        const auto r = verify(c.base, request(c.id), "t", o);
        EXPECT_EQ(r.outcome, c.outcome);
        const auto b = queryBalance(c.base, c.id, "1234", o);
        if (c.outcome == VerifyOutcome::NetworkFailure) {
            EXPECT_FALSE(r.error.empty());
            EXPECT_EQ(b.outcome, BalanceOutcome::NetworkFailure);
        }
    }
}
