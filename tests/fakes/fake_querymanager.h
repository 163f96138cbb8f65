// What a host's database manager sees of a client query, for unit tests: a manager that
// records the parameters it receives through IKVTParams and the description the caller
// put into the variable, and puts a prepared description back; and a plain description of
// a result's columns and indexes, as a host would hand it out.
//
//   auto manager = MakeObject<FakeQueryManager>();
//   manager->answer = result;                               // as FakeOpenSQLManager
//   manager->description = FakeTableDescription::Make({{"ex", ftInteger, 0}}, {"ex"});
//   host->AddService(IDBManager2::iid, manager);
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "hostintf/kvt_TLB.h"
#include "tests/fakes/fake_opensql.h"

class FakeFieldDescription : public Implements<IKVTFieldInfo> {
 public:
  FakeFieldDescription(std::string name, int32_t type, int32_t size, bool required = false)
      : name_(std::move(name)), type_(type), size_(size), required_(required) {}
  WideString GetFieldName() override { return WideString::FromUtf8(name_); }
  int32_t GetDataType() override { return type_; }
  int32_t GetSize() override { return size_; }
  int32_t GetRequired() override { return required_ ? 1 : 0; }
  int32_t GetFieldKind() override { return 0; }
  WideString GetDisplayLabel() override { return WideString::FromUtf8(name_); }

 private:
  std::string name_;
  int32_t type_, size_;
  bool required_;
};

class FakeIndexDescription : public Implements<IKVTIndexInfo> {
 public:
  explicit FakeIndexDescription(std::string fields) : fields_(std::move(fields)) {}
  WideString GetName() override { return WideString::FromUtf8(fields_); }
  WideString GetFields() override { return WideString::FromUtf8(fields_); }
  int32_t GetOptions() override { return 3; }

 private:
  std::string fields_;
};

class FakeTableDescription : public Implements<IKVTTableDef> {
 public:
  struct Column {
    std::string name;
    int32_t type;
    int32_t size;
  };
  // Columns and the field texts of the index descriptions (the first one is the key).
  static ComPtr<FakeTableDescription> Make(std::vector<Column> columns,
                                           std::vector<std::string> indexes = {});

  WideString GetFullname() override { return {}; }
  HRESULT SetFullname(const WideString&) override { return S_OK; }
  WideString GetTableName() override { return {}; }
  HRESULT SetTableName(const WideString&) override { return S_OK; }
  int32_t GetFieldCount() override { return static_cast<int32_t>(columns.size()); }
  ComPtr<IKVTFieldInfo> GetField(int32_t index) override;
  int32_t GetIndexCount() override { return static_cast<int32_t>(indexes.size()); }
  ComPtr<IKVTIndexInfo> GetIndex(int32_t index) override;
  WideString GetProviderName() override { return {}; }
  HRESULT SetProviderName(const WideString&) override { return S_OK; }
  int32_t GetUpdateType() override { return 0; }

  std::vector<Column> columns;
  std::vector<std::string> indexes;
};

class FakeQueryManager : public FakeOpenSQLManager {
 public:
  // One parameter as OpenSQL read it through IKVTParams.
  struct SeenParam {
    WideString name;
    int32_t data_type;
    Variant value;
  };
  // Records the parameters and what the variable held, runs `during`, then records the
  // call and answers or raises as FakeOpenSQLManager does; when answering, puts
  // `description` into a variable that is still empty.
  ComPtr<IKVTTableinfo> OpenSQL(const WideString& database, const WideString& sql,
                                IKVTParams* params, bool unidirectional, bool flag,
                                Variant& table_def) override;

  ComPtr<IKVTTableDef> description;
  std::function<void(IKVTParams*)> during;
  std::vector<std::vector<SeenParam>> seen_params;  // per call
  std::vector<IUnknown*> seen_table_defs;           // per call; null when empty (not counted)
};
