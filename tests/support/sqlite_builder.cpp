#include "tests/support/sqlite_builder.h"

#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>


SqliteBuilder::SqliteBuilder(const std::string& path) {
    std::filesystem::path p(path);
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    std::filesystem::remove(p);
    if (sqlite3_open(path.c_str(), &m_db) != SQLITE_OK) throw std::runtime_error("cannot create " + path);
}

SqliteBuilder::~SqliteBuilder() { sqlite3_close(m_db); }

SqliteBuilder& SqliteBuilder::exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw std::runtime_error("sqlite: " + message + " in: " + sql);
    }
    return *this;
}

SqliteBuilder& SqliteBuilder::insert(const std::string& sql, const std::vector<std::string>& values) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(m_db) + " in: " + sql);
    for (size_t i = 0; i < values.size(); ++i)
        sqlite3_bind_text(stmt, static_cast<int>(i + 1), values[i].c_str(), -1, SQLITE_TRANSIENT);
    int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(m_db) + " in: " + sql);
    return *this;
}

SqliteBuilder& SqliteBuilder::attribute(const std::string& id, const std::string& symbol, const std::string& value) {
    if (!m_hasAttributes) {
        exec("create table if not exists attributes (id text, symbol text, value text);");
        m_hasAttributes = true;
    }
    return insert("insert into attributes (id, symbol, value) values (?, ?, ?);", {id, symbol, value});
}

