#include "feeds/rail_siri/siri_sm_request.h"

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "tests/support/log_capture.h"
#include "tests/support/stub_server.h"
#include "tests/support/temp_root.h"

namespace {
class Requester : public SIRI_SM_Request {
public:
    int downloadData(std::string) override { return 0; }
};

// 2026-06-04T09:00:05 UTC, so the request documents are known in advance.
constexpr int64_t kNow = 1780563605;
const char* const kStamp = "2026-06-04T09:00:05+00:00";

class SiriRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        setWallClock([] { return kNow; });
        server.reply("/siri", reply);
        data.feed_ = server.url("/siri");
        data.stop_id_ = "3390Y4";
        data.requestor_ref_ = "VORN_BUS";
        data.curl_parm_ = "--connect-timeout 3 --max-time 5 -s";
    }
    void TearDown() override { setWallClock(nullptr); }

    std::string base64(const std::string& text) {
        static const char* const kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string out;
        for (size_t i = 0; i < text.size(); i += 3) {
            unsigned n = static_cast<unsigned char>(text[i]) << 16;
            if (i + 1 < text.size()) n |= static_cast<unsigned char>(text[i + 1]) << 8;
            if (i + 2 < text.size()) n |= static_cast<unsigned char>(text[i + 2]);
            out += kDigits[(n >> 18) & 63];
            out += kDigits[(n >> 12) & 63];
            out += i + 1 < text.size() ? kDigits[(n >> 6) & 63] : '=';
            out += i + 2 < text.size() ? kDigits[n & 63] : '=';
        }
        return out;
    }

    std::string reply = "<Siri><ServiceDelivery><StopMonitoringDelivery/></ServiceDelivery></Siri>";
    StubServer server;
    Requester requester;
    siri_sm_request_data data;
};
}  // namespace

TEST_F(SiriRequestTest, TicketerAndVixPostTheirDocumentWithBasicCredentials) {
    data.username_ = "vorn";
    data.password_ = "s3cr3t!";
    struct Case {
        int provider;
        std::string body;
    } cases[] = {
        {kSiriProviderTicketer,
         std::string("<?xml version=\"1.0\"?> <Siri xmlns=\"http://www.siri.org.uk/siri\" version=\"1.3\">     "
                     "<ServiceRequest>         <ServiceRequestContext>             "
                     "<DeliveryMethod>direct</DeliveryMethod>         </ServiceRequestContext>         "
                     "<RequestorRef>VORN_BUS</RequestorRef>         <StopMonitoringRequest version=\"1.0\">  "
                     "           <RequestTimestamp>") +
             kStamp +
             "</RequestTimestamp>             <PreviewInterval>PT3H</PreviewInterval>             "
             "<MonitoringRef>3390Y4</MonitoringRef>         </StopMonitoringRequest>     </ServiceRequest> "
             "</Siri>  "},
        {kSiriProviderVix,
         std::string("<Siri version=\"1.0\" xmlns=\"http://www.siri.org.uk/\"> <ServiceRequest>     "
                     "<RequestTimestamp>") +
             kStamp + "</RequestTimestamp>     <RequestorRef>VORN_BUS</RequestorRef>      "
                      "<StopMonitoringRequest version=\"1.0\">         <RequestTimestamp>" +
             kStamp +
             "</RequestTimestamp>         <MonitoringRef>3390Y4</MonitoringRef>         "
             "<StopVisitTypes>departures</StopVisitTypes>         "
             "<StopMonitoringDetailLevel>normal</StopMonitoringDetailLevel>     </StopMonitoringRequest> "
             "</ServiceRequest> </Siri>"},
    };
    for (const auto& c : cases) {
        data.feed_provider_ = c.provider;
        size_t before = server.requestCount();
        SiriLoadResult result = requester.loadDataFromServer(data);
        EXPECT_TRUE(result.ok) << "provider " << c.provider;
        EXPECT_EQ(result.data, reply) << "provider " << c.provider;
        ASSERT_EQ(server.requestCount(), before + 1) << "provider " << c.provider;
        RecordedRequest request = server.requests().back();
        EXPECT_EQ(request.method, "POST") << "provider " << c.provider;
        EXPECT_EQ(request.path, "/siri") << "provider " << c.provider;
        EXPECT_EQ(request.header("Content-Type"), "text/soap+xml; charset=utf-8") << "provider " << c.provider;
        EXPECT_EQ(request.header("Authorization"), "Basic " + base64("vorn:s3cr3t!")) << "provider " << c.provider;
        EXPECT_EQ(request.body, c.body) << "provider " << c.provider;
    }
}

TEST_F(SiriRequestTest, R2pGetsTheStopByQueryWithoutCredentials) {
    data.feed_provider_ = kSiriProviderR2p;
    data.key_ = "r2p-key-123";
    data.requestor_ref_.clear();  // R2P does not need one
    data.username_ = "ignored";
    LogCapture log;
    SiriLoadResult result = requester.loadDataFromServer(data);
    EXPECT_TRUE(result.ok);
    ASSERT_EQ(server.requestCount(), 1u);
    RecordedRequest request = server.requests()[0];
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.query, "key=r2p-key-123&location=3390Y4");
    EXPECT_EQ(request.header("Authorization"), "");
    EXPECT_TRUE(request.body.empty());
    EXPECT_TRUE(log.contains("createCurlCommandR2P: curl --connect-timeout 3 --max-time 5 -s '" + data.feed_ +
                             "?key=r2***(11)&location=3390Y4'"))
        << log.dump();
    EXPECT_FALSE(log.contains("r2p-key-123")) << log.dump();
}

TEST_F(SiriRequestTest, AUserWithoutPasswordIsSentWithAnEmptyOneInsteadOfPrompting) {
    data.feed_provider_ = kSiriProviderVix;
    data.username_ = "alice";
    EXPECT_TRUE(requester.loadDataFromServer(data).ok);
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].header("Authorization"), "Basic " + base64("alice:"));
}

TEST_F(SiriRequestTest, RefusesBadProvidersAndMissingRequestorRefBeforeAnyCommand) {
    struct Case {
        int provider;
        std::string requestor;
        std::string message;
    } cases[] = {
        {0, "VORN_BUS", "SIRI_SM_Request::loadDataFromServer: bad feed provider."},
        {4, "VORN_BUS", "SIRI_SM_Request::loadDataFromServer: bad feed provider."},
        {kSiriProviderVix, "", "SIRI_SM_Request::loadDataFromServerVIX: Missing Requestor Ref. Unable to download data."},
        {kSiriProviderTicketer, "",
         "SIRI_SM_Request::loadDataFromServerTicketer: Missing Requestor Ref. Unable to download data."},
    };
    for (const auto& c : cases) {
        data.feed_provider_ = c.provider;
        data.requestor_ref_ = c.requestor;
        LogCapture log;
        SiriLoadResult result = requester.loadDataFromServer(data);
        EXPECT_FALSE(result.ok) << c.message;
        EXPECT_TRUE(result.data.empty()) << c.message;
        EXPECT_TRUE(log.contains(c.message, 16)) << log.dump();
        // The request data is dumped first, whatever follows.
        EXPECT_TRUE(log.contains("siri_sm_request_data::feed_provider_:" + std::to_string(c.provider), 2)) << log.dump();
        EXPECT_FALSE(log.contains("createCurlCommand")) << log.dump();
    }
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(SiriRequestTest, AnAnswerCountsOnlyWhenLongerThan64Bytes) {
    data.feed_provider_ = kSiriProviderR2p;
    for (size_t size : {0u, 63u, 64u, 65u, 4096u}) {
        server.reply("/siri", std::string(size, 'x'));
        SiriLoadResult result = requester.loadDataFromServer(data);
        EXPECT_EQ(result.ok, size > 64) << size << " bytes";
        EXPECT_EQ(result.data.size(), size) << size << " bytes";
    }
    data.feed_ = "http://127.0.0.1:" + std::to_string(refusedPort()) + "/siri";
    EXPECT_FALSE(requester.loadDataFromServer(data).ok) << "refused connection";

    TempFileRoot root;
    root.write("/vorn/media/offline/short.xml", std::string(64, 'x'));
    root.write("/vorn/media/offline/long.xml", std::string(65, 'x'));
    EXPECT_FALSE(SIRI_SM_Request::loadDataFromFile(root.path("/vorn/media/offline/short.xml")).ok);
    EXPECT_TRUE(SIRI_SM_Request::loadDataFromFile(root.path("/vorn/media/offline/long.xml")).ok);
    SiriLoadResult missing = SIRI_SM_Request::loadDataFromFile(root.path("/vorn/media/offline/none.xml"));
    EXPECT_FALSE(missing.ok);
    EXPECT_TRUE(missing.data.empty());
}

TEST_F(SiriRequestTest, HostileValuesRunNoCommandAndReachTheServerIntact) {
    TempFileRoot root;
    std::string marker = root.path("/tmp/pwned");
    std::string hostile = "x'; touch " + marker + "; echo '$(touch " + marker + ")`touch " + marker + "`<&>\"";
    data.stop_id_ = hostile;
    data.requestor_ref_ = hostile;
    data.username_ = hostile;
    data.password_ = hostile;
    data.key_ = hostile;
    for (int provider : {kSiriProviderVix, kSiriProviderTicketer, kSiriProviderR2p}) {
        data.feed_provider_ = provider;
        EXPECT_TRUE(requester.loadDataFromServer(data).ok) << "provider " << provider;
        EXPECT_FALSE(root.exists("/tmp/pwned")) << "provider " << provider;
    }
    std::vector<RecordedRequest> requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    const std::string escaped = "x&apos;; touch " + marker + "; echo &apos;$(touch " + marker + ")`touch " + marker +
                                "`&lt;&amp;&gt;&quot;";
    for (int i = 0; i < 2; ++i) {
        EXPECT_NE(requests[i].body.find("<MonitoringRef>" + escaped + "</MonitoringRef>"), std::string::npos)
            << requests[i].body;
        EXPECT_NE(requests[i].body.find("<RequestorRef>" + escaped + "</RequestorRef>"), std::string::npos)
            << requests[i].body;
        EXPECT_EQ(requests[i].header("Authorization"), "Basic " + base64(hostile + ":" + hostile));
    }
    // The stop id stays one query value: its '&' can't add parameters.
    EXPECT_EQ(requests[2].query.find("&location=x%27%3B%20touch"), requests[2].query.find('&'));
    EXPECT_EQ(requests[2].query.find("&", requests[2].query.find("location=")), std::string::npos);
}

TEST_F(SiriRequestTest, SecretsNeverReachTheLog) {
    data.feed_provider_ = kSiriProviderTicketer;
    data.username_ = "vorn";
    data.password_ = "hunter2-password";
    data.key_ = "r2p-access-key";
    LogCapture log;
    EXPECT_TRUE(requester.loadDataFromServer(data).ok);
    EXPECT_TRUE(log.contains("siri_sm_request_data::feed_provider_:2 (Eicketer)", 2)) << log.dump();
    EXPECT_TRUE(log.contains("siri_sm_request_data::stop_id_:'3390Y4'", 2)) << log.dump();
    EXPECT_TRUE(log.contains("siri_sm_request_data::password_:'hu***(16)'", 2)) << log.dump();
    EXPECT_TRUE(log.contains("siri_sm_request_data::key_:'r2***(14)'", 2)) << log.dump();
    EXPECT_TRUE(log.contains("createCurlCommandTicketer: curl --connect-timeout 3 --max-time 5 -s '-u' 'vorn:hu***(16)'",
                             2))
        << log.dump();
    EXPECT_FALSE(log.contains("hunter2")) << log.dump();
    EXPECT_FALSE(log.contains("access-key")) << log.dump();
}
