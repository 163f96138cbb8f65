// Fixed-width COM types, result codes and the GUID value type.
//
// Interfaces between the module and its host use only these types: on Linux `long` is
// 64 bits and `wchar_t` 32 bits, so neither may appear at the boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using HRESULT = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using WORD = uint16_t;
using BYTE = uint8_t;
using DISPID = int32_t;
using LCID = uint32_t;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// Result codes the system meets. The texts a user sees for them: SysErrorMessage().
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111);
constexpr HRESULT REGDB_E_READREGDB = static_cast<HRESULT>(0x80040150);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0);
constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3);
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = static_cast<HRESULT>(0x80080005);
constexpr HRESULT CO_E_BAD_SERVER_NAME = static_cast<HRESULT>(0x80004014);
constexpr HRESULT RPC_E_SERVER_UNAVAILABLE = static_cast<HRESULT>(0x800706BA);  // "RPC server is unavailable"
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = static_cast<HRESULT>(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = static_cast<HRESULT>(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006);
constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000E);
constexpr HRESULT STG_E_INVALIDFUNCTION = static_cast<HRESULT>(0x80030001);
constexpr HRESULT STG_E_INVALIDPOINTER = static_cast<HRESULT>(0x80030009);
constexpr HRESULT STG_E_READFAULT = static_cast<HRESULT>(0x8003001E);
constexpr HRESULT STG_E_MEDIUMFULL = static_cast<HRESULT>(0x80030070);

// The system's message text for a result code, as a user would see it ("No such
// interface supported", ...). Unknown codes give "Unspecified error (0x........)".
std::string SysErrorMessage(HRESULT hr);

// A 128-bit globally unique identifier, laid out as the platform lays it out.
struct GUID {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0;
  uint16_t Data3 = 0;
  uint8_t Data4[8] = {};

  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
      if (a.Data4[i] != b.Data4[i]) return false;
    return true;
  }
  friend constexpr bool operator<(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1) return a.Data1 < b.Data1;
    if (a.Data2 != b.Data2) return a.Data2 < b.Data2;
    if (a.Data3 != b.Data3) return a.Data3 < b.Data3;
    for (int i = 0; i < 8; ++i)
      if (a.Data4[i] != b.Data4[i]) return a.Data4[i] < b.Data4[i];
    return false;
  }
  // All sixteen bytes zero.
  constexpr bool IsNull() const { return *this == GUID{}; }
};
using IID = GUID;
using CLSID = GUID;
inline constexpr GUID GUID_NULL{};

namespace guid_detail {
constexpr int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
// Parses braced 38-character GUID text; false when the text is not exactly that.
constexpr bool Parse(std::string_view s, GUID& g) {
  if (s.size() != 38 || s[0] != '{' || s[37] != '}') return false;
  // Positions of the hexadecimal pairs, in byte order of the text.
  constexpr int kHyphens[] = {9, 14, 19, 24};
  for (int h : kHyphens)
    if (s[h] != '-') return false;
  auto hex = [&](int pos, int digits, uint64_t& out) {
    out = 0;
    for (int i = 0; i < digits; ++i) {
      int d = HexDigit(s[pos + i]);
      if (d < 0) return false;
      out = out * 16 + static_cast<uint64_t>(d);
    }
    return true;
  };
  uint64_t v = 0;
  GUID r{};
  if (!hex(1, 8, v)) return false;
  r.Data1 = static_cast<uint32_t>(v);
  if (!hex(10, 4, v)) return false;
  r.Data2 = static_cast<uint16_t>(v);
  if (!hex(15, 4, v)) return false;
  r.Data3 = static_cast<uint16_t>(v);
  constexpr int kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!hex(kBytePos[i], 2, v)) return false;
    r.Data4[i] = static_cast<uint8_t>(v);
  }
  g = r;
  return true;
}
}  // namespace guid_detail

// Compile-time GUID: "{90F3F42C-0F88-478D-A234-101D4F85F9CA}"_guid. Malformed text does
// not compile.
consteval GUID operator""_guid(const char* s, std::size_t n) {
  GUID g{};
  if (!guid_detail::Parse(std::string_view(s, n), g)) throw "malformed GUID literal";
  return g;
}
