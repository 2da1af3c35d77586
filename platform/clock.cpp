#include "platform/clock.h"

#include <ctime>

namespace {
std::function<int64_t()> g_monotonic;
std::function<int64_t()> g_wall;
}  // namespace

int64_t monotonicSeconds() {
    if (g_monotonic) return g_monotonic();
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec);
}

int64_t wallClockSeconds() {
    if (g_wall) return g_wall();
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec);
}

void setMonotonicClock(std::function<int64_t()> clock) { g_monotonic = std::move(clock); }
void setWallClock(std::function<int64_t()> clock) { g_wall = std::move(clock); }
