// Read-only look-ups in the vehicle's attribute database (table "attributes":
// id, symbol, value). Values are bound, never spliced into SQL.
#pragma once

#include <string>
#include <vector>

#include "platform/sqlite.h"

constexpr const char* kVornDatabasePath = "/vorn/database/VORN.db";

class CPointDataLookup {
public:
    // Opens path read-only; a failure is logged and every look-up then returns empty.
    explicit CPointDataLookup(const std::string& path);
    // The id of the point whose attribute `symbol` equals `value`, or "".
    std::string LookupPoint(const std::string& value, const std::string& symbol);
    // The `symbol` value of each id, "" where missing; same length and order as ids.
    std::vector<std::string> Lookup(const std::vector<std::string>& ids, const std::string& symbol);
    bool IsOpen() const { return m_db.IsOpen(); }

private:
    Csqlite m_db;
};

class CVehicleDataLookup {
public:
    explicit CVehicleDataLookup(const std::string& path);
    // The attribute `symbol` of the vehicle whose "Id" attribute is `vehicle`, or "".
    std::string GetSymbolValue(const std::string& vehicle, const std::string& symbol);
    bool IsOpen() const { return m_db.IsOpen(); }

private:
    Csqlite m_db;
};

// The first column of the first row of a statement with one bound text per
// placeholder, or "" when there is no row or the statement is invalid.
std::string selectFirstText(const Csqlite& db, const std::string& sql, const std::vector<std::string>& values);
