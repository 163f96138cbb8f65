// The data-packet, delta, apply-result and parameter decoders, fed arbitrary Variant
// structures (and, more often, structures shaped like packets with arbitrary parts).
//
// Holds: a decoder either raises one of the platform's errors or answers a result that
// encodes and decodes back to itself (values already in their column's kind stay as they
// are); the parameter decoder leaves its list unchanged when it fails.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/db/packet.h"
#include "platform/rtl/exceptions.h"

namespace {

class Builder {
 public:
  explicit Builder(FuzzedDataProvider& in) : in_(in) {}

  Variant Any(int depth = 0) {
    switch (in_.ConsumeIntegralInRange(0, depth < 3 ? 22 : 20)) {
      case 0:
        return Variant();
      case 1:
        return Variant::Null();
      case 2:
        return Variant::Smallint(in_.ConsumeIntegral<int16_t>());
      case 3:
        return Variant(in_.ConsumeIntegral<int32_t>());
      case 4:
        return Variant::Single(static_cast<float>(Double()));
      case 5:
        return Variant(Double());
      case 6:
        return Variant::Currency(in_.ConsumeIntegral<int64_t>());
      case 7:
        return Variant::Date(Double());
      case 8:
        return Variant::Text(Text());
      case 9:
        return Variant::Error(in_.ConsumeIntegral<int32_t>());
      case 10:
        return Variant(in_.ConsumeBool());
      case 11:
        return Variant::ShortInt(in_.ConsumeIntegral<int8_t>());
      case 12:
        return Variant::Byte(in_.ConsumeIntegral<uint8_t>());
      case 13:
        return Variant::Word(in_.ConsumeIntegral<uint16_t>());
      case 14:
        return Variant::LongWord(in_.ConsumeIntegral<uint32_t>());
      case 15:
        return Variant(in_.ConsumeIntegral<int64_t>());
      case 16:
        return Variant::UInt64(in_.ConsumeIntegral<uint64_t>());
      case 17:
        return Variant::Ansi(Text());
      case 18:
        return Variant::FMTBcd(Text());
      case 19:
        return Variant::SQLTimeStamp(Double());
      case 20:
        return Variant::Date(Double());
      case 21: {
        std::vector<Variant> items(in_.ConsumeIntegralInRange<size_t>(0, 6));
        for (Variant& v : items) v = Any(depth + 1);
        const int32_t low =
            in_.ConsumeBool() ? 0 : in_.ConsumeIntegralInRange<int32_t>(INT32_MIN, INT32_MAX - 6);
        return Variant::Array(std::move(items), low);
      }
      default: {
        // A by-reference value; its target lives as long as the builder.
        pool_.push_back(Any(depth + 1));
        return Variant::ByRef(&pool_.back());
      }
    }
  }

  // A column description, now and then with an arbitrary part.
  Variant Column() {
    if (Rare()) return Any();
    static const char* const kNames[] = {"A", "b", "G33", "g33", "ИМЯ", "имя", ""};
    Variant name = in_.ConsumeBool()
                       ? Variant::Text(kNames[in_.ConsumeIntegralInRange<size_t>(0, 6)])
                       : Variant::Text(Text());
    Variant type(in_.ConsumeBool() ? in_.ConsumeIntegralInRange<int32_t>(0, kFieldTypeCount - 1)
                                   : in_.ConsumeIntegral<int32_t>());
    Variant size(in_.ConsumeBool() ? in_.ConsumeIntegralInRange<int32_t>(0, 40)
                                   : in_.ConsumeIntegral<int32_t>());
    Variant required(in_.ConsumeBool());
    Variant flags(in_.ConsumeIntegralInRange<int32_t>(0, 15));
    std::vector<Variant> parts{name, type, size, required, flags};
    for (Variant& p : parts)
      if (Rare()) p = Any();
    if (Rare()) parts.push_back(Any());
    return Variant::Array(std::move(parts));
  }

  Variant Row(size_t width) {
    if (Rare()) return Any();
    std::vector<Variant> cells(Rare() ? in_.ConsumeIntegralInRange<size_t>(0, 6) : width);
    for (Variant& c : cells) c = Any(1);
    return Variant::Array(std::move(cells));
  }

  Variant Tagged(int32_t tag, Variant second, Variant third) {
    return Variant::Array({Variant(Rare() ? in_.ConsumeIntegral<int32_t>() : tag),
                           std::move(second), std::move(third)});
  }

  Variant DataPacket() {
    const size_t width = in_.ConsumeIntegralInRange<size_t>(0, 5);
    std::vector<Variant> cols(width), rows(in_.ConsumeIntegralInRange<size_t>(0, 6));
    for (Variant& c : cols) c = Column();
    for (Variant& r : rows) r = Row(width);
    return Tagged(kDataPacketTag, Variant::Array(std::move(cols)), Variant::Array(std::move(rows)));
  }

  Variant Delta() {
    const size_t width = in_.ConsumeIntegralInRange<size_t>(0, 5);
    std::vector<Variant> cols(width), changes(in_.ConsumeIntegralInRange<size_t>(0, 5));
    for (Variant& c : cols) c = Column();
    for (Variant& ch : changes) {
      const int32_t kind = in_.ConsumeIntegralInRange<int32_t>(-1, 3);
      ch = Variant::Array({Variant(in_.ConsumeIntegralInRange<int32_t>(0, 4)), Variant(kind),
                           kind == ukInsert && !Rare() ? Variant::Null() : Row(width),
                           kind == ukDelete && !Rare() ? Variant::Null() : Row(width)});
    }
    return Tagged(kDeltaPacketTag, Variant::Array(std::move(cols)),
                  Variant::Array(std::move(changes)));
  }

  Variant Result() {
    std::vector<Variant> refused(in_.ConsumeIntegralInRange<size_t>(0, 4));
    for (Variant& r : refused)
      r = Rare() ? Any()
                 : Variant::Array({Variant(in_.ConsumeIntegral<int32_t>()), Variant::Text(Text()),
                                   Variant(in_.ConsumeIntegral<int32_t>())});
    return Tagged(kResultPacketTag, Rare() ? Any() : Variant(in_.ConsumeBool()),
                  Variant::Array(std::move(refused)));
  }

  Variant ParamList() {
    std::vector<Variant> items(in_.ConsumeIntegralInRange<size_t>(0, 5));
    for (Variant& p : items)
      p = Rare()
              ? Any()
              : Variant::Array({Variant::Text(Text()),
                                Variant(in_.ConsumeIntegralInRange<int32_t>(-1, kFieldTypeCount)),
                                Variant(in_.ConsumeIntegralInRange<int32_t>(-1, 5)), Any(1)});
    return Variant::Array(std::move(items));
  }

 private:
  bool Rare() { return in_.ConsumeIntegralInRange(0, 15) == 0; }
  double Double() {
    if (in_.ConsumeBool()) return in_.ConsumeIntegralInRange(-1000, 100000) / 8.0;
    const uint64_t bits = in_.ConsumeIntegral<uint64_t>();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  std::string Text() { return in_.ConsumeRandomLengthString(24); }

  FuzzedDataProvider& in_;
  std::deque<Variant> pool_;
};

bool SameColumns(const std::vector<PacketColumn>& a, const std::vector<PacketColumn>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].size != b[i].size ||
        a[i].required != b[i].required || a[i].flags != b[i].flags)
      return false;
  return true;
}

bool SameValues(const std::vector<Variant>& a, const std::vector<Variant>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!SameVariant(a[i], b[i])) return false;
  return true;
}

// Runs a decoder: its own errors are answers, anything else escapes and fails the run.
template <class F>
bool Decodes(F&& decode) {
  try {
    decode();
    return true;
  } catch (const Exception&) {
    return false;
  }
}

void CheckData(const Variant& packet) {
  DataPacket first;
  if (!Decodes([&] { first = DecodeDataPacket(Variant(packet)); })) return;
  const size_t width = first.columns.size();
  FUZZ_CHECK(first.cells.size() == static_cast<size_t>(first.row_count) * width);
  std::vector<std::vector<Variant>> rows(static_cast<size_t>(first.row_count));
  for (size_t r = 0; r < rows.size(); ++r)
    rows[r].assign(first.cells.begin() + static_cast<std::ptrdiff_t>(r * width),
                   first.cells.begin() + static_cast<std::ptrdiff_t>((r + 1) * width));
  DataPacket second = DecodeDataPacket(EncodeDataPacket(first.columns, std::move(rows)));
  FUZZ_CHECK(SameColumns(first.columns, second.columns));
  FUZZ_CHECK(first.row_count == second.row_count);
  FUZZ_CHECK(SameValues(first.cells, second.cells));
}

void CheckDelta(const Variant& packet) {
  DeltaPacket first;
  if (!Decodes([&] { first = DecodeDeltaPacket(packet); })) return;
  DeltaPacket copy = first;
  DeltaPacket second = DecodeDeltaPacket(EncodeDeltaPacket(std::move(copy)));
  FUZZ_CHECK(SameColumns(first.columns, second.columns));
  FUZZ_CHECK(first.changes.size() == second.changes.size());
  for (size_t i = 0; i < first.changes.size(); ++i) {
    const DeltaChange& a = first.changes[i];
    const DeltaChange& b = second.changes[i];
    FUZZ_CHECK(a.id == b.id && a.kind == b.kind);
    FUZZ_CHECK(SameValues(a.original, b.original) && SameValues(a.current, b.current));
    if (!first.columns.empty()) {
      FUZZ_CHECK(a.original.empty() == (a.kind == ukInsert));
      FUZZ_CHECK(a.current.empty() == (a.kind == ukDelete));
    }
  }
}

void CheckResult(const Variant& packet) {
  ApplyResult first;
  if (!Decodes([&] { first = DecodeApplyResult(packet); })) return;
  ApplyResult second = DecodeApplyResult(EncodeApplyResult(first));
  FUZZ_CHECK(first.rolled_back == second.rolled_back);
  FUZZ_CHECK(first.refused.size() == second.refused.size());
  for (size_t i = 0; i < first.refused.size(); ++i)
    FUZZ_CHECK(first.refused[i].id == second.refused[i].id &&
               first.refused[i].message == second.refused[i].message &&
               first.refused[i].error_code == second.refused[i].error_code);
}

void CheckParams(const Variant& packet) {
  Params first;
  first.Add("kept").SetAsInteger(7);
  if (!Decodes([&] { DecodeParams(packet, first); })) {
    FUZZ_CHECK(first.Count() == 1 && first[0].Name() == "kept" && first[0].AsInteger() == 7);
    return;
  }
  Params second;
  DecodeParams(EncodeParams(first), second);
  FUZZ_CHECK(first.Count() == second.Count());
  for (int i = 0; i < first.Count(); ++i) {
    FUZZ_CHECK(first[i].Name() == second[i].Name());
    FUZZ_CHECK(first[i].DataType() == second[i].DataType());
    FUZZ_CHECK(first[i].GetParamType() == second[i].GetParamType());
    FUZZ_CHECK(SameVariant(first[i].Value(), second[i].Value()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Builder build(in);
  Variant packet;
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0:
      packet = build.Any();
      break;
    case 1:
      packet = build.DataPacket();
      break;
    case 2:
      packet = build.Delta();
      break;
    case 3:
      packet = build.Result();
      break;
    default:
      packet = build.ParamList();
      break;
  }
  CheckData(packet);
  CheckDelta(packet);
  CheckResult(packet);
  CheckParams(packet);
  return 0;
}
