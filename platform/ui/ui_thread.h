// Hands work from a worker or engine thread to the user-interface thread.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <utility>

namespace velkor::ui {

// Runs fn on the thread of `target` in posting order, unless target is gone by then.
template <class T, class Fn>
void runOn(const QPointer<T>& target, Fn&& fn)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [target, fn = std::forward<Fn>(fn)]() mutable {
            if (T* t = target.data())
                fn(t);
        },
        Qt::QueuedConnection);
}

// Runs fn on the user-interface thread, in posting order.
template <class Fn>
void runOnUiThread(Fn&& fn)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<Fn>(fn), Qt::QueuedConnection);
}

} // namespace velkor::ui

namespace velkor::ui {

// Runs fn on the thread of `target` and waits for it; false when target is gone.
// Never call it from that thread itself.
template <class T, class Fn>
bool sendTo(const QPointer<T>& target, Fn&& fn)
{
    bool ran = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
            if (T* t = target.data()) {
                fn(t);
                ran = true;
            }
        },
        Qt::BlockingQueuedConnection);
    return ran;
}

} // namespace velkor::ui
