#include "core/module/feed_freshness.h"

#include <algorithm>
#include <utility>

#include "platform/debug.h"

namespace {
bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}
}  // namespace

SymbolPairs FeedFreshness::publish(SymbolPairs pairs, int64_t usableAt, int64_t now, int64_t staleAfter) {
    m_usableAt = usableAt;
    if (isStale(now, staleAfter)) {
        if (!m_cleared) logCleared(now, staleAfter);
        m_cleared = true;
        pairs = blanked(pairs);
    } else {
        m_cleared = false;
    }
    if (!m_prefix.empty()) pairs.emplace_back(m_prefix + "_updated_at", m_usableAt ? std::to_string(m_usableAt) : "");
    remember(pairs);
    return pairs;
}

SymbolPairs FeedFreshness::clearIfStale(int64_t now, int64_t staleAfter) {
    if (m_cleared || !isStale(now, staleAfter)) return {};
    logCleared(now, staleAfter);
    m_cleared = true;
    m_shown = blanked(m_shown);
    return m_shown;
}

void FeedFreshness::remember(const SymbolPairs& pairs) {
    for (const auto& pair : pairs) {
        auto sameName = [&](const SymbolPair& shown) { return shown.first == pair.first; };
        auto shown = std::find_if(m_shown.begin(), m_shown.end(), sameName);
        if (shown == m_shown.end())
            m_shown.push_back(pair);
        else
            shown->second = pair.second;
    }
}

bool FeedFreshness::isStale(int64_t now, int64_t staleAfter) const {
    return staleAfter > 0 && m_usableAt > 0 && now - m_usableAt > staleAfter;
}

SymbolPairs FeedFreshness::blanked(const SymbolPairs& pairs) const {
    SymbolPairs out;
    out.reserve(pairs.size());
    for (const auto& [name, value] : pairs) {
        if (endsWith(name, "_has_connection") || endsWith(name, "_updated_at"))
            out.emplace_back(name, value);
        else
            out.emplace_back(name, endsWith(name, "_has_data") ? "0" : "");
    }
    return out;
}

void FeedFreshness::logCleared(int64_t now, int64_t staleAfter) const {
    logLine(8, "CWebServices: ", m_prefix.empty() ? std::string("a feed") : m_prefix, " data is ", now - m_usableAt,
            " s old, over stale_after_seconds ", staleAfter, ": its symbols are cleared until fresh data comes");
}
