#include "host/dataservice.h"

#include "host/hosttext.h"
#include "platform/rtl/codepage.h"
#include "platform/rtl/exceptions.h"

ProviderLease::~ProviderLease() {
  service_->RemoveResult(name_);
}

std::shared_ptr<ProviderLease> DataService::AddResult(std::shared_ptr<ResultProvider> provider) {
  std::lock_guard lock(mutex_);
  std::u16string name = u"SQL#" + Utf8ToUtf16(std::to_string(++next_result_));
  results_.emplace(name, std::move(provider));
  return std::make_shared<ProviderLease>(shared_from_this(), std::move(name));
}

void DataService::RemoveResult(const std::u16string& name) {
  std::shared_ptr<ResultProvider> gone;  // freed outside the lock
  {
    std::lock_guard lock(mutex_);
    auto it = results_.find(name);
    if (it == results_.end()) return;
    gone = std::move(it->second);
    results_.erase(it);
  }
}

std::shared_ptr<ResultProvider> DataService::FindResult(std::u16string_view name) const {
  auto it = results_.find(name);
  return it == results_.end() ? nullptr : it->second;
}

size_t DataService::ResultCount() const {
  std::lock_guard lock(mutex_);
  return results_.size();
}

bool DataService::DeclareTable(std::u16string name, std::string database, std::string table) {
  std::lock_guard lock(mutex_);
  for (auto& [n, source] : tables_)
    if (EqualsNoCase(n, name))
      return source.database == database && EqualsNoCase(source.table, table);
  tables_.emplace_back(std::move(name), TableSource{std::move(database), std::move(table)});
  return true;
}

DataService::TableSource DataService::ResolveTable(std::u16string_view name) {
  for (const auto& [n, source] : tables_)
    if (EqualsNoCase(n, name)) return source;
  const std::string table = Utf16ToUtf8(name);
  std::vector<std::string> holders;
  for (const std::string& db : Settings().DatabaseNames()) {
    try {
      if (Databases().Open(db).HasTable(table)) holders.push_back(db);
    } catch (const EDatabaseError&) {
      // A database that cannot be opened holds nothing to serve.
    }
  }
  if (holders.size() == 1) return {holders[0], table};
  if (holders.empty())
    throw EDatabaseError("Provider '" + table +
                         "' not found: no result of that name and no configured database holds "
                         "a table of that name");
  std::string list;
  for (const std::string& h : holders) list += (list.empty() ? "\"" : ", \"") + h + "\"";
  throw EDatabaseError("Provider '" + table + "' is ambiguous: the databases " + list +
                       " all hold a table of that name");
}

std::vector<std::u16string> DataService::ProviderNames() const {
  std::lock_guard lock(mutex_);
  std::vector<std::u16string> names;
  for (const auto& entry : tables_) names.push_back(entry.first);
  for (const auto& entry : results_) names.push_back(entry.first);
  return names;
}

void DataService::CloseDatabases() {
  std::lock_guard lock(mutex_);
  databases_.CloseAll();
}
