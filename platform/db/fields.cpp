#include "platform/db/fields.h"

#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/db/dataset.h"
#include "platform/rtl/codepage.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "platform/rtl/strutils.h"

namespace {

enum class Canon { Text, Wide, Int32, Int64, Bool, Double, Currency, Fmt, Date, Bytes, AsIs };

Canon CanonOf(FieldType t) {
  switch (t) {
    case ftString:
    case ftFixedChar:
    case ftMemo:
    case ftFmtMemo:
    case ftGuid:
      return Canon::Text;
    case ftWideString:
    case ftFixedWideChar:
    case ftWideMemo:
      return Canon::Wide;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return Canon::Int32;
    case ftLargeint:
      return Canon::Int64;
    case ftBoolean:
      return Canon::Bool;
    case ftFloat:
    case ftCurrency:
      return Canon::Double;
    case ftBCD:
      return Canon::Currency;
    case ftFMTBcd:
      return Canon::Fmt;
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftTimeStamp:
    case ftOraTimeStamp:
      return Canon::Date;
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
      return Canon::Bytes;
    default:
      return Canon::AsIs;
  }
}

// Texts of numbers without any locale: "%.15g" for floats, plain decimal for integers.
std::string FloatToText(double v) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
  return std::string(buf, r.ptr);
}

std::optional<double> ParseFloat(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double v = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
  return v;
}

std::string CurrencyToText(int64_t scaled) {
  bool neg = scaled < 0;
  uint64_t mag = neg ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string text = std::to_string(mag / 10000);
  if (uint64_t frac = mag % 10000; frac != 0) {
    char digits[5] = {
        static_cast<char>('0' + frac / 1000), static_cast<char>('0' + frac / 100 % 10),
        static_cast<char>('0' + frac / 10 % 10), static_cast<char>('0' + frac % 10), 0};
    std::string f = digits;
    while (f.back() == '0') f.pop_back();
    text += '.' + f;
  }
  return neg ? "-" + text : text;
}

[[noreturn]] void KindError(const Variant& v, FieldType type, std::string_view name) {
  throw EDatabaseError(Format("Field '%s' of type %s cannot take a value of type %s",
                              {name, FieldTypeName(type), Variant::TypeName(v.VType())}));
}

[[noreturn]] void RangeError(std::string_view value, std::string_view name, int64_t lo,
                             int64_t hi) {
  throw EDatabaseError(
      Format("%s is not a valid value for field '%s'. The allowed range is %d to %d",
             {value, name, static_cast<long long>(lo), static_cast<long long>(hi)}));
}

bool IsIntegerKind(uint16_t vt) {
  switch (vt) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varUInt64:
    case varBoolean:
      return true;
    default:
      return false;
  }
}

bool IsFloatKind(uint16_t vt) {
  return vt == varSingle || vt == varDouble || vt == varCurrency || vt == varDate ||
         vt == varSQLTimeStamp;
}

// The integer a value stands for (texts must be integers); errors name the field.
int64_t ToInteger(const Variant& v, FieldType type, std::string_view name, int64_t lo, int64_t hi) {
  uint16_t vt = v.VType();
  int64_t r = 0;
  if (IsIntegerKind(vt)) {
    if (vt == varBoolean) {
      r = v.ToBool() ? 1 : 0;
    } else if (vt == varUInt64) {
      try {
        r = v.ToInt64();
      } catch (const EVariantError&) {
        RangeError(v.ToText(), name, lo, hi);
      }
    } else {
      r = v.ToInt64();
    }
  } else if (IsFloatKind(vt)) {
    double d = v.ToDouble();
    if (!std::isfinite(d) || d < static_cast<double>(lo) - 0.5 || d > static_cast<double>(hi) + 0.5)
      RangeError(FloatToText(d), name, lo, hi);
    r = static_cast<int64_t>(std::llround(d));
  } else if (v.IsText() || vt == varFMTBcd) {
    std::string text = v.ToText();
    auto parsed = TryStrToInt64(Trim(text));
    if (!parsed) throw EConvertError("'" + text + "' is not a valid integer value");
    r = *parsed;
  } else {
    KindError(v, type, name);
  }
  if (r < lo || r > hi) RangeError(std::to_string(r), name, lo, hi);
  return r;
}

double ToFloat(const Variant& v, FieldType type, std::string_view name) {
  uint16_t vt = v.VType();
  if (IsIntegerKind(vt) || IsFloatKind(vt))
    return vt == varBoolean ? (v.ToBool() ? 1 : 0) : v.ToDouble();
  if (v.IsText() || vt == varFMTBcd) {
    std::string text = v.ToText();
    auto d = ParseFloat(text);
    if (!d) throw EConvertError("'" + text + "' is not a valid floating point value");
    return *d;
  }
  KindError(v, type, name);
}

std::string ToTextValue(const Variant& v, FieldType type, std::string_view name) {
  switch (v.VType()) {
    case varOleStr:
      return v.ToText();
    case varString:
    case varFMTBcd:
      return v.ToText();
    case varSingle:
    case varDouble:
      return FloatToText(v.ToDouble());
    case varCurrency:
      return CurrencyToText(v.ToCurrency());
    case varDate:
    case varSQLTimeStamp:
      return DateTimeToText(v.ToDouble());
    case varBoolean:
      return v.ToBool() ? "True" : "False";
    default:
      if (IsIntegerKind(v.VType())) return v.ToText();
      if (v.VType() == (varArray | varByte)) {
        std::string bytes;
        bytes.reserve(static_cast<size_t>(v.ArrayCount()));
        for (const Variant& b : v.Items()) bytes.push_back(static_cast<char>(b.ToInt32()));
        return Utf16ToUtf8(DecodeCodePage1251(bytes));
      }
      KindError(v, type, name);
  }
}

void CheckLength(size_t chars, int32_t size, std::string_view name) {
  if (size > 0 && chars > static_cast<size_t>(size))
    throw EDatabaseError(Format("Value too long for field '%s' (%d characters, at most %d)",
                                {name, static_cast<long long>(chars), size}));
}

Variant BytesVariant(std::string_view bytes) {
  std::vector<Variant> items;
  items.reserve(bytes.size());
  for (char c : bytes) items.push_back(Variant::Byte(static_cast<uint8_t>(c)));
  return Variant::Array(std::move(items), 0, varByte);
}

int Sign(double d) {
  return d < 0 ? -1 : d > 0 ? 1 : 0;
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

const char* FieldTypeName(int type) {
  static constexpr const char* kNames[kFieldTypeCount] = {
      "Unknown",    "String",     "SmallInt",      "Integer",     "Word",         "Boolean",
      "Float",      "Currency",   "BCD",           "Date",        "Time",         "DateTime",
      "Bytes",      "VarBytes",   "AutoInc",       "Blob",        "Memo",         "Graphic",
      "FmtMemo",    "ParadoxOle", "DBaseOle",      "TypedBinary", "Cursor",       "FixedChar",
      "WideString", "Largeint",   "ADT",           "Array",       "Reference",    "DataSet",
      "OraBlob",    "OraClob",    "Variant",       "Interface",   "IDispatch",    "Guid",
      "TimeStamp",  "FMTBcd",     "FixedWideChar", "WideMemo",    "OraTimeStamp", "OraInterval"};
  return type >= 0 && type < kFieldTypeCount ? kNames[type] : "Unknown";
}

bool IsSizedFieldType(FieldType type) {
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftFixedWideChar:
    case ftGuid:
    case ftBytes:
    case ftVarBytes:
    case ftBCD:
    case ftFMTBcd:
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftWideMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
      return true;
    default:
      return false;
  }
}

void CoerceFieldValue(FieldType type, int32_t size, Variant& v, std::string_view name) {
  if (v.IsByRef()) v = Variant(v.Deref());
  uint16_t vt = v.VType();
  if (vt == varEmpty) {
    v = Variant::Null();
    return;
  }
  if (vt == varNull) return;
  switch (CanonOf(type)) {
    case Canon::Text: {
      if (vt != varString) v = Variant::Ansi(ToTextValue(v, type, name));
      // A GUID may keep its braces whatever the size.
      int32_t limit = (type == ftGuid && size > 0 && size < 38) ? 38 : size;
      if (type != ftMemo && type != ftFmtMemo) CheckLength(Utf8Length(v.ToText()), limit, name);
      return;
    }
    case Canon::Wide: {
      if (vt != varOleStr) v = Variant::Text(ToTextValue(v, type, name));
      CheckLength(v.ToWide().length(), type == ftWideMemo ? 0 : size, name);
      return;
    }
    case Canon::Int32: {
      int64_t lo = INT32_MIN, hi = INT32_MAX;
      if (type == ftSmallint) lo = -32768, hi = 32767;
      if (type == ftWord) lo = 0, hi = 65535;
      if (vt == varInteger && type != ftSmallint && type != ftWord) return;
      v = Variant(static_cast<int32_t>(ToInteger(v, type, name, lo, hi)));
      return;
    }
    case Canon::Int64:
      if (vt != varInt64) v = Variant(ToInteger(v, type, name, INT64_MIN, INT64_MAX));
      return;
    case Canon::Bool:
      if (vt == varBoolean) return;
      if (v.IsText()) {
        std::string text(Trim(v.ToText()));
        if (SameTextAscii(text, "True") || text == "1")
          v = Variant(true);
        else if (SameTextAscii(text, "False") || text == "0")
          v = Variant(false);
        else
          throw EConvertError("'" + text + "' is not a valid boolean value");
        return;
      }
      if (IsIntegerKind(vt) || IsFloatKind(vt)) {
        v = Variant(v.ToDouble() != 0);
        return;
      }
      KindError(v, type, name);
    case Canon::Double:
      if (vt != varDouble) v = Variant(ToFloat(v, type, name));
      return;
    case Canon::Currency: {
      if (vt == varCurrency) return;
      double d = ToFloat(v, type, name);
      if (!std::isfinite(d) || std::fabs(d) >= 9.2e14)
        throw EDatabaseError(
            Format("%s is not a valid value for field '%s'", {FloatToText(d), name}));
      v = Variant::Currency(static_cast<int64_t>(std::llround(d * 10000.0)));
      return;
    }
    case Canon::Fmt:
      if (vt == varFMTBcd) return;
      if (v.IsText()) {
        std::string text(Trim(v.ToText()));
        if (!ParseFloat(text)) throw EConvertError("'" + text + "' is not a valid BCD value");
        v = Variant::FMTBcd(text);
      } else {
        v = Variant::FMTBcd(vt == varCurrency ? CurrencyToText(v.ToCurrency())
                                              : FloatToText(ToFloat(v, type, name)));
      }
      return;
    case Canon::Date: {
      double d = 0;
      if (v.IsText()) {
        std::string text = v.ToText();
        auto parsed = ParseDateTime(text);
        if (!parsed) throw EConvertError("'" + text + "' is not a valid date and time");
        d = *parsed;
      } else if (vt == varDate || vt == varSQLTimeStamp || vt == varDouble || vt == varSingle ||
                 (IsIntegerKind(vt) && vt != varBoolean)) {
        d = v.ToDouble();
        if (!std::isfinite(d) || std::fabs(d) > 2958466.0)
          throw EDatabaseError(
              Format("%s is not a valid date and time for field '%s'", {FloatToText(d), name}));
      } else {
        KindError(v, type, name);
      }
      if (type == ftDate) d = std::trunc(d);
      if (type == ftTime) {
        // The time of day, to the millisecond (the subtraction leaves noise below it).
        double ms = std::round(std::fabs(d - std::trunc(d)) * 86400000.0);
        d = ms >= 86400000.0 ? 0.0 : ms / 86400000.0;
      }
      if (vt != varDate || d != v.ToDouble()) v = Variant::Date(d);
      return;
    }
    case Canon::Bytes: {
      size_t count = 0;
      if (vt == (varArray | varByte)) {
        for (const Variant& b : v.Items())
          if (b.VType() != varByte) KindError(b, type, name);
        count = static_cast<size_t>(v.ArrayCount());
      } else if (v.IsArray()) {
        // An array of small integers is taken as bytes.
        std::vector<Variant> items;
        items.reserve(static_cast<size_t>(v.ArrayCount()));
        for (const Variant& b : v.Items()) {
          int64_t x = IsIntegerKind(b.VType()) ? b.ToInt64() : -1;
          if (x < 0 || x > 255) KindError(b, type, name);
          items.push_back(Variant::Byte(static_cast<uint8_t>(x)));
        }
        count = items.size();
        v = Variant::Array(std::move(items), 0, varByte);
      } else if (v.IsText()) {
        std::string bytes = EncodeCodePage1251(Utf8ToUtf16(v.ToText()));
        count = bytes.size();
        v = BytesVariant(bytes);
      } else {
        KindError(v, type, name);
      }
      if (type == ftBytes || type == ftVarBytes) CheckLength(count, size, name);
      return;
    }
    case Canon::AsIs:
      return;
  }
}

bool SameFieldName(std::string_view a, std::string_view b) {
  if (SameTextAscii(a, b)) return true;
  if (IsAscii(a) || IsAscii(b)) return false;  // only letters beyond ASCII fold further
  return UpperCase1251(a) == UpperCase1251(b);
}

int CompareFieldValues(const Variant& a, const Variant& b, bool case_insensitive) {
  bool an = a.IsEmptyOrNull(), bn = b.IsEmptyOrNull();
  if (an || bn) return an == bn ? 0 : an ? -1 : 1;
  uint16_t ta = a.VType(), tb = b.VType();
  if (a.IsText() && b.IsText()) {
    if (ta == varString && tb == varString && !case_insensitive) {
      // UTF-8 byte order is code point order.
      int c = a.ToText().compare(b.ToText());
      return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    std::string x = a.ToText(), y = b.ToText();
    if (case_insensitive) {
      x = UpperCase1251(x);
      y = UpperCase1251(y);
    }
    int c = x.compare(y);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  if (ta == varBoolean && tb == varBoolean) return int(a.ToBool()) - int(b.ToBool());
  if (ta == varCurrency && tb == varCurrency) {
    int64_t x = a.ToCurrency(), y = b.ToCurrency();
    return x < y ? -1 : x > y ? 1 : 0;
  }
  if ((ta == varInteger || ta == varInt64) && (tb == varInteger || tb == varInt64)) {
    int64_t x = a.ToInt64(), y = b.ToInt64();
    return x < y ? -1 : x > y ? 1 : 0;
  }
  if ((a.IsNumeric() || ta == varDate) && (b.IsNumeric() || tb == varDate))
    return Sign(a.ToDouble() - b.ToDouble());
  if (a == b) return 0;
  // Different kinds (variant fields, arrays): by text, then by kind.
  try {
    int c = a.ToText().compare(b.ToText());
    if (c != 0) return c < 0 ? -1 : 1;
  } catch (const Exception&) {
  }
  return ta < tb ? -1 : ta > tb ? 1 : 0;
}

// --- Field

Field::Field(Component* owner) : Component(owner) {}

Field::~Field() {
  if (dataset_) dataset_->RemoveField(this);
}

void Field::SetDataSet(DataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_) dataset_->CheckInactive();
  if (dataset) dataset->CheckInactive();
  if (dataset_) dataset_->RemoveField(this);
  if (dataset) dataset->AddField(this);
}

void Field::SetFieldName(std::string name) {
  if (dataset_) dataset_->CheckInactive();
  field_name_ = std::move(name);
}

void Field::SetSize(int32_t size) {
  if (size == size_) return;
  if (dataset_) dataset_->CheckInactive();
  CheckSize(size);
  size_ = size;
}

void Field::CheckSize(int32_t size) const {
  if (size < 0 || (size != 0 && !IsSizedFieldType(data_type_)))
    throw EDatabaseError("Invalid field size");
}

void Field::SetFieldKind(FieldKind kind) {
  if (dataset_) dataset_->CheckInactive();
  kind_ = kind;
}

const std::string& Field::DisplayLabel() const {
  return display_label_.empty() ? field_name_ : display_label_;
}

void Field::AccessError(const char* type_name) const {
  throw EDatabaseError(Format("Cannot access field '%s' as type %s", {DisplayName(), type_name}));
}

const Variant& Field::Value() const {
  if (!dataset_) throw EDatabaseError(Format("Field '%s' has no dataset", {DisplayName()}));
  return dataset_->FieldValue(index_);
}

bool Field::IsNull() const {
  return Value().IsEmptyOrNull();
}

void Field::Clear() {
  SetAsVariant(Variant::Null());
}

void Field::SetAsVariant(Variant v) {
  if (!dataset_) throw EDatabaseError(Format("Field '%s' has no dataset", {DisplayName()}));
  dataset_->SetFieldValue(*this, std::move(v));
}

std::string Field::GetAsString() const {
  const Variant& v = Value();
  if (v.IsEmptyOrNull()) return {};
  return ToTextValue(v, data_type_, field_name_);
}

void Field::SetAsStringValue(std::string_view text) {
  if (text.empty() && CanonOf(data_type_) != Canon::Text && CanonOf(data_type_) != Canon::Wide)
    SetAsVariant(Variant::Null());
  else
    SetAsVariant(Variant::Text(text));
}

std::string Field::GetText(bool) const {
  return GetAsString();
}

int32_t Field::AsInteger() const {
  int64_t v = AsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX)
    RangeError(std::to_string(v), field_name_, INT32_MIN, INT32_MAX);
  return static_cast<int32_t>(v);
}

int64_t Field::AsLargeInt() const {
  const Variant& v = Value();
  if (v.IsEmptyOrNull()) return 0;
  switch (CanonOf(data_type_)) {
    case Canon::Int32:
    case Canon::Int64:
    case Canon::Bool:
      return v.VType() == varBoolean ? (v.ToBool() ? 1 : 0) : v.ToInt64();
    case Canon::Double:
    case Canon::Currency:
    case Canon::Fmt:
    case Canon::Text:
    case Canon::Wide:
    case Canon::AsIs:
      if (v.IsArray() || v.VType() == varDispatch || v.VType() == varUnknown) break;
      return ToInteger(v, data_type_, field_name_, INT64_MIN, INT64_MAX);
    default:
      break;
  }
  AccessError("Integer");
}

double Field::AsFloat() const {
  const Variant& v = Value();
  if (v.IsEmptyOrNull()) return 0;
  switch (CanonOf(data_type_)) {
    case Canon::Bytes:
      AccessError("Float");
    default:
      if (v.IsArray() || v.VType() == varDispatch || v.VType() == varUnknown) AccessError("Float");
      return ToFloat(v, data_type_, field_name_);
  }
}

bool Field::AsBoolean() const {
  const Variant& v = Value();
  if (v.IsEmptyOrNull()) return false;
  Canon c = CanonOf(data_type_);
  if (c == Canon::Bool || c == Canon::Int32 || c == Canon::Int64 || c == Canon::Text ||
      c == Canon::Wide || (c == Canon::AsIs && !v.IsArray())) {
    Variant copy = v;
    CoerceFieldValue(ftBoolean, 0, copy, field_name_);
    return copy.ToBool();
  }
  AccessError("Boolean");
}

TDateTime Field::AsDateTime() const {
  const Variant& v = Value();
  if (v.IsEmptyOrNull()) return 0;
  Canon c = CanonOf(data_type_);
  if (c == Canon::Date || c == Canon::Text || c == Canon::Wide || c == Canon::Double ||
      (c == Canon::AsIs && !v.IsArray())) {
    Variant copy = v;
    CoerceFieldValue(ftDateTime, 0, copy, field_name_);
    return copy.ToDouble();
  }
  AccessError("DateTime");
}

// --- Field classes

StringField::StringField(Component* owner) : Field(owner) {
  SetDataType(ftString);
  if (Size() == 0) SetSizeUnchecked(20);
}

void StringField::CheckSize(int32_t size) const {
  if (size < 1 || size > kMaxStringSize) throw EDatabaseError("Invalid field size");
}

WideStringField::WideStringField(Component* owner) : StringField(owner) {
  SetDataType(ftWideString);
}

GuidField::GuidField(Component* owner) : StringField(owner) {
  SetDataType(ftGuid);
  SetSizeUnchecked(38);
}

void GuidField::CheckSize(int32_t size) const {
  if (size != 38) throw EDatabaseError("Invalid field size");
}

IntegerField::IntegerField(Component* owner) : NumericField(owner) {
  SetDataType(ftInteger);
}
SmallintField::SmallintField(Component* owner) : IntegerField(owner) {
  SetDataType(ftSmallint);
}
WordField::WordField(Component* owner) : IntegerField(owner) {
  SetDataType(ftWord);
}
AutoIncField::AutoIncField(Component* owner) : IntegerField(owner) {
  SetDataType(ftAutoInc);
  SetReadOnly(true);
}
LargeintField::LargeintField(Component* owner) : NumericField(owner) {
  SetDataType(ftLargeint);
}
FloatField::FloatField(Component* owner) : NumericField(owner) {
  SetDataType(ftFloat);
}
CurrencyField::CurrencyField(Component* owner) : FloatField(owner) {
  SetDataType(ftCurrency);
}

BCDField::BCDField(Component* owner) : NumericField(owner) {
  SetDataType(ftBCD);
  SetSizeUnchecked(4);
}

void BCDField::CheckSize(int32_t size) const {
  if (size < 0 || size > 4) throw EDatabaseError("Invalid field size");
}

BooleanField::BooleanField(Component* owner) : Field(owner) {
  SetDataType(ftBoolean);
}

DateTimeField::DateTimeField(Component* owner) : Field(owner) {
  SetDataType(ftDateTime);
}

std::string DateTimeField::GetAsString() const {
  const Variant& v = Value();
  return v.IsEmptyOrNull() ? std::string() : DateTimeToText(v.ToDouble());
}

DateField::DateField(Component* owner) : DateTimeField(owner) {
  SetDataType(ftDate);
}

std::string DateField::GetAsString() const {
  const Variant& v = Value();
  return v.IsEmptyOrNull() ? std::string() : FormatDateISO(v.ToDouble());
}

TimeField::TimeField(Component* owner) : DateTimeField(owner) {
  SetDataType(ftTime);
}

std::string TimeField::GetAsString() const {
  const Variant& v = Value();
  return v.IsEmptyOrNull() ? std::string() : FormatDateTimeISO(v.ToDouble()).substr(11);
}

std::string BinaryField::AsBytes() const {
  const Variant& v = Value();
  std::string bytes;
  if (v.IsEmptyOrNull()) return bytes;
  bytes.reserve(static_cast<size_t>(v.ArrayCount()));
  for (const Variant& b : v.Items()) bytes.push_back(static_cast<char>(b.ToInt32()));
  return bytes;
}

void BinaryField::SetAsBytes(std::string_view bytes) {
  SetAsVariant(BytesVariant(bytes));
}

std::string BinaryField::GetAsString() const {
  return Utf16ToUtf8(DecodeCodePage1251(AsBytes()));
}

void BinaryField::SetAsStringValue(std::string_view text) {
  SetAsBytes(EncodeCodePage1251(Utf8ToUtf16(text)));
}

BytesField::BytesField(Component* owner) : BinaryField(owner) {
  SetDataType(ftBytes);
  SetSizeUnchecked(16);
}
VarBytesField::VarBytesField(Component* owner) : BytesField(owner) {
  SetDataType(ftVarBytes);
}
BlobField::BlobField(Component* owner) : BinaryField(owner) {
  SetDataType(ftBlob);
}
GraphicField::GraphicField(Component* owner) : BlobField(owner) {
  SetDataType(ftGraphic);
}
MemoField::MemoField(Component* owner) : Field(owner) {
  SetDataType(ftMemo);
}
VariantField::VariantField(Component* owner) : Field(owner) {
  SetDataType(ftVariant);
}

// --- Default classes

namespace {
Field* NewFixedChar(Component* owner) {
  auto* f = new StringField(owner);
  f->SetFixedChar(true);
  return f;
}

struct FieldRegistry {
  std::array<std::atomic<FieldFactory>, 128> slots{};
  FieldRegistry() {
    auto set = [this](FieldType t, FieldFactory f) { slots[t].store(f); };
    set(ftString, &NewField<StringField>);
    set(ftFixedChar, &NewFixedChar);
    set(ftSmallint, &NewField<SmallintField>);
    set(ftInteger, &NewField<IntegerField>);
    set(ftWord, &NewField<WordField>);
    set(ftBoolean, &NewField<BooleanField>);
    set(ftFloat, &NewField<FloatField>);
    set(ftCurrency, &NewField<CurrencyField>);
    set(ftBCD, &NewField<BCDField>);
    set(ftDate, &NewField<DateField>);
    set(ftTime, &NewField<TimeField>);
    set(ftDateTime, &NewField<DateTimeField>);
    set(ftBytes, &NewField<BytesField>);
    set(ftVarBytes, &NewField<VarBytesField>);
    set(ftAutoInc, &NewField<AutoIncField>);
    set(ftBlob, &NewField<BlobField>);
    set(ftMemo, &NewField<MemoField>);
    set(ftGraphic, &NewField<GraphicField>);
    set(ftWideString, &NewField<WideStringField>);
    set(ftLargeint, &NewField<LargeintField>);
    set(ftVariant, &NewField<VariantField>);
    set(ftGuid, &NewField<GuidField>);
  }
};

std::array<std::atomic<FieldFactory>, 128>& Registry() {
  static FieldRegistry registry;
  return registry.slots;
}
}  // namespace

FieldFactory DefaultFieldClass(int data_type) {
  return Registry()[static_cast<size_t>(data_type & 0x7F)].load(std::memory_order_acquire);
}

FieldFactory SetDefaultFieldClass(FieldType type, FieldFactory factory) {
  return Registry()[static_cast<size_t>(type & 0x7F)].exchange(factory, std::memory_order_acq_rel);
}
