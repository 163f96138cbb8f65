#include "platform/db/packet.h"

#include <gtest/gtest.h>

#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"

namespace {

using Rows = std::vector<std::vector<Variant>>;

Variant Bytes(std::initializer_list<uint8_t> bytes) {
  std::vector<Variant> items;
  for (uint8_t b : bytes) items.push_back(Variant::Byte(b));
  return Variant::Array(std::move(items), 0, varByte);
}

// Decoding converts each value to its column's kind: what goes in, what comes out.
struct ValueCase {
  const char* label;
  PacketColumn column;
  Variant in;
  Variant out;
};

TEST(DataPacket, DecodesEachTypeToItsCanonicalKind) {
  const double day = EncodeDate(2024, 2, 29);
  const double noon = EncodeTime(12, 30, 0, 0);
  const ValueCase cases[] = {
      {"null", {"S", ftString, 10}, Variant::Null(), Variant::Null()},
      {"empty is null", {"I", ftInteger}, Variant(), Variant::Null()},
      {"wide text to string",
       {"S", ftString, 10},
       Variant::Text("Привет"),
       Variant::Ansi("Привет")},
      {"text outside 1251", {"S", ftString, 10}, Variant::Text("a\u4e2db"), Variant::Ansi("a?b")},
      {"wide string keeps UTF-16",
       {"W", ftWideString, 5},
       Variant::Ansi("abc"),
       Variant::Text("abc")},
      {"memo has no limit",
       {"M", ftMemo, 0},
       Variant::Text(std::string(10000, 'x')),
       Variant::Ansi(std::string(10000, 'x'))},
      {"braced GUID",
       {"G", ftGuid, 38},
       Variant::Text("{90F3F42C-0F88-478D-A234-101D4F85F9CA}"),
       Variant::Ansi("{90F3F42C-0F88-478D-A234-101D4F85F9CA}")},
      {"braced GUID in a 36 column",
       {"G", ftGuid, 36},
       Variant::Text("{90F3F42C-0F88-478D-A234-101D4F85F9CA}"),
       Variant::Ansi("{90F3F42C-0F88-478D-A234-101D4F85F9CA}")},
      {"smallint", {"N", ftSmallint}, Variant::Smallint(-5), Variant(int32_t{-5})},
      {"integer from text", {"N", ftInteger}, Variant::Text(" 42"), Variant(int32_t{42})},
      {"word", {"N", ftWord}, Variant(int64_t{65535}), Variant(int32_t{65535})},
      {"largeint", {"N", ftLargeint}, Variant(int32_t{7}), Variant(int64_t{7})},
      {"float from text, no locale", {"F", ftFloat}, Variant::Text("1.25"), Variant(1.25)},
      {"currency field is a float", {"F", ftCurrency}, Variant::Currency(12500), Variant(1.25)},
      {"bcd", {"B", ftBCD, 4}, Variant(1.25), Variant::Currency(12500)},
      {"boolean from text", {"L", ftBoolean}, Variant::Text("true"), Variant(true)},
      {"boolean from number", {"L", ftBoolean}, Variant(int32_t{0}), Variant(false)},
      {"date drops the time", {"D", ftDate}, Variant::Date(day + noon), Variant::Date(day)},
      {"time drops the day", {"T", ftTime}, Variant::Date(day + noon), Variant::Date(noon)},
      {"date-time from ISO text",
       {"DT", ftDateTime},
       Variant::Text("2024-02-29 12:30:00"),
       Variant::Date(day + noon)},
      {"blob bytes", {"X", ftBlob}, Bytes({0, 255, 7}), Bytes({0, 255, 7})},
      {"blob from text", {"X", ftBlob}, Variant::Text("Я"), Bytes({0xDF})},
      {"variant as given", {"V", ftVariant}, Variant(3.5), Variant(3.5)},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.label);
    DataPacket p = DecodeDataPacket(EncodeDataPacket({c.column}, Rows{{c.in}}));
    ASSERT_EQ(p.row_count, 1);
    ASSERT_EQ(p.cells.size(), 1u);
    EXPECT_EQ(p.cells[0].VType(), c.out.VType());
    EXPECT_TRUE(p.cells[0] == c.out) << p.cells[0].ToText();
  }
}

TEST(DataPacket, RoundTripsColumnsAndRows) {
  std::vector<PacketColumn> cols = {
      {"ID", ftAutoInc, 0, true, pfInWhere | pfInKey},
      {"NAME", ftString, 30, false, pfInUpdate | pfInWhere},
      {"NOTE", ftMemo, 0, false, pfInUpdate | pfHidden},
  };
  Rows rows = {{Variant(1), Variant::Text("Один"), Variant::Null()},
               {Variant(2), Variant::Null(), Variant::Text("line 1\r\nline 2")}};
  DataPacket p = DecodeDataPacket(EncodeDataPacket(cols, rows));
  ASSERT_EQ(p.columns.size(), 3u);
  for (size_t i = 0; i < cols.size(); ++i) {
    SCOPED_TRACE(cols[i].name);
    EXPECT_EQ(p.columns[i].name, cols[i].name);
    EXPECT_EQ(p.columns[i].type, cols[i].type);
    EXPECT_EQ(p.columns[i].size, cols[i].size);
    EXPECT_EQ(p.columns[i].required, cols[i].required);
    EXPECT_EQ(p.columns[i].flags, cols[i].flags);
  }
  ASSERT_EQ(p.row_count, 2);
  EXPECT_EQ(p.cells[1].ToText(), "Один");
  EXPECT_TRUE(p.cells[2].IsNull());
  EXPECT_TRUE(p.cells[4].IsNull());
  EXPECT_EQ(p.cells[5].ToText(), "line 1\r\nline 2");
}

TEST(DataPacket, AnEmptyRowListIsValid) {
  DataPacket p = DecodeDataPacket(EncodeDataPacket({{"A", ftInteger}}, {}));
  EXPECT_EQ(p.row_count, 0);
  EXPECT_TRUE(p.cells.empty());
  EXPECT_EQ(p.columns.size(), 1u);
}

Variant Packet(Variant columns, Variant rows) {
  return Variant::Array({Variant(kDataPacketTag), std::move(columns), std::move(rows)});
}
Variant Col(const char* name, int32_t type, int32_t size = 0) {
  return Variant::Array({Variant::Text(name), Variant(type), Variant(size), Variant(false),
                         Variant(int32_t{pfInUpdate})});
}
Variant Arr(std::vector<Variant> items) {
  return Variant::Array(std::move(items));
}

struct MalformedCase {
  const char* label;
  Variant packet;
  const char* message_part;
};

TEST(DataPacket, MalformedPacketsRaiseClearDatabaseErrors) {
  const MalformedCase cases[] = {
      {"not an array", Variant::Text("rows"), "the packet is not an array"},
      {"null", Variant::Null(), "the packet is not an array"},
      {"wrong tag", Arr({Variant(int32_t{1}), Arr({}), Arr({})}), "not a data packet"},
      {"a delta instead", EncodeDeltaPacket(DeltaPacket{}), "not a data packet"},
      {"unknown data type", Packet(Arr({Col("A", 42)}), Arr({})),
       "column 'A' has an unknown data type 42"},
      {"negative data type", Packet(Arr({Col("A", -1)}), Arr({})), "unknown data type -1"},
      {"short column description", Packet(Arr({Arr({Variant::Text("A"), Variant(1)})}), Arr({})),
       "column 0 does not have five entries"},
      {"column without a name", Packet(Arr({Col("", ftInteger)}), Arr({})), "column 0 has no name"},
      {"string without a size", Packet(Arr({Col("S", ftString, 0)}), Arr({})),
       "column 'S' has an invalid size 0"},
      {"duplicate column", Packet(Arr({Col("A", ftInteger), Col("a", ftInteger)}), Arr({})),
       "column 'a' appears twice"},
      {"too few values",
       Packet(Arr({Col("A", ftInteger), Col("B", ftInteger)}), Arr({Arr({Variant(1)})})),
       "row 0 has 1 values for 2 columns"},
      {"too many values",
       Packet(Arr({Col("A", ftInteger)}), Arr({Arr({Variant(1)}), Arr({Variant(1), Variant(2)})})),
       "row 1 has 2 values for 1 columns"},
      {"row not an array", Packet(Arr({Col("A", ftInteger)}), Arr({Variant(1)})),
       "row 0 is not an array"},
      {"text too long", Packet(Arr({Col("S", ftString, 3)}), Arr({Arr({Variant::Text("abcd")})})),
       "row 0, column 'S': Value too long for field 'S' (4 characters, at most 3)"},
      {"not an integer", Packet(Arr({Col("N", ftInteger)}), Arr({Arr({Variant::Text("12x")})})),
       "row 0, column 'N': '12x' is not a valid integer value"},
      {"out of range", Packet(Arr({Col("N", ftSmallint)}), Arr({Arr({Variant(int32_t{40000})})})),
       "40000 is not a valid value for field 'N'. The allowed range is -32768 to 32767"},
      {"not a date", Packet(Arr({Col("D", ftDate)}), Arr({Arr({Variant::Text("31.02.2024")})})),
       "'31.02.2024' is not a valid date and time"},
      {"not a float", Packet(Arr({Col("F", ftFloat)}), Arr({Arr({Variant::Text("1,5")})})),
       "'1,5' is not a valid floating point value"},
      {"interface in a number",
       Packet(Arr({Col("N", ftInteger)}), Arr({Arr({Variant(ComPtr<IUnknown>())})})),
       "cannot take a value of type Unknown"},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.label);
    try {
      Variant copy = c.packet;
      DecodeDataPacket(std::move(copy));
      ADD_FAILURE() << "decoded";
    } catch (const EDatabaseError& e) {
      EXPECT_NE(e.Message().find(c.message_part), std::string::npos) << e.Message();
    }
  }
}

TEST(DeltaPacket, RoundTripsChangesOfEachKind) {
  DeltaPacket d;
  d.columns = {{"ID", ftInteger, 0, true, pfInWhere | pfInKey}, {"NAME", ftString, 10}};
  d.changes.push_back(
      {3, ukModify, {Variant(1), Variant::Ansi("a")}, {Variant(1), Variant::Ansi("b")}});
  d.changes.push_back({4, ukInsert, {}, {Variant(2), Variant::Null()}});
  d.changes.push_back({5, ukDelete, {Variant(3), Variant::Ansi("c")}, {}});
  DeltaPacket back = DecodeDeltaPacket(EncodeDeltaPacket(DeltaPacket(d)));
  ASSERT_EQ(back.columns.size(), 2u);
  ASSERT_EQ(back.changes.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(back.changes[i].id, d.changes[i].id);
    EXPECT_EQ(back.changes[i].kind, d.changes[i].kind);
    EXPECT_EQ(back.changes[i].original, d.changes[i].original);
    EXPECT_EQ(back.changes[i].current, d.changes[i].current);
  }
}

TEST(DeltaPacket, RejectsDuplicateIdsUnknownKindsAndShortRows) {
  auto change = [](int32_t id, int32_t kind, Variant original, Variant current) {
    return Arr({Variant(id), Variant(kind), std::move(original), std::move(current)});
  };
  auto delta = [](Variant changes) {
    return Arr({Variant(kDeltaPacketTag), Arr({Col("A", ftInteger)}), std::move(changes)});
  };
  const MalformedCase cases[] = {
      {"duplicate id",
       delta(Arr({change(1, ukInsert, Variant::Null(), Arr({Variant(1)})),
                  change(1, ukInsert, Variant::Null(), Arr({Variant(2)}))})),
       "change id 1 appears twice"},
      {"unknown kind", delta(Arr({change(1, 7, Variant::Null(), Variant::Null())})),
       "unknown kind 7"},
      {"short row", delta(Arr({change(1, ukInsert, Variant::Null(), Arr({}))})),
       "has 0 values for 1 columns"},
      {"missing original", delta(Arr({change(1, ukDelete, Variant::Null(), Variant::Null())})),
       "is not an array"},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.label);
    try {
      DecodeDeltaPacket(c.packet);
      ADD_FAILURE() << "decoded";
    } catch (const EDatabaseError& e) {
      EXPECT_NE(e.Message().find(c.message_part), std::string::npos) << e.Message();
    }
  }
}

TEST(ApplyResult, RoundTripsAndTreatsNullAsAllApplied) {
  ApplyResult r;
  r.rolled_back = true;
  r.refused.push_back({7, "Нарушение ключа", kKeyViolation});
  ApplyResult back = DecodeApplyResult(EncodeApplyResult(r));
  EXPECT_TRUE(back.rolled_back);
  ASSERT_EQ(back.refused.size(), 1u);
  EXPECT_EQ(back.refused[0].id, 7);
  EXPECT_EQ(back.refused[0].message, "Нарушение ключа");
  EXPECT_EQ(back.refused[0].error_code, kKeyViolation);

  ApplyResult none = DecodeApplyResult(Variant::Null());
  EXPECT_FALSE(none.rolled_back);
  EXPECT_TRUE(none.refused.empty());
  EXPECT_THROW(DecodeApplyResult(Variant(int32_t{5})), EDatabaseError);
}

TEST(ParamsPacket, RoundTripsNamesTypesAndValuesAndLeavesTheListOnError) {
  Params params;
  params.CreateParam(ftInteger, "G33LEN", ptInput).SetAsInteger(4);
  params.CreateParam(ftUnknown, "TODAY", ptInput).SetAsDateTime(EncodeDate(2024, 1, 2));
  params.Add("UNSET");
  Params back;
  DecodeParams(EncodeParams(params), back);
  ASSERT_EQ(back.Count(), 3);
  EXPECT_EQ(back[0].Name(), "G33LEN");
  EXPECT_EQ(back[0].DataType(), ftInteger);
  EXPECT_EQ(back[0].GetParamType(), ptInput);
  EXPECT_EQ(back[0].AsInteger(), 4);
  EXPECT_EQ(back[1].DataType(), ftDateTime);
  EXPECT_EQ(back[1].AsDateTime(), EncodeDate(2024, 1, 2));
  EXPECT_TRUE(back[2].Value().IsEmpty());
  EXPECT_FALSE(back[2].Bound());

  EXPECT_TRUE(EncodeParams(Params()).IsEmpty());
  EXPECT_THROW(
      DecodeParams(Arr({Arr({Variant::Text("X"), Variant(99), Variant(1), Variant()})}), back),
      EDatabaseError);
  EXPECT_EQ(back.Count(), 3);
}

}  // namespace
