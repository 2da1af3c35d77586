#include "platform/module.h"

#include <iostream>
#include <sstream>

#include "platform/debug.h"

bool CModuleParmMap::fromJsonText(const std::string& text, CModuleParmMap& out, std::string& error) {
    Json::CharReaderBuilder builder;
    Json::Value root;
    std::istringstream in(text);
    std::string errors;
    if (!Json::parseFromStream(builder, in, &root, &errors)) {
        error = "not valid JSON: " + errors.substr(0, errors.find('\n'));
        return false;
    }
    if (!root.isObject()) {
        error = "not a JSON object";
        return false;
    }
    out = CModuleParmMap(root);
    return true;
}

std::string CParameters::serialiseAsJSON() const {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, m_json);
}

void CModuleTag::SetValueByTag(const std::string& tag, const std::string& value) {
    for (auto& entry : m_values) {
        if (entry.first == tag) {
            entry.second = value;
            m_pending.emplace_back(tag, value);
            return;
        }
    }
    m_values.emplace_back(tag, value);
    m_pending.emplace_back(tag, value);
}

std::string CModuleTag::GetValueByTag(const std::string& tag) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& entry : m_values)
        if (entry.first == tag) return entry.second;
    return "";
}

std::vector<SymbolValue> CModuleTag::takePending() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<SymbolValue> pending;
    pending.swap(m_pending);
    return pending;
}

CModule::CModule(const CModuleParmMap& parmMap, const std::string& name, unsigned int version)
    : m_parmMap(parmMap), m_name(name), m_version(version) {}

void CModule::Print() const { std::cout << m_name << " version " << m_version << '\n'; }
void CModule::SymbolUpdate(const std::string&, int, const std::string&) {}
void CModule::ParametersUpdate(const CParameters&) {}
void CModule::ProcessMessage(const std::string&) {}
void CModule::Shutdown() {}
void CModule::ModuleStatusUpdate(const std::string&, eModuleStatus) {}
void CModule::MessageAck(const std::string&) {}
void CModule::ConnectionStateUpdate(bool) {}
void CModule::SetEventLoop(CEventLoop& loop) { m_loop = &loop; }

void CModule::Broadcast() {
    std::vector<SymbolValue> pending = m_tags.takePending();
    if (m_broadcastSink) m_broadcastSink(pending);
}
