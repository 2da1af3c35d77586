#include "platform/event_loop.h"

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

void CEventLoop::watch(int fd, std::function<void()> onReadable) { m_watched[fd] = std::move(onReadable); }

void CEventLoop::unwatch(int fd) { m_watched.erase(fd); }

void CEventLoop::run() {
    m_stopped = false;
    while (!m_stopped && !m_watched.empty())
        if (!runOnce(-1)) break;
}

bool CEventLoop::runOnce(int timeoutMs) {
    std::vector<pollfd> fds;
    for (const auto& entry : m_watched) fds.push_back(pollfd{entry.first, POLLIN, 0});
    int ready = poll(fds.data(), fds.size(), timeoutMs);
    if (ready < 0) return errno == EINTR;
    for (const pollfd& p : fds) {
        if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
        auto it = m_watched.find(p.fd);  // an earlier callback may have removed it
        if (it == m_watched.end()) continue;
        auto callback = it->second;
        callback();
        if (m_stopped) break;
    }
    return true;
}

namespace {
itimerspec periodSpec(unsigned initialMs, unsigned periodMs) {
    unsigned first = initialMs ? initialMs : periodMs;
    itimerspec spec{};
    spec.it_value.tv_sec = first / 1000;
    spec.it_value.tv_nsec = static_cast<long>(first % 1000) * 1000000L;
    spec.it_interval.tv_sec = periodMs / 1000;
    spec.it_interval.tv_nsec = static_cast<long>(periodMs % 1000) * 1000000L;
    return spec;
}
}  // namespace

int vorn_timer_init(vorn_timer_t* timer, vorn_timer_callback callback, void* context,
                    unsigned initialMs, unsigned periodMs) {
    if (!timer || !callback || periodMs == 0) return -EINVAL;
    if (timer->fd >= 0) close(timer->fd);
    int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0) return -errno;
    timer->fd = fd;
    timer->callback = callback;
    timer->context = context;
    timer->initialMs = initialMs;
    timer->periodMs = periodMs;
    timer->loop = nullptr;
    return 0;
}

int vorn_timer_start(vorn_timer_t* timer, CEventLoop& loop) {
    if (!timer || timer->fd < 0) return -EINVAL;
    itimerspec spec = periodSpec(timer->initialMs, timer->periodMs);
    if (timerfd_settime(timer->fd, 0, &spec, nullptr) < 0) return -errno;
    timer->loop = &loop;
    vorn_timer_t* t = timer;
    loop.watch(timer->fd, [t] {
        uint64_t expirations = 0;
        if (read(t->fd, &expirations, sizeof expirations) == sizeof expirations && t->callback)
            t->callback(t->context);
    });
    return 0;
}

int vorn_timer_stop(vorn_timer_t* timer) {
    if (!timer || timer->fd < 0) return -EINVAL;
    itimerspec off{};
    if (timerfd_settime(timer->fd, 0, &off, nullptr) < 0) return -errno;
    if (timer->loop) timer->loop->unwatch(timer->fd);
    timer->loop = nullptr;
    return 0;
}
