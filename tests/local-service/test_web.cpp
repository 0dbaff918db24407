// The local service's web server answered through the client's own request
// code: every demo account, the balance, the talk-time reports and the pages.
#include "platform/gbk.h"
#include "platform/http.h"
#include "service/address.h"
#include "service/exchange.h"
#include "tools/local-service/web_service.h"

#include <gtest/gtest.h>

#include <httplib.h>

#include <cstdlib>

using namespace velkor;
using namespace velkor::local;
using namespace std::chrono_literals;
using gbk::lit;
using service::VerifyOutcome;

namespace {

struct LocalWeb : ::testing::Test {
    AccountStore store{*loadAccounts(std::string(std::getenv("VELKOR_SOURCE_DIR")) +
                                     "/tools/local-service/accounts.txt")};
    WebService web{store, "127.0.0.1:5070"};
    std::string base;
    http::Options o;

    void SetUp() override
    {
        ASSERT_GT(web.start(0), 0);
        base = "http://127.0.0.1:" + std::to_string(web.port());
        o.totalTimeout = 5s;
    }

    service::VerifyResult login(const std::string& id, const std::string& pw, const char* version = "2.54")
    {
        service::ServiceAccount a;
        a.accountId = id;
        a.password = pw;
        if (std::string(version) == "2.54")
            return service::verify(base, a, service::timeTextNow(), o);
        // Another client version: the same request with another "banben".
        auto url = service::loginUrl(base, id, pw, "t");
        url.replace(url.find("banben=2.54"), 11, std::string("banben=") + version);
        return service::interpretVerifyReply(a, http::getFirstLine(url, o));
    }

    http::Reply get(const std::string& path) { return http::getFirstLine(base + path, o); }
};

} // namespace

TEST_F(LocalWeb, EveryDemoAccountGetsItsReply)
{
    struct Case {
        std::string id, password;
        VerifyOutcome outcome;
    } cases[] = {
        {"demo1001", "1234", VerifyOutcome::Ok},
        {"demo1001", "12345", VerifyOutcome::WrongPassword},
        {"demo1002", "Abc123", VerifyOutcome::Ok},
        {"demo1002", "abc123", VerifyOutcome::WrongPassword},  // passwords are case-sensitive
        {"DEMO1001", "1234", VerifyOutcome::WrongPassword},    // so are accounts
        {"suoding1", "1234", VerifyOutcome::Locked},
        {"suoding1", "wrong", VerifyOutcome::WrongPassword},   // a lock is told only to the owner
        {"poor1001", "1234", VerifyOutcome::Ok},
        {"old1001", "1234", VerifyOutcome::Upgrade},
        {lit("演示账号"), "8888", VerifyOutcome::Ok},           // GBK bytes, percent-encoded
        {"nobody", "1234", VerifyOutcome::WrongPassword},
        {"", "", VerifyOutcome::WrongPassword},
    };
    for (const auto& c : cases)
        EXPECT_EQ(login(c.id, c.password).outcome, c.outcome) << gbk::toUtf8(c.id).text << " " << c.password;

    const auto ok = login("demo1001", "1234");
    EXPECT_EQ(ok.account.sipUser, "7001");
    EXPECT_EQ(ok.account.balance, "25.60");
    EXPECT_EQ(ok.account.sipServer, "127.0.0.1:5070");
    EXPECT_EQ(ok.account.sipServerHost, "127.0.0.1");
    EXPECT_EQ(ok.account.sipServerPort, 5070);
    EXPECT_EQ(ok.account.displayNumber, "666");
    EXPECT_EQ(ok.secondServer.port, 5070);
    EXPECT_EQ(login("poor1001", "1234").account.balance, "0.11");
    EXPECT_EQ(login(lit("演示账号"), "8888").account.sipUser, "7006");

    // The version check: every account wants its own version.
    EXPECT_EQ(login("demo1001", "1234", "2.53").outcome, VerifyOutcome::Upgrade);
    EXPECT_EQ(login("old1001", "1234", "2.60").outcome, VerifyOutcome::Ok);
    EXPECT_EQ(login("demo1001", "12345", "2.53").outcome, VerifyOutcome::WrongPassword);
}

TEST_F(LocalWeb, BalanceFollowsTheReportedCalls)
{
    auto balance = [&](const std::string& id, const std::string& pw) {
        return service::queryBalance(base, id, pw, o);
    };
    EXPECT_EQ(balance("demo1001", "1234").balance, "25.60");
    EXPECT_EQ(balance("demo1001", "x").outcome, service::BalanceOutcome::Cleared);
    EXPECT_EQ(balance("suoding1", "1234").outcome, service::BalanceOutcome::Cleared);
    EXPECT_EQ(balance(lit("演示账号"), "8888").balance, "8.88");

    // 61 s at 0.10 per started minute.
    const auto r = get("/callend?sipuser=7001&number=0123456&seconds=61");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.line, "ok!25.40@");
    EXPECT_EQ(balance("demo1001", "1234").balance, "25.40");
    EXPECT_EQ(get("/callend?sipuser=7006&number=0123&seconds=5").line, "ok!8.68@");  // tariff 0.20

    struct Bad {
        const char* query;
        long status;
    } bad[] = {
        {"sipuser=7999&number=0123&seconds=5", 404},
        {"sipuser=7001&number=0123&seconds=-5", 400},
        {"sipuser=7001&number=0123&seconds=5x", 400},
        {"sipuser=7001&number=0123", 400},
    };
    for (const auto& b : bad) {
        const auto reply = get(std::string("/callend?") + b.query);
        EXPECT_EQ(reply.status, b.status) << b.query;
        EXPECT_EQ(reply.line, "error!") << b.query;
    }
    EXPECT_EQ(balance("demo1001", "1234").balance, "25.40");

    // The account page lists the call.
    httplib::Client client("127.0.0.1", web.port());
    const auto page = client.Get("/acct.php");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("<td>0123456</td><td>61</td><td>0.20</td>"), std::string::npos);
}

TEST_F(LocalWeb, PagesAreUtf8HtmlWithoutAccountData)
{
    httplib::Client client("127.0.0.1", web.port());
    for (auto path : {service::page::registration, service::page::password, service::page::account,
                      service::page::callback, service::page::userLogin, service::page::userLoginMa,
                      service::page::advert}) {
        const auto r = client.Get(std::string(path));
        ASSERT_TRUE(r) << path;
        EXPECT_EQ(r->status, 200) << path;
        EXPECT_EQ(r->get_header_value("Content-Type"), "text/html; charset=utf-8") << path;
        EXPECT_EQ(r->body.rfind("<!DOCTYPE html>", 0), 0u) << path;
        EXPECT_NE(r->body.find("<meta charset=\"utf-8\">"), std::string::npos) << path;
        EXPECT_FALSE(gbk::fromUtf8(r->body).lost) << path;
    }
    // The advertisement fits its 364 x 140 browser: no scrolling, a fixed height.
    const auto ad = client.Get("/ad2.htm");
    EXPECT_NE(ad->body.find("overflow:hidden"), std::string::npos);
    EXPECT_NE(ad->body.find("height:140px"), std::string::npos);
    // Names are escaped and shown in UTF-8.
    const auto reg = client.Get("/reguser.php");
    EXPECT_NE(reg->body.find("<td>演示账号</td><td>8888</td>"), std::string::npos);
    EXPECT_EQ(client.Get("/nothing.php")->status, 404);
}

TEST_F(LocalWeb, TopUpFormAddsToTheBalance)
{
    httplib::Client client("127.0.0.1", web.port());
    // The form of a UTF-8 page sends UTF-8.
    auto r = client.Post("/topup", httplib::Params{{"username", "演示账号"}, {"pass", "8888"}, {"amount", "1.12"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_NE(r->body.find("10.00"), std::string::npos);
    EXPECT_EQ(service::queryBalance(base, lit("演示账号"), "8888", o).balance, "10.00");
    EXPECT_EQ(client.Post("/topup", httplib::Params{{"username", "poor1001"}, {"pass", "x"}, {"amount", "5"}})->status, 403);
    EXPECT_EQ(client.Post("/topup", httplib::Params{{"username", "poor1001"}, {"pass", "1234"}, {"amount", "-5"}})->status, 400);
    EXPECT_EQ(service::queryBalance(base, "poor1001", "1234", o).balance, "0.11");
}
