// Time from the hand-over (the login window's WM_ACCOUNT_VERIFIED) to the main
// window shown, with the real engine and the web engine browser, and from the
// call button to the INVITE on the wire. Run by hand under a display (Xvfb):
//   DISPLAY=:N build/bench/handover_time
#include "phone/main_window.h"
#include "phone/web_browser.h"
#include "resources/resources.h"
#include "telephony/sipx_api.h"

#include <QApplication>
#include <QTest>
#include <QWindow>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

// Answers a REGISTER read from the socket with 200 OK; false for other requests.
bool answerRegister(int sock, const char* msg, const sockaddr_in& from)
{
    if (std::strncmp(msg, "REGISTER ", 9) != 0)
        return false;
    std::string reply = "SIP/2.0 200 OK\r\n";
    const std::string text(msg);
    size_t pos = 0;
    while ((pos = text.find("\r\n", pos)) != std::string::npos) {
        pos += 2;
        const size_t end = text.find("\r\n", pos);
        const std::string line = text.substr(pos, end - pos);
        for (const char* h : {"Via:", "From:", "Call-ID:", "CSeq:", "Contact:"})
            if (line.rfind(h, 0) == 0)
                reply += line + "\r\n";
        if (line.rfind("To:", 0) == 0)
            reply += line + ";tag=bench\r\n";
    }
    reply += "Expires: 3600\r\nContent-Length: 0\r\n\r\n";
    ::sendto(sock, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    velkor::initResources();
    velkor::phone::useWebEngineBrowser();
    // The program loads the engine's module while the login window waits for the user.
    velkor::tel::preloadSipxEngine();

    // A UDP socket standing in for the SIP server: the INVITE's arrival is timed here.
    const int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len);
    const int port = ntohs(addr.sin_port);

    velkor::login::HandOver h;
    h.account.accountId = "80012345";
    h.account.password = "pw";
    h.account.sipUser = "8001";
    h.account.balance = "25.60";
    h.account.sipServer = "127.0.0.1:" + std::to_string(port);
    h.account.sipServerHost = "127.0.0.1";
    h.account.sipServerPort = port;

    std::vector<double> shown, invite;
    for (int run = 0; run < 5; ++run) {
        const auto t0 = Clock::now();
        auto* w = new velkor::phone::CDial(h, nullptr);
        w->show();
        while (!w->windowHandle() || !w->windowHandle()->isExposed())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        shown.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());

        // Register the line: this socket answers the REGISTER.
        w->setItemText(velkor::phone::kNumberBox, "0123");
        char buf[8192];
        timeval tv{0, 2000};
        ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        while (w->registered() == 0) {
            sockaddr_in from{};
            socklen_t fl = sizeof from;
            const ssize_t n = ::recvfrom(sock, buf, sizeof buf - 1, 0, reinterpret_cast<sockaddr*>(&from), &fl);
            if (n > 0) {
                buf[n] = 0;
                answerRegister(sock, buf, from);
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        QMetaObject::invokeMethod(w, [w] { QTest::mouseClick(w->control(velkor::phone::kCall), Qt::LeftButton); });
        const auto t1 = Clock::now();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 1);
        bool got = false;
        tv = {2, 0};
        ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        for (;;) {
            const ssize_t n = ::recv(sock, buf, sizeof buf - 1, 0);
            if (n <= 0)
                break;
            buf[n] = 0;
            if (std::strncmp(buf, "INVITE ", 7) == 0) {
                got = true;
                break;
            }
        }
        if (got)
            invite.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t1).count());
        delete w;
    }
    auto median = [](std::vector<double> v) {
        if (v.empty())
            return -1.0;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("hand-over -> main window shown: median %.1f ms (first %.1f ms)\n", median(shown), shown[0]);
    std::printf("call button -> INVITE on the wire: median %.1f ms (%zu runs)\n", median(invite), invite.size());
    return 0;
}
