// The host platform's thin SQLite wrapper. Statements are prepared once and
// take their values through Bind, never spliced into the SQL text.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

class Csqlite {
public:
    Csqlite() = default;
    ~Csqlite() { Close(); }
    Csqlite(const Csqlite&) = delete;
    Csqlite& operator=(const Csqlite&) = delete;

    // Opens read-only when readWrite is false (the database must exist);
    // returns and remembers whether it opened. Only a regular file is opened
    // (a read-write open may create one); anything else at the path, or at
    // its journal or WAL path, is refused with a level-8 line naming it.
    bool Open(const std::string& path, bool readWrite);
    void Close();
    bool IsOpen() const { return m_open; }
    sqlite3* Handle() const { return m_db; }
    const std::string& Path() const { return m_path; }

private:
    sqlite3* m_db = nullptr;
    std::string m_path;
    bool m_open = false;
};

// One prepared statement. Invalid when the database is closed or the SQL
// can't be prepared; an invalid query binds nothing and yields no rows.
class CsqliteQuerySelect {
public:
    CsqliteQuerySelect(const std::string& sql, const Csqlite& db);
    ~CsqliteQuerySelect();
    CsqliteQuerySelect(const CsqliteQuerySelect&) = delete;
    CsqliteQuerySelect& operator=(const CsqliteQuerySelect&) = delete;

    bool IsValid() const { return m_stmt != nullptr; }
    const std::string& Error() const { return m_error; }
    // 1-based parameter positions, as in SQLite.
    CsqliteQuerySelect& Bind(int position, const std::string& value);
    CsqliteQuerySelect& BindInt(int position, int64_t value);
    // True while a row is available, advancing one row per call.
    bool Step();
    std::string GetColumnAsString(int column, const std::string& defaultValue) const;
    int32_t GetColumnAsInt(int column, int32_t defaultValue) const;
    int64_t GetColumnAsInt64(int column, int64_t defaultValue) const;

private:
    sqlite3_stmt* m_stmt = nullptr;
    std::string m_error;
};
