#include "host/registries.h"

#include <cstdio>

#include "host/trace.h"
#include "platform/com/errorinfo.h"
#include "platform/com/guid.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"

// --- THostErrorLog

void THostErrorLog::Write(const char* level, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (echo_) std::fprintf(stderr, "kvthost: %s: %s\n", level, text.c_str());
  std::FILE* f = std::fopen(path_.c_str(), "a");
  if (f == nullptr) {
    if (!file_failed_)
      std::fprintf(stderr, "kvthost: warning: cannot write the log '%s'\n", path_.c_str());
    file_failed_ = true;
    return;
  }
  std::fprintf(f, "%s %s: %s\n", FormatDateTimeISO(Now()).c_str(), level, text.c_str());
  std::fclose(f);
}

HRESULT THostErrorLog::LogMessage(const WideString& text) {
  Trace("IKVTErrorLog.LogMessage");
  Write("message", text.ToUtf8());
  return S_OK;
}

HRESULT THostErrorLog::LogWarning(const WideString& text) {
  Trace("IKVTErrorLog.LogWarning");
  Write("warning", text.ToUtf8());
  return S_OK;
}

HRESULT THostErrorLog::LogError(const WideString& text) {
  Trace("IKVTErrorLog.LogError");
  Write("error", text.ToUtf8());
  return S_OK;
}

// --- TConnectionRegistry

HRESULT TConnectionRegistry::AddConnection(IKVTAlias* connection) {
  Trace("IKVTConnectionRegistry.AddConnection");
  if (connection == nullptr) return E_POINTER;
  {
    std::lock_guard lock(mutex_);
    connections_.push_back(connection);
  }
  try {
    connection->SetServerGUID(GUIDToWide(CLSID_KvtHostAppServer));
    return S_OK;
  } catch (...) {
    std::exception_ptr e = std::current_exception();
    log_->Write("error", "the connection of database \"" + connection->GetDatabasename().ToUtf8() +
                             "\" does not take the server's identifier: " + ExceptionMessage(e));
    HRESULT hr = E_FAIL;
    try {
      std::rethrow_exception(e);
    } catch (const EOleSysError& ole) {
      if (FAILED(ole.ErrorCode())) hr = ole.ErrorCode();
    } catch (...) {
    }
    return hr;
  }
}

std::vector<IKVTAlias*> TConnectionRegistry::Connections() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

void TConnectionRegistry::Clear() {
  std::lock_guard lock(mutex_);
  connections_.clear();
}

// --- TTableRegistry

HRESULT TTableRegistry::AddTable(const WideString& database, IKVTTableDef* table) {
  if (Tracing()) Trace("IKVTTableRegistry.AddTable " + database.ToUtf8());
  if (table == nullptr) return E_POINTER;
  {
    std::lock_guard lock(mutex_);
    tables_.push_back({database, table});
  }
  try {
    WideString name = table->GetTableName();
    if (name.empty()) {
      log_->Write("warning", "a table of database \"" + database.ToUtf8() +
                                 "\" was registered without a table name");
      return S_OK;
    }
    WideString provider = table->GetProviderName();
    if (provider.empty()) {
      table->SetProviderName(name);
      provider = name;
    }
    if (!data_->DeclareTable(provider.str(), database.ToUtf8(), name.ToUtf8())) {
      log_->Write("warning", "registered table \"" + name.ToUtf8() + "\" of database \"" +
                                 database.ToUtf8() + "\" is not served: its provider name \"" +
                                 provider.ToUtf8() + "\" serves another table already");
      return S_OK;
    }
    CheckTable(database.ToUtf8(), name.ToUtf8());
  } catch (...) {
    log_->Write("warning", "table of database \"" + database.ToUtf8() +
                               "\": " + ExceptionMessage(std::current_exception()));
  }
  return S_OK;
}

void TTableRegistry::CheckTable(const std::string& database, const std::string& table) {
  {
    // A database found unusable for one of its tables is not tried again for the next:
    // each try may wait for a lock held by another writer.
    std::lock_guard own(mutex_);
    if (unusable_.count(database)) return;
  }
  std::lock_guard lock(data_->Mutex());
  std::string problem;
  try {
    SqliteDatabase& db = data_->Databases().Open(database);
    if (db.HasTable(table)) return;
    problem = "the file \"" + db.Settings().file + "\" has no table \"" + table + "\"";
  } catch (const EDatabaseError& e) {
    // A database that cannot be opened is reported once, not for each of its tables.
    {
      std::lock_guard own(mutex_);
      if (!unusable_.insert(database).second) return;
    }
    log_->Write("warning", "the registered tables of database \"" + database +
                               "\" cannot be served: " + e.Message());
    return;
  }
  log_->Write("warning", "registered table \"" + table + "\" of database \"" + database +
                             "\" cannot be served: " + problem);
}

std::vector<TTableRegistry::Entry> TTableRegistry::Tables() const {
  std::lock_guard lock(mutex_);
  return tables_;
}

void TTableRegistry::Clear() {
  std::lock_guard lock(mutex_);
  tables_.clear();
  unusable_.clear();
}
