// GUID text: CLSIDFromString in both text forms and a connection's ServerGUID written the
// way the host writes it (IKVTAlias::SetServerGUID).
//
// Holds: format-then-parse gives the same GUID (upper or lower case, UTF-8 or UTF-16);
// text that parses is 38 characters and formats back to itself, upper-cased; a failed
// parse leaves its target unchanged; a connection keeps its identifier when the text is
// refused and otherwise reads back the formatted text (empty when its first three parts are
// zero).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "dataaccess/KVTAlias.h"
#include "fuzz/fuzz_check.h"
#include "platform/com/guid.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/strutils.h"

namespace {

constexpr GUID kSentinel = "{01234567-89AB-CDEF-0123-456789ABCDEF}"_guid;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

void CheckText(const std::string& text, const WideString& wide) {
  GUID g = kSentinel;
  const HRESULT hr = CLSIDFromString(std::string_view(text), &g);
  FUZZ_CHECK(hr == S_OK || hr == CO_E_CLASSSTRING);
  if (hr == S_OK) {
    FUZZ_CHECK(text.size() == 38);
    FUZZ_CHECK(GUIDToString(g) == UpperCaseAscii(text));
  } else {
    FUZZ_CHECK(g == kSentinel);
  }

  GUID w = kSentinel;
  const HRESULT hw = CLSIDFromString(wide, &w);
  FUZZ_CHECK(hw == S_OK || hw == CO_E_CLASSSTRING);
  if (hw == S_OK) {
    FUZZ_CHECK(wide.length() == 38);
    FUZZ_CHECK(GUIDToWide(w) == WideString::FromUtf8(UpperCaseAscii(wide.ToUtf8())));
  } else {
    FUZZ_CHECK(w == kSentinel);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);

  // Format, then parse.
  GUID made{};
  const auto bytes = in.ConsumeBytes<uint8_t>(sizeof made);
  if (!bytes.empty()) std::memcpy(&made, bytes.data(), bytes.size());
  const std::string formatted = GUIDToString(made);
  FUZZ_CHECK(formatted.size() == 38);
  for (const std::string& text : {formatted, Lower(formatted)}) {
    GUID back{};
    FUZZ_CHECK(CLSIDFromString(std::string_view(text), &back) == S_OK && back == made);
    FUZZ_CHECK(CLSIDFromString(WideString::FromUtf8(text), &back) == S_OK && back == made);
    FUZZ_CHECK(StringToGUID(text) == made);
  }

  // Any text, as UTF-8 and as UTF-16 code units.
  const std::string text = in.ConsumeRandomLengthString(128);
  const std::string units = in.ConsumeRandomLengthString(128);
  std::u16string u16(units.size() / 2, u'\0');
  if (!u16.empty()) std::memcpy(u16.data(), units.data(), u16.size() * 2);
  CheckText(text, WideString::FromUtf8(text));
  CheckText(WideString(u16).ToUtf8(), WideString(u16));

  // Through a connection, as the host writes it.
  const WideString written = in.ConsumeBool() ? WideString(u16) : WideString::FromUtf8(text);
  TKVTAlias alias;
  alias.SetServerGUID(GUIDToWide(made));
  FUZZ_CHECK(alias.ServerGUIDValue() == made);
  try {
    static_cast<IKVTAlias&>(alias).SetServerGUID(written);
    GUID expected{};
    if (!written.empty()) FUZZ_CHECK(CLSIDFromString(written.ToAnsi(), &expected) == S_OK);
    FUZZ_CHECK(alias.ServerGUIDValue() == expected);
  } catch (const EOleSysError& e) {
    FUZZ_CHECK(e.ErrorCode() == CO_E_CLASSSTRING);
    FUZZ_CHECK(alias.ServerGUIDValue() == made);
  }
  const GUID& now = alias.ServerGUIDValue();
  const WideString read = static_cast<IKVTAlias&>(alias).GetServerGUID();
  if (now.Data1 == 0 && now.Data2 == 0 && now.Data3 == 0)
    FUZZ_CHECK(read.empty());
  else
    FUZZ_CHECK(read == GUIDToWide(now));
  return 0;
}
