// Loopback HTTP peers for the tests of the HTTP client and the service requests.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velkor::test {

// A cpp-httplib server on 127.0.0.1 and a free port, serving in a thread of its own.
class HttpServer {
public:
    HttpServer();
    ~HttpServer();
    httplib::Server& server() { return server_; }
    int port() const { return port_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

// A raw TCP peer on 127.0.0.1: each accepted connection is handed to `handler`
// (on the server's thread) with its socket; the server closes it afterwards.
class RawServer {
public:
    using Handler = std::function<void(int fd, RawServer& server)>;
    explicit RawServer(Handler handler);
    ~RawServer();
    int port() const { return port_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }

    // Reads one request head (up to the blank line) from fd; returns it.
    static std::string readRequestHead(int fd);
    static void sendAll(int fd, const std::string& bytes);
    // Closes fd so that the peer gets a connection reset.
    static void resetConnection(int fd);
    // Blocks until the server is being destroyed (a peer that never answers).
    void waitForShutdown();
    // Request heads read by handlers that called record().
    void record(const std::string& head);
    std::vector<std::string> recorded();

private:
    void run();
    Handler handler_;
    int listenFd_ = -1;
    int port_ = 0;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool stopping_ = false;
    std::vector<std::string> recorded_;
    std::thread thread_;
};

// A loopback port on which nothing listens (connections are refused).
int closedPort();

} // namespace velkor::test
