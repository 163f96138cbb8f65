// Text helpers: integer and float conversion with the platform's rules, trimming, case.
#include "platform/rtl/strutils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "platform/rtl/exceptions.h"

namespace {

TEST(TryStrToInt, ConvertsSigned32BitDecimalAndHexadecimalText) {
  struct Case {
    const char* text;
    std::optional<int32_t> value;
  };
  const Case kCases[] = {
      {"0", 0},
      {"42", 42},
      {"007", 7},
      {"-42", -42},
      {"+7", 7},
      {"   12", 12},  // leading blanks
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"$FF", 255},
      {"$ff", 255},
      {"x1A", 26},
      {"X1a", 26},
      {"0x10", 16},
      {"0X10", 16},
      {" -$10", -16},
      {"$7FFFFFFF", INT32_MAX},
      {"$80000000", INT32_MIN},
      {"$FFFFFFFF", -1},  // hexadecimal fills all 32 bits
      // The whole text must convert.
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"12 ", std::nullopt},
      {"1 2", std::nullopt},
      {"12a", std::nullopt},
      {"1.5", std::nullopt},
      {"1e3", std::nullopt},
      {"\t5", std::nullopt},  // only blanks lead
      {"--1", std::nullopt},
      {"$-1", std::nullopt},
      {"$G", std::nullopt},
      {"2147483648", std::nullopt},  // overflow
      {"-2147483649", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      {"$100000000", std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TryStrToInt(c.text), c.value);
  }
  EXPECT_EQ(StrToInt(" 17"), 17);
  try {
    (void)StrToInt("abc");
    ADD_FAILURE() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid integer value");
  }
}

TEST(TryStrToInt64, Converts64BitText) {
  EXPECT_EQ(TryStrToInt64("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(TryStrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(TryStrToInt64("$FFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(TryStrToInt64("9000000000"), 9000000000);
  EXPECT_EQ(TryStrToInt64("9223372036854775808"), std::nullopt);
  EXPECT_EQ(TryStrToInt64("$10000000000000000"), std::nullopt);
}

TEST(TryStrToFloat, ConvertsDecimalTextWithAPoint) {
  struct Case {
    const char* text;
    std::optional<double> value;
  };
  const Case kCases[] = {
      {"1.5", 1.5},          {" -2.25 ", -2.25},     {"1e3", 1000.0},         {"7", 7.0},
      {"1,5", std::nullopt}, {"", std::nullopt},     {"abc", std::nullopt},   {"inf", std::nullopt},
      {"nan", std::nullopt}, {"0x10", std::nullopt}, {"1e999", std::nullopt}, {".", std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TryStrToFloat(c.text), c.value);
  }
}

TEST(StrUtils, TrimsAndComparesWithoutCase) {
  EXPECT_EQ(Trim(" \t\r\n a b \x01"), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_TRUE(SameTextAscii("Abc", "aBC"));
  EXPECT_FALSE(SameTextAscii("Abc", "Abd"));
  EXPECT_FALSE(SameTextAscii("Abc", "Ab"));
  EXPECT_EQ(UpperCaseAscii("aZ ж"), "AZ ж");
  EXPECT_EQ(LowerCaseAscii("Az Ж"), "az Ж");
  EXPECT_EQ(UpperCase1251("key violation: ёжик ґ"), "KEY VIOLATION: ЁЖИК Ґ");
}

}  // namespace
