// Builds real SQLite files for tests: a schema and rows, values bound.
#pragma once

#include <string>
#include <vector>

struct sqlite3;

class SqliteBuilder {
public:
    // Creates (or truncates) the database file at path, creating its folders.
    explicit SqliteBuilder(const std::string& path);
    ~SqliteBuilder();
    SqliteBuilder(const SqliteBuilder&) = delete;
    SqliteBuilder& operator=(const SqliteBuilder&) = delete;

    // Runs SQL text without parameters (schema); throws on error.
    SqliteBuilder& exec(const std::string& sql);
    // Runs one statement with its ? placeholders bound to the values in order.
    SqliteBuilder& insert(const std::string& sql, const std::vector<std::string>& values);
    // Adds one row to the attribute table ("attributes": id, symbol, value), creating it if needed.
    SqliteBuilder& attribute(const std::string& id, const std::string& symbol, const std::string& value);

private:
    sqlite3* m_db = nullptr;
    bool m_hasAttributes = false;
};
