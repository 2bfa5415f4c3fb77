// The registry (HKEY_LOCAL_MACHINE only) as one SQLite database under the root, shared by every
// process. Key and value names compare without regard to ASCII case and keep their spelling.
#include "kobject.h"

#include <cstring>
#include <mutex>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

struct brontel_hkey {
    int64_t id;
    REGSAM access;
};

namespace {

const int64_t rootKeyId = 0;
const int busyTimeoutMs = 5000;

std::recursive_mutex& dbLock() {
    static std::recursive_mutex lock;
    return lock;
}

struct Database {
    sqlite3* db = nullptr;
    bool writable = false;
};

Database& database() {
    static Database instance;
    return instance;
}

std::string databasePath() {
    return standin::rootDirectory() + "/registry.db";
}

std::string lowerAscii(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

LSTATUS fromSqlite(int rc) {
    switch (rc) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
        return ERROR_SUCCESS;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:
        return ERROR_ACCESS_DENIED;
    case SQLITE_NOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_FULL:
        return ERROR_DISK_FULL;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return ERROR_REGISTRY_CORRUPT;
    default:
        return ERROR_REGISTRY_IO_FAILED;
    }
}

// Keys that every Windows machine has: a new machine starts with them, so the program meets the
// same registry on both builds.
const char* const wellKnownKeys[][6] = {
    {"SOFTWARE", nullptr},
    {"SYSTEM", "CurrentControlSet", "Services", nullptr},
    {"SYSTEM", "CurrentControlSet", "Services", "EventLog", "Application", nullptr},
};

// Whether the registry holds no key at all.
bool registryEmpty(sqlite3* db) {
    sqlite3_stmt* select = nullptr;
    bool empty =
        sqlite3_prepare_v2(db, "SELECT 1 FROM keys LIMIT 1", -1, &select, nullptr) == SQLITE_OK &&
        sqlite3_step(select) == SQLITE_DONE;
    sqlite3_finalize(select);
    return empty;
}

// Gives an empty registry the well-known keys, in one transaction (a registry that holds any key
// is left as it is, so that a key deleted on purpose stays deleted).
int seedWellKnownKeys(sqlite3* db) {
    if (!registryEmpty(db)) {
        return SQLITE_OK;
    }
    int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        return rc;
    }
    if (!registryEmpty(db)) { // another process seeded it meanwhile
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return SQLITE_OK;
    }
    sqlite3_stmt* insert = nullptr;
    sqlite3_stmt* select = nullptr;
    rc = sqlite3_prepare_v2(db, "INSERT OR IGNORE INTO keys(parent, name, lname) VALUES(?1,?2,?3)",
                            -1, &insert, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_prepare_v2(db, "SELECT id FROM keys WHERE parent=?1 AND lname=?2", -1, &select,
                                nullptr);
    }
    for (const auto& path : wellKnownKeys) {
        int64_t parent = rootKeyId;
        for (int i = 0; rc == SQLITE_OK && path[i] != nullptr; ++i) {
            std::string name = path[i];
            std::string lname = lowerAscii(name);
            sqlite3_reset(insert);
            sqlite3_bind_int64(insert, 1, parent);
            sqlite3_bind_text(insert, 2, name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 3, lname.c_str(), -1, SQLITE_TRANSIENT);
            rc = sqlite3_step(insert) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db);
            if (rc != SQLITE_OK) {
                break;
            }
            sqlite3_reset(select);
            sqlite3_bind_int64(select, 1, parent);
            sqlite3_bind_text(select, 2, lname.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(select) != SQLITE_ROW) {
                rc = SQLITE_ERROR;
                break;
            }
            parent = sqlite3_column_int64(select, 0);
        }
    }
    sqlite3_finalize(insert);
    sqlite3_finalize(select);
    sqlite3_exec(db, rc == SQLITE_OK ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
    return rc;
}

// Opens the database once per process: read-write when the root allows it, else read-only.
// A missing database is created with the well-known keys, for readers too, where the root can
// be written; `forWrite` fails when it cannot.
LSTATUS openDatabase(bool forWrite, Database** out) {
    Database& d = database();
    if (d.db != nullptr && (d.writable || !forWrite)) {
        *out = &d;
        return ERROR_SUCCESS;
    }
    if (d.db != nullptr) {
        // Opened read-only before; a writer may have created what we need since.
        sqlite3_close(d.db);
        d.db = nullptr;
    }
    std::string path = databasePath();
    bool exists = access(path.c_str(), F_OK) == 0;
    if (!exists && !standin::ensureRootDirectory()) {
        return forWrite ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    }
    if (!exists && !forWrite && access(standin::rootDirectory().c_str(), W_OK) != 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    bool canWrite = access(standin::rootDirectory().c_str(), W_OK) == 0 &&
                    (!exists || access(path.c_str(), W_OK) == 0);
    if (forWrite && !canWrite) {
        return ERROR_ACCESS_DENIED;
    }
    int flags = canWrite ? (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) : SQLITE_OPEN_READONLY;
    flags |= SQLITE_OPEN_FULLMUTEX;
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close(db);
        return fromSqlite(rc);
    }
    sqlite3_busy_timeout(db, busyTimeoutMs);
    if (canWrite) {
        rc = sqlite3_exec(db,
                          "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY, parent INTEGER "
                          "NOT NULL, name TEXT NOT NULL, lname TEXT NOT NULL, UNIQUE(parent, "
                          "lname));"
                          "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, name TEXT NOT "
                          "NULL, lname TEXT NOT NULL, type INTEGER NOT NULL, data BLOB, "
                          "PRIMARY KEY(key, lname));"
                          "CREATE TABLE IF NOT EXISTS keysec(key INTEGER PRIMARY KEY, dacl TEXT "
                          "NOT NULL);",
                          nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) {
            rc = seedWellKnownKeys(db);
        }
        if (rc != SQLITE_OK) {
            sqlite3_close(db);
            return fromSqlite(rc);
        }
    }
    d.db = db;
    d.writable = canWrite;
    *out = &d;
    return ERROR_SUCCESS;
}

// Bytes bound as a blob.
struct Blob {
    const void* data;
    size_t size;
};

// A prepared statement that finalizes itself.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) {
        rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool ok() const { return rc_ == SQLITE_OK; }
    int prepareResult() const { return rc_; }
    sqlite3_stmt* get() { return stmt_; }
    // Binds the arguments to ?1, ?2, ... and takes the first step: SQLITE_ROW, SQLITE_DONE or
    // the error.
    template <class... Args> int run(const Args&... args) {
        bindFrom(1, args...);
        return sqlite3_step(stmt_);
    }

  private:
    void bindFrom(int) {}
    template <class First, class... Rest>
    void bindFrom(int i, const First& first, const Rest&... rest) {
        bind(i, first);
        bindFrom(i + 1, rest...);
    }
    void bind(int i, int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
    void bind(int i, const std::string& v) {
        sqlite3_bind_text(stmt_, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    void bind(int i, const Blob& v) {
        sqlite3_bind_blob(stmt_, i, v.size ? v.data : "", static_cast<int>(v.size),
                          SQLITE_TRANSIENT);
    }

    sqlite3_stmt* stmt_ = nullptr;
    int rc_;
};

// Runs a statement that returns no rows: ERROR_SUCCESS, or the failure as a registry status.
template <class... Args> LSTATUS execute(sqlite3* db, const char* sql, const Args&... args) {
    Statement s(db, sql);
    if (!s.ok()) {
        return fromSqlite(s.prepareResult());
    }
    int step = s.run(args...);
    return step == SQLITE_DONE ? ERROR_SUCCESS : fromSqlite(step);
}

std::vector<std::string> splitPath(const wchar_t* path) {
    std::vector<std::string> parts;
    if (path == nullptr) {
        return parts;
    }
    std::wstring current;
    for (const wchar_t* p = path;; ++p) {
        if (*p == L'\\' || *p == L'\0') {
            if (!current.empty()) {
                parts.push_back(standin::toUtf8(current.c_str()));
            }
            current.clear();
            if (*p == L'\0') {
                break;
            }
        } else {
            current.push_back(*p);
        }
    }
    return parts;
}

// The id of a key's child, or -1 when missing; sets `rc` on a database error.
int64_t findChild(sqlite3* db, int64_t parent, const std::string& name, LSTATUS& rc) {
    Statement s(db, "SELECT id FROM keys WHERE parent=?1 AND lname=?2");
    if (!s.ok()) {
        rc = fromSqlite(s.prepareResult());
        return -1;
    }
    int step = s.run(parent, lowerAscii(name));
    if (step == SQLITE_ROW) {
        return sqlite3_column_int64(s.get(), 0);
    }
    if (step != SQLITE_DONE) {
        rc = fromSqlite(step);
    }
    return -1;
}

bool keyExists(sqlite3* db, int64_t id) {
    if (id == rootKeyId) {
        return true;
    }
    Statement s(db, "SELECT 1 FROM keys WHERE id=?1");
    return s.ok() && s.run(id) == SQLITE_ROW;
}

bool isWriteAccess(REGSAM access) {
    return (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY | (KEY_ALL_ACCESS & ~KEY_READ))) != 0 ||
           (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
}

REGSAM normalizeAccess(REGSAM access) {
    if (access & GENERIC_ALL) {
        access |= KEY_ALL_ACCESS;
    }
    if (access & GENERIC_READ) {
        access |= KEY_READ;
    }
    if (access & GENERIC_WRITE) {
        access |= KEY_WRITE;
    }
    return access;
}

bool validKey(HKEY key) {
    return key != nullptr;
}

int64_t keyId(HKEY key) {
    return key == HKEY_LOCAL_MACHINE ? rootKeyId : key->id;
}
REGSAM keyAccess(HKEY key) {
    return key == HKEY_LOCAL_MACHINE ? KEY_ALL_ACCESS : key->access;
}

HKEY newKey(int64_t id, REGSAM access) {
    auto* key = new brontel_hkey;
    key->id = id;
    key->access = normalizeAccess(access);
    return key;
}

class Transaction {
  public:
    explicit Transaction(sqlite3* db) : db_(db) {
        rc_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    }
    ~Transaction() {
        if (rc_ == SQLITE_OK && !done_) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    int begun() const { return rc_; }
    int commit() {
        done_ = true;
        return sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    }

  private:
    sqlite3* db_;
    int rc_;
    bool done_ = false;
};

// The checks the value and enumeration calls make before touching the database: a live handle
// opened with the access the call needs. The caller holds dbLock().
LSTATUS openForKey(HKEY key, REGSAM needed, bool forWrite, Database** out) {
    if (!validKey(key)) {
        return ERROR_INVALID_HANDLE;
    }
    if ((keyAccess(key) & needed) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    return openDatabase(forWrite, out);
}

} // namespace

extern "C" LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access,
                                        PHKEY result) {
    (void)options;
    if (!validKey(key) || result == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    *result = nullptr;
    std::lock_guard<std::recursive_mutex> guard(dbLock());
    Database* d = nullptr;
    LSTATUS rc = openDatabase(false, &d);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    if (isWriteAccess(normalizeAccess(access)) && !d->writable) {
        // Another process may have made it writable since; otherwise writing is refused.
        rc = openDatabase(true, &d);
        if (rc != ERROR_SUCCESS) {
            return ERROR_ACCESS_DENIED;
        }
    }
    int64_t id = keyId(key);
    if (!keyExists(d->db, id)) {
        return ERROR_KEY_DELETED;
    }
    rc = ERROR_SUCCESS;
    for (const std::string& part : splitPath(subKey)) {
        id = findChild(d->db, id, part, rc);
        if (id < 0) {
            return rc != ERROR_SUCCESS ? rc : ERROR_FILE_NOT_FOUND;
        }
    }
    *result = newKey(id, access);
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass,
                                          DWORD options, REGSAM access,
                                          LPSECURITY_ATTRIBUTES security, PHKEY result,
                                          LPDWORD disposition) {
    (void)reserved, (void)keyClass, (void)security;
    if (!validKey(key) || result == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (options != REG_OPTION_NON_VOLATILE && options != REG_OPTION_VOLATILE) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    std::lock_guard<std::recursive_mutex> guard(dbLock());
    Database* d = nullptr;
    LSTATUS rc = openDatabase(true, &d);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    Transaction tx(d->db);
    if (tx.begun() != SQLITE_OK) {
        return fromSqlite(tx.begun());
    }
    int64_t id = keyId(key);
    if (!keyExists(d->db, id)) {
        return ERROR_KEY_DELETED;
    }
    bool created = false;
    for (const std::string& part : splitPath(subKey)) {
        rc = ERROR_SUCCESS;
        int64_t child = findChild(d->db, id, part, rc);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        if (child < 0) {
            rc = execute(d->db, "INSERT INTO keys(parent, name, lname) VALUES(?1, ?2, ?3)", id,
                         part, lowerAscii(part));
            if (rc != ERROR_SUCCESS) {
                return rc;
            }
            child = sqlite3_last_insert_rowid(d->db);
            created = true;
        }
        id = child;
    }
    int commit = tx.commit();
    if (commit != SQLITE_OK) {
        return fromSqlite(commit);
    }
    if (disposition) {
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    *result = newKey(id, access);
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved,
                                           LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    (void)reserved;
    if (data != nullptr && dataSize == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::lock_guard<std::recursive_mutex> guard(dbLock());
    Database* d = nullptr;
    LSTATUS rc = openForKey(key, KEY_QUERY_VALUE, false, &d);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    Statement s(d->db, "SELECT type, data FROM vals WHERE key=?1 AND lname=?2");
    if (!s.ok()) {
        return fromSqlite(s.prepareResult());
    }
    int step = s.run(keyId(key), lowerAscii(standin::toUtf8(valueName ? valueName : L"")));
    if (step != SQLITE_ROW) {
        if (step == SQLITE_DONE) {
            return keyExists(d->db, keyId(key)) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
        }
        return fromSqlite(step);
    }
    DWORD storedType = static_cast<DWORD>(sqlite3_column_int64(s.get(), 0));
    const void* blob = sqlite3_column_blob(s.get(), 1);
    DWORD size = static_cast<DWORD>(sqlite3_column_bytes(s.get(), 1));
    if (type) {
        *type = storedType;
    }
    if (data == nullptr) {
        if (dataSize) {
            *dataSize = size;
        }
        return ERROR_SUCCESS;
    }
    if (*dataSize < size) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (size > 0) {
        memcpy(data, blob, size);
    }
    *dataSize = size;
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type,
                                         const BYTE* data, DWORD dataSize) {
    (void)reserved;
    if (data == nullptr && dataSize != 0) {
        return ERROR_NOACCESS;
    }
    std::lock_guard<std::recursive_mutex> guard(dbLock());
    Database* d = nullptr;
    LSTATUS rc = openForKey(key, KEY_SET_VALUE, true, &d);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    if (!keyExists(d->db, keyId(key))) {
        return ERROR_KEY_DELETED;
    }
    std::string name = standin::toUtf8(valueName ? valueName : L"");
    return execute(d->db,
                   "INSERT INTO vals(key, name, lname, type, data) VALUES(?1, ?2, ?3, ?4, ?5) ON "
                   "CONFLICT(key, lname) DO UPDATE SET type=excluded.type, data=excluded.data",
                   keyId(key), name, lowerAscii(name), static_cast<int64_t>(type),
                   Blob{data, dataSize});
}

extern "C" LSTATUS WINAPI RegDeleteValueW(HKEY key, LPCWSTR valueName) {
    std::lock_guard<std::recursive_mutex> guard(dbLock());
    Database* d = nullptr;
    LSTATUS rc = openForKey(key, KEY_SET_VALUE, true, &d);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    rc = execute(d->db, "DELETE FROM vals WHERE key=?1 AND lname=?2", keyId(key),
                 lowerAscii(standin::toUtf8(valueName ? valueName : L"")));
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    return sqlite3_changes(d->db) > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

extern "C" LSTATUS WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars,
                                        LPDWORD reserved, LPWSTR keyClass, LPDWORD classChars,
                                        void* lastWriteTime) {
    (void)reserved, (void)keyClass, (void)lastWriteTime;
    if (name == nullptr || nameChars == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (classChars) {
        *classChars = 0;
    }
    std::lock_guard<std::recursive_mutex> guard(dbLock());
    Database* d = nullptr;
    LSTATUS rc = openForKey(key, KEY_ENUMERATE_SUB_KEYS, false, &d);
    if (rc != ERROR_SUCCESS) {
        return rc == ERROR_FILE_NOT_FOUND ? ERROR_NO_MORE_ITEMS : rc;
    }
    Statement s(d->db, "SELECT name FROM keys WHERE parent=?1 ORDER BY lname LIMIT 1 OFFSET ?2");
    if (!s.ok()) {
        return fromSqlite(s.prepareResult());
    }
    int step = s.run(keyId(key), static_cast<int64_t>(index));
    if (step == SQLITE_DONE) {
        return ERROR_NO_MORE_ITEMS;
    }
    if (step != SQLITE_ROW) {
        return fromSqlite(step);
    }
    std::wstring found =
        standin::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0)));
    if (found.size() >= *nameChars) {
        return ERROR_MORE_DATA;
    }
    wmemcpy(name, found.c_str(), found.size() + 1);
    *nameChars = static_cast<DWORD>(found.size());
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegDeleteTreeW(HKEY key, LPCWSTR subKey) {
    if (!validKey(key)) {
        return ERROR_INVALID_HANDLE;
    }
    std::lock_guard<std::recursive_mutex> guard(dbLock());
    Database* d = nullptr;
    LSTATUS rc = openDatabase(true, &d);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    Transaction tx(d->db);
    if (tx.begun() != SQLITE_OK) {
        return fromSqlite(tx.begun());
    }
    int64_t id = keyId(key);
    rc = ERROR_SUCCESS;
    for (const std::string& part : splitPath(subKey)) {
        id = findChild(d->db, id, part, rc);
        if (id < 0) {
            return rc != ERROR_SUCCESS ? rc : ERROR_FILE_NOT_FOUND;
        }
    }
    const char* tree = "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT keys.id FROM keys "
                       "JOIN tree ON keys.parent = tree.id) ";
    // With a subkey the key itself goes too, with its security; without one only its contents.
    const char* keepTop = subKey && *subKey ? "" : " AND key <> ?1";
    const std::string deletions[] = {
        std::string(tree) + "DELETE FROM vals WHERE key IN (SELECT id FROM tree)",
        std::string(tree) + "DELETE FROM keysec WHERE key IN (SELECT id FROM tree)" + keepTop,
        std::string(tree) + "DELETE FROM keys WHERE id IN (SELECT id FROM tree)" +
            (subKey && *subKey ? "" : " AND id <> ?1"),
    };
    for (const std::string& deletion : deletions) {
        rc = execute(d->db, deletion.c_str(), id);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
    }
    int commit = tx.commit();
    return commit == SQLITE_OK ? ERROR_SUCCESS : fromSqlite(commit);
}

extern "C" LSTATUS WINAPI RegSetKeySecurity(HKEY key, SECURITY_INFORMATION information,
                                            PSECURITY_DESCRIPTOR descriptor) {
    if (information != DACL_SECURITY_INFORMATION || !standin::isSecurityDescriptor(descriptor)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::lock_guard<std::recursive_mutex> guard(dbLock());
    Database* d = nullptr;
    LSTATUS rc = openForKey(key, WRITE_DAC, true, &d);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    int64_t id = keyId(key);
    if (!keyExists(d->db, id)) {
        return ERROR_KEY_DELETED;
    }
    return execute(d->db, "INSERT OR REPLACE INTO keysec(key, dacl) VALUES(?1, ?2)", id,
                   standin::toUtf8(standin::descriptorText(descriptor).c_str()));
}

extern "C" LSTATUS WINAPI RegGetKeySecurity(HKEY key, SECURITY_INFORMATION information,
                                            PSECURITY_DESCRIPTOR descriptor, LPDWORD size) {
    if (information != DACL_SECURITY_INFORMATION || size == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::lock_guard<std::recursive_mutex> guard(dbLock());
    Database* d = nullptr;
    LSTATUS rc = openForKey(key, READ_CONTROL, false, &d);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    int64_t id = keyId(key);
    if (!keyExists(d->db, id)) {
        return ERROR_KEY_DELETED;
    }
    std::wstring text = L"D:AI(A;CIID;KR;;;BU)(A;CIID;KA;;;BA)(A;CIID;KA;;;SY)";
    Statement s(d->db, "SELECT dacl FROM keysec WHERE key=?1");
    if (s.ok()) {
        if (s.run(id) == SQLITE_ROW) {
            text =
                standin::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0)));
        }
    }
    DWORD offered = *size;
    *size = standin::writeDescriptor(text, descriptor, offered);
    return offered < *size ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY key) {
    if (!validKey(key)) {
        return ERROR_INVALID_HANDLE;
    }
    if (key != HKEY_LOCAL_MACHINE) {
        delete key;
    }
    return ERROR_SUCCESS;
}
