// The GUID and auto-increment field classes, SetGUIDValue and the table errors.
#include "dataaccess/kvt_fields.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>

#include "platform/com/guid.h"
#include "platform/db/clientdataset.h"
#include "tests/fakes/counting.h"
#include "tests/fakes/fake_appserver.h"

namespace {

constexpr GUID kGuid = "{3F2504E0-4F89-11D3-9A0C-0305E82C3301}"_guid;
constexpr char kBare[] = "3F2504E0-4F89-11D3-9A0C-0305E82C3301";

TEST(KVTGUIDField, StartsAtSize36AndTakesOnly36Or38) {
  TKVTGUIDFIeld field;
  EXPECT_EQ(field.Size(), 36) << "the string field's default size does not apply";
  EXPECT_EQ(field.DataType(), ftGuid);
  EXPECT_EQ(field.DisplayWidth(), 36);
  struct Case {
    int32_t size;
    bool ok;
  };
  constexpr Case kCases[] = {{38, true}, {36, true},  {37, false},
                             {0, false}, {20, false}, {39, false}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.size);
    const int32_t before = field.Size();
    if (c.ok) {
      field.SetSize(c.size);
      EXPECT_EQ(field.Size(), c.size);
    } else {
      try {
        field.SetSize(c.size);
        ADD_FAILURE() << "size accepted";
      } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Invalid field size");
      }
      EXPECT_EQ(field.Size(), before);
    }
  }
}

TEST(KVTGUIDField, IsTheDefaultClassForGuidColumns) {
  std::unique_ptr<Field> field(DefaultFieldClass(ftGuid)(nullptr));
  EXPECT_NE(dynamic_cast<TKVTGUIDFIeld*>(field.get()), nullptr);
  EXPECT_EQ(field->Size(), 36);
}

TEST(KVTAutoincField, IsAWritableIntegerField) {
  TKVTAutoincField field;
  EXPECT_EQ(field.DataType(), ftInteger);
  EXPECT_FALSE(field.ReadOnly());
  EXPECT_NE(dynamic_cast<IntegerField*>(&field), nullptr);
}

// A data set over a GUID column whose default fields are built from the packet.
class GuidColumn : public testing::Test {
 protected:
  void SetUp() override {
    server_ = MakeObject<FakeAppServer>();
    conn_ = std::make_unique<FakeRemoteServer>();
    conn_->SetServer(server_);
    ds_ = std::make_unique<ClientDataSet>();
    ds_->SetRemoteServer(conn_.get());
    ds_->SetProviderName("g");
  }
  void TearDown() override {
    ds_.reset();
    conn_.reset();
    server_ = nullptr;
  }
  void Serve(std::vector<std::vector<Variant>> rows) {
    server_->AddTable("g", {{"G", ftGuid, 38}}, std::move(rows));
  }

  LiveObjectsCheck live_;
  ComPtr<FakeAppServer> server_;
  std::unique_ptr<FakeRemoteServer> conn_;
  std::unique_ptr<ClientDataSet> ds_;
};

TEST_F(GuidColumn, ReadsWithoutBracesWhateverTheServerStored) {
  struct Case {
    const char* stored;
    const char* read;
  };
  const Case kCases[] = {
      {"{3F2504E0-4F89-11D3-9A0C-0305E82C3301}", kBare},
      {kBare, kBare},
      {"{ABC}", "ABC}"},  // fewer than 36 after the brace: what there is
      {"", ""},
  };
  std::vector<std::vector<Variant>> rows;
  for (const Case& c : kCases) rows.push_back({Variant::Text(c.stored)});
  Serve(std::move(rows));
  ds_->Open();
  Field& field = ds_->Fields(0);
  ASSERT_NE(dynamic_cast<TKVTGUIDFIeld*>(&field), nullptr);
  EXPECT_EQ(field.Size(), 38);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.stored);
    EXPECT_EQ(field.AsString(), c.read);
    EXPECT_EQ(field.DisplayText(), c.read);
    ds_->Next();
  }
}

TEST_F(GuidColumn, SetGUIDValueStoresThe36UpperCaseCharacters) {
  Serve({});
  ds_->Open();
  ds_->Append();
  Field& field = ds_->Fields(0);
  SetGUIDValue(field, kGuid);
  EXPECT_EQ(field.Value().ToText(), kBare);

  GUID fresh;
  ASSERT_EQ(CoCreateGuid(&fresh), S_OK);
  SetGUIDValue(field, fresh);
  EXPECT_TRUE(std::regex_match(
      field.AsString(), std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
      << field.AsString();
}

TEST(TableErrors, CarryTheirDataSetAndMessage) {
  ClientDataSet ds;
  try {
    throw EKeyViolation(&ds, "dup");
  } catch (const EPostError& e) {
    EXPECT_EQ(e.GetDataSet(), &ds);
    EXPECT_STREQ(e.what(), "dup");
    EXPECT_NE(dynamic_cast<const EKeyViolation*>(&e), nullptr);
  }
  EOpenError open("not opened");
  EXPECT_EQ(open.Message(), "not opened");
  EXPECT_EQ(dynamic_cast<const EDatabaseError*>(static_cast<const Exception*>(&open)), nullptr);
}

TEST(IndexData, NamesAnIndexOrAFieldList) {
  TIndexData byName = MakeIndexData(true, "sIndex_1");
  EXPECT_TRUE(byName.IsIndexName);
  EXPECT_EQ(byName.Text, "sIndex_1");
  TIndexData byFields = MakeIndexData(false, "A;B");
  EXPECT_FALSE(byFields.IsIndexName);
  EXPECT_EQ(byFields.Text, "A;B");
}

}  // namespace
