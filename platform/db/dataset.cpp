#include "platform/db/dataset.h"

#include <algorithm>

#include "platform/rtl/format.h"
#include "platform/rtl/strutils.h"

namespace {
const Variant& NullValue() {
  static const Variant null = Variant::Null();
  return null;
}

bool PrefixMatch(const Variant& value, const Variant& key, bool case_insensitive) {
  if (!value.IsText() || !key.IsText())
    return CompareFieldValues(value, key, case_insensitive) == 0;
  std::string v = value.ToText(), k = key.ToText();
  if (case_insensitive) {
    v = UpperCase1251(v);
    k = UpperCase1251(k);
  }
  return v.compare(0, k.size(), k) == 0;
}
}  // namespace

// --- DataSet

DataSet::DataSet(Component* owner) : Component(owner) {}

DataSet::~DataSet() {
  Destroying();
  // The storage is gone with the derived class; its destructor closed the data set.
  state_ = DataSetState::Inactive;
  buffer_.clear();
  // The fields stay with their owners; those this data set owns go with it.
  for (Field* f : fields_) {
    f->dataset_ = nullptr;
    f->index_ = -1;
  }
  fields_.clear();
  std::vector<DataSource*> sources;
  sources.swap(sources_);
  for (DataSource* s : sources) {
    RemoveFreeNotification(s);
    s->dataset_ = nullptr;
    s->Notify(DataEvent::ActiveChanged);
  }
}

void DataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset");
}

void DataSet::CheckInactive() const {
  if (Active()) throw EDatabaseError("Cannot perform this operation on an open dataset");
}

void DataSet::SetActive(bool active) {
  if (IsLoading() && !IsDestroying()) {
    streamed_active_ = active;
    return;
  }
  if (active == Active()) return;
  if (active)
    DoOpen();
  else
    DoClose();
}

void DataSet::Loaded() {
  Component::Loaded();
  if (streamed_active_) {
    streamed_active_ = false;
    Open();
  }
}

void DataSet::DoOpen() {
  DoBeforeOpen();
  bool had_fields = !fields_.empty();
  default_fields_ = !had_fields;
  try {
    InternalOpen();
  } catch (...) {
    if (!had_fields) DestroyDefaultFields();
    default_fields_ = false;
    throw;
  }
  state_ = DataSetState::Browse;
  modified_ = false;
  cur_ = -1;
  SetCurrent(0);
  bof_ = true;
  NotifyDataSources(DataEvent::ActiveChanged);
  DoAfterOpen();
}

void DataSet::DoClose() {
  DoBeforeClose();
  QuietClose();
  NotifyDataSources(DataEvent::ActiveChanged);
  DoAfterClose();
}

void DataSet::QuietClose() {
  if (!Active()) return;
  state_ = DataSetState::Inactive;
  buffer_.clear();
  modified_ = false;
  cur_ = -1;
  bof_ = eof_ = true;
  InternalClose();
  if (default_fields_) DestroyDefaultFields();
  default_fields_ = false;
}

void DataSet::DestroyDefaultFields() {
  // Fields built by an open are owned by this data set.
  std::vector<Field*> fields;
  fields.swap(fields_);
  for (Field* f : fields) {
    f->dataset_ = nullptr;
    f->index_ = -1;
    if (f->Owner() == this) delete f;
  }
}

void DataSet::ClearFields() {
  CheckInactive();
  std::vector<Field*> fields;
  fields.swap(fields_);
  for (Field* f : fields) {
    f->dataset_ = nullptr;
    f->index_ = -1;
    delete f;
  }
  default_fields_ = false;
}

// --- Cursor

int DataSet::RecordCount() const {
  return Active() ? GetRecordCount() : 0;
}

bool DataSet::IsEmpty() const {
  return RecordCount() == 0;
}

void DataSet::SetCurrent(int pos) {
  int count = GetRecordCount();
  if (count == 0) {
    cur_ = -1;
    bof_ = eof_ = true;
    return;
  }
  cur_ = std::clamp(pos, 0, count - 1);
  bof_ = eof_ = false;
}

void DataSet::First() {
  CheckBrowseMode();
  int old = cur_;
  SetCurrent(0);
  bof_ = true;
  if (old != cur_) NotifyDataSources(DataEvent::RecordChanged);
}

void DataSet::Last() {
  CheckBrowseMode();
  int old = cur_;
  SetCurrent(GetRecordCount() - 1);
  eof_ = true;
  if (old != cur_) NotifyDataSources(DataEvent::RecordChanged);
}

int DataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int count = GetRecordCount();
  if (count == 0 || distance == 0) {
    if (count == 0) bof_ = eof_ = true;
    return 0;
  }
  int target = cur_ + distance;
  int moved = 0;
  if (target >= count) {
    moved = count - 1 - cur_;
    cur_ = count - 1;
    eof_ = true;
    bof_ = false;
  } else if (target < 0) {
    moved = -cur_;
    cur_ = 0;
    bof_ = true;
    eof_ = false;
  } else {
    moved = distance;
    cur_ = target;
    bof_ = eof_ = false;
  }
  if (moved != 0) NotifyDataSources(DataEvent::RecordChanged);
  return moved;
}

void DataSet::Next() {
  MoveBy(1);
}
void DataSet::Prior() {
  MoveBy(-1);
}

int DataSet::RecNo() const {
  if (state_ != DataSetState::Browse && state_ != DataSetState::Edit) return 0;
  return cur_ < 0 ? 0 : cur_ + 1;
}

void DataSet::SetRecNo(int recno) {
  CheckBrowseMode();
  int old = cur_;
  SetCurrent(recno - 1);
  if (old != cur_) NotifyDataSources(DataEvent::RecordChanged);
}

bool DataSet::Locate(std::string_view key_fields, const Variant& key_values,
                     LocateOptions options) {
  CheckBrowseMode();
  std::vector<Field*> fields = GetFieldList(key_fields);
  if (fields.empty()) return false;
  std::vector<Variant> keys;
  const Variant& kv = key_values.Deref();
  if (kv.IsArray() && !(fields.size() == 1 && kv.VType() == (varArray | varByte))) {
    if (static_cast<size_t>(kv.ArrayCount()) != fields.size())
      throw EDatabaseError(Format("Locate: %d key values for %d key fields",
                                  {kv.ArrayCount(), static_cast<long long>(fields.size())}));
    keys = kv.Items();
  } else {
    if (fields.size() != 1)
      throw EDatabaseError(Format("Locate: one key value for %d key fields",
                                  {static_cast<long long>(fields.size())}));
    keys.push_back(kv);
  }
  bool partial = (options & loPartialKey) != 0;
  bool ci = (options & loCaseInsensitive) != 0;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (partial && keys[i].IsText() &&
        (fields[i]->DataType() == ftString || fields[i]->DataType() == ftWideString ||
         fields[i]->DataType() == ftFixedChar || fields[i]->DataType() == ftMemo))
      continue;  // a leading part of a text is not held to the field's size
    CoerceFieldValue(fields[i]->DataType(), 0, keys[i], fields[i]->FieldName());
  }
  int count = GetRecordCount();
  for (int pos = 0; pos < count; ++pos) {
    const Variant* row = GetRecordValues(pos);
    bool match = true;
    for (size_t i = 0; i < keys.size() && match; ++i) {
      const Variant& value = row[fields[i]->Index()];
      match =
          partial ? PrefixMatch(value, keys[i], ci) : CompareFieldValues(value, keys[i], ci) == 0;
    }
    if (match) {
      int old = cur_;
      SetCurrent(pos);
      if (old != cur_) NotifyDataSources(DataEvent::RecordChanged);
      return true;
    }
  }
  return false;
}

// --- Editing

void DataSet::StartInsert(bool append) {
  CheckActive();
  CheckBrowseMode();
  DoBeforeInsert();
  append_mode_ = append;
  buffer_.assign(fields_.size(), Variant::Null());
  state_ = DataSetState::Insert;
  try {
    DoOnNewRecord();
  } catch (...) {
    state_ = DataSetState::Browse;
    buffer_.clear();
    throw;
  }
  modified_ = false;
  DoAfterInsert();
}

void DataSet::Insert() {
  StartInsert(false);
}
void DataSet::Append() {
  StartInsert(true);
}

void DataSet::Edit() {
  CheckActive();
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) return;
  if (GetRecordCount() == 0) {
    Insert();
    return;
  }
  DoBeforeEdit();
  const Variant* row = GetRecordValues(cur_);
  buffer_.assign(row, row + fields_.size());
  state_ = DataSetState::Edit;
  modified_ = false;
  DoAfterEdit();
}

void DataSet::Post() {
  CheckActive();
  if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
  DoBeforePost();
  // A BeforePost step that cancelled the edit leaves nothing to store.
  if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
  for (;;) {
    try {
      InternalPost();
      break;
    } catch (EDatabaseError& e) {
      DataAction action = daFail;
      if (OnPostError) OnPostError(*this, e, action);
      if (action == daFail) throw;
      if (action == daAbort) throw EAbort();
      // daRetry: try again.
    }
  }
  state_ = DataSetState::Browse;
  buffer_.clear();
  modified_ = false;
  NotifyDataSources(DataEvent::RecordChanged);
  DoAfterPost();
}

void DataSet::InternalPost() {
  for (Field* f : fields_) {
    if (f->Required() && !f->ReadOnly() && f->GetFieldKind() == fkData &&
        buffer_[static_cast<size_t>(f->Index())].IsEmptyOrNull())
      throw EDatabaseError(Format("Field '%s' must have a value", {f->DisplayName()}));
  }
}

void DataSet::Cancel() {
  if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
  DoBeforeCancel();
  bool was_insert = state_ == DataSetState::Insert;
  state_ = DataSetState::Browse;
  buffer_.clear();
  modified_ = false;
  if (was_insert) NotifyDataSources(DataEvent::RecordChanged);
  DoAfterCancel();
}

void DataSet::Delete() {
  CheckActive();
  if (state_ == DataSetState::Insert) {
    Cancel();
    return;
  }
  if (GetRecordCount() == 0)
    throw EDatabaseError("Cannot perform this operation on an empty dataset");
  if (state_ == DataSetState::Edit) {
    // The edit is given up with the row.
    state_ = DataSetState::Browse;
    buffer_.clear();
    modified_ = false;
  }
  DoBeforeDelete();
  InternalDelete();
  NotifyDataSources(DataEvent::RecordChanged);
  DoAfterDelete();
}

void DataSet::Refresh() {
  CheckActive();
  CheckBrowseMode();
  DoBeforeRefresh();
  InternalRefresh();
  NotifyDataSources(DataEvent::RecordChanged);
  DoAfterRefresh();
}

void DataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) {
    if (modified_)
      Post();
    else
      Cancel();
  }
}

// --- Field values

const Variant& DataSet::FieldValue(int index) const {
  CheckActive();
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert)
    return buffer_[static_cast<size_t>(index)];
  if (cur_ < 0) return NullValue();
  return GetRecordValues(cur_)[index];
}

void DataSet::SetFieldValue(Field& field, Variant&& value) {
  CheckActive();
  if (state_ != DataSetState::Edit && state_ != DataSetState::Insert)
    throw EDatabaseError("Dataset not in edit or insert mode");
  if (field.ReadOnly())
    throw EDatabaseError(Format("Field '%s' cannot be modified", {field.DisplayName()}));
  CoerceFieldValue(field.DataType(), field.Size(), value, field.FieldName());
  buffer_[static_cast<size_t>(field.Index())] = std::move(value);
  modified_ = true;
}

// --- Fields

Field& DataSet::Fields(int index) const {
  if (index < 0 || index >= FieldCount()) throw EListError::IndexOutOfBounds(index);
  return *fields_[static_cast<size_t>(index)];
}

Field* DataSet::FindField(std::string_view name) const {
  for (Field* f : fields_)
    if (SameFieldName(f->FieldName(), name)) return f;
  return nullptr;
}

Field& DataSet::FieldByName(std::string_view name) const {
  if (Field* f = FindField(name)) return *f;
  throw EDatabaseError(Format("Field '%s' not found", {name}));
}

std::vector<Field*> DataSet::GetFieldList(std::string_view names) const {
  std::vector<Field*> list;
  size_t pos = 0;
  while (pos <= names.size()) {
    size_t end = names.find(';', pos);
    if (end == std::string_view::npos) end = names.size();
    std::string_view name = Trim(names.substr(pos, end - pos));
    if (!name.empty()) list.push_back(&FieldByName(name));
    pos = end + 1;
  }
  return list;
}

void DataSet::AddField(Field* field) {
  field->dataset_ = this;
  field->index_ = FieldCount();
  fields_.push_back(field);
}

void DataSet::RemoveField(Field* field) {
  // A field that goes while its data set is open takes the rows with it.
  if (Active()) QuietClose();
  auto it = std::find(fields_.begin(), fields_.end(), field);
  if (it == fields_.end()) return;
  fields_.erase(it);
  field->dataset_ = nullptr;
  field->index_ = -1;
  for (size_t i = 0; i < fields_.size(); ++i) fields_[i]->index_ = static_cast<int>(i);
}

Field* DataSet::CreateField(FieldType type, const std::string& name) {
  FieldFactory factory = GetFieldClass(type);
  if (!factory) return nullptr;
  Field* f = factory(this);
  try {
    f->SetFieldName(name);
    AddField(f);
  } catch (...) {
    delete f;
    throw;
  }
  return f;
}

FieldFactory DataSet::GetFieldClass(FieldType type) const {
  return DefaultFieldClass(type);
}

void DataSet::GetDetailLinkFields(std::vector<Field*>& master, std::vector<Field*>& detail) {
  master.clear();
  detail.clear();
}

// --- Hooks

#define KVT_FIRE(event) \
  if (event) event(*this)
void DataSet::DoBeforeOpen() {
  KVT_FIRE(BeforeOpen);
}
void DataSet::DoAfterOpen() {
  KVT_FIRE(AfterOpen);
}
void DataSet::DoBeforeClose() {
  KVT_FIRE(BeforeClose);
}
void DataSet::DoAfterClose() {
  KVT_FIRE(AfterClose);
}
void DataSet::DoBeforeInsert() {
  KVT_FIRE(BeforeInsert);
}
void DataSet::DoAfterInsert() {
  KVT_FIRE(AfterInsert);
}
void DataSet::DoBeforeEdit() {
  KVT_FIRE(BeforeEdit);
}
void DataSet::DoAfterEdit() {
  KVT_FIRE(AfterEdit);
}
void DataSet::DoBeforePost() {
  KVT_FIRE(BeforePost);
}
void DataSet::DoAfterPost() {
  KVT_FIRE(AfterPost);
}
void DataSet::DoBeforeCancel() {
  KVT_FIRE(BeforeCancel);
}
void DataSet::DoAfterCancel() {
  KVT_FIRE(AfterCancel);
}
void DataSet::DoBeforeDelete() {
  KVT_FIRE(BeforeDelete);
}
void DataSet::DoAfterDelete() {
  KVT_FIRE(AfterDelete);
}
void DataSet::DoBeforeRefresh() {
  KVT_FIRE(BeforeRefresh);
}
void DataSet::DoAfterRefresh() {
  KVT_FIRE(AfterRefresh);
}
void DataSet::DoOnNewRecord() {
  KVT_FIRE(OnNewRecord);
}
#undef KVT_FIRE

// --- Data sources

void DataSet::Notification(Component* component, Operation operation) {
  Component::Notification(component, operation);
  if (operation == Operation::Remove) {
    auto it = std::find(sources_.begin(), sources_.end(), component);
    if (it != sources_.end()) sources_.erase(it);
  }
}

void DataSet::AddDataSource(DataSource* source) {
  if (std::find(sources_.begin(), sources_.end(), source) == sources_.end()) {
    sources_.push_back(source);
    FreeNotification(source);
  }
}

void DataSet::RemoveDataSource(DataSource* source) {
  auto it = std::find(sources_.begin(), sources_.end(), source);
  if (it != sources_.end()) {
    sources_.erase(it);
    RemoveFreeNotification(source);
  }
}

void DataSet::NotifyDataSources(DataEvent event) {
  if (sources_.empty()) return;
  std::vector<DataSource*> sources = sources_;
  for (DataSource* s : sources)
    if (std::find(sources_.begin(), sources_.end(), s) != sources_.end()) s->Notify(event);
}

// --- DataSource

DataSource::DataSource(Component* owner) : Component(owner) {}

DataSource::~DataSource() {
  Destroying();
  SetDataSet(nullptr);
}

void DataSource::SetDataSet(DataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_) dataset_->RemoveDataSource(this);
  dataset_ = dataset;
  if (dataset_) dataset_->AddDataSource(this);
  Notify(DataEvent::ActiveChanged);
}

void DataSource::AddLink(DataLink* link) {
  if (link && std::find(links_.begin(), links_.end(), link) == links_.end()) links_.push_back(link);
}

void DataSource::RemoveLink(DataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

void DataSource::Notification(Component* component, Operation operation) {
  Component::Notification(component, operation);
  if (operation == Operation::Remove && component == dataset_) {
    dataset_ = nullptr;
    if (!IsDestroying()) Notify(DataEvent::ActiveChanged);
  }
}

void DataSource::Notify(DataEvent event) {
  std::vector<DataLink*> links = links_;
  for (DataLink* l : links)
    if (std::find(links_.begin(), links_.end(), l) != links_.end()) l->DataSetEvent(*this, event);
}
