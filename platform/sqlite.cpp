#include "platform/sqlite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/debug.h"

namespace {

enum class FileKind { Regular, Absent, Other, Unopenable };

// What is at path, seen through a descriptor opened without blocking.
// errorNumber is set for Unopenable.
FileKind fileKind(const std::string& path, int& errorNumber) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        errorNumber = errno;
        return errno == ENOENT ? FileKind::Absent : FileKind::Unopenable;
    }
    struct stat info {};
    bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    close(fd);
    return regular ? FileKind::Regular : FileKind::Other;
}

}  // namespace

bool Csqlite::Open(const std::string& path, bool readWrite) {
    Close();
    m_path = path;
    // SQLite opens its files with a blocking open: a FIFO left at the path
    // would hold up this refresh, every later one and shutdown until some
    // writer came. It also opens a rollback journal it finds, to see whether
    // it is hot, and in WAL mode the log, so those must be regular too.
    // SQLite opens the path again after this check; only a writer swapping
    // the file in between could still make it wait.
    int errorNumber = 0;
    const FileKind kind = fileKind(path, errorNumber);
    if (kind == FileKind::Absent && !readWrite) return false;
    if (kind == FileKind::Unopenable) {
        logLine(8, "Csqlite: ", path, " cannot be opened: ", std::strerror(errorNumber));
        return false;
    }
    for (const std::string& file : {path, path + "-journal", path + "-wal"}) {
        if ((file == path ? kind : fileKind(file, errorNumber)) != FileKind::Other) continue;
        logLine(8, "Csqlite: ", file, " is not a regular file; the database is not opened");
        return false;
    }
    int flags = readWrite ? (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
        Close();
        return false;
    }
    sqlite3_busy_timeout(m_db, 1000);
    m_open = true;
    return true;
}

void Csqlite::Close() {
    if (m_db) sqlite3_close(m_db);
    m_db = nullptr;
    m_open = false;
}

CsqliteQuerySelect::CsqliteQuerySelect(const std::string& sql, const Csqlite& db) {
    if (!db.IsOpen()) {
        m_error = "database is not open";
        return;
    }
    if (sqlite3_prepare_v2(db.Handle(), sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr) != SQLITE_OK) {
        m_error = sqlite3_errmsg(db.Handle());
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

CsqliteQuerySelect::~CsqliteQuerySelect() { sqlite3_finalize(m_stmt); }

CsqliteQuerySelect& CsqliteQuerySelect::Bind(int position, const std::string& value) {
    if (m_stmt) sqlite3_bind_text(m_stmt, position, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    return *this;
}

CsqliteQuerySelect& CsqliteQuerySelect::BindInt(int position, int64_t value) {
    if (m_stmt) sqlite3_bind_int64(m_stmt, position, value);
    return *this;
}

bool CsqliteQuerySelect::Step() { return m_stmt && sqlite3_step(m_stmt) == SQLITE_ROW; }

std::string CsqliteQuerySelect::GetColumnAsString(int column, const std::string& defaultValue) const {
    if (!m_stmt || sqlite3_column_type(m_stmt, column) == SQLITE_NULL) return defaultValue;
    const unsigned char* text = sqlite3_column_text(m_stmt, column);
    if (!text) return defaultValue;
    return std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(m_stmt, column));
}

int32_t CsqliteQuerySelect::GetColumnAsInt(int column, int32_t defaultValue) const {
    if (!m_stmt || sqlite3_column_type(m_stmt, column) == SQLITE_NULL) return defaultValue;
    return sqlite3_column_int(m_stmt, column);
}

int64_t CsqliteQuerySelect::GetColumnAsInt64(int column, int64_t defaultValue) const {
    if (!m_stmt || sqlite3_column_type(m_stmt, column) == SQLITE_NULL) return defaultValue;
    return sqlite3_column_int64(m_stmt, column);
}
