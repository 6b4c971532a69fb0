#include "Sqlite.h"

#include "Harness.h"
#include "Scratch.h"

#include <cstring>
#include <utility>

namespace Quellmar::bench::sql {

Database::Database(const std::string& path, bool create, bool synced) {
    if (create)
        removeFile(path);
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
        const std::string why = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        throw BenchFailure("SQLite: open " + path + ": " + why);
    }
    exec(synced ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF");
    if (create)
        exec("CREATE TABLE t(id TEXT PRIMARY KEY, data BLOB)");
}

Database::~Database() {
    sqlite3_close(m_db);
}

void Database::exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string why = error ? error : "unknown error";
        sqlite3_free(error);
        throw BenchFailure(std::string("SQLite: ") + sql + ": " + why);
    }
}

Statement Database::prepare(const char* sql) {
    return Statement(m_db, sql);
}

Statement::Statement(sqlite3* db, const char* sql) : m_db(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
        fail(sql);
}

Statement::~Statement() {
    sqlite3_finalize(m_stmt);
}

Statement::Statement(Statement&& other) noexcept
    : m_db(other.m_db), m_stmt(std::exchange(other.m_stmt, nullptr)) {}

void Statement::fail(const char* what) const {
    throw BenchFailure(std::string("SQLite: ") + what + ": " + sqlite3_errmsg(m_db));
}

void Statement::insert(const std::string& id, const void* data, std::size_t size) {
    sqlite3_reset(m_stmt);
    if (sqlite3_bind_text(m_stmt, 1, id.data(), static_cast<int>(id.size()), SQLITE_STATIC) ||
        sqlite3_bind_blob64(m_stmt, 2, data, size, SQLITE_STATIC))
        fail("bind");
    if (sqlite3_step(m_stmt) != SQLITE_DONE)
        fail("insert");
    sqlite3_reset(m_stmt);
}

bool Statement::selectInto(const std::string& id, Bytes& out) {
    sqlite3_reset(m_stmt);
    if (sqlite3_bind_text(m_stmt, 1, id.data(), static_cast<int>(id.size()), SQLITE_STATIC))
        fail("bind");
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_DONE)
        return false;
    if (rc != SQLITE_ROW)
        fail("select");
    const int size = sqlite3_column_bytes(m_stmt, 0);
    const void* blob = sqlite3_column_blob(m_stmt, 0);
    out.assign(static_cast<const unsigned char*>(blob),
               static_cast<const unsigned char*>(blob) + size);
    sqlite3_reset(m_stmt);  // ends the read, so no transaction stays open
    return true;
}

bool Statement::selectInto(const std::string& id, void* out, std::size_t size) {
    sqlite3_reset(m_stmt);
    if (sqlite3_bind_text(m_stmt, 1, id.data(), static_cast<int>(id.size()), SQLITE_STATIC))
        fail("bind");
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_DONE)
        return false;
    if (rc != SQLITE_ROW)
        fail("select");
    const void* blob = sqlite3_column_blob(m_stmt, 0);
    if (static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, 0)) != size)
        throw BenchFailure("SQLite: row " + id + " has the wrong size");
    std::memcpy(out, blob, size);
    sqlite3_reset(m_stmt);
    return true;
}

}  // namespace Quellmar::bench::sql
