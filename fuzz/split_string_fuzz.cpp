// SplitString and the string list's own text forms.
//
// Holds: SplitString's items are the trimmed pieces between separators of the text up to
// its first zero byte (a separator at the very end adds no piece) and the list reports one
// change; a list written as delimited text reads back as the same lines, and so does a
// list of lines without line breaks written as text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/kvt_strutils.h"
#include "fuzz/fuzz_check.h"
#include "platform/rtl/stringlist.h"
#include "platform/rtl/strutils.h"

namespace {

std::vector<std::string> ExpectedPieces(std::string_view text, char sep) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == sep) {
      if (i == text.size() && start == text.size() && text.back() == sep) break;
      pieces.emplace_back(Trim(text.substr(start, i - start)));
      start = i + 1;
    }
  }
  return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const char sep = static_cast<char>(in.ConsumeIntegral<uint8_t>());
  const std::string text = in.ConsumeRemainingBytesAsString();

  StringList list{"left over"};
  int changes = 0;
  list.OnChange = [&](StringList&) { ++changes; };
  SplitString(text, sep, list);
  FUZZ_CHECK(changes == 1);
  FUZZ_CHECK(list.Lines() == ExpectedPieces(text, sep));
  for (const std::string& item : list.Lines()) {
    FUZZ_CHECK(IsTrimmed(item));
    if (sep != '\0') FUZZ_CHECK(item.find(sep) == std::string::npos);
  }
  list.OnChange = nullptr;

  // Delimited text: any lines come back, whatever they hold (a zero-byte delimiter is
  // not one a list is given).
  StringList lines;
  lines.SetText(text);
  if (sep != '\0' && sep != '"' && static_cast<unsigned char>(sep) > ' ') {
    StringList copy;
    copy.SetDelimiter(sep);
    lines.SetDelimiter(sep);
    copy.SetDelimitedText(lines.DelimitedText());
    FUZZ_CHECK_MSG(copy.Lines() == lines.Lines(), lines.DelimitedText());
  }
  // Text: lines split at line breaks come back from their text.
  StringList again;
  again.SetText(lines.Text());
  FUZZ_CHECK(again.Lines() == lines.Lines());
  return 0;
}
