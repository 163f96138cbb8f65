// OLE dates: encoding and decoding around the epoch and leap years, ISO text both ways.
#include "platform/rtl/datetime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "platform/rtl/exceptions.h"

namespace {

struct Ymd {
  int y, m, d;
};

TEST(DateTime, EncodesDaysSinceTheOleEpochAndDecodesThemBack) {
  // Expected serials computed once with an independent calendar.
  struct Case {
    Ymd date;
    double serial;
  };
  constexpr Case kCases[] = {
      {{1899, 12, 30}, 0},    {{1899, 12, 31}, 1},       {{1899, 12, 29}, -1},
      {{1900, 1, 1}, 2},      {{1900, 2, 28}, 60},       {{1900, 3, 1}, 61},  // 1900: no leap day
      {{2000, 2, 29}, 36585}, {{2024, 2, 29}, 45351},    {{1970, 1, 1}, 25569},
      {{1, 1, 1}, -693593},   {{9999, 12, 31}, 2958465},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(FormatDateISO(c.serial));
    EXPECT_EQ(EncodeDate(c.date.y, c.date.m, c.date.d), c.serial);
    int y, m, d;
    DecodeDate(c.serial, y, m, d);
    EXPECT_EQ(y, c.date.y);
    EXPECT_EQ(m, c.date.m);
    EXPECT_EQ(d, c.date.d);
    // The time of day does not move the date (before the epoch it counts away from zero).
    DecodeDate(c.serial + (c.serial < 0 ? -0.75 : 0.75), y, m, d);
    EXPECT_EQ(d, c.date.d);
  }
}

TEST(DateTime, RefusesDatesThatDoNotExist) {
  constexpr Ymd kBad[] = {{1900, 2, 29}, {2023, 2, 29}, {2100, 2, 29}, {2024, 13, 1}, {2024, 0, 1},
                          {2024, 4, 31}, {2024, 1, 0},  {0, 1, 1},     {10000, 1, 1}};
  for (const Ymd& b : kBad) {
    SCOPED_TRACE(std::to_string(b.y) + "-" + std::to_string(b.m) + "-" + std::to_string(b.d));
    EXPECT_EQ(TryEncodeDate(b.y, b.m, b.d), std::nullopt);
    EXPECT_THROW(EncodeDate(b.y, b.m, b.d), EConvertError);
  }
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
}

TEST(DateTime, NegativeDatesKeepTheirTimeAsAPositiveFraction) {
  // -1.25: the day before the epoch, at 06:00.
  int y, m, d, h, mi, s, ms;
  DecodeDate(-1.25, y, m, d);
  DecodeTime(-1.25, h, mi, s, ms);
  EXPECT_EQ(FormatDateTimeISO(-1.25), "1899-12-29 06:00:00");
  EXPECT_EQ(h, 6);
  EXPECT_EQ(d, 29);
}

TEST(DateTime, DatesOutsideTheCalendarDecodeAsZeros) {
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), 1e300, -1e300,
                     std::numeric_limits<double>::infinity(), 2958466.0, -693594.0}) {
    SCOPED_TRACE(bad);
    int y = 1, m = 1, d = 1;
    DecodeDate(bad, y, m, d);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(m, 0);
    EXPECT_EQ(d, 0);
    EXPECT_EQ(FormatDateISO(bad), "0000-00-00");
  }
}

TEST(DateTime, FormatsIsoText) {
  double dt = EncodeDate(2024, 2, 29) + EncodeTime(13, 5, 9, 0);
  EXPECT_EQ(FormatDateTimeISO(dt), "2024-02-29 13:05:09");
  EXPECT_EQ(FormatDateISO(dt), "2024-02-29");
  EXPECT_EQ(DateTimeToText(dt), "2024-02-29 13:05:09");
  EXPECT_EQ(DateTimeToText(EncodeDate(2024, 2, 29)), "2024-02-29");
  EXPECT_EQ(DateTimeToText(EncodeTime(7, 30, 0, 0)), "07:30:00");
  EXPECT_EQ(FormatDateTimeISO(EncodeDate(2024, 2, 29) + EncodeTime(23, 59, 59, 999)),
            "2024-02-29 23:59:59");
}

TEST(DateTime, ParsesIsoAndDottedText) {
  const double day = EncodeDate(2024, 2, 29);
  struct Case {
    const char* text;
    std::optional<double> value;
  };
  const Case kCases[] = {
      {"2024-02-29", day},
      {"  2024-02-29  ", day},
      {"2024-02-29 13:05:09", day + EncodeTime(13, 5, 9, 0)},
      {"2024-02-29T13:05", day + EncodeTime(13, 5, 0, 0)},
      {"2024-02-29 13:05:09.250", day + EncodeTime(13, 5, 9, 250)},
      {"29.02.2024", day},
      {"29.02.2024 08:00", day + EncodeTime(8, 0, 0, 0)},
      {"7:05", EncodeTime(7, 5, 0, 0)},
      {"1899-12-30", 0.0},
      {"2023-02-29", std::nullopt},
      {"2024-2-29", std::nullopt},
      {"2024-02-29x", std::nullopt},
      {"2024-02-29 ", day},  // trailing blanks are trimmed
      {"2024-02-29 25:00", std::nullopt},
      {"2024-02-29 12:60", std::nullopt},
      {"2024-02-29T", std::nullopt},
      {"", std::nullopt},
      {"today", std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    std::optional<double> got = ParseDateTime(c.text);
    ASSERT_EQ(got.has_value(), c.value.has_value());
    if (got) {
      EXPECT_NEAR(*got, *c.value, 1e-9);
    }
  }
  EXPECT_EQ(FormatDateTimeISO(*ParseDateTime("1999-12-31 23:59:59")), "1999-12-31 23:59:59");
}

TEST(DateTime, TodayIsNowWithoutItsTime) {
  double now = Now();
  double today = Date();
  EXPECT_EQ(today, std::trunc(today));
  EXPECT_LE(today, now + 1e-6);
  EXPECT_LT(now - today, 1.0 + 1e-6);  // allows for midnight passing between the calls
  EXPECT_GT(today, EncodeDate(2020, 1, 1));
}

}  // namespace
