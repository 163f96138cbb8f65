#include "platform/com/guid.h"

#include <cstdio>
#include <random>

#include "platform/rtl/exceptions.h"

std::string GUIDToString(const GUID& g) {
  char buf[39];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                g.Data4[5], g.Data4[6], g.Data4[7]);
  return std::string(buf, 38);
}

WideString GUIDToWide(const GUID& g) { return WideString::FromUtf8(GUIDToString(g)); }

HRESULT CLSIDFromString(std::string_view text, GUID* out) {
  if (out == nullptr) return E_INVALIDARG;
  GUID g;
  if (!guid_detail::Parse(text, g)) return CO_E_CLASSSTRING;
  *out = g;
  return S_OK;
}

HRESULT CLSIDFromString(const WideString& text, GUID* out) {
  // GUID text is plain ASCII; any other character makes it malformed.
  std::string narrow;
  narrow.reserve(text.length());
  for (char16_t c : text.str()) {
    if (c == 0 || c > 0x7F) return out ? CO_E_CLASSSTRING : E_INVALIDARG;
    narrow.push_back(static_cast<char>(c));
  }
  return CLSIDFromString(std::string_view(narrow), out);
}

GUID StringToGUID(std::string_view text) {
  GUID g;
  HRESULT hr = CLSIDFromString(text, &g);
  if (FAILED(hr)) throw EOleSysError(hr);
  return g;
}

HRESULT CoCreateGuid(GUID* out) {
  if (out == nullptr) return E_INVALIDARG;
  try {
    thread_local std::mt19937_64 gen{std::random_device{}()};
    uint64_t a = gen(), b = gen();
    GUID g;
    g.Data1 = static_cast<uint32_t>(a >> 32);
    g.Data2 = static_cast<uint16_t>(a >> 16);
    g.Data3 = static_cast<uint16_t>((a & 0x0FFF) | 0x4000);  // version 4
    for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<uint8_t>(b >> (56 - 8 * i));
    g.Data4[0] = static_cast<uint8_t>((g.Data4[0] & 0x3F) | 0x80);  // variant 1
    *out = g;
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}
