// IKVTParams over a platform parameter list, as a module hands its query parameters to the
// host's OpenSQL: every call reads the live list, each GetItem makes a new wrapper.
//
//   Params list;  list.Add("G33").SetAsString("8517");
//   auto params = MakeObject<FakeKVTParams>(list);
//   manager->OpenSQL(u"db", u"select :G33", params.Get(), false, true, def);
#pragma once

#include "hostintf/kvt_TLB.h"
#include "platform/com/object.h"
#include "platform/db/params.h"

class FakeKVTParam : public Implements<IKVTParamStream, IKVTParam> {
 public:
  explicit FakeKVTParam(Param& param) : param_(param) {}

  int32_t GetDataType() override { return param_.DataType(); }
  void SetDataType(int32_t v) override { param_.SetDataType(static_cast<FieldType>(v & 0xFF)); }
  int32_t GetPrecision() override { return param_.Precision(); }
  void SetPrecision(int32_t v) override { param_.SetPrecision(v); }
  int32_t GetNumericScale() override { return param_.NumericScale(); }
  void SetNumericScale(int32_t v) override { param_.SetNumericScale(v); }
  WideString GetName() override { return WideString::FromUtf8(param_.Name()); }
  void SetName(const WideString& v) override { param_.SetName(v.ToUtf8()); }
  int32_t GetParamType() override { return param_.GetParamType(); }
  void SetParamType(int32_t v) override { param_.SetParamType(static_cast<ParamType>(v & 0xFF)); }
  int32_t GetSize() override { return param_.Size(); }
  void SetSize(int32_t v) override { param_.SetSize(v); }
  // A single-byte text comes out as an OLE string.
  Variant GetValue() override;
  void SetValue(const Variant& v) override { param_.SetValue(v); }

  // The value's bytes (a byte array's bytes, otherwise its text), positioned at the end.
  ComPtr<IStream> GetAsStream() override;
  void LoadFromStream(IStream* stream) override;

 private:
  Param& param_;
};

class FakeKVTParams : public Implements<IKVTParams> {
 public:
  explicit FakeKVTParams(Params& list) : list_(list) {}
  int32_t GetCount() override { return list_.Count(); }
  ComPtr<IKVTParam> GetItem(int32_t index) override;

  int items_made = 0;

 private:
  Params& list_;
};
