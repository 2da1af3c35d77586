// Builds the list values that displays read: elements in double quotes,
// joined by single commas, no blanks, no brackets; an empty list is "".
// A double quote inside an element's text would end the element early, so it
// is written as an apostrophe; the quotes that give a list its structure stay.
// Lists built side by side (one per field of the same elements) stay aligned
// when an element that lacks a field gets an empty place in that field's list.
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
    // An empty place for an element that lacks this list's field: nothing
    // between its commas ("T1",,"T3"). A list of empty places only is "",
    // the same as a list of no elements.
    ListBuilder& addMissing();

    const std::string& str() const { return m_text; }
    bool empty() const { return m_count == 0; }
    // Elements and empty places.
    size_t size() const { return m_count; }

private:
    void separate();
    std::string m_text;
    size_t m_count = 0;
    bool m_written = false;  // an element other than an empty place has been added
};

// The element text with double quotes written as apostrophes.
std::string listSafeText(const std::string& text);
// The list of the given texts, each quoted.
std::string makeList(const std::vector<std::string>& texts);
