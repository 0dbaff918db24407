// velkor-local-service: the bundled local service in one command. Starts the
// web server, the SIP server and the far end on 127.0.0.1, tells which
// accounts and numbers to try, and stops everything on Ctrl-C or SIGTERM.
//   velkor-local-service [--web-port N] [--sip-port N] [--far-end-port N]
//                        [--accounts FILE] [--config-dir DIR] [--prompt beeps|WAV]
#include "tools/local-service/args.h"
#include "tools/local-service/local_service.h"
#include "tools/local-service/signals.h"

#include "platform/gbk.h"

#include <cstdio>
#include <string>

namespace {

using velkor::local::Account;
using velkor::local::FarEndNumbers;
using velkor::local::formatMoney;

// text followed by blanks up to width terminal columns (a Chinese character takes two).
std::string padded(const std::string& utf8, size_t width)
{
    size_t columns = 0;
    for (unsigned char c : utf8)
        columns += c < 0x80 ? 1 : c >= 0xC0 ? 2 : 0;
    return utf8 + std::string(columns < width ? width - columns : 1, ' ');
}

std::string describe(const Account& a)
{
    if (a.locked)
        return "locked: \"帐号非法.被系统锁定\"";
    if (a.version != "2.54")
        return "wants client version " + a.version + ": \"版本已升级.请到网站更新\"";
    if (a.balance < 12)
        return "balance " + formatMoney(a.balance) + ", calls are refused: \"话费余额不足.请充值\"";
    return "balance " + formatMoney(a.balance) + ", SIP user " + a.sipUser;
}

void banner(const velkor::local::LocalService& s)
{
    std::printf("\nVelkor local service is running (Ctrl-C stops it).\n"
                "  web server  %s   (the client's default service address)\n"
                "  SIP server  %s          (Kamailio)\n"
                "  far end     127.0.0.1:%d\n"
                "  temporary folder %s\n\n"
                "Accounts (a wrong password gives \"帐号密码验证错误\"; passwords are case-sensitive):\n",
                s.webBase().c_str(), s.sipServer().c_str(), s.farEndPort(), s.tempDir().c_str());
    for (const auto& a : s.accounts()) {
        const std::string id = velkor::gbk::toUtf8(a.id).text + " / " + velkor::gbk::toUtf8(a.password).text;
        std::printf("  %s%s\n", padded(id, 21).c_str(), describe(a).c_str());
    }
    const auto hangUp = std::to_string(s.options().hangUpAfter.count() / 1000);
    std::printf("\nNumbers to call (numbers begin with 0):\n"
                "  any other, e.g. 0123456  rings, answers, plays a prompt and then echoes you;\n"
                "                           the keys you press are printed below\n"
                "  %-24s busy\n"
                "  %-24s rings and never answers\n"
                "  %-24s answers and hangs up after %s s\n"
                "  90000, 90006             the service numbers, answered like any other\n"
                "Talk time is charged at the account's tariff per started minute; the client\n"
                "shows the new balance 4 s after a call.\n\n",
                FarEndNumbers::busy, FarEndNumbers::silent, FarEndNumbers::hangsUp, hangUp.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    const sigset_t stop = velkor::local::blockStopSignals();
    velkor::local::Args args(argc, argv, {"--web-port", "--sip-port", "--far-end-port", "--accounts", "--config-dir",
                                          "--prompt"});
    velkor::local::LocalServiceOptions o;
    o.webPort = args.number("--web-port", o.webPort, 0, 65535);
    o.sipPort = args.number("--sip-port", o.sipPort, 0, 65535);
    o.farEndPort = args.number("--far-end-port", o.farEndPort, 0, 65535);
    o.accountsFile = args.get("--accounts");
    o.configDir = args.get("--config-dir");
    o.prompt = args.get("--prompt");
    o.showOutput = true;
    if (!args.ok()) {
        std::fprintf(stderr,
                     "%s\nusage: %s [--web-port N] [--sip-port N] [--far-end-port N] [--accounts FILE] "
                     "[--config-dir DIR] [--prompt beeps|WAV]\n",
                     args.error().c_str(), argv[0]);
        return 2;
    }
    velkor::local::LocalService service(o);
    std::string error;
    if (!service.start(&error)) {
        std::fprintf(stderr, "velkor-local-service: %s\n", error.c_str());
        return 1;
    }
    banner(service);
    const int sig = velkor::local::waitStopSignal(stop);
    std::printf("\nStopping (signal %d)...\n", sig);
    std::fflush(stdout);
    service.stop();
    std::printf("Velkor local service stopped.\n");
    return 0;
}
