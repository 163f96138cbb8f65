#include "platform/rtl/strutils.h"

#include <cerrno>
#include <cstdlib>

#include "platform/rtl/codepage.h"
#include "platform/rtl/exceptions.h"

namespace {
template <class T>
std::optional<T> ParseInt(std::string_view s, T lo, T hi) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i < s.size() && (s[i] == 'x' || s[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return std::nullopt;
  // Accumulate as an unsigned magnitude; hexadecimal may fill all bits (as $FFFFFFFF = -1).
  using U = std::make_unsigned_t<T>;
  unsigned __int128 v = 0;
  for (; i < s.size(); ++i) {
    char c = s[i];
    int d = (c >= '0' && c <= '9') ? c - '0'
            : (base == 16 && c >= 'a' && c <= 'f') ? c - 'a' + 10
            : (base == 16 && c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                    : -1;
    if (d < 0) return std::nullopt;
    v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    if (v > static_cast<unsigned __int128>(static_cast<U>(-1))) return std::nullopt;
  }
  if (base == 16) {
    T r = static_cast<T>(static_cast<U>(v));
    return neg ? static_cast<T>(0 - static_cast<U>(r)) : r;
  }
  __int128 sv = neg ? -static_cast<__int128>(v) : static_cast<__int128>(v);
  if (sv < lo || sv > hi) return std::nullopt;
  return static_cast<T>(sv);
}
}  // namespace

std::optional<int32_t> TryStrToInt(std::string_view text) {
  return ParseInt<int32_t>(text, INT32_MIN, INT32_MAX);
}

std::optional<int64_t> TryStrToInt64(std::string_view text) {
  return ParseInt<int64_t>(text, INT64_MIN, INT64_MAX);
}

int32_t StrToInt(std::string_view text) {
  auto v = TryStrToInt(text);
  if (!v) throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return *v;
}

std::optional<double> TryStrToFloat(std::string_view text) {
  std::string t(Trim(text));
  if (t.empty()) return std::nullopt;
  for (char c : t)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      return std::nullopt;
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || errno == ERANGE) return std::nullopt;
  return v;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

std::string UpperCaseAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string LowerCaseAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

std::string UpperCase1251(std::string_view utf8) {
  std::u16string w = Utf8ToUtf16(utf8);
  for (char16_t& c : w) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    else if (c >= 0x0430 && c <= 0x044F) c = static_cast<char16_t>(c - 0x20);
    else if (c >= 0x0450 && c <= 0x045F) c = static_cast<char16_t>(c - 0x50);
    else if (c == 0x0491) c = 0x0490;
  }
  return Utf16ToUtf8(w);
}

std::string JsonString(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  // A round trip through UTF-16 makes any byte sequence valid UTF-8.
  const std::string utf8 = Utf16ToUtf8(Utf8ToUtf16(text));
  std::string out = "\"";
  out.reserve(utf8.size() + 2);
  for (char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
  return out;
}
