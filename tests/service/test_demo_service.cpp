// The demo web service, run as its own process, answered through the real client path.
#include "service/address.h"
#include "service/exchange.h"
#include "tests/service/loopback.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velkor;
using namespace velkor::service;
using namespace std::chrono_literals;

namespace {

// Starts the demo service on a free port and waits for its start-up banner.
class DemoService {
public:
    DemoService() : port_(test::closedPort())
    {
        int out[2];
        if (::pipe(out) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string portText = std::to_string(port_);
        char* argv[] = {const_cast<char*>(VELKOR_DEMO_SERVICE), const_cast<char*>(portText.c_str()),
                        nullptr};
        if (posix_spawn(&pid_, VELKOR_DEMO_SERVICE, &actions, nullptr, argv, environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        // The banner comes once the port is bound.
        pollfd p{out[0], POLLIN, 0};
        char buf[512];
        if (pid_ > 0 && ::poll(&p, 1, 10'000) == 1) {
            const ssize_t n = ::read(out[0], buf, sizeof buf);
            banner_.assign(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
        }
        ::close(out[0]);
    }
    ~DemoService()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    const std::string& banner() const { return banner_; }

private:
    int port_;
    pid_t pid_ = -1;
    std::string banner_;
};

ServiceAccount login(const char* id, const char* pw)
{
    ServiceAccount a;
    a.accountId = id;
    a.password = pw;
    return a;
}

} // namespace

TEST(DemoService, AnswersTheDemoAccount)
{
    DemoService demo;
    ASSERT_NE(demo.banner().find(demo.base()), std::string::npos) << demo.banner();
    http::Options o;
    o.totalTimeout = 5s;

    const auto ok = verify(demo.base(), login("demo1001", "1234"), timeTextNow(), o);
    EXPECT_EQ(ok.outcome, VerifyOutcome::Ok);
    EXPECT_EQ(ok.account.sipUser, "7001");
    EXPECT_EQ(ok.account.balance, "25.60");
    EXPECT_EQ(ok.account.sipServerHost, "127.0.0.1");
    EXPECT_EQ(ok.account.sipServerPort, 5060);
    EXPECT_EQ(ok.account.displayNumber, "666");
    EXPECT_EQ(verify(demo.base(), login("demo1001", "12345"), "t", o).outcome, VerifyOutcome::WrongPassword);
    EXPECT_EQ(verify(demo.base(), login("suoding1", "1234"), "t", o).outcome, VerifyOutcome::Locked);

    const auto balance = queryBalance(demo.base(), "demo1001", "1234", o);
    EXPECT_EQ(balance.outcome, BalanceOutcome::Updated);
    EXPECT_EQ(balance.balance, "25.60");

    for (auto path : {page::registration, page::password, page::account, page::callback,
                      page::userLogin, page::userLoginMa, page::advert}) {
        const auto r = http::getFirstLine(pageUrl(demo.base(), path), o);
        EXPECT_EQ(r.status, 200) << path;
        EXPECT_EQ(r.line, "<!DOCTYPE html>") << path;
    }
}
