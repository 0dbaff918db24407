// velkor-far-end: the called telephones of the local service.
//   velkor-far-end [--port N] [--rtp-port N] [--web BASE] [--events FILE] [--prompt WAV]
//                  [--ring-ms N] [--hangup-after-ms N]
// Prints "ready sip:127.0.0.1:PORT" once it listens, then one line per event;
// stops on Ctrl-C/SIGTERM.
#include "tools/local-service/args.h"
#include "tools/local-service/far_end.h"
#include "tools/local-service/prompt.h"
#include "tools/local-service/signals.h"

#include <cstdio>

int main(int argc, char** argv)
{
    const sigset_t stop = velkor::local::blockStopSignals();
    velkor::local::Args args(argc, argv,
                             {"--port", "--rtp-port", "--web", "--events", "--prompt", "--ring-ms", "--hangup-after-ms"});
    velkor::local::FarEndOptions o;
    o.sipPort = args.number("--port", o.sipPort, 1, 65535);
    o.rtpPort = args.number("--rtp-port", o.rtpPort, 1024, 65000);
    o.ringTime = std::chrono::milliseconds(args.number("--ring-ms", 1000, 0, 600000));
    o.hangUpAfter = std::chrono::milliseconds(args.number("--hangup-after-ms", 5000, 0, 600000));
    o.webBase = args.get("--web");
    o.eventLog = args.get("--events");
    if (!args.ok()) {
        std::fprintf(stderr,
                     "%s\nusage: %s [--port N] [--rtp-port N] [--web BASE] [--events FILE] [--prompt WAV] "
                     "[--ring-ms N] [--hangup-after-ms N]\n",
                     args.error().c_str(), argv[0]);
        return 2;
    }
    if (args.has("--prompt")) {
        auto prompt = velkor::local::readWav8k(args.get("--prompt"));
        if (prompt)
            o.prompt = std::move(*prompt);
        else
            std::fprintf(stderr, "velkor-far-end: %s is no 16-bit PCM WAV file; beeps instead\n",
                         args.get("--prompt").c_str());
    }
    velkor::local::FarEnd farEnd(o);
    farEnd.setOutput([](const std::string& line) {
        std::printf("far end: %s\n", line.c_str());
        std::fflush(stdout);
    });
    std::string error;
    if (!farEnd.start(&error)) {
        std::fprintf(stderr, "velkor-far-end: %s\n", error.c_str());
        return 1;
    }
    std::printf("ready sip:127.0.0.1:%d\n", o.sipPort);
    std::fflush(stdout);
    velkor::local::waitStopSignal(stop);
    farEnd.stop();
    return 0;
}
