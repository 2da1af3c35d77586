// Puts an object's members in the order the feeds read them: by key, as
// bytes, with the last of equal keys kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/feed/json_value.h"

class JsonMemberOrder {
public:
    // Sorts the key, value pairs of nodes from first on, whose texts are in
    // source, and drops all but the last of equal keys; returns how many
    // members are left.
    size_t sort(std::vector<JsonNode>& nodes, size_t first, const JsonSource& source);

private:
    // The records of an array mostly repeat one another's keys in the same
    // order, so the order found for one object is tried first on the next.
    bool sameKeys(const std::vector<JsonNode>& nodes, size_t first, size_t count, const JsonSource& source) const;
    void learn(const std::vector<JsonNode>& nodes, size_t first, size_t count, const JsonSource& source);

    std::vector<JsonNode> m_keys;          // the keys of the object last sorted, as given
    std::vector<uint32_t> m_order;         // where each of its members to keep was given, in key order
    bool m_inOrder = true;                 // its members were given in order, once each
    std::vector<std::string_view> m_texts;  // while learning, the keys' texts
    std::vector<JsonNode> m_given;         // while sorting, the members as given
};
