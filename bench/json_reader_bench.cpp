// The JSON reader against the jsoncpp reading the feeds had before it, on the
// documents the feeds see at their largest: each benchmark parses and walks
// the fields its feed reads. The "extra" counters are the bytes the parsed
// tree holds and the peak the parse reached, on top of the text itself.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "core/feed/json_document.h"
#include "tests/reference/json_reference.h"

namespace {
std::atomic<size_t> g_live{0}, g_peak{0};
}  // namespace

// Every allocation of the benchmark counted, in the allocator's own block
// sizes, so that a parse's memory is measured wherever it is made (the
// reader's node block is malloc'd and grown by realloc). glibc only.
#if defined(__GLIBC__)
namespace {
void counted(void* p) {
    const size_t live = g_live += malloc_usable_size(p);
    for (size_t peak = g_peak; live > peak && !g_peak.compare_exchange_weak(peak, live);) {
    }
}
}  // namespace

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);

void* malloc(size_t size) {
    void* p = __libc_malloc(size);
    if (p) counted(p);
    return p;
}
void* calloc(size_t count, size_t size) {
    void* p = __libc_calloc(count, size);
    if (p) counted(p);
    return p;
}
void* realloc(void* old, size_t size) {
    if (old) g_live -= malloc_usable_size(old);
    void* p = __libc_realloc(old, size);
    if (p) counted(p);
    else if (old) counted(old);
    return p;
}
void free(void* p) {
    if (p) g_live -= malloc_usable_size(p);
    __libc_free(p);
}
}
#endif

namespace {
std::string r2pJourneys() {
    std::string text = "[";
    for (int j = 0; j < 200; ++j) {
        text += std::string(j ? "," : "") + R"({"ScheduledStart":"2024-06-03 10:)" + std::to_string(10 + j % 50) +
                R"(:00","visits":[)";
        for (int s = 0; s < 60; ++s)
            text += std::string(s ? "," : "") + R"({"Location":"3400)" + std::to_string((j % 20) * 100 + s) +
                    R"(","LocationName":"Stop )" + std::to_string(s) +
                    R"(","ScheduledArrivalTime":"2024-06-03 11:15:00","ArrivalTime":"2024-06-03 11:16:00",)"
                    R"("ArrivalStatus":")" + (s < 20 ? "A" : "E") + R"(","TimingPoint":)" + (s % 3 ? "0" : "1") + "}";
        text += "]}";
    }
    return text + "]";
}

std::string flights() {
    std::string text = "[";
    for (int i = 0; i < 1000; ++i)
        text += std::string(i ? ",\n" : "") + R"({"Time":"14:)" + std::to_string(10 + i % 50) +
                R"(","PortOfCallA":"Destination )" + std::to_string(i) + R"(","FlightNo":"XY)" +
                std::to_string(1000 + i) + R"(","Airline":"Example Airways","Status":"Gate Open","Gate":")" +
                std::to_string(i % 40) + R"("})";
    return text + "]";
}

std::string predictions() {
    std::string text = "[";
    for (int i = 0; i < 500; ++i)
        text += std::string(i ? "," : "") + R"({"$type":"Tfl.Api.Presentation.Entities.Prediction","operationType":1,)"
                R"("naptanId":"4900000)" + std::to_string(100 + i % 60) + R"(","stationName":"Oxford Circus / Regent )"
                R"(Street )" + std::to_string(i) + R"(","lineName":"13","destinationName":"Aldwych",)"
                R"("direction":"outbound","timeToStation":)" + std::to_string(60 * i) +
                R"(,"expectedArrival":"2024-06-03T08:11:01Z"})";
    return text + "]";
}

std::string lineStatus() {
    std::ifstream in(std::string(WEBSERVICES_TEST_DATA) + "/opendata/tfl_line_status_tube.json", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The fields each feed reads, read the way it reads them.
template <class Value>
size_t walkR2p(const Value& root) {
    size_t bytes = 0;
    for (const auto& journey : root) {
        bytes += journey["ScheduledStart"].asString().size();
        for (const auto& visit : journey["visits"])
            for (const char* key : {"Location", "LocationName", "ScheduledArrivalTime", "ArrivalTime", "ArrivalStatus"})
                bytes += visit[key].asString().size() + (visit["TimingPoint"].asDouble() != 0);
    }
    return bytes;
}

template <class Value>
size_t walkFields(const Value& root, std::initializer_list<const char*> keys) {
    size_t bytes = 0;
    for (const auto& item : root)
        for (const char* key : keys)
            if (item.isMember(key)) bytes += item[key].asString().size();
    return bytes;
}

template <class Value>
size_t walkLineStatus(const Value& root) {
    size_t bytes = 0;
    for (const auto& line : root) {
        bytes += line["id"].asString().size() + line["name"].asString().size();
        for (const auto& status : line["lineStatuses"])
            bytes += status["statusSeverityDescription"].asString().size() + status["statusSeverity"].asInt();
    }
    return bytes;
}

template <class Value>
size_t walk(const Value& root, int shape) {
    switch (shape) {
        case 0: return walkR2p(root);
        case 1: return walkFields(root, {"Time", "PortOfCallA", "FlightNo", "Airline", "Status", "Gate"});
        case 2: return walkFields(root, {"naptanId", "stationName", "timeToStation", "expectedArrival", "direction"});
        default: return walkLineStatus(root);
    }
}

const std::string& document(int shape) {
    static const std::string documents[] = {r2pJourneys(), flights(), predictions(), lineStatus()};
    return documents[shape];
}

// Parses the document of the benchmark's argument with read into a Document
// and walks the root that root takes from it.
template <class Document, class Root, class Read>
void parseAndWalk(benchmark::State& state, Read read, Root root) {
    const int shape = static_cast<int>(state.range(0));
    const std::string& text = document(shape);
    size_t held = 0, peak = 0;
    for (auto _ : state) {
        const size_t before = g_live;
        g_peak = before;
        Document parsed;
        std::string errors;
        if (!read(text, parsed, errors)) state.SkipWithError(errors.c_str());
        held = g_live - before;
        benchmark::DoNotOptimize(walk(root(parsed), shape));
        peak = g_peak - before;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["doc_bytes"] = static_cast<double>(text.size());
    state.counters["extra_held"] = static_cast<double>(held);
    state.counters["extra_peak"] = static_cast<double>(peak);
}

void BM_Reader(benchmark::State& state) {
    parseAndWalk<JsonDocument>(
        state, [](const std::string& text, JsonDocument& d, std::string& e) { return readJsonDocument(text, d, e, SIZE_MAX); },
        [](const JsonDocument& d) { return d.root(); });
}

void BM_Reference(benchmark::State& state) {
    parseAndWalk<Json::Value>(
        state, [](const std::string& text, Json::Value& root, std::string& e) { return readJsonReference(text, root, e); },
        [](const Json::Value& root) -> const Json::Value& { return root; });
}

// 0: R2P journeys (2 MB), 1: 1,000 flights, 2: 500 TfL predictions, 3: TfL line status of the tube.
BENCHMARK(BM_Reader)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Reference)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);
}  // namespace
