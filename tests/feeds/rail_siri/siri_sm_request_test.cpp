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

std::string basicAuth(const std::string& text) {
    static const char* const kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < text.size(); i += 3) {
        unsigned n = static_cast<unsigned char>(text[i]) << 16;
        if (i + 1 < text.size()) n |= static_cast<unsigned char>(text[i + 1]) << 8;
        if (i + 2 < text.size()) n |= static_cast<unsigned char>(text[i + 2]);
        for (int k = 0; k < 4; ++k) out += k <= static_cast<int>(text.size() - i) ? kDigits[(n >> (18 - 6 * k)) & 63] : '=';
    }
    return "Basic " + out;
}

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
        std::string body;
    } cases[] = {
        {kSiriProviderTicketer, "vorn", "s3cr3t!",
         "<?xml version=\"1.0\"?> <Siri xmlns=\"http://www.siri.org.uk/siri\" version=\"1.3\">     <ServiceRequest>"
         "         <ServiceRequestContext>             <DeliveryMethod>direct</DeliveryMethod>         "
         "</ServiceRequestContext>         <RequestorRef>VORN_BUS</RequestorRef>         <StopMonitoringRequest "
         "version=\"1.0\">             <RequestTimestamp>" + kStamp + "</RequestTimestamp>             "
         "<PreviewInterval>PT3H</PreviewInterval>             <MonitoringRef>3390Y4</MonitoringRef>         "
         "</StopMonitoringRequest>     </ServiceRequest> </Siri>  "},
        {kSiriProviderVix, "alice", "",
         "<Siri version=\"1.0\" xmlns=\"http://www.siri.org.uk/\"> <ServiceRequest>     <RequestTimestamp>" + kStamp +
             "</RequestTimestamp>     <RequestorRef>VORN_BUS</RequestorRef>      <StopMonitoringRequest "
             "version=\"1.0\">         <RequestTimestamp>" + kStamp + "</RequestTimestamp>         "
             "<MonitoringRef>3390Y4</MonitoringRef>         <StopVisitTypes>departures</StopVisitTypes>         "
             "<StopMonitoringDetailLevel>normal</StopMonitoringDetailLevel>     </StopMonitoringRequest> "
             "</ServiceRequest> </Siri>"},
    };
    for (const auto& c : cases) {
        data.feed_provider_ = c.provider;
        data.username_ = c.user;
        data.password_ = c.password;
        SiriLoadResult result = requester.loadDataFromServer(data);
        EXPECT_TRUE(result.ok && result.data == reply) << "provider " << c.provider;
        const RecordedRequest request = server.requests().back();
        EXPECT_EQ(request.method + " " + request.path, "POST /siri") << "provider " << c.provider;
        EXPECT_EQ(request.header("Content-Type"), "text/soap+xml; charset=utf-8") << "provider " << c.provider;
        EXPECT_EQ(request.header("Authorization"), basicAuth(c.user + (":" + std::string(c.password))));
        EXPECT_EQ(request.body, c.body) << "provider " << c.provider;
    }
    EXPECT_EQ(server.requestCount(), 2u);
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
    EXPECT_TRUE(log.contains("createCurlCommandR2P: curl --connect-timeout 3 --max-time 5 -s --globoff '" + data.feed_ +
                             "?key=r2***(11)&location=3390Y4'"))
        << log.dump();
    EXPECT_FALSE(log.contains("r2p-key-123")) << log.dump();
}

TEST_F(SiriRequestTest, RefusesBadProvidersAndMissingRequestorRefBeforeAnyCommand) {
    const struct {
        int provider;
        const char* requestor;
        const char* message;
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
        EXPECT_TRUE(!result.ok && result.data.empty()) << c.message;
        EXPECT_TRUE(log.contains(c.message, 16)) << log.dump();
    }
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(SiriRequestTest, AnAnswerCountsOnlyWhenLongerThan64Bytes) {
    TempFileRoot root;
    data.feed_provider_ = kSiriProviderR2p;
    for (size_t size : {0u, 63u, 64u, 65u, 4096u}) {
        server.reply("/siri", std::string(size, 'x'));
        SiriLoadResult result = requester.loadDataFromServer(data);
        EXPECT_TRUE(result.ok == (size > 64) && result.data.size() == size) << size << " bytes from the server";
        root.write("/vorn/media/offline/answer.xml", std::string(size, 'x'));
        result = SIRI_SM_Request::loadDataFromFile(root.path("/vorn/media/offline/answer.xml"));
        EXPECT_TRUE(result.ok == (size > 64) && result.data.size() == size) << size << " bytes from a file";
    }
    EXPECT_FALSE(SIRI_SM_Request::loadDataFromFile(root.path("/vorn/media/offline/none.xml")).ok) << "no file";
    data.feed_ = "http://127.0.0.1:" + std::to_string(refusedPort()) + "/siri";
    EXPECT_FALSE(requester.loadDataFromServer(data).ok) << "refused connection";
}

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
        EXPECT_EQ(requests[i].header("Authorization"), basicAuth(hostile + ":" + hostile)) << i;
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
    for (const char* line : {"siri_sm_request_data::feed_provider_:2 (Eicketer)", "siri_sm_request_data::stop_id_:'3390Y4'",
                             "siri_sm_request_data::password_:'hu***(16)'", "siri_sm_request_data::key_:'r2***(14)'",
                             "createCurlCommandTicketer: curl --connect-timeout 3 --max-time 5 -s '-u' 'vorn:hu***(16)'"})
        EXPECT_TRUE(log.contains(line, 2)) << line << "\n" << log.dump();
    EXPECT_FALSE(log.contains("hunter2") || log.contains("access-key")) << log.dump();
}
