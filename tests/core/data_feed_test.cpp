#include "core/feed/data_feed.h"

#include <gtest/gtest.h>

#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
class NullFeed : public DataFeedImpl {
public:
    int downloadData(std::string) override { return 0; }
};

}  // namespace

TEST(DataFeedImpl, PairsKeepCallOrderAndAreCopiedOut) {
    NullFeed feed;
    feed.addPair("a", "1");
    feed.addPair("a", "2");
    SymbolPairs copy = feed.getExportPairs();
    feed.clearExportPairs();
    EXPECT_EQ(copy, (SymbolPairs{{"a", "1"}, {"a", "2"}}));
    EXPECT_TRUE(feed.getExportPairs().empty());
}

TEST(DataFeedImpl, AddUrlParameterChoosesSeparatorAndEncodes) {
    EXPECT_EQ(DataFeedImpl::addUrlParameter("http://h/p?a=1", "b", "2"), "http://h/p?a=1&b=2");
    EXPECT_EQ(DataFeedImpl::addUrlParameter("http://h/p", "b", "2"), "http://h/p?b=2");
    EXPECT_EQ(DataFeedImpl::addUrlParameter("http://h/p", "k y", "S&a=1#f"), "http://h/p?k%20y=S%26a%3D1%23f");
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
