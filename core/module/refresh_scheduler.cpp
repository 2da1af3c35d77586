#include "core/module/refresh_scheduler.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "platform/debug.h"

namespace {
void drainWakeFd(int fd) {
    uint64_t count;
    while (read(fd, &count, sizeof count) == sizeof count) {
    }
}
}  // namespace

RefreshScheduler::RefreshScheduler(unsigned workers, std::string curlParams, Publish publish)
    : m_curlParams(std::move(curlParams)),
      m_publish(std::move(publish)),
      m_wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      m_pool(std::make_unique<RefreshPool>(workers)) {}

RefreshScheduler::~RefreshScheduler() {
    stop();
    if (m_wakeFd >= 0) close(m_wakeFd);
}

void RefreshScheduler::add(std::unique_ptr<DataFeed> feed, std::string name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_feeds.push_back(std::move(feed));
    m_slots.emplace_back();
    m_slots.back().name = std::move(name);
}

unsigned RefreshScheduler::markQueued(Slot& slot, bool forCycle) {
    slot.state = forCycle ? State::kQueuedForCycle : State::kQueuedAlone;
    slot.result.clear();
    return ++slot.ticket;
}

void RefreshScheduler::post(size_t index, unsigned ticket, bool forCycle) {
    // A refresh an import asked for goes ahead of the cycle's.
    if (m_pool) m_pool->post([this, index, ticket] { refreshOnWorker(index, ticket); }, !forCycle);
}

void RefreshScheduler::startCycle() {
    logLine(2, "CWebServices: Updating data from webservices...");
    std::vector<std::pair<size_t, unsigned>> starting;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (size_t i = 0; i < m_slots.size(); ++i) {
            Slot& slot = m_slots[i];
            if (slot.state != State::kIdle) {
                logLine(8, "CWebServices: ", slot.name, " is still refreshing; left out of this cycle");
                continue;
            }
            starting.emplace_back(i, markQueued(slot, true));
        }
    }
    for (const auto& [index, ticket] : starting) post(index, ticket, true);
}

void RefreshScheduler::refreshOnWorker(size_t index, unsigned ticket) {
    DataFeed* feed;
    std::string name;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Slot& slot = m_slots[index];
        if (slot.ticket != ticket) return;  // replaced by a refresh an import asked for
        slot.state = slot.state == State::kQueuedForCycle ? State::kRunningForCycle : State::kRunningAlone;
        feed = m_feeds[index].get();
        name = slot.name;
    }
    Finished finished{index, {}};
    try {
        feed->downloadData(m_curlParams);
        finished.pairs = feed->getExportPairs();
    } catch (const std::exception& e) {
        // A feed should never throw; on a worker an escaping exception would end the process.
        logLine(16, "CWebServices: ", name, " refresh failed: ", e.what());
    }
    finished.usableAt = feed->impl().usableDataAt();
    feed->clearExportPairs();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished.push_back(std::move(finished));
    }
    uint64_t one = 1;
    if (write(m_wakeFd, &one, sizeof one) < 0) logLine(16, "CWebServices: cannot wake the loop: ", std::strerror(errno));
}

void RefreshScheduler::applyFinished() {
    drainWakeFd(m_wakeFd);
    std::vector<Finished> finished;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        finished.swap(m_finished);
    }
    for (auto& done : finished) {
        std::unique_lock<std::mutex> lock(m_mutex);
        Slot& slot = m_slots[done.slot];
        DataFeed& feed = *m_feeds[done.slot];
        const bool forCycle = slot.state == State::kRunningForCycle;
        slot.state = State::kIdle;
        if (slot.parameters) {
            feed.updateParemeters(*slot.parameters);
            slot.parameters.reset();
        }
        // Imports that came while it ran; a refresh they ask for replaces this result.
        bool refreshAgain = false;
        while (!slot.imports.empty()) {
            SymbolValue import = std::move(slot.imports.front());
            slot.imports.pop_front();
            if (feed.symbolUpdate(import.first, 0, import.second)) refreshAgain = true;
        }
        if (refreshAgain) {
            const unsigned ticket = markQueued(slot, false);
            lock.unlock();
            post(done.slot, ticket, false);
        } else if (forCycle) {
            slot.result = std::move(done.pairs);
            slot.resultUsableAt = done.usableAt;
            slot.state = State::kWaitingForOrder;
        } else {
            lock.unlock();
            m_publish(done.slot, std::move(done.pairs), done.usableAt);
        }
    }
    applyCycleInOrder();
}

void RefreshScheduler::applyCycleInOrder() {
    for (size_t i = 0; i < m_slots.size(); ++i) {
        SymbolPairs pairs;
        int64_t usableAt;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            Slot& slot = m_slots[i];
            if (slot.state == State::kQueuedForCycle || slot.state == State::kRunningForCycle) return;  // the feeds after it wait
            if (slot.state != State::kWaitingForOrder) continue;
            pairs = std::move(slot.result);
            usableAt = slot.resultUsableAt;
            slot.result.clear();
            slot.state = State::kIdle;
        }
        m_publish(i, std::move(pairs), usableAt);
    }
}

void RefreshScheduler::symbolUpdate(const std::string& name, int x, const std::string& value) {
    std::vector<std::pair<size_t, unsigned>> refresh;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (size_t i = 0; i < m_slots.size(); ++i) {
            Slot& slot = m_slots[i];
            if (running(slot.state)) {
                slot.imports.emplace_back(name, value);
                continue;
            }
            // Idle, queued or waiting: no worker touches it, and none can take
            // its queued refresh while the lock is held.
            if (!m_feeds[i]->symbolUpdate(name, x, value)) continue;
            // The refresh the import asks for replaces a queued one and a result
            // still waiting for the feeds before it.
            refresh.emplace_back(i, markQueued(slot, false));
        }
    }
    for (const auto& [index, ticket] : refresh) post(index, ticket, false);
    if (!refresh.empty()) applyCycleInOrder();
}

void RefreshScheduler::parametersUpdate(const CParameters& params) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (running(m_slots[i].state))
            m_slots[i].parameters = std::make_unique<CParameters>(params);
        else
            m_feeds[i]->updateParemeters(params);
    }
}

bool RefreshScheduler::anyBusy() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_finished.empty()) return true;
    for (const auto& slot : m_slots)
        if (slot.state != State::kIdle) return true;
    return false;
}

void RefreshScheduler::waitUntilIdle() {
    while (anyBusy()) {
        pollfd wake{m_wakeFd, POLLIN, 0};
        if (poll(&wake, 1, -1) < 0 && errno != EINTR) break;
        applyFinished();
    }
}

void RefreshScheduler::stop() {
    if (!m_pool) return;
    {
        // A refresh still parsing a large reply is asked to stop.
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& feed : m_feeds) feed->impl().requestStop();
    }
    m_pool->stop();
    m_pool.reset();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished.clear();
    for (auto& slot : m_slots) {
        Slot fresh;
        fresh.name = std::move(slot.name);
        slot = std::move(fresh);
    }
}

void RefreshScheduler::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_feeds.clear();
    m_slots.clear();
}
