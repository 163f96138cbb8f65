// Small text helpers of the host.
#pragma once

#include <string>
#include <string_view>

// A UTF-16 character folded to lower case for comparisons without regard to case: Latin
// and the Cyrillic letters of code page 1251 (А-Я, Ё, and the others of that page).
char16_t FoldChar(char16_t c);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
bool EqualsNoCase(std::string_view utf8_a, std::string_view utf8_b);
// SQL identifier quoting: "name" with inner quotes doubled.
std::string QuoteIdentifier(std::string_view name);
