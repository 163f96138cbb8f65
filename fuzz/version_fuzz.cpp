// Version texts of the module information: ParseVersion, FormatVersionPair (behind
// FormatVersion) and ShortVersion.
//
// Holds: four numbers written in decimal or hexadecimal parse back to the packed value
// they came from; a decimal part parses as its integer value's low 16 bits (0 when it is
// not a 32-bit integer); FormatVersionPair writes two numbers of at least two digits that
// read back as the third and fourth parts; ShortVersion answers its text unchanged unless
// it has exactly four parts, and then their last two joined by a dot.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "dataaccess/kvt_strutils.h"
#include "fuzz/fuzz_check.h"
#include "moduleinfo/kvt_ModuleInfoImpl.h"
#include "moduleinfo/kvt_ModuleList.h"
#include "platform/rtl/stringlist.h"

namespace {

// The value of a plain decimal piece ("  -12"), or -1 for a piece of another form.
int64_t DecimalPart(std::string_view piece) {
  size_t i = 0;
  while (i < piece.size() && piece[i] == ' ') ++i;
  size_t digits = i;
  if (digits < piece.size() && (piece[digits] == '+' || piece[digits] == '-')) ++digits;
  if (digits == piece.size() || piece.size() - digits > 18) return -1;
  for (size_t k = digits; k < piece.size(); ++k)
    if (piece[k] < '0' || piece[k] > '9') return -1;
  const long long v = std::strtoll(std::string(piece.substr(i)).c_str(), nullptr, 10);
  if (v < INT32_MIN || v > INT32_MAX) return 0;
  return static_cast<uint32_t>(static_cast<int32_t>(v)) & 0xFFFFu;
}

void CheckPair(uint64_t packed) {
  const std::string pair = FormatVersionPair(packed);
  const size_t dot = pair.find('.');
  FUZZ_CHECK(dot != std::string::npos && dot >= 2 && pair.size() - dot - 1 >= 2);
  for (size_t k = 0; k < pair.size(); ++k)
    if (k != dot) FUZZ_CHECK(pair[k] >= '0' && pair[k] <= '9');
  FUZZ_CHECK(std::stoul(pair.substr(0, dot)) == ((packed >> 16) & 0xFFFF));
  FUZZ_CHECK(std::stoul(pair.substr(dot + 1)) == (packed & 0xFFFF));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  // Four numbers written out in one of the forms a part may take.
  uint16_t parts[4];
  for (uint16_t& p : parts) p = in.ConsumeIntegral<uint16_t>();
  const char* const forms[] = {"%u", "$%X", "0x%x", "x%X", "  %u", "+%u"};
  const char* form = forms[in.ConsumeIntegralInRange<size_t>(0, std::size(forms) - 1)];
  std::string written;
  for (int i = 0; i < 4; ++i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, form, static_cast<unsigned>(parts[i]));
    written += (i ? "." : "") + std::string(buf);
  }
  const uint64_t packed = (uint64_t{parts[0]} << 48) | (uint64_t{parts[1]} << 32) |
                          (uint64_t{parts[2]} << 16) | uint64_t{parts[3]};
  FUZZ_CHECK_MSG(ParseVersion(written) == packed, written);
  CheckPair(packed);

  // Any text.
  const std::string text = in.ConsumeRemainingBytesAsString();
  const uint64_t value = ParseVersion(text);
  CheckPair(value);
  std::string_view rest = text;
  for (int i = 0; i < 4; ++i) {
    const size_t dot = rest.find('.');
    const std::string_view piece = rest.substr(0, dot);
    rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
    const int64_t expected = DecimalPart(piece);
    const uint64_t got = (value >> (48 - 16 * i)) & 0xFFFF;
    if (piece.empty()) FUZZ_CHECK(got == 0);
    if (expected >= 0) FUZZ_CHECK_MSG(got == static_cast<uint64_t>(expected), text);
  }

  static TModuleInfo* info = [] {
    auto made = MakeObject<TModuleInfo>();
    return made.Detach();  // lives for the whole run
  }();
  const WideString wide = WideString::FromUtf8(text);
  FUZZ_CHECK(info->FormatVersion(wide) ==
             WideString::FromUtf8(FormatVersionPair(ParseVersion(wide.ToUtf8()))));

  const WideString shorter = ShortVersion(wide);
  StringList pieces;
  SplitString(wide.ToUtf8(), '.', pieces);
  if (pieces.Count() == 4)
    FUZZ_CHECK(shorter.ToUtf8() == pieces[2] + "." + pieces[3]);
  else
    FUZZ_CHECK(shorter == wide);
  return 0;
}
