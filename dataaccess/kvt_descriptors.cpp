#include "dataaccess/kvt_descriptors.h"

#include "dataaccess/kvt_fields.h"
#include "platform/db/fields.h"

// --- Descriptions

TKVTField::~TKVTField() = default;

WideString TKVTField::GetFieldName() {
  return WideString::FromUtf8(field_->FieldName());
}

int32_t TKVTField::GetDataType() {
  return field_->DataType();
}

int32_t TKVTField::GetSize() {
  return field_->Size();
}

int32_t TKVTField::GetRequired() {
  return field_->Required() ? 1 : 0;
}

int32_t TKVTField::GetFieldKind() {
  return field_->GetFieldKind();
}

WideString TKVTField::GetDisplayLabel() {
  return WideString::FromUtf8(field_->DisplayLabel());
}

TKVTAutoIncrementField::~TKVTAutoIncrementField() = default;

TKVTIndex::~TKVTIndex() = default;

WideString TKVTIndex::GetName() {
  return WideString::FromUtf8(name_);
}

WideString TKVTIndex::GetFields() {
  return WideString::FromUtf8(fields_);
}

// --- Building fields from a description

bool IsAutoIncrementField(IKVTFieldInfo* info) {
  return static_cast<bool>(ComPtr<IKVTFieldInfo>(info).TryAs<IKVTAutoIncrement>());
}

Field* CreateFieldFromInfo(DataSet& dataset, IKVTFieldInfo* info, bool use_kvt_autoinc,
                           bool include_calculated, FieldFactory auto_inc_class) {
  const int32_t kind = info->GetFieldKind();
  if (!include_calculated && kind != fkData) return nullptr;
  const bool is_auto = IsAutoIncrementField(info);

  FieldFactory factory = nullptr;
  if (is_auto && !auto_inc_class) {
    factory = use_kvt_autoinc ? &NewField<TKVTAutoincField> : &NewField<AutoIncField>;
  } else {
    const int32_t type = info->GetDataType();
    if (type == ftGuid)
      factory = &NewField<TKVTGUIDFIeld>;
    else if (type == ftAutoInc && auto_inc_class)
      factory = auto_inc_class;
    else
      factory = DefaultFieldClass(type);
  }
  if (!factory) return nullptr;

  // Owned by the data set from here on: a size error below leaves it there.
  Field* field = factory(&dataset);
  field->SetRequired(info->GetRequired() == 1);
  field->SetSize(info->GetSize());
  field->SetFieldName(info->GetFieldName().ToAnsi());
  field->SetFieldKind(static_cast<FieldKind>(kind));
  field->SetDisplayLabel(info->GetDisplayLabel().ToAnsi());
  field->SetDataSet(&dataset);
  if (is_auto || dynamic_cast<AutoIncField*>(field) != nullptr)
    field->SetProviderFlags(field->GetProviderFlags() & ~pfInUpdate);
  return field;
}

void CreateFieldsFromTable(DataSet& dataset, StringList* indexes, IKVTTableDef* table,
                           bool first_index_only, bool use_kvt_autoinc, FieldFactory auto_inc_class,
                           bool include_calculated) {
  StringList keys;
  if (indexes) indexes->Clear();
  const int32_t index_count = table->GetIndexCount();
  for (int32_t i = 0; i < index_count; ++i) {
    ComPtr<IKVTIndexInfo> index = table->GetIndex(i);
    std::string fields = index->GetFields().ToAnsi();
    if (indexes) indexes->Add(fields);
    if (i == 0) {
      SplitString(fields, ';', keys);
      if (first_index_only) break;
    }
  }

  dataset.ClearFields();
  const int32_t field_count = table->GetFieldCount();
  for (int32_t i = 0; i < field_count; ++i) {
    ComPtr<IKVTFieldInfo> info = table->GetField(i);
    Field* field = CreateFieldFromInfo(dataset, info.Get(), use_kvt_autoinc, include_calculated,
                                       auto_inc_class);
    if (!field) continue;
    for (const std::string& key : keys.Lines()) {
      if (SameFieldName(key, field->FieldName())) {
        field->SetProviderFlags(field->GetProviderFlags() | pfInKey);
        break;
      }
    }
  }
}
