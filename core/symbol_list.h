// Builds the list values that displays read: elements in double quotes,
// joined by single commas, no blanks, no brackets; an empty list is "".
// A double quote inside an element's text would end the element early, so it
// is written as an apostrophe; the quotes that give a list its structure stay.
#pragma once

#include <string>
#include <vector>

class ListBuilder {
public:
    // "text", with inner double quotes written as apostrophes.
    ListBuilder& add(const std::string& text);
    // A bare element (numbers), written as given.
    ListBuilder& addBare(const std::string& text);
    // A nested element: "" + inner elements joined by "," + "", each inner
    // element quoted (quoteInner) or bare.
    ListBuilder& addNested(const std::vector<std::string>& inner, bool quoteInner = true);

    const std::string& str() const { return m_text; }
    bool empty() const { return m_count == 0; }
    size_t size() const { return m_count; }

private:
    void separate();
    std::string m_text;
    size_t m_count = 0;
};

// The element text with double quotes written as apostrophes.
std::string listSafeText(const std::string& text);
// The list of the given texts, each quoted.
std::string makeList(const std::vector<std::string>& texts);
