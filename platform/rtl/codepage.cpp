#include "platform/rtl/codepage.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {
constexpr char32_t kReplacement = 0xFFFD;

// Code page 1251, bytes 0x80..0xBF (0xC0..0xFF are U+0410..U+044F).
constexpr std::array<char16_t, 64> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

char16_t ByteToChar(unsigned char b) {
  if (b < 0x80) return b;
  if (b >= 0xC0) return static_cast<char16_t>(0x0410 + (b - 0xC0));
  return kHigh[b - 0x80];
}

// The byte for a character, or -1 when the code page does not hold it.
int CharToByte(char32_t c) {
  if (c < 0x80) return static_cast<int>(c);
  if (c >= 0x0410 && c <= 0x044F) return static_cast<int>(0xC0 + (c - 0x0410));
  for (size_t i = 0; i < kHigh.size(); ++i)
    if (kHigh[i] == c) return static_cast<int>(0x80 + i);
  return -1;
}

// Decodes one code point from UTF-8 at s[i]; advances i. Malformed input gives U+FFFD
// and consumes one byte.
char32_t NextUtf8(std::string_view s, size_t& i) {
  unsigned char b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len = b0 >= 0xF5 ? 0 : b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 ? 2 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return kReplacement;
  }
  char32_t c = b0 & (0xFF >> (len + 1));
  for (int k = 1; k < len; ++k) {
    unsigned char b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    c = (c << 6) | (b & 0x3F);
  }
  // Overlong forms, surrogates and values above U+10FFFF are malformed.
  if ((len == 3 && c < 0x800) || (len == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
      (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += len;
  return c;
}

// Decodes one code point from UTF-16; a lone surrogate gives U+FFFD.
char32_t NextUtf16(std::u16string_view s, size_t& i) {
  char16_t w = s[i++];
  if (w >= 0xD800 && w <= 0xDBFF) {
    if (i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
      char32_t c = 0x10000 + ((static_cast<char32_t>(w) - 0xD800) << 10) + (s[i] - 0xDC00);
      ++i;
      return c;
    }
    return kReplacement;
  }
  if (w >= 0xDC00 && w <= 0xDFFF) return kReplacement;
  return w;
}

// Writes c as UTF-8 at p; answers the position after it.
char* PutUtf8(char* p, char32_t c) {
  if (c < 0x80) {
    *p++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *p++ = static_cast<char>(0xC0 | (c >> 6));
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *p++ = static_cast<char>(0xE0 | (c >> 12));
    *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | (c >> 18));
    *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return p;
}

void AppendUtf8(std::string& out, char32_t c) {
  char buf[4];
  out.append(buf, static_cast<size_t>(PutUtf8(buf, c) - buf));
}

// The converters below run twice: once to count (kWrite false), once to write into a result
// of exactly that size. Runs of ASCII, most of every text here, go eight bytes (four UTF-16
// units) at a time.

// Whether the 8 bytes at s are all ASCII.
bool AsciiWord(const char* s) {
  uint64_t w;
  std::memcpy(&w, s, sizeof w);
  return (w & 0x8080808080808080ull) == 0;
}

// Whether the 4 UTF-16 units at s are all ASCII.
bool AsciiWord(const char16_t* s) {
  uint64_t w;
  std::memcpy(&w, s, sizeof w);
  return (w & 0xFF80FF80FF80FF80ull) == 0;
}

// UTF-8 -> UTF-16; answers the number of UTF-16 units.
template <bool kWrite>
size_t DecodeUtf8(std::string_view utf8, char16_t* out) {
  const char* s = utf8.data();
  const size_t size = utf8.size();
  size_t n = 0;
  for (size_t i = 0; i < size;) {
    if (i + 8 <= size && AsciiWord(s + i)) {
      if constexpr (kWrite)
        for (size_t k = 0; k < 8; ++k) out[n + k] = static_cast<unsigned char>(s[i + k]);
      n += 8;
      i += 8;
      continue;
    }
    const unsigned char b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      if constexpr (kWrite) out[n] = b;
      ++n;
      ++i;
      continue;
    }
    char32_t c = NextUtf8(utf8, i);
    if (c < 0x10000) {
      if constexpr (kWrite) out[n] = static_cast<char16_t>(c);
      ++n;
    } else {
      c -= 0x10000;
      if constexpr (kWrite) {
        out[n] = static_cast<char16_t>(0xD800 + (c >> 10));
        out[n + 1] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
      }
      n += 2;
    }
  }
  return n;
}

// UTF-16 -> UTF-8 (with kReduce, characters outside the code page become "?"); answers the
// number of bytes.
template <bool kWrite, bool kReduce>
size_t EncodeUtf8(std::u16string_view utf16, char* out) {
  const char16_t* s = utf16.data();
  const size_t size = utf16.size();
  size_t n = 0;
  for (size_t i = 0; i < size;) {
    if (i + 4 <= size && AsciiWord(s + i)) {
      if constexpr (kWrite)
        for (size_t k = 0; k < 4; ++k) out[n + k] = static_cast<char>(s[i + k]);
      n += 4;
      i += 4;
      continue;
    }
    if (s[i] < 0x80) {
      if constexpr (kWrite) out[n] = static_cast<char>(s[i]);
      ++n;
      ++i;
      continue;
    }
    char32_t c = NextUtf16(utf16, i);
    if (kReduce && CharToByte(c) < 0) c = U'?';
    char buf[4];
    const size_t len = static_cast<size_t>(PutUtf8(buf, c) - buf);
    if constexpr (kWrite)
      for (size_t k = 0; k < len; ++k) out[n + k] = buf[k];
    n += len;
  }
  return n;
}
}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out(DecodeUtf8<false>(utf8, nullptr), u'\0');
  DecodeUtf8<true>(utf8, out.data());
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out(EncodeUtf8<false, false>(utf16, nullptr), '\0');
  EncodeUtf8<true, false>(utf16, out.data());
  return out;
}

bool InCodePage1251(char32_t c) {
  return CharToByte(c) >= 0;
}

std::string EncodeCodePage1251(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size();) {
    int b = CharToByte(NextUtf16(utf16, i));
    out.push_back(b < 0 ? '?' : static_cast<char>(b));
  }
  return out;
}

std::u16string DecodeCodePage1251(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (char ch : bytes) out.push_back(ByteToChar(static_cast<unsigned char>(ch)));
  return out;
}

std::string WideToAnsi(std::u16string_view utf16) {
  std::string out(EncodeUtf8<false, true>(utf16, nullptr), '\0');
  EncodeUtf8<true, true>(utf16, out.data());
  return out;
}

std::string ToCodePage1251(std::string_view utf8) {
  // Most texts hold only what the code page holds (they were reduced before, or are ASCII):
  // those come back unchanged, as a well-formed sequence re-encodes to the same bytes.
  size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    // А..я (U+0410..U+044F): D0 90 .. D0 BF, D1 80 .. D1 8F.
    if (i + 1 < utf8.size()) {
      const unsigned char b1 = static_cast<unsigned char>(utf8[i + 1]);
      if ((b == 0xD0 && b1 >= 0x90 && b1 <= 0xBF) || (b == 0xD1 && b1 >= 0x80 && b1 <= 0x8F)) {
        i += 2;
        continue;
      }
    }
    size_t next = i;
    if (CharToByte(NextUtf8(utf8, next)) < 0) break;  // also U+FFFD for malformed input
    i = next;
  }
  if (i == utf8.size()) return std::string(utf8);
  std::string out(utf8.substr(0, i));
  out.reserve(utf8.size());
  while (i < utf8.size()) {
    char32_t c = NextUtf8(utf8, i);
    if (CharToByte(c) < 0) c = U'?';
    AppendUtf8(out, c);
  }
  return out;
}

size_t Utf8Length(std::string_view utf8) {
  size_t n = 0;
  for (char ch : utf8)
    if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++n;
  return n;
}
