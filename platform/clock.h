// The module's two clocks. Interval tests use monotonic seconds; "now" for
// departure boards is wall-clock POSIX seconds. Tests may replace either,
// while no refresh is running: the clocks are read on the workers.
#pragma once

#include <cstdint>
#include <functional>

int64_t monotonicSeconds();
int64_t wallClockSeconds();

// nullptr restores the real clock.
void setMonotonicClock(std::function<int64_t()> clock);
void setWallClock(std::function<int64_t()> clock);
