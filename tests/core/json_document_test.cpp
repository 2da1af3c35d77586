// The JSON value counter against the reader it protects, and the budget
// that turns a reply with too many values into a failed parse.
#include "core/feed/json_document.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/hostile_input.h"
#include "tests/support/json_tree.h"
#include "tests/support/log_capture.h"

TEST(JsonValueCount, CountsWhatTheReaderBuilds) {
    const std::pair<const char*, size_t> cases[] = {
        {"", 0},
        {"  -1.5e+10 ", 1},
        {"[true,false,null,{},[]]", 6},
        {R"({"a":1,"b":[2,"x"]})", 5},
        {R"({"a" : "b", "c"	:
            "d"})", 3},                                   // blanks before the colon: still keys
        {R"({"k\":":"v:","\\":"\"","e":"\\\\"})", 4},    // escaped quotes and backslashes, colons in text
        {R"(["{[,:]}", "//", "/*"])", 4},                // structure and comment marks inside strings
        {"[1, // [[[ {{\n 2 /* ]] \"x\": */, 3]", 4},   // comments, as the reader accepts them
        {"[1, // a\r 2]", 3},                            // a carriage return ends a line comment too
        {R"({"a" /* why */ : 1})", 2},
        {"\xEF\xBB\xBF[1]", 2},                           // byte-order mark
        {"\"unterminated \\\"", 1},
        {"[1 /* unterminated", 2},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(countJsonValues(text), expected) << text;

    // The feeds' own fixtures, which the reader must read exactly as counted.
    size_t fixtures = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(WEBSERVICES_TEST_DATA)) {
        if (entry.path().extension() != ".json") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        const Json::Value root = jsoncpp_string::toJsonObject(text.str());
        ASSERT_FALSE(root.isNull()) << entry.path();
        EXPECT_EQ(countJsonValues(text.str()), treeValues(root)) << entry.path();
        ++fixtures;
    }
    EXPECT_GT(fixtures, 10u);
}

TEST(JsonValueBudget, AReplyOverTheBudgetReadsAsInvalidWithOneLine) {
    LogCapture log;
    EXPECT_EQ(jsoncpp_string::toJsonObject(R"({"a":[1,2]})", 4).size(), 1u) << "exactly the budget";
    EXPECT_TRUE(log.lines().empty()) << log.dump();
    EXPECT_TRUE(jsoncpp_string::toJsonObject("[1,2,3,4]", 4).isNull());
    ASSERT_EQ(log.lines().size(), 1u) << log.dump();
    EXPECT_EQ(log.lines()[0].level, 8);
    EXPECT_EQ(log.lines()[0].text, "JSON: reply of 9 bytes holds more than 4 JSON values; not parsed");
}

// One document, with comments where the feeds' services put them, and
// nothing after it: a reply that only starts like JSON is not one.
TEST(JsonDocument, OnlyWhiteSpaceAndCommentsMayFollowTheValue) {
    const std::pair<std::string, bool> cases[] = {
        {"{\"a\": 1}\n", true},
        {"{\"a\": 1} // generated\n", true},
        {"/* head */ [1, 2] /* tail */  ", true},
        {"\xEF\xBB\xBF{}", true},
        {"7 <html>", false},
        {"-1Service Unavailable", false},
        {"\"ok\" but not JSON", false},
        {"{} {}", false},
        {"[1]]", false},
        {std::string("{}\0garbage", 10), false},
        {std::string("{\"a\": \"\0\"}", 10), false},
    };
    for (const auto& [text, accepted] : cases) {
        Json::Value root;
        std::string errors;
        EXPECT_EQ(readJsonDocument(text, root, errors, kDefaultJsonValueBudget), accepted) << text;
        EXPECT_EQ(root.isNull(), !accepted) << text;
        EXPECT_EQ(errors.empty(), accepted) << text << ": " << errors;
    }
}
