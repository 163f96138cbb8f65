// Text conversions between UTF-8, UTF-16 and code page 1251.
//
// Holds: valid UTF-8 survives UTF-8 -> UTF-16 -> UTF-8, and UTF-16 without lone surrogates
// survives the way back; whatever goes in, what comes out is well-formed (invalid input
// becomes U+FFFD) and converting it again changes nothing; every byte of the code page
// decodes and encodes back to itself; text reduced to the code page holds only characters
// of the code page, one per character of the input, and reducing it again changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/com/widestring.h"
#include "platform/rtl/codepage.h"

namespace {

// Decodes strictly; false at the first malformed sequence.
bool DecodeUtf8(std::string_view s, std::u32string* out) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    int len = b < 0x80             ? 1
              : (b & 0xE0) == 0xC0 ? 2
              : (b & 0xF0) == 0xE0 ? 3
              : (b & 0xF8) == 0xF0 ? 4
                                   : 0;
    if (len == 0 || i + len > s.size()) return false;
    char32_t c = len == 1 ? b : b & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
      const unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      c = (c << 6) | (t & 0x3F);
    }
    const char32_t min = len == 2 ? 0x80 : len == 3 ? 0x800 : len == 4 ? 0x10000 : 0;
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (out) out->push_back(c);
    i += static_cast<size_t>(len);
  }
  return true;
}

bool HasLoneSurrogate(std::u16string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] >= 0xD800 && s[i] <= 0xDBFF) {
      if (i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
        ++i;
        continue;
      }
      return true;
    }
    if (s[i] >= 0xDC00 && s[i] <= 0xDFFF) return true;
  }
  return false;
}

// Holds only characters of the code page, and answers how many.
size_t CheckInCodePage(std::string_view utf8) {
  std::u32string chars;
  FUZZ_CHECK(DecodeUtf8(utf8, &chars));
  for (char32_t c : chars) FUZZ_CHECK(InCodePage1251(c));
  return chars.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::u16string units(size / 2, u'\0');
  if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);

  // UTF-8 -> UTF-16 -> UTF-8.
  const std::u16string wide = Utf8ToUtf16(bytes);
  FUZZ_CHECK(!HasLoneSurrogate(wide));
  const std::string narrow = Utf16ToUtf8(wide);
  FUZZ_CHECK(DecodeUtf8(narrow, nullptr));
  if (DecodeUtf8(bytes, nullptr)) FUZZ_CHECK(narrow == bytes);
  FUZZ_CHECK(Utf8ToUtf16(narrow) == wide);
  FUZZ_CHECK(WideString::FromUtf8(bytes).ToUtf8() == narrow);

  // UTF-16 -> UTF-8 -> UTF-16.
  const std::string from_units = Utf16ToUtf8(units);
  FUZZ_CHECK(DecodeUtf8(from_units, nullptr));
  const std::u16string back = Utf8ToUtf16(from_units);
  if (!HasLoneSurrogate(units)) FUZZ_CHECK(back == units);
  FUZZ_CHECK(back.size() == units.size());  // a lone surrogate becomes one U+FFFD

  // Code page bytes <-> Unicode: every byte has its character.
  const std::u16string decoded = DecodeCodePage1251(bytes);
  FUZZ_CHECK(decoded.size() == bytes.size());
  FUZZ_CHECK(EncodeCodePage1251(decoded) == bytes);
  for (char16_t c : decoded) FUZZ_CHECK(InCodePage1251(c));

  // Reduced to the code page: one character per input character, "?" for the rest.
  const std::string encoded = EncodeCodePage1251(units);
  std::u32string unit_chars;
  FUZZ_CHECK(DecodeUtf8(from_units, &unit_chars));
  FUZZ_CHECK(encoded.size() == unit_chars.size());
  const std::string reduced_wide = WideToAnsi(units);
  FUZZ_CHECK(CheckInCodePage(reduced_wide) == unit_chars.size());
  FUZZ_CHECK(reduced_wide == ToCodePage1251(from_units));
  FUZZ_CHECK(Utf16ToUtf8(DecodeCodePage1251(encoded)) == reduced_wide);

  const std::string reduced = ToCodePage1251(bytes);
  std::u32string byte_chars;
  FUZZ_CHECK(DecodeUtf8(narrow, &byte_chars));
  FUZZ_CHECK(CheckInCodePage(reduced) == byte_chars.size());
  FUZZ_CHECK(Utf8Length(reduced) == byte_chars.size());
  FUZZ_CHECK(ToCodePage1251(reduced) == reduced);
  FUZZ_CHECK(WideString::FromUtf8(bytes).ToAnsi() == reduced);
  return 0;
}
