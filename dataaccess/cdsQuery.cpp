#include "dataaccess/cdsQuery.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "dataaccess/KVTAlias.h"
#include "dataaccess/kvt_dbparams.h"
#include "dataaccess/kvt_descriptors.h"

namespace {

// What a byte means to the scanner, looked up once per byte.
enum : uint8_t { kPlain = 0, kQuote = 1, kColon = 2, kEndsName = 4 };

constexpr std::array<uint8_t, 256> kByteClass = [] {
  std::array<uint8_t, 256> t{};
  for (unsigned char c : {'\'', '"', '`'}) t[c] = kQuote;
  t[':'] = kColon;
  for (unsigned char c : {' ', ',', ';', ')', '\r', '\n'}) t[c] = kEndsName;
  return t;
}();

inline uint8_t ClassOf(char c) {
  return kByteClass[static_cast<unsigned char>(c)];
}

// The position of the first quote character or colon at or after `pos` (or `n`). Most of a
// statement is neither, so it is skipped eight bytes at a time: a byte equal to c makes
// (w ^ c*0x01..) have a zero byte, and the lowest byte flagged by the zero-byte test is exact.
size_t SkipPlain(const char* text, size_t pos, size_t n) {
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
  auto zero_bytes = [](uint64_t v) { return (v - kOnes) & ~v & kHighs; };
  while (std::endian::native == std::endian::little && pos + 8 <= n) {
    uint64_t w;
    std::memcpy(&w, text + pos, sizeof w);
    const uint64_t hits = zero_bytes(w ^ (kOnes * ':')) | zero_bytes(w ^ (kOnes * '\'')) |
                          zero_bytes(w ^ (kOnes * '"')) | zero_bytes(w ^ (kOnes * '`'));
    if (hits) return pos + static_cast<size_t>(std::countr_zero(hits)) / 8;
    pos += 8;
  }
  while (pos < n && (ClassOf(text[pos]) & (kQuote | kColon)) == 0) ++pos;
  return pos;
}

}  // namespace

// --- Parameter markers

bool ParamMarkerScanner::Next(std::string_view& name) noexcept {
  const char* const text = sql_.data();
  const size_t n = sql_.size();
  while (pos_ < n) {
    // Most of a statement is neither a quote nor a colon.
    pos_ = SkipPlain(text, pos_, n);
    if (pos_ == n) break;
    if (ClassOf(text[pos_]) == kQuote) {
      // Skip the quoted part: it ends at the next quote character of any kind.
      size_t i = pos_ + 1;
      while (i < n && ClassOf(text[i]) != kQuote) ++i;
      pos_ = i < n ? i + 1 : n;
      continue;
    }
    if (pos_ + 1 < n && text[pos_ + 1] == ':') {  // "::", a literal colon
      pos_ += 2;
      continue;
    }
    const size_t start = pos_ + 1;
    size_t i = start;
    bool quoted = false;
    for (; i < n; ++i) {
      const uint8_t cls = ClassOf(text[i]);
      if (cls == kQuote)
        quoted = !quoted;
      else if (cls == kEndsName && !quoted)
        break;
    }
    pos_ = i;
    std::string_view found = sql_.substr(start, i - start);
    if (!found.empty() && ClassOf(found.front()) == kQuote) {
      found.remove_prefix(1);
      if (!found.empty() && ClassOf(found.back()) == kQuote) found.remove_suffix(1);
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

// --- TcdsQuery

TcdsQuery::TcdsQuery(Component* owner) : TcdsTable(owner) {
  sql_.OnChange = [this](StringList&) { QueryChanged(); };
}

std::unique_ptr<TcdsQuery> TcdsQuery::Create(TcdsTable& table) {
  auto query = std::make_unique<TcdsQuery>();
  query->SetRemoteServer(table.RemoteServer());
  query->SetFullname(table.Fullname());
  return query;
}

TcdsQuery::~TcdsQuery() {
  try {
    Close();
  } catch (...) {
    // A close step that fails (an AfterClose handler) must not escape destruction; the
    // data set closes quietly below all the same.
  }
  sql_.OnChange = nullptr;
}

void TcdsQuery::SetSQL(const StringList& lines) {
  if (sql_.Lines() == lines.Lines() || sql_.Text() == lines.Text()) return;
  Close();
  sql_.Assign(lines.Lines());  // one change: the handler runs once
}

Param& TcdsQuery::ParamByName(const WideString& name) {
  return params_.ParamByName(name.ToUtf8());
}

void TcdsQuery::QueryChanged() {
  if (IsLoading()) {
    params_.Clear();
    AppendParamsFromSQL(sql_.Text(), params_);
    return;
  }
  Close();
  if (param_check_ || IsDesigning()) RebuildParamsFromSQL(sql_.Text(), params_);
  NotifyDataSources(DataEvent::PropertyChanged);
}

void TcdsQuery::DoBeforeOpen() {
  TcdsTable::DoBeforeOpen();
  OpenThroughHost();
}

namespace {

// The table description a host put into the variable, or none.
ComPtr<IKVTTableDef> DescriptionIn(const Variant& v) {
  const uint16_t kind = v.Deref().VType();
  if (kind != varUnknown && kind != varDispatch) return {};
  return v.ToUnknown().TryAs<IKVTTableDef>();
}

}  // namespace

void TcdsQuery::OpenThroughHost() {
  auto* alias = dynamic_cast<TKVTAlias*>(RemoteServer());
  if (!alias) return;
  // Held for the call: a host event during it may detach the alias.
  ComPtr<IDBManager2> manager = alias->DBManager();
  if (!manager) return;

  Variant description;
  if (FieldCount() > 0) description = Variant(ComPtr<IUnknown>(static_cast<IUnknown*>(TableDef())));
  ComPtr<IKVTParams> params = MakeObject<TKVTParams>(params_);
  ComPtr<IKVTTableinfo> answer = manager->OpenSQL(WideString::FromUtf8(alias->Databasename()),
                                                  WideString::FromUtf8(sql_.Text()), params.Get(),
                                                  uni_directional_, QueryOption(), description);
  if (!answer) return;
  SetProviderName(answer->GetProviderName());
  if (FieldCount() == 0)
    if (ComPtr<IKVTTableDef> def = DescriptionIn(description))
      CreateFieldsFromTable(*this, &Indexes(), def.Get(), false, true, nullptr, false);
  SetTableInfo(std::move(answer));
}

void TcdsQuery::InternalOpen() {
  try {
    TcdsTable::InternalOpen();
  } catch (...) {
    SetTableInfo(nullptr);
    throw;
  }
}
