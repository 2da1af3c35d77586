#include "core/data_feed.h"

#include <gtest/gtest.h>

#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
class NullFeed : public DataFeedImpl {
public:
    int downloadData(std::string) override { return 0; }
};

std::string curlGet(const std::string& url) { return DataFeedImpl::runCommand("curl -s '" + url + "'"); }
}  // namespace

TEST(RunCommand, ReadsWholeRepliesByteExactFromRealCurl) {
    StubServer server;
    std::string small(300, 'x');
    std::string large(1 << 20, 'y');
    std::string binary("a\0b\0\0c\xff", 7);
    server.reply("/small", small);
    server.reply("/large", large);
    server.reply("/binary", binary, 200, "application/octet-stream");

    EXPECT_EQ(curlGet(server.url("/small")), small);
    EXPECT_EQ(curlGet(server.url("/large")), large);
    EXPECT_EQ(curlGet(server.url("/binary")), binary);
    EXPECT_EQ(curlGet("http://127.0.0.1:" + std::to_string(refusedPort()) + "/"), "");
    EXPECT_EQ(server.requestCount(), 3u);
}

TEST(DataFeedImpl, PairsKeepCallOrderAndAreCopiedOut) {
    NullFeed feed;
    feed.addPair("a", "1");
    feed.addPair("a", "2");
    SymbolPairs copy = feed.getExportPairs();
    feed.clearExportPairs();
    EXPECT_EQ(copy, (SymbolPairs{{"a", "1"}, {"a", "2"}}));
    EXPECT_TRUE(feed.getExportPairs().empty());
}

TEST(DataFeedImpl, AddUrlParameterChoosesSeparator) {
    EXPECT_EQ(DataFeedImpl::addUrlParameter("http://h/p?a=1", "b", "2"), "http://h/p?a=1&b=2");
    EXPECT_EQ(DataFeedImpl::addUrlParameter("http://h/p", "b", "2"), "http://h/p?b=2");
}

TEST(DataFeedImpl, ReadVehicleIdKeepsTailAndNone) {
    TempFileRoot root;
    struct Case {
        std::string file;
        unsigned maxLength;
        std::string expected;
    } cases[] = {
        {"000123\n", 4, "0123"}, {"none", 2, "none"}, {"000123 extra", 0, "000123"}, {"  42  ", 4, "42"},
    };
    for (const auto& c : cases) {
        root.write(kVehicleIdPath, c.file);
        EXPECT_EQ(DataFeedImpl::readVehicleId(c.maxLength), c.expected) << "file '" << c.file << "'";
    }
    std::remove(root.path(kVehicleIdPath).c_str());
    EXPECT_EQ(DataFeedImpl::readVehicleId(0), "");
}
