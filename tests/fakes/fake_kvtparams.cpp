#include "tests/fakes/fake_kvtparams.h"

#include "platform/com/stream.h"

Variant FakeKVTParam::GetValue() {
  const Variant& v = param_.Value();
  if (v.VType() == varString) return Variant(v.ToWide());
  return v;
}

ComPtr<IStream> FakeKVTParam::GetAsStream() {
  const Variant& v = param_.Value();
  std::string bytes;
  if (v.IsArray()) {
    for (const Variant& b : v.Items()) bytes += static_cast<char>(b.ToInt32());
  } else if (!v.IsEmptyOrNull()) {
    bytes = v.ToText();
  }
  auto stream = MakeObject<MemoryStream>(bytes);
  stream->Seek(0, STREAM_SEEK_END, nullptr);
  return stream;
}

void FakeKVTParam::LoadFromStream(IStream* stream) {
  param_.SetAsBlob(ReadWholeStream(stream));
}

ComPtr<IKVTParam> FakeKVTParams::GetItem(int32_t index) {
  ++items_made;
  return MakeObject<FakeKVTParam>(list_.Items(index));
}
