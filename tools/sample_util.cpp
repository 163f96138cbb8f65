#include "sample_util.h"

#include <cstdio>

namespace {

uint64_t SplitMix(uint64_t& state) {
  uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

uint64_t Rotl(uint64_t x, int k) {
  return (x << k) | (x >> (64 - k));
}

struct Civil {
  int year, month, day;
};

// Days since 1970-01-01 to the proleptic Gregorian calendar (H. Hinnant's algorithm).
Civil CivilFromDays(int z) {
  z += 719468;
  const int era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int y = static_cast<int>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {m <= 2 ? y + 1 : y, static_cast<int>(m), static_cast<int>(d)};
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Reads one code point at pos and advances pos; the generator only ever feeds it valid UTF-8
// of its own word lists.
char32_t NextCodePoint(std::string_view s, size_t& pos) {
  unsigned char b = static_cast<unsigned char>(s[pos++]);
  if (b < 0x80) return b;
  int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
  char32_t c = b & (0x3F >> extra);
  for (int i = 0; i < extra && pos < s.size(); ++i)
    c = (c << 6) | (static_cast<unsigned char>(s[pos++]) & 0x3F);
  return c;
}

char32_t ToUpper(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 32;
  if (c >= U'а' && c <= U'я') return c - 32;
  if (c == U'ё') return U'Ё';
  return c;
}

char32_t ToLower(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 32;
  if (c >= U'А' && c <= U'Я') return c + 32;
  if (c == U'Ё') return U'ё';
  return c;
}

template <class Map>
std::string MapChars(std::string_view text, Map map, size_t count) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  for (size_t i = 0; pos < text.size(); ++i) {
    char32_t c = NextCodePoint(text, pos);
    AppendUtf8(out, i < count ? map(c) : c);
  }
  return out;
}

}  // namespace

SampleRng::SampleRng(uint64_t seed) {
  uint64_t state = seed;
  for (uint64_t& s : s_) s = SplitMix(state);
}

uint64_t SampleRng::Next() {
  const uint64_t result = Rotl(s_[1] * 5, 7) * 9;
  const uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = Rotl(s_[3], 45);
  return result;
}

uint32_t SampleRng::Below(uint32_t n) {
  // Multiply-shift on the upper 32 bits: the bias is below 2^-32 and the result is exact
  // integer arithmetic.
  return static_cast<uint32_t>(((Next() >> 32) * n) >> 32);
}

int SampleRng::Between(int lo, int hi) {
  return lo + static_cast<int>(Below(static_cast<uint32_t>(hi - lo + 1)));
}

uint32_t SampleRng::Skewed(uint32_t n) {
  uint64_t a = Below(n), b = Below(n);
  return static_cast<uint32_t>(a * b / n);
}

int DayNumber(int year, int month, int day) {
  year -= month <= 2;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned mp = static_cast<unsigned>(month > 2 ? month - 3 : month + 9);
  const unsigned doy = (153 * mp + 2) / 5 + static_cast<unsigned>(day) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int>(doe) - 719468;
}

std::string IsoDate(int day_number) {
  Civil c = CivilFromDays(day_number);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", c.year, c.month, c.day);
  return buf;
}

std::string RuDate(int day_number) {
  Civil c = CivilFromDays(day_number);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", c.day, c.month, c.year);
  return buf;
}

int YearOf(int day_number) {
  return CivilFromDays(day_number).year;
}

std::string Utf8Upper(std::string_view text) {
  return MapChars(text, ToUpper, text.size());
}

std::string Utf8Lower(std::string_view text) {
  return MapChars(text, ToLower, text.size());
}

std::string Utf8Capitalize(std::string_view text) {
  return MapChars(text, ToUpper, 1);
}

size_t Utf8Length(std::string_view text) {
  size_t n = 0;
  for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

std::string Base64(std::string_view bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = static_cast<unsigned char>(bytes[i]) << 16 |
                 static_cast<unsigned char>(bytes[i + 1]) << 8 |
                 static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string PadCode(std::string_view code, char fill) {
  std::string out(code);
  if (out.size() < 10) out.append(10 - out.size(), fill);
  return out;
}

std::string DigitsOf(std::string_view text) {
  std::string out;
  for (char c : text)
    if (c >= '0' && c <= '9') out += c;
  return out;
}
