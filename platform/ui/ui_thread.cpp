#include "platform/ui/ui_thread.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <deque>
#include <future>
#include <mutex>
#include <sys/eventfd.h>
#include <unistd.h>

namespace velkor::ui {

namespace {

std::mutex g_mutex;
std::deque<std::function<void()>> g_tasks;
int g_wakeFd = -1;

// Wakes the UI thread through an eventfd watched by a socket notifier there: a
// worker hands over nothing but the queued task and one write, so no Qt object
// crosses threads.
void installWaker()
{
    g_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    auto* notifier = new QSocketNotifier(g_wakeFd, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] { runPendingTasks(); });
}
Q_COREAPP_STARTUP_FUNCTION(installWaker)

} // namespace

void postToUi(std::function<void()> task)
{
    {
        std::lock_guard lock(g_mutex);
        g_tasks.push_back(std::move(task));
    }
    const eventfd_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_wakeFd, &one, sizeof one);
}

void runPendingTasks()
{
    eventfd_t count;
    [[maybe_unused]] const ssize_t n = ::read(g_wakeFd, &count, sizeof count);
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(g_mutex);
            if (g_tasks.empty())
                return;
            task = std::move(g_tasks.front());
            g_tasks.pop_front();
        }
        task();
    }
}

bool sendToImpl(std::function<bool()> task)
{
    std::promise<bool> done;
    auto result = done.get_future();
    postToUi([&] { done.set_value(task()); });
    return result.get();
}

} // namespace velkor::ui
