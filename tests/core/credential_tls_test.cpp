// A request that carries a credential reaches only a server whose
// certificate is trusted, unless the vehicle turns checks off.
#include <gtest/gtest.h>

#include "core/web_services.h"
#include "feeds/rail_siri/darwin_feed.h"
#include "tests/support/feed_test.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"
#include "util/time_convert.h"

namespace {
constexpr const char* kBoardPath = "/OpenLDBWS/ldb11.asmx";

// Builds the module with only "tls_insecure" set, as a vehicle's map would.
void startModuleWith(bool tlsInsecure) {
    Json::Value map;
    map["ModuleParams"]["tls_insecure"] = tlsInsecure ? 1 : 0;
    {
        CWebServices module{CModuleParmMap(map)};
        module.Shutdown();
    }
    setProcessTimeZone(kDefaultTimeZone);
}
}  // namespace

TEST(CredentialTls, SelfSignedServerGetsTheTokenOnlyWhenTrustedOrChecksAreOff) {
    TempFileRoot root;
    StubServer server(StubScheme::kHttps);
    server.reply(kBoardPath, readTestData("rail_siri/darwin_board.xml"), 200, "text/xml");
    auto hasConnection = [&](const std::string& curlParams) {
        auto feed = configuredFeed<DarwinFeedImpl>(
            R"({"rail_departures_client_token": "0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9", "rail_departures_test_crs": )"
            R"("EDB", "rail_departures_url": ")" + server.url(kBoardPath) + "\"}");
        return valueOf(cycle(*feed, curlParams), "rail_departures_has_connection");
    };

    LogCapture log;
    startModuleWith(false);
    EXPECT_EQ(hasConnection(kCurlParams), "0") << "refused by default";
    EXPECT_EQ(server.requestCount(), 0u) << "the token never left";
    EXPECT_TRUE(log.contains("curl ended with status 60 (server certificate not trusted", 8)) << log.dump();
    EXPECT_FALSE(log.contains("tls_insecure is 1")) << log.dump();

    EXPECT_EQ(hasConnection(std::string(kCurlParams) + " --cacert " + loopbackCertificateFile()), "1")
        << "trusted through CurlParams";

    startModuleWith(true);
    EXPECT_TRUE(log.contains("CWebServices: tls_insecure is 1: server certificates are not checked", 8)) << log.dump();
    EXPECT_EQ(hasConnection(kCurlParams), "1") << "checks off";
    startModuleWith(false);
    EXPECT_EQ(hasConnection(kCurlParams), "0") << "checks back on";
}
