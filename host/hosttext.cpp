#include "host/hosttext.h"

#include "platform/rtl/codepage.h"

char16_t FoldChar(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c >= u'\u0410' && c <= u'\u042F') return static_cast<char16_t>(c + 32);  // А..Я
  if (c >= u'\u0400' && c <= u'\u040F') return static_cast<char16_t>(c + 80);  // Ѐ..Џ
  return c;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && FoldChar(a[i]) != FoldChar(b[i])) return false;
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a == b) return true;
  return EqualsNoCase(Utf8ToUtf16(a), Utf8ToUtf16(b));
}

std::string QuoteIdentifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}
