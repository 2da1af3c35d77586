#include "core/refresh_pool.h"

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
}

RefreshPool::~RefreshPool() { stop(); }

void RefreshPool::post(std::function<void()> job) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_stopping) return;
    if (m_threads.empty()) {
        // No worker could be started: run it here rather than never.
        lock.unlock();
        job();
        return;
    }
    m_jobs.push_back(std::move(job));
    lock.unlock();
    m_wake.notify_one();
}

void RefreshPool::stop() {
    std::vector<pthread_t> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_jobs.clear();
        threads.swap(m_threads);
    }
    m_wake.notify_all();
    for (pthread_t thread : threads) pthread_join(thread, nullptr);
}

void* RefreshPool::workerMain(void* self) {
    static_cast<RefreshPool*>(self)->work();
    return nullptr;
}

void RefreshPool::work() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}
