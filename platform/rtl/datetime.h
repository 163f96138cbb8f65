// OLE dates: days since 1899-12-30; the fraction is the time of day.
#pragma once

#include <optional>
#include <string>
#include <string_view>

using TDateTime = double;

TDateTime EncodeDate(int year, int month, int day);  // raises EConvertError when invalid
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
std::optional<TDateTime> TryEncodeDate(int year, int month, int day);
// Dates outside 0001-01-01 .. 9999-12-31 (and NaN) decode as year, month and day 0.
void DecodeDate(TDateTime dt, int& year, int& month, int& day);
void DecodeTime(TDateTime dt, int& hour, int& minute, int& second, int& millisecond);

// The current local date and time.
TDateTime Now();
// Today, local, at midnight.
TDateTime Date();

// "YYYY-MM-DD HH:MM:SS" (local wall-clock text, no zone).
std::string FormatDateTimeISO(TDateTime dt);
// "YYYY-MM-DD".
std::string FormatDateISO(TDateTime dt);
// As a variant shows it: "YYYY-MM-DD" for a whole day, "HH:MM:SS" for a pure time,
// otherwise "YYYY-MM-DD HH:MM:SS".
std::string DateTimeToText(TDateTime dt);

// Accepts "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.fff]]" (also with "T"), "DD.MM.YYYY[ HH:MM[:SS]]"
// and "HH:MM[:SS]", with blanks around. Empty optional for anything else.
std::optional<TDateTime> ParseDateTime(std::string_view text);
