// DataSet: the state machine of a data set (inactive, browse, edit, insert), its cursor,
// its fields and its notification points; DataSource: a component pointing at a data
// set, through which another data set follows it (master/detail).
//
// Rows live in a derived class (ClientDataSet): DataSet asks it for the number of rows
// and the values of a row, and hands it the edit buffer to store. Every notification
// point is a std::function event and sits behind a protected virtual hook (DoBeforeOpen,
// ...), so that a derived class can run its own steps around the base; an override
// calls the base hook where the event is to fire.
//
// Destroying an open data set closes it without firing its events (the class that keeps
// the rows does that in its destructor); a derived class that wants its close steps to
// run calls Close() in its own destructor.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/variant.h"
#include "platform/db/fields.h"
#include "platform/rtl/component.h"
#include "platform/rtl/exceptions.h"

class DataSource;

enum class DataSetState { Inactive, Browse, Edit, Insert };

// The answer of the post-error event.
enum DataAction { daFail, daAbort, daRetry };

using LocateOptions = uint32_t;
enum : LocateOptions { loCaseInsensitive = 1, loPartialKey = 2 };

// What a data source passes on to the data sets that follow it.
enum class DataEvent {
  ActiveChanged,    // opened, closed, or the data source now points elsewhere
  RecordChanged,    // another current row, or the current row's stored values changed
  PropertyChanged,  // a property that shapes the rows changed (a query's statement)
};

// Something that follows a data source (a detail data set).
class DataLink {
 public:
  virtual void DataSetEvent(DataSource& source, DataEvent event) = 0;

 protected:
  ~DataLink() = default;
};

class DataSet : public Component {
 public:
  using NotifyEvent = std::function<void(DataSet&)>;
  using PostErrorEvent = std::function<void(DataSet&, EDatabaseError&, DataAction&)>;

  explicit DataSet(Component* owner = nullptr);
  ~DataSet() override;

  // --- State.
  DataSetState State() const { return state_; }
  bool Active() const { return state_ != DataSetState::Inactive; }
  // While the component's form is loaded, opening is deferred to the end of loading.
  void SetActive(bool active);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  // --- Cursor. Moving posts a pending edit first (CheckBrowseMode).
  void First();
  void Last();
  void Next();
  void Prior();
  int MoveBy(int distance);  // answers how far it moved
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool IsEmpty() const;
  int RecordCount() const;
  // Position of the current row from 1; 0 when there is none (empty, or a new row).
  int RecNo() const;
  void SetRecNo(int recno);
  // Moves to the first row whose fields named by key_fields (separated by ";") equal
  // key_values (one value, or an array with one value per field); false, and the cursor
  // unchanged, when none does.
  bool Locate(std::string_view key_fields, const Variant& key_values, LocateOptions options = 0);

  // --- Editing.
  void Insert();  // a new row before the current one
  void Append();  // a new row at the end
  // Starts editing the current row; on an empty data set starts a new row.
  void Edit();
  // Stores the edited row. Errors of the local store go to OnPostError (fail, abort,
  // retry); the row stays in edit or insert state when the post fails. Nothing happens
  // when the data set is not editing.
  virtual void Post();
  void Cancel();
  // Deletes the current row (a new row is cancelled instead).
  virtual void Delete();
  // Fetches the rows again.
  void Refresh();
  // Posts a modified edit, cancels an unmodified one.
  void CheckBrowseMode();
  // Whether a field was written since editing started.
  bool Modified() const { return modified_; }

  // --- Fields.
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // Raises EListError outside 0 .. FieldCount()-1.
  Field& Fields(int index) const;
  const std::vector<Field*>& FieldList() const { return fields_; }
  // Compares names without regard to case; null / EDatabaseError "Field '%s' not found".
  Field* FindField(std::string_view name) const;
  Field& FieldByName(std::string_view name) const;
  // The fields named by a ";"-separated list, in list order (each must exist).
  std::vector<Field*> GetFieldList(std::string_view names) const;
  // Frees every field (the data set must be closed).
  void ClearFields();
  // Whether the fields were built by the last open (and go with the next close).
  bool DefaultFields() const { return default_fields_; }

  // --- Events.
  NotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  NotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  NotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  NotifyEvent BeforeDelete, AfterDelete, BeforeRefresh, AfterRefresh;
  NotifyEvent OnNewRecord;
  PostErrorEvent OnPostError;

  // Raise EDatabaseError unless the data set is open / closed.
  void CheckActive() const;
  void CheckInactive() const;

 protected:
  // --- Hooks around the events; each base fires its event.
  virtual void DoBeforeOpen();
  virtual void DoAfterOpen();
  virtual void DoBeforeClose();
  virtual void DoAfterClose();
  virtual void DoBeforeInsert();
  virtual void DoAfterInsert();
  virtual void DoBeforeEdit();
  virtual void DoAfterEdit();
  virtual void DoBeforePost();
  virtual void DoAfterPost();
  virtual void DoBeforeCancel();
  virtual void DoAfterCancel();
  virtual void DoBeforeDelete();
  virtual void DoAfterDelete();
  virtual void DoBeforeRefresh();
  virtual void DoAfterRefresh();
  // Inside Insert/Append, after the new row's buffer is made.
  virtual void DoOnNewRecord();

  // --- The storage of a derived class.
  // Fetches the rows (and builds the fields when there are none). On error the data set
  // stays closed; InternalClose is not called.
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  // Stores the edit buffer (EditBuffer(), State() tells insert from edit). The base
  // checks required fields: EDatabaseError "Field '%s' must have a value".
  virtual void InternalPost();
  virtual void InternalDelete() = 0;  // the current row
  virtual void InternalRefresh() = 0;
  // Visible rows and the values of one (FieldCount() values, by field index).
  virtual int GetRecordCount() const = 0;
  virtual const Variant* GetRecordValues(int pos) const = 0;
  // The class of a field this data set builds for a column of `type`; null: no field.
  virtual FieldFactory GetFieldClass(FieldType type) const;
  // The fields that link this data set to its master (equal lists, i-th to i-th). The
  // base has no master and answers two empty lists.
  virtual void GetDetailLinkFields(std::vector<Field*>& master, std::vector<Field*>& detail);

  void Loaded() override;
  void Notification(Component* component, Operation operation) override;

  // --- For derived classes.
  // Creates a field of the class for `type` (none: null), owned by this data set and
  // appended to its fields.
  Field* CreateField(FieldType type, const std::string& name);
  void SetDefaultFields(bool v) { default_fields_ = v; }
  // The current position in the visible rows (-1 when there is none).
  int Current() const { return cur_; }
  // Places the cursor at pos (clamped to the rows; Bof/Eof cleared unless empty).
  void SetCurrent(int pos);
  std::vector<Variant>& EditBuffer() { return buffer_; }
  // Insert: whether the new row goes to the end (Append) or before the current row.
  bool AppendMode() const { return append_mode_; }
  // Tells the data sources pointing at this data set.
  void NotifyDataSources(DataEvent event);
  // Leaves the open state without events (destruction, a field removed while open).
  // Calls InternalClose: not for the base destructor.
  void QuietClose();

 private:
  friend class Field;
  friend class DataSource;

  const Variant& FieldValue(int index) const;
  void SetFieldValue(Field& field, Variant&& value);
  void AddField(Field* field);
  void RemoveField(Field* field);
  void DoOpen();
  void DoClose();
  void StartInsert(bool append);
  void AddDataSource(DataSource* source);
  void RemoveDataSource(DataSource* source);
  void DestroyDefaultFields();

  DataSetState state_ = DataSetState::Inactive;
  std::vector<Field*> fields_;
  std::vector<Variant> buffer_;
  std::vector<DataSource*> sources_;
  int cur_ = -1;
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  bool append_mode_ = false;
  bool default_fields_ = false;
  bool streamed_active_ = false;
};

// A component through which data-aware parts follow a data set.
class DataSource : public Component {
 public:
  explicit DataSource(Component* owner = nullptr);
  ~DataSource() override;

  DataSet* GetDataSet() const { return dataset_; }
  void SetDataSet(DataSet* dataset);

  // A follower hears every event of the data set; it must remove itself before it goes.
  void AddLink(DataLink* link);
  void RemoveLink(DataLink* link);

 protected:
  void Notification(Component* component, Operation operation) override;

 private:
  friend class DataSet;
  void Notify(DataEvent event);

  DataSet* dataset_ = nullptr;
  std::vector<DataLink*> links_;
};
