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
const std::string kStamp = "2026-06-04T09:00:05+00:00";

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

    std::string reply = "<Siri><ServiceDelivery><StopMonitoringDelivery/></ServiceDelivery></Siri>";
    StubServer server;
    Requester requester;
    siri_sm_request_data data;
};
}  // namespace

TEST_F(SiriRequestTest, TicketerAndVixPostTheirDocumentWithBasicCredentials) {
    const struct {
        int provider;
        const char* user;
        const char* password;  // empty: sent as "user:" rather than prompted for
        const char* authorization;
        std::string body;
    } cases[] = {
        {kSiriProviderTicketer, "vorn", "s3cr3t!", "Basic dm9ybjpzM2NyM3Qh",
         "<?xml version=\"1.0\"?> <Siri xmlns=\"http://www.siri.org.uk/siri\" version=\"1.3\">     <ServiceRequest>"
         "         <ServiceRequestContext>             <DeliveryMethod>direct</DeliveryMethod>         "
         "</ServiceRequestContext>         <RequestorRef>VORN_BUS</RequestorRef>         <StopMonitoringRequest "
         "version=\"1.0\">             <RequestTimestamp>" + kStamp + "</RequestTimestamp>             "
         "<PreviewInterval>PT3H</PreviewInterval>             <MonitoringRef>3390Y4</MonitoringRef>         "
         "</StopMonitoringRequest>     </ServiceRequest> </Siri>  "},
        {kSiriProviderVix, "alice", "", "Basic YWxpY2U6",
         "<Siri version=\"1.0\" xmlns=\"http://www.siri.org.uk/\"> <ServiceRequest>     <RequestTimestamp>" + kStamp +
             "</RequestTimestamp>     <RequestorRef>VORN_BUS</RequestorRef>      <StopMonitoringRequest "
             "version=\"1.0\">         <RequestTimestamp>" + kStamp + "</RequestTimestamp>         "
             "<MonitoringRef>3390Y4</MonitoringRef>         <StopVisitTypes>departures</StopVisitTypes>         "
             "<StopMonitoringDetailLevel>normal</StopMonitoringDetailLevel>     </StopMonitoringRequest> "
             "</ServiceRequest> </Siri>"},
    };
    LogCapture log;
    for (const auto& c : cases) {
        data.feed_provider_ = c.provider;
        data.username_ = c.user;
        data.password_ = c.password;
        SiriLoadResult result = requester.loadDataFromServer(data);
        EXPECT_TRUE(result.ok && result.data == reply) << "provider " << c.provider;
        const RecordedRequest request = server.requests().back();
        EXPECT_EQ(request.method + " " + request.path, "POST /siri") << "provider " << c.provider;
        EXPECT_EQ(request.header("Content-Type"), "text/soap+xml; charset=utf-8") << "provider " << c.provider;
        EXPECT_EQ(request.header("Authorization"), c.authorization);
        EXPECT_EQ(request.body, c.body) << "provider " << c.provider;
    }
    // The password is masked in the request data and the command logged.
    EXPECT_TRUE(log.contains("createCurlCommandTicketer: curl --connect-timeout 3 --max-time 5 -s --fail --compressed -u 'vorn:s3***(7)'"));
    EXPECT_TRUE(log.contains("siri_sm_request_data::password_:'s3***(7)'"));
    EXPECT_FALSE(log.contains("s3cr3t")) << log.dump();
}

TEST_F(SiriRequestTest, R2pGetsTheStopByQueryWithoutCredentials) {
    data.feed_provider_ = kSiriProviderR2p;
    data.key_ = "r2p-key-123";
    data.requestor_ref_.clear();  // R2P does not need one
    data.username_ = "ignored";
    LogCapture log;
    EXPECT_TRUE(requester.loadDataFromServer(data).ok);
    ASSERT_EQ(server.requestCount(), 1u);
    const RecordedRequest request = server.requests()[0];
    EXPECT_EQ(request.method + " " + request.query, "GET key=r2p-key-123&location=3390Y4");
    EXPECT_EQ(request.header("Authorization") + request.body, "");
    EXPECT_TRUE(log.contains("createCurlCommandR2P: curl --connect-timeout 3 --max-time 5 -s --fail --compressed --globoff '" + data.feed_ +
                             "?key=r2***(11)&location=3390Y4'"))
        << log.dump();
    EXPECT_FALSE(log.contains("r2p-key-123")) << log.dump();
}

TEST_F(SiriRequestTest, RefusesBadProvidersAndMissingRequestorRefBeforeAnyCommand) {
    for (const auto& [provider, message] : std::vector<std::pair<int, std::string>>{
             {4, "SIRI_SM_Request::loadDataFromServer: bad feed provider."},
             {kSiriProviderVix, "SIRI_SM_Request::loadDataFromServerVIX: Missing Requestor Ref. Unable to download data."}}) {
        data.feed_provider_ = provider;
        data.requestor_ref_.clear();
        LogCapture log;
        SiriLoadResult result = requester.loadDataFromServer(data);
        EXPECT_TRUE(!result.ok && result.data.empty()) << message;
        EXPECT_TRUE(log.contains(message, 16)) << log.dump();
    }
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(SiriRequestTest, AnAnswerCountsOnlyWhenLongerThan64Bytes) {
    TempFileRoot root;
    data.feed_provider_ = kSiriProviderR2p;
    for (size_t size : {64u, 65u}) {
        server.reply("/siri", std::string(size, 'x'));
        SiriLoadResult result = requester.loadDataFromServer(data);
        EXPECT_TRUE(result.ok == (size > 64) && result.data.size() == size) << size << " bytes from the server";
        root.write("/vorn/media/offline/answer.xml", std::string(size, 'x'));
        result = requester.loadDataFromFile(root.path("/vorn/media/offline/answer.xml"));
        EXPECT_TRUE(result.ok == (size > 64) && result.data.size() == size) << size << " bytes from a file";
    }
    EXPECT_FALSE(requester.loadDataFromFile(root.path("/vorn/media/offline/none.xml")).ok) << "no file";
}

// The stop id is imported; the other values are configured.
TEST_F(SiriRequestTest, HostileValuesRunNoCommandAndReachTheServerIntact) {
    TempFileRoot root;
    const std::string marker = root.path("/tmp/pwned");
    const std::string hostile = "x'; touch " + marker + "; echo '$(touch " + marker + ")`touch " + marker + "`<&>\"";
    data.stop_id_ = data.requestor_ref_ = data.username_ = data.password_ = data.key_ = hostile;
    for (int provider : {kSiriProviderVix, kSiriProviderTicketer, kSiriProviderR2p}) {
        data.feed_provider_ = provider;
        EXPECT_TRUE(requester.loadDataFromServer(data).ok) << "provider " << provider;
    }
    EXPECT_FALSE(root.exists("/tmp/pwned"));
    const std::vector<RecordedRequest> requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    const std::string escaped = "x&apos;; touch " + marker + "; echo &apos;$(touch " + marker + ")`touch " + marker +
                                "`&lt;&amp;&gt;&quot;";
    for (int i = 0; i < 2; ++i) {
        EXPECT_NE(requests[i].body.find("<MonitoringRef>" + escaped + "</MonitoringRef>"), std::string::npos) << i;
        EXPECT_NE(requests[i].body.find("<RequestorRef>" + escaped + "</RequestorRef>"), std::string::npos) << i;
    }
    // The stop id stays one query value: its '&' can't add parameters.
    EXPECT_EQ(requests[2].query.find("&location=x%27%3B%20touch"), requests[2].query.find('&'));
    EXPECT_EQ(requests[2].query.find("&", requests[2].query.find("location=")), std::string::npos);
}
