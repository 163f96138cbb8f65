// Table definitions as a host hands them to the module: a table description with field
// and index descriptions, every object counted.
//
//   auto def = MakeObject<FakeTableDef>();
//   def->AddField("ID", ftInteger).auto_increment = true;
//   def->AddIndex("ID");
//   CreateFieldsFromTable(dataset, &indexes, def.Get(), false, true, nullptr, false);
#pragma once

#include <string>
#include <vector>

#include "hostintf/kvt_TLB.h"
#include "platform/com/object.h"

// One column. Answers IKVTAutoIncrement when auto_increment is set.
class FakeFieldInfo : public Implements<IKVTFieldInfo, IKVTAutoIncrement> {
 public:
  WideString GetFieldName() override { return WideString::FromUtf8(name); }
  int32_t GetDataType() override { return data_type; }
  int32_t GetSize() override { return size; }
  int32_t GetRequired() override { return required; }
  int32_t GetFieldKind() override { return kind; }
  WideString GetDisplayLabel() override {
    return WideString::FromUtf8(label.empty() ? name : label);
  }

  std::string name, label;
  int32_t data_type = 0, size = 0, required = 0, kind = 0;
  bool auto_increment = false;

 protected:
  bool FindInterface(const GUID& iid, void** obj) noexcept override {
    if (iid == IKVTAutoIncrement::iid && !auto_increment) return false;
    return Implements::FindInterface(iid, obj);
  }
};

class FakeIndexInfo : public Implements<IKVTIndexInfo> {
 public:
  WideString GetName() override { return WideString::FromUtf8(name); }
  WideString GetFields() override { return WideString::FromUtf8(fields); }
  int32_t GetOptions() override { return options; }

  std::string name, fields;
  int32_t options = 0;
};

class FakeTableDef : public Implements<IKVTTableDef> {
 public:
  FakeFieldInfo& AddField(std::string name, int32_t data_type, int32_t size = 0) {
    auto f = MakeObject<FakeFieldInfo>();
    f->name = std::move(name);
    f->data_type = data_type;
    f->size = size;
    fields.push_back(f);
    return *f;
  }
  FakeIndexInfo& AddIndex(std::string field_text, int32_t options = 0) {
    auto i = MakeObject<FakeIndexInfo>();
    i->name = field_text;
    i->fields = std::move(field_text);
    i->options = options;
    indexes.push_back(i);
    return *i;
  }

  WideString GetFullname() override { return WideString::FromUtf8(fullname); }
  HRESULT SetFullname(const WideString& v) override {
    fullname = v.ToUtf8();
    return S_OK;
  }
  WideString GetTableName() override { return WideString::FromUtf8(table_name); }
  HRESULT SetTableName(const WideString& v) override {
    table_name = v.ToUtf8();
    return S_OK;
  }
  int32_t GetFieldCount() override { return static_cast<int32_t>(fields.size()); }
  ComPtr<IKVTFieldInfo> GetField(int32_t index) override {
    return ComPtr<IKVTFieldInfo>(fields.at(static_cast<size_t>(index)).Get());
  }
  int32_t GetIndexCount() override { return static_cast<int32_t>(indexes.size()); }
  ComPtr<IKVTIndexInfo> GetIndex(int32_t index) override {
    return ComPtr<IKVTIndexInfo>(indexes.at(static_cast<size_t>(index)).Get());
  }
  WideString GetProviderName() override { return WideString::FromUtf8(provider); }
  HRESULT SetProviderName(const WideString& v) override {
    provider = v.ToUtf8();
    return S_OK;
  }
  int32_t GetUpdateType() override { return update_type; }

  std::string fullname, table_name, provider;
  int32_t update_type = 0;
  std::vector<ComPtr<FakeFieldInfo>> fields;
  std::vector<ComPtr<FakeIndexInfo>> indexes;
};
