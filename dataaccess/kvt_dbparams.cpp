#include "dataaccess/kvt_dbparams.h"

#include "platform/rtl/codepage.h"
#include "platform/rtl/exceptions.h"

namespace {

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// UTF-8 text as code page 1251 bytes ("?" for what the code page cannot hold).
std::string CodePageBytes(std::string utf8) {
  if (IsAscii(utf8)) return utf8;
  return EncodeCodePage1251(Utf8ToUtf16(utf8));
}

}  // namespace

// --- TKVTParams

int32_t TKVTParams::GetCount() {
  return list_.Count();
}

ComPtr<IKVTParam> TKVTParams::GetItem(int32_t index) {
  return MakeObject<TKVTParam>(list_.Items(index));
}

// --- TKVTParam

int32_t TKVTParam::GetDataType() {
  return param_.DataType();
}
void TKVTParam::SetDataType(int32_t value) {
  param_.SetDataType(static_cast<FieldType>(value & 0xFF));
}
int32_t TKVTParam::GetPrecision() {
  return param_.Precision();
}
void TKVTParam::SetPrecision(int32_t value) {
  param_.SetPrecision(value);
}
int32_t TKVTParam::GetNumericScale() {
  return param_.NumericScale();
}
void TKVTParam::SetNumericScale(int32_t value) {
  param_.SetNumericScale(value);
}
WideString TKVTParam::GetName() {
  return WideString::FromUtf8(param_.Name());
}
void TKVTParam::SetName(const WideString& value) {
  param_.SetName(value.ToUtf8());
}
int32_t TKVTParam::GetParamType() {
  return param_.GetParamType();
}
void TKVTParam::SetParamType(int32_t value) {
  param_.SetParamType(static_cast<ParamType>(value & 0xFF));
}
int32_t TKVTParam::GetSize() {
  return param_.Size();
}
void TKVTParam::SetSize(int32_t value) {
  param_.SetSize(value);
}

Variant TKVTParam::GetValue() {
  const Variant& v = param_.Value();
  if (v.VType() == varString) return Variant::Text(v.ToText());
  return v;
}

void TKVTParam::SetValue(const Variant& value) {
  param_.SetValue(value);
}

std::string ParamValueBytes(const Param& param) {
  const Variant& v = param.Value();
  if (v.IsEmptyOrNull()) return {};
  switch (v.VType()) {
    case varOleStr:
      return EncodeCodePage1251(v.ToWide().str());
    case varString:
      return CodePageBytes(v.ToText());
    case varArray | varByte: {
      // Binary content (LoadFromStream, SetAsBlob) streams back as the bytes it holds.
      const std::vector<Variant>& items = v.Items();
      std::string bytes;
      bytes.reserve(items.size());
      for (const Variant& b : items) bytes.push_back(static_cast<char>(b.ToInt32()));
      return bytes;
    }
    default:
      return CodePageBytes(v.ToText());  // Boolean: "True" / "False"
  }
}

ComPtr<IStream> TKVTParam::GetAsStream() {
  auto stream = MakeObject<MemoryStream>(ParamValueBytes(param_));
  stream->Seek(0, STREAM_SEEK_END, nullptr);
  return stream;
}

void TKVTParam::LoadFromStream(IStream* stream) {
  param_.SetAsBlob(ReadWholeStream(stream));
}
