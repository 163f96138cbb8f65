// Field and index descriptions, and building a data set's fields from a host's table
// definition.
#include "dataaccess/kvt_descriptors.h"

#include <gtest/gtest.h>

#include "dataaccess/kvt_fields.h"
#include "platform/db/clientdataset.h"
#include "tests/fakes/counting.h"
#include "tests/fakes/fake_tabledef.h"

namespace {

std::vector<std::string> FieldNames(const DataSet& ds) {
  std::vector<std::string> names;
  for (Field* f : ds.FieldList()) names.push_back(f->FieldName());
  return names;
}

TEST(FieldDescription, ReadsTheFieldOnEveryCall) {
  LiveObjectsCheck live;
  ClientDataSet ds;
  auto* field = new StringField(&ds);
  field->SetFieldName("NAME");
  field->SetSize(25);
  field->SetRequired(true);
  field->SetDataSet(&ds);

  ComPtr<IKVTFieldInfo> info = MakeObject<TKVTField>(field);
  EXPECT_EQ(info->GetFieldName().ToUtf8(), "NAME");
  EXPECT_EQ(info->GetDataType(), ftString);
  EXPECT_EQ(info->GetSize(), 25);
  EXPECT_EQ(info->GetRequired(), 1);
  EXPECT_EQ(info->GetFieldKind(), 0);
  EXPECT_EQ(info->GetDisplayLabel().ToUtf8(), "NAME") << "no label: the field name";
  EXPECT_FALSE(IsAutoIncrementField(info.Get()));

  field->SetDisplayLabel("Наименование");
  field->SetRequired(false);
  EXPECT_EQ(info->GetDisplayLabel().ToUtf8(), "Наименование");
  EXPECT_EQ(info->GetRequired(), 0);

  ComPtr<IKVTFieldInfo> autoinc = MakeObject<TKVTAutoIncrementField>(field);
  EXPECT_TRUE(IsAutoIncrementField(autoinc.Get()));
  EXPECT_TRUE(autoinc.TryAs<IKVTFieldInfo>());
  EXPECT_EQ(autoinc->GetFieldName().ToUtf8(), "NAME");

  ComPtr<IKVTIndexInfo> index = MakeObject<TKVTIndex>("sIndex_1", "A;B", 72);
  EXPECT_EQ(index->GetName().ToUtf8(), "sIndex_1");
  EXPECT_EQ(index->GetFields().ToUtf8(), "A;B");
  EXPECT_EQ(index->GetOptions(), 72);
}

class FieldsFromTable : public testing::Test {
 protected:
  LiveObjectsCheck live_;
  ComPtr<FakeTableDef> def_ = MakeObject<FakeTableDef>();
  ClientDataSet ds_;
  StringList indexes_{"old"};
};

TEST_F(FieldsFromTable, BuildsDataFieldsWithKeysFromTheFirstIndexOnly) {
  auto& id = def_->AddField("ID", ftInteger);
  id.auto_increment = true;
  auto& name = def_->AddField("Name", ftString, 20);
  name.required = 1;
  name.label = "Наименование";
  def_->AddField("COUNT", ftInteger);
  def_->AddField("CALC", ftInteger).kind = fkCalculated;  // not a data field: skipped
  def_->AddField("CUR", ftCursor);                        // no field class: skipped
  def_->AddField("G", ftGuid, 38);
  def_->AddField("SERIAL", ftAutoInc);
  def_->AddIndex(" id ; NAME ");  // blanks around the names, another letter case
  def_->AddIndex("COUNT");

  auto* old = new IntegerField(&ds_);
  old->SetFieldName("OLD");
  old->SetDataSet(&ds_);
  CreateFieldsFromTable(ds_, &indexes_, def_.Get(), false, true, nullptr, false);

  EXPECT_EQ(FieldNames(ds_), (std::vector<std::string>{"ID", "Name", "COUNT", "G", "SERIAL"}));
  EXPECT_EQ(indexes_.Lines(), (std::vector<std::string>{" id ; NAME ", "COUNT"}));
  struct Expect {
    const char* name;
    bool autoinc_class;  // TKVTAutoincField
    ProviderFlags flags;
  };
  const Expect expected[] = {
      {"ID", true, pfInWhere | pfInKey},
      {"Name", false, pfInUpdate | pfInWhere | pfInKey},
      {"COUNT", false, pfInUpdate | pfInWhere},  // only in the second index
      {"G", false, pfInUpdate | pfInWhere},
      {"SERIAL", false, pfInWhere},  // the platform's auto-increment class
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.name);
    Field& f = ds_.FieldByName(e.name);
    EXPECT_EQ(dynamic_cast<TKVTAutoincField*>(&f) != nullptr, e.autoinc_class);
    EXPECT_EQ(f.GetProviderFlags(), e.flags);
  }
  EXPECT_EQ(typeid(ds_.FieldByName("COUNT")), typeid(IntegerField));
  EXPECT_NE(dynamic_cast<TKVTGUIDFIeld*>(&ds_.FieldByName("G")), nullptr);
  EXPECT_EQ(ds_.FieldByName("G").Size(), 38);
  EXPECT_NE(dynamic_cast<AutoIncField*>(&ds_.FieldByName("SERIAL")), nullptr);
  Field& n = ds_.FieldByName("NAME");
  EXPECT_TRUE(n.Required());
  EXPECT_EQ(n.Size(), 20);
  EXPECT_EQ(n.DisplayLabel(), "Наименование");
  EXPECT_EQ(n.Owner(), &ds_);
  EXPECT_EQ(ds_.ComponentCount(), 5) << "the earlier field was freed";
}

TEST_F(FieldsFromTable, SwitchesChooseTheAutoIncrementClassAndTheIndexesKept) {
  def_->AddField("ID", ftInteger).auto_increment = true;
  def_->AddField("SERIAL", ftAutoInc);
  def_->AddField("CALC", ftInteger).kind = fkCalculated;
  def_->AddIndex("ID");
  def_->AddIndex("SERIAL");

  CreateFieldsFromTable(ds_, &indexes_, def_.Get(), true, false, nullptr, true);
  EXPECT_EQ(indexes_.Lines(), (std::vector<std::string>{"ID"})) << "first index only";
  EXPECT_EQ(typeid(ds_.Fields(0)), typeid(AutoIncField)) << "UseKVTAutoinc off";
  EXPECT_EQ(ds_.FieldByName("CALC").GetFieldKind(), fkCalculated) << "IncludeCalculated";

  // With an auto-increment class, ftAutoInc columns take it (and keep pfInUpdate unless
  // the class is the platform's or the description is marked); an auto-increment
  // description of another type takes its type's default class, flags still cleared.
  CreateFieldsFromTable(ds_, nullptr, def_.Get(), false, true, &NewField<TKVTAutoincField>, false);
  EXPECT_EQ(typeid(ds_.Fields(0)), typeid(IntegerField));
  EXPECT_EQ(ds_.Fields(0).GetProviderFlags() & pfInUpdate, 0u);
  EXPECT_EQ(typeid(ds_.Fields(1)), typeid(TKVTAutoincField));
  EXPECT_EQ(ds_.Fields(1).GetProviderFlags() & pfInUpdate, pfInUpdate);
  EXPECT_EQ(ds_.Fields(1).GetProviderFlags() & pfInKey, 0u) << "keys from the first index only";
}

TEST_F(FieldsFromTable, WithoutIndexesThereAreNoKeyFields) {
  def_->AddField("ID", ftInteger);
  CreateFieldsFromTable(ds_, &indexes_, def_.Get(), false, true, nullptr, false);
  EXPECT_TRUE(indexes_.Empty());
  EXPECT_EQ(ds_.Fields(0).GetProviderFlags(), pfInUpdate | pfInWhere);
}

TEST_F(FieldsFromTable, ASizeErrorStopsAndKeepsTheEarlierFields) {
  def_->AddField("A", ftString, 10);
  def_->AddField("G", ftGuid, 37);
  def_->AddField("B", ftInteger);
  def_->AddIndex("A");
  try {
    CreateFieldsFromTable(ds_, &indexes_, def_.Get(), false, true, nullptr, false);
    ADD_FAILURE() << "size 37 accepted";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Invalid field size");
  }
  EXPECT_EQ(FieldNames(ds_), (std::vector<std::string>{"A"}));
  EXPECT_EQ(ds_.Fields(0).GetProviderFlags() & pfInKey, pfInKey);
  EXPECT_EQ(ds_.ComponentCount(), 2) << "the half-built field stays with the data set";
}

}  // namespace
