#include "dataaccess/cdsTable.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "platform/com/guid.h"
#include "platform/rtl/codepage.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/format.h"
#include "platform/rtl/strutils.h"

EWrongServerGUID::~EWrongServerGUID() = default;
EApplyError::~EApplyError() = default;

namespace {
// The text without its first `count` characters (code points).
std::string_view DropChars(std::string_view utf8, size_t count) {
  size_t pos = 0;
  for (size_t n = 0; n < count && pos < utf8.size(); ++n) {
    ++pos;
    while (pos < utf8.size() && (static_cast<unsigned char>(utf8[pos]) & 0xC0) == 0x80) ++pos;
  }
  return utf8.substr(pos);
}

struct IndexSwitch {
  std::string_view text;
  int32_t set;    // bits added
  int32_t clear;  // bits removed
};
constexpr IndexSwitch kIndexSwitches[] = {
    {"/d", ixDescending, 0},
    {"/u", ixUnique, 0},
    {"/c", 0, ixCaseInsensitive},
    {"/t", kIndexTextFlag, 0},
};
}  // namespace

// --- Index list grammar

std::string IndexNameFor(std::string_view field_text, int32_t number) {
  if (field_text.find(';') != std::string_view::npos)
    return "sIndex_" + std::to_string(static_cast<int8_t>(number));
  return std::string(Trim(field_text));
}

TKVTIndexEntry ParseIndexEntry(std::string_view entry, int32_t position, bool no_primary) {
  TKVTIndexEntry result;
  result.Options = (position == 0 && !no_primary) ? (ixPrimary | ixUnique) : ixCaseInsensitive;
  size_t found = 0;
  for (const IndexSwitch& s : kIndexSwitches) {
    if (entry.find(s.text) == std::string_view::npos) continue;
    result.Options = (result.Options | s.set) & ~s.clear;
    ++found;
  }
  result.Fields = std::string(DropChars(entry, 2 * found));
  result.Name = IndexNameFor(result.Fields, position);
  return result;
}

// --- Life

TcdsTable::TcdsTable(Component* owner) : NonCounting(owner) {
  key_fields_.SetDelimiter(';');
  indexes_.OnChange = [this](StringList&) { RebuildKeyFields(); };
  OnPostError = [this](DataSet&, EDatabaseError& error, DataAction& action) {
    HandlePostError(error, action);
  };
  OnReconcileError = [](DataSet& dataset, EReconcileError& error, UpdateKind, ReconcileAction&) {
    const auto* table = dynamic_cast<const TcdsTable*>(&dataset);
    throw EApplyError((table ? table->TableName() : dataset.Name()) + " " + error.Message());
  };
}

TcdsTable::TcdsTable(IKVTTableinfo* table, TKVTDispatchConnection* connection, IKVTServer2* server,
                     IKVTTableDef* description)
    : TcdsTable(static_cast<Component*>(nullptr)) {
  // The object is complete here: an error below runs the destructor.
  Attach(table, connection, server);
  if (FieldCount() == 0 && description)
    CreateFieldsFromTable(*this, &indexes_, description, false, true, nullptr, false);
}

TcdsTable::~TcdsTable() {
  Destroying();
  try {
    FreeOwnedConnection();
  } catch (...) {
    // The connection is gone all the same; a failing disconnect must not escape here.
  }
}

void TcdsTable::Attach(IKVTTableinfo* table, TKVTDispatchConnection* connection,
                       IKVTServer2* server) {
  if (!table) throw EDatabaseError("No host result set to attach the table to");
  FreeOwnedConnection();
  if (connection) {
    if (WideString::FromUtf8(connection->ServerGUID()) != table->GetServerGUID())
      throw EWrongServerGUID("Неправильно задан идентификатор сервера");
    SetRemoteServer(connection);
  } else {
    if (!server) throw Exception("Не задана база данных!");
    owned_connection_ = new TKVTAlias(nullptr);
    SetRemoteServer(owned_connection_);
    owned_connection_->SetHostServer(server);
    owned_connection_->SetLoadFromFile(true);
    owned_connection_->SetServerGUID(table->GetServerGUID().ToAnsi());
    owned_connection_->Open();
  }
  SetProviderName(table->GetProviderName().ToAnsi());
  SetTableName(table->GetTableName().ToAnsi());
  table_info_ = table;
}

void TcdsTable::FreeOwnedConnection() {
  if (!owned_connection_) return;
  std::unique_ptr<TKVTAlias> connection(std::exchange(owned_connection_, nullptr));
  if (RemoteServer() == connection.get()) SetRemoteServer(nullptr);
  if (connection->Connected()) connection->Close();
}

// --- Published properties

void TcdsTable::SetDatabasename(std::string_view value) {
  databasename_ = ToCodePage1251(value);
}

void TcdsTable::SetFullname(std::string_view value) {
  fullname_ = ToCodePage1251(value);
}

void TcdsTable::SetTableName(std::string_view value) {
  table_name_ = ToCodePage1251(value);
}

void TcdsTable::SetHiddenName(std::string_view value) {
  hidden_name_ = ToCodePage1251(value);
}

void TcdsTable::SetUpdateMaster(DataSet* dataset) {
  if (dataset == update_master_) return;
  DataSet* old = std::exchange(update_master_, dataset);
  if (old && std::find(detail_tables_.begin(), detail_tables_.end(), old) == detail_tables_.end())
    RemoveFreeNotification(old);
  if (dataset) FreeNotification(dataset);
}

void TcdsTable::AddDetailTable(TcdsTable* table) {
  if (!table || table == this) return;
  if (std::find(detail_tables_.begin(), detail_tables_.end(), table) != detail_tables_.end())
    return;
  detail_tables_.push_back(table);
  FreeNotification(table);
}

void TcdsTable::RemoveDetailTable(TcdsTable* table) {
  auto it = std::find(detail_tables_.begin(), detail_tables_.end(), table);
  if (it == detail_tables_.end()) return;
  detail_tables_.erase(it);
  if (table != update_master_) RemoveFreeNotification(table);
}

void TcdsTable::Notification(Component* component, Operation operation) {
  ClientDataSet::Notification(component, operation);
  if (operation != Operation::Remove) return;
  // Only forget what is going away.
  if (component == update_master_) update_master_ = nullptr;
  std::erase(detail_tables_, component);
  if (component == autoinc_field_) autoinc_field_ = nullptr;
  if (component == guid_field_) guid_field_ = nullptr;
}

void TcdsTable::RebuildKeyFields() {
  if (indexes_.Empty())
    key_fields_.Clear();
  else
    key_fields_.SetDelimitedText(indexes_[0]);
}

// --- Opening

void TcdsTable::DoBeforeOpen() {
  ClientDataSet::DoBeforeOpen();
  driver_name_.clear();
  // Fields found at an earlier open may be gone (default fields go with the close).
  autoinc_field_ = nullptr;
  guid_field_ = nullptr;
  if (master_key_param_ && !MasterFields().empty() && !IndexFieldNames().empty()) {
    StringList names;
    names.SetDelimiter(';');
    names.SetDelimitedText(IndexFieldNames());
    Params().Clear();
    if (!names.Empty()) Params().Add(names[0]).SetValue(Variant::Null());
  }
}

void TcdsTable::DoAfterOpen() {
  if (IndexFieldNames().empty() && !design_index_field_names_.empty()) RestoreSortOrder();
  if (open_detail_tables_) OpenDetails();
  ClientDataSet::DoAfterOpen();
  FindSpecialFields();
  if (auto* alias = dynamic_cast<TKVTAlias*>(RemoteServer()))
    if (ComPtr<IKVTDatabaseInfo> info = alias->GetDatabaseInfo())
      driver_name_ = info->GetDriverName().ToAnsi();
}

void TcdsTable::OpenDetails() {
  const std::vector<TcdsTable*> details = detail_tables_;
  for (TcdsTable* table : details) {
    try {
      table->Open();
    } catch (const EOpenError&) {
      throw;
    } catch (...) {
      throw EOpenError(Format(
          "Внимание! Таблица \"%s\" (%s). \r\nПроизошла ошибка при открытии \"%s\".",
          {table->Fullname(), table->TableName(), ExceptionMessage(std::current_exception())}));
    }
  }
}

void TcdsTable::FindSpecialFields() {
  autoinc_field_ = nullptr;
  guid_field_ = nullptr;
  for (Field* field : FieldList()) {
    if (autoinc_field_ && guid_field_) break;
    if (dynamic_cast<AutoIncField*>(field) || dynamic_cast<TKVTAutoincField*>(field)) {
      field->SetReadOnly(false);
      autoinc_field_ = field;
    } else if (dynamic_cast<TKVTGUIDFIeld*>(field)) {
      guid_field_ = field;
    }
  }
}

void TcdsTable::Loaded() {
  design_index_field_names_ = IndexFieldNames();
  ClientDataSet::Loaded();
}

void TcdsTable::RestoreSortOrder() {
  CancelRange();
  IndexDefs().Update();
  const TIndexData order = MakeIndexData(false, design_index_field_names_);
  const ::IndexDefs& defs = IndexDefs();
  for (int i = 0; i < defs.Count(); ++i) {
    if (SameTextAscii(defs[i].fields, order.Text)) {
      SetIndexName(defs[i].name);
      return;
    }
  }
  std::string name = IndexNameFor(order.Text, defs.Count());
  AddIndex(name, order.Text, ixCaseInsensitive);
  SetIndexName(std::move(name));
}

// --- Closing

void TcdsTable::DoBeforeClose() {
  ClientDataSet::DoBeforeClose();
  const std::vector<TcdsTable*> details = detail_tables_;
  for (TcdsTable* table : details) table->Close();
}

void TcdsTable::DoAfterClose() {
  ClientDataSet::DoAfterClose();
  autoinc_field_ = nullptr;
  guid_field_ = nullptr;
  if (!IndexName().empty()) SetIndexName(std::string());
  table_info_.Reset();
}

// --- New rows, posting, deleting

void TcdsTable::DoOnNewRecord() {
  if (autoinc_field_) {
    autoinc_field_->SetAsInteger(next_provisional_);
    // Counts down across opens; wraps instead of overflowing after 2^31 rows.
    next_provisional_ = static_cast<int32_t>(static_cast<uint32_t>(next_provisional_) - 1u);
    refresh_pending_ = !batch_apply_ && driver_name_ == "BDE";
  }
  if (guid_field_ && guid_field_->IsNull()) {
    GUID guid;
    if (SUCCEEDED(CoCreateGuid(&guid))) SetGUIDValue(*guid_field_, guid);
  }
  ClientDataSet::DoOnNewRecord();
}

void TcdsTable::DoBeforePost() {
  ClientDataSet::DoBeforePost();
  if (fill_key_defaults_) FillKeyDefaultValues();
}

void TcdsTable::FillKeyDefaultValues() {
  // A BeforePost handler may have cancelled the edit.
  if (State() != DataSetState::Edit && State() != DataSetState::Insert) return;
  const int count = key_fields_.Count();
  if (count > FieldCount()) return;
  // The first positions of the table, not the fields KeyFields names.
  for (int i = 0; i < count; ++i) {
    Field& field = Fields(i);
    if (field.ReadOnly() || !field.IsNull()) continue;
    switch (field.DataType()) {
      case ftString:
      case ftFixedChar:
      case ftWideString:
      case ftFixedWideChar:
        field.SetAsString("");
        break;
      case ftSmallint:
      case ftInteger:
      case ftWord:
        field.SetAsInteger(0);
        break;
      case ftDate:
      case ftDateTime:
        field.SetAsDateTime(Now());
        break;
      default:
        break;
    }
  }
}

void TcdsTable::Post() {
  ClientDataSet::Post();
  ApplyStep();
  NotifyAfterPost();
  RefreshAfterPost();
}

void TcdsTable::DoAfterDelete() {
  ApplyStep();
  ClientDataSet::DoAfterDelete();
}

void TcdsTable::ApplyStep() {
  const bool apply =
      batch_apply_ ? (driver_name_ == "BDE" && ChangeCount() % 200 == 0) : !manual_apply_;
  if (apply && !manual_apply_ && RemoteServer() && ChangeCount() > 0) ApplyUpdates(-1);
}

void TcdsTable::NotifyAfterPost() {
  if (OnPostDone) OnPostDone(*this);
  if (OnPostDone2) OnPostDone2(*this);
}

void TcdsTable::RefreshAfterPost() {
  if (!autoinc_field_ || !refresh_pending_) return;
  refresh_pending_ = false;
  const bool relocate = relocate_on_refresh_;
  relocate_on_refresh_ = false;
  try {
    Refresh();
  } catch (...) {
    relocate_on_refresh_ = relocate;
    throw;
  }
  relocate_on_refresh_ = relocate;
}

void TcdsTable::HandlePostError(EDatabaseError& error, DataAction& action) {
  action = daAbort;
  bool duplicate = false;
  if (const auto* engine = dynamic_cast<const EDBClient*>(&error))
    duplicate = engine->ErrorCode() == kKeyViolation;
  else
    duplicate = UpperCase1251(error.Message()).find("KEY VIOLATION") != std::string::npos;
  if (duplicate)
    throw EKeyViolation(this,
                        "Дублирование записей.\r\n" + Format("Таблица \"%s\"", {table_name_}));
}

// --- Refresh

void TcdsTable::DoBeforeRefresh() {
  ClientDataSet::DoBeforeRefresh();
  if (key_fields_.Empty()) {
    saved_keys_ = Variant::Null();
    return;
  }
  std::vector<Variant> values;
  values.reserve(static_cast<size_t>(key_fields_.Count()));
  for (const std::string& name : key_fields_.Lines()) values.push_back(FieldByName(name).Value());
  saved_keys_ = Variant::Array(std::move(values));
}

void TcdsTable::DoAfterRefresh() {
  ClientDataSet::DoAfterRefresh();
  Variant keys = std::exchange(saved_keys_, Variant::Null());
  if (relocate_on_refresh_ && !key_fields_.Empty() && !keys.IsEmptyOrNull())
    Locate(indexes_[0], keys);
}

// --- Field classes and master/detail

FieldFactory TcdsTable::GetFieldClass(FieldType type) const {
  if (type == ftGuid) return &NewField<TKVTGUIDFIeld>;
  return ClientDataSet::GetFieldClass(type);
}

void TcdsTable::GetDetailLinkFields(std::vector<Field*>& master, std::vector<Field*>& detail) {
  master.clear();
  detail.clear();
  DataSet* source = MasterSource() ? MasterSource()->GetDataSet() : nullptr;
  if (!source || MasterFields().empty()) return;
  master = source->GetFieldList(MasterFields());
  for (size_t i = 0; i < master.size(); ++i) detail.push_back(&IndexFields(static_cast<int>(i)));
}

// --- IKVTTableNotify

HRESULT TcdsTable::Unsupported1(const Variant&) {
  return E_FAIL;
}

HRESULT TcdsTable::Unsupported2(const Variant&, const Variant&, const Variant&) {
  return E_FAIL;
}

HRESULT TcdsTable::Unsupported3() {
  return E_FAIL;
}

HRESULT TcdsTable::RefreshData() {
  if (Active()) Refresh();
  return S_OK;
}

HRESULT TcdsTable::NotifyDataUpdate() {
  if (BeforeDataUpdate) BeforeDataUpdate(*this);
  return S_OK;
}

HRESULT TcdsTable::NotifyValCheck(Variant* result) {
  if (result) result->Clear();
  if (OnValCheck) OnValCheck(*this);
  return S_OK;
}

HRESULT TcdsTable::Unsupported7(Variant* result) {
  if (result) result->Clear();
  return E_FAIL;
}

HRESULT TcdsTable::Unsupported8(Variant* result) {
  if (result) result->Clear();
  return E_FAIL;
}

// --- IKVTUpdateMethod

HRESULT TcdsTable::SetUpdateType(int32_t value) {
  update_type_ = static_cast<TUpdateMethod>(static_cast<uint8_t>(value & 0xFF));
  return S_OK;
}

// --- IKVTTableDef

WideString TcdsTable::GetFullname() {
  return WideString::FromUtf8(fullname_);
}

HRESULT TcdsTable::SetFullname(const WideString& name) {
  fullname_ = name.ToAnsi();
  return S_OK;
}

WideString TcdsTable::GetTableName() {
  return WideString::FromUtf8(table_name_);
}

HRESULT TcdsTable::SetTableName(const WideString& name) {
  table_name_ = name.ToAnsi();
  return S_OK;
}

ComPtr<IKVTFieldInfo> TcdsTable::GetField(int32_t index) {
  Field& field = Fields(index);
  if (dynamic_cast<TKVTAutoincField*>(&field)) return MakeObject<TKVTAutoIncrementField>(&field);
  return MakeObject<TKVTField>(&field);
}

ComPtr<IKVTIndexInfo> TcdsTable::GetIndex(int32_t index) {
  TKVTIndexEntry entry = ParseIndexEntry(indexes_.Get(index), index, no_primary_);
  return MakeObject<TKVTIndex>(std::move(entry.Name), std::move(entry.Fields), entry.Options);
}

WideString TcdsTable::GetProviderName() {
  return WideString::FromUtf8(ProviderName());
}

HRESULT TcdsTable::SetProviderName(const WideString& name) {
  ClientDataSet::SetProviderName(name.ToAnsi());
  return S_OK;
}
