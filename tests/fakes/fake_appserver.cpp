#include "tests/fakes/fake_appserver.h"

#include "platform/com/errorinfo.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/strutils.h"

namespace {
int ColumnIndex(const std::vector<PacketColumn>& columns, std::string_view name) {
  for (size_t i = 0; i < columns.size(); ++i)
    if (SameTextAscii(columns[i].name, name)) return static_cast<int>(i);
  return -1;
}

// The delta columns that find a row: the keys, or every "where" column.
std::vector<int> FinderColumns(const DeltaPacket& delta) {
  std::vector<int> keys, where;
  for (size_t i = 0; i < delta.columns.size(); ++i) {
    if (delta.columns[i].flags & pfInKey) keys.push_back(static_cast<int>(i));
    if (delta.columns[i].flags & pfInWhere) where.push_back(static_cast<int>(i));
  }
  return keys.empty() ? where : keys;
}

// The row of `table` whose finder columns equal `values` (delta order), or -1.
long FindRow(const FakeAppServer::Table& table, const DeltaPacket& delta,
             const std::vector<Variant>& values, long skip = -1) {
  std::vector<int> finder = FinderColumns(delta);
  for (size_t r = 0; r < table.rows.size(); ++r) {
    if (static_cast<long>(r) == skip) continue;
    bool match = !finder.empty();
    for (int c : finder) {
      int tc = ColumnIndex(table.columns, delta.columns[static_cast<size_t>(c)].name);
      if (tc < 0 || CompareFieldValues(table.rows[r][static_cast<size_t>(tc)],
                                       values[static_cast<size_t>(c)]) != 0) {
        match = false;
        break;
      }
    }
    if (match) return static_cast<long>(r);
  }
  return -1;
}

HRESULT Fail(HRESULT hr, const std::string& message) {
  ErrorInfo info;
  info.guid = IAppServer::iid;
  info.source = WideString::FromUtf8("FakeAppServer");
  info.description = WideString::FromUtf8(message);
  SetErrorInfo(info);
  return hr;
}
}  // namespace

void FakeAppServer::AddTable(const std::string& provider, std::vector<PacketColumn> columns,
                             std::vector<std::vector<Variant>> rows) {
  tables_[provider] = Table{std::move(columns), std::move(rows)};
}

FakeAppServer::Table& FakeAppServer::GetTable(const std::string& provider) {
  auto it = tables_.find(provider);
  if (it == tables_.end()) throw Exception("no table " + provider);
  return it->second;
}

void FakeAppServer::FailNext(Method method, HRESULT hr, std::string message, int times) {
  failures_[method] = Failure{hr, std::move(message), times};
}

bool FakeAppServer::TakeFailure(Method method, HRESULT& hr) {
  auto it = failures_.find(method);
  if (it == failures_.end() || it->second.times <= 0) return false;
  --it->second.times;
  hr = Fail(it->second.hr, it->second.message);
  return true;
}

HRESULT FakeAppServer::AS_GetRecords(const WideString& provider, int32_t, int32_t* recs_out,
                                     int32_t, const WideString&, Variant* params, Variant*,
                                     Variant* result) {
  ++get_records_calls;
  result->Clear();
  *recs_out = 0;
  HRESULT hr = S_OK;
  if (TakeFailure(kGetRecords, hr)) return hr;
  try {
    DecodeParams(params ? *params : Variant(), last_params);
    if (next_packet_) {
      *result = std::move(*next_packet_);
      next_packet_.reset();
      return S_OK;
    }
    auto it = tables_.find(provider.ToUtf8());
    if (it == tables_.end()) return Fail(E_FAIL, "Provider not found: " + provider.ToUtf8());
    const Table& table = it->second;
    std::vector<std::vector<Variant>> rows;
    for (const auto& row : table.rows) {
      bool match = true;
      for (int i = 0; i < last_params.Count() && match; ++i) {
        const Param& p = last_params[i];
        int c = ColumnIndex(table.columns, p.Name());
        if (c < 0) continue;
        if (p.IsNull()) {
          match = false;
          continue;
        }
        Variant key = p.Value();
        CoerceFieldValue(table.columns[static_cast<size_t>(c)].type, 0, key, p.Name());
        match = CompareFieldValues(row[static_cast<size_t>(c)], key) == 0;
      }
      if (match) rows.push_back(row);
    }
    *recs_out = static_cast<int32_t>(rows.size());
    *result = EncodeDataPacket(table.columns, std::move(rows));
    return S_OK;
  } catch (const Exception& e) {
    return Fail(E_FAIL, e.Message());
  }
}

std::optional<FakeAppServer::Refusal> FakeAppServer::Apply(Table& table, const DeltaPacket& delta,
                                                           const DeltaChange& change) {
  if (refuse)
    if (auto r = refuse(change, delta)) return r;
  auto write = [&](std::vector<Variant>& row, bool insert) {
    for (size_t c = 0; c < delta.columns.size(); ++c) {
      if (!insert && !(delta.columns[c].flags & pfInUpdate)) continue;
      int tc = ColumnIndex(table.columns, delta.columns[c].name);
      if (tc >= 0) row[static_cast<size_t>(tc)] = change.current[c];
    }
  };
  switch (change.kind) {
    case ukInsert: {
      if (FindRow(table, delta, change.current) >= 0)
        return Refusal{"Key violation.", kKeyViolation};
      std::vector<Variant> row(table.columns.size(), Variant::Null());
      write(row, true);
      table.rows.push_back(std::move(row));
      return std::nullopt;
    }
    case ukModify: {
      long r = FindRow(table, delta, change.original);
      if (r < 0) return Refusal{"Record not found or changed by another user", 0};
      if (FindRow(table, delta, change.current, r) >= 0)
        return Refusal{"Key violation.", kKeyViolation};
      write(table.rows[static_cast<size_t>(r)], false);
      return std::nullopt;
    }
    case ukDelete: {
      long r = FindRow(table, delta, change.original);
      if (r < 0) return Refusal{"Record not found or changed by another user", 0};
      table.rows.erase(table.rows.begin() + r);
      return std::nullopt;
    }
  }
  return std::nullopt;
}

HRESULT FakeAppServer::AS_ApplyUpdates(const WideString& provider, const Variant& delta,
                                       int32_t max_errors, int32_t* error_count, Variant*,
                                       Variant* result) {
  ++apply_calls;
  result->Clear();
  *error_count = 0;
  last_max_errors = max_errors;
  HRESULT hr = S_OK;
  if (TakeFailure(kApplyUpdates, hr)) return hr;
  try {
    last_delta = DecodeDeltaPacket(delta);
    if (next_result_) {
      *result = std::move(*next_result_);
      next_result_.reset();
      return S_OK;
    }
    auto it = tables_.find(provider.ToUtf8());
    if (it == tables_.end()) return Fail(E_FAIL, "Provider not found: " + provider.ToUtf8());
    Table snapshot = it->second;
    ApplyResult answer;
    for (const DeltaChange& change : last_delta.changes)
      if (auto refusal = Apply(it->second, last_delta, change))
        answer.refused.push_back({change.id, refusal->message, refusal->error_code});
    *error_count = static_cast<int32_t>(answer.refused.size());
    if (max_errors >= 0 && *error_count > max_errors) {
      it->second = std::move(snapshot);
      answer.rolled_back = true;
    }
    *result = EncodeApplyResult(answer);
    return S_OK;
  } catch (const Exception& e) {
    return Fail(E_FAIL, e.Message());
  }
}

HRESULT FakeAppServer::AS_DataRequest(const WideString&, const Variant&, Variant* result) {
  result->Clear();
  return E_NOTIMPL;
}

HRESULT FakeAppServer::AS_GetProviderNames(Variant* result) {
  std::vector<Variant> names;
  for (const auto& [name, table] : tables_) names.push_back(Variant::Text(name));
  *result = Variant::Array(std::move(names));
  return S_OK;
}

HRESULT FakeAppServer::AS_GetParams(const WideString&, Variant*, Variant* result) {
  result->Clear();
  return E_NOTIMPL;
}

HRESULT FakeAppServer::AS_RowRequest(const WideString&, const Variant&, int32_t, Variant*,
                                     Variant* result) {
  result->Clear();
  return E_NOTIMPL;
}

HRESULT FakeAppServer::AS_Execute(const WideString&, const WideString&, Variant*, Variant*) {
  return E_NOTIMPL;
}

HRESULT FakeAppServer::GetTypeInfoCount(uint32_t* count) {
  if (count) *count = 0;
  return S_OK;
}

HRESULT FakeAppServer::Invoke(DISPID id, const GUID&, LCID, uint16_t flags, DISPPARAMS* params,
                              Variant* result, EXCEPINFO*, uint32_t*) {
  if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  Variant ignored;
  Variant* out = result ? result : &ignored;
  const uint32_t argc = params ? params->cArgs : 0;
  // rgvarg holds the arguments last first.
  auto arg = [&](uint32_t position) -> Variant& { return params->rgvarg[argc - 1 - position]; };
  try {
    switch (id) {
      case kDispGetRecords: {
        if (argc != 7) return DISP_E_BADPARAMCOUNT;
        int32_t recs = 0;
        HRESULT hr = AS_GetRecords(arg(0).ToWide(), arg(1).ToInt32(), &recs, arg(3).ToInt32(),
                                   arg(4).ToWide(), &arg(5).Deref(), &arg(6).Deref(), out);
        arg(2).Deref() = Variant(recs);
        return hr;
      }
      case kDispApplyUpdates: {
        if (argc != 5) return DISP_E_BADPARAMCOUNT;
        int32_t errors = 0;
        HRESULT hr = AS_ApplyUpdates(arg(0).ToWide(), arg(1).Deref(), arg(2).ToInt32(), &errors,
                                     &arg(4).Deref(), out);
        arg(3).Deref() = Variant(errors);
        return hr;
      }
      case kDispGetProviderNames:
        return AS_GetProviderNames(out);
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  } catch (const Exception&) {
    return DISP_E_TYPEMISMATCH;
  }
}

FakeRemoteServer::~FakeRemoteServer() = default;

void FakeRemoteServer::SetServer(ComPtr<IDispatch> server) {
  Close();
  server_ = std::move(server);
}

ComPtr<IAppServer> FakeRemoteServer::GetServer() {
  ++get_server_calls;
  return CustomRemoteServer::GetServer();
}

void FakeRemoteServer::DoConnect() {
  ++connects;
  if (!server_) throw EDatabaseError("FakeRemoteServer: no server");
  SetAppServer(Variant(server_));
}
