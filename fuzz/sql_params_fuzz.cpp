// The parameter markers of an SQL text: the scanner, the parameter list it builds, and a
// query's SQL lines rebuilt one change at a time.
//
// Holds: the scanner ends and agrees with a plain byte-by-byte reading of the marker
// rules; every name is non-empty and lies inside the text; the list has one entry per
// marker, in order; a rebuild keeps the values of the names that remain; a query's
// Params always match the markers of its whole text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/cdsQuery.h"
#include "fuzz/fuzz_check.h"

namespace {

bool IsQuote(char c) {
  return c == '\'' || c == '"' || c == '`';
}
bool EndsName(char c) {
  return c == ' ' || c == ',' || c == ';' || c == ')' || c == '\r' || c == '\n';
}

// The marker rules read one byte at a time, without the scanner's shortcuts.
std::vector<std::string_view> ReferenceMarkers(std::string_view sql) {
  std::vector<std::string_view> names;
  size_t pos = 0;
  while (pos < sql.size()) {
    const char c = sql[pos];
    if (IsQuote(c)) {
      size_t end = pos + 1;
      while (end < sql.size() && !IsQuote(sql[end])) ++end;
      pos = end < sql.size() ? end + 1 : end;
    } else if (c != ':') {
      ++pos;
    } else if (pos + 1 < sql.size() && sql[pos + 1] == ':') {
      pos += 2;
    } else {
      size_t end = pos + 1;
      bool quoted = false;
      while (end < sql.size() && !(EndsName(sql[end]) && !quoted)) {
        if (IsQuote(sql[end])) quoted = !quoted;
        ++end;
      }
      std::string_view name = sql.substr(pos + 1, end - pos - 1);
      if (!name.empty() && IsQuote(name.front())) {
        name.remove_prefix(1);
        if (!name.empty() && IsQuote(name.back())) name.remove_suffix(1);
      }
      if (!name.empty()) names.push_back(name);
      pos = end;
    }
  }
  return names;
}

std::vector<std::string_view> ScannedMarkers(std::string_view sql) {
  std::vector<std::string_view> names;
  ParamMarkerScanner scanner(sql);
  std::string_view name;
  while (scanner.Next(name)) {
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(name.data() >= sql.data() && name.data() + name.size() <= sql.data() + sql.size());
    FUZZ_CHECK(names.size() <= sql.size());
    names.push_back(name);
  }
  return names;
}

// One entry per marker, in order. A rebuilt entry takes the name of the old entry whose
// value it took over, so names compare as parameter names do (without regard to case).
void CheckList(const Params& params, const std::vector<std::string_view>& names) {
  FUZZ_CHECK(params.Count() == static_cast<int>(names.size()));
  for (int i = 0; i < params.Count(); ++i) FUZZ_CHECK(SameFieldName(params[i].Name(), names[i]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view sql(reinterpret_cast<const char*>(data), size);

  const std::vector<std::string_view> names = ScannedMarkers(sql);
  const std::vector<std::string_view> expected = ReferenceMarkers(sql);
  FUZZ_CHECK(names == expected);

  Params params;
  AppendParamsFromSQL(sql, params);
  CheckList(params, names);

  // A rebuild from the text's second half keeps, per remaining name, the value of the
  // last entry of that name in the old list.
  for (int i = 0; i < params.Count(); ++i) params[i].SetAsInteger(i);
  const std::string_view second = sql.substr(sql.size() / 2);
  RebuildParamsFromSQL(second, params);
  CheckList(params, ScannedMarkers(second));
  for (int i = 0; i < params.Count(); ++i) {
    int last = -1;
    for (size_t k = 0; k < names.size(); ++k)
      if (SameFieldName(names[k], params[i].Name())) last = static_cast<int>(k);
    const Param* first = params.FindParam(params[i].Name());
    if (first != &params[i]) continue;  // later entries of a name stay unset
    if (last < 0)
      FUZZ_CHECK(params[i].Value().IsEmpty());
    else
      FUZZ_CHECK(params[i].AsInteger() == last);
  }

  // A query rebuilds its list with every line added: afterwards it matches its whole text.
  TcdsQuery query;
  size_t start = 0;
  while (start <= sql.size() && query.SQL().Count() < 64) {
    size_t end = sql.find('\n', start);
    if (end == std::string_view::npos) end = sql.size();
    query.SQL().Add(std::string(sql.substr(start, end - start)));
    start = end + 1;
  }
  const std::string text = query.SQL().Text();
  CheckList(query.Params(), ScannedMarkers(text));
  return 0;
}
