// The field and index descriptions a table definition (IKVTTableDef) hands out, and the
// routines that build a data set's fields from a table definition received from the host.
//
// The descriptions are counted objects made afresh for each request; whoever asked holds
// the only reference. A field description reads its field on every call, so it must not
// be used after that field is freed.
#pragma once

#include <string>

#include "hostintf/kvt_TLB.h"
#include "platform/com/object.h"
#include "platform/db/dataset.h"
#include "platform/rtl/stringlist.h"

// The description of one data-set field (borrowed: neither owned nor counted).
class TKVTField : public Implements<IKVTFieldInfo> {
 public:
  explicit TKVTField(Field* field) : field_(field) {}

  WideString GetFieldName() override;
  int32_t GetDataType() override;
  int32_t GetSize() override;
  int32_t GetRequired() override;
  int32_t GetFieldKind() override;
  WideString GetDisplayLabel() override;  // the field name when no label is set

 protected:
  ~TKVTField() override;

 private:
  Field* field_;
};

// A field whose values the server assigns: answers IKVTAutoIncrement as well.
class TKVTAutoIncrementField : public ImplementsMore<TKVTField, IKVTAutoIncrement> {
 public:
  using ImplementsMore::ImplementsMore;

 protected:
  ~TKVTAutoIncrementField() override;
};

// The description of one index: its name, its fields (separated by ";") and its options
// (primary 1, unique 2, descending 4, case-insensitive 8, text flag 64).
class TKVTIndex : public Implements<IKVTIndexInfo> {
 public:
  TKVTIndex(std::string name, std::string fields, int32_t options)
      : name_(std::move(name)), fields_(std::move(fields)), options_(options) {}

  WideString GetName() override;
  WideString GetFields() override;
  int32_t GetOptions() override { return options_; }

 protected:
  ~TKVTIndex() override;

 private:
  std::string name_, fields_;
  int32_t options_;
};

// Whether the description answers IKVTAutoIncrement.
bool IsAutoIncrementField(IKVTFieldInfo* info);

// Creates the field that `info` describes, owned by `dataset` and added to its fields;
// answers it, or null when the description is skipped (a calculated or other non-data
// field unless include_calculated, or a data type without a field class). An
// auto-increment description becomes a TKVTAutoincField (use_kvt_autoinc) or AutoIncField,
// unless auto_inc_class is given, which then serves ftAutoInc columns. A size the class
// rejects raises its error; the field made so far then stays owned by the data set (which
// frees it with its other components) without joining its fields.
Field* CreateFieldFromInfo(DataSet& dataset, IKVTFieldInfo* info, bool use_kvt_autoinc,
                           bool include_calculated, FieldFactory auto_inc_class = nullptr);

// Replaces every field of `dataset` (which must be closed) with the fields `table`
// describes. `indexes`, when given, receives the fields text of each index description
// (only the first one's with first_index_only). The fields named by the first index
// description, compared without regard to case, become key fields (pfInKey). An error
// leaves the fields created before it in place.
void CreateFieldsFromTable(DataSet& dataset, StringList* indexes, IKVTTableDef* table,
                           bool first_index_only, bool use_kvt_autoinc, FieldFactory auto_inc_class,
                           bool include_calculated);
