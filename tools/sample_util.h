// Small helpers of the sample register generator: a seeded random generator whose output is
// the same on every machine, calendar days, and UTF-8 text for Latin and Cyrillic letters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// xoshiro256** seeded through splitmix64. Only integer arithmetic, so a seed gives the same
// sequence whatever the compiler, library or machine.
class SampleRng {
 public:
  explicit SampleRng(uint64_t seed);

  uint64_t Next();
  // Uniform in [0, n); n must be positive.
  uint32_t Below(uint32_t n);
  // Uniform in [lo, hi], both inclusive.
  int Between(int lo, int hi);
  // True with the given probability in percent.
  bool Percent(int percent) { return Below(100) < static_cast<uint32_t>(percent); }
  // An index in [0, n) drawn towards the low end (about a quarter of the draws land in the
  // first 6% of the range), for "a few holders own many marks".
  uint32_t Skewed(uint32_t n);

  template <class T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(static_cast<uint32_t>(N))];
  }

 private:
  uint64_t s_[4];
};

// A calendar day as a count of days since 1970-01-01.
int DayNumber(int year, int month, int day);
// "YYYY-MM-DD".
std::string IsoDate(int day_number);
// "DD.MM.YYYY", as dates are written in Russian letters and notes.
std::string RuDate(int day_number);
int YearOf(int day_number);

// Case mapping for ASCII and the Russian alphabet (including Ё); other characters pass.
std::string Utf8Upper(std::string_view text);
std::string Utf8Lower(std::string_view text);
// First character upper case, the rest as given.
std::string Utf8Capitalize(std::string_view text);
// Number of characters (code points) of a UTF-8 text.
size_t Utf8Length(std::string_view text);

std::string Base64(std::string_view bytes);
// Escapes &, <, > and " for XML text and attributes.
std::string XmlEscape(std::string_view text);
// A commodity code right-padded with fill to ten characters (longer codes stay as they are).
std::string PadCode(std::string_view code, char fill);
// The decimal digits of a text, in order.
std::string DigitsOf(std::string_view text);
