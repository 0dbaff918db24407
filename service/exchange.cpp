#include "service/exchange.h"

#include "platform/gbk.h"
#include "service/address.h"
#include "service/reply.h"

namespace velkor::service {

namespace {

// An HTTP error page is never a service reply; it is handled like a lost connection.
bool isTransportFailure(const http::Reply& reply)
{
    return !reply.ok || reply.status >= 400;
}

std::string failureText(const http::Reply& reply)
{
    return reply.ok ? "HTTP status " + std::to_string(reply.status) : reply.error;
}

} // namespace

const std::string& statusText(VerifyOutcome outcome)
{
    static const std::string empty;
    static const std::string wrong = gbk::fromUtf8("帐号密码验证错误").text;
    static const std::string locked = gbk::fromUtf8("帐号非法.被系统锁定").text;
    static const std::string upgrade = gbk::fromUtf8("版本已升级.请到网站更新").text;
    static const std::string network = gbk::fromUtf8("验证失败.网络问题").text;
    switch (outcome) {
    case VerifyOutcome::WrongPassword: return wrong;
    case VerifyOutcome::Locked: return locked;
    case VerifyOutcome::Upgrade: return upgrade;
    case VerifyOutcome::NetworkFailure: return network;
    case VerifyOutcome::Ok:
    case VerifyOutcome::Unknown: break;
    }
    return empty;
}

bool isFailureReport(VerifyOutcome outcome)
{
    return outcome != VerifyOutcome::Ok && outcome != VerifyOutcome::Unknown;
}

VerifyResult interpretVerifyReply(const ServiceAccount& request, const http::Reply& reply)
{
    VerifyResult r;
    r.account = request;
    if (isTransportFailure(reply)) {
        r.outcome = VerifyOutcome::NetworkFailure;
        r.error = failureText(reply);
        return r;
    }
    const ReplyFields f = parseReply(reply.line);
    r.statusWord = f.status;
    if (f.status == "ok") {
        r.outcome = VerifyOutcome::Ok;
        r.account.sipUser = f.field1;
        r.account.balance = f.field2;
        r.account.sipServer = f.field3;
        r.account.displayNumber = f.field4;
        const HostPort server = splitHostPort(f.field3);
        r.account.sipServerHost = server.host;
        r.account.sipServerPort = server.port;
        r.secondServer = splitHostPort(f.field5);
    } else if (f.status == "error") {
        r.outcome = VerifyOutcome::WrongPassword;
    } else if (f.status == "suoding") {
        r.outcome = VerifyOutcome::Locked;
    } else if (f.status == "shengji") {
        r.outcome = VerifyOutcome::Upgrade;
    } else {
        r.outcome = VerifyOutcome::Unknown;
    }
    return r;
}

VerifyResult verify(std::string_view base, const ServiceAccount& request,
                    std::string_view timeText, const http::Options& options)
{
    const std::string url = loginUrl(base, request.accountId, request.password, timeText);
    return interpretVerifyReply(request, http::getFirstLine(url, options));
}

VerifyResult verify(const ServiceAccount& request, const http::Options& options)
{
    return verify(serviceBase(), request, timeTextNow(), options);
}

BalanceResult interpretBalanceReply(const http::Reply& reply)
{
    BalanceResult r;
    if (isTransportFailure(reply)) {
        r.outcome = BalanceOutcome::NetworkFailure;
        r.error = failureText(reply);
        return r;
    }
    if (statusWord(reply.line) == "ok") {
        r.outcome = BalanceOutcome::Updated;
        r.balance = replyField(reply.line, '!', '@');
    } else {
        r.outcome = BalanceOutcome::Cleared;
    }
    return r;
}

BalanceResult queryBalance(std::string_view base, std::string_view accountId,
                           std::string_view password, const http::Options& options)
{
    return interpretBalanceReply(http::getFirstLine(moneyUrl(base, accountId, password), options));
}

BalanceResult queryBalance(std::string_view accountId, std::string_view password,
                           const http::Options& options)
{
    return queryBalance(serviceBase(), accountId, password, options);
}

} // namespace velkor::service
