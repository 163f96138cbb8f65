#include "platform/com/widestring.h"

#include "platform/rtl/codepage.h"

WideString WideString::FromUtf8(std::string_view utf8) { return WideString(Utf8ToUtf16(utf8)); }
std::string WideString::ToUtf8() const { return Utf16ToUtf8(s_); }
std::string WideString::ToAnsi() const { return WideToAnsi(s_); }
