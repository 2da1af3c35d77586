// Open-data parsers on realistic large documents: TfL predictions with a warm
// connections cache, R2P journey choice, TfL line status of five modes.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "feeds/opendata/open_data_r2p_feed.h"
#include "feeds/opendata/open_data_tfl_feed.h"
#include "feeds/opendata/tfl_line_status_feed.h"

namespace {
std::string text(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

std::string readFixture(const std::string& name) {
    std::ifstream in(std::string(WEBSERVICES_TEST_DATA) + "/opendata/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string stopCode(int route, int stop) { return "3400" + std::to_string(route * 100 + stop); }

// A folder with the stop database and stop-point documents, reached by file:// URLs.
class TflFixture {
public:
    TflFixture() {
        char pattern[] = "/tmp/opendata-bench-XXXXXX";
        m_dir = mkdtemp(pattern);
        std::filesystem::create_directories(m_dir + "/StopPoint");
        sqlite3* db = nullptr;
        sqlite3_open((m_dir + "/stops.db").c_str(), &db);
        sqlite3_exec(db, "create table attributes (id text, symbol text, value text); begin;", nullptr, nullptr,
                     nullptr);
        const std::string stopPoint = readFixture("tfl_stoppoint_baker_street.json");
        for (int i = 0; i < 60; ++i) {
            std::string naptan = "4900000" + std::to_string(100 + i);
            std::string sql = "insert into attributes values ('" + std::to_string(5000 + i) +
                              "', 'PointIdentifier', '" + naptan + "');";
            sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
            std::ofstream(m_dir + "/StopPoint/" + naptan) << stopPoint;
        }
        sqlite3_exec(db, "commit;", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    ~TflFixture() { std::filesystem::remove_all(m_dir); }
    const std::string& dir() const { return m_dir; }

private:
    std::string m_dir;
};

void BM_TflArrivalsWarmCache(benchmark::State& state) {
    TflFixture fixture;
    Json::Value predictions(Json::arrayValue);
    for (int i = 0; i < 500; ++i) {
        Json::Value p(Json::objectValue);
        p["operationType"] = 1;
        p["naptanId"] = "4900000" + std::to_string(100 + i % 60);
        p["stationName"] = "Oxford Circus / Regent Street " + std::to_string(i);
        p["lineName"] = "13";
        p["destinationName"] = "Aldwych";
        p["direction"] = "outbound";
        p["timeToStation"] = 60 * i;
        p["expectedArrival"] = "2024-06-03T08:11:01Z";
        predictions.append(p);
    }
    const std::string doc = text(predictions);
    OpenDataTFL_FeedImpl feed("file://" + fixture.dir());
    Json::Value map(Json::objectValue);
    map["ModuleParams"]["Database"] = fixture.dir() + "/stops.db";
    feed.updateModuleParmMap(CModuleParmMap(map));
    feed.readModuleParmMap();
    feed.createCurlCommand("file://" + fixture.dir(), "-s", "V1");  // sets the curl options for stop points
    feed.parse(doc);                                                // warms the connections cache
    for (auto _ : state) {
        OpenDataArrivals result = feed.parse(doc);
        benchmark::DoNotOptimize(result);
        feed.clearExportPairs();
        feed.addArrivalPairs(result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_TflArrivalsWarmCache)->Unit(benchmark::kMillisecond);

void BM_R2pJourneyChoice(benchmark::State& state) {
    std::vector<std::string> pointIds, ciCodes;
    for (int s = 0; s < 60; ++s) {
        pointIds.push_back(std::to_string(1000 + s));
        ciCodes.push_back(stopCode(7, s));
    }
    Json::Value journeys(Json::arrayValue);
    for (int j = 0; j < 200; ++j) {
        Json::Value journey(Json::objectValue);
        journey["ScheduledStart"] = "2024-06-03 " + std::to_string(10 + j % 12) + ":" + std::to_string(10 + j % 50) + ":00";
        int route = j % 20;  // one route in twenty is the vehicle's
        for (int s = 0; s < 60; ++s) {
            Json::Value visit(Json::objectValue);
            visit["Location"] = stopCode(route, s);
            visit["LocationName"] = "Stop " + std::to_string(s);
            visit["ScheduledArrivalTime"] = "2024-06-03 11:15:00";
            visit["ArrivalTime"] = "2024-06-03 11:16:00";
            visit["ArrivalStatus"] = s < 20 ? "A" : "E";
            visit["TimingPoint"] = s % 3 == 0 ? 1 : 0;
            journey["visits"].append(visit);
        }
        journeys.append(journey);
    }
    const std::string doc = text(journeys);
    for (auto _ : state) {
        OpenDataArrivals result = OpenDataR2P_FeedImpl::parseJourneys(doc, pointIds, ciCodes, true, 3600);
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_R2pJourneyChoice)->Unit(benchmark::kMillisecond);

void BM_LineStatusFiveModes(benchmark::State& state) {
    const char* const modes[] = {"tube", "elizabeth-line", "overground", "dlr", "tram"};
    const int lineCounts[] = {11, 1, 6, 1, 1};
    std::vector<std::string> docs;
    for (int m = 0; m < 5; ++m) {
        Json::Value lines(Json::arrayValue);
        for (int l = 0; l < lineCounts[m]; ++l) {
            Json::Value line(Json::objectValue);
            line["id"] = std::string(modes[m]) + std::to_string(l);
            line["name"] = "Line " + std::to_string(l);
            line["modeName"] = modes[m];
            for (int s = 0; s < 1 + l % 3; ++s) {
                Json::Value status(Json::objectValue);
                status["statusSeverity"] = 10 - s * 2;
                status["statusSeverityDescription"] = s == 0 ? "Good Service" : "Minor Delays";
                status["reason"] = "Minor delays between Liverpool Street and Epping due to an earlier signal failure.";
                line["lineStatuses"].append(status);
            }
            lines.append(line);
        }
        docs.push_back(text(lines));
    }
    for (auto _ : state) {
        std::vector<LineStatusRecord> lines;
        int32_t largest = 0;
        for (const auto& doc : docs) TFL_Line_Status_FeedImpl::parse(doc, lines, largest);
        TFL_Line_Status_FeedImpl::sortLines(lines, "mode", "name", "");
        benchmark::DoNotOptimize(lines);
    }
}
BENCHMARK(BM_LineStatusFiveModes)->Unit(benchmark::kMicrosecond);
}  // namespace
