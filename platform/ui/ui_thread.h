// Hands work from worker and engine threads to the user-interface thread.
//
// Tasks go through a queue of our own guarded by a std::mutex, so the order of
// hand-over is kept and the thread sanitizer sees every hand-over (Qt's own
// queues synchronise inside Qt, which it cannot see). A worker holds a window
// only as a WindowRef: it copies the reference but never looks through it; the
// task does that on the UI thread, where a window that has gone reads as null.
#pragma once

#include <functional>
#include <memory>
#include <utility>

namespace velkor::ui {

// Queues task to run on the user-interface thread, after the tasks queued before it.
void postToUi(std::function<void()> task);
// Runs the queued tasks now (UI thread only); the event loop does it by itself.
void runPendingTasks();

// Marks a window as alive for the WindowRefs made from it; owned by the window.
class Lifeline {
public:
    Lifeline() : alive_(std::make_shared<bool>(true)) {}
    ~Lifeline() { end(); }
    Lifeline(const Lifeline&) = delete;
    Lifeline& operator=(const Lifeline&) = delete;
    // The window is going: its references read null from now on (UI thread).
    void end() { *alive_ = false; }
    std::shared_ptr<const bool> token() const { return alive_; }

private:
    std::shared_ptr<bool> alive_;
};

template <class T>
class WindowRef {
public:
    WindowRef() = default;
    WindowRef(T* window, const Lifeline& lifeline) : window_(window), alive_(lifeline.token()) {}
    // UI thread only: the window, or null when it has gone.
    T* get() const { return alive_ && *alive_ ? window_ : nullptr; }

private:
    T* window_ = nullptr;
    std::shared_ptr<const bool> alive_;
};

// Runs fn(window) on the UI thread in queue order, unless the window has gone by then.
template <class T, class Fn>
void runOn(const WindowRef<T>& ref, Fn&& fn)
{
    postToUi([ref, fn = std::forward<Fn>(fn)]() mutable {
        if (T* t = ref.get())
            fn(t);
    });
}

// Runs fn(window) on the UI thread and waits until it has run; false when the
// window had gone. Never call it from the UI thread itself.
bool sendToImpl(std::function<bool()> task);

template <class T, class Fn>
bool sendTo(const WindowRef<T>& ref, Fn&& fn)
{
    return sendToImpl([&ref, &fn] {
        T* t = ref.get();
        if (t)
            fn(t);
        return t != nullptr;
    });
}

} // namespace velkor::ui
