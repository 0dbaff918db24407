// Virtual time for window tests: while one exists, dialog timers run on it and
// the calendar clock reads its start plus the time advanced.
#pragma once

#include <QPointer>

#include <cstdint>
#include <ctime>
#include <functional>
#include <vector>

namespace velkor::ui {

class Dialog;

class VirtualClock {
public:
    explicit VirtualClock(std::time_t calendarStart = 1273000000);
    ~VirtualClock();
    VirtualClock(const VirtualClock&) = delete;
    VirtualClock& operator=(const VirtualClock&) = delete;

    static VirtualClock* current();

    // Moves time forward by ms, firing every due timer in time order; posted
    // events are delivered after each firing.
    void advance(std::int64_t ms);
    std::int64_t nowMs() const { return now_; }

    // Runs what is queued for the UI thread: handed-over tasks and posted events.
    static void deliverPending();

    // Used by Dialog.
    void start(Dialog* d, int id, int intervalMs);
    void stop(Dialog* d, int id);

private:
    struct Entry {
        QPointer<Dialog> dialog;
        const Dialog* key;
        int id;
        int interval;
        std::int64_t due;
        std::uint64_t seq;
    };
    std::vector<Entry> entries_;
    std::int64_t now_ = 0;
    std::uint64_t seq_ = 0;
    std::time_t calendarStart_;
    std::function<std::time_t()> savedCalendar_;
};

} // namespace velkor::ui
