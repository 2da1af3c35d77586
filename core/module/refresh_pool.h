// A small pool of worker threads that run feed refreshes, so that a stalled
// endpoint holds up only its own feed and never the event loop.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

class RefreshPool {
public:
    // The target's C library gives new threads 128 KiB of stack, too little
    // for the deepest documents the parsers accept; workers get this much.
    static constexpr size_t kWorkerStackBytes = 4u << 20;

    explicit RefreshPool(unsigned workers);
    ~RefreshPool();
    RefreshPool(const RefreshPool&) = delete;
    RefreshPool& operator=(const RefreshPool&) = delete;

    // Urgent jobs (refreshes an import asked for) run before routine ones,
    // and one worker is kept for them: routine jobs (a cycle's refreshes,
    // which may all be stalled) hold at most all workers but one.
    void post(std::function<void()> job, bool urgent = false);
    // Drops the jobs not yet started, lets the running ones finish and joins
    // the workers. Posting afterwards does nothing.
    void stop();

private:
    static void* workerMain(void* self);
    void work();
    bool runnable() const;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_urgent;
    std::deque<std::function<void()>> m_routine;
    unsigned m_routineRunning = 0;
    unsigned m_routineLimit = 1;
    std::vector<pthread_t> m_threads;
    bool m_stopping = false;
};
