// Waiting in tests for effects that come from a real thread (a worker, the engine):
// events are processed until the condition holds or the bound passes.
#pragma once

#include <QCoreApplication>

#include <chrono>

namespace velkor::test {

template <class Cond>
bool waitFor(Cond cond, std::chrono::seconds bound = std::chrono::seconds(15))
{
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

} // namespace velkor::test
