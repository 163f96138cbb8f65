// Parameter wrappers: a query's parameter list and its entries as the host's database
// manager sees them (IKVTParams, IKVTParam, IKVTParamStream).
//
// The wrappers copy nothing: every call reads or writes the wrapped list or parameter at
// that moment. They neither own nor count what they wrap, so the list (and every entry a
// wrapper was made for) must outlive them; a query's entries live until its SQL changes
// or the query is freed.
#pragma once

#include "hostintf/kvt_TLB.h"
#include "platform/com/object.h"
#include "platform/db/params.h"

// A parameter list through IKVTParams.
class TKVTParams : public Implements<IKVTParams> {
 public:
  explicit TKVTParams(Params& list) : list_(list) {}

  int32_t GetCount() override;
  // A new TKVTParam over the entry at `index` on every call; EListError "List index out
  // of bounds (%d)" outside the list.
  ComPtr<IKVTParam> GetItem(int32_t index) override;

 private:
  Params& list_;
};

// One parameter through IKVTParamStream and IKVTParam (either answers the other).
class TKVTParam : public Implements<IKVTParamStream, IKVTParam> {
 public:
  explicit TKVTParam(Param& param) : param_(param) {}

  // --- IKVTParam. The data type and the parameter type keep the low 8 bits of a code.
  int32_t GetDataType() override;
  void SetDataType(int32_t value) override;
  int32_t GetPrecision() override;
  void SetPrecision(int32_t value) override;
  int32_t GetNumericScale() override;
  void SetNumericScale(int32_t value) override;
  WideString GetName() override;
  // Renames without any check (another entry may have the same name).
  void SetName(const WideString& value) override;
  int32_t GetParamType() override;
  void SetParamType(int32_t value) override;
  int32_t GetSize() override;
  void SetSize(int32_t value) override;
  // Empty when never set (or cleared), null when null; single-byte text as an OLE
  // string; anything else as stored.
  Variant GetValue() override;
  // Stores by the parameter's value rule (Param::SetValue).
  void SetValue(const Variant& value) override;

  // --- IKVTParamStream
  // A new stream holding the value as code page 1251 bytes, positioned after the last
  // byte: nothing for empty or null, "True"/"False" for a Boolean, the bytes themselves
  // for binary content, the text conversion otherwise.
  ComPtr<IStream> GetAsStream() override;
  // The stream's whole content (read from its start) becomes the value, data type ftBlob.
  // Errors of the stream leave as EOleSysError.
  void LoadFromStream(IStream* stream) override;

 private:
  Param& param_;
};

// The bytes GetAsStream delivers for a value (exposed for tests and other callers).
std::string ParamValueBytes(const Param& param);
