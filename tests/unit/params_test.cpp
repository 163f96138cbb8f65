#include "platform/db/params.h"

#include <gtest/gtest.h>

#include "platform/rtl/exceptions.h"

namespace {

struct ValueRuleCase {
  const char* label;
  FieldType initial;
  Variant value;
  FieldType type_after;
  bool bound;
  bool null;
};

TEST(Param, SetValueBindsAndDerivesAnUnknownDataTypeFromTheValue) {
  const ValueRuleCase cases[] = {
      {"8-bit signed", ftUnknown, Variant::ShortInt(1), ftSmallint, true, false},
      {"8-bit unsigned", ftUnknown, Variant::Byte(1), ftSmallint, true, false},
      {"16-bit", ftUnknown, Variant::Smallint(1), ftSmallint, true, false},
      {"32-bit", ftUnknown, Variant(int32_t{1}), ftInteger, true, false},
      {"16-bit unsigned", ftUnknown, Variant::Word(1), ftInteger, true, false},
      {"single", ftUnknown, Variant::Single(1), ftFloat, true, false},
      {"double", ftUnknown, Variant(1.0), ftFloat, true, false},
      {"32-bit unsigned", ftUnknown, Variant::LongWord(1), ftFloat, true, false},
      {"currency", ftUnknown, Variant::Currency(1), ftBCD, true, false},
      {"date", ftUnknown, Variant::Date(1), ftDateTime, true, false},
      {"single-byte text", ftUnknown, Variant::Ansi("a"), ftString, true, false},
      {"OLE text", ftUnknown, Variant::Text("a"), ftString, true, false},
      {"Boolean", ftUnknown, Variant(true), ftBoolean, true, false},
      {"64-bit", ftUnknown, Variant(int64_t{1}), ftLargeint, true, false},
      {"64-bit unsigned", ftUnknown, Variant::UInt64(1), ftLargeint, true, false},
      {"SQL time stamp", ftUnknown, Variant::SQLTimeStamp(1), ftTimeStamp, true, false},
      {"extended decimal", ftUnknown, Variant::FMTBcd("1.5"), ftFMTBcd, true, false},
      {"null: bound, no type", ftUnknown, Variant::Null(), ftUnknown, true, true},
      {"empty: unbound", ftUnknown, Variant(), ftUnknown, false, true},
      {"error code: no type", ftUnknown, Variant::Error(1), ftUnknown, true, false},
      {"a set type stays", ftString, Variant(int32_t{1}), ftString, true, false},
      {"a set type stays for null", ftDate, Variant::Null(), ftDate, true, true},
  };
  for (const ValueRuleCase& c : cases) {
    SCOPED_TRACE(c.label);
    Param p("P");
    p.SetDataType(c.initial);
    p.SetValue(c.value);
    EXPECT_EQ(p.DataType(), c.type_after);
    EXPECT_EQ(p.Bound(), c.bound);
    EXPECT_EQ(p.IsNull(), c.null);
    EXPECT_TRUE(p.Value() == c.value);
  }
}

TEST(Param, TypedSettersFollowTheValueRuleAndGettersReadNullAsZero) {
  Param p("P");
  EXPECT_TRUE(p.Value().IsEmpty());
  EXPECT_EQ(p.AsString(), "");
  EXPECT_EQ(p.AsInteger(), 0);
  p.SetAsString("Ёлка\u4e2d");
  EXPECT_EQ(p.DataType(), ftString);
  EXPECT_EQ(p.Value().VType(), varString);
  EXPECT_EQ(p.AsString(), "Ёлка?");  // reduced to code page 1251
  p.SetAsInteger(5);                 // the type stays a string
  EXPECT_EQ(p.DataType(), ftString);
  EXPECT_EQ(p.AsInteger(), 5);

  Param q("Q");
  q.SetAsDateTime(45000.5);
  EXPECT_EQ(q.DataType(), ftDateTime);
  EXPECT_DOUBLE_EQ(q.AsDateTime(), 45000.5);
  q.Clear();
  EXPECT_TRUE(q.Value().IsEmpty());
  EXPECT_TRUE(q.Bound());  // clearing keeps the flag and the type
  EXPECT_EQ(q.DataType(), ftDateTime);

  Param blob("B");
  blob.SetDataType(ftString);
  blob.SetAsBlob(std::string("a\0b", 3));
  EXPECT_EQ(blob.DataType(), ftBlob);
  EXPECT_EQ(blob.Value().ArrayCount(), 3);
}

TEST(Params, FindsByNameWithoutRegardToCaseAndReportsMissingNames) {
  Params params;
  params.Add("G33").SetAsString("8517");
  params.Add("Дата").SetAsInteger(1);
  params.Add("g33").SetAsString("second");
  EXPECT_EQ(params.ParamByName("g33").AsString(), "8517");  // the first of that name
  EXPECT_EQ(params.ParamByName("ДАТА").AsInteger(), 1);
  EXPECT_EQ(params.FindParam("G3"), nullptr);
  try {
    params.ParamByName("TODAY");
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Parameter 'TODAY' not found");
  }
  EXPECT_THROW(params.Items(3), EListError);
  EXPECT_THROW(params.Items(-1), EListError);
  params.Delete(0);
  EXPECT_EQ(params.ParamByName("G33").AsString(), "second");
  Params copy = params;  // a copy owns its own entries
  copy[0].SetAsInteger(2);
  EXPECT_EQ(params[0].AsInteger(), 1);
  params.Clear();
  EXPECT_EQ(params.Count(), 0);
}

TEST(Params, AssignValuesCopiesByNameAndTheLastOccurrenceWins) {
  // The statement's parameters as they were, G33LEN twice with only the first set.
  Params current;
  Param& g33 = current.CreateParam(ftUnknown, "G33", ptUnknown);
  g33.SetAsString("8517");
  g33.SetParamType(ptInput);
  g33.SetSize(10);
  current.CreateParam(ftUnknown, "G33LEN", ptUnknown).SetAsInteger(4);
  current.CreateParam(ftUnknown, "G33LEN", ptUnknown);
  // The list parsed again: every entry new.
  Params rebuilt;
  rebuilt.CreateParam(ftUnknown, "g33", ptUnknown);
  rebuilt.CreateParam(ftUnknown, "G33LEN", ptOutput);
  rebuilt.CreateParam(ftUnknown, "G33LEN", ptUnknown);
  rebuilt.CreateParam(ftUnknown, "OTHER", ptUnknown);
  rebuilt.AssignValues(current);

  ASSERT_EQ(rebuilt.Count(), 4);
  EXPECT_EQ(rebuilt[0].Name(), "G33");  // the name is copied too
  EXPECT_EQ(rebuilt[0].AsString(), "8517");
  EXPECT_EQ(rebuilt[0].DataType(), ftString);
  EXPECT_EQ(rebuilt[0].GetParamType(), ptInput);
  EXPECT_EQ(rebuilt[0].Size(), 10);
  EXPECT_TRUE(rebuilt[0].Bound());
  // The first G33LEN took both occurrences, the unset one last.
  EXPECT_TRUE(rebuilt[1].Value().IsEmpty());
  EXPECT_FALSE(rebuilt[1].Bound());
  EXPECT_EQ(rebuilt[1].DataType(), ftUnknown);
  EXPECT_EQ(rebuilt[1].GetParamType(), ptOutput);  // a known parameter type stays
  EXPECT_TRUE(rebuilt[2].Value().IsEmpty());
  EXPECT_TRUE(rebuilt[3].Value().IsEmpty());
}

}  // namespace
