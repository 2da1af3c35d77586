#include "core/feed/lookups.h"

#include "platform/debug.h"

std::string selectFirstText(const Csqlite& db, const std::string& sql, const std::vector<std::string>& values) {
    CsqliteQuerySelect query(sql, db);
    if (!query.IsValid()) return "";
    for (size_t i = 0; i < values.size(); ++i) query.Bind(static_cast<int>(i + 1), values[i]);
    return query.Step() ? query.GetColumnAsString(0, "") : "";
}

CPointDataLookup::CPointDataLookup(const std::string& path) {
    if (!m_db.Open(path, false)) logLine(16, "Read Only database failed to open: ", path);
}

std::string CPointDataLookup::LookupPoint(const std::string& value, const std::string& symbol) {
    logLine(2, "CPointDataLookup::LookupPoint: ", symbol);
    if (!m_db.IsOpen()) {
        logLine(16, "CPointDataLookup::LookupPoint: read-only database is not open.");
        return "";
    }
    return selectFirstText(m_db, "select id from attributes where value = ? and symbol=?;", {value, symbol});
}

std::vector<std::string> CPointDataLookup::Lookup(const std::vector<std::string>& ids, const std::string& symbol) {
    logLine(2, "CPointDataLookup::Lookup: ", symbol);
    if (!m_db.IsOpen()) {
        logLine(16, "CPointDataLookup::Lookup: read-only database is not open.");
        return {};
    }
    std::vector<std::string> values;
    values.reserve(ids.size());
    for (const auto& id : ids)
        values.push_back(selectFirstText(m_db, "select value from attributes where id = ? and symbol=?;", {id, symbol}));
    return values;
}

CVehicleDataLookup::CVehicleDataLookup(const std::string& path) {
    if (!m_db.Open(path, false))
        logLine(16, "CVehicleDataLookup::CVehicleDataLookup: Read Only database failed to open: ", path);
}

std::string CVehicleDataLookup::GetSymbolValue(const std::string& vehicle, const std::string& symbol) {
    std::string id = selectFirstText(m_db, "select id from attributes where symbol = 'Id' and value = ?;", {vehicle});
    if (id.empty()) {
        logLine(2, "CVehicleDataLookup::GetSymbolValue: vehicle ID '", vehicle, "' not found in attributes table");
        return "";
    }
    std::string value =
        selectFirstText(m_db, "select value from attributes where id = ? and symbol = ?;", {id, symbol});
    if (value.empty())
        logLine(2, "CVehicleDataLookup::GetSymbolValue: symbol '", symbol, "' not found for vehicle '", vehicle,
                "' in attributes table");
    return value;
}
