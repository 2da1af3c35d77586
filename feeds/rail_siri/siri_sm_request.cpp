#include "feeds/rail_siri/siri_sm_request.h"

#include <ctime>

#include "core/fetch/secrets.h"
#include "core/feed/xml_text.h"
#include "platform/clock.h"
#include "platform/strings.h"

namespace {
const char* providerName(int provider) {
    switch (provider) {
        case kSiriProviderVix: return "VIX";
        case kSiriProviderTicketer: return "Eicketer";
        case kSiriProviderR2p: return "R2P";
        default: return "???";
    }
}

}  // namespace

SiriLoadResult SIRI_SM_Request::makeResult(std::string data) {
    SiriLoadResult result;
    result.ok = data.size() > kSiriUsableReplyMinBytes;
    result.data = std::move(data);
    return result;
}

std::string SIRI_SM_Request::requestTimestamp() {
    time_t now = static_cast<time_t>(wallClockSeconds());
    struct tm parts {};
    gmtime_r(&now, &parts);
    char text[64];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S+00:00", &parts);
    return text;
}

std::string SIRI_SM_Request::createRequestTicketer(const siri_sm_request_data& data, const std::string& timestamp) {
    return std::string("<?xml version=\"1.0\"?> ") + "<Siri xmlns=\"" + kSiriNamespace + "\" version=\"1.3\"> " +
           "    <ServiceRequest> " + "        <ServiceRequestContext> " +
           "            <DeliveryMethod>direct</DeliveryMethod> " + "        </ServiceRequestContext> " +
           "        <RequestorRef>" + xmlEscape(data.requestor_ref_) + "</RequestorRef> " +
           "        <StopMonitoringRequest version=\"1.0\"> " + "            <RequestTimestamp>" +
           xmlEscape(timestamp) + "</RequestTimestamp> " + "            <PreviewInterval>PT3H</PreviewInterval> " +
           "            <MonitoringRef>" + xmlEscape(data.stop_id_) + "</MonitoringRef> " +
           "        </StopMonitoringRequest> " + "    </ServiceRequest> " + "</Siri>  ";
}

std::string SIRI_SM_Request::createRequestVIX(const siri_sm_request_data& data, const std::string& timestamp) {
    return std::string("<Siri version=\"1.0\" xmlns=\"") + kSiriSiteNamespace + "\"> " + "<ServiceRequest> " +
           "    <RequestTimestamp>" + xmlEscape(timestamp) + "</RequestTimestamp> " + "    <RequestorRef>" +
           xmlEscape(data.requestor_ref_) + "</RequestorRef> " + "     <StopMonitoringRequest version=\"1.0\"> " +
           "        <RequestTimestamp>" + xmlEscape(timestamp) + "</RequestTimestamp> " +
           "        <MonitoringRef>" + xmlEscape(data.stop_id_) + "</MonitoringRef> " +
           "        <StopVisitTypes>departures</StopVisitTypes> " +
           "        <StopMonitoringDetailLevel>normal</StopMonitoringDetailLevel> " +
           "    </StopMonitoringRequest> " + "</ServiceRequest> " + "</Siri>";
}

void SIRI_SM_Request::createCredentials(const siri_sm_request_data& data, CurlCommand& command) {
    if (data.username_.empty()) return;
    // Always "user:password", even with an empty password: curl given a bare
    // user name stops to prompt for the password on the terminal or stdin.
    command.user(data.username_, data.password_, "siri_sm_username/siri_sm_password");
}

CurlCommand SIRI_SM_Request::createPostCommand(const siri_sm_request_data& data, const std::string& request,
                                               const char* label) const {
    CurlCommand command = downloader().command(data.curl_parm_);
    createCredentials(data, command);
    command.carriesCredential().arg("-X").arg("POST").header("content-type", "text/soap+xml; charset=utf-8");
    command.body(request, request).url(data.feed_, "siri_sm_url");
    logLine(2, label, command.logText());
    return command;
}

CurlCommand SIRI_SM_Request::createCurlCommandTicketer(const siri_sm_request_data& data,
                                                       const std::string& request) const {
    return createPostCommand(data, request, "createCurlCommandTicketer: ");
}

CurlCommand SIRI_SM_Request::createCurlCommandVIX(const siri_sm_request_data& data, const std::string& request) const {
    return createPostCommand(data, request, "createCurlCommandVIX: ");
}

CurlCommand SIRI_SM_Request::createCurlCommandR2P(const siri_sm_request_data& data) const {
    std::string url = addUrlParameter(data.feed_, "key", data.key_);
    url = addUrlParameter(url, "location", data.stop_id_);
    CurlCommand command = downloader().command(data.curl_parm_);
    command.carriesCredential().url(url, "siri_sm_url");
    logLine(2, "createCurlCommandR2P: ", command.logText());
    return command;
}

void SIRI_SM_Request::printRequestData(const siri_sm_request_data& data) {
    logLine(2, "siri_sm_request_data::feed_provider_:", data.feed_provider_, " (", providerName(data.feed_provider_),
            ")");
    logLine(2, "siri_sm_request_data::feed_:'", maskUrlSecrets(data.feed_), "'");
    logLine(2, "siri_sm_request_data::stop_id_:'", data.stop_id_, "'");
    logLine(2, "siri_sm_request_data::requestor_ref_:'", data.requestor_ref_, "'");
    logLine(2, "siri_sm_request_data::username_:'", data.username_, "'");
    logLine(2, "siri_sm_request_data::password_:'", maskSecret(data.password_), "'");
    logLine(2, "siri_sm_request_data::curl_parm_:'", maskCurlParams(data.curl_parm_), "'");
    logLine(2, "siri_sm_request_data::key_:'", maskSecret(data.key_), "'");
}

SiriLoadResult SIRI_SM_Request::loadDataFromServer(const siri_sm_request_data& data) {
    printRequestData(data);
    switch (data.feed_provider_) {
        case kSiriProviderVix: return loadDataFromServerVIX(data);
        case kSiriProviderTicketer: return loadDataFromServerTicketer(data);
        case kSiriProviderR2p: return loadDataFromServerR2P(data);
        default:
            logLine(16, "SIRI_SM_Request::loadDataFromServer: bad feed provider.");
            return SiriLoadResult();
    }
}

SiriLoadResult SIRI_SM_Request::postRequest(const siri_sm_request_data& data, bool ticketer) {
    if (data.requestor_ref_.empty()) {
        logLine(16, "SIRI_SM_Request::", ticketer ? "loadDataFromServerTicketer" : "loadDataFromServerVIX",
                ": Missing Requestor Ref. Unable to download data.");
        return SiriLoadResult();
    }
    std::string timestamp = requestTimestamp();
    CurlCommand command = ticketer ? createCurlCommandTicketer(data, createRequestTicketer(data, timestamp))
                                   : createCurlCommandVIX(data, createRequestVIX(data, timestamp));
    return makeResult(downloader().fetch(command));
}

SiriLoadResult SIRI_SM_Request::loadDataFromServerTicketer(const siri_sm_request_data& data) {
    return postRequest(data, true);
}

SiriLoadResult SIRI_SM_Request::loadDataFromServerVIX(const siri_sm_request_data& data) {
    return postRequest(data, false);
}

SiriLoadResult SIRI_SM_Request::loadDataFromServerR2P(const siri_sm_request_data& data) {
    return makeResult(downloader().fetch(createCurlCommandR2P(data)));
}

SiriLoadResult SIRI_SM_Request::loadDataFromFile(const std::string& path) const {
    if (!FileExists(path)) return SiriLoadResult();
    return makeResult(readFileToString(path));
}
