// A request that carries a credential reaches only a server whose
// certificate is trusted, unless the vehicle turns checks off.
#include <gtest/gtest.h>

#include "core/module/web_services.h"
#include "feeds/rail_siri/darwin_feed.h"
#include "tests/support/feed_test.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"
#include "util/time_convert.h"

namespace {
constexpr const char* kBoardPath = "/OpenLDBWS/ldb11.asmx";

// The board's connection flag after one refresh of the feed a module builds
// from a vehicle's map with "tls_insecure" as given.
std::string hasConnection(const StubServer& server, const std::string& curlParams, bool tlsInsecure = false) {
    Json::Value map;
    Json::Value& params = map["ModuleParams"];
    params["tls_insecure"] = tlsInsecure ? 1 : 0;
    params["rail_departures_enable"] = 1;
    params["rail_departures_client_token"] = "0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9";
    params["rail_departures_test_crs"] = "EDB";
    params["rail_departures_url"] = server.url(kBoardPath);
    CWebServices module{CModuleParmMap(map)};
    const std::string flag = valueOf(cycle(module.feeds().front()->impl(), curlParams), "rail_departures_has_connection");
    module.Shutdown();
    setProcessTimeZone(kDefaultTimeZone);
    return flag;
}
}  // namespace

// In the process, and through the curl program ("--tcp-nodelay" has no in-process form).
class CredentialTls : public ::testing::TestWithParam<const char*> {};
INSTANTIATE_TEST_SUITE_P(BothPaths, CredentialTls, ::testing::Values(kCurlParams, "--max-time 5 -s --tcp-nodelay"));

TEST_P(CredentialTls, SelfSignedServerGetsTheTokenOnlyWhenTrustedOrChecksAreOff) {
    TempFileRoot root;
    StubServer server(StubScheme::kHttps);
    server.reply(kBoardPath, readTestData("rail_siri/darwin_board.xml"), 200, "text/xml");
    const std::string curlParams = GetParam();

    LogCapture log;
    EXPECT_EQ(hasConnection(server, curlParams), "0") << "refused by default";
    EXPECT_EQ(server.requestCount(), 0u) << "the token never left";
    EXPECT_TRUE(log.contains("curl ended with status 60 (server certificate not trusted", 8)) << log.dump();
    EXPECT_FALSE(log.contains("tls_insecure is 1")) << log.dump();

    EXPECT_EQ(hasConnection(server, curlParams + " --cacert " + loopbackCertificateFile()), "1")
        << "trusted through CurlParams";

    EXPECT_EQ(hasConnection(server, curlParams, true), "1") << "checks off";
    EXPECT_TRUE(log.contains("CWebServices: tls_insecure is 1: server certificates are not checked", 8)) << log.dump();
    EXPECT_EQ(hasConnection(server, curlParams), "0") << "checks back on";
}
