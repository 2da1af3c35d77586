// When this vehicle is expected at its terminus: asks a SIRI stop-monitoring
// service about the terminus stop (or reads the offline file) and exports the
// arrival times of the first visit made by this vehicle.
#pragma once

#include <string>

#include "feeds/rail_siri/siri_reader.h"
#include "feeds/rail_siri/siri_sm_request.h"

constexpr const char* kSiriSmTtOfflinePath = "/vorn/media/offline/siri_sm_tt.xml";

// The vehicle's visit in one answer; the times are decimal POSIX seconds, "0" when missing or unusable.
struct SiriTerminusTime {
    bool found = false;
    std::string responseTimestamp = "0";
    std::string aimedArrival = "0";
    std::string expectedArrival = "0";
};

class SIRI_SM_TT_FeedImpl : public SIRI_SM_Request {
public:
    explicit SIRI_SM_TT_FeedImpl(const std::string& feedUrl);
    ~SIRI_SM_TT_FeedImpl() override;

    void readModuleParmMap() override;
    // Takes "siri_sm_terminus_point_id".
    bool symbolUpdate(const std::string& name, int x, const std::string& value) override;
    // One update; 1 when this vehicle was found among the visits.
    int downloadData(std::string curlParams) override;

    // The vehicle's identifier: prefix + test id, else prefix + the first word
    // of the vehicle id file ("NONE" in any case as it is); "" without one.
    std::string vehicleId() const;
    std::string readPrefixedVehicleId() const;
    // The first visit whose VehicleRef is exactly vehicleId.
    static SiriTerminusTime parse(const SiriLoadResult& result, const std::string& vehicleId);
    // The child's time as decimal seconds when above 0, else "0".
    static std::string getNodeTime(const SiriReader& reader, const SiriNode* node, const char* name);

    const siri_sm_request_data& requestData() const { return m_requestData; }
    const std::string& terminusPointId() const { return m_terminusPointId; }

private:
    void addNoConnection();

    std::string m_vehicleIdPrefix;
    std::string m_testVehicleId;
    siri_sm_request_data m_requestData;
    std::string m_terminusPointId;
};

class SIRI_SM_TT_Feed : public DataFeed {
public:
    explicit SIRI_SM_TT_Feed(const std::string& feedUrl) : DataFeed(std::make_unique<SIRI_SM_TT_FeedImpl>(feedUrl)) {}
};
