// The local service's web server: the verification and balance requests of
// the client, the service pages, and the talk-time reports of the far end.
// Binds 127.0.0.1 only.
#pragma once

#include "tools/local-service/accounts.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace velkor::local {

// The reply lines, as pure functions of the store (GBK in, GBK out).
// "/login.php": unknown account or wrong password "error!", locked account
// "suoding!", a version other than the account's "shengji!", else
// "ok!" sipUser "@" balance "#" sipServer "$" display "%" sipServer "^".
std::string loginReply(const AccountStore& store, const std::string& sipServer, const std::string& username,
                       const std::string& password, const std::string& version);
// "/money.php": "ok!" balance "@", "suoding!" or "error!".
std::string moneyReply(const AccountStore& store, const std::string& username, const std::string& password);

class WebService {
public:
    // sipServer: the SIP server's host:port named in the login reply.
    WebService(AccountStore& store, std::string sipServer);
    ~WebService();
    WebService(const WebService&) = delete;
    WebService& operator=(const WebService&) = delete;

    // Binds 127.0.0.1:port (0: a free port) and serves on a thread of its
    // own. The bound port, or 0 when the port could not be bound.
    int start(int port);
    void stop();
    int port() const { return port_; }

    // Told one line per request answered (for the console); any thread.
    void setLog(std::function<void(const std::string& utf8)> log) { log_ = std::move(log); }

private:
    void routes();
    void log(const std::string& line) const;

    AccountStore& store_;
    std::string sipServer_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    std::function<void(const std::string&)> log_;
};

} // namespace velkor::local
