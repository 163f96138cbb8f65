#include "platform/db/params.h"

#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"
#include "platform/rtl/strutils.h"

namespace {
FieldType TypeOfValue(uint16_t vt) {
  switch (vt) {
    case varShortInt:
    case varByte:
    case varSmallint:
      return ftSmallint;
    case varInteger:
    case varWord:
      return ftInteger;
    case varSingle:
    case varDouble:
    case varLongWord:
      return ftFloat;
    case varCurrency:
      return ftBCD;
    case varDate:
      return ftDateTime;
    case varString:
    case varOleStr:
      return ftString;
    case varBoolean:
      return ftBoolean;
    case varInt64:
    case varUInt64:
      return ftLargeint;
    case varSQLTimeStamp:
      return ftTimeStamp;
    case varFMTBcd:
      return ftFMTBcd;
    default:
      return ftUnknown;
  }
}

}  // namespace

void Param::SetValue(Variant v) {
  if (v.IsByRef()) v = Variant(v.Deref());
  bound_ = !v.IsEmpty();
  if (data_type_ == ftUnknown) data_type_ = TypeOfValue(v.VType());
  value_ = std::move(v);
}

void Param::SetAsBlob(std::string_view bytes) {
  std::vector<Variant> items;
  items.reserve(bytes.size());
  for (char c : bytes) items.push_back(Variant::Byte(static_cast<uint8_t>(c)));
  data_type_ = ftBlob;
  SetValue(Variant::Array(std::move(items), 0, varByte));
}

std::string Param::AsString() const {
  return IsNull() ? std::string() : value_.ToText();
}
int32_t Param::AsInteger() const {
  return IsNull() ? 0 : value_.ToInt32();
}
int64_t Param::AsLargeInt() const {
  return IsNull() ? 0 : value_.ToInt64();
}
double Param::AsFloat() const {
  return IsNull() ? 0 : value_.ToDouble();
}
bool Param::AsBoolean() const {
  return IsNull() ? false : value_.ToBool();
}
TDateTime Param::AsDateTime() const {
  return IsNull() ? 0 : value_.ToDate();
}

void Param::AssignValue(const Param& source) {
  data_type_ = source.data_type_;
  value_ = source.value_;
  bound_ = source.bound_;
  name_ = source.name_;
  size_ = source.size_;
  precision_ = source.precision_;
  numeric_scale_ = source.numeric_scale_;
  if (param_type_ == ptUnknown) param_type_ = source.param_type_;
}

Param& Params::Items(int index) const {
  if (index < 0 || index >= Count()) throw EListError::IndexOutOfBounds(index);
  return *items_[static_cast<size_t>(index)];
}

Param& Params::CreateParam(FieldType type, std::string name, ParamType param_type) {
  auto p = std::make_unique<Param>(std::move(name), param_type);
  p->SetDataType(type);
  return AddParam(std::move(p));
}

Param& Params::AddParam(std::unique_ptr<Param> param) {
  if (!param) throw EInvalidPointer("Invalid pointer operation");
  items_.push_back(std::move(param));
  return *items_.back();
}

void Params::Delete(int index) {
  Items(index);  // range check
  items_.erase(items_.begin() + index);
}

Param* Params::FindParam(std::string_view name) const {
  for (const auto& p : items_)
    if (SameFieldName(p->Name(), name)) return p.get();
  return nullptr;
}

Param& Params::ParamByName(std::string_view name) const {
  if (Param* p = FindParam(name)) return *p;
  throw EDatabaseError(Format("Parameter '%s' not found", {name}));
}

void Params::Assign(const Params& other) {
  std::vector<std::unique_ptr<Param>> copy;
  copy.reserve(other.items_.size());
  for (const auto& p : other.items_) copy.push_back(std::make_unique<Param>(*p));
  items_ = std::move(copy);
}

void Params::AssignValues(const Params& source) {
  for (const auto& p : source.items_)
    if (Param* target = FindParam(p->Name())) target->AssignValue(*p);
}
