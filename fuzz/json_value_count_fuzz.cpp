// countJsonValues on arbitrary text: at most one value per byte, stops at its
// limit and, on text without comments, never counts fewer values than the
// feeds' reader builds and counts exactly what a strict reader builds whenever
// it accepts the text. The feeds' document reader accepts only what the
// lenient reader builds alike, and nothing more after it.
#include <json/json.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/feed/json_document.h"
#include "tests/support/json_tree.h"

namespace {
std::unique_ptr<Json::CharReader> newReader(bool strict) {
    Json::CharReaderBuilder builder;
    if (strict) Json::CharReaderBuilder::strictMode(&builder.settings_);
    return std::unique_ptr<Json::CharReader>(builder.newCharReader());
}

// The number of values the reader built, or SIZE_MAX when it refused the text.
size_t builtValues(Json::CharReader& reader, std::string_view text) {
    Json::Value root;
    std::string errors;
    try {
        if (reader.parse(text.data(), text.data() + text.size(), &root, &errors)) return treeValues(root);
    } catch (const std::exception&) {
    }
    return SIZE_MAX;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const size_t all = countJsonValues(text);
    if (all > size) __builtin_trap();
    const size_t limit = size / 3;
    if (countJsonValues(text, limit) != std::min(all, limit + 1)) __builtin_trap();

    static const std::unique_ptr<Json::CharReader> lenient = newReader(false), strict = newReader(true);
    // The reader, even in strict mode, takes a comment after an object's
    // value and then any token for the comma: `{"k":"v"/**/:"k2":1}` reads
    // "v" as a value where the counter, seeing the colon, takes it for a key.
    // Text with a '/' can so be undercounted, by one value per such comment;
    // without one the count bounds the reader's and is exact for valid JSON.
    const bool commentFree = text.find('/') == text.npos;
    const size_t built = builtValues(*lenient, text);
    if (commentFree && built != SIZE_MAX && built > all) __builtin_trap();
    const size_t strictlyBuilt = builtValues(*strict, text);
    if (commentFree && strictlyBuilt != SIZE_MAX && strictlyBuilt != all) __builtin_trap();

    Json::Value document;
    std::string errors;
    const std::string owned(text);
    if (readJsonDocument(owned, document, errors, kDefaultJsonValueBudget)) {
        if (built != treeValues(document) || owned.find('\0') != std::string::npos) __builtin_trap();
        // Without a comment the text could end inside, a bracket after it is extra text.
        if (owned.find('/') == std::string::npos &&
            readJsonDocument(owned + "]", document, errors, kDefaultJsonValueBudget))
            __builtin_trap();
    }
    return 0;
}
