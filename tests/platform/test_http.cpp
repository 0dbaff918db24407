#include "platform/http.h"
#include "tests/service/loopback.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace velkor;
using namespace std::chrono_literals;
using test::HttpServer;
using test::RawServer;

namespace {

http::Options quick()
{
    http::Options o;
    o.connectTimeout = 2s;
    o.totalTimeout = 2s;
    return o;
}

struct Body {
    std::string body;
    std::string line;
};

} // namespace

TEST(Http, FirstLineOfTheBody)
{
    const Body cases[] = {
        {"", ""},
        {"\n", ""},
        {"ok!7001@", "ok!7001@"},                 // no newline: the whole body
        {"ok!1@\nsecond line\n", "ok!1@"},
        {"ok!1@\r\nsecond\r\n", "ok!1@"},
        {"o\rk!\r1@\r\r\nx", "ok!1@"},            // every CR goes, not only the last
        {std::string("\0\xff\x01!\x80@\n", 7), std::string("\0\xff\x01!\x80@", 6)},
        {"\xD5\xC5\xC8\xFD\n", "\xD5\xC5\xC8\xFD"},  // GBK bytes pass unchanged
    };
    HttpServer server;
    std::string body;
    server.server().Get("/r", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "text/plain");
    });
    for (const auto& c : cases) {
        body = c.body;
        const auto r = http::getFirstLine(server.base() + "/r", quick());
        EXPECT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.line, c.line);
        EXPECT_FALSE(r.truncated);
    }
}

TEST(Http, ReportsStatusAndFollowsRedirects)
{
    HttpServer server;
    server.server().Get("/missing", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("not here\nmore", "text/plain");
    });
    server.server().Get("/old", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/new");
    });
    server.server().Get("/new", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("moved\n", "text/plain");
    });
    auto r = http::getFirstLine(server.base() + "/missing", quick());
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(r.line, "not here");
    r = http::getFirstLine(server.base() + "/old", quick());
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.line, "moved");
}

// A huge reply is not downloaded whole: reading stops at the first LF, or when the
// first line reaches its limit.
TEST(Http, StopsReadingAfterTheFirstLine)
{
    constexpr std::size_t chunk = 64 * 1024, total = 64 * 1024 * 1024;
    struct Case { std::string head; std::string line; bool truncated; };
    const Case cases[] = {
        {"ok!8.88@\r\n", "ok!8.88@", false},
        {"", std::string(4096, 'x'), true},
    };
    for (const auto& c : cases) {
        HttpServer server;
        std::atomic<std::size_t> provided{0};
        server.server().Get("/big", [&](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain",
                [&](std::size_t, httplib::DataSink& sink) {
                    std::string data(chunk, 'x');
                    if (provided == 0)
                        data.replace(0, c.head.size(), c.head);
                    provided += data.size();
                    if (!sink.write(data.data(), data.size()))
                        return false;
                    if (provided >= total)
                        sink.done();
                    return true;
                });
        });
        auto o = quick();
        o.maxLineBytes = 4096;
        const auto r = http::getFirstLine(server.base() + "/big", o);
        EXPECT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.line, c.line);
        EXPECT_EQ(r.truncated, c.truncated);
        EXPECT_LT(provided.load(), total / 4) << "the rest of the body was downloaded";
    }
}

TEST(Http, NetworkFailures)
{
    RawServer stalls([](int fd, RawServer& s) {
        RawServer::readRequestHead(fd);
        s.waitForShutdown();
    });
    RawServer resets([](int fd, RawServer&) {
        RawServer::readRequestHead(fd);
        RawServer::resetConnection(fd);
    });
    RawServer cutMidLine([](int fd, RawServer&) {
        RawServer::readRequestHead(fd);
        RawServer::sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nok!7001@12");
    });
    RawServer closesBeforeAnswer([](int fd, RawServer&) { RawServer::readRequestHead(fd); });
    RawServer cutChunked([](int fd, RawServer&) {
        RawServer::readRequestHead(fd);
        RawServer::sendAll(fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n20\r\nok!7001");
    });

    const std::string urls[] = {
        "http://127.0.0.1:" + std::to_string(test::closedPort()) + "/login.php",
        stalls.base() + "/login.php",
        resets.base() + "/login.php",
        cutMidLine.base() + "/login.php",
        closesBeforeAnswer.base() + "/login.php",
        cutChunked.base() + "/login.php",
        "http://velkor-no-such-host.invalid/login.php",
        "ftp://127.0.0.1/login.php",
        "not a url",
    };
    auto o = quick();
    o.totalTimeout = 300ms;
    for (const auto& url : urls) {
        const auto start = std::chrono::steady_clock::now();
        const auto r = http::getFirstLine(url, o);
        EXPECT_FALSE(r.ok) << url;
        EXPECT_FALSE(r.error.empty()) << url;
        EXPECT_EQ(r.line, "") << url;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << url;
    }
}

TEST(Http, ConnectionLostAfterTheFirstLineStillGivesTheLine)
{
    RawServer server([](int fd, RawServer&) {
        RawServer::readRequestHead(fd);
        RawServer::sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nok!8.88@\nrest");
    });
    const auto r = http::getFirstLine(server.base() + "/money.php", quick());
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.line, "ok!8.88@");
}

TEST(Http, UserAgentIsTheExecutableName)
{
    EXPECT_EQ(http::defaultUserAgent(), "test_http");
    HttpServer server;
    std::string agent;
    server.server().Get("/ua", [&](const httplib::Request& req, httplib::Response& res) {
        agent = req.get_header_value("User-Agent");
        res.set_content("x", "text/plain");
    });
    http::getFirstLine(server.base() + "/ua", quick());
    EXPECT_EQ(agent, "test_http");
    auto o = quick();
    o.userAgent = "other";
    http::getFirstLine(server.base() + "/ua", o);
    EXPECT_EQ(agent, "other");
}

TEST(Http, UsesTheProxyOfTheEnvironment)
{
    RawServer proxy([](int fd, RawServer& s) {
        s.record(RawServer::readRequestHead(fd));
        RawServer::sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nok!1@\r\n");
    });
    ::setenv("http_proxy", proxy.base().c_str(), 1);
    ::unsetenv("no_proxy");
    ::unsetenv("NO_PROXY");
    const auto r = http::getFirstLine("http://velkor.invalid/money.php?username=a", quick());
    ::unsetenv("http_proxy");
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.line, "ok!1@");
    ASSERT_EQ(proxy.recorded().size(), 1u);
    EXPECT_EQ(proxy.recorded()[0].rfind("GET http://velkor.invalid/money.php?username=a HTTP/1.1\r\n", 0), 0u)
        << proxy.recorded()[0];
}
