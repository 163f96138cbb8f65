// Text helpers of the platform: integer and float conversion with the platform's rules,
// trimming, case folding of Latin letters.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Converts text to a signed 32-bit integer as the platform does: leading blanks, an
// optional sign, then decimal digits, or hexadecimal after "$", "x" or "0x" (letter in
// either case). The whole text must convert; empty text, other characters and values
// outside the 32-bit range fail.
std::optional<int32_t> TryStrToInt(std::string_view text);
int32_t StrToInt(std::string_view text);  // raises EConvertError "'%s' is not a valid integer value"
std::optional<int64_t> TryStrToInt64(std::string_view text);
// Decimal floating-point text with "." as separator, blanks around allowed.
std::optional<double> TryStrToFloat(std::string_view text);

// Removes characters with codes up to 32 from both ends (as the platform's Trim).
std::string_view Trim(std::string_view s);
std::string UpperCaseAscii(std::string_view s);
std::string LowerCaseAscii(std::string_view s);
// Compares ignoring the case of Latin letters.
bool SameTextAscii(std::string_view a, std::string_view b);
// Upper case of Latin and Cyrillic letters (the code page 1251 repertoire), for texts
// such as error messages that are searched without regard to case.
std::string UpperCase1251(std::string_view utf8);

// `text` as a JSON string, quotes included: quote, backslash and control characters
// escaped; anything that is not UTF-8 becomes U+FFFD.
std::string JsonString(std::string_view text);
