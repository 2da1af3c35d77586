// How old the data a feed shows is. Every publication of the feed gains
// "<prefix>_updated_at", the time its last usable data was fetched; once that
// is older than the vehicle's limit, the feed's data symbols are shown empty
// until fresh data comes, so no display shows an old board as live.
#pragma once

#include <cstdint>
#include <string>

#include "core/feed/data_feed.h"

class FeedFreshness {
public:
    // An empty prefix adds no symbol (a feed built outside the catalog).
    explicit FeedFreshness(std::string prefix) : m_prefix(std::move(prefix)) {}

    // A finished refresh's pairs as they are to be published. usableAt is
    // when the feed's last usable data was fetched (0: never); staleAfter 0
    // never clears.
    SymbolPairs publish(SymbolPairs pairs, int64_t usableAt, int64_t now, int64_t staleAfter);
    // On the loop's tick: the pairs that clear the feed when its data has just
    // gone stale, else none.
    SymbolPairs clearIfStale(int64_t now, int64_t staleAfter);

private:
    bool isStale(int64_t now, int64_t staleAfter) const;
    // Data symbols empty and has_data "0"; has_connection and updated_at kept.
    SymbolPairs blanked(const SymbolPairs& pairs) const;
    void logCleared(int64_t now, int64_t staleAfter) const;
    // Records what the displays now show: a feed that publishes only its
    // has_connection flag on a failure leaves its other symbols as they were.
    void remember(const SymbolPairs& pairs);

    std::string m_prefix;
    int64_t m_usableAt = 0;
    bool m_cleared = false;
    SymbolPairs m_shown;  // every symbol the feed has published, with its latest value
};
