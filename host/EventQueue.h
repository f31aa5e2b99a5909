// The main-thread queue. Worker threads post special events and dialog messages here; the main
// thread pumps the queue and hands each event to the handler that the front end installed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace host {

struct Event {
    enum class Kind { Special, DialogMessage };
    Kind kind = Kind::Special;
    int32_t id = 0;
    int32_t value1 = 0;
    int32_t value2 = 0;
    void* target = nullptr;  // the dialog a message is for (null for special events)
};

class EventQueue {
public:
    using Handler = std::function<void(const Event&)>;

    // Thread-safe; wakes a waiting pump.
    void post(const Event& e);
    void setHandler(Handler h) { handler_ = std::move(h); }

    // Delivers every queued event; returns how many.
    int pump();
    // Pumps until `done()` holds after a delivery, or until `timeoutMs` passed (negative = no limit);
    // `idle` runs between waits (timers, signal checks). True when done.
    bool pumpUntil(const std::function<bool()>& done, int64_t timeoutMs = -1,
                   const std::function<void()>& idle = {}, int64_t idleEveryMs = 50);
    size_t pending() const;

    // The queue of the running host (HostServices.h).
    static EventQueue& main();

private:
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Event> queue_;
    Handler handler_;
};

}  // namespace host
