#include "platform/http.h"
#include "tests/service/loopback.h"

#include <gtest/gtest.h>

#include <thread>

using namespace velkor;
using namespace std::chrono_literals;

// Many requests at once from several threads, the first ones racing on libcurl's
// one-time global set-up.
TEST(HttpThreads, ConcurrentRequests)
{
    test::HttpServer server;
    server.server().Get(R"(/n/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("ok!" + req.matches[1].str() + "@\nrest", "text/plain");
    });
    constexpr int threads = 4, each = 10;
    std::vector<std::string> lines(threads * each);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < each; ++i) {
                const int n = t * each + i;
                lines[n] = http::getFirstLine(server.base() + "/n/" + std::to_string(n)).line;
            }
        });
    for (auto& w : workers)
        w.join();
    for (int n = 0; n < threads * each; ++n)
        EXPECT_EQ(lines[n], "ok!" + std::to_string(n) + "@");
}

// A worker blocked on a peer that never answers gives up as soon as it is told to.
TEST(HttpThreads, CancelEndsAStalledExchange)
{
    test::RawServer stalls([](int fd, test::RawServer& s) {
        test::RawServer::readRequestHead(fd);
        s.waitForShutdown();
    });
    std::atomic<bool> cancel{false};
    http::Reply reply;
    std::thread worker([&] {
        http::Options o;  // default 30 s: only the cancel can end it in time
        o.cancel = &cancel;
        reply = http::getFirstLine(stalls.base() + "/login.php", o);
    });
    const auto start = std::chrono::steady_clock::now();
    cancel = true;
    worker.join();
    EXPECT_FALSE(reply.ok);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}
