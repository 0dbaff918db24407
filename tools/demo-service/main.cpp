// A small stand-in for the service's web server, for trying the client locally:
// answers the verification and balance requests for a demo account and serves
// simple pages. Usage: velkor-demo-service [PORT]   (default 18080, on 127.0.0.1)
#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* kAccount = "demo1001";
constexpr const char* kPassword = "1234";
constexpr const char* kLocked = "suoding1";  // an account the service has locked
constexpr const char* kVersion = "2.54";

std::string page(const std::string& title, const std::string& body)
{
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
           "</title>\n<style>body{font-family:sans-serif;margin:1.5em;background:#f7f7f7}"
           "h1{font-size:1.3em;color:#175cc2}</style></head>\n<body><h1>" + title + "</h1>\n" +
           body + "\n<p><small>Velkor 演示服务</small></p></body></html>\n";
}

void text(httplib::Response& res, const std::string& line)
{
    res.set_content(line, "text/plain");
}

} // namespace

int main(int argc, char** argv)
{
    int port = 18080;
    if (argc > 2 || (argc == 2 && (port = std::atoi(argv[1])) <= 0) || port > 65535) {
        std::fprintf(stderr, "usage: %s [PORT]\n", argv[0]);
        return 2;
    }

    httplib::Server server;
    server.Get("/login.php", [](const httplib::Request& req, httplib::Response& res) {
        const auto user = req.get_param_value("username");
        const auto pass = req.get_param_value("pass");
        if (req.get_param_value("banben") != kVersion)
            return text(res, "shengji!");
        if (user == kLocked)
            return text(res, "suoding!");
        if (user != kAccount || pass != kPassword)
            return text(res, "error!");
        text(res, "ok!7001@25.60#127.0.0.1:5060$666%127.0.0.1:5060^");
    });
    server.Get("/money.php", [](const httplib::Request& req, httplib::Response& res) {
        const bool ok = req.get_param_value("username") == kAccount &&
                        req.get_param_value("pass") == kPassword;
        text(res, ok ? "ok!25.60@" : "error!");
    });

    struct Page { const char* path; const char* title; const char* body; };
    static const Page pages[] = {
        {"/reguser.php", "注册新帐号", "<p>演示服务不开放注册。请使用演示帐号 demo1001，密码 1234。</p>"},
        {"/passwd.php", "找回密码", "<p>演示帐号 demo1001 的密码是 1234。</p>"},
        {"/acct.php", "帐户信息", "<p>帐号：demo1001<br>余额：25.60 元</p>"},
        {"/callback.php", "回拨服务", "<p>回拨服务在演示服务中不可用。</p>"},
        {"/userlogin.php", "用户中心", "<p>欢迎使用 Velkor 网络电话。</p>"},
        {"/userloginma.php", "充值中心", "<p>演示帐号无需充值。</p>"},
        {"/ad2.htm", "Velkor 网络电话", "<p>电脑拨打普通电话，清晰实惠。</p>"},
    };
    for (const auto& p : pages)
        server.Get(p.path, [&p](const httplib::Request&, httplib::Response& res) {
            res.set_content(page(p.title, p.body), "text/html; charset=utf-8");
        });

    if (!server.bind_to_port("127.0.0.1", port)) {
        std::fprintf(stderr, "velkor-demo-service: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    std::printf("Velkor demo service on http://127.0.0.1:%d\n"
                "  log in with account %s and password %s (balance 25.60)\n"
                "  a wrong password gives \"error!\", account %s is locked\n"
                "  try: curl 'http://127.0.0.1:%d/login.php?username=%s&pass=%s&banben=2.54&t=now'\n",
                port, kAccount, kPassword, kLocked, port, kAccount, kPassword);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
