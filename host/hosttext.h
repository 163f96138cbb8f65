// Small text helpers of the host.
#pragma once

#include <cstring>
#include <functional>
#include <string>
#include <string_view>

// A UTF-16 character folded to lower case for comparisons without regard to case: Latin
// and the Cyrillic letters of code page 1251 (А-Я, Ё, and the others of that page).
char16_t FoldChar(char16_t c);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
bool EqualsNoCase(std::string_view utf8_a, std::string_view utf8_b);
// SQL identifier quoting: "name" with inner quotes doubled.
std::string QuoteIdentifier(std::string_view name);

// A hash of UTF-16 texts that lets unordered maps keyed by std::u16string be searched with
// a std::u16string_view (no copy of the key): use with U16Equal.
struct U16Hash {
  using is_transparent = void;
  size_t operator()(std::u16string_view s) const noexcept {
    return std::hash<std::u16string_view>{}(s);
  }
};
// Equality of UTF-16 texts for those maps, compared as bytes at once (the standard comparison
// of char16_t strings goes one unit at a time; statement texts run to hundreds of units).
struct U16Equal {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const noexcept {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
  }
};
