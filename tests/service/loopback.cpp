#include "tests/service/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace velkor::test {

HttpServer::HttpServer()
{
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0)
        throw std::runtime_error("cannot bind a loopback port");
    // bind_to_any_port already listens: connections queue until the loop accepts them.
    thread_ = std::thread([this] { server_.listen_after_bind(); });
}

HttpServer::~HttpServer()
{
    server_.stop();
    thread_.join();
}

namespace {

int listenLoopback(int& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 16) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("cannot listen on loopback");
    port = ntohs(addr.sin_port);
    return fd;
}

} // namespace

int closedPort()
{
    int port = 0;
    const int fd = listenLoopback(port);
    ::close(fd);
    return port;
}

RawServer::RawServer(Handler handler) : handler_(std::move(handler))
{
    listenFd_ = listenLoopback(port_);
    thread_ = std::thread([this] { run(); });
}

RawServer::~RawServer()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_all();
    ::shutdown(listenFd_, SHUT_RDWR);
    thread_.join();
    ::close(listenFd_);
}

void RawServer::run()
{
    for (;;) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, -1) < 0)
            continue;
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
        }
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            continue;
        }
        handler_(fd, *this);
        ::close(fd);
    }
}

std::string RawServer::readRequestHead(int fd)
{
    std::string head;
    char buf[1024];
    while (head.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        head.append(buf, static_cast<std::size_t>(n));
    }
    return head;
}

void RawServer::sendAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

void RawServer::resetConnection(int fd)
{
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

void RawServer::waitForShutdown()
{
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return stopping_; });
}

void RawServer::record(const std::string& head)
{
    std::lock_guard lock(mutex_);
    recorded_.push_back(head);
}

std::vector<std::string> RawServer::recorded()
{
    std::lock_guard lock(mutex_);
    return recorded_;
}

} // namespace velkor::test
