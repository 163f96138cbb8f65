// Fields of a data set: one object per column, typed, with its value read from and written
// to the data set's current row.
//
// Values are kept in one canonical variant kind per data type (CoerceFieldValue), so
// reading is a cheap look at the row and the packet decoder, the typed setters and
// Locate all agree on what a value is:
//
//   ftString ftFixedChar ftMemo ftFmtMemo ftGuid     varString (UTF-8, code page 1251 repertoire)
//   ftWideString ftFixedWideChar ftWideMemo          varOleStr
//   ftSmallint ftInteger ftWord ftAutoInc            varInteger (range of the type)
//   ftLargeint                                       varInt64
//   ftBoolean                                        varBoolean
//   ftFloat ftCurrency                               varDouble
//   ftBCD                                            varCurrency
//   ftFMTBcd                                         varFMTBcd
//   ftDate ftTime ftDateTime ftTimeStamp             varDate (a date has no fraction, a time
//                                                    no whole days)
//   ftBytes ftVarBytes ftBlob ftGraphic and the      varArray | varByte
//   other binary types
//   everything else (ftVariant, ...)                 the value as given
//
// A null value is varNull (an empty variant becomes null). Texts of string types hold at
// most Size characters (a GUID text may always have its braced 38 characters).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/com/variant.h"
#include "platform/rtl/component.h"
#include "platform/rtl/datetime.h"

class DataSet;

// Field-type codes; the numbers travel across interfaces and in data packets.
enum FieldType : uint8_t {
  ftUnknown = 0,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd,
  ftFixedWideChar,
  ftWideMemo,
  ftOraTimeStamp,
  ftOraInterval,
};
inline constexpr int kFieldTypeCount = 42;

// "String", "Integer", ... ("Unknown" for codes outside the enumeration).
const char* FieldTypeName(int type);
// Whether the Size of a field of this type means something (texts, bytes, BCD); for
// the others it is 0.
bool IsSizedFieldType(FieldType type);

enum FieldKind : uint8_t { fkData = 0, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

// Which statements of the provider a field takes part in.
using ProviderFlags = uint32_t;
enum : ProviderFlags { pfInUpdate = 1, pfInWhere = 2, pfInKey = 4, pfHidden = 8 };

// The maximum size of a string field, in characters.
inline constexpr int32_t kMaxStringSize = 8192;

// Converts v in place to the canonical kind of `type` (see above). Raises EConvertError
// for a text that does not parse as the type ("'x' is not a valid integer value") and
// EDatabaseError for a value out of range, a text longer than `size` characters (size 0:
// no limit) or a kind that does not convert. `name` names the field in messages.
void CoerceFieldValue(FieldType type, int32_t size, Variant& v, std::string_view name);
// Whether two names are the same without regard to case (Latin and Cyrillic letters), as
// field, parameter, column and index names are compared.
bool SameFieldName(std::string_view a, std::string_view b);
// Orders two canonical values of one type: null first; texts by code point, or by their
// upper case when case_insensitive. Answers <0, 0 or >0.
int CompareFieldValues(const Variant& a, const Variant& b, bool case_insensitive = false);

class Field : public Component {
 public:
  explicit Field(Component* owner = nullptr);
  ~Field() override;

  // The data set whose columns this field shows. Setting it appends the field to that
  // data set's fields (and removes it from the previous one's); both must be closed.
  // A field freed while its data set is open closes the data set (without events).
  DataSet* GetDataSet() const { return dataset_; }
  void SetDataSet(DataSet* dataset);
  // Position in the data set's fields, -1 without a data set.
  int Index() const { return index_; }

  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(std::string name);
  FieldType DataType() const { return data_type_; }
  int32_t Size() const { return size_; }
  // Runs CheckSize first; a size the class rejects leaves the field unchanged.
  virtual void SetSize(int32_t size);
  bool Required() const { return required_; }
  void SetRequired(bool v) { required_ = v; }
  FieldKind GetFieldKind() const { return kind_; }
  void SetFieldKind(FieldKind kind);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool v) { read_only_ = v; }
  ProviderFlags GetProviderFlags() const { return provider_flags_; }
  void SetProviderFlags(ProviderFlags flags) { provider_flags_ = flags; }
  // The label set, or the field name when none is set.
  const std::string& DisplayLabel() const;
  void SetDisplayLabel(std::string label) { display_label_ = std::move(label); }
  const std::string& DisplayName() const { return DisplayLabel(); }
  // The width set, or the class's default (GetDefaultWidth) when none is set.
  int DisplayWidth() const { return display_width_ > 0 ? display_width_ : GetDefaultWidth(); }
  void SetDisplayWidth(int width) { display_width_ = width; }

  // --- The value in the data set's current row (the edit buffer while editing).
  // Reading needs an open data set; writing needs it in edit or insert state and the
  // field not read-only.
  bool IsNull() const;
  void Clear();
  // The canonical value (null when there is none); valid until the row changes.
  const Variant& Value() const;
  Variant AsVariant() const { return Value(); }
  void SetAsVariant(Variant v);
  void SetValue(Variant v) { SetAsVariant(std::move(v)); }

  // Typed access. A null value reads as "", 0, 0.0, false or 0 (date). A conversion
  // that does not exist raises EDatabaseError "Cannot access field '%s' as type %s"; a
  // text that does not parse raises EConvertError.
  std::string AsString() const { return GetAsString(); }
  void SetAsString(std::string_view text) { SetAsStringValue(text); }
  int32_t AsInteger() const;
  void SetAsInteger(int32_t v) { SetAsVariant(Variant(v)); }
  int64_t AsLargeInt() const;
  void SetAsLargeInt(int64_t v) { SetAsVariant(Variant(v)); }
  double AsFloat() const;
  void SetAsFloat(double v) { SetAsVariant(Variant(v)); }
  bool AsBoolean() const;
  void SetAsBoolean(bool v) { SetAsVariant(Variant(v)); }
  TDateTime AsDateTime() const;
  void SetAsDateTime(TDateTime v) { SetAsVariant(Variant::Date(v)); }
  // The text for editing and for display (GetText).
  std::string Text() const { return GetText(false); }
  std::string DisplayText() const { return GetText(true); }

 protected:
  // Raises EDatabaseError "Invalid field size" when the class cannot have `size`. The
  // base accepts only 0 for types without a size, and 0 or more for the others.
  virtual void CheckSize(int32_t size) const;
  virtual std::string GetAsString() const;
  // An empty text clears the field; any other is converted to the field's type.
  virtual void SetAsStringValue(std::string_view text);
  virtual std::string GetText(bool display) const;
  virtual int GetDefaultWidth() const { return 10; }
  // For the constructors of the classes below (and of derived classes elsewhere).
  void SetDataType(FieldType type) { data_type_ = type; }
  void SetSizeUnchecked(int32_t size) { size_ = size; }
  [[noreturn]] void AccessError(const char* type_name) const;

 private:
  friend class DataSet;
  DataSet* dataset_ = nullptr;
  int index_ = -1;
  std::string field_name_;
  std::string display_label_;
  FieldType data_type_ = ftUnknown;
  FieldKind kind_ = fkData;
  int32_t size_ = 0;
  int display_width_ = 0;
  bool required_ = false;
  bool read_only_ = false;
  ProviderFlags provider_flags_ = pfInUpdate | pfInWhere;
};

// --- The field classes, one per data type the system meets.

class StringField : public Field {
 public:
  explicit StringField(Component* owner = nullptr);  // size 20
  // A fixed-width text column (data type ftFixedChar instead of ftString).
  bool FixedChar() const { return DataType() == ftFixedChar; }
  void SetFixedChar(bool on) { SetDataType(on ? ftFixedChar : ftString); }

 protected:
  void CheckSize(int32_t size) const override;  // 1 .. kMaxStringSize
  int GetDefaultWidth() const override { return Size(); }
};

class WideStringField : public StringField {
 public:
  explicit WideStringField(Component* owner = nullptr);
};

// A GUID as text; the platform's class keeps the braced 38-character form.
class GuidField : public StringField {
 public:
  explicit GuidField(Component* owner = nullptr);  // size 38

 protected:
  void CheckSize(int32_t size) const override;  // 38 only
};

class NumericField : public Field {
 public:
  using Field::Field;

 protected:
  int GetDefaultWidth() const override { return 10; }
};

class IntegerField : public NumericField {
 public:
  explicit IntegerField(Component* owner = nullptr);
};

class SmallintField : public IntegerField {
 public:
  explicit SmallintField(Component* owner = nullptr);
};

class WordField : public IntegerField {
 public:
  explicit WordField(Component* owner = nullptr);
};

// The server assigns its values: read-only by default.
class AutoIncField : public IntegerField {
 public:
  explicit AutoIncField(Component* owner = nullptr);
};

class LargeintField : public NumericField {
 public:
  explicit LargeintField(Component* owner = nullptr);
};

class FloatField : public NumericField {
 public:
  explicit FloatField(Component* owner = nullptr);
};

class CurrencyField : public FloatField {
 public:
  explicit CurrencyField(Component* owner = nullptr);
};

// A fixed-point decimal (four decimal places); Size is the number of decimals (0 .. 4).
class BCDField : public NumericField {
 public:
  explicit BCDField(Component* owner = nullptr);

 protected:
  void CheckSize(int32_t size) const override;
};

class BooleanField : public Field {
 public:
  explicit BooleanField(Component* owner = nullptr);

 protected:
  int GetDefaultWidth() const override { return 5; }
};

class DateTimeField : public Field {
 public:
  explicit DateTimeField(Component* owner = nullptr);

 protected:
  std::string GetAsString() const override;  // "YYYY-MM-DD[ HH:MM:SS]"
  int GetDefaultWidth() const override { return 19; }
};

class DateField : public DateTimeField {
 public:
  explicit DateField(Component* owner = nullptr);

 protected:
  std::string GetAsString() const override;  // "YYYY-MM-DD"
  int GetDefaultWidth() const override { return 10; }
};

class TimeField : public DateTimeField {
 public:
  explicit TimeField(Component* owner = nullptr);

 protected:
  std::string GetAsString() const override;  // "HH:MM:SS"
  int GetDefaultWidth() const override { return 8; }
};

// Binary values; as text, each byte is a character of code page 1251.
class BinaryField : public Field {
 public:
  using Field::Field;
  // The bytes of the value.
  std::string AsBytes() const;
  void SetAsBytes(std::string_view bytes);

 protected:
  std::string GetAsString() const override;
  void SetAsStringValue(std::string_view text) override;
};

// Fixed-width bytes; Size is the number of bytes.
class BytesField : public BinaryField {
 public:
  explicit BytesField(Component* owner = nullptr);  // size 16
};

class VarBytesField : public BytesField {
 public:
  explicit VarBytesField(Component* owner = nullptr);
};

class BlobField : public BinaryField {
 public:
  explicit BlobField(Component* owner = nullptr);
};

class GraphicField : public BlobField {
 public:
  explicit GraphicField(Component* owner = nullptr);
};

// Long text (code page 1251 repertoire), without a length limit.
class MemoField : public Field {
 public:
  explicit MemoField(Component* owner = nullptr);
};

// Any value, kept as given.
class VariantField : public Field {
 public:
  explicit VariantField(Component* owner = nullptr);
};

// --- Default field classes by data type.

// Makes a field of one class, owned by `owner`.
using FieldFactory = Field* (*)(Component* owner);

template <class T>
Field* NewField(Component* owner) {
  return new T(owner);
}

// The class a data set creates for a column of `data_type` when it builds its own fields
// (looked up by the low seven bits of the code); null when there is none.
FieldFactory DefaultFieldClass(int data_type);
// Replaces the default class of a data type (null removes it); answers the previous one.
FieldFactory SetDefaultFieldClass(FieldType type, FieldFactory factory);
