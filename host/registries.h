// What modules register with the host: their connections and tables, and the host's error
// log through which they report.
//
// Connections (IKVTAlias) and table descriptions (IKVTTableDef) do not count references:
// the host keeps plain pointers, valid until the module stops, and drops them at Stop.
#pragma once

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/dataservice.h"
#include "hostintf/kvt_TLB.h"
#include "hostintf/kvt_serverintf.h"
#include "platform/com/object.h"

// The error log: stderr, and the log file beside the settings (appended, one line per
// entry with the local time and the level).
class THostErrorLog : public Implements<IKVTErrorLog> {
 public:
  explicit THostErrorLog(std::string log_path) : path_(std::move(log_path)) {}
  const std::string& Path() const { return path_; }

  // Host-side entries ("warning", "error", "message").
  void Write(const char* level, const std::string& text);
  // Whether entries are also written to stderr (on at first). A command that reports its
  // own failures in one line turns this off; the log file keeps every entry.
  void SetEcho(bool on) { echo_ = on; }

  HRESULT LogMessage(const WideString& text) override;
  HRESULT LogWarning(const WideString& text) override;
  HRESULT LogError(const WideString& text) override;

 private:
  std::string path_;
  std::mutex mutex_;
  bool file_failed_ = false;  // reported once
  std::atomic<bool> echo_{true};
};

// Keeps each registered connection and writes the application server's class identifier
// into it.
class TConnectionRegistry : public Implements<IKVTConnectionRegistry> {
 public:
  explicit TConnectionRegistry(ComPtr<THostErrorLog> log) : log_(std::move(log)) {}

  // Keeps the alias and sets its ServerGUID; a failure of that is logged and answered as
  // the failure's code.
  HRESULT AddConnection(IKVTAlias* connection) override;

  std::vector<IKVTAlias*> Connections() const;
  void Clear();

 private:
  ComPtr<THostErrorLog> log_;
  mutable std::mutex mutex_;
  std::vector<IKVTAlias*> connections_;
};

// Keeps each registered table description. A table without a provider name is given its
// table name, and the application server serves it under that name. The host checks that
// the configured database holds the table and reports what is wrong (a warning, not a
// failure).
class TTableRegistry : public Implements<IKVTTableRegistry> {
 public:
  TTableRegistry(std::shared_ptr<DataService> data, ComPtr<THostErrorLog> log)
      : data_(std::move(data)), log_(std::move(log)) {}

  HRESULT AddTable(const WideString& database, IKVTTableDef* table) override;

  struct Entry {
    WideString database;
    IKVTTableDef* table;
  };
  std::vector<Entry> Tables() const;
  void Clear();

 private:
  void CheckTable(const std::string& database, const std::string& table);

  std::shared_ptr<DataService> data_;
  ComPtr<THostErrorLog> log_;
  mutable std::mutex mutex_;
  std::vector<Entry> tables_;
  std::set<std::string> unusable_;  // databases already reported as unusable
};
