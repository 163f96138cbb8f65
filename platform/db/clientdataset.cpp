#include "platform/db/clientdataset.h"

#include <algorithm>
#include <utility>

#include "platform/com/errorinfo.h"
#include "platform/rtl/application.h"
#include "platform/rtl/format.h"
#include "platform/rtl/strutils.h"

EDBClient::EDBClient(std::string message, int32_t error_code)
    : EDatabaseError(std::move(message)), error_code_(error_code) {}
EDBClient::~EDBClient() = default;
EReconcileError::~EReconcileError() = default;

namespace {
bool SameIndexName(std::string_view a, std::string_view b) {
  return SameFieldName(a, b);
}

// Whether two canonical values count as one key.
bool SameKey(const Variant& a, const Variant& b, bool case_insensitive) {
  return CompareFieldValues(a, b, case_insensitive) == 0;
}
}  // namespace

// --- IndexDefs

const IndexDef& IndexDefs::Items(int index) const {
  if (index < 0 || index >= Count()) throw EListError::IndexOutOfBounds(index);
  return defs_[static_cast<size_t>(index)];
}

int IndexDefs::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < defs_.size(); ++i)
    if (SameIndexName(defs_[i].name, name)) return static_cast<int>(i);
  return -1;
}

const IndexDef* IndexDefs::Find(std::string_view name) const {
  int i = IndexOf(name);
  return i < 0 ? nullptr : &defs_[static_cast<size_t>(i)];
}

// --- ClientDataSet: life

ClientDataSet::ClientDataSet(Component* owner) : DataSet(owner) {}

ClientDataSet::~ClientDataSet() {
  Destroying();
  if (master_source_) {
    master_source_->RemoveLink(&master_link_);
    RemoveFreeNotification(master_source_);
    master_source_ = nullptr;
  }
  if (remote_server_) {
    remote_server_->UnRegisterClient(this);
    RemoveFreeNotification(remote_server_);
    remote_server_ = nullptr;
  }
  QuietClose();
}

void ClientDataSet::Notification(Component* component, Operation operation) {
  DataSet::Notification(component, operation);
  if (operation != Operation::Remove) return;
  // The component is being destroyed: only forget it.
  if (component == remote_server_) remote_server_ = nullptr;
  if (component == master_source_) {
    master_source_ = nullptr;
    if (Active() && !IsDestroying()) MasterChanged();
  }
}

void ClientDataSet::SetRemoteServer(CustomRemoteServer* server) {
  if (server == remote_server_) return;
  if (remote_server_) {
    remote_server_->UnRegisterClient(this);
    RemoveFreeNotification(remote_server_);
  }
  remote_server_ = server;
  if (server) {
    server->RegisterClient(this);
    FreeNotification(server);
  }
}

void ClientDataSet::SetProviderName(std::string name) {
  if (name == provider_name_) return;
  CheckInactive();
  provider_name_ = std::move(name);
}

ComPtr<IAppServer> ClientDataSet::Server() const {
  if (provider_name_.empty() || !remote_server_)
    throw EDatabaseError("Missing data provider or data packet");
  ComPtr<IAppServer> server = remote_server_->GetServer();
  if (!server)
    throw EDatabaseError(
        Format("Remote server '%s' offers no application server", {remote_server_->Name()}));
  return server;
}

// --- Fetching

void ClientDataSet::FetchPacket(Variant& packet) const {
  ComPtr<IAppServer> server = Server();
  Variant params = EncodeParams(params_);
  Variant owner_data;
  int32_t records = 0;
  HRESULT hr = server->AS_GetRecords(WideString::FromUtf8(provider_name_), -1, &records, grMetaData,
                                     WideString(), &params, &owner_data, &packet);
  if (FAILED(hr)) RaiseComError(hr);
}

ClientDataSet::Storage ClientDataSet::LoadPacket(Variant&& packet, bool create_fields) {
  DataPacket p = DecodeDataPacket(std::move(packet));
  const size_t columns = p.columns.size();
  std::vector<int> field_of_column(columns, -1);
  if (create_fields) {
    for (size_t c = 0; c < columns; ++c) {
      const PacketColumn& col = p.columns[c];
      Field* f = CreateField(col.type, col.name);
      if (!f) continue;  // no class for the type: the column is left out
      if (IsSizedFieldType(f->DataType()) && col.size > 0) f->SetSize(col.size);
      f->SetRequired(col.required);
      f->SetProviderFlags(col.flags);
      field_of_column[c] = f->Index();
    }
  } else {
    for (Field* f : FieldList()) {
      if (f->GetFieldKind() != fkData) continue;
      size_t c = 0;
      while (c < columns && !SameFieldName(p.columns[c].name, f->FieldName())) ++c;
      if (c == columns)
        throw EDatabaseError(Format("Field '%s' has no column in the data packet of provider '%s'",
                                    {f->FieldName(), provider_name_}));
      field_of_column[c] = f->Index();
    }
  }

  const size_t width = static_cast<size_t>(FieldCount());
  const size_t rows = static_cast<size_t>(p.row_count);
  Storage s;
  s.meta.resize(rows);
  // A column whose field has the packet's own type and size keeps its values as they
  // are; the others are converted to their field.
  bool identity = width == columns;
  std::vector<bool> convert(columns, false);
  for (size_t c = 0; c < columns; ++c) {
    int fi = field_of_column[c];
    if (fi < 0) {
      identity = false;
      continue;
    }
    const Field& f = Fields(fi);
    if (static_cast<size_t>(fi) != c) identity = false;
    convert[c] = f.DataType() != p.columns[c].type ||
                 (IsSizedFieldType(f.DataType()) && f.Size() != p.columns[c].size);
    if (convert[c]) identity = false;
  }
  if (identity) {
    s.cells = std::move(p.cells);
    return s;
  }
  s.cells.resize(rows * width, Variant::Null());
  for (size_t r = 0; r < rows; ++r) {
    for (size_t c = 0; c < columns; ++c) {
      int fi = field_of_column[c];
      if (fi < 0) continue;
      Variant& v = s.cells[r * width + static_cast<size_t>(fi)];
      v = std::move(p.cells[r * columns + c]);
      if (!convert[c]) continue;
      const Field& f = Fields(fi);
      try {
        CoerceFieldValue(f.DataType(), f.Size(), v, f.FieldName());
      } catch (const Exception& e) {
        throw EDatabaseError(Format("Invalid data packet: row %d, field '%s': %s",
                                    {static_cast<long long>(r), f.FieldName(), e.Message()}));
      }
    }
  }
  return s;
}

void ClientDataSet::ResetStorage() {
  storage_ = Storage();
  deleted_.clear();
  view_.clear();
  view_identity_ = true;
  pending_ = 0;
  next_change_id_ = 1;
}

void ClientDataSet::InternalOpen() {
  UpdateParamsFromMaster();
  Variant packet;
  FetchPacket(packet);
  Storage s = LoadPacket(std::move(packet), DefaultFields());
  ApplyOrder();
  ResetStorage();
  fields_width_ = static_cast<size_t>(FieldCount());
  storage_ = std::move(s);
  range_active_ = false;
  ComputeMasterFilter();
  RebuildView(-1, 0);
}

void ClientDataSet::InternalClose() {
  ResetStorage();
  fields_width_ = 0;
  order_keys_.clear();
  range_active_ = false;
  range_start_.clear();
  range_end_.clear();
  master_filter_ = master_none_ = false;
  master_detail_.clear();
  master_values_.clear();
}

void ClientDataSet::InternalRefresh() {
  if (pending_ > 0) throw EDatabaseError("Must apply updates before refreshing data");
  Variant packet;
  FetchPacket(packet);
  Storage s = LoadPacket(std::move(packet), false);
  storage_ = std::move(s);
  deleted_.clear();
  RebuildView(-1, Current());
}

// --- Rows

int ClientDataSet::GetRecordCount() const {
  return view_identity_ ? static_cast<int>(RowCount()) : static_cast<int>(view_.size());
}

const Variant* ClientDataSet::GetRecordValues(int pos) const {
  return Row(StorageRow(pos));
}

void ClientDataSet::InsertStorageRow(size_t at, std::vector<Variant>&& values, RowMeta meta) {
  const size_t width = Width();
  values.resize(width);
  storage_.cells.insert(storage_.cells.begin() + static_cast<std::ptrdiff_t>(at * width),
                        std::make_move_iterator(values.begin()),
                        std::make_move_iterator(values.end()));
  storage_.meta.insert(storage_.meta.begin() + static_cast<std::ptrdiff_t>(at), std::move(meta));
}

void ClientDataSet::RemoveStorageRow(size_t row) {
  const size_t width = Width();
  auto first = storage_.cells.begin() + static_cast<std::ptrdiff_t>(row * width);
  storage_.cells.erase(first, first + static_cast<std::ptrdiff_t>(width));
  storage_.meta.erase(storage_.meta.begin() + static_cast<std::ptrdiff_t>(row));
}

void ClientDataSet::RebuildView(long keep, int fallback) {
  const bool sort = !order_keys_.empty();
  const bool filter = master_filter_ || range_active_;
  view_.clear();
  view_identity_ = !sort && !filter;
  if (!view_identity_) {
    const size_t rows = RowCount();
    view_.reserve(rows);
    for (size_t r = 0; r < rows; ++r) {
      const Variant* row = Row(r);
      if (master_filter_) {
        if (master_none_) break;
        bool match = true;
        for (size_t i = 0; i < master_detail_.size() && match; ++i)
          match = SameKey(row[master_detail_[i]], master_values_[i], false);
        if (!match) continue;
      }
      if (range_active_) {
        bool inside = true;
        for (size_t i = 0; i < range_start_.size() && inside; ++i) {
          const OrderKey& k = order_keys_[i];
          inside = CompareFieldValues(row[k.field], range_start_[i], k.case_insensitive) >= 0 &&
                   CompareFieldValues(row[k.field], range_end_[i], k.case_insensitive) <= 0;
        }
        if (!inside) continue;
      }
      view_.push_back(static_cast<int32_t>(r));
    }
    if (sort) {
      std::stable_sort(view_.begin(), view_.end(), [this](int32_t a, int32_t b) {
        const Variant* x = Row(static_cast<size_t>(a));
        const Variant* y = Row(static_cast<size_t>(b));
        for (const OrderKey& k : order_keys_) {
          int c = CompareFieldValues(x[k.field], y[k.field], k.case_insensitive);
          if (c != 0) return order_descending_ ? c > 0 : c < 0;
        }
        return false;
      });
    }
  }
  int pos = fallback;
  if (keep >= 0) {
    if (view_identity_) {
      pos = static_cast<int>(keep);
    } else {
      auto it = std::find(view_.begin(), view_.end(), static_cast<int32_t>(keep));
      if (it != view_.end()) pos = static_cast<int>(it - view_.begin());
    }
  }
  SetCurrent(pos);
}

// --- Editing

void ClientDataSet::DoOnNewRecord() {
  // A new detail row belongs to the master's current row.
  if (master_filter_ && !master_none_) {
    std::vector<Variant>& buffer = EditBuffer();
    for (size_t i = 0; i < master_detail_.size(); ++i) {
      Variant v = master_values_[i];
      const Field& f = Fields(master_detail_[i]);
      CoerceFieldValue(f.DataType(), f.Size(), v, f.FieldName());
      buffer[static_cast<size_t>(master_detail_[i])] = std::move(v);
    }
  }
  DataSet::DoOnNewRecord();
}

void ClientDataSet::CheckUniqueIndexes(const Variant* values, long self_row) const {
  for (const IndexDef& def : index_defs_.defs_) {
    if ((def.options & (ixPrimary | ixUnique)) == 0) continue;
    std::vector<int> key;
    bool known = true;
    size_t pos = 0;
    std::string_view names = def.fields;
    while (pos <= names.size() && known) {
      size_t end = names.find(';', pos);
      if (end == std::string_view::npos) end = names.size();
      std::string_view name = Trim(names.substr(pos, end - pos));
      if (!name.empty()) {
        const Field* f = FindField(name);
        if (f)
          key.push_back(f->Index());
        else
          known = false;  // a definition naming no field of this data set is not enforced
      }
      pos = end + 1;
    }
    if (!known || key.empty()) continue;
    const bool ci = (def.options & ixCaseInsensitive) != 0;
    for (size_t r = 0; r < RowCount(); ++r) {
      if (static_cast<long>(r) == self_row) continue;
      const Variant* row = Row(r);
      bool same = true;
      for (size_t i = 0; i < key.size() && same; ++i)
        same = SameKey(row[key[i]], values[key[i]], ci);
      if (same) throw EDBClient("Key violation.", kKeyViolation);
    }
  }
}

void ClientDataSet::InternalPost() {
  DataSet::InternalPost();
  std::vector<Variant>& buffer = EditBuffer();
  if (State() == DataSetState::Insert) {
    CheckUniqueIndexes(buffer.data(), -1);
    size_t at = RowCount();
    if (!AppendMode() && view_identity_ && Current() >= 0) at = StorageRow(Current());
    RowMeta meta;
    meta.status = usInserted;
    meta.change_id = next_change_id_++;
    InsertStorageRow(at, std::move(buffer), std::move(meta));
    ++pending_;
    RebuildView(static_cast<long>(at), Current());
    return;
  }
  const size_t row = StorageRow(Current());
  CheckUniqueIndexes(buffer.data(), static_cast<long>(row));
  Variant* cells = Row(row);
  bool changed = false;
  for (size_t i = 0; i < Width() && !changed; ++i) changed = !(cells[i] == buffer[i]);
  if (!changed) return;
  RowMeta& meta = storage_.meta[row];
  if (meta.status == usUnmodified) {
    meta.original = std::make_unique<std::vector<Variant>>(cells, cells + Width());
    meta.status = usModified;
    meta.change_id = next_change_id_++;
    ++pending_;
  }
  std::move(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(Width()), cells);
  RebuildView(static_cast<long>(row), Current());
}

void ClientDataSet::InternalDelete() {
  const size_t row = StorageRow(Current());
  RowMeta& meta = storage_.meta[row];
  if (meta.status == usInserted) {
    --pending_;  // a row the server never saw leaves no trace
  } else {
    DeletedRow d;
    d.change_id = next_change_id_++;
    if (meta.status == usModified) {
      d.original = std::move(*meta.original);
    } else {
      const Variant* cells = Row(row);
      d.original.assign(cells, cells + Width());
      ++pending_;
    }
    deleted_.push_back(std::move(d));
  }
  RemoveStorageRow(row);
  RebuildView(-1, Current());
}

UpdateStatus ClientDataSet::GetUpdateStatus() const {
  if (State() == DataSetState::Insert) return usInserted;
  if (!Active() || Current() < 0) return usUnmodified;
  return storage_.meta[StorageRow(Current())].status;
}

// --- Change log

long ClientDataSet::FindChange(int32_t id, bool& deleted) const {
  deleted = false;
  for (size_t r = 0; r < RowCount(); ++r)
    if (storage_.meta[r].status != usUnmodified && storage_.meta[r].change_id == id)
      return static_cast<long>(r);
  for (size_t i = 0; i < deleted_.size(); ++i)
    if (deleted_[i].change_id == id) {
      deleted = true;
      return static_cast<long>(i);
    }
  return -1;
}

void ClientDataSet::MergeChange(int32_t id) {
  bool deleted = false;
  long at = FindChange(id, deleted);
  if (at < 0) return;
  if (deleted) {
    deleted_.erase(deleted_.begin() + at);
  } else {
    RowMeta& meta = storage_.meta[static_cast<size_t>(at)];
    meta.status = usUnmodified;
    meta.original.reset();
  }
  --pending_;
}

void ClientDataSet::RevertChange(int32_t id) {
  bool deleted = false;
  long at = FindChange(id, deleted);
  if (at < 0) return;
  if (deleted) {
    std::vector<Variant> values = std::move(deleted_[static_cast<size_t>(at)].original);
    deleted_.erase(deleted_.begin() + at);
    InsertStorageRow(RowCount(), std::move(values), RowMeta());
  } else {
    size_t row = static_cast<size_t>(at);
    RowMeta& meta = storage_.meta[row];
    if (meta.status == usInserted) {
      RemoveStorageRow(row);
    } else {
      std::move(meta.original->begin(), meta.original->end(), Row(row));
      meta.status = usUnmodified;
      meta.original.reset();
    }
  }
  --pending_;
}

DeltaPacket ClientDataSet::BuildDelta() const {
  DeltaPacket delta;
  std::vector<int> data;
  for (Field* f : FieldList()) {
    if (f->GetFieldKind() != fkData) continue;
    data.push_back(f->Index());
    delta.columns.push_back(
        {f->FieldName(), f->DataType(), f->Size(), f->Required(), f->GetProviderFlags()});
  }
  auto pick = [&data](const Variant* row) {
    std::vector<Variant> values;
    values.reserve(data.size());
    for (int i : data) values.push_back(row[i]);
    return values;
  };
  for (size_t r = 0; r < RowCount(); ++r) {
    const RowMeta& meta = storage_.meta[r];
    if (meta.status == usUnmodified) continue;
    DeltaChange ch;
    ch.id = meta.change_id;
    ch.kind = meta.status == usInserted ? ukInsert : ukModify;
    if (meta.status == usModified) ch.original = pick(meta.original->data());
    ch.current = pick(Row(r));
    delta.changes.push_back(std::move(ch));
  }
  for (const DeletedRow& d : deleted_) {
    DeltaChange ch;
    ch.id = d.change_id;
    ch.kind = ukDelete;
    ch.original = pick(d.original.data());
    delta.changes.push_back(std::move(ch));
  }
  std::sort(delta.changes.begin(), delta.changes.end(),
            [](const DeltaChange& a, const DeltaChange& b) { return a.id < b.id; });
  return delta;
}

int ClientDataSet::ApplyUpdates(int max_errors) {
  CheckActive();
  CheckBrowseMode();
  if (pending_ == 0) return 0;
  ComPtr<IAppServer> server = Server();
  Variant delta = EncodeDeltaPacket(BuildDelta());
  int32_t error_count = 0;
  Variant owner_data, answer;
  HRESULT hr = server->AS_ApplyUpdates(WideString::FromUtf8(provider_name_), delta, max_errors,
                                       &error_count, &owner_data, &answer);
  if (FAILED(hr)) RaiseComError(hr);
  ApplyResult result = DecodeApplyResult(answer);
  // Every refused change must be one that was sent; until that is known, nothing changes.
  std::vector<int32_t> refused;
  refused.reserve(result.refused.size());
  for (const RefusedChange& r : result.refused) {
    bool deleted = false;
    if (FindChange(r.id, deleted) < 0)
      throw EDatabaseError(
          Format("Invalid data packet: the server refused an unknown change %d", {r.id}));
    refused.push_back(r.id);
  }
  const int position = Current();
  if (!result.rolled_back) {
    std::vector<int32_t> applied;
    for (const RowMeta& m : storage_.meta)
      if (m.status != usUnmodified) applied.push_back(m.change_id);
    for (const DeletedRow& d : deleted_) applied.push_back(d.change_id);
    for (int32_t id : applied)
      if (std::find(refused.begin(), refused.end(), id) == refused.end()) MergeChange(id);
  }
  bool aborted = false;
  for (const RefusedChange& r : result.refused) {
    if (aborted) break;
    bool deleted = false;
    long at = FindChange(r.id, deleted);
    if (at < 0) continue;
    UpdateKind kind = deleted                                                       ? ukDelete
                      : storage_.meta[static_cast<size_t>(at)].status == usInserted ? ukInsert
                                                                                    : ukModify;
    ReconcileAction action = raSkip;
    if (OnReconcileError) {
      try {
        EReconcileError error(r.message, r.error_code);
        OnReconcileError(*this, error, kind, action);
      } catch (...) {
        // An error of the handler is shown and ends the reconcile.
        Application::HandleException(std::current_exception());
        action = raAbort;
      }
    }
    switch (action) {
      case raAbort:
        aborted = true;
        break;
      case raMerge:
        MergeChange(r.id);
        break;
      case raCancel:
      case raRefresh:
        RevertChange(r.id);
        break;
      case raSkip:
      case raCorrect:
        break;
    }
  }
  if (Active()) {
    RebuildView(-1, position);
    NotifyDataSources(DataEvent::RecordChanged);
  }
  return std::max(static_cast<int>(result.refused.size()), static_cast<int>(error_count));
}

void ClientDataSet::CancelUpdates() {
  CheckActive();
  if (State() != DataSetState::Browse) Cancel();
  std::vector<int32_t> ids;
  for (const RowMeta& m : storage_.meta)
    if (m.status != usUnmodified) ids.push_back(m.change_id);
  for (const DeletedRow& d : deleted_) ids.push_back(d.change_id);
  for (int32_t id : ids) RevertChange(id);
  RebuildView(-1, Current());
  NotifyDataSources(DataEvent::RecordChanged);
}

void ClientDataSet::MergeChangeLog() {
  CheckActive();
  CheckBrowseMode();
  for (RowMeta& m : storage_.meta) {
    m.status = usUnmodified;
    m.original.reset();
  }
  deleted_.clear();
  pending_ = 0;
}

// --- Indexes

void ClientDataSet::AddIndex(const std::string& name, const std::string& fields,
                             IndexOptions options) {
  if (name.empty()) throw EDatabaseError("An index must have a name");
  if (index_defs_.IndexOf(name) >= 0)
    throw EDatabaseError(Format("Index '%s' already exists", {name}));
  if (Active() || FieldCount() > 0) GetFieldList(fields);  // every field must exist
  index_defs_.defs_.push_back({name, fields, options});
}

void ClientDataSet::DeleteIndex(std::string_view name) {
  int i = index_defs_.IndexOf(name);
  if (i < 0) throw EDatabaseError(Format("Index '%s' not found", {name}));
  bool current = !index_name_.empty() && SameIndexName(index_name_, name);
  index_defs_.defs_.erase(index_defs_.defs_.begin() + i);
  if (current) SetIndexName(std::string());
}

bool ClientDataSet::CurrentIndex(std::string& fields, IndexOptions& options) const {
  options = 0;
  if (!index_name_.empty()) {
    const IndexDef* def = index_defs_.Find(index_name_);
    if (!def) throw EDatabaseError(Format("Index '%s' not found", {index_name_}));
    fields = def->fields;
    options = def->options;
    return true;
  }
  fields = index_field_names_;
  return !fields.empty();
}

void ClientDataSet::ApplyOrder() {
  std::string names;
  IndexOptions options = 0;
  std::vector<OrderKey> keys;
  if (CurrentIndex(names, options)) {
    for (Field* f : GetFieldList(names))
      keys.push_back({f->Index(), (options & ixCaseInsensitive) != 0});
  }
  order_keys_ = std::move(keys);
  order_descending_ = (options & ixDescending) != 0;
}

void ClientDataSet::SetIndexName(std::string name) {
  ChangeOrder(std::move(name), std::string());
}

void ClientDataSet::SetIndexFieldNames(std::string names) {
  ChangeOrder(std::string(), std::move(names));
}

void ClientDataSet::ChangeOrder(std::string index_name, std::string field_names) {
  if (Active()) CheckBrowseMode();
  std::string old_name = std::exchange(index_name_, std::move(index_name));
  std::string old_fields = std::exchange(index_field_names_, std::move(field_names));
  if (!Active()) return;
  try {
    ApplyOrder();
  } catch (...) {
    // An unknown index or field leaves the order as it was.
    index_name_ = std::move(old_name);
    index_field_names_ = std::move(old_fields);
    throw;
  }
  RebuildView(Current() >= 0 ? static_cast<long>(StorageRow(Current())) : -1, 0);
  NotifyDataSources(DataEvent::RecordChanged);
}

int ClientDataSet::IndexFieldCount() const {
  std::string names;
  IndexOptions options = 0;
  if (!CurrentIndex(names, options)) return 0;
  return static_cast<int>(GetFieldList(names).size());
}

Field& ClientDataSet::IndexFields(int index) const {
  std::string names;
  IndexOptions options = 0;
  std::vector<Field*> fields;
  if (CurrentIndex(names, options)) fields = GetFieldList(names);
  if (index < 0 || static_cast<size_t>(index) >= fields.size())
    throw EDatabaseError("Field index out of range");
  return *fields[static_cast<size_t>(index)];
}

void ClientDataSet::SetRange(std::vector<Variant> start, std::vector<Variant> end) {
  CheckActive();
  CheckBrowseMode();
  if (start.size() != end.size() || start.size() > order_keys_.size() || start.empty())
    throw EDatabaseError("A range needs one start and one end value per leading index field");
  for (size_t i = 0; i < start.size(); ++i) {
    const Field& f = Fields(order_keys_[i].field);
    CoerceFieldValue(f.DataType(), 0, start[i], f.FieldName());
    CoerceFieldValue(f.DataType(), 0, end[i], f.FieldName());
  }
  range_start_ = std::move(start);
  range_end_ = std::move(end);
  range_active_ = true;
  RebuildView(-1, 0);
  NotifyDataSources(DataEvent::RecordChanged);
}

void ClientDataSet::CancelRange() {
  if (!range_active_) return;
  range_active_ = false;
  range_start_.clear();
  range_end_.clear();
  if (!Active()) return;
  CheckBrowseMode();
  RebuildView(Current() >= 0 ? static_cast<long>(StorageRow(Current())) : -1, 0);
  NotifyDataSources(DataEvent::RecordChanged);
}

// --- Master/detail

void ClientDataSet::SetMasterSource(DataSource* source) {
  if (source == master_source_) return;
  if (source && source->GetDataSet() == this)
    throw EDatabaseError("Circular datalinks are not allowed");
  if (master_source_) {
    master_source_->RemoveLink(&master_link_);
    RemoveFreeNotification(master_source_);
  }
  master_source_ = source;
  if (source) {
    source->AddLink(&master_link_);
    FreeNotification(source);
  }
  if (Active()) MasterChanged();
}

void ClientDataSet::SetMasterFields(std::string names) {
  if (names == master_fields_) return;
  master_fields_ = std::move(names);
  if (Active()) MasterChanged();
}

void ClientDataSet::GetDetailLinkFields(std::vector<Field*>& master, std::vector<Field*>& detail) {
  master.clear();
  detail.clear();
  DataSet* m = master_source_ ? master_source_->GetDataSet() : nullptr;
  if (!m || master_fields_.empty()) return;
  master = m->GetFieldList(master_fields_);
  std::string names;
  IndexOptions options = 0;
  std::vector<Field*> index;
  if (CurrentIndex(names, options)) index = GetFieldList(names);
  if (index.size() >= master.size()) {
    detail.assign(index.begin(), index.begin() + static_cast<std::ptrdiff_t>(master.size()));
  } else {
    for (Field* f : master) detail.push_back(&FieldByName(f->FieldName()));
  }
}

void ClientDataSet::ComputeMasterFilter() {
  master_filter_ = master_none_ = false;
  master_detail_.clear();
  master_values_.clear();
  DataSet* m = master_source_ ? master_source_->GetDataSet() : nullptr;
  if (!m || master_fields_.empty()) return;
  master_filter_ = true;
  master_none_ = true;
  if (!m->Active() || m->IsEmpty()) return;
  std::vector<Field*> mf, df;
  GetDetailLinkFields(mf, df);
  for (size_t i = 0; i < mf.size() && i < df.size(); ++i) {
    master_detail_.push_back(df[i]->Index());
    master_values_.push_back(mf[i]->Value());
  }
  master_none_ = false;
}

bool ClientDataSet::UpdateParamsFromMaster() {
  DataSet* m = master_source_ ? master_source_->GetDataSet() : nullptr;
  if (!m || master_fields_.empty() || params_.Empty()) return false;
  bool has_row = m->Active() && !m->IsEmpty();
  std::vector<Field*> master;
  if (has_row) master = m->GetFieldList(master_fields_);
  bool changed = false;
  for (int i = 0; i < params_.Count(); ++i) {
    Param& p = params_[i];
    Variant value = Variant::Null();
    if (has_row) {
      // The master field of the parameter's name, else the one at its position.
      Field* source = nullptr;
      for (Field* f : master)
        if (SameIndexName(f->FieldName(), p.Name())) source = f;
      if (!source && static_cast<size_t>(i) < master.size())
        source = master[static_cast<size_t>(i)];
      if (!source) continue;
      value = source->Value();
    }
    if (!(p.Value() == value) || !p.Bound()) {
      p.SetValue(std::move(value));
      changed = true;
    }
  }
  return changed;
}

void ClientDataSet::MasterChanged() {
  if (!Active()) return;
  CheckBrowseMode();
  // With provider parameters the rows come per master row; pending changes are kept
  // (not fetched over) and the rows are only filtered until they are applied.
  if (UpdateParamsFromMaster() && pending_ == 0) {
    Variant packet;
    FetchPacket(packet);
    storage_ = LoadPacket(std::move(packet), false);
    deleted_.clear();
  }
  ComputeMasterFilter();
  RebuildView(-1, 0);
  NotifyDataSources(DataEvent::RecordChanged);
}

void ClientDataSet::MasterLink::DataSetEvent(DataSource&, DataEvent event) {
  // A property change of the master alone moves no row; its reopening will tell.
  if (event == DataEvent::PropertyChanged) return;
  owner_.MasterChanged();
}
