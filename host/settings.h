// The host's settings: one INI file (kvthost.ini beside the executable unless --config
// names another), read at start and written back atomically whenever a value changes.
//
// Layout of the file:
//
//   [Databases]                      database name = driver
//   ТРОИС=SQLITE
//
//   [Database:ТРОИС]                 storage parameters of one database
//   sqlite.file=/opt/kvt/db3/vodar.db3
//   readonly=Да
//
//   [Настройки\Обновление\Обновлять] any other section: a key path of IKVTConfig
//   VODAR=Да
//
// A key path that would look like one of the database sections ("Databases",
// "Database:...") or that starts with "Config:" is stored as "Config:" + path. Keys, values
// and section names keep every character: "%", control characters, "=" in keys, "]" in
// section names and blanks at either end are written as %XX. Comments (";" or "#") and
// lines the host does not understand stay as they are.
//
// Writes re-read the file first, so that values another process wrote meanwhile are kept;
// a value equal to the stored one writes nothing. The file is replaced by rename of a
// temporary file in the same folder, so a reader never sees half a file. When the file
// cannot be written the value still holds for this run, and the failure is reported once
// on stderr.
//
// THostSettings answers IKVTConfig and IKVTDatabaseConfig and is safe to use from several
// threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hostintf/kvt_serverintf.h"
#include "platform/com/object.h"

// An INI document kept in file order.
class IniDocument {
 public:
  // Parses text; never fails (lines it does not understand are kept as they are).
  static IniDocument Parse(std::string_view text);
  std::string Serialize() const;

  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  // Answers whether anything changed.
  bool Set(std::string_view section, std::string_view key, std::string_view value);
  bool Remove(std::string_view section, std::string_view key);
  bool RemoveSection(std::string_view section);
  // The keys of a section, in file order.
  std::vector<std::string> Keys(std::string_view section) const;

  friend bool operator==(const IniDocument&, const IniDocument&) = default;

 private:
  struct Line {
    bool value = false;  // key=value; otherwise `raw` is kept as it is
    std::string key, val, raw;
    friend bool operator==(const Line&, const Line&) = default;
  };
  struct Section {
    std::string name;  // empty for the lines before the first section
    std::vector<Line> lines;
    friend bool operator==(const Section&, const Section&) = default;
  };
  Section* Find(std::string_view name);
  const Section* Find(std::string_view name) const;

  std::vector<Section> sections_ = std::vector<Section>(1);
};

// Writes `bytes` to `path` through a temporary file in the same folder and a rename.
// False, with *error set, when that fails (the old file is then unchanged).
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error);

// The storage of one database as the host uses it.
struct DatabaseSettings {
  std::string driver;  // "SQLITE"
  std::string file;    // "sqlite.file" (after the --db override)
  bool readonly = false;
};

class THostSettings : public Implements<IKVTConfig, IKVTDatabaseConfig> {
 public:
  // Reads `path` when it exists; a missing file is an empty configuration (the file is
  // created on the first write).
  explicit THostSettings(std::string path);

  const std::string& Path() const { return path_; }
  // --db: for this run, the "sqlite.file" of every database whose driver is SQLITE reads
  // as `file`, whatever is stored (nothing is written).
  void SetSqliteFileOverride(std::string file);

  // Plain access. A section here is a key path of IKVTConfig.
  std::optional<std::string> ReadConfig(std::string_view path, std::string_view name) const;
  // False when the file could not be written (the value holds in memory all the same).
  bool WriteConfig(std::string_view path, std::string_view name, std::string_view value);

  std::vector<std::string> DatabaseNames() const;
  // The effective storage of a database; empty when the database is not configured.
  std::optional<DatabaseSettings> Database(std::string_view name) const;
  // The effective parameter ("" when none).
  std::string DatabaseParam(std::string_view database, std::string_view key) const;
  bool SetDatabaseDriver(std::string_view database, std::string_view driver);
  bool SetDatabaseParam(std::string_view database, std::string_view key, std::string_view value);
  // Changes whenever the storage of any database may have changed (cheap to read).
  uint64_t DatabaseGeneration() const;

  // --- IKVTConfig
  WideString ReadValue(const WideString& path, const WideString& name,
                       const WideString& default_value) override;
  HRESULT WriteValue(const WideString& path, const WideString& name,
                     const WideString& value) override;
  HRESULT Reserved3() override { return E_NOTIMPL; }
  HRESULT Reserved4() override { return E_NOTIMPL; }
  HRESULT Reserved5() override { return E_NOTIMPL; }
  HRESULT Reserved6() override { return E_NOTIMPL; }

  // --- IKVTDatabaseConfig
  int32_t GetDatabaseCount() override;
  WideString GetDatabaseName(int32_t index) override;  // "" outside the list
  HRESULT AddDatabase(const WideString& database) override;
  HRESULT RemoveDatabase(const WideString& database) override;  // S_FALSE when absent
  HRESULT SetDriver(const WideString& database, const WideString& driver) override;
  WideString GetDriver(const WideString& database) override;
  WideString GetParam(const WideString& database, const WideString& key) override;
  HRESULT SetParam(const WideString& database, const WideString& key,
                   const WideString& value) override;

 protected:
  ~THostSettings() override;

 private:
  // Re-reads the file, applies `change` and writes the file when the document changed.
  // Answers false when writing failed.
  template <class F>
  bool Mutate(F change, bool database_change);
  std::string EffectiveParamLocked(std::string_view database, std::string_view key) const;

  const std::string path_;
  mutable std::mutex mutex_;
  IniDocument doc_;
  std::optional<std::string> sqlite_file_override_;
  std::atomic<uint64_t> generation_{1};
  std::string last_write_error_;
};

// Whether a "readonly" setting means read-only ("Да", "yes", "true", "1", in any case).
bool IsReadonlySetting(std::string_view value);
