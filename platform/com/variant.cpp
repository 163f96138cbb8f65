#include "platform/com/variant.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/com/dispatch.h"
#include "platform/rtl/codepage.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/strutils.h"

namespace {
// The shortest text of the value's own precision: 15 significant digits for a double,
// 7 for a single (whose widened value would otherwise show noise digits: 0.1 as
// 0.100000001490116).
std::string FloatText(double v, int digits) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.*g", digits, v);
  return buf;
}

std::string CurrencyText(int64_t scaled) {
  bool neg = scaled < 0;
  uint64_t mag = neg ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string text = std::to_string(mag / 10000);
  uint64_t frac = mag % 10000;
  if (frac != 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, ".%04llu", static_cast<unsigned long long>(frac));
    std::string f(buf);
    while (f.back() == '0') f.pop_back();
    text += f;
  }
  return neg ? "-" + text : text;
}
}  // namespace

Variant::Variant(const ComPtr<IDispatch>& v)
    : vt_(varDispatch), data_(ComPtr<IUnknown>(static_cast<IUnknown*>(v.Get()))) {}
Variant::Variant(const ComPtr<IUnknown>& v) : vt_(varUnknown), data_(v) {}
Variant::Variant(const char* utf8) : vt_(varOleStr), data_(Utf8ToUtf16(utf8 ? utf8 : "")) {}

Variant::~Variant() = default;

Variant::Variant(const Variant& o) : vt_(o.vt_) {
  if (auto* a = std::get_if<std::unique_ptr<ArrayData>>(&o.data_))
    data_ = std::make_unique<ArrayData>(**a);
  else if (auto* i = std::get_if<int64_t>(&o.data_))
    data_ = *i;
  else if (auto* u = std::get_if<uint64_t>(&o.data_))
    data_ = *u;
  else if (auto* d = std::get_if<double>(&o.data_))
    data_ = *d;
  else if (auto* w = std::get_if<std::u16string>(&o.data_))
    data_ = *w;
  else if (auto* s = std::get_if<std::string>(&o.data_))
    data_ = *s;
  else if (auto* p = std::get_if<ComPtr<IUnknown>>(&o.data_))
    data_ = *p;
  else if (auto* r = std::get_if<Variant*>(&o.data_))
    data_ = *r;
}

Variant& Variant::operator=(const Variant& o) {
  if (this != &o) {
    Variant copy(o);
    *this = std::move(copy);
  }
  return *this;
}

Variant Variant::Null() { return Variant(varNull, std::monostate{}); }
Variant Variant::Smallint(int16_t v) { return Variant(varSmallint, int64_t{v}); }
Variant Variant::ShortInt(int8_t v) { return Variant(varShortInt, int64_t{v}); }
Variant Variant::Byte(uint8_t v) { return Variant(varByte, int64_t{v}); }
Variant Variant::Word(uint16_t v) { return Variant(varWord, int64_t{v}); }
Variant Variant::LongWord(uint32_t v) { return Variant(varLongWord, int64_t{v}); }
Variant Variant::UInt64(uint64_t v) { return Variant(varUInt64, v); }
Variant Variant::Single(float v) { return Variant(varSingle, static_cast<double>(v)); }
Variant Variant::Currency(int64_t scaled) { return Variant(varCurrency, scaled); }
Variant Variant::Date(double d) { return Variant(varDate, d); }
Variant Variant::SQLTimeStamp(double d) { return Variant(varSQLTimeStamp, d); }
Variant Variant::FMTBcd(std::string text) { return Variant(varFMTBcd, std::move(text)); }
Variant Variant::Error(int32_t code) { return Variant(varError, int64_t{code}); }
Variant Variant::Ansi(std::string utf8) { return Variant(varString, ToCodePage1251(utf8)); }
Variant Variant::Text(std::string_view utf8) { return Variant(varOleStr, Utf8ToUtf16(utf8)); }

Variant Variant::Array(std::vector<Variant> items, int32_t low, uint16_t element) {
  // The high bound must be a 32-bit integer too.
  if (int64_t{low} + static_cast<int64_t>(items.size()) - 1 > INT32_MAX)
    throw EVariantError("Variant array bounds out of range");
  auto a = std::make_unique<ArrayData>();
  a->low = low;
  a->element = element;
  a->items = std::move(items);
  return Variant(static_cast<uint16_t>(varArray | element), std::move(a));
}

Variant Variant::ByRef(Variant* target) {
  return Variant(static_cast<uint16_t>(varByRef | varVariant), target);
}

void Variant::Clear() noexcept {
  vt_ = varEmpty;
  data_ = std::monostate{};
}

bool Variant::IsNumeric() const noexcept {
  switch (vt_) {
    case varSmallint: case varInteger: case varSingle: case varDouble: case varCurrency:
    case varShortInt: case varByte: case varWord: case varLongWord: case varInt64:
    case varUInt64: case varBoolean:
      return true;
    default:
      return false;
  }
}

const Variant& Variant::Deref() const noexcept {
  const Variant* v = this;
  while (v->IsByRef()) v = std::get<Variant*>(v->data_);
  return *v;
}

Variant& Variant::Deref() noexcept {
  Variant* v = this;
  while (v->IsByRef()) v = std::get<Variant*>(v->data_);
  return *v;
}

std::string Variant::TypeName(uint16_t vt) {
  std::string name;
  switch (vt & varTypeMask) {
    case varEmpty: name = "Empty"; break;
    case varNull: name = "Null"; break;
    case varSmallint: name = "Smallint"; break;
    case varInteger: name = "Integer"; break;
    case varSingle: name = "Single"; break;
    case varDouble: name = "Double"; break;
    case varCurrency: name = "Currency"; break;
    case varDate: name = "Date"; break;
    case varOleStr: name = "OleStr"; break;
    case varDispatch: name = "Dispatch"; break;
    case varError: name = "Error"; break;
    case varBoolean: name = "Boolean"; break;
    case varVariant: name = "Variant"; break;
    case varUnknown: name = "Unknown"; break;
    case varShortInt: name = "ShortInt"; break;
    case varByte: name = "Byte"; break;
    case varWord: name = "Word"; break;
    case varLongWord: name = "LongWord"; break;
    case varInt64: name = "Int64"; break;
    case varUInt64: name = "UInt64"; break;
    case varString: name = "String"; break;
    case varSQLTimeStamp: name = "SQLTimeStamp"; break;
    case varFMTBcd: name = "FMTBcd"; break;
    default: name = "Unknown type"; break;
  }
  if (vt & varArray) name = "Array " + name;
  if (vt & varByRef) name = "ByRef " + name;
  return name;
}

void Variant::CastError(uint16_t to) const {
  throw EVariantTypeCastError("Could not convert variant of type (" + TypeName(vt_) +
                              ") into type (" + TypeName(to) + ")");
}

std::string Variant::ToText() const {
  const Variant& v = Deref();
  switch (v.vt_) {
    case varEmpty:
    case varNull:
      if (v.vt_ == varNull) v.CastError(varOleStr);
      return {};
    case varSmallint: case varInteger: case varShortInt: case varByte: case varWord:
    case varLongWord: case varInt64: case varError:
      return std::to_string(std::get<int64_t>(v.data_));
    case varUInt64:
      return std::to_string(std::get<uint64_t>(v.data_));
    case varSingle:
      return FloatText(std::get<double>(v.data_), 7);
    case varDouble:
      return FloatText(std::get<double>(v.data_), 15);
    case varCurrency:
      return CurrencyText(std::get<int64_t>(v.data_));
    case varDate: case varSQLTimeStamp:
      return DateTimeToText(std::get<double>(v.data_));
    case varBoolean:
      return std::get<int64_t>(v.data_) ? "True" : "False";
    case varOleStr:
      return Utf16ToUtf8(std::get<std::u16string>(v.data_));
    case varString: case varFMTBcd:
      return std::get<std::string>(v.data_);
    default:
      v.CastError(varOleStr);
  }
}

WideString Variant::ToWide() const {
  const Variant& v = Deref();
  if (v.vt_ == varOleStr) return WideString(std::get<std::u16string>(v.data_));
  return WideString::FromUtf8(v.ToText());
}

int64_t Variant::ToInt64() const { return ToInteger(varInt64); }

// `to` names the type the caller asked for in the error message.
int64_t Variant::ToInteger(uint16_t to) const {
  const Variant& v = Deref();
  switch (v.vt_) {
    case varEmpty: return 0;
    case varSmallint: case varInteger: case varShortInt: case varByte: case varWord:
    case varLongWord: case varInt64: case varError:
      return std::get<int64_t>(v.data_);
    case varUInt64: {
      uint64_t u = std::get<uint64_t>(v.data_);
      if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) v.CastError(to);
      return static_cast<int64_t>(u);
    }
    case varBoolean: return std::get<int64_t>(v.data_) ? -1 : 0;
    case varCurrency: {
      int64_t c = std::get<int64_t>(v.data_);
      return static_cast<int64_t>(std::llround(static_cast<double>(c) / 10000.0));
    }
    case varSingle: case varDouble: case varDate: case varSQLTimeStamp: {
      double d = std::get<double>(v.data_);
      if (!(d > -9.3e18 && d < 9.3e18)) v.CastError(to);
      return static_cast<int64_t>(std::llround(d));
    }
    case varOleStr: case varString: case varFMTBcd: {
      std::string t = v.ToText();
      if (auto i = TryStrToInt64(t)) return *i;
      if (auto d = TryStrToFloat(t); d && *d > -9.3e18 && *d < 9.3e18)
        return static_cast<int64_t>(std::llround(*d));
      v.CastError(to);
    }
    default:
      v.CastError(to);
  }
}

int32_t Variant::ToInt32() const {
  int64_t v = ToInteger(varInteger);
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    Deref().CastError(varInteger);
  return static_cast<int32_t>(v);
}

double Variant::ToDouble() const {
  const Variant& v = Deref();
  switch (v.vt_) {
    case varEmpty: return 0;
    case varSingle: case varDouble: case varDate: case varSQLTimeStamp:
      return std::get<double>(v.data_);
    case varCurrency:
      return static_cast<double>(std::get<int64_t>(v.data_)) / 10000.0;
    case varUInt64:
      return static_cast<double>(std::get<uint64_t>(v.data_));
    case varSmallint: case varInteger: case varShortInt: case varByte: case varWord:
    case varLongWord: case varInt64: case varBoolean: case varError:
      return static_cast<double>(v.ToInt64());
    case varOleStr: case varString: case varFMTBcd: {
      if (auto d = TryStrToFloat(v.ToText())) return *d;
      v.CastError(varDouble);
    }
    default:
      v.CastError(varDouble);
  }
}

bool Variant::ToBool() const {
  const Variant& v = Deref();
  switch (v.vt_) {
    case varEmpty: return false;
    case varBoolean: return std::get<int64_t>(v.data_) != 0;
    case varOleStr: case varString: {
      std::string t(Trim(v.ToText()));
      if (SameTextAscii(t, "True")) return true;
      if (SameTextAscii(t, "False")) return false;
      if (auto d = TryStrToFloat(t)) return *d != 0;
      v.CastError(varBoolean);
    }
    default:
      if (v.IsNumeric() || v.vt_ == varDate) return v.ToDouble() != 0;
      v.CastError(varBoolean);
  }
}

double Variant::ToDate() const {
  const Variant& v = Deref();
  switch (v.vt_) {
    case varOleStr: case varString: {
      if (auto d = ParseDateTime(v.ToText())) return *d;
      v.CastError(varDate);
    }
    case varNull: case varDispatch: case varUnknown:
      v.CastError(varDate);
    default:
      if (v.IsArray()) v.CastError(varDate);
      return v.ToDouble();
  }
}

int64_t Variant::ToCurrency() const {
  const Variant& v = Deref();
  if (v.vt_ == varCurrency) return std::get<int64_t>(v.data_);
  double d = v.ToDouble();
  if (!(d > -9.2e14 && d < 9.2e14)) v.CastError(varCurrency);
  return static_cast<int64_t>(std::llround(d * 10000.0));
}

ComPtr<IUnknown> Variant::ToUnknown() const {
  const Variant& v = Deref();
  if (v.vt_ == varEmpty || v.vt_ == varNull) return {};
  if (v.vt_ == varUnknown || v.vt_ == varDispatch) return std::get<ComPtr<IUnknown>>(v.data_);
  v.CastError(varUnknown);
}

ComPtr<IDispatch> Variant::ToDispatch() const {
  const Variant& v = Deref();
  if (v.vt_ == varEmpty || v.vt_ == varNull) return {};
  if (v.vt_ == varDispatch)
    return ComPtr<IDispatch>(static_cast<IDispatch*>(std::get<ComPtr<IUnknown>>(v.data_).Get()));
  if (v.vt_ == varUnknown) {
    const auto& unk = std::get<ComPtr<IUnknown>>(v.data_);
    if (!unk) return {};
    ComPtr<IDispatch> d;
    if (FAILED(unk->QueryInterface(IDispatch::iid, d.PutVoid()))) v.CastError(varDispatch);
    return d;
  }
  v.CastError(varDispatch);
}

const Variant::ArrayData& Variant::Arr() const {
  const Variant& v = Deref();
  if (!v.IsArray()) throw EVariantError("Variant is not an array");
  return *std::get<std::unique_ptr<ArrayData>>(v.data_);
}

Variant::ArrayData& Variant::Arr() {
  Variant& v = Deref();
  if (!v.IsArray()) throw EVariantError("Variant is not an array");
  return *std::get<std::unique_ptr<ArrayData>>(v.data_);
}

int32_t Variant::ArrayLow() const { return Arr().low; }
int32_t Variant::ArrayHigh() const { return Arr().low + ArrayCount() - 1; }
int32_t Variant::ArrayCount() const { return static_cast<int32_t>(Arr().items.size()); }
uint16_t Variant::ArrayElementType() const { return Arr().element; }
const std::vector<Variant>& Variant::Items() const { return Arr().items; }
std::vector<Variant>& Variant::Items() { return Arr().items; }

const Variant& Variant::At(int32_t index) const {
  const ArrayData& a = Arr();
  int64_t pos = int64_t{index} - a.low;
  if (pos < 0 || pos >= static_cast<int64_t>(a.items.size()))
    throw EVariantError("Variant or safe array index out of bounds");
  return a.items[static_cast<size_t>(pos)];
}

Variant& Variant::At(int32_t index) {
  return const_cast<Variant&>(static_cast<const Variant*>(this)->At(index));
}

bool operator==(const Variant& x, const Variant& y) {
  const Variant& a = x.Deref();
  const Variant& b = y.Deref();
  if (a.vt_ != b.vt_) return false;
  if (a.IsArray()) {
    const auto& aa = a.Arr();
    const auto& ba = b.Arr();
    return aa.low == ba.low && aa.items == ba.items;
  }
  if (a.vt_ == varUnknown || a.vt_ == varDispatch)
    return SameObject(std::get<ComPtr<IUnknown>>(a.data_).Get(),
                      std::get<ComPtr<IUnknown>>(b.data_).Get());
  return a.data_ == b.data_;
}
