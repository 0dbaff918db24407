#include "tools/local-service/web_service.h"

#include "platform/gbk.h"

#include <httplib.h>

#include <charconv>

namespace velkor::local {
namespace {

std::string utf8(const std::string& gbkText)
{
    return gbk::toUtf8(gbkText).text;
}

std::string escapeHtml(const std::string& utf8Text)
{
    std::string out;
    for (char c : utf8Text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

// Text of a GBK value for a page.
std::string html(const std::string& gbkText)
{
    return escapeHtml(utf8(gbkText));
}

// The version the client sends ("banben").
constexpr const char* kClientVersion = "2.54";

const char* kStyle =
    "body{margin:0;font-family:'AR PL UMing CN','Noto Sans CJK SC',sans-serif;background:#eef3fa;color:#222}"
    "header{background:#1d5fbf;color:#fff;padding:14px 24px}header h1{margin:0;font-size:22px}"
    "header p{margin:4px 0 0;font-size:13px;opacity:.85}main{padding:18px 24px;max-width:760px}"
    "table{border-collapse:collapse;background:#fff;margin:8px 0 16px}"
    "th,td{border:1px solid #c9d6ea;padding:5px 12px;text-align:left;font-size:14px}th{background:#dde8f7}"
    "form{background:#fff;border:1px solid #c9d6ea;padding:12px 16px;display:inline-block}"
    "label{display:block;margin:6px 0}input{font-size:14px;padding:2px 4px}"
    "nav a{margin-right:14px}.note{color:#666;font-size:13px}.ok{color:#17803d}.bad{color:#b3261e}";

std::string page(const std::string& title, const std::string& body)
{
    return "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width\"><title>" + title +
           " - Velkor 网络电话</title>\n<style>" + kStyle + "</style></head>\n<body><header><h1>" + title +
           "</h1><p>Velkor 网络电话 · 本地演示服务</p></header>\n<main>\n" + body +
           "\n<p><nav><a href=\"/userlogin.php\">用户中心</a><a href=\"/acct.php\">帐户信息</a>"
           "<a href=\"/userloginma.php\">充值中心</a><a href=\"/reguser.php\">注册新帐号</a>"
           "<a href=\"/passwd.php\">找回密码</a><a href=\"/callback.php\">回拨服务</a></nav></p>\n"
           "<p class=\"note\">这是本地演示服务，所有数据只保存在内存中，服务停止后即恢复原状。</p>\n"
           "</main></body></html>\n";
}

// The advertisement page: shown in a 364 x 140 pixel browser inside the main window.
const char* kAdvert =
    "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>Velkor 网络电话</title>\n"
    "<style>html,body{margin:0;padding:0;width:100%;height:100%;overflow:hidden}"
    "body{font-family:'AR PL UMing CN','Noto Sans CJK SC',sans-serif;"
    "background:linear-gradient(135deg,#1d5fbf 0%,#3a8de0 60%,#7cc0f5 100%);color:#fff}"
    ".box{box-sizing:border-box;height:140px;padding:14px 18px;position:relative}"
    "h1{margin:0 0 6px;font-size:22px;letter-spacing:2px}p{margin:3px 0;font-size:13px}"
    ".price{font-size:28px;font-weight:bold;color:#ffe066}.price small{font-size:13px;color:#fff}"
    ".tag{position:absolute;right:14px;bottom:12px;background:#ffe066;color:#1d5fbf;"
    "border-radius:10px;padding:3px 10px;font-size:12px;text-decoration:none}</style></head>\n"
    "<body><div class=\"box\"><h1>电脑打电话 就用 Velkor</h1>"
    "<p>国内长途 <span class=\"price\">0.10</span><small> 元/分钟</small></p>"
    "<p>音质清晰 · 接通迅速 · 通话可录音</p>"
    "<a class=\"tag\" href=\"/userloginma.php\" target=\"_blank\">立即充值 &raquo;</a></div></body></html>\n";

void text(httplib::Response& res, const std::string& gbkLine)
{
    res.set_content(gbkLine, "text/plain; charset=gbk");
}

void sendPage(httplib::Response& res, const std::string& title, const std::string& body)
{
    res.set_content(page(title, body), "text/html; charset=utf-8");
}

std::string accountTable(const std::vector<Account>& accounts, bool withPasswords)
{
    std::string t = "<table><tr><th>帐号</th>";
    if (withPasswords)
        t += "<th>密码</th>";
    t += "<th>余额 (元)</th><th>资费 (元/分钟)</th><th>状态</th></tr>\n";
    for (const auto& a : accounts) {
        t += "<tr><td>" + html(a.id) + "</td>";
        if (withPasswords)
            t += "<td>" + html(a.password) + "</td>";
        std::string state = a.locked ? "<span class=\"bad\">已锁定</span>"
                            : a.version != kClientVersion ? "需要新版本 " + escapeHtml(a.version)
                            : a.balance < 12     ? "余额不足"
                                                 : "<span class=\"ok\">正常</span>";
        t += "<td>" + formatMoney(a.balance) + "</td><td>" + formatMoney(a.tariff) + "</td><td>" + state +
             "</td></tr>\n";
    }
    return t + "</table>\n";
}

} // namespace

std::string loginReply(const AccountStore& store, const std::string& sipServer, const std::string& username,
                       const std::string& password, const std::string& version)
{
    const auto a = store.byId(username);
    if (!a || a->password != password)
        return "error!";
    if (a->locked)
        return "suoding!";
    if (version != a->version)
        return "shengji!";
    return "ok!" + a->sipUser + "@" + formatMoney(a->balance) + "#" + sipServer + "$" + a->displayNumber + "%" +
           sipServer + "^";
}

std::string moneyReply(const AccountStore& store, const std::string& username, const std::string& password)
{
    const auto a = store.byId(username);
    if (!a || a->password != password)
        return "error!";
    if (a->locked)
        return "suoding!";
    return "ok!" + formatMoney(a->balance) + "@";
}

WebService::WebService(AccountStore& store, std::string sipServer)
    : store_(store), sipServer_(std::move(sipServer)), server_(std::make_unique<httplib::Server>())
{
    routes();
}

WebService::~WebService()
{
    stop();
}

int WebService::start(int port)
{
    if (port == 0)
        port_ = server_->bind_to_any_port("127.0.0.1");
    else
        port_ = server_->bind_to_port("127.0.0.1", port) ? port : 0;
    if (port_ <= 0) {
        port_ = 0;
        return 0;
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    return port_;
}

void WebService::stop()
{
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

void WebService::log(const std::string& line) const
{
    if (log_)
        log_(line);
}

void WebService::routes()
{
    auto& s = *server_;
    // Query values arrive percent-encoded; the server decodes them to the
    // client's GBK bytes, which are compared as they are.
    s.Get("/login.php", [this](const httplib::Request& req, httplib::Response& res) {
        const auto user = req.get_param_value("username");
        const auto reply = loginReply(store_, sipServer_, user, req.get_param_value("pass"),
                                      req.get_param_value("banben"));
        text(res, reply);
        log("login " + utf8(user) + " -> " + reply);
    });
    s.Get("/money.php", [this](const httplib::Request& req, httplib::Response& res) {
        const auto user = req.get_param_value("username");
        const auto reply = moneyReply(store_, user, req.get_param_value("pass"));
        text(res, reply);
        log("balance " + utf8(user) + " -> " + reply);
    });
    // The far end tells the talk time of each answered call.
    s.Get("/callend", [this](const httplib::Request& req, httplib::Response& res) {
        const auto sipUser = req.get_param_value("sipuser");
        const auto number = req.get_param_value("number");
        const auto secondsText = req.get_param_value("seconds");
        int seconds = -1;
        const auto [end, ec] = std::from_chars(secondsText.data(), secondsText.data() + secondsText.size(), seconds);
        if (ec != std::errc() || end != secondsText.data() + secondsText.size() || seconds < 0) {
            res.status = 400;
            return text(res, "error!");
        }
        const auto balance = store_.charge(sipUser, number, seconds);
        if (!balance) {
            res.status = 404;
            return text(res, "error!");
        }
        text(res, "ok!" + formatMoney(*balance) + "@");
        log("call of " + sipUser + " to " + number + ": " + std::to_string(seconds) + " s, balance now " +
            formatMoney(*balance));
    });

    s.Get("/ad2.htm", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kAdvert, "text/html; charset=utf-8");
    });
    s.Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/userlogin.php"); });
    s.Get("/userlogin.php", [this](const httplib::Request&, httplib::Response& res) {
        sendPage(res, "用户中心",
                 "<p>欢迎使用 Velkor 网络电话。用电脑拨打国内固定电话和手机，号码前请加 0。</p>\n"
                 "<ul><li><a href=\"/acct.php\">查看帐户余额和通话记录</a></li>"
                 "<li><a href=\"/userloginma.php\">帐户充值</a></li>"
                 "<li><a href=\"/callback.php\">回拨服务介绍</a></li></ul>\n" +
                     accountTable(store_.all(), false));
    });
    s.Get("/acct.php", [this](const httplib::Request&, httplib::Response& res) {
        std::string body = "<h2>帐户余额</h2>\n" + accountTable(store_.all(), false) + "<h2>通话记录</h2>\n";
        const auto calls = store_.calls();
        if (calls.empty()) {
            body += "<p>还没有通话记录。</p>\n";
        } else {
            body += "<table><tr><th>帐号</th><th>被叫号码</th><th>通话时长 (秒)</th><th>费用 (元)</th></tr>\n";
            for (const auto& c : calls)
                body += "<tr><td>" + html(c.accountId) + "</td><td>" + html(c.number) + "</td><td>" +
                        std::to_string(c.seconds) + "</td><td>" + formatMoney(c.charge) + "</td></tr>\n";
            body += "</table>\n";
        }
        sendPage(res, "帐户信息", body);
    });
    s.Get("/reguser.php", [this](const httplib::Request&, httplib::Response& res) {
        sendPage(res, "注册新帐号",
                 "<p>本地演示服务不开放注册。请使用下列演示帐号登录（密码区分大小写）：</p>\n" +
                     accountTable(store_.all(), true));
    });
    s.Get("/passwd.php", [this](const httplib::Request&, httplib::Response& res) {
        sendPage(res, "找回密码",
                 "<p>演示帐号的密码如下。登录时密码区分大小写，输错会提示“帐号密码验证错误”。</p>\n" +
                     accountTable(store_.all(), true));
    });
    s.Get("/callback.php", [](const httplib::Request&, httplib::Response& res) {
        sendPage(res, "回拨服务",
                 "<p>回拨服务：由系统先呼叫您的电话，接通后再为您接通对方，"
                 "适合在没有电脑的时候使用。</p>\n<p>本地演示服务不提供回拨，请直接用软件拨打。</p>\n");
    });
    s.Get("/userloginma.php", [](const httplib::Request&, httplib::Response& res) {
        sendPage(res, "充值中心",
                 "<p>为演示帐号增加余额（例如余额不足的 poor1001）：</p>\n"
                 "<form method=\"post\" action=\"/topup\">"
                 "<label>帐号 <input name=\"username\" required></label>"
                 "<label>密码 <input name=\"pass\" type=\"password\" required></label>"
                 "<label>金额 <input name=\"amount\" value=\"10.00\" size=\"8\"> 元</label>"
                 "<input type=\"submit\" value=\"充值\"></form>\n");
    });
    // The top-up form of a UTF-8 page sends UTF-8.
    s.Post("/topup", [this](const httplib::Request& req, httplib::Response& res) {
        const auto user = gbk::fromUtf8(req.get_param_value("username")).text;
        const auto pass = gbk::fromUtf8(req.get_param_value("pass")).text;
        const auto amount = parseMoney(req.get_param_value("amount"));
        if (!amount || *amount <= 0 || *amount > 100000) {
            res.status = 400;
            return sendPage(res, "充值中心", "<p class=\"bad\">金额不正确。</p>\n");
        }
        const auto balance = store_.topUp(user, pass, *amount);
        if (!balance) {
            res.status = 403;
            return sendPage(res, "充值中心", "<p class=\"bad\">帐号或密码错误。</p>\n");
        }
        sendPage(res, "充值中心",
                 "<p class=\"ok\">充值成功。帐号 " + html(user) + " 的余额现在是 " + formatMoney(*balance) +
                     " 元。</p>\n");
        log("top-up " + utf8(user) + " +" + formatMoney(*amount) + ", balance now " + formatMoney(*balance));
    });
}

} // namespace velkor::local
