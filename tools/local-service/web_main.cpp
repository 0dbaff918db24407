// velkor-web-service: the local service's web server on 127.0.0.1.
//   velkor-web-service --accounts FILE [--port N] [--sip-server HOST:PORT]
// Prints "ready http://127.0.0.1:PORT" once it serves; stops on Ctrl-C/SIGTERM.
#include "tools/local-service/args.h"
#include "tools/local-service/signals.h"
#include "tools/local-service/web_service.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    const sigset_t stop = velkor::local::blockStopSignals();
    velkor::local::Args args(argc, argv, {"--accounts", "--port", "--sip-server"});
    const int port = args.number("--port", 18080, 0, 65535);
    if (!args.ok() || !args.has("--accounts")) {
        std::fprintf(stderr, "%s\nusage: %s --accounts FILE [--port N] [--sip-server HOST:PORT]\n",
                     args.error().c_str(), argv[0]);
        return 2;
    }
    std::string error;
    auto accounts = velkor::local::loadAccounts(args.get("--accounts"), &error);
    if (!accounts) {
        std::fprintf(stderr, "velkor-web-service: %s\n", error.c_str());
        return 1;
    }
    velkor::local::AccountStore store(std::move(*accounts));
    velkor::local::WebService web(store, args.get("--sip-server", "127.0.0.1:5070"));
    web.setLog([](const std::string& line) {
        std::printf("web: %s\n", line.c_str());
        std::fflush(stdout);
    });
    if (web.start(port) == 0) {
        std::fprintf(stderr, "velkor-web-service: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    std::printf("ready http://127.0.0.1:%d\n", web.port());
    std::fflush(stdout);
    velkor::local::waitStopSignal(stop);
    web.stop();
    return 0;
}
