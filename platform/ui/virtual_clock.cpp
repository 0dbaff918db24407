#include "platform/ui/virtual_clock.h"

#include "platform/ui/dialog.h"
#include "platform/ui/seams.h"
#include "platform/ui/ui_thread.h"

#include <QCoreApplication>
#include <algorithm>

namespace velkor::ui {

namespace {
VirtualClock* g_current = nullptr;
}

VirtualClock::VirtualClock(std::time_t calendarStart) : calendarStart_(calendarStart)
{
    g_current = this;
    savedCalendar_ = seams().calendarNow;
    seams().calendarNow = [this] { return calendarStart_ + static_cast<std::time_t>(now_ / 1000); };
}

VirtualClock::~VirtualClock()
{
    seams().calendarNow = savedCalendar_;
    if (g_current == this)
        g_current = nullptr;
}

VirtualClock* VirtualClock::current() { return g_current; }

void VirtualClock::deliverPending()
{
    runPendingTasks();
    QCoreApplication::sendPostedEvents();
}

void VirtualClock::start(Dialog* d, int id, int intervalMs)
{
    stop(d, id);
    entries_.push_back({d, d, id, std::max(intervalMs, 1), now_ + std::max(intervalMs, 1), seq_++});
}

void VirtualClock::stop(Dialog* d, int id)
{
    std::erase_if(entries_, [&](const Entry& e) { return e.key == d && e.id == id; });
}

void VirtualClock::advance(std::int64_t ms)
{
    const std::int64_t target = now_ + ms;
    for (;;) {
        std::erase_if(entries_, [](const Entry& e) { return e.dialog.isNull(); });
        auto next = std::min_element(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
            return a.due != b.due ? a.due < b.due : a.seq < b.seq;
        });
        if (next == entries_.end() || next->due > target)
            break;
        now_ = next->due;
        next->due += next->interval;
        next->seq = seq_++;
        QPointer<Dialog> d = next->dialog;
        const int id = next->id;
        d->fireTimer(id); // may start, stop or destroy timers: `next` is not used after this
        deliverPending();
    }
    now_ = target;
    deliverPending();
}

} // namespace velkor::ui
