// The host's event loop: poll(2) over timer descriptors and one optional
// input descriptor, all callbacks on the calling thread. The vorn_timer_*
// functions run a periodic timerfd on a loop and return negated errno values.
#pragma once

#include <functional>
#include <map>

class CEventLoop {
public:
    CEventLoop() = default;
    CEventLoop(const CEventLoop&) = delete;
    CEventLoop& operator=(const CEventLoop&) = delete;

    // Watches fd for readability; the callback runs once per readiness.
    void watch(int fd, std::function<void()> onReadable);
    void unwatch(int fd);
    // Runs until stop() or until no descriptor is watched.
    void run();
    // Waits at most timeoutMs for one round of events; returns false on a poll error.
    bool runOnce(int timeoutMs);
    void stop() { m_stopped = true; }
    bool stopped() const { return m_stopped; }

private:
    std::map<int, std::function<void()>> m_watched;
    bool m_stopped = false;
};

using vorn_timer_callback = void (*)(void* context);

struct vorn_timer_t {
    int fd = -1;
    vorn_timer_callback callback = nullptr;
    void* context = nullptr;
    unsigned initialMs = 0;
    unsigned periodMs = 0;
    CEventLoop* loop = nullptr;
};

// Prepares a periodic timer; initialMs 0 means the first expiry comes after one period.
int vorn_timer_init(vorn_timer_t* timer, vorn_timer_callback callback, void* context,
                    unsigned initialMs, unsigned periodMs);
int vorn_timer_start(vorn_timer_t* timer, CEventLoop& loop);
int vorn_timer_stop(vorn_timer_t* timer);
