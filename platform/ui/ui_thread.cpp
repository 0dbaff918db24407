#include "platform/ui/ui_thread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <deque>
#include <future>
#include <mutex>

namespace velkor::ui {

namespace {

std::mutex g_mutex;
std::deque<std::function<void()>> g_tasks;

// One task per wake-up, so tasks interleave with the window's other events in
// the order they were queued.
void runOne()
{
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

} // namespace

void postToUi(std::function<void()> task)
{
    {
        std::lock_guard lock(g_mutex);
        g_tasks.push_back(std::move(task));
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), &runOne, Qt::QueuedConnection);
}

bool sendToImpl(std::function<bool()> task)
{
    std::promise<bool> done;
    auto result = done.get_future();
    postToUi([&] { done.set_value(task()); });
    return result.get();
}

} // namespace velkor::ui
