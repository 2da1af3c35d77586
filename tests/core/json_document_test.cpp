// The JSON reader against the jsoncpp reading the feeds had before it: the
// same documents accepted, every accessor answering alike, and the few
// differences chosen on purpose.
#include "core/feed/json_document.h"

#include <gtest/gtest.h>

#include "tests/reference/json_reference.h"
#include "tests/support/log_capture.h"

namespace {
// Whether the reader accepts text, and when it does, that the feeds' old
// reader accepts it too and every accessor answers alike.
bool readsLikeTheReference(const std::string& text, int maxDepth = kJsonMaxDepth) {
    JsonDocument document;
    std::string errors;
    const bool accepted = readJsonDocument(text, document, errors, SIZE_MAX, maxDepth);
    Json::Value reference;
    std::string referenceErrors;
    EXPECT_EQ(readJsonReference(text, reference, referenceErrors, maxDepth), accepted)
        << text << "\nreader: " << errors << "\nreference: " << referenceErrors;
    EXPECT_EQ(errors.empty(), accepted) << text;
    if (accepted) {
        EXPECT_EQ(jsonAccessorView(document.root()), jsonAccessorView(reference)) << text;
    }
    return accepted;
}
}  // namespace

// Every fixture and demo document is read alike too: the JsonDifferentialReplay test.
TEST(JsonDocument, ReadsValuesAsTheOldReaderDid) {
    const char* const accepted[] = {
        // numbers: integers to 64 bits signed and unsigned, beyond as doubles; -0 is an integer
        ("[0, -0, -0.0, 1.0, 1e5, 0.1, 1.5e300, 9223372036854775807, 9223372036854775808,"
         " 18446744073709551615, 18446744073709551616, -9223372036854775808, -9223372036854775809, 2147483648]"),
        R"({"b": 1, "a": 2, "b": 3, "": 4})",         // members in key order, the last of equal keys kept
        // records that repeat, change or double their keys, one spelt with an escape
        R"([{"b": 1, "a": 2}, {"b": 3, "a": 4}, {"b": 5, "c": 6}, {"a": 1, "a": 2}, {"a": 3, "a": 4},)"
        R"( {"a": 5, "b": 6}, {"\u0062": 7, "a": 8}, {"b": 9, "a": 10}])",
        R"({"t": true, "f": false, "n": null, "e": {}, "l": []})",
        "\xEF\xBB\xBF{\"bom\": 1}",                    // a byte-order mark
        "[\"caf\xC3\xA9\", \"bad \xFF\xFE bytes\"]",   // invalid UTF-8 kept for the text cleaner
        R"(["\u00e9\uD83D\uDE00", "\uDC00", "nul \u0000 inside", "\"\\\/\b\f\n\r\t"])",
        "[\"a raw\ttab\", \"and a\nnewline\"]",        // raw control characters, which services have sent
        "{\"a\": 1, // a comment\n \"b\": [1, 2, ], /* and another */ }",  // comments, trailing commas
        "\"just text\"", "42",
    };
    for (const char* text : accepted) EXPECT_TRUE(readsLikeTheReference(text));

    // Too small for a double: zero. The old reader took it or not as its C++
    // library's stream did (libstdc++ yes, libc++ no).
    std::string errors;
    const std::string tiny = "[1e-400]";
    EXPECT_EQ(jsonDocumentOf(tiny, errors).root()[0].asString(), "0.0");
}

// One document, with comments where the feeds' services put them, and
// nothing after it: a reply that only starts like JSON is not one.
TEST(JsonDocument, OnlyWhiteSpaceAndCommentsMayFollowTheValue) {
    EXPECT_TRUE(readsLikeTheReference("{\"a\": 1} // generated\n"));
    EXPECT_TRUE(readsLikeTheReference("/* head */ [1, 2] /* tail */  "));
    const std::string refused[] = {
        "", "  ", "7 <html>", "-1Service Unavailable", "\"ok\" but not JSON", "{} {}", "[1]]", "[1", "{\"a\" 1}",
        "[1 /* unterminated", "\"unterminated", "{1: 2}", "['single']", "[NaN]", "[1e400]", "[\"\\x\"]",
        std::string("{}\0garbage", 10), std::string("{\"a\": \"\0\"}", 10),
    };
    for (const std::string& text : refused) EXPECT_FALSE(readsLikeTheReference(text)) << text;
}

TEST(JsonDocument, DepthIsBoundedAsBefore) {
    for (const char* text : {"[[]]", "{\"a\": []}", "[[1]]", "[[[]]]", "{\"a\": {\"b\": 1}}"})
        readsLikeTheReference(text, 2);
    EXPECT_FALSE(readsLikeTheReference(std::string(1001, '[') + std::string(1001, ']')));
    // The reader keeps no stack of its own for nesting: a depth far past any
    // thread's stack is refused as any other, not a crash.
    JsonDocument document;
    std::string errors;
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_TRUE(readJsonDocument(deep, document, errors, SIZE_MAX, 200000));
}

// Where the reader differs from the old one, on points no service relies on.
TEST(JsonDocument, NumbersOutsideJsonsGrammarAreRefused) {
    for (const std::string text : {"[012]", "[1.]", "[-]", "[.5]", "[1.e3]", "[+1]"}) {
        JsonDocument document;
        std::string errors;
        EXPECT_FALSE(readJsonDocument(text, document, errors)) << text;
        EXPECT_TRUE(document.root().isNull()) << text;
    }
}

TEST(JsonDocument, AccessorsOfAMissingValueReadAsNull) {
    const std::string text = R"({"list": [1, "two"], "n": 3})";
    std::string errors;
    const JsonDocument document = jsonDocumentOf(text, errors);
    const JsonValue root = document.root();
    EXPECT_FALSE(root["absent"]);
    EXPECT_TRUE(root["absent"].isNull());
    EXPECT_EQ(root["absent"]["deeper"].asString(), "");
    EXPECT_FALSE(root["list"][7]);
    EXPECT_THROW(root["list"]["k"], JsonTypeError);
    EXPECT_THROW(root["n"][0], JsonTypeError);
    std::string seen;
    for (const JsonValue item : root["list"]) seen += item.asString() + ";";
    for (const JsonValue member : root) seen += member.isArray() ? "list;" : member.asString() + ";";
    EXPECT_EQ(seen, "1;two;list;3;");
    const std::string cut = "[1,";
    EXPECT_FALSE(jsonDocumentOf(cut, errors).root());
    EXPECT_FALSE(errors.empty());
}

TEST(JsonValueBudget, AReplyOverTheBudgetIsRefusedWithItsReason) {
    LogCapture log;
    JsonDocument document;
    std::string errors;
    const std::string atBudget = R"({"a":[1,2]})", overBudget = "[1,2,3,4]";
    EXPECT_TRUE(readJsonDocument(atBudget, document, errors, 4)) << "exactly the budget";
    EXPECT_FALSE(readJsonDocument(overBudget, document, errors, 4));
    EXPECT_TRUE(document.root().isNull());
    EXPECT_EQ(errors, "reply of 9 bytes holds more than 4 JSON values; not parsed");
    EXPECT_TRUE(log.lines().empty()) << "the feed logs the reason, once: " << log.dump();
}
