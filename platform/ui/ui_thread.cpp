#include "platform/ui/ui_thread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

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

// Qt hands the wake-up event over under a lock of its own that the thread
// sanitizer cannot see; these marks tell it that the posting thread's writes
// (the event it allocated) come before the UI thread's use and deletion.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
char g_handOver;
void markPosted() { __tsan_release(&g_handOver); }
void markReceived() { __tsan_acquire(&g_handOver); }
#else
void markPosted() {}
void markReceived() {}
#endif

// Receives the wake-up events on the UI thread (no other event reaches it).
class Waker final : public QObject {
public:
    using QObject::QObject;
    bool event(QEvent*) override
    {
        markReceived();
        runOne();
        return true;
    }
};

// Made on the UI thread with each application object, before any worker can post.
QObject* g_waker = nullptr;

void makeWaker()
{
    g_waker = new Waker(QCoreApplication::instance());
    QObject::connect(g_waker, &QObject::destroyed, [] { g_waker = nullptr; });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(makeWaker)

void postToUi(std::function<void()> task)
{
    {
        std::lock_guard lock(g_mutex);
        g_tasks.push_back(std::move(task));
    }
    auto* wake = new QEvent(QEvent::User);
    markPosted();
    QCoreApplication::postEvent(g_waker, wake);
}

bool sendToImpl(std::function<bool()> task)
{
    std::promise<bool> done;
    auto result = done.get_future();
    postToUi([&] { done.set_value(task()); });
    return result.get();
}

} // namespace velkor::ui
