#include "core/module/refresh_pool.h"

#include <signal.h>

#include <cstring>

#include "platform/debug.h"

RefreshPool::RefreshPool(unsigned workers) {
    // Workers inherit the creating thread's mask: with SIGINT and SIGTERM
    // blocked, only the loop thread sees them.
    sigset_t shutdownSignals, old;
    sigemptyset(&shutdownSignals);
    sigaddset(&shutdownSignals, SIGINT);
    sigaddset(&shutdownSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &shutdownSignals, &old);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kWorkerStackBytes);
    for (unsigned i = 0; i < workers; ++i) {
        pthread_t thread;
        int rc = pthread_create(&thread, &attr, &RefreshPool::workerMain, this);
        if (rc != 0) {
            logLine(16, "RefreshPool: cannot start a worker: ", std::strerror(rc));
            break;
        }
        m_threads.push_back(thread);
    }
    pthread_attr_destroy(&attr);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    m_routineLimit = m_threads.size() > 1 ? static_cast<unsigned>(m_threads.size()) - 1 : 1;
}

RefreshPool::~RefreshPool() { stop(); }

void RefreshPool::post(std::function<void()> job, bool urgent) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_stopping) return;
    if (m_threads.empty()) {
        // No worker could be started: run it here rather than never.
        lock.unlock();
        job();
        return;
    }
    (urgent ? m_urgent : m_routine).push_back(std::move(job));
    lock.unlock();
    m_wake.notify_one();
}

void RefreshPool::stop() {
    std::vector<pthread_t> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_urgent.clear();
        m_routine.clear();
        threads.swap(m_threads);
    }
    m_wake.notify_all();
    for (pthread_t thread : threads) pthread_join(thread, nullptr);
}

void* RefreshPool::workerMain(void* self) {
    static_cast<RefreshPool*>(self)->work();
    return nullptr;
}

bool RefreshPool::runnable() const {
    return !m_urgent.empty() || (!m_routine.empty() && m_routineRunning < m_routineLimit);
}

void RefreshPool::work() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || runnable(); });
        if (m_stopping) return;
        bool urgent = !m_urgent.empty();
        std::deque<std::function<void()>>& queue = urgent ? m_urgent : m_routine;
        std::function<void()> job = std::move(queue.front());
        queue.pop_front();
        if (!urgent) ++m_routineRunning;
        lock.unlock();
        job();
        lock.lock();
        if (!urgent) {
            --m_routineRunning;
            m_wake.notify_one();  // a routine job may have been waiting for this worker
        }
    }
}
