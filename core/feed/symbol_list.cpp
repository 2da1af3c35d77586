#include "core/feed/symbol_list.h"

std::string listSafeText(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c == '"') c = '\'';
    return out;
}

void ListBuilder::separate() {
    // Empty places before the first element are written only now, each as
    // the comma that follows it; a list of nothing else stays "".
    if (m_written)
        m_text += ',';
    else
        m_text.assign(m_count, ',');
    m_written = true;
    ++m_count;
}

ListBuilder& ListBuilder::addMissing() {
    if (m_written) m_text += ',';
    ++m_count;
    return *this;
}

ListBuilder& ListBuilder::add(const std::string& text) {
    separate();
    m_text += '"';
    m_text += listSafeText(text);
    m_text += '"';
    return *this;
}

ListBuilder& ListBuilder::addBare(const std::string& text) {
    separate();
    m_text += listSafeText(text);
    return *this;
}

ListBuilder& ListBuilder::addNested(const std::vector<std::string>& inner, bool quoteInner) {
    separate();
    m_text += '"';
    for (size_t i = 0; i < inner.size(); ++i) {
        if (i > 0) m_text += ',';
        if (quoteInner) m_text += '"';
        m_text += listSafeText(inner[i]);
        if (quoteInner) m_text += '"';
    }
    m_text += '"';
    return *this;
}

std::string makeList(const std::vector<std::string>& texts) {
    ListBuilder list;
    for (const auto& text : texts) list.add(text);
    return list.str();
}
