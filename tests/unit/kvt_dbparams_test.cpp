#include "dataaccess/kvt_dbparams.h"

#include <gtest/gtest.h>

#include "platform/rtl/exceptions.h"

namespace {

// A stream whose Seek or Read fails with a given code.
class FailingStream : public Implements<IStream> {
 public:
  HRESULT Read(void*, uint32_t, uint32_t* read) override {
    if (read) *read = 0;
    return read_result;
  }
  HRESULT Write(const void*, uint32_t, uint32_t*) override { return E_NOTIMPL; }
  HRESULT Seek(int64_t, uint32_t, uint64_t* pos) override {
    if (pos) *pos = 0;
    return seek_result;
  }
  HRESULT SetSize(uint64_t) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG*, uint32_t) override { return E_NOTIMPL; }
  HRESULT seek_result = S_OK, read_result = S_OK;
};

std::string StreamBytes(const ComPtr<IStream>& s) {
  auto* memory = static_cast<MemoryStream*>(s.Get());
  return memory->Bytes();
}

class KVTParamsTest : public testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(InterfacedObject::LiveObjects(), live_); }
  int64_t live_ = InterfacedObject::LiveObjects();
  Params list_;
};

TEST_F(KVTParamsTest, CountsAndHandsOutANewWrapperPerItemOverTheLiveEntry) {
  auto params = MakeObject<TKVTParams>(list_);
  EXPECT_EQ(params->GetCount(), 0);
  list_.Add("G33");
  list_.Add("G33LEN");
  EXPECT_EQ(params->GetCount(), 2) << "the list is read at each call";

  ComPtr<IKVTParam> a = params->GetItem(1);
  ComPtr<IKVTParam> b = params->GetItem(1);
  ASSERT_TRUE(a && b);
  EXPECT_NE(a.Get(), b.Get());
  EXPECT_EQ(a->GetName(), WideString(u"G33LEN"));

  a->SetValue(Variant(int32_t{7}));
  EXPECT_EQ(b->GetValue().ToInt32(), 7);
  EXPECT_EQ(b->GetDataType(), ftInteger);
  EXPECT_EQ(list_[1].AsInteger(), 7);
  list_[1].SetAsInteger(8);
  EXPECT_EQ(a->GetValue().ToInt32(), 8) << "nothing is copied";
}

TEST_F(KVTParamsTest, GetItemOutsideTheListRaisesTheListIndexError) {
  list_.Add("A");
  list_.Add("B");
  auto params = MakeObject<TKVTParams>(list_);
  for (int32_t index : {-1, 2, INT32_MAX}) {
    SCOPED_TRACE(index);
    try {
      params->GetItem(index);
      ADD_FAILURE() << "no error";
    } catch (const EListError& e) {
      EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(index) + ")");
    }
  }
}

TEST_F(KVTParamsTest, BothInterfacesAnswerEachOtherWithTheStreamOneAsIdentity) {
  Param p("P");
  auto wrapper = MakeObject<TKVTParam>(p);
  ComPtr<IKVTParam> param = wrapper;
  ComPtr<IKVTParamStream> stream = param.As<IKVTParamStream>();
  EXPECT_TRUE(stream.As<IKVTParam>().Get() == param.Get());
  EXPECT_EQ(param.As<IUnknown>().Get(), static_cast<IUnknown*>(stream.Get()));
}

TEST_F(KVTParamsTest, PropertiesReadAndWriteTheEntryTypeCodesKeepTheirLowByte) {
  Param p("P");
  auto w = MakeObject<TKVTParam>(p);
  w->SetDataType(0x100 | ftInteger);
  w->SetParamType(0x300 | ptOutput);
  w->SetPrecision(12);
  w->SetNumericScale(-3);
  w->SetSize(40);
  w->SetName(u"Ёлка");
  EXPECT_EQ(p.DataType(), ftInteger);
  EXPECT_EQ(p.GetParamType(), ptOutput);
  EXPECT_EQ(p.Precision(), 12);
  EXPECT_EQ(p.NumericScale(), -3);
  EXPECT_EQ(p.Size(), 40);
  EXPECT_EQ(p.Name(), "Ёлка");

  p.SetDataType(ftBlob);
  p.SetParamType(ptResult);
  p.SetPrecision(1);
  p.SetNumericScale(2);
  p.SetSize(3);
  p.SetName("X");
  EXPECT_EQ(w->GetDataType(), 15);
  EXPECT_EQ(w->GetParamType(), 4);
  EXPECT_EQ(w->GetPrecision(), 1);
  EXPECT_EQ(w->GetNumericScale(), 2);
  EXPECT_EQ(w->GetSize(), 3);
  EXPECT_EQ(w->GetName(), WideString(u"X"));
}

TEST_F(KVTParamsTest, SetNameToAnotherEntrysNameLeavesTwoEntriesOfThatName) {
  list_.Add("G33").SetAsString("first");
  list_.Add("TODAY").SetAsString("second");
  auto params = MakeObject<TKVTParams>(list_);
  params->GetItem(1)->SetName(u"g33");
  EXPECT_EQ(list_.Count(), 2);
  EXPECT_EQ(list_[1].Name(), "g33");
  EXPECT_EQ(list_.ParamByName("G33").AsString(), "first") << "lookups find the first";
}

TEST_F(KVTParamsTest, SetValueFollowsTheValueRule) {
  struct Case {
    const char* label;
    int32_t type_before;
    Variant value;
    int32_t type_after;
    bool bound;
  };
  const Case cases[] = {
      {"16-bit integer", 0, Variant::Smallint(1), 2, true},
      {"8-bit integer", 0, Variant::Byte(1), 2, true},
      {"32-bit integer", 0, Variant(int32_t{1}), 3, true},
      {"16-bit unsigned", 0, Variant::Word(1), 3, true},
      {"double", 0, Variant(1.5), 6, true},
      {"32-bit unsigned", 0, Variant::LongWord(1), 6, true},
      {"currency", 0, Variant::Currency(15000), 8, true},
      {"date", 0, Variant::Date(45000.5), 11, true},
      {"OLE string", 0, Variant(WideString(u"a")), 1, true},
      {"single-byte string", 0, Variant::Ansi("a"), 1, true},
      {"Boolean", 0, Variant(true), 5, true},
      {"64-bit integer", 0, Variant(int64_t{1}), 25, true},
      {"SQL time stamp", 0, Variant::SQLTimeStamp(1), 36, true},
      {"extended decimal", 0, Variant::FMTBcd("1.25"), 37, true},
      {"error: no type", 0, Variant::Error(3), 0, true},
      {"null: bound, no type", 0, Variant::Null(), 0, true},
      {"empty: unbound", 0, Variant(), 0, false},
      {"integer on a text parameter", 1, Variant(int32_t{1}), 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Param p("P");
    auto w = MakeObject<TKVTParam>(p);
    w->SetDataType(c.type_before);
    w->SetValue(c.value);
    EXPECT_EQ(w->GetDataType(), c.type_after);
    EXPECT_EQ(p.Bound(), c.bound);
  }
}

TEST_F(KVTParamsTest, GetValueGivesEmptyNullOleTextOrTheValueAsStored) {
  Param p("P");
  auto w = MakeObject<TKVTParam>(p);
  EXPECT_TRUE(w->GetValue().IsEmpty()) << "never set";
  w->SetValue(Variant::Null());
  EXPECT_TRUE(w->GetValue().IsNull());
  p.SetAsString("Ёлка");
  Variant text = w->GetValue();
  EXPECT_EQ(text.VType(), varOleStr);
  EXPECT_EQ(text.ToWide(), WideString(u"Ёлка"));
  p.SetValue(Variant::Smallint(5));
  EXPECT_EQ(w->GetValue().VType(), varSmallint);
  p.SetAsDateTime(45000.25);
  EXPECT_TRUE(w->GetValue() == Variant::Date(45000.25));
  p.Clear();
  EXPECT_TRUE(w->GetValue().IsEmpty()) << "cleared";
}

TEST_F(KVTParamsTest, GetAsStreamHoldsTheValueAsSingleByteTextPositionedAtItsEnd) {
  struct Case {
    const char* label;
    Variant value;
    std::string bytes;
  };
  const Case cases[] = {
      {"text", Variant::Ansi("abc"), "abc"},
      {"OLE text", Variant(WideString(u"abc")), "abc"},
      {"Cyrillic in code page 1251", Variant::Ansi("Ёж"), "\xA8\xE6"},
      {"beyond the code page", Variant(WideString(u"a\u4e2d")), "a?"},
      {"null", Variant::Null(), ""},
      {"never set", Variant(), ""},
      {"true", Variant(true), "True"},
      {"false", Variant(false), "False"},
      {"integer", Variant(int32_t{-42}), "-42"},
      {"double", Variant(2.5), "2.5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Param p("P");
    p.SetValue(c.value);
    auto w = MakeObject<TKVTParam>(p);
    ComPtr<IStream> s = w->GetAsStream();
    ASSERT_TRUE(s);
    EXPECT_EQ(StreamBytes(s), c.bytes);
    uint64_t pos = 99;
    ASSERT_EQ(s->Seek(0, STREAM_SEEK_CUR, &pos), S_OK);
    EXPECT_EQ(pos, c.bytes.size());
    EXPECT_EQ(ReadWholeStream(s.Get()), c.bytes) << "a reader seeks to the start first";
  }
}

TEST_F(KVTParamsTest, LoadFromStreamTakesTheWholeContentAsBinaryAndStreamsItBack) {
  std::string content("a\0\xFF\xA8z", 5);
  auto source = MakeObject<MemoryStream>(content);
  source->Seek(0, STREAM_SEEK_END, nullptr);  // at its end
  Param p("P");
  p.SetDataType(ftString);
  auto w = MakeObject<TKVTParam>(p);
  w->LoadFromStream(source.Get());
  EXPECT_EQ(w->GetDataType(), 15);
  EXPECT_TRUE(p.Bound());
  EXPECT_EQ(StreamBytes(w->GetAsStream()), content);

  w->LoadFromStream(MakeObject<MemoryStream>().Get());
  EXPECT_EQ(StreamBytes(w->GetAsStream()), "") << "an empty stream";
  EXPECT_FALSE(p.IsNull()) << "empty content is a value, not null";
}

TEST_F(KVTParamsTest, LoadFromStreamPassesStreamErrorsAndKeepsTheValue) {
  Param p("P");
  p.SetAsString("kept");
  auto w = MakeObject<TKVTParam>(p);
  auto seek_fails = MakeObject<FailingStream>();
  seek_fails->seek_result = STG_E_INVALIDFUNCTION;
  auto read_fails = MakeObject<FailingStream>();
  read_fails->read_result = STG_E_READFAULT;
  for (auto [stream, code] :
       {std::pair{seek_fails, STG_E_INVALIDFUNCTION}, std::pair{read_fails, STG_E_READFAULT}}) {
    SCOPED_TRACE(code);
    try {
      w->LoadFromStream(stream.Get());
      ADD_FAILURE() << "no error";
    } catch (const EOleSysError& e) {
      EXPECT_EQ(e.ErrorCode(), code);
    }
    EXPECT_EQ(p.AsString(), "kept");
    EXPECT_EQ(p.DataType(), ftString);
  }
  EXPECT_THROW(w->LoadFromStream(nullptr), Exception);
}

}  // namespace
