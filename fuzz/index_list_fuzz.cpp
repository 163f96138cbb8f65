// The index-list grammar of a client table: one entry read at a position, and a whole
// list set on a table that describes it to the host.
//
// Holds: the options word carries only the index bits and starts from the position's
// defaults; the field text is the entry without its switches; the name is "sIndex_<n>"
// for a text with ";" and the trimmed field text otherwise, so it is empty only when the
// field text is blank; the table's descriptions and key fields agree with the grammar.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "dataaccess/cdsTable.h"
#include "fuzz/fuzz_check.h"
#include "platform/rtl/strutils.h"

namespace {

constexpr int32_t kAllBits =
    ixPrimary | ixUnique | ixDescending | ixCaseInsensitive | kIndexTextFlag;

void CheckEntry(const std::string& entry, int32_t position, bool no_primary) {
  const TKVTIndexEntry e = ParseIndexEntry(entry, position, no_primary);
  FUZZ_CHECK((e.Options & ~kAllBits) == 0);
  const bool primary = position == 0 && !no_primary;
  FUZZ_CHECK(((e.Options & ixPrimary) != 0) == primary);
  if (primary) FUZZ_CHECK((e.Options & ixUnique) != 0);
  if (!primary) {
    FUZZ_CHECK(((e.Options & ixCaseInsensitive) == 0) == (entry.find("/c") != std::string::npos));
  }
  FUZZ_CHECK(((e.Options & ixDescending) != 0) == (entry.find("/d") != std::string::npos));
  FUZZ_CHECK(((e.Options & kIndexTextFlag) != 0) == (entry.find("/t") != std::string::npos));

  // The field text is what is left at the end of the entry.
  FUZZ_CHECK(e.Fields.size() <= entry.size());
  FUZZ_CHECK(entry.compare(entry.size() - e.Fields.size(), e.Fields.size(), e.Fields) == 0);

  FUZZ_CHECK(e.Name == IndexNameFor(e.Fields, position));
  if (e.Fields.find(';') != std::string::npos) {
    FUZZ_CHECK(e.Name == "sIndex_" + std::to_string(static_cast<int8_t>(position)));
  } else {
    FUZZ_CHECK(e.Name == Trim(e.Fields));
    FUZZ_CHECK(IsTrimmed(e.Name));
    FUZZ_CHECK(e.Name.empty() == Trim(e.Fields).empty());
  }
  if (!entry.empty() && e.Fields.empty()) {
    // Only switches (or a text shorter than them) leave no field text.
    FUZZ_CHECK(entry.find('/') != std::string::npos);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int32_t position = in.ConsumeIntegral<int32_t>();
  const bool no_primary = in.ConsumeBool();
  const std::string text = in.ConsumeRemainingBytesAsString();

  CheckEntry(text, position, no_primary);

  // The same text as a table's index list, one entry per line.
  TcdsTable table;
  table.SetNoPrimary(no_primary);
  table.Indexes().SetText(text);
  const StringList& lines = table.Indexes();
  FUZZ_CHECK(table.GetIndexCount() == lines.Count());
  for (int i = 0; i < lines.Count() && i < 300; ++i) {
    CheckEntry(lines[i], i, no_primary);
    const TKVTIndexEntry e = ParseIndexEntry(lines[i], i, no_primary);
    ComPtr<IKVTIndexInfo> info = table.GetIndex(i);
    FUZZ_CHECK(info->GetName() == WideString::FromUtf8(e.Name));
    FUZZ_CHECK(info->GetFields() == WideString::FromUtf8(e.Fields));
    FUZZ_CHECK(info->GetOptions() == e.Options);
  }

  // The key fields come from entry 0 alone; an empty list has none.
  if (lines.Empty()) {
    FUZZ_CHECK(table.KeyFields().Empty());
  } else {
    StringList expected;
    expected.SetDelimiter(';');
    expected.SetDelimitedText(lines[0]);
    FUZZ_CHECK(table.KeyFields().Lines() == expected.Lines());
  }
  return 0;
}
