#ifndef QUELLMAR_BENCH_SQLITE_H
#define QUELLMAR_BENCH_SQLITE_H

#include "Patterns.h"

#include <sqlite3.h>

#include <string>

namespace Quellmar::bench::sql {

class Statement;

// One connection, tuned as a user would for bulk work that may be lost on a crash:
// synchronous off; `synced` keeps SQLite's durable default (FULL) instead. Closed on destruction.
class Database {
public:
    // `create` starts a fresh file holding the table `id TEXT PRIMARY KEY, data BLOB`.
    Database(const std::string& path, bool create, bool synced = false);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void exec(const char* sql);
    Statement prepare(const char* sql);
    sqlite3* get() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

class Statement {
public:
    Statement(sqlite3* db, const char* sql);
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement& operator=(Statement&&) = delete;

    // insert into t(id, data)
    void insert(const std::string& id, const void* data, std::size_t size);
    // select data from t where id = ?; false when there is no such row.
    bool selectInto(const std::string& id, Bytes& out);
    // Same, copying straight into `out`, which must hold `size` bytes.
    bool selectInto(const std::string& id, void* out, std::size_t size);

private:
    void fail(const char* what) const;
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

inline const char* const kInsert = "INSERT INTO t(id, data) VALUES(?, ?)";
inline const char* const kSelect = "SELECT data FROM t WHERE id = ?";

}  // namespace Quellmar::bench::sql

#endif
