#include "dataaccess/cdsQuery.h"

namespace {

constexpr bool IsQuote(char c) {
  return c == '\'' || c == '"' || c == '`';
}

constexpr bool EndsName(char c) {
  return c == ' ' || c == ',' || c == ';' || c == ')' || c == '\r' || c == '\n';
}

}  // namespace

// --- Parameter markers

bool ParamMarkerScanner::Next(std::string_view& name) noexcept {
  const size_t n = sql_.size();
  while (pos_ < n) {
    const char c = sql_[pos_];
    if (IsQuote(c)) {
      // Skip the quoted part: it ends at the next quote character of any kind.
      size_t i = pos_ + 1;
      while (i < n && !IsQuote(sql_[i])) ++i;
      pos_ = i < n ? i + 1 : n;
      continue;
    }
    if (c != ':') {
      ++pos_;
      continue;
    }
    if (pos_ + 1 < n && sql_[pos_ + 1] == ':') {  // "::", a literal colon
      pos_ += 2;
      continue;
    }
    const size_t start = pos_ + 1;
    size_t i = start;
    bool quoted = false;
    for (; i < n; ++i) {
      const char ch = sql_[i];
      if (IsQuote(ch))
        quoted = !quoted;
      else if (!quoted && EndsName(ch))
        break;
    }
    pos_ = i;
    std::string_view found = sql_.substr(start, i - start);
    if (!found.empty() && IsQuote(found.front())) {
      found.remove_prefix(1);
      if (!found.empty() && IsQuote(found.back())) found.remove_suffix(1);
    }
    if (found.empty()) continue;
    name = found;
    return true;
  }
  return false;
}

void AppendParamsFromSQL(std::string_view sql, Params& params) {
  ParamMarkerScanner scanner(sql);
  std::string_view name;
  while (scanner.Next(name)) params.Add(std::string(name));
}

void RebuildParamsFromSQL(std::string_view sql, Params& params) {
  Params fresh;
  AppendParamsFromSQL(sql, fresh);
  if (!params.Empty()) fresh.AssignValues(params);
  params = std::move(fresh);
}
