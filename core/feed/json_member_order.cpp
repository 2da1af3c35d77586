#include "core/feed/json_member_order.h"

#include <algorithm>
#include <utility>

namespace {
// Records have a few members, which an insertion sort orders fastest.
constexpr size_t kInsertionSortMembers = 16;
}  // namespace

size_t JsonMemberOrder::sort(std::vector<JsonNode>& nodes, size_t first, const JsonSource& source) {
    const size_t count = (nodes.size() - first) / 2;
    if (!sameKeys(nodes, first, count, source)) learn(nodes, first, count, source);
    if (m_inOrder) return count;
    m_given.assign(nodes.begin() + static_cast<std::ptrdiff_t>(first), nodes.end());
    for (size_t i = 0; i < m_order.size(); ++i) {
        nodes[first + 2 * i] = m_given[2 * m_order[i]];
        nodes[first + 2 * i + 1] = m_given[2 * m_order[i] + 1];
    }
    nodes.resize(first + 2 * m_order.size());
    return m_order.size();
}

bool JsonMemberOrder::sameKeys(const std::vector<JsonNode>& nodes, size_t first, size_t count,
                               const JsonSource& source) const {
    if (count != m_keys.size()) return false;
    for (size_t i = 0; i < count; ++i)
        if (compareJsonKeys(JsonValue::textOf(source, nodes[first + 2 * i]), JsonValue::textOf(source, m_keys[i])) != 0)
            return false;
    return true;
}

void JsonMemberOrder::learn(const std::vector<JsonNode>& nodes, size_t first, size_t count, const JsonSource& source) {
    m_keys.clear();
    m_texts.clear();
    m_order.clear();
    for (size_t i = 0; i < count; ++i) {
        m_keys.push_back(nodes[first + 2 * i]);
        m_texts.push_back(JsonValue::textOf(source, m_keys.back()));
        m_order.push_back(static_cast<uint32_t>(i));
    }
    const auto before = [this](uint32_t a, uint32_t b) { return compareJsonKeys(m_texts[a], m_texts[b]) < 0; };
    if (count <= kInsertionSortMembers) {
        for (size_t i = 1; i < count; ++i)
            for (size_t j = i; j > 0 && before(m_order[j], m_order[j - 1]); --j) std::swap(m_order[j], m_order[j - 1]);
    } else {
        std::stable_sort(m_order.begin(), m_order.end(), before);
    }
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i)
        if (i + 1 == count || m_texts[m_order[i]] != m_texts[m_order[i + 1]]) m_order[kept++] = m_order[i];
    m_order.resize(kept);
    m_inOrder = kept == count;
    for (size_t i = 0; i < kept && m_inOrder; ++i) m_inOrder = m_order[i] == i;
}
