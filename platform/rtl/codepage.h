// Text encodings: UTF-8 (inside), UTF-16 (across interfaces) and the single-byte code
// page 1251 (the register's texts).
//
// Inside the platform and the module, text is UTF-8 in std::string. Where a text must be
// "single-byte text in code page 1251", it stays UTF-8 but is reduced to the code page's
// repertoire: every character the code page cannot hold becomes "?" (ToCodePage1251 and
// WideToAnsi). Byte 0x98, undefined in the code page, maps to U+0098 both ways.
//
// Malformed input never fails: invalid UTF-8 sequences and lone UTF-16 surrogates become
// U+FFFD when converted between UTF-8 and UTF-16, and "?" when reduced to code page 1251.
#pragma once

#include <string>
#include <string_view>

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Whether the code page holds the character (all of U+0000..U+007F, U+0098 and the 127
// characters of bytes 0x80..0xFF other than 0x98).
bool InCodePage1251(char32_t c);

// Bytes of code page 1251 <-> Unicode.
std::string EncodeCodePage1251(std::u16string_view utf16);  // "?" for what it cannot hold
std::u16string DecodeCodePage1251(std::string_view bytes);

// UTF-16 / UTF-8 reduced to the code page's repertoire, as UTF-8.
std::string WideToAnsi(std::u16string_view utf16);
std::string ToCodePage1251(std::string_view utf8);

// Number of characters (code points) of UTF-8 text.
size_t Utf8Length(std::string_view utf8);
