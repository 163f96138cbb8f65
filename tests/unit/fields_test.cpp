#include "platform/db/fields.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/db/clientdataset.h"
#include "platform/rtl/codepage.h"
#include "platform/rtl/datetime.h"
#include "tests/fakes/fake_appserver.h"

namespace {

// A data set with one column of each type the system meets, one row of nulls, in edit
// state.
class FieldsTest : public testing::Test {
 protected:
  void SetUp() override {
    std::vector<PacketColumn> cols = {
        {"S", ftString, 5}, {"W", ftWideString, 3}, {"I", ftInteger},   {"SM", ftSmallint},
        {"WD", ftWord},     {"L", ftLargeint},      {"F", ftFloat},     {"CU", ftCurrency},
        {"C", ftBCD, 4},    {"B", ftBoolean},       {"D", ftDate},      {"T", ftTime},
        {"DT", ftDateTime}, {"X", ftBlob},          {"M", ftMemo},      {"G", ftGuid, 38},
        {"V", ftVariant},   {"A", ftAutoInc},       {"BY", ftBytes, 2}, {"FC", ftFixedChar, 2}};
    server_->AddTable("all", cols, {std::vector<Variant>(cols.size(), Variant::Null())});
    conn_.SetServer(server_);
    ds_.SetRemoteServer(&conn_);
    ds_.SetProviderName("all");
    ds_.Open();
    ds_.Edit();
  }

  ComPtr<FakeAppServer> server_ = MakeObject<FakeAppServer>();
  FakeRemoteServer conn_;
  ClientDataSet ds_;
};

struct TypedCase {
  const char* label;
  const char* field;
  std::function<void(Field&)> set;
  std::function<void(Field&)> check;
};

TEST_F(FieldsTest, TypedAccessConvertsBetweenTheFieldsTypeAndTheAskedOne) {
  const double day = EncodeDate(2024, 1, 2);
  const TypedCase cases[] = {
      {"text", "S", [](Field& f) { f.SetAsString("Ёжик"); },
       [](Field& f) { EXPECT_EQ(f.AsString(), "Ёжик"); }},
      {"text outside code page 1251 becomes ?", "S", [](Field& f) { f.SetAsString("a\u4e2db"); },
       [](Field& f) { EXPECT_EQ(f.AsString(), "a?b"); }},
      {"integer into text", "S", [](Field& f) { f.SetAsInteger(-12); },
       [](Field& f) { EXPECT_EQ(f.AsInteger(), -12); }},
      {"float into text without locale", "S", [](Field& f) { f.SetAsFloat(1.5); },
       [](Field& f) { EXPECT_EQ(f.AsString(), "1.5"); }},
      {"Boolean into text", "S", [](Field& f) { f.SetAsBoolean(true); },
       [](Field& f) { EXPECT_TRUE(f.AsBoolean()); }},
      {"empty text is text", "S", [](Field& f) { f.SetAsString(""); },
       [](Field& f) { EXPECT_FALSE(f.IsNull()); }},
      {"wide text keeps what 1251 cannot", "W", [](Field& f) { f.SetAsString("Δελ"); },
       [](Field& f) { EXPECT_EQ(f.AsString(), "Δελ"); }},
      {"integer from text", "I", [](Field& f) { f.SetAsString("42"); },
       [](Field& f) {
         EXPECT_EQ(f.AsInteger(), 42);
         EXPECT_EQ(f.AsFloat(), 42.0);
         EXPECT_EQ(f.AsString(), "42");
       }},
      {"empty text clears a number", "I", [](Field& f) { f.SetAsString(""); },
       [](Field& f) { EXPECT_TRUE(f.IsNull()); }},
      {"float rounds into an integer", "I", [](Field& f) { f.SetAsFloat(2.6); },
       [](Field& f) { EXPECT_EQ(f.AsInteger(), 3); }},
      {"large integer exactly", "L", [](Field& f) { f.SetAsString("9007199254740993"); },
       [](Field& f) { EXPECT_EQ(f.AsLargeInt(), 9007199254740993LL); }},
      {"float from text", "F", [](Field& f) { f.SetAsString("1e3"); },
       [](Field& f) {
         EXPECT_EQ(f.AsFloat(), 1000.0);
         EXPECT_EQ(f.AsString(), "1000");
       }},
      {"currency field", "CU", [](Field& f) { f.SetAsFloat(0.1); },
       [](Field& f) { EXPECT_EQ(f.AsString(), "0.1"); }},
      {"BCD keeps four decimals", "C", [](Field& f) { f.SetAsFloat(1.23456); },
       [](Field& f) { EXPECT_EQ(f.AsString(), "1.2346"); }},
      {"Boolean from text", "B", [](Field& f) { f.SetAsString("false"); },
       [](Field& f) {
         EXPECT_FALSE(f.AsBoolean());
         EXPECT_EQ(f.AsString(), "False");
         EXPECT_FALSE(f.IsNull());
       }},
      {"date from dotted text", "D", [](Field& f) { f.SetAsString("02.01.2024"); },
       [day](Field& f) {
         EXPECT_EQ(f.AsString(), "2024-01-02");
         EXPECT_EQ(f.AsDateTime(), day);
       }},
      {"date-time", "DT", [day](Field& f) { f.SetAsDateTime(day + 0.5); },
       [](Field& f) { EXPECT_EQ(f.AsString(), "2024-01-02 12:00:00"); }},
      {"time", "T", [day](Field& f) { f.SetAsDateTime(day + 0.75); },
       [](Field& f) { EXPECT_EQ(f.AsString(), "18:00:00"); }},
      {"blob from text is 1251 bytes", "X", [](Field& f) { f.SetAsString("Да"); },
       [](Field& f) {
         EXPECT_EQ(dynamic_cast<BlobField&>(f).AsBytes(), "\xC4\xE0");
         EXPECT_EQ(f.AsString(), "Да");
       }},
      {"memo without a limit", "M", [](Field& f) { f.SetAsString(std::string(9000, 'm')); },
       [](Field& f) { EXPECT_EQ(f.AsString().size(), 9000u); }},
      {"GUID keeps its braces", "G",
       [](Field& f) { f.SetAsString("{90F3F42C-0F88-478D-A234-101D4F85F9CA}"); },
       [](Field& f) { EXPECT_EQ(f.AsString(), "{90F3F42C-0F88-478D-A234-101D4F85F9CA}"); }},
      {"variant keeps the value", "V", [](Field& f) { f.SetAsVariant(Variant(3.5)); },
       [](Field& f) {
         EXPECT_EQ(f.Value().VType(), varDouble);
         EXPECT_EQ(f.AsString(), "3.5");
       }},
      {"bytes", "BY", [](Field& f) { dynamic_cast<BytesField&>(f).SetAsBytes("ab"); },
       [](Field& f) { EXPECT_EQ(f.AsString(), "ab"); }},
      {"fixed char", "FC", [](Field& f) { f.SetAsString("ab"); },
       [](Field& f) { EXPECT_EQ(f.DataType(), ftFixedChar); }},
      {"clear", "I", [](Field& f) { f.Clear(); },
       [](Field& f) {
         EXPECT_TRUE(f.IsNull());
         EXPECT_EQ(f.AsString(), "");
         EXPECT_EQ(f.AsInteger(), 0);
       }},
  };
  for (const TypedCase& c : cases) {
    SCOPED_TRACE(c.label);
    Field& f = ds_.FieldByName(c.field);
    c.set(f);
    c.check(f);
  }
}

struct ErrorCase {
  const char* label;
  const char* field;
  std::function<void(Field&)> act;
  const char* message;
  bool convert_error;  // EConvertError rather than EDatabaseError
};

TEST_F(FieldsTest, ConversionsThatDoNotExistRaiseClearErrors) {
  const ErrorCase cases[] = {
      {"text too long", "S", [](Field& f) { f.SetAsString("abcdef"); },
       "Value too long for field 'S' (6 characters, at most 5)", false},
      {"Cyrillic counts characters, not bytes", "S", [](Field& f) { f.SetAsString("Привет"); },
       "Value too long for field 'S' (6 characters, at most 5)", false},
      {"wide text too long", "W", [](Field& f) { f.SetAsString("abcd"); },
       "Value too long for field 'W' (4 characters, at most 3)", false},
      {"not an integer", "I", [](Field& f) { f.SetAsString("12.5"); },
       "'12.5' is not a valid integer value", true},
      {"smallint range", "SM", [](Field& f) { f.SetAsInteger(40000); },
       "40000 is not a valid value for field 'SM'. The allowed range is -32768 to 32767", false},
      {"word range", "WD", [](Field& f) { f.SetAsInteger(-1); },
       "-1 is not a valid value for field 'WD'. The allowed range is 0 to 65535", false},
      {"not a float", "F", [](Field& f) { f.SetAsString("1,5"); },
       "'1,5' is not a valid floating point value", true},
      {"not a Boolean", "B", [](Field& f) { f.SetAsString("yes"); },
       "'yes' is not a valid boolean value", true},
      {"not a date", "D", [](Field& f) { f.SetAsString("2024-13-01"); },
       "'2024-13-01' is not a valid date and time", true},
      {"Boolean as a date", "B",
       [](Field& f) {
         f.SetAsBoolean(true);
         f.AsDateTime();
       },
       "Cannot access field 'B' as type DateTime", false},
      {"date as a Boolean", "D",
       [](Field& f) {
         f.SetAsDateTime(1);
         f.AsBoolean();
       },
       "Cannot access field 'D' as type Boolean", false},
      {"blob as an integer", "X",
       [](Field& f) {
         f.SetAsString("x");
         f.AsInteger();
       },
       "Cannot access field 'X' as type Integer", false},
      {"bytes too long", "BY", [](Field& f) { f.SetAsString("abc"); },
       "Value too long for field 'BY' (3 characters, at most 2)", false},
      {"a read-only auto-increment field", "A", [](Field& f) { f.SetAsInteger(1); },
       "Field 'A' cannot be modified", false},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.label);
    Field& f = ds_.FieldByName(c.field);
    try {
      c.act(f);
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
      EXPECT_TRUE(c.convert_error);
      EXPECT_EQ(e.Message(), c.message);
    } catch (const EDatabaseError& e) {
      EXPECT_FALSE(c.convert_error);
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

TEST(Field, SizeIsCheckedByEachClass) {
  struct Case {
    const char* label;
    Field* (*make)(Component*);
    int32_t size;
    bool ok;
  };
  const Case cases[] = {
      {"string 1", &NewField<StringField>, 1, true},
      {"string 8192", &NewField<StringField>, 8192, true},
      {"string 0", &NewField<StringField>, 0, false},
      {"string 8193", &NewField<StringField>, 8193, false},
      {"GUID 38", &NewField<GuidField>, 38, true},
      {"GUID 36", &NewField<GuidField>, 36, false},
      {"integer 0", &NewField<IntegerField>, 0, true},
      {"integer 4", &NewField<IntegerField>, 4, false},
      {"BCD 4", &NewField<BCDField>, 4, true},
      {"BCD 5", &NewField<BCDField>, 5, false},
      {"bytes 100", &NewField<BytesField>, 100, true},
      {"memo -1", &NewField<MemoField>, -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::unique_ptr<Field> f(c.make(nullptr));
    int32_t before = f->Size();
    if (c.ok) {
      f->SetSize(c.size);
      EXPECT_EQ(f->Size(), c.size);
    } else {
      try {
        f->SetSize(c.size);
        ADD_FAILURE();
      } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Invalid field size");
      }
      EXPECT_EQ(f->Size(), before);
    }
  }
}

TEST(Field, DefaultsOfTheClasses) {
  StringField s;
  EXPECT_EQ(s.Size(), 20);
  EXPECT_EQ(s.DataType(), ftString);
  EXPECT_EQ(s.GetProviderFlags(), pfInUpdate | pfInWhere);
  EXPECT_EQ(s.GetFieldKind(), fkData);
  s.SetFieldName("REGNOM");
  EXPECT_EQ(s.DisplayLabel(), "REGNOM");
  s.SetDisplayLabel("Номер");
  EXPECT_EQ(s.DisplayLabel(), "Номер");
  EXPECT_EQ(s.DisplayWidth(), 20);
  GuidField g;
  EXPECT_EQ(g.Size(), 38);
  EXPECT_EQ(g.DataType(), ftGuid);
  AutoIncField a;
  EXPECT_TRUE(a.ReadOnly());
  EXPECT_EQ(a.DataType(), ftAutoInc);
  EXPECT_NE(dynamic_cast<IntegerField*>(&a), nullptr);
  try {
    a.AsInteger();
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field '' has no dataset");
  }
}

// A GUID field as a system would make its own: size 36 or 38, text without braces.
class BracelessGuidField : public StringField {
 public:
  explicit BracelessGuidField(Component* owner = nullptr) : StringField(owner) {
    SetDataType(ftGuid);
    SetSize(36);
  }

 protected:
  void CheckSize(int32_t size) const override {
    if (size != 36 && size != 38) throw EDatabaseError("Invalid field size");
  }
  std::string GetAsString() const override {
    std::string text = StringField::GetAsString();
    if (!text.empty() && text[0] == '{') return text.substr(1, 36);
    return text;
  }
};

TEST(FieldClasses, ARegisteredClassReplacesTheDefaultForItsDataType) {
  ComPtr<FakeAppServer> server = MakeObject<FakeAppServer>();
  server->AddTable("g", {{"ID", ftGuid, 38}, {"N", ftInteger}},
                   {{Variant::Text("{90F3F42C-0F88-478D-A234-101D4F85F9CA}"), Variant(1)},
                    {Variant::Text("90F3F42C-0F88-478D-A234-101D4F85F9CB"), Variant(2)}});
  FakeRemoteServer conn;
  conn.SetServer(server);
  ClientDataSet ds;
  ds.SetRemoteServer(&conn);
  ds.SetProviderName("g");

  FieldFactory old = SetDefaultFieldClass(ftGuid, &NewField<BracelessGuidField>);
  EXPECT_EQ(old, &NewField<GuidField>);
  EXPECT_EQ(DefaultFieldClass(ftGuid | 0x80), &NewField<BracelessGuidField>);  // low seven bits
  ds.Open();
  Field& id = ds.Fields(0);
  EXPECT_NE(dynamic_cast<BracelessGuidField*>(&id), nullptr);
  EXPECT_EQ(id.Size(), 38);
  for (const char* expected :
       {"90F3F42C-0F88-478D-A234-101D4F85F9CA", "90F3F42C-0F88-478D-A234-101D4F85F9CB"}) {
    EXPECT_EQ(id.AsString(), expected);
    EXPECT_EQ(id.DisplayText(), expected);
    ds.Next();
  }
  ds.Close();
  SetDefaultFieldClass(ftGuid, old);
  // Without a class for a type, the column is left out.
  old = SetDefaultFieldClass(ftInteger, nullptr);
  ds.Open();
  EXPECT_EQ(ds.FieldCount(), 1);
  ds.Close();
  SetDefaultFieldClass(ftInteger, old);
  ds.Open();
  EXPECT_NE(dynamic_cast<GuidField*>(&ds.Fields(0)), nullptr);
  EXPECT_EQ(ds.FieldCount(), 2);
}

TEST(FieldClasses, FieldsJoinOnlyClosedDataSets) {
  ComPtr<FakeAppServer> server = MakeObject<FakeAppServer>();
  server->AddTable("t", {{"N", ftInteger}}, {{Variant(1)}});
  FakeRemoteServer conn;
  conn.SetServer(server);
  ClientDataSet ds;
  ds.SetRemoteServer(&conn);
  ds.SetProviderName("t");
  ds.Open();
  IntegerField extra;
  extra.SetFieldName("N2");
  EXPECT_THROW(extra.SetDataSet(&ds), EDatabaseError);
  EXPECT_THROW(ds.Fields(0).SetFieldName("X"), EDatabaseError);
  EXPECT_THROW(ds.ClearFields(), EDatabaseError);
  EXPECT_THROW(ds.Fields(0).SetDataSet(nullptr), EDatabaseError);
  ds.Close();
  extra.SetDataSet(&ds);
  EXPECT_EQ(extra.Index(), 0);
  extra.SetDataSet(nullptr);
  EXPECT_EQ(ds.FieldCount(), 0);
}

}  // namespace
