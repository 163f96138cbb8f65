// Variant: an OLE-style tagged value that owns its contents (RAII).
//
// Kinds are the OLE type codes, plus the platform's single-byte string kind (varString,
// UTF-8 text reduced to code page 1251's repertoire), one-dimensional arrays with bounds
// (varArray | element kind) and by-reference values (varByRef | varVariant, pointing at a
// caller's Variant). Copying deep-copies arrays; moving is cheap.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/com/comptr.h"
#include "platform/com/widestring.h"

struct IDispatch;

enum VarType : uint16_t {
  varEmpty = 0x0000,
  varNull = 0x0001,
  varSmallint = 0x0002,
  varInteger = 0x0003,
  varSingle = 0x0004,
  varDouble = 0x0005,
  varCurrency = 0x0006,
  varDate = 0x0007,
  varOleStr = 0x0008,
  varDispatch = 0x0009,
  varError = 0x000A,
  varBoolean = 0x000B,
  varVariant = 0x000C,
  varUnknown = 0x000D,
  varShortInt = 0x0010,
  varByte = 0x0011,
  varWord = 0x0012,
  varLongWord = 0x0013,
  varInt64 = 0x0014,
  varUInt64 = 0x0015,
  varSQLTimeStamp = 0x010F,  // the platform's SQL time stamp (stored as an OLE date)
  varFMTBcd = 0x0110,        // the platform's extended-precision decimal (stored as text)
  varString = 0x0100,        // single-byte text
  varTypeMask = 0x0FFF,
  varArray = 0x2000,
  varByRef = 0x4000,
};

class Variant {
 public:
  Variant() noexcept = default;
  Variant(const Variant& o);
  Variant(Variant&& o) noexcept = default;
  Variant& operator=(const Variant& o);
  Variant& operator=(Variant&& o) noexcept = default;
  ~Variant();

  Variant(bool v) : vt_(varBoolean), data_(int64_t{v ? 1 : 0}) {}
  Variant(int32_t v) : vt_(varInteger), data_(int64_t{v}) {}
  Variant(int64_t v) : vt_(varInt64), data_(v) {}
  Variant(double v) : vt_(varDouble), data_(v) {}
  Variant(const WideString& v) : vt_(varOleStr), data_(v.str()) {}
  Variant(WideString&& v) : vt_(varOleStr), data_(std::move(v.str())) {}
  Variant(const char16_t* v) : vt_(varOleStr), data_(std::u16string(v ? v : u"")) {}
  // UTF-8 text as varOleStr (as Text); Ansi() makes the single-byte kind.
  Variant(const char* utf8);
  Variant(const ComPtr<IDispatch>& v);
  Variant(const ComPtr<IUnknown>& v);
  // Any other pointer would silently become a Boolean; wrap interfaces in a ComPtr and
  // use ByRef for a by-reference value.
  template <class T>
    requires(!std::is_same_v<std::remove_cv_t<T>, char> &&
             !std::is_same_v<std::remove_cv_t<T>, char16_t>)
  Variant(T*) = delete;

  static Variant Null();
  static Variant Smallint(int16_t v);
  static Variant ShortInt(int8_t v);
  static Variant Byte(uint8_t v);
  static Variant Word(uint16_t v);
  static Variant LongWord(uint32_t v);
  static Variant UInt64(uint64_t v);
  static Variant Single(float v);
  static Variant Currency(int64_t scaled_by_10000);
  static Variant Date(double ole_date);
  static Variant SQLTimeStamp(double ole_date);
  static Variant FMTBcd(std::string decimal_text);
  static Variant Error(int32_t code);
  static Variant Ansi(std::string utf8);  // varString; the text is reduced to code page 1251
  static Variant Text(std::string_view utf8);  // varOleStr from UTF-8
  // A one-dimensional array of variants with bounds low .. low + count - 1.
  static Variant Array(std::vector<Variant> items, int32_t low = 0, uint16_t element = varVariant);
  // A by-reference value: reads and writes go to *target, which must outlive it.
  static Variant ByRef(Variant* target);

  uint16_t VType() const noexcept { return vt_; }
  uint16_t BaseType() const noexcept { return vt_ & varTypeMask; }
  bool IsEmpty() const noexcept { return vt_ == varEmpty; }
  bool IsNull() const noexcept { return vt_ == varNull; }
  bool IsEmptyOrNull() const noexcept { return vt_ == varEmpty || vt_ == varNull; }
  bool IsArray() const noexcept { return (vt_ & varArray) != 0; }
  bool IsByRef() const noexcept { return (vt_ & varByRef) != 0; }
  bool IsText() const noexcept { return vt_ == varOleStr || vt_ == varString; }
  bool IsNumeric() const noexcept;
  void Clear() noexcept;

  // The value a by-reference variant points at (itself otherwise).
  const Variant& Deref() const noexcept;
  Variant& Deref() noexcept;

  // Conversions. Each raises EVariantTypeCastError ("Could not convert variant of type
  // (X) into type (Y)") when the value does not convert; empty converts to 0, "" or False.
  std::string ToText() const;    // UTF-8; Boolean as "True"/"False", dates as ISO text
  WideString ToWide() const;
  int32_t ToInt32() const;
  int64_t ToInt64() const;
  double ToDouble() const;
  bool ToBool() const;
  double ToDate() const;         // OLE date
  int64_t ToCurrency() const;    // scaled by 10000
  ComPtr<IUnknown> ToUnknown() const;    // empty for empty/null
  ComPtr<IDispatch> ToDispatch() const;  // empty for empty/null; QueryInterface for varUnknown

  // Arrays.
  int32_t ArrayLow() const;
  int32_t ArrayHigh() const;
  int32_t ArrayCount() const;
  uint16_t ArrayElementType() const;
  const Variant& At(int32_t index) const;  // index within [low, high]; raises otherwise
  Variant& At(int32_t index);
  const std::vector<Variant>& Items() const;
  std::vector<Variant>& Items();

  // Same kind and same value (arrays element by element, interfaces by identity).
  friend bool operator==(const Variant& a, const Variant& b);

  // The type's name as the platform writes it in messages ("Integer", "OleStr", ...).
  static std::string TypeName(uint16_t vt);

 private:
  struct ArrayData {
    int32_t low = 0;
    uint16_t element = varVariant;
    std::vector<Variant> items;
  };
  using Payload = std::variant<std::monostate, int64_t, uint64_t, double, std::u16string,
                               std::string, ComPtr<IUnknown>, std::unique_ptr<ArrayData>,
                               Variant*>;
  Variant(uint16_t vt, Payload data) : vt_(vt), data_(std::move(data)) {}
  [[noreturn]] void CastError(uint16_t to) const;
  int64_t ToInteger(uint16_t to) const;
  const ArrayData& Arr() const;
  ArrayData& Arr();

  uint16_t vt_ = varEmpty;
  Payload data_;
};
