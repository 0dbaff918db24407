// Ctrl-C and SIGTERM for the local service's programs: blocked in every
// thread from the start, then waited for by the main thread.
#pragma once

#include <csignal>

namespace velkor::local {

// Call first in main(), before any thread starts.
inline sigset_t blockStopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return set;
}

// Waits for one of the signals; returns its number.
inline int waitStopSignal(const sigset_t& set)
{
    int sig = 0;
    sigwait(&set, &sig);
    return sig;
}

} // namespace velkor::local
