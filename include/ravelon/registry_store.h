// A hierarchical store of keys and typed values with the shape of the Windows
// registry functions that the engine's configuration code is written
// against: open, create (with all missing parents), query, set, flush,
// enumerate, close; results are the Windows error codes.
//
// Key paths use "\" between names; empty names (from a leading, trailing or
// doubled "\") are skipped, and a name longer than kMaxKeyNameLength bytes is
// refused with kRegInvalidParameter. Key and value names compare without
// regard to the case of the ASCII letters and keep the case they were first
// written with; the empty value name is the key's default value. The roots
// kHkeyLocalMachine and kHkeyCurrentUser are separate trees.
//
// Subkeys enumerate in the order of their case-folded names, values in the
// order they were first written (a replaced value keeps its place). A key
// that disappears behind an open handle (removed from the file by another
// process) is simply not found: its values and subkeys are gone, and writes
// to it fail with kRegFileNotFound.
//
// Real implementation: one SQLite database file shared by several engines and
// processes (NewSqliteRegistryStore). Simulated: in memory
// (NewMemoryRegistryStore).
//
// Used on the engine's thread; one store may serve several engines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ravelon {

// Windows error codes, as the registry functions return them.
enum RegistryResult : int32_t {
  kRegSuccess = 0,
  kRegFileNotFound = 2,       // no such key or value
  kRegAccessDenied = 5,       // the store cannot be written (read-only file, ...)
  kRegInvalidHandle = 6,      // a key handle that is not open
  kRegInvalidParameter = 87,  // a key name longer than kMaxKeyNameLength
  kRegBusy = 170,             // another process held the store locked too long
  kRegMoreData = 234,         // the caller's buffer is too small
  kRegNoMoreItems = 259,      // enumeration past the last item
  kRegStoreFailure = 1016,    // the backing store failed (I/O error)
};

// Value types.
enum RegistryType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,  // text, stored with its terminating zero byte
  kRegBinary = 3,
  kRegDword = 4,  // 32-bit little-endian
};

inline constexpr size_t kMaxKeyNameLength = 255;

// An open key: a small handle number, or one of the two roots, which are
// always open (closing them does nothing). Handles are not shared between
// stores.
using RegistryKey = uint64_t;
inline constexpr RegistryKey kHkeyCurrentUser = 0x80000001;
inline constexpr RegistryKey kHkeyLocalMachine = 0x80000002;

// One value of a key, as ReadValues gives it and SetValues takes it.
struct RegistryValue {
  std::string name;
  uint32_t type = kRegNone;
  std::string data;
};

class RegistryStore {
 public:
  virtual ~RegistryStore() = default;

  // Opens an existing key for reading. `root` is a root or an open key;
  // `sub_key` may be empty (a new handle to `root` itself).
  virtual int32_t OpenKey(RegistryKey root, const std::string& sub_key, RegistryKey& key) = 0;

  // Opens a key for writing, creating it and every missing parent.
  virtual int32_t CreateKey(RegistryKey root, const std::string& sub_key, RegistryKey& key) = 0;

  // Reads a value. `type` receives its type; `size` is the buffer length on
  // entry and the value's length in bytes on return. With `data` nullptr or a
  // buffer shorter than the value, nothing is copied and the result is
  // kRegMoreData when a buffer was given (kRegSuccess when it was nullptr, to
  // learn the size). On success `data` holds the value's bytes followed by
  // whatever the buffer held beyond them.
  virtual int32_t QueryValue(RegistryKey key, const std::string& name, uint32_t& type, char* data,
                             uint32_t& size) = 0;

  // Writes a value, replacing one of the same name. The bytes are stored as
  // given (a text value includes its terminating zero).
  virtual int32_t SetValue(RegistryKey key, const std::string& name, uint32_t type,
                           const std::string& data) = 0;

  // Writes every value of `values` as SetValue would, in order, all at once:
  // all or none are written, and they are durable on return as a single
  // SetValue is (the SQLite store makes it one transaction, one sync).
  virtual int32_t SetValues(RegistryKey key, const std::vector<RegistryValue>& values) = 0;

  // Every value of `key` in EnumValue's order, read at once, so the values
  // belong to one state of the store. kRegFileNotFound when the key has been
  // removed, kRegInvalidHandle when it is not open.
  virtual int32_t ReadValues(RegistryKey key, std::vector<RegistryValue>& values) = 0;

  // Makes every value written under `key` durable before returning.
  // kRegInvalidHandle when `key` is not open.
  virtual int32_t FlushKey(RegistryKey key) = 0;

  // The value at `index` (0, 1, ...) in a stable order: its name, type and,
  // as for QueryValue, its bytes. kRegNoMoreItems past the last one.
  virtual int32_t EnumValue(RegistryKey key, uint32_t index, std::string& name, uint32_t& type,
                            char* data, uint32_t& size) = 0;

  // The name of the subkey at `index`; kRegNoMoreItems past the last one.
  virtual int32_t EnumKey(RegistryKey key, uint32_t index, std::string& name) = 0;

  // Ends a handle; kRegInvalidHandle when it is not open.
  virtual int32_t CloseKey(RegistryKey key) = 0;
  // Removes one value; kRegFileNotFound when the key has none of that name.
  virtual int32_t DeleteValue(RegistryKey key, const std::string& name) = 0;
  // Removes `sub_key` of `root` with all its values and subkeys; handles
  // open on them then find nothing. kRegFileNotFound when it does not exist;
  // kRegInvalidParameter for an empty `sub_key` (a root or an open key is not
  // removed through its own handle).
  virtual int32_t DeleteKey(RegistryKey root, const std::string& sub_key) = 0;
};

// The store in one SQLite database file, created readable and writable by its
// owner only (it holds passwords). Several processes may use the file at
// once. Returns nullptr when the file cannot be opened or created; `error`
// then says why.
std::unique_ptr<RegistryStore> NewSqliteRegistryStore(const std::string& path, std::string& error);

// A store in memory, for tests and for hosts that configure engines through
// their setters only.
std::unique_ptr<RegistryStore> NewMemoryRegistryStore();

}  // namespace ravelon
