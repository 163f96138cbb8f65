// ClientDataSet: an in-memory data set whose rows come as a data packet from a provider
// of an application server (IAppServer, reached through RemoteServer) and whose local
// changes are kept in a change log until ApplyUpdates sends them back.
//
//   - Open fetches all rows with AS_GetRecords (the provider parameters Params travel
//     with the request). A data set without fields builds them from the packet's columns
//     (freed again at close); one with fields matches the columns by name, and a data
//     field without a column is an error. Refresh fetches again (not while changes are
//     pending: they would be lost).
//   - Posted and deleted rows enter the change log: ChangeCount, GetUpdateStatus,
//     CancelUpdates. ApplyUpdates sends the log as a delta packet; changes the server
//     applied leave the log, what it refused stays there and comes back through
//     OnReconcileError. Close drops the log with the rows.
//   - Index definitions (IndexDefs, AddIndex) order the rows (IndexName or
//     IndexFieldNames); unique and primary indexes are enforced when a row is stored
//     (EDBClient kKeyViolation, "Key violation.").
//   - Master/detail: with MasterSource and MasterFields, only the rows whose link fields
//     (GetDetailLinkFields) equal the master's current row are visible. With provider
//     parameters, the parameters take the master's values and the rows are fetched
//     again when those values change (not while changes are pending; the rows are then
//     only filtered).
//
// The application server is asked from RemoteServer->GetServer() on every fetch and
// apply; the data set keeps no reference to it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/dataset.h"
#include "platform/db/packet.h"
#include "platform/db/params.h"

// An error of the client data set engine, with its code (kKeyViolation, ...).
class EDBClient : public EDatabaseError {
 public:
  EDBClient(std::string message, int32_t error_code);
  ~EDBClient() override;
  int32_t ErrorCode() const noexcept { return error_code_; }

 private:
  int32_t error_code_;
};

// A change the server refused: its message and error code.
class EReconcileError : public EDBClient {
 public:
  using EDBClient::EDBClient;
  ~EReconcileError() override;
};

// What to do with a refused change.
enum ReconcileAction {
  raSkip,     // keep the change pending, go on with the next refused one
  raAbort,    // keep this and every further refused change pending, stop
  raMerge,    // drop the change from the log, keep the local values
  raCorrect,  // as raSkip: the change stays pending to be sent again
  raCancel,   // undo the change locally
  raRefresh,  // as raCancel (the server's row is not fetched)
};

// The status of a row in the change log.
enum UpdateStatus { usUnmodified, usModified, usInserted, usDeleted };

using IndexOptions = uint32_t;
enum : IndexOptions { ixPrimary = 1, ixUnique = 2, ixDescending = 4, ixCaseInsensitive = 8 };

struct IndexDef {
  std::string name;
  std::string fields;  // field names separated by ";"
  IndexOptions options = 0;
};

class ClientDataSet;

// The index definitions of a client data set.
class IndexDefs {
 public:
  int Count() const { return static_cast<int>(defs_.size()); }
  // Raises EListError outside 0 .. Count()-1.
  const IndexDef& Items(int index) const;
  const IndexDef& operator[](int index) const { return Items(index); }
  // Position of the definition of that name (without regard to case), or -1.
  int IndexOf(std::string_view name) const;
  const IndexDef* Find(std::string_view name) const;
  // Brings the definitions up to date with the data set (they always are: the data set
  // keeps no indexes besides its definitions).
  void Update() {}

 private:
  friend class ClientDataSet;
  std::vector<IndexDef> defs_;
};

class ClientDataSet : public DataSet, public ConnectionClient {
 public:
  using ReconcileErrorEvent =
      std::function<void(DataSet&, EReconcileError&, UpdateKind, ReconcileAction&)>;

  explicit ClientDataSet(Component* owner = nullptr);
  ~ClientDataSet() override;

  // --- Provider.
  CustomRemoteServer* RemoteServer() const { return remote_server_; }
  void SetRemoteServer(CustomRemoteServer* server);
  const std::string& ProviderName() const { return provider_name_; }
  // Only while closed (EDatabaseError otherwise).
  void SetProviderName(std::string name);
  // The provider parameters sent with every fetch.
  ::Params& Params() { return params_; }
  const ::Params& Params() const { return params_; }

  // --- Change log.
  int ChangeCount() const { return pending_; }
  // The status of the current row.
  UpdateStatus GetUpdateStatus() const;
  // Sends the pending changes to the provider (max_errors: refused changes the server
  // may tolerate, -1 any number). Answers the number of refused changes. A failing
  // server raises and leaves the log as it was.
  int ApplyUpdates(int max_errors);
  // Undoes every pending change.
  void CancelUpdates();
  // Makes the local rows the unchanged state (drops the log).
  void MergeChangeLog();

  // --- Indexes.
  ::IndexDefs& IndexDefs() { return index_defs_; }
  // Adds a definition (EDatabaseError "Index '%s' already exists" for a known name).
  void AddIndex(const std::string& name, const std::string& fields, IndexOptions options);
  void DeleteIndex(std::string_view name);
  // The current index by name (clears IndexFieldNames); "" for the default order.
  const std::string& IndexName() const { return index_name_; }
  void SetIndexName(std::string name);
  // The current order by fields (ascending, case-sensitive; clears IndexName).
  const std::string& IndexFieldNames() const { return index_field_names_; }
  void SetIndexFieldNames(std::string names);
  // The fields of the current order (IndexName's definition or IndexFieldNames).
  int IndexFieldCount() const;
  Field& IndexFields(int index) const;  // EDatabaseError "Field index out of range"
  // Limits the visible rows to those whose index fields lie between start and end (one
  // value per leading index field).
  void SetRange(std::vector<Variant> start, std::vector<Variant> end);
  void CancelRange();

  // --- Master/detail.
  DataSource* MasterSource() const { return master_source_; }
  void SetMasterSource(DataSource* source);
  const std::string& MasterFields() const { return master_fields_; }
  void SetMasterFields(std::string names);

  ReconcileErrorEvent OnReconcileError;

  // ConnectionClient: nothing is cached, so a connection change needs no work.
  void ConnectChange(bool) override {}

 protected:
  void InternalOpen() override;
  void InternalClose() override;
  void InternalPost() override;
  void InternalDelete() override;
  void InternalRefresh() override;
  int GetRecordCount() const override;
  const Variant* GetRecordValues(int pos) const override;
  void DoOnNewRecord() override;
  // Master fields named by MasterFields; detail fields: the current index fields, i-th
  // for i-th (without a current index, the fields of the same names as the master's).
  void GetDetailLinkFields(std::vector<Field*>& master, std::vector<Field*>& detail) override;
  void Notification(Component* component, Operation operation) override;

  // The master moved or changed: the provider parameters take its values (fetching
  // again when they changed) and the visible rows follow it.
  void MasterChanged();

 private:
  struct RowMeta {
    UpdateStatus status = usUnmodified;
    int32_t change_id = 0;
    std::unique_ptr<std::vector<Variant>> original;  // modified rows: the fetched values
  };
  struct DeletedRow {
    int32_t change_id = 0;
    std::vector<Variant> original;
  };
  struct Storage {
    std::vector<Variant> cells;  // row-major, FieldCount() per row
    std::vector<RowMeta> meta;
  };
  struct OrderKey {
    int field;
    bool case_insensitive;
  };
  class MasterLink : public DataLink {
   public:
    explicit MasterLink(ClientDataSet& owner) : owner_(owner) {}
    void DataSetEvent(DataSource& source, DataEvent event) override;

   private:
    ClientDataSet& owner_;
  };

  void FetchPacket(Variant& packet) const;
  // Decodes a packet into new storage; builds the fields first when create_fields is
  // set (the data set frees them again when the open fails).
  Storage LoadPacket(Variant&& packet, bool create_fields);
  void ResetStorage();
  size_t Width() const { return fields_width_; }
  size_t RowCount() const { return storage_.meta.size(); }
  const Variant* Row(size_t row) const { return storage_.cells.data() + row * Width(); }
  Variant* Row(size_t row) { return storage_.cells.data() + row * Width(); }
  size_t StorageRow(int pos) const {
    return view_identity_ ? static_cast<size_t>(pos)
                          : static_cast<size_t>(view_[static_cast<size_t>(pos)]);
  }
  void InsertStorageRow(size_t at, std::vector<Variant>&& values, RowMeta meta);
  void RemoveStorageRow(size_t row);
  // Rebuilds the visible rows and puts the cursor on storage row `keep` when it is
  // visible, else at position `fallback` (clamped).
  void RebuildView(long keep, int fallback);
  // The ";"-list of the current order's fields, its options (false: none / no index).
  bool CurrentIndex(std::string& fields, IndexOptions& options) const;
  // Resolves the current order into order_keys_ (raises for unknown names).
  void ApplyOrder();
  void ChangeOrder(std::string index_name, std::string field_names);
  void ComputeMasterFilter();
  bool UpdateParamsFromMaster();
  void CheckUniqueIndexes(const Variant* values, long self_row) const;
  // The storage row (>= 0) or deleted entry (deleted set) of a change; -1 when unknown.
  long FindChange(int32_t id, bool& deleted) const;
  void MergeChange(int32_t id);
  void RevertChange(int32_t id);
  DeltaPacket BuildDelta() const;
  ComPtr<IAppServer> Server() const;

  CustomRemoteServer* remote_server_ = nullptr;
  std::string provider_name_;
  ::Params params_;
  ::IndexDefs index_defs_;
  std::string index_name_;
  std::string index_field_names_;
  std::vector<Variant> range_start_, range_end_;
  bool range_active_ = false;
  DataSource* master_source_ = nullptr;
  std::string master_fields_;
  MasterLink master_link_{*this};
  // The master filter: active with a master data set; no rows while it has none.
  bool master_filter_ = false;
  bool master_none_ = false;
  std::vector<int> master_detail_;      // detail field indexes
  std::vector<Variant> master_values_;  // the master's values for them
  std::vector<OrderKey> order_keys_;
  bool order_descending_ = false;

  size_t fields_width_ = 0;  // values per stored row (FieldCount() at open)
  Storage storage_;
  std::vector<DeletedRow> deleted_;
  std::vector<int32_t> view_;  // storage rows in visible order, unless view_identity_
  bool view_identity_ = true;
  int pending_ = 0;
  int32_t next_change_id_ = 1;
};
