#include "platform/db/packet.h"

#include <algorithm>
#include <unordered_set>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "platform/rtl/strutils.h"

namespace {

[[noreturn]] void Malformed(std::string_view what) {
  throw EDatabaseError("Invalid data packet: " + std::string(what));
}

// Names the part of a packet being read ("row 3", "column 2 size"); the text is made
// only for an error message, so reading a packet formats nothing.
struct Where {
  const char* kind;
  long long index = -1;
  const char* part = nullptr;

  Where Part(const char* p) const { return {kind, index, p}; }
  std::string Text() const {
    std::string t = kind;
    if (index >= 0) t += " " + std::to_string(index);
    if (part) t += std::string(" ") + part;
    return t;
  }
};

// The items of an array variant, or an error naming where it was expected.
const std::vector<Variant>& ArrayOf(const Variant& v, const Where& where) {
  if (!v.Deref().IsArray()) Malformed(where.Text() + " is not an array");
  return v.Items();
}

std::vector<Variant>& MutableArrayOf(Variant& v, const Where& where) {
  if (!v.Deref().IsArray()) Malformed(where.Text() + " is not an array");
  return v.Items();
}

int32_t IntOf(const Variant& v, const Where& where) {
  const Variant& d = v.Deref();
  switch (d.VType()) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varUInt64:
      try {
        return d.ToInt32();
      } catch (const Exception&) {
      }
      [[fallthrough]];
    default:
      Malformed(where.Text() + " is not an integer");
  }
}

bool BoolOf(const Variant& v, const Where& where) {
  const Variant& d = v.Deref();
  if (d.VType() == varBoolean) return d.ToBool();
  if (d.IsNumeric()) return d.ToDouble() != 0;
  Malformed(where.Text() + " is not a Boolean");
}

std::string TextOf(const Variant& v, const Where& where) {
  const Variant& d = v.Deref();
  if (!d.IsText()) Malformed(where.Text() + " is not a text");
  return d.ToText();
}

void CheckTag(const std::vector<Variant>& items, size_t count, int32_t tag, const char* kind) {
  if (items.size() != count || items[0].Deref().VType() != varInteger ||
      items[0].Deref().ToInt32() != tag)
    Malformed(std::string("not a ") + kind);
}

// An array of these values, moved in (an initializer list would copy each of them, and a
// copy of an array is a deep one).
template <class... V>
Variant MakeArray(V&&... values) {
  std::vector<Variant> items;
  items.reserve(sizeof...(V));
  (items.push_back(Variant(std::forward<V>(values))), ...);
  return Variant::Array(std::move(items));
}

Variant Row(std::vector<Variant> values) {
  return Variant::Array(std::move(values));
}

Variant EncodeColumns(const std::vector<PacketColumn>& columns) {
  std::vector<Variant> cols;
  cols.reserve(columns.size());
  for (const PacketColumn& c : columns) cols.push_back(EncodeColumn(c));
  return Variant::Array(std::move(cols));
}

std::vector<PacketColumn> DecodeColumns(const Variant& v) {
  const std::vector<Variant>& items = ArrayOf(v, {"the column list"});
  std::vector<PacketColumn> columns;
  columns.reserve(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    columns.push_back(DecodeColumn(items[i], static_cast<int>(i)));
    for (size_t j = 0; j < i; ++j)
      if (SameFieldName(columns[j].name, columns[i].name))
        Malformed(Format("column '%s' appears twice", {columns[i].name}));
  }
  return columns;
}

// Converts one value to its column's kind; errors name the row and the column.
void CoerceCell(const PacketColumn& c, Variant& v, int32_t row, const char* what) {
  try {
    CoerceFieldValue(c.type, c.size, v, c.name);
  } catch (const Exception& e) {
    throw EDatabaseError(
        Format("Invalid data packet: %s %d, column '%s': %s", {what, row, c.name, e.Message()}));
  }
}

std::vector<Variant> DecodeRowValues(const Variant& row, const std::vector<PacketColumn>& columns,
                                     int32_t index, const char* what) {
  const std::vector<Variant>& items = ArrayOf(row, {what, index});
  if (items.size() != columns.size())
    Malformed(Format("%s %d has %d values for %d columns",
                     {what, index, static_cast<long long>(items.size()),
                      static_cast<long long>(columns.size())}));
  std::vector<Variant> values(items.begin(), items.end());
  for (size_t c = 0; c < values.size(); ++c) CoerceCell(columns[c], values[c], index, what);
  return values;
}

}  // namespace

Variant EncodeColumn(const PacketColumn& c) {
  return MakeArray(Variant::Text(c.name), Variant(int32_t{c.type}), Variant(c.size),
                   Variant(c.required), Variant(static_cast<int32_t>(c.flags)));
}

PacketColumn DecodeColumn(const Variant& description, int index) {
  const Where what{"column", index};
  const std::vector<Variant>& d = ArrayOf(description, what);
  if (d.size() != 5) Malformed(what.Text() + " does not have five entries");
  PacketColumn c;
  c.name = TextOf(d[0], what.Part("name"));
  if (c.name.empty()) Malformed(what.Text() + " has no name");
  int32_t type = IntOf(d[1], what.Part("data type"));
  if (type < 0 || type >= kFieldTypeCount)
    Malformed(Format("column '%s' has an unknown data type %d", {c.name, type}));
  c.type = static_cast<FieldType>(type);
  c.size = IntOf(d[2], what.Part("size"));
  if (c.size < 0) Malformed(Format("column '%s' has a negative size", {c.name}));
  if (!IsSizedFieldType(c.type)) c.size = 0;
  if ((c.type == ftString || c.type == ftFixedChar || c.type == ftWideString ||
       c.type == ftFixedWideChar) &&
      (c.size < 1 || c.size > kMaxStringSize))
    Malformed(Format("column '%s' has an invalid size %d", {c.name, c.size}));
  c.required = BoolOf(d[3], what.Part("required flag"));
  c.flags = static_cast<ProviderFlags>(IntOf(d[4], what.Part("provider flags")));
  return c;
}

Variant EncodeDataPacket(const std::vector<PacketColumn>& columns,
                         std::vector<std::vector<Variant>> rows) {
  std::vector<Variant> packed;
  packed.reserve(rows.size());
  for (auto& r : rows) packed.push_back(Row(std::move(r)));
  return MakeArray(Variant(kDataPacketTag), EncodeColumns(columns),
                   Variant::Array(std::move(packed)));
}

DataPacket DecodeDataPacket(Variant&& packet) {
  std::vector<Variant>& items = MutableArrayOf(packet, {"the packet"});
  CheckTag(items, 3, kDataPacketTag, "data packet");
  DataPacket result;
  result.columns = DecodeColumns(items[1]);
  std::vector<Variant>& rows = MutableArrayOf(items[2], {"the row list"});
  const size_t width = result.columns.size();
  result.cells.reserve(rows.size() * width);
  for (size_t r = 0; r < rows.size(); ++r) {
    int32_t index = static_cast<int32_t>(r);
    std::vector<Variant>& values = MutableArrayOf(rows[r], {"row", index});
    if (values.size() != width)
      Malformed(
          Format("row %d has %d values for %d columns",
                 {index, static_cast<long long>(values.size()), static_cast<long long>(width)}));
    for (size_t c = 0; c < width; ++c) {
      Variant& v = values[c];
      CoerceCell(result.columns[c], v, index, "row");
      result.cells.push_back(std::move(v));
    }
  }
  result.row_count = static_cast<int32_t>(rows.size());
  return result;
}

Variant EncodeDeltaPacket(DeltaPacket&& delta) {
  std::vector<Variant> changes;
  changes.reserve(delta.changes.size());
  for (DeltaChange& ch : delta.changes) {
    Variant original = ch.kind == ukInsert ? Variant::Null() : Row(std::move(ch.original));
    Variant current = ch.kind == ukDelete ? Variant::Null() : Row(std::move(ch.current));
    changes.push_back(
        MakeArray(Variant(ch.id), Variant(int32_t{ch.kind}), std::move(original), std::move(current)));
  }
  return MakeArray(Variant(kDeltaPacketTag), EncodeColumns(delta.columns),
                   Variant::Array(std::move(changes)));
}

DeltaPacket DecodeDeltaPacket(const Variant& packet) {
  const std::vector<Variant>& items = ArrayOf(packet, {"the delta"});
  CheckTag(items, 3, kDeltaPacketTag, "delta packet");
  DeltaPacket delta;
  delta.columns = DecodeColumns(items[1]);
  const std::vector<Variant>& changes = ArrayOf(items[2], {"the change list"});
  std::unordered_set<int32_t> ids;
  delta.changes.reserve(changes.size());
  for (size_t i = 0; i < changes.size(); ++i) {
    const Where what{"change", static_cast<long long>(i)};
    const std::vector<Variant>& ch = ArrayOf(changes[i], what);
    if (ch.size() != 4) Malformed(what.Text() + " does not have four entries");
    DeltaChange out;
    out.id = IntOf(ch[0], what.Part("id"));
    if (!ids.insert(out.id).second) Malformed(Format("change id %d appears twice", {out.id}));
    int32_t kind = IntOf(ch[1], what.Part("kind"));
    if (kind < ukModify || kind > ukDelete)
      Malformed(Format("%s has an unknown kind %d", {what.Text(), kind}));
    out.kind = static_cast<UpdateKind>(kind);
    if (out.kind != ukInsert)
      out.original = DecodeRowValues(ch[2], delta.columns, out.id, "original of change");
    if (out.kind != ukDelete) out.current = DecodeRowValues(ch[3], delta.columns, out.id, "change");
    delta.changes.push_back(std::move(out));
  }
  return delta;
}

Variant EncodeApplyResult(const ApplyResult& result) {
  std::vector<Variant> refused;
  refused.reserve(result.refused.size());
  for (const RefusedChange& r : result.refused)
    refused.push_back(MakeArray(Variant(r.id), Variant::Text(r.message), Variant(r.error_code)));
  return MakeArray(Variant(kResultPacketTag), Variant(result.rolled_back),
                   Variant::Array(std::move(refused)));
}

ApplyResult DecodeApplyResult(const Variant& packet) {
  ApplyResult result;
  if (packet.Deref().IsEmptyOrNull()) return result;
  const std::vector<Variant>& items = ArrayOf(packet, {"the apply result"});
  CheckTag(items, 3, kResultPacketTag, "apply result");
  result.rolled_back = BoolOf(items[1], {"the rolled-back flag"});
  const std::vector<Variant>& refused = ArrayOf(items[2], {"the refused list"});
  result.refused.reserve(refused.size());
  for (size_t i = 0; i < refused.size(); ++i) {
    const Where what{"refused change", static_cast<long long>(i)};
    const std::vector<Variant>& r = ArrayOf(refused[i], what);
    if (r.size() != 3) Malformed(what.Text() + " does not have three entries");
    result.refused.push_back({IntOf(r[0], what.Part("id")), TextOf(r[1], what.Part("message")),
                              IntOf(r[2], what.Part("error code"))});
  }
  return result;
}

Variant EncodeParams(const Params& params) {
  if (params.Empty()) return Variant();
  std::vector<Variant> items;
  items.reserve(static_cast<size_t>(params.Count()));
  for (int i = 0; i < params.Count(); ++i) {
    const Param& p = params[i];
    items.push_back(MakeArray(Variant::Text(p.Name()), Variant(int32_t{p.DataType()}),
                              Variant(int32_t{p.GetParamType()}), p.Value()));
  }
  return Variant::Array(std::move(items));
}

void DecodeParams(const Variant& packet, Params& params) {
  Params decoded;
  if (!packet.Deref().IsEmptyOrNull()) {
    const std::vector<Variant>& items = ArrayOf(packet, {"the parameter list"});
    for (size_t i = 0; i < items.size(); ++i) {
      const Where what{"parameter", static_cast<long long>(i)};
      const std::vector<Variant>& p = ArrayOf(items[i], what);
      if (p.size() != 4) Malformed(what.Text() + " does not have four entries");
      int32_t type = IntOf(p[1], what.Part("data type"));
      if (type < 0 || type >= kFieldTypeCount)
        Malformed(Format("%s has an unknown data type %d", {what.Text(), type}));
      int32_t ptype = IntOf(p[2], what.Part("parameter type"));
      if (ptype < ptUnknown || ptype > ptResult)
        Malformed(Format("%s has an unknown parameter type %d", {what.Text(), ptype}));
      Param& out =
          decoded.CreateParam(static_cast<FieldType>(type), TextOf(p[0], what.Part("name")),
                              static_cast<ParamType>(ptype));
      const Variant& value = p[3].Deref();
      if (!value.IsEmpty()) out.SetValue(value);
    }
  }
  params = std::move(decoded);
}
