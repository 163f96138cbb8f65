#include "dataaccess/cdsQuery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

Names MarkerNames(std::string_view sql) {
  Names names;
  ParamMarkerScanner scanner(sql);
  std::string_view name;
  while (scanner.Next(name)) names.emplace_back(name);
  return names;
}

TEST(ParamMarkers, FindsEveryMarkerInOrderOutsideQuotedParts) {
  struct Case {
    const char* label;
    std::string_view sql;
    Names names;
  };
  const Case cases[] = {
      {"range form", "(:G33 BETWEEN G33MIN10 AND G33MAX10)", {"G33"}},
      {"date condition", " AND (:TODAY <= DATEEND)) THEN 1 ELSE 0 END AS ex", {"TODAY"}},
      {"repeated names give several entries",
       "(substr(:G33, 1, min(length(g33), :G33LEN)) = substr(g33, 1, min(length(g33), "
       ":G33LEN)))",
       {"G33", "G33LEN", "G33LEN"}},
      {"no markers", "SELECT 1", {}},
      {"empty text", "", {}},
      {"double colon is a literal colon", "a::b", {}},
      {"three colons: a literal colon, then a marker", "a:::b", {"b"}},
      {"a name may hold double colons", ":a::b c", {"a::b"}},
      {"marker between apostrophes", "x = ':A'", {}},
      {"marker between double quotes", "x = \":A\"", {}},
      {"marker between grave accents", "x = `:A`", {}},
      {"an apostrophe part ends at a double quote", "'it\" :A", {"A"}},
      {"mixed quotes around a marker", "'a\" :A \"b' = :B", {"A", "B"}},
      {"unterminated quoted part", "'abc :A", {}},
      {"each name delimiter", ":A B,:C,:D;:E):F\r:G\n:H", {"A", "C", "D", "E", "F", "G", "H"}},
      {"name to the end of the text", "x=:LAST", {"LAST"}},
      {"tab and other characters belong to the name", ":A\tB=:C", {"A\tB=:C"}},
      {"quoted name", "x = :\"my name, here\" AND y", {"my name, here"}},
      {"quoted name in grave accents", ":`a;b`)", {"a;b"}},
      {"quoted name, unterminated", ":\"open to the end", {"open to the end"}},
      {"quote inside a name makes a quoted part", ":a'b c'd e", {"a'b c'd"}},
      {"UTF-8 names", "WHERE n = :Имя AND m = :名", {"Имя", "名"}},
      {"lines joined for the host", "SELECT :A\r\nFROM t WHERE b = :B\r\n", {"A", "B"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(MarkerNames(c.sql), c.names);
  }
}

// A colon with nothing after it names nothing; no entry with an empty name is made, so
// every entry can be bound and looked up by its name.
TEST(ParamMarkers, AColonWithAnEmptyNameYieldsNoEntry) {
  const std::string_view cases[] = {
      "x = :", ":", "x = : AND y", "(:)", ":,:;", "x = :\r\n", ":\"\"", ":''", ":'",
  };
  for (std::string_view sql : cases) {
    SCOPED_TRACE(sql);
    EXPECT_EQ(MarkerNames(sql), Names{});
  }
  EXPECT_EQ(MarkerNames("a = : AND b = :B"), Names{"B"});
}

TEST(ParamMarkers, AppendCreatesPlainEntries) {
  Params params;
  params.Add("OLD");
  AppendParamsFromSQL(":A :b :A", params);
  ASSERT_EQ(params.Count(), 4);
  EXPECT_EQ(params[0].Name(), "OLD");
  for (int i = 1; i < 4; ++i) {
    const Param& p = params[i];
    EXPECT_EQ(p.DataType(), ftUnknown);
    EXPECT_EQ(p.GetParamType(), ptUnknown);
    EXPECT_TRUE(p.IsNull());
    EXPECT_TRUE(p.Value().IsEmpty());
    EXPECT_FALSE(p.Bound());
    EXPECT_EQ(p.Size(), 0);
    EXPECT_EQ(p.Precision(), 0);
    EXPECT_EQ(p.NumericScale(), 0);
  }
  EXPECT_EQ(params[2].Name(), "b");
}

TEST(ParamMarkers, RebuildKeepsValuesByNameAndTheLastOccurrenceWins) {
  Params params;
  RebuildParamsFromSQL("(:G33 BETWEEN G33MIN10 AND G33MAX10)\r\n", params);
  ASSERT_EQ(params.Count(), 1);
  params[0].SetAsString("8517120000");
  params[0].SetParamType(ptInput);
  params[0].SetSize(10);
  RebuildParamsFromSQL("(:G33 BETWEEN G33MIN10 AND G33MAX10)\r\n AND (:today <= DATEEND)\r\n",
                       params);
  ASSERT_EQ(params.Count(), 2);
  EXPECT_EQ(params[0].AsString(), "8517120000");
  EXPECT_EQ(params[0].DataType(), ftString);
  EXPECT_EQ(params[0].GetParamType(), ptInput);
  EXPECT_EQ(params[0].Size(), 10);
  EXPECT_TRUE(params[0].Bound());
  EXPECT_TRUE(params[1].IsNull());

  // A repeated name: only the first occurrence was set, the second (null) is copied last.
  const std::string omit =
      "(substr(:G33, 1, min(length(g33), :G33LEN)) = substr(g33, 1, min(length(g33), "
      ":G33LEN)))\r\n";
  params.Clear();
  RebuildParamsFromSQL(omit, params);
  ASSERT_EQ(params.Count(), 3);
  params.ParamByName("G33").SetAsString("8517");
  params.ParamByName("G33LEN").SetAsInteger(4);
  RebuildParamsFromSQL(omit + ") THEN 1 ELSE 0 END AS ex\r\n", params);
  ASSERT_EQ(params.Count(), 3);
  EXPECT_EQ(params[0].AsString(), "8517");
  EXPECT_TRUE(params[1].IsNull());
  EXPECT_FALSE(params[1].Bound());
  EXPECT_EQ(params[1].DataType(), ftUnknown);
  EXPECT_TRUE(params[2].IsNull());
}

TEST(ParamMarkers, RebuildTakesTheOldNameAndKeepsAKnownParameterType) {
  Params params;
  Param& old = params.Add("g33");
  old.SetParamType(ptOutput);
  old.SetAsInteger(1);
  RebuildParamsFromSQL(":G33 :X", params);
  ASSERT_EQ(params.Count(), 2);
  EXPECT_EQ(params[0].Name(), "g33") << "the old entry's name (case) is taken over";
  EXPECT_EQ(params[0].GetParamType(), ptOutput);
  EXPECT_EQ(params[1].Name(), "X");
}

}  // namespace
