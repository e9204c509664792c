// The registry store in one SQLite database file, shared by every engine and
// process that opens it.
//
// Schema (user_version 1):
//   reg_keys(id, parent, name, path): one row per key. `name` keeps the case
//     it was first written with; `path` is the folded names from the root
//     joined by "\" and unique, so finding a key is one index probe. Rows 1
//     and 2 are the roots HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER.
//   reg_values(id, key_id, name, folded, type, data): one row per value,
//     unique per key and folded name; `id` is the enumeration order, and an
//     update in place keeps it.
//
// Durability: WAL journal with synchronous=FULL and every write call its own
// transaction (SetValues writes all its values in one, so they cost one sync).
// A commit then returns only after the WAL is synced, so a value is durable
// when SetValue or SetValues returns and FlushKey has nothing left to do. A
// checkpoint in FlushKey would add nothing to durability and would have to
// wait for readers in other processes.
//
// Concurrency: in WAL mode readers go on while one process writes. Writes
// take the write lock up front (BEGIN IMMEDIATE), so any waiting happens in
// SQLite's busy handler before the transaction has read anything, bounded by
// kBusyTimeoutMs; a write that cannot get the lock in time gives kRegBusy.
// Transactions are a few statements long, and every statement is reset when
// the call that ran it returns, so no read transaction outlives a call.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/registry_store_util.h"
#include "ravelon/registry_store.h"

namespace ravelon {
namespace {

constexpr int kBusyTimeoutMs = 5000;
// The pause between two tries of an open that found the file locked.
constexpr int kOpenRetryMs = 10;
constexpr int kSchemaVersion = 1;
constexpr int64_t kLocalMachineId = 1;
constexpr int64_t kCurrentUserId = 2;

constexpr const char* kCreateSchema = R"sql(
BEGIN IMMEDIATE;
CREATE TABLE IF NOT EXISTS reg_keys(
  id INTEGER PRIMARY KEY,
  parent INTEGER REFERENCES reg_keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL,
  path TEXT NOT NULL UNIQUE);
CREATE INDEX IF NOT EXISTS reg_keys_by_parent ON reg_keys(parent, path);
CREATE TABLE IF NOT EXISTS reg_values(
  id INTEGER PRIMARY KEY,
  key_id INTEGER NOT NULL REFERENCES reg_keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL,
  folded TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE(key_id, folded));
INSERT OR IGNORE INTO reg_keys(id, parent, name, path) VALUES
  (1, NULL, 'HKEY_LOCAL_MACHINE', 'hkey_local_machine'),
  (2, NULL, 'HKEY_CURRENT_USER', 'hkey_current_user');
PRAGMA user_version = 1;
COMMIT;
)sql";

int32_t ToResult(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return kRegSuccess;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kRegBusy;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return kRegAccessDenied;
    default:
      return kRegStoreFailure;
  }
}

// Creates the file with mode 0600 unless it exists. SQLite would create it
// with 0644 less the umask; it gives its -wal and -shm files the mode of the
// database file, so this covers all three.
std::string CreateOwnerOnly(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 && errno == EEXIST) return "";
  // The umask may have taken the owner's own bits as well.
  int error = 0;
  if (fd < 0 || ::fchmod(fd, 0600) != 0) error = errno;
  if (fd >= 0) ::close(fd);
  if (error == 0) return "";
  return "cannot create the registry file " + path + ": " +
         std::error_code(error, std::generic_category()).message();
}

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

// A statement prepared once for the life of the store.
class Statement {
 public:
  Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(stmt_); }

  int Prepare(sqlite3* db, const char* sql) {
    // An open tried again prepares its statements again.
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// One run of a statement: parameters bound in order, then steps. Resets the
// statement when it goes out of scope, which ends the read transaction a
// SELECT holds; column bytes are valid until then.
class Run {
 public:
  explicit Run(const Statement& statement) : stmt_(statement.get()) {}
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;
  ~Run() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }

  Run& Int(int64_t value) {
    sqlite3_bind_int64(stmt_, ++index_, value);
    return *this;
  }
  Run& Text(std::string_view text) {
    sqlite3_bind_text(stmt_, ++index_, text.empty() ? "" : text.data(),
                      static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Run& Blob(std::string_view bytes) {
    sqlite3_bind_blob(stmt_, ++index_, bytes.empty() ? "" : bytes.data(),
                      static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return sqlite3_step(stmt_); }

  int64_t IntAt(int column) const { return sqlite3_column_int64(stmt_, column); }
  std::string_view BytesAt(int column) const {
    const void* bytes = sqlite3_column_blob(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    if (bytes == nullptr || size <= 0) return {};
    return {static_cast<const char*>(bytes), static_cast<size_t>(size)};
  }

 private:
  sqlite3_stmt* stmt_;
  int index_ = 0;
};

// A write transaction that holds the write lock from its start; rolled back
// unless committed.
class WriteTransaction {
 public:
  explicit WriteTransaction(sqlite3* db) : db_(db) {}
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;
  ~WriteTransaction() {
    if (open_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }

  int Begin() {
    const int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    open_ = rc == SQLITE_OK;
    return rc;
  }
  int Commit() {
    const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) open_ = false;
    return rc;
  }

 private:
  sqlite3* db_;
  bool open_ = false;
};

class SqliteRegistryStore final : public RegistryStore {
 public:
  // Returns "" when the file is open and ready, else why not.
  std::string Open(const std::string& path);

  int32_t OpenKey(RegistryKey root, const std::string& sub_key, RegistryKey& key) override;
  int32_t CreateKey(RegistryKey root, const std::string& sub_key, RegistryKey& key) override;
  int32_t QueryValue(RegistryKey key, const std::string& name, uint32_t& type, char* data,
                     uint32_t& size) override;
  int32_t SetValue(RegistryKey key, const std::string& name, uint32_t type,
                   const std::string& data) override;
  int32_t SetValues(RegistryKey key, const std::vector<RegistryValue>& values) override;
  int32_t ReadValues(RegistryKey key, std::vector<RegistryValue>& values) override;
  int32_t FlushKey(RegistryKey key) override;
  int32_t EnumValue(RegistryKey key, uint32_t index, std::string& name, uint32_t& type, char* data,
                    uint32_t& size) override;
  int32_t EnumKey(RegistryKey key, uint32_t index, std::string& name) override;
  int32_t CloseKey(RegistryKey key) override;
  int32_t DeleteValue(RegistryKey key, const std::string& name) override;
  int32_t DeleteKey(RegistryKey root, const std::string& sub_key) override;

 private:
  // Runs `statement` with `id` and `text` (if any) as one write transaction;
  // kRegFileNotFound when it changed no row.
  int32_t DeleteRows(const Statement& statement, int64_t id, const std::string* text);

  // Journal mode, schema and statements of a freshly opened connection,
  // waiting at most `busy_ms` for a lock.
  std::string Configure(int busy_ms);

  // The key id behind a root or an open handle: 0 when not open, kRemoved
  // when the key has been removed since it was opened (a new key may have
  // taken its id, so a handle checks its path on every use).
  static constexpr int64_t kRemoved = -1;
  int64_t KeyId(RegistryKey key);
  RegistryKey NewHandle(int64_t id);

  // The helpers below return SQLITE_ROW when the key was found (or made),
  // SQLITE_DONE when there is none, or SQLite's error code.
  int PathOf(int64_t id, std::string& path);
  int FindKey(const std::string& path, int64_t& id);
  int FindPath(int64_t base, const std::vector<std::string>& names, int64_t& id);
  int MakePath(int64_t base, const std::vector<std::string>& names, int64_t& id);

  // Declared first so that it is closed after the statements are finalized.
  std::unique_ptr<sqlite3, DatabaseCloser> db_;
  Statement path_of_key_;
  Statement key_at_path_;
  Statement insert_key_;
  Statement subkey_at_;
  Statement value_named_;
  Statement value_at_;
  Statement values_of_key_;
  Statement write_value_;
  Statement delete_value_;
  Statement delete_key_;
  struct OpenedKey {
    int64_t id;
    std::string path;
  };
  std::unordered_map<RegistryKey, OpenedKey> handles_;
  RegistryKey next_handle_ = 1;
};

std::string SqliteRegistryStore::Open(const std::string& path) {
  if (std::string error = CreateOwnerOnly(path); !error.empty()) return error;
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  db_.reset(db);
  std::string error;
  if (rc != SQLITE_OK) {
    error = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  } else {
    // Opening races other processes that create the file or switch it to WAL:
    // SQLite answers some of those steps "locked" at once rather than through
    // the busy handler, so the setup is tried again, within the same bound as
    // any other wait for the lock. The busy handler's waits count towards it:
    // a file another process keeps locked costs one bound, not one per try.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      error = Configure(static_cast<int>(std::max<int64_t>(left, 0)));
      if (error.empty() || left <= 0 || (sqlite3_errcode(db) & 0xff) != SQLITE_BUSY) break;
      sqlite3_sleep(kOpenRetryMs);
    }
    if (error.empty()) sqlite3_busy_timeout(db, kBusyTimeoutMs);
  }
  if (error.empty()) return "";
  db_.reset();
  return "cannot open the registry file " + path + ": " + error;
}

std::string SqliteRegistryStore::Configure(int busy_ms) {
  sqlite3* db = db_.get();
  sqlite3_busy_timeout(db, busy_ms);
  int rc = sqlite3_exec(db,
                        "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;"
                        "PRAGMA foreign_keys = ON;",
                        nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return sqlite3_errmsg(db);

  int version = 0;
  {
    Statement user_version;
    rc = user_version.Prepare(db, "PRAGMA user_version");
    if (rc == SQLITE_OK) {
      Run run(user_version);
      rc = run.Step();
      if (rc == SQLITE_ROW) version = static_cast<int>(run.IntAt(0));
    }
    if (rc != SQLITE_ROW) return sqlite3_errmsg(db);
  }
  if (version == 0) {
    // A new file. Two processes may get here at once; the write lock orders
    // them and the second one's statements change nothing.
    if (sqlite3_exec(db, kCreateSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
      std::string error = sqlite3_errmsg(db);
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      return error;
    }
  } else if (version != kSchemaVersion) {
    return "its layout (version " + std::to_string(version) + ") is not one this program knows";
  }

  const std::pair<Statement*, const char*> statements[] = {
      {&path_of_key_, "SELECT path FROM reg_keys WHERE id = ?1"},
      {&key_at_path_, "SELECT id FROM reg_keys WHERE path = ?1"},
      {&insert_key_, "INSERT INTO reg_keys(parent, name, path) VALUES (?1, ?2, ?3)"},
      {&subkey_at_, "SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY path LIMIT 1 OFFSET ?2"},
      {&value_named_, "SELECT type, data FROM reg_values WHERE key_id = ?1 AND folded = ?2"},
      {&value_at_,
       "SELECT name, type, data FROM reg_values WHERE key_id = ?1 ORDER BY id LIMIT 1 OFFSET ?2"},
      {&values_of_key_, "SELECT name, type, data FROM reg_values WHERE key_id = ?1 ORDER BY id"},
      {&write_value_,
       "INSERT INTO reg_values(key_id, name, folded, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
       "ON CONFLICT(key_id, folded) DO UPDATE SET type = excluded.type, data = excluded.data"},
      {&delete_value_, "DELETE FROM reg_values WHERE key_id = ?1 AND folded = ?2"},
      // Subkeys and values go with it: their references cascade.
      {&delete_key_, "DELETE FROM reg_keys WHERE id = ?1"},
  };
  for (const auto& [statement, sql] : statements) {
    if (statement->Prepare(db, sql) != SQLITE_OK) return sqlite3_errmsg(db);
  }
  return "";
}

int64_t SqliteRegistryStore::KeyId(RegistryKey key) {
  if (key == kHkeyLocalMachine) return kLocalMachineId;
  if (key == kHkeyCurrentUser) return kCurrentUserId;
  const auto it = handles_.find(key);
  if (it == handles_.end()) return 0;
  std::string path;
  if (PathOf(it->second.id, path) != SQLITE_ROW || path != it->second.path) return kRemoved;
  return it->second.id;
}

RegistryKey SqliteRegistryStore::NewHandle(int64_t id) {
  const RegistryKey key = next_handle_++;
  std::string path;
  PathOf(id, path);
  handles_[key] = {id, std::move(path)};
  return key;
}

int SqliteRegistryStore::PathOf(int64_t id, std::string& path) {
  Run run(path_of_key_);
  const int rc = run.Int(id).Step();
  if (rc == SQLITE_ROW) path = run.BytesAt(0);
  return rc;
}

int SqliteRegistryStore::FindKey(const std::string& path, int64_t& id) {
  Run run(key_at_path_);
  const int rc = run.Text(path).Step();
  if (rc == SQLITE_ROW) id = run.IntAt(0);
  return rc;
}

int SqliteRegistryStore::FindPath(int64_t base, const std::vector<std::string>& names,
                                  int64_t& id) {
  std::string path;
  const int rc = PathOf(base, path);
  if (rc != SQLITE_ROW || names.empty()) {
    id = base;
    return rc;
  }
  for (const std::string& name : names) path += '\\' + FoldName(name);
  return FindKey(path, id);
}

int SqliteRegistryStore::MakePath(int64_t base, const std::vector<std::string>& names,
                                  int64_t& id) {
  std::string path;
  int rc = PathOf(base, path);
  id = base;
  for (size_t i = 0; rc == SQLITE_ROW && i < names.size(); ++i) {
    path += '\\' + FoldName(names[i]);
    const int64_t parent = id;
    rc = FindKey(path, id);
    if (rc != SQLITE_DONE) continue;
    Run insert(insert_key_);
    rc = insert.Int(parent).Text(names[i]).Text(path).Step();
    if (rc != SQLITE_DONE) break;
    id = sqlite3_last_insert_rowid(db_.get());
    rc = SQLITE_ROW;
  }
  return rc;
}

int32_t SqliteRegistryStore::OpenKey(RegistryKey root, const std::string& sub_key,
                                     RegistryKey& key) {
  const int64_t base = KeyId(root);
  if (base == 0) return kRegInvalidHandle;
  if (base == kRemoved) return kRegFileNotFound;
  std::vector<std::string> names;
  if (!SplitKeyPath(sub_key, names)) return kRegInvalidParameter;
  int64_t id = 0;
  const int rc = FindPath(base, names, id);
  if (rc == SQLITE_DONE) return kRegFileNotFound;
  if (rc != SQLITE_ROW) return ToResult(rc);
  key = NewHandle(id);
  return kRegSuccess;
}

int32_t SqliteRegistryStore::CreateKey(RegistryKey root, const std::string& sub_key,
                                       RegistryKey& key) {
  const int64_t base = KeyId(root);
  if (base == 0) return kRegInvalidHandle;
  if (base == kRemoved) return kRegFileNotFound;
  std::vector<std::string> names;
  if (!SplitKeyPath(sub_key, names)) return kRegInvalidParameter;
  WriteTransaction transaction(db_.get());
  int rc = transaction.Begin();
  int64_t id = 0;
  if (rc == SQLITE_OK) rc = MakePath(base, names, id);
  if (rc == SQLITE_DONE) return kRegFileNotFound;  // `root` is gone
  if (rc == SQLITE_ROW) rc = transaction.Commit();
  if (rc != SQLITE_OK) return ToResult(rc);
  key = NewHandle(id);
  return kRegSuccess;
}

int32_t SqliteRegistryStore::QueryValue(RegistryKey key, const std::string& name, uint32_t& type,
                                        char* data, uint32_t& size) {
  const int64_t id = KeyId(key);
  if (id == 0) return kRegInvalidHandle;
  if (id == kRemoved) return kRegFileNotFound;
  Run run(value_named_);
  const int rc = run.Int(id).Text(FoldName(name)).Step();
  if (rc == SQLITE_DONE) return kRegFileNotFound;
  if (rc != SQLITE_ROW) return ToResult(rc);
  type = static_cast<uint32_t>(run.IntAt(0));
  return CopyValueData(run.BytesAt(1), data, size);
}

int32_t SqliteRegistryStore::SetValue(RegistryKey key, const std::string& name, uint32_t type,
                                      const std::string& data) {
  return SetValues(key, {{name, type, data}});
}

int32_t SqliteRegistryStore::SetValues(RegistryKey key, const std::vector<RegistryValue>& values) {
  const int64_t id = KeyId(key);
  if (id == 0) return kRegInvalidHandle;
  if (id == kRemoved) return kRegFileNotFound;
  WriteTransaction transaction(db_.get());
  int rc = transaction.Begin();
  std::string path;
  // Another process may have removed the key since it was opened.
  if (rc == SQLITE_OK) rc = PathOf(id, path);
  if (rc == SQLITE_DONE) return kRegFileNotFound;
  if (rc == SQLITE_ROW) rc = SQLITE_DONE;
  for (size_t i = 0; rc == SQLITE_DONE && i < values.size(); ++i) {
    const RegistryValue& value = values[i];
    Run run(write_value_);
    rc = run.Int(id)
             .Text(value.name)
             .Text(FoldName(value.name))
             .Int(value.type)
             .Blob(value.data)
             .Step();
  }
  if (rc == SQLITE_DONE) rc = transaction.Commit();
  return ToResult(rc);
}

int32_t SqliteRegistryStore::ReadValues(RegistryKey key, std::vector<RegistryValue>& values) {
  const int64_t id = KeyId(key);
  if (id == 0) return kRegInvalidHandle;
  if (id == kRemoved) return kRegFileNotFound;
  values.clear();
  // One statement: one read transaction, so one state of the file.
  Run run(values_of_key_);
  run.Int(id);
  int rc = SQLITE_ROW;
  while ((rc = run.Step()) == SQLITE_ROW) {
    values.push_back({std::string(run.BytesAt(0)), static_cast<uint32_t>(run.IntAt(1)),
                      std::string(run.BytesAt(2))});
  }
  if (rc != SQLITE_DONE) values.clear();
  return ToResult(rc);
}

int32_t SqliteRegistryStore::FlushKey(RegistryKey key) {
  // Every write has been committed and synced already (see the top).
  return handles_.count(key) == 0 && key != kHkeyLocalMachine && key != kHkeyCurrentUser
             ? kRegInvalidHandle
             : kRegSuccess;
}

int32_t SqliteRegistryStore::EnumValue(RegistryKey key, uint32_t index, std::string& name,
                                       uint32_t& type, char* data, uint32_t& size) {
  const int64_t id = KeyId(key);
  if (id == 0) return kRegInvalidHandle;
  if (id == kRemoved) return kRegNoMoreItems;
  Run run(value_at_);
  const int rc = run.Int(id).Int(index).Step();
  if (rc == SQLITE_DONE) return kRegNoMoreItems;
  if (rc != SQLITE_ROW) return ToResult(rc);
  name = run.BytesAt(0);
  type = static_cast<uint32_t>(run.IntAt(1));
  return CopyValueData(run.BytesAt(2), data, size);
}

int32_t SqliteRegistryStore::EnumKey(RegistryKey key, uint32_t index, std::string& name) {
  const int64_t id = KeyId(key);
  if (id == 0) return kRegInvalidHandle;
  if (id == kRemoved) return kRegNoMoreItems;
  Run run(subkey_at_);
  const int rc = run.Int(id).Int(index).Step();
  if (rc == SQLITE_DONE) return kRegNoMoreItems;
  if (rc != SQLITE_ROW) return ToResult(rc);
  name = run.BytesAt(0);
  return kRegSuccess;
}

int32_t SqliteRegistryStore::CloseKey(RegistryKey key) {
  if (key == kHkeyLocalMachine || key == kHkeyCurrentUser) return kRegSuccess;
  return handles_.erase(key) == 1 ? kRegSuccess : kRegInvalidHandle;
}

int32_t SqliteRegistryStore::DeleteRows(const Statement& statement, int64_t id,
                                        const std::string* text) {
  WriteTransaction transaction(db_.get());
  int rc = transaction.Begin();
  if (rc == SQLITE_OK) {
    Run run(statement);
    run.Int(id);
    if (text != nullptr) run.Text(*text);
    rc = run.Step();
  }
  if (rc == SQLITE_DONE && sqlite3_changes(db_.get()) == 0) return kRegFileNotFound;
  if (rc == SQLITE_DONE) rc = transaction.Commit();
  return ToResult(rc);
}

int32_t SqliteRegistryStore::DeleteValue(RegistryKey key, const std::string& name) {
  const int64_t id = KeyId(key);
  if (id == 0) return kRegInvalidHandle;
  if (id == kRemoved) return kRegFileNotFound;
  const std::string folded = FoldName(name);
  return DeleteRows(delete_value_, id, &folded);
}

int32_t SqliteRegistryStore::DeleteKey(RegistryKey root, const std::string& sub_key) {
  const int64_t base = KeyId(root);
  if (base == 0) return kRegInvalidHandle;
  if (base == kRemoved) return kRegFileNotFound;
  std::vector<std::string> names;
  if (!SplitKeyPath(sub_key, names) || names.empty()) return kRegInvalidParameter;
  int64_t id = 0;
  const int rc = FindPath(base, names, id);
  if (rc == SQLITE_DONE) return kRegFileNotFound;
  if (rc != SQLITE_ROW) return ToResult(rc);
  return DeleteRows(delete_key_, id, nullptr);
}

}  // namespace

std::unique_ptr<RegistryStore> NewSqliteRegistryStore(const std::string& path, std::string& error) {
  auto store = std::make_unique<SqliteRegistryStore>();
  error = store->Open(path);
  if (!error.empty()) return nullptr;
  return store;
}

}  // namespace ravelon
