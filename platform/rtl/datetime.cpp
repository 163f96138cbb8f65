#include "platform/rtl/datetime.h"

#include <sys/time.h>
#include <cmath>
#include <ctime>

#include "platform/rtl/exceptions.h"

namespace {
// Days from 0001-01-01 (proleptic Gregorian) to 1899-12-30.
constexpr int64_t kOleEpochDays = 693593;

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days since 0001-01-01 for a valid date.
int64_t DaysFromCivil(int y, int m, int d) {
  int64_t days = 0;
  int64_t yy = y - 1;
  days = yy * 365 + yy / 4 - yy / 100 + yy / 400;
  for (int i = 1; i < m; ++i) days += DaysInMonth(y, i);
  return days + d - 1;
}

void CivilFromDays(int64_t days, int& y, int& m, int& d) {
  // Algorithm on 400-year cycles of 146097 days.
  int64_t n = days;
  int64_t y400 = n / 146097;
  n %= 146097;
  int64_t y100 = std::min<int64_t>(n / 36524, 3);
  n -= y100 * 36524;
  int64_t y4 = n / 1461;
  n %= 1461;
  int64_t y1 = std::min<int64_t>(n / 365, 3);
  n -= y1 * 365;
  y = static_cast<int>(y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1);
  m = 1;
  while (n >= DaysInMonth(y, m)) n -= DaysInMonth(y, m++);
  d = static_cast<int>(n + 1);
}

// Milliseconds of the day, rounded, for the fraction of an OLE date (negative dates keep
// their time as a positive fraction, as the platform does).
int64_t MillisOfDay(TDateTime dt) {
  if (!std::isfinite(dt)) return 0;
  double frac = std::fabs(dt - std::trunc(dt));
  int64_t ms = static_cast<int64_t>(std::llround(frac * 86400000.0));
  return ms >= 86400000 ? 86399999 : ms;
}

bool Digits(std::string_view s, size_t pos, size_t n, int& out) {
  if (pos + n > s.size()) return false;
  out = 0;
  for (size_t i = 0; i < n; ++i) {
    char c = s[pos + i];
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

// Parses "HH:MM[:SS[.fff]]" starting at pos to the end of s.
bool ParseTime(std::string_view s, size_t pos, double& frac) {
  int h = 0, mi = 0, se = 0, ms = 0;
  size_t p = pos;
  auto two = [&](int& v) {
    if (p + 1 < s.size() && s[p + 1] >= '0' && s[p + 1] <= '9') {
      if (!Digits(s, p, 2, v)) return false;
      p += 2;
    } else {
      if (!Digits(s, p, 1, v)) return false;
      p += 1;
    }
    return true;
  };
  if (!two(h) || p >= s.size() || s[p++] != ':' || !two(mi)) return false;
  if (p < s.size() && s[p] == ':') {
    ++p;
    if (!two(se)) return false;
    if (p < s.size() && s[p] == '.') {
      ++p;
      size_t start = p;
      int scale = 100;
      while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
        ms += (s[p] - '0') * scale;
        scale /= 10;
        ++p;
      }
      if (p == start) return false;
    }
  }
  if (p != s.size() || h > 23 || mi > 59 || se > 59) return false;
  frac = (h * 3600000.0 + mi * 60000.0 + se * 1000.0 + ms) / 86400000.0;
  return true;
}
}  // namespace

std::optional<TDateTime> TryEncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return std::nullopt;
  return static_cast<double>(DaysFromCivil(year, month, day) - kOleEpochDays);
}

TDateTime EncodeDate(int year, int month, int day) {
  auto d = TryEncodeDate(year, month, day);
  if (!d) throw EConvertError("Invalid argument to date encode");
  return *d;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    throw EConvertError("Invalid argument to time encode");
  return (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / 86400000.0;
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
  // 0001-01-01 .. 9999-12-31; anything else (also NaN) decodes as all zeros.
  constexpr double kFirst = -static_cast<double>(kOleEpochDays);
  constexpr double kLast = 2958466.0;  // the day after 9999-12-31
  if (!(dt > kFirst - 1 && dt < kLast)) {
    year = month = day = 0;
    return;
  }
  int64_t days = static_cast<int64_t>(std::trunc(dt)) + kOleEpochDays;
  CivilFromDays(days, year, month, day);
}

void DecodeTime(TDateTime dt, int& hour, int& minute, int& second, int& millisecond) {
  int64_t ms = MillisOfDay(dt);
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  millisecond = static_cast<int>(ms % 1000);
}

TDateTime Now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::time_t t = tv.tv_sec;
  std::tm lt{};
  localtime_r(&t, &lt);
  return EncodeDate(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday) +
         EncodeTime(lt.tm_hour, lt.tm_min, lt.tm_sec, static_cast<int>(tv.tv_usec / 1000));
}

TDateTime Date() {
  return std::trunc(Now());
}

namespace {
// Writes v (0 .. 10^width - 1) as exactly `width` digits.
void PutDigits(char* p, int v, int width) {
  for (int i = width - 1; i >= 0; --i) {
    p[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
}

// "YYYY-MM-DD" into p[0..9].
void PutDate(char* p, TDateTime dt) {
  int y, m, d;
  DecodeDate(dt, y, m, d);
  PutDigits(p, y, 4);
  p[4] = '-';
  PutDigits(p + 5, m, 2);
  p[7] = '-';
  PutDigits(p + 8, d, 2);
}
}  // namespace

std::string FormatDateISO(TDateTime dt) {
  char buf[10];
  PutDate(buf, dt);
  return std::string(buf, sizeof buf);
}

std::string FormatDateTimeISO(TDateTime dt) {
  int h, mi, s, ms;
  DecodeTime(dt, h, mi, s, ms);
  char buf[19];
  PutDate(buf, dt);
  buf[10] = ' ';
  PutDigits(buf + 11, h, 2);
  buf[13] = ':';
  PutDigits(buf + 14, mi, 2);
  buf[16] = ':';
  PutDigits(buf + 17, s, 2);
  return std::string(buf, sizeof buf);
}

std::string DateTimeToText(TDateTime dt) {
  bool whole_day = MillisOfDay(dt) == 0;
  if (whole_day) return FormatDateISO(dt);
  if (std::trunc(dt) == 0) return FormatDateTimeISO(dt).substr(11);
  return FormatDateTimeISO(dt);
}

std::optional<TDateTime> ParseDateTime(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  int y = 0, m = 0, d = 0;
  size_t rest = 0;
  if (text.size() >= 10 && text[4] == '-' && text[7] == '-' && Digits(text, 0, 4, y) &&
      Digits(text, 5, 2, m) && Digits(text, 8, 2, d)) {
    rest = 10;
  } else if (text.size() >= 10 && text[2] == '.' && text[5] == '.' && Digits(text, 0, 2, d) &&
             Digits(text, 3, 2, m) && Digits(text, 6, 4, y)) {
    rest = 10;
  } else {
    double frac = 0;
    if (ParseTime(text, 0, frac)) return frac;
    return std::nullopt;
  }
  auto date = TryEncodeDate(y, m, d);
  if (!date) return std::nullopt;
  if (rest == text.size()) return *date;
  if (text[rest] != ' ' && text[rest] != 'T') return std::nullopt;
  double frac = 0;
  if (!ParseTime(text, rest + 1, frac)) return std::nullopt;
  return *date + frac;
}
