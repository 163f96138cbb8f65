// The data service: what the database manager and the application-server objects share.
// It owns the database connections and the providers, and one lock serialises every use of
// them (calls may come from any thread of the host).
//
// Providers are named sources of rows on the application server:
//   - a table provider serves a table of a configured database (named by the table, or as
//     the table registry declared it), reading it afresh on each request;
//   - a result provider holds the rows an OpenSQL call produced. It lives exactly as long as
//     the lease that its result set (IKVTTableinfo) holds.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/sqlitedb.h"
#include "platform/com/guid.h"

// The class identifier under which the host creates its application-server objects
// (IKVTServer2::CreateServerObject); the host writes it into every registered connection.
inline constexpr CLSID CLSID_KvtHostAppServer = "{6E0C1D2A-5B7F-4C38-9A41-2F6D8B3E7C15}"_guid;

struct ResultProvider {
  std::string database;  // UTF-8
  std::vector<ResultColumn> columns;
  std::vector<SqlValue> cells;  // row-major
  size_t rows = 0;
  size_t position = 0;  // the next row AS_GetRecords hands out
};

class DataService;

// Held by a result set; removes its provider when the last holder lets go.
class ProviderLease {
 public:
  ProviderLease(std::shared_ptr<DataService> service, std::u16string name)
      : service_(std::move(service)), name_(std::move(name)) {}
  ~ProviderLease();
  ProviderLease(const ProviderLease&) = delete;
  ProviderLease& operator=(const ProviderLease&) = delete;
  const std::u16string& Name() const { return name_; }

 private:
  std::shared_ptr<DataService> service_;
  std::u16string name_;
};

class DataService : public std::enable_shared_from_this<DataService> {
 public:
  explicit DataService(ComPtr<THostSettings> settings) : databases_(std::move(settings)) {}

  std::recursive_mutex& Mutex() { return mutex_; }
  // Use under Mutex().
  DatabaseSet& Databases() { return databases_; }
  THostSettings& Settings() { return databases_.Settings(); }

  // Adds a result provider under a new name; the lease removes it. Takes the lock.
  std::shared_ptr<ProviderLease> AddResult(std::shared_ptr<ResultProvider> provider);
  // The result provider of that name, or null. Use under Mutex().
  std::shared_ptr<ResultProvider> FindResult(std::u16string_view name) const;
  size_t ResultCount() const;

  // Declares that provider `name` serves `table` of `database` (the table registry does
  // this for every registered table). A name already declared for another table keeps its
  // first declaration: answers false then. Takes the lock.
  bool DeclareTable(std::u16string name, std::string database, std::string table);
  struct TableSource {
    std::string database, table;
  };
  // The table a table provider serves: a declared one, else the one configured database
  // that holds a table of that name. Raises EDatabaseError naming the provider when there
  // is none (or several). Use under Mutex().
  TableSource ResolveTable(std::u16string_view name);
  // Every provider name: declared tables, then live results. Takes the lock.
  std::vector<std::u16string> ProviderNames() const;

  // Closes every database (the providers stay as they are). Takes the lock.
  void CloseDatabases();

 private:
  friend class ProviderLease;
  void RemoveResult(const std::u16string& name);

  mutable std::recursive_mutex mutex_;
  DatabaseSet databases_;
  std::unordered_map<std::u16string, std::shared_ptr<ResultProvider>, U16Hash, U16Equal>
      results_;
  std::vector<std::pair<std::u16string, TableSource>> tables_;
  uint64_t next_result_ = 0;
};
