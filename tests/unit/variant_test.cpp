// Variant: conversions between kinds, arrays with bounds, by-reference values.
#include "platform/com/variant.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"

namespace {

// A date with a time of day, as an OLE date.
double At(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
  return EncodeDate(y, m, d) + EncodeTime(h, mi, s, 0);
}

TEST(Variant, ConvertsToText) {
  struct Case {
    Variant value;
    std::string text;
  };
  const Case kCases[] = {
      {Variant(true), "True"},
      {Variant(false), "False"},
      {Variant(int32_t{-42}), "-42"},
      {Variant(int64_t{9000000000}), "9000000000"},
      {Variant::Byte(255), "255"},
      {Variant::UInt64(18446744073709551615u), "18446744073709551615"},
      {Variant(1.5), "1.5"},
      {Variant(0.1), "0.1"},
      {Variant(-2.5e-7), "-2.5e-07"},
      {Variant::Single(0.1f), "0.1"},  // not the widened 0.100000001490116
      {Variant::Currency(12345), "1.2345"},
      {Variant::Currency(-15000), "-1.5"},
      {Variant::Currency(70000), "7"},
      {Variant::Date(At(2024, 2, 29)), "2024-02-29"},
      {Variant::Date(At(1899, 12, 30, 13, 45, 30) + 1), "1899-12-31 13:45:30"},
      {Variant::Date(0.5), "12:00:00"},
      {Variant(), ""},
      {Variant(u"Привет"), "Привет"},
      {Variant::Text("Привет"), "Привет"},
      {Variant("text"), "text"},  // UTF-8 literal: wide text
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.value.ToText(), c.text);
    EXPECT_EQ(c.value.ToWide().ToUtf8(), c.text);
  }
}

TEST(Variant, ConvertsToIntegers) {
  struct Case {
    Variant value;
    int32_t expected;
  };
  const Case kCases[] = {
      {Variant(u"42"), 42},
      {Variant(u"-7"), -7},
      {Variant(u"  12"), 12},
      {Variant(u"$FF"), 255},
      {Variant(u"2.6"), 3},  // decimal text rounds
      {Variant(u"1e3"), 1000},
      {Variant::Ansi("2147483647"), 2147483647},
      {Variant(true), -1},
      {Variant(false), 0},
      {Variant(2.6), 3},
      {Variant(-2.6), -3},
      {Variant::Currency(26000), 3},
      {Variant::Smallint(-300), -300},
      {Variant::LongWord(7), 7},
      {Variant(), 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.value.VType());
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(c.value.ToInt32(), c.expected);
    EXPECT_EQ(c.value.ToInt64(), c.expected);
  }
  EXPECT_EQ(Variant(u"9000000000").ToInt64(), 9000000000);
}

TEST(Variant, ConvertsToDoubleBooleanAndDate) {
  EXPECT_DOUBLE_EQ(Variant(u"1.25").ToDouble(), 1.25);
  EXPECT_DOUBLE_EQ(Variant(u" -3.5 ").ToDouble(), -3.5);
  EXPECT_DOUBLE_EQ(Variant::Currency(12345).ToDouble(), 1.2345);
  EXPECT_DOUBLE_EQ(Variant(true).ToDouble(), -1);
  EXPECT_DOUBLE_EQ(Variant(int32_t{3}).ToDouble(), 3);
  EXPECT_DOUBLE_EQ(Variant::Date(45000.25).ToDouble(), 45000.25);
  EXPECT_DOUBLE_EQ(Variant().ToDouble(), 0);

  struct BoolCase {
    Variant value;
    bool expected;
  };
  const BoolCase kBools[] = {
      {Variant(u"true"), true},     {Variant(u"False"), false},   {Variant(u" TRUE "), true},
      {Variant(u"0"), false},       {Variant(u"2.5"), true},      {Variant::Ansi("false"), false},
      {Variant(int32_t{0}), false}, {Variant(int32_t{-1}), true}, {Variant(0.1), true},
      {Variant(), false},
  };
  for (const BoolCase& c : kBools) {
    SCOPED_TRACE(c.value.ToText());
    EXPECT_EQ(c.value.ToBool(), c.expected);
  }

  struct DateCase {
    Variant value;
    double expected;
  };
  const DateCase kDates[] = {
      {Variant(u"2024-02-29"), At(2024, 2, 29)},
      {Variant(u"2024-02-29 12:00:00"), At(2024, 2, 29, 12)},
      {Variant(u"2024-02-29T06:30"), At(2024, 2, 29, 6, 30)},
      {Variant(u"29.02.2024"), At(2024, 2, 29)},
      {Variant::Ansi("1899-12-30"), 0},
      {Variant(45000.25), 45000.25},
      {Variant(), 0},
  };
  for (const DateCase& c : kDates) {
    SCOPED_TRACE(c.value.ToText());
    EXPECT_DOUBLE_EQ(c.value.ToDate(), c.expected);
  }
}

TEST(Variant, ConversionsThatCannotBeMadeRaiseATypeCastError) {
  struct Case {
    const char* name;
    std::function<void()> convert;
    const char* message;
  };
  Variant array = Variant::Array({Variant(int32_t{1})});
  const Case kCases[] = {
      {"null to text", [] { (void)Variant::Null().ToText(); },
       "Could not convert variant of type (Null) into type (OleStr)"},
      {"null to integer", [] { (void)Variant::Null().ToInt32(); },
       "Could not convert variant of type (Null) into type (Integer)"},
      {"text to integer", [] { (void)Variant(u"12abc").ToInt32(); },
       "Could not convert variant of type (OleStr) into type (Integer)"},
      {"text to Int64", [] { (void)Variant(u"abc").ToInt64(); },
       "Could not convert variant of type (OleStr) into type (Int64)"},
      {"integer overflow", [] { (void)Variant(int64_t{3000000000}).ToInt32(); },
       "Could not convert variant of type (Int64) into type (Integer)"},
      {"text overflow", [] { (void)Variant(u"3000000000").ToInt32(); },
       "Could not convert variant of type (OleStr) into type (Integer)"},
      {"huge double", [] { (void)Variant(1e300).ToInt64(); },
       "Could not convert variant of type (Double) into type (Int64)"},
      {"text to double", [] { (void)Variant::Ansi("1,5").ToDouble(); },
       "Could not convert variant of type (String) into type (Double)"},
      {"text to Boolean", [] { (void)Variant(u"yes").ToBool(); },
       "Could not convert variant of type (OleStr) into type (Boolean)"},
      {"text to date", [] { (void)Variant(u"2024-02-30").ToDate(); },
       "Could not convert variant of type (OleStr) into type (Date)"},
      {"array to text", [&] { (void)array.ToText(); },
       "Could not convert variant of type (Array Variant) into type (OleStr)"},
      {"integer to interface", [] { (void)Variant(int32_t{1}).ToUnknown(); },
       "Could not convert variant of type (Integer) into type (Unknown)"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    try {
      c.convert();
      ADD_FAILURE() << "no error";
    } catch (const EVariantTypeCastError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

TEST(Variant, PointersOtherThanTextDoNotBecomeBooleans) {
  static_assert(!std::is_constructible_v<Variant, int*>);
  static_assert(!std::is_constructible_v<Variant, Variant*>);
  static_assert(!std::is_constructible_v<Variant, IUnknown*>);
  EXPECT_EQ(Variant("abc").VType(), varOleStr);
  std::u16string wide = u"wide";
  std::string narrow = "narrow";
  EXPECT_EQ(Variant(wide.data()).ToText(), "wide");  // non-const text pointers are text too
  EXPECT_EQ(Variant(narrow.data()).ToText(), "narrow");
  EXPECT_EQ(Variant(static_cast<const char16_t*>(nullptr)).ToText(), "");
}

TEST(Variant, ArraysKeepTheirBoundsAndCopyDeeply) {
  Variant a = Variant::Array({Variant(int32_t{1}), Variant(u"two"), Variant(3.0)}, 5);
  EXPECT_TRUE(a.IsArray());
  EXPECT_EQ(a.VType(), varArray | varVariant);
  EXPECT_EQ(a.ArrayLow(), 5);
  EXPECT_EQ(a.ArrayHigh(), 7);
  EXPECT_EQ(a.ArrayCount(), 3);
  EXPECT_EQ(a.At(5).ToInt32(), 1);
  EXPECT_EQ(a.At(6).ToText(), "two");
  EXPECT_THROW(a.At(4), EVariantError);
  EXPECT_THROW(a.At(8), EVariantError);
  EXPECT_THROW(Variant(int32_t{1}).ArrayLow(), EVariantError);

  Variant copy = a;
  EXPECT_EQ(copy, a);
  copy.At(6) = Variant(u"changed");
  EXPECT_EQ(a.At(6).ToText(), "two") << "a copy owns its own elements";
  EXPECT_FALSE(copy == a);
  Variant assigned;
  assigned = a;
  assigned.Items().push_back(Variant(int32_t{4}));
  EXPECT_EQ(a.ArrayCount(), 3);
  EXPECT_EQ(assigned.ArrayHigh(), 8);

  Variant empty = Variant::Array({}, -1, varOleStr);
  EXPECT_EQ(empty.ArrayCount(), 0);
  EXPECT_EQ(empty.ArrayHigh(), -2);
  EXPECT_EQ(empty.ArrayElementType(), varOleStr);
  EXPECT_THROW(Variant::Array({Variant(), Variant()}, INT32_MAX), EVariantError);
}

TEST(Variant, ByReferenceValuesReadAndWriteThrough) {
  Variant target(int32_t{5});
  Variant ref = Variant::ByRef(&target);
  EXPECT_TRUE(ref.IsByRef());
  EXPECT_EQ(ref.ToInt32(), 5);
  EXPECT_EQ(ref, Variant(int32_t{5}));

  ref.Deref() = Variant(u"written");
  EXPECT_EQ(target.ToText(), "written");
  EXPECT_EQ(ref.ToText(), "written");

  Variant alias = ref;  // a copy of a reference still points at the caller's variable
  alias.Deref() = Variant(true);
  EXPECT_TRUE(target.ToBool());
}

TEST(Variant, AnsiReducesToCodePage1251) {
  Variant v = Variant::Ansi("Привет € ä ✓ Ёё");
  EXPECT_EQ(v.VType(), varString);
  EXPECT_EQ(v.ToText(), "Привет € ? ? Ёё");
  EXPECT_EQ(v.ToWide(), WideString(u"Привет € ? ? Ёё"));
}

}  // namespace
