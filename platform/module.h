// Our host framework: the module base class, its parameter map and records,
// and the tag store through which a module publishes its symbols.
#pragma once

#include <json/json.h>

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class CEventLoop;

// The host's configuration of one module: a JSON object with the sections
// "ModuleParams", "ExportSymbols", "ImportSymbols", "ExportMessages", "ImportMessages".
class CModuleParmMap {
public:
    CModuleParmMap() : m_json(Json::objectValue) {}
    explicit CModuleParmMap(Json::Value json) : m_json(std::move(json)) {}
    // Parses JSON text; returns false (and leaves an error text) when it is not a JSON object.
    static bool fromJsonText(const std::string& text, CModuleParmMap& out, std::string& error);

    const Json::Value& json() const { return m_json; }
    Json::Value& json() { return m_json; }

private:
    Json::Value m_json;
};

// A parameters record the host sends to a running module.
class CParameters {
public:
    CParameters() : m_json(Json::objectValue) {}
    explicit CParameters(Json::Value json) : m_json(std::move(json)) {}
    const Json::Value& json() const { return m_json; }
    std::string serialiseAsJSON() const;

private:
    Json::Value m_json;
};

using SymbolValue = std::pair<std::string, std::string>;
using BroadcastSink = std::function<void(const std::vector<SymbolValue>&)>;

// Named text values of one module, with the values set since the last broadcast.
// Callers hold mutex() around each SetValueByTag, as the host requires.
class CModuleTag {
public:
    void SetValueByTag(const std::string& tag, const std::string& value);
    // Current value of a tag, or "" when it was never set.
    std::string GetValueByTag(const std::string& tag) const;
    // Hands over the values set since the previous call, in the order they were set.
    std::vector<SymbolValue> takePending();
    std::mutex& mutex() { return m_mutex; }

private:
    mutable std::mutex m_mutex;
    std::vector<SymbolValue> m_values;
    std::vector<SymbolValue> m_pending;
};

class CModule {
public:
    enum eModuleStatus { eStatusOk = 0, eStatusWarning = 1, eStatusError = 2 };

    CModule(const CModuleParmMap& parmMap, const std::string& name, unsigned int version);
    virtual ~CModule() = default;
    CModule(const CModule&) = delete;
    CModule& operator=(const CModule&) = delete;

    virtual void Print() const;
    // An imported symbol changed; x is a host argument the module passes on.
    virtual void SymbolUpdate(const std::string& name, int x, const std::string& value);
    virtual void ParametersUpdate(const CParameters& params);
    virtual void ProcessMessage(const std::string& message);
    virtual void Shutdown();
    virtual void ModuleStatusUpdate(const std::string& module, eModuleStatus status);
    virtual void MessageAck(const std::string& message);
    virtual void ConnectionStateUpdate(bool connected);

    virtual void SetEventLoop(CEventLoop& loop);
    void SetModuleStatus(eModuleStatus status) { m_status = status; }
    eModuleStatus ModuleStatus() const { return m_status; }
    // Publishes the tags set since the previous broadcast to the host's sink.
    void Broadcast();
    void setBroadcastSink(BroadcastSink sink) { m_broadcastSink = std::move(sink); }

    const std::string& Name() const { return m_name; }
    const CModuleParmMap& ParmMap() const { return m_parmMap; }
    CModuleTag& Tags() { return m_tags; }
    CEventLoop* EventLoop() const { return m_loop; }

private:
    CModuleParmMap m_parmMap;
    std::string m_name;
    unsigned int m_version;
    eModuleStatus m_status = eStatusOk;
    CModuleTag m_tags;
    BroadcastSink m_broadcastSink;
    CEventLoop* m_loop = nullptr;
};
