// Param and Params: named parameters of a statement or of a provider.
//
// A parameter's value is a variant: empty when never set (or cleared), null when set to
// null. Setting a value (SetValue or a typed setter) follows one rule: the parameter is
// bound unless the value is empty; a parameter whose data type is still ftUnknown takes
// it from the value's kind (8/16-bit integers ftSmallint, 32-bit signed and 16-bit
// unsigned ftInteger, floats and 32-bit unsigned ftFloat, currency ftBCD, date
// ftDateTime, texts ftString, Boolean ftBoolean, 64-bit integers ftLargeint, SQL time
// stamp ftTimeStamp, extended decimal ftFMTBcd, anything else ftUnknown). A data type
// that is set is never changed by a value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/variant.h"
#include "platform/db/fields.h"
#include "platform/rtl/datetime.h"

enum ParamType : uint8_t { ptUnknown = 0, ptInput, ptOutput, ptInputOutput, ptResult };

class Param {
 public:
  Param() = default;
  explicit Param(std::string name, ParamType type = ptUnknown)
      : name_(std::move(name)), param_type_(type) {}

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  FieldType DataType() const { return data_type_; }
  void SetDataType(FieldType type) { data_type_ = type; }
  ParamType GetParamType() const { return param_type_; }
  void SetParamType(ParamType type) { param_type_ = type; }
  bool Bound() const { return bound_; }
  void SetBound(bool v) { bound_ = v; }
  int32_t Size() const { return size_; }
  void SetSize(int32_t v) { size_ = v; }
  int32_t Precision() const { return precision_; }
  void SetPrecision(int32_t v) { precision_ = v; }
  int32_t NumericScale() const { return numeric_scale_; }
  void SetNumericScale(int32_t v) { numeric_scale_ = v; }

  // Empty or null.
  bool IsNull() const { return value_.IsEmptyOrNull(); }
  const Variant& Value() const { return value_; }
  void SetValue(Variant v);
  // Empties the value (the data type and the bound flag stay).
  void Clear() { value_.Clear(); }

  // Typed setters (the value rule above) and getters (a null value reads as "", 0,
  // false; a value that does not convert raises EVariantTypeCastError).
  void SetAsString(std::string_view utf8) { SetValue(Variant::Ansi(std::string(utf8))); }
  void SetAsWideString(const WideString& text) { SetValue(Variant(text)); }
  void SetAsSmallInt(int16_t v) { SetValue(Variant::Smallint(v)); }
  void SetAsInteger(int32_t v) { SetValue(Variant(v)); }
  void SetAsLargeInt(int64_t v) { SetValue(Variant(v)); }
  void SetAsFloat(double v) { SetValue(Variant(v)); }
  void SetAsCurrency(int64_t scaled_by_10000) { SetValue(Variant::Currency(scaled_by_10000)); }
  void SetAsBoolean(bool v) { SetValue(Variant(v)); }
  void SetAsDateTime(TDateTime v) { SetValue(Variant::Date(v)); }
  // Binary content: the value becomes a byte array and the data type ftBlob.
  void SetAsBlob(std::string_view bytes);
  std::string AsString() const;
  int32_t AsInteger() const;
  int64_t AsLargeInt() const;
  double AsFloat() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;

  // Copies everything.
  void Assign(const Param& other) { *this = other; }
  // What a parameter of the same name takes from `source` when a list is rebuilt: data
  // type, value (null and empty included), bound flag, name, size, precision, numeric
  // scale, and the parameter type only when this one's is still unknown.
  void AssignValue(const Param& source);

 private:
  std::string name_;
  FieldType data_type_ = ftUnknown;
  ParamType param_type_ = ptUnknown;
  Variant value_;
  bool bound_ = false;
  int32_t size_ = 0;
  int32_t precision_ = 0;
  int32_t numeric_scale_ = 0;
};

// An ordered list that owns its parameters. Names are compared without regard to case;
// several entries may share a name (lookups find the first).
class Params {
 public:
  Params() = default;
  Params(const Params& other) { Assign(other); }
  Params& operator=(const Params& other) {
    if (this != &other) Assign(other);
    return *this;
  }
  Params(Params&&) noexcept = default;
  Params& operator=(Params&&) noexcept = default;

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  // Raises EListError "List index out of bounds (%d)" outside 0 .. Count()-1.
  Param& Items(int index) const;
  Param& operator[](int index) const { return Items(index); }

  // Appends a new parameter (unknown data type, empty value, unbound) and answers it.
  Param& CreateParam(FieldType type, std::string name, ParamType param_type);
  Param& Add(std::string name) { return CreateParam(ftUnknown, std::move(name), ptUnknown); }
  Param& AddParam(std::unique_ptr<Param> param);
  void Delete(int index);
  void Clear() { items_.clear(); }

  Param* FindParam(std::string_view name) const;
  // Raises EDatabaseError "Parameter '%s' not found".
  Param& ParamByName(std::string_view name) const;

  // Replaces the list with copies of another's entries.
  void Assign(const Params& other);
  // For each entry of `source` in order, the first entry of this list with that name
  // takes its value (Param::AssignValue); entries are neither added nor removed.
  void AssignValues(const Params& source);

 private:
  std::vector<std::unique_ptr<Param>> items_;
};
