// TcdsTable: the table component of the data access layer. A client data set that gets
// its rows from a provider of the application server behind its connection (a TKVTAlias
// in this module), with what the module adds around it:
//
//   - a published description (full name, server table name, index list, phrase list,
//     update method, stored options) that the host reads through IKVTTableDef;
//   - every posted or deleted row applied to the server at once;
//   - provisional negative numbers for an auto-increment field and fresh GUIDs for a GUID
//     field in new rows, default values for empty key fields before a post;
//   - duplicate keys reported as EKeyViolation, refused changes as EApplyError;
//   - the same key current again after a refresh;
//   - an attaching constructor that binds the table to a result set the host prepared.
//
// The four host interfaces (IKVTTableNotify, IKVTUpdateMethod, IKVTTableAux,
// IKVTTableDef) do not count references: the table lives until its owner or creator frees
// it, and nobody may use them after that.
//
// Texts are kept as UTF-8 reduced to code page 1251's repertoire and cross the interfaces
// as UTF-16.
//
// Index list grammar (one entry per index): switches at the front, each two characters,
// then the field text.
//   "/d" descending, "/u" unique, "/c" case-sensitive, "/t" text flag (64)
// Entry 0 starts as primary and unique (unless NoPrimary), every other entry as
// case-insensitive. Each switch is looked for in the whole entry and counts once; the
// field text is the entry minus its first 2*k characters for k switches found. The name
// is "sIndex_<position>" (position as a signed 8-bit number) when the field text holds a
// ";", otherwise the trimmed field text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/KVTAlias.h"
#include "dataaccess/kvt_descriptors.h"
#include "dataaccess/kvt_fields.h"
#include "dataaccess/kvtmconnect.h"
#include "hostintf/kvt_TLB.h"
#include "hostintf/kvt_dbmanagerintf.h"
#include "hostintf/kvt_serverintf.h"
#include "platform/com/object.h"
#include "platform/db/clientdataset.h"
#include "platform/rtl/stringlist.h"

// The server identifier of a connection differs from the result set's.
KVT_DECLARE_EXCEPTION(EWrongServerGUID, Exception);
// The server refused a change: "<TableName> <server message>".
KVT_DECLARE_EXCEPTION(EApplyError, Exception);

// One entry of an index list, read by the grammar above.
struct TKVTIndexEntry {
  std::string Name;
  std::string Fields;  // the field text, passed on as it is
  int32_t Options = 0;
};

// Index option bits beyond the platform's IndexOptions.
inline constexpr int32_t kIndexTextFlag = 64;

// Reads entry `entry` at `position` of an index list.
TKVTIndexEntry ParseIndexEntry(std::string_view entry, int32_t position, bool no_primary);
// The name of an index over `field_text` numbered `number`: "sIndex_<number as a signed
// 8-bit number>" when the text holds ";", else the text trimmed.
std::string IndexNameFor(std::string_view field_text, int32_t number);

class TcdsTable : public NonCounting<ClientDataSet, IKVTTableNotify, IKVTUpdateMethod, IKVTTableAux,
                                     IKVTTableDef> {
 public:
  using FieldNotifyEvent = std::function<void(Field&)>;

  // The component constructor: initial values, the string lists, and the table's own
  // OnPostError and OnReconcileError handlers.
  explicit TcdsTable(Component* owner = nullptr);
  // The attaching constructor: a table without owner (the creator frees it) bound to the
  // host's result set `table` (required). With `connection`, whose ServerGUID must equal
  // the result set's exactly (EWrongServerGUID), the table uses it without owning it;
  // without one, `server` must be given ("Не задана база данных!") and the table makes,
  // owns and connects a private TKVTAlias attached to it. When the table has no fields
  // and `description` is given, its fields and Indexes are built from the description.
  // The table keeps a reference to `table` until it closes or is freed. On error the
  // table is freed again (its destructor runs) and the error reaches the caller.
  TcdsTable(IKVTTableinfo* table, TKVTDispatchConnection* connection, IKVTServer2* server,
            IKVTTableDef* description);
  // Frees an owned connection first (disconnecting it), then the table.
  ~TcdsTable() override;

  // --- Published properties, in stored-form order.
  StringList& FraseList() { return frase_list_; }
  const StringList& FraseList() const { return frase_list_; }
  void SetFraseList(const StringList& lines) { frase_list_.Assign(lines); }
  // Every change rebuilds KeyFields.
  StringList& Indexes() { return indexes_; }
  const StringList& Indexes() const { return indexes_; }
  void SetIndexes(const StringList& lines) { indexes_.Assign(lines); }
  const std::string& Databasename() const { return databasename_; }
  void SetDatabasename(std::string_view value);
  const std::string& Fullname() const { return fullname_; }
  void SetFullname(std::string_view value);
  TUpdateMethod UpdateType() const { return update_type_; }
  void SetUpdateType(TUpdateMethod value) { update_type_ = value; }
  const std::string& TableName() const { return table_name_; }
  void SetTableName(std::string_view value);
  FieldNotifyEvent AfterCopying;  // stored; never fired by the table
  bool AutoCreate() const { return auto_create_; }
  void SetAutoCreate(bool value) { auto_create_ = value; }
  NotifyEvent BeforeCopying;  // stored; never fired by the table
  StringList& UserFields() { return user_fields_; }
  const StringList& UserFields() const { return user_fields_; }
  void SetUserFields(const StringList& lines) { user_fields_.Assign(lines); }
  NotifyEvent OnValCheck;    // fired by the host's NotifyValCheck
  NotifyEvent BeforeUpdate;  // stored; never fired by the table
  bool FromModule() const { return from_module_; }
  void SetFromModule(bool value) { from_module_ = value; }
  const std::string& HiddenName() const { return hidden_name_; }
  void SetHiddenName(std::string_view value);
  // Stored; not read. Forgotten when that data set is freed.
  DataSet* UpdateMaster() const { return update_master_; }
  void SetUpdateMaster(DataSet* dataset);
  NotifyEvent BeforeDataUpdate;  // fired by the host's NotifyDataUpdate
  NotifyEvent SecondAfterPost;   // stored; never fired by the table
  bool ForceCheck() const { return force_check_; }
  void SetForceCheck(bool value) { force_check_ = value; }
  // Entry 0 of Indexes is described as an ordinary index instead of the primary key.
  bool NoPrimary() const { return no_primary_; }
  void SetNoPrimary(bool value) { no_primary_ = value; }

  // --- Public state and switches.
  // Posts and deletes are never applied automatically.
  bool ManualApply() const { return manual_apply_; }
  void SetManualApply(bool value) { manual_apply_ = value; }
  // Apply only with DriverName "BDE" and a multiple of 200 pending changes.
  bool BatchApply() const { return batch_apply_; }
  void SetBatchApply(bool value) { batch_apply_ = value; }
  // Return to the same key after a refresh.
  bool RelocateOnRefresh() const { return relocate_on_refresh_; }
  void SetRelocateOnRefresh(bool value) { relocate_on_refresh_ = value; }
  // Fill empty key fields before a post.
  bool FillKeyDefaults() const { return fill_key_defaults_; }
  void SetFillKeyDefaults(bool value) { fill_key_defaults_ = value; }
  // Prepare the master-link parameter before opening.
  bool MasterKeyParam() const { return master_key_param_; }
  void SetMasterKeyParam(bool value) { master_key_param_ = value; }
  // Open DetailTables after this table opens.
  bool OpenDetailTables() const { return open_detail_tables_; }
  void SetOpenDetailTables(bool value) { open_detail_tables_ = value; }
  // The second flag a client query passes to OpenSQL.
  bool QueryOption() const { return query_option_; }
  void SetQueryOption(bool value) { query_option_ = value; }
  // Dependent tables: opened after this one opens, closed before it closes. A table that
  // is freed leaves the list.
  const std::vector<TcdsTable*>& DetailTables() const { return detail_tables_; }
  void AddDetailTable(TcdsTable* table);
  void RemoveDetailTable(TcdsTable* table);
  // Fired in this order after the apply step of a post.
  NotifyEvent OnPostDone, OnPostDone2;
  // Entry 0 of Indexes split at ";" (blanks and control characters separate too; a
  // double-quoted part stays whole); empty when Indexes is.
  const StringList& KeyFields() const { return key_fields_; }
  // The database driver behind the alias's server ("BDE", ...); read at each open.
  const std::string& DriverName() const { return driver_name_; }

  // --- Data set operations with the table's steps around them.
  // The platform's post (nothing when not editing), then the apply step, NotifyAfterPost
  // and RefreshAfterPost.
  void Post() override;

  // --- IKVTTableNotify
  HRESULT Unsupported1(const Variant& arg) override;
  HRESULT Unsupported2(const Variant& arg1, const Variant& arg2, const Variant& arg3) override;
  HRESULT Unsupported3() override;
  HRESULT RefreshData() override;                    // refreshes when open
  HRESULT NotifyDataUpdate() override;               // fires BeforeDataUpdate
  HRESULT NotifyValCheck(Variant* result) override;  // clears *result, fires OnValCheck
  HRESULT Unsupported7(Variant* result) override;
  HRESULT Unsupported8(Variant* result) override;
  // --- IKVTUpdateMethod (GetUpdateType is shared with IKVTTableDef)
  int32_t GetUpdateType() override { return update_type_; }
  HRESULT SetUpdateType(int32_t value) override;  // the low 8 bits, unchecked
  // --- IKVTTableAux
  int32_t GetTag() override { return -1; }
  // --- IKVTTableDef
  WideString GetFullname() override;
  HRESULT SetFullname(const WideString& name) override;
  WideString GetTableName() override;
  HRESULT SetTableName(const WideString& name) override;
  int32_t GetFieldCount() override { return FieldCount(); }
  ComPtr<IKVTFieldInfo> GetField(int32_t index) override;  // EListError outside the fields
  int32_t GetIndexCount() override { return indexes_.Count(); }
  ComPtr<IKVTIndexInfo> GetIndex(int32_t index) override;  // EListError outside Indexes
  WideString GetProviderName() override;
  // Raises the platform's error while the table is open.
  HRESULT SetProviderName(const WideString& name) override;
  using ClientDataSet::SetProviderName;

  // The table's own description, as the host receives it.
  IKVTTableDef* TableDef() { return this; }

 protected:
  // --- Operations this class introduces, in this order.
  // Refreshes once, without relocating, when a new row got a provisional number and a
  // refresh is pending.
  virtual void RefreshAfterPost();
  // Fires OnPostDone, then OnPostDone2.
  virtual void NotifyAfterPost();

  // --- Platform hooks.
  void DoBeforeOpen() override;
  void DoAfterOpen() override;
  void DoBeforeClose() override;
  void DoAfterClose() override;
  void DoBeforePost() override;
  void DoAfterDelete() override;
  void DoBeforeRefresh() override;
  void DoAfterRefresh() override;
  void DoOnNewRecord() override;
  FieldFactory GetFieldClass(FieldType type) const override;
  void GetDetailLinkFields(std::vector<Field*>& master, std::vector<Field*>& detail) override;
  void Loaded() override;
  void Notification(Component* component, Operation operation) override;

  // The result set the table was attached to or opened through; released at close.
  const ComPtr<IKVTTableinfo>& TableInfo() const { return table_info_; }
  void SetTableInfo(ComPtr<IKVTTableinfo> info) { table_info_ = std::move(info); }
  // Applies the pending changes when the switches say so (after a post or delete).
  void ApplyStep();

 private:
  void Attach(IKVTTableinfo* table, TKVTDispatchConnection* connection, IKVTServer2* server);
  void FreeOwnedConnection();
  void RebuildKeyFields();
  void OpenDetails();
  void FindSpecialFields();
  void RestoreSortOrder();
  void FillKeyDefaultValues();
  void HandlePostError(EDatabaseError& error, DataAction& action);

  // Published.
  StringList frase_list_;
  StringList indexes_;
  std::string databasename_;
  std::string fullname_;
  TUpdateMethod update_type_ = umReplace;
  std::string table_name_;
  bool auto_create_ = false;
  StringList user_fields_;
  bool from_module_ = false;
  std::string hidden_name_;
  DataSet* update_master_ = nullptr;
  bool force_check_ = false;
  bool no_primary_ = false;

  // Switches and public state.
  bool manual_apply_ = false;
  bool batch_apply_ = false;
  bool relocate_on_refresh_ = true;
  bool fill_key_defaults_ = true;
  bool master_key_param_ = true;
  bool open_detail_tables_ = true;
  bool query_option_ = true;
  std::vector<TcdsTable*> detail_tables_;
  StringList key_fields_;
  std::string driver_name_;

  // Internal state.
  TKVTAlias* owned_connection_ = nullptr;  // made by the attaching constructor
  ComPtr<IKVTTableinfo> table_info_;
  int32_t next_provisional_ = -1;  // only ever decreases, across opens
  Field* autoinc_field_ = nullptr;
  Field* guid_field_ = nullptr;
  bool refresh_pending_ = false;
  Variant saved_keys_;                    // null, or one value per KeyFields entry
  std::string design_index_field_names_;  // IndexFieldNames at the end of form loading
};
