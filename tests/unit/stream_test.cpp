// MemoryStream: reading, writing and seeking, past the end and at the limits.
#include "platform/com/stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/rtl/exceptions.h"
#include "tests/fakes/counting.h"

namespace {

std::string Read(IStream* s, uint32_t count, HRESULT expected) {
  std::string buf(count, '\0');
  uint32_t got = 12345;
  EXPECT_EQ(s->Read(buf.data(), count, &got), expected);
  buf.resize(got);
  return buf;
}

uint64_t Seek(IStream* s, int64_t move, uint32_t origin) {
  uint64_t pos = 0;
  EXPECT_EQ(s->Seek(move, origin, &pos), S_OK);
  return pos;
}

TEST(MemoryStream, ReadsWritesAndSeeks) {
  LiveObjectsCheck live;
  ComPtr<MemoryStream> m = MakeObject<MemoryStream>();
  IStream* s = m.Get();
  uint32_t written = 0;
  ASSERT_EQ(s->Write("hello", 5, &written), S_OK);
  EXPECT_EQ(written, 5u);
  EXPECT_EQ(m->Position(), 5u);

  EXPECT_EQ(Seek(s, 0, STREAM_SEEK_SET), 0u);
  EXPECT_EQ(Read(s, 3, S_OK), "hel");
  EXPECT_EQ(Read(s, 10, S_FALSE), "lo") << "a short read answers S_FALSE";
  EXPECT_EQ(Read(s, 4, S_FALSE), "") << "reading at the end gives nothing";

  EXPECT_EQ(Seek(s, -4, STREAM_SEEK_CUR), 1u);
  EXPECT_EQ(Read(s, 2, S_OK), "el");
  EXPECT_EQ(Seek(s, -1, STREAM_SEEK_END), 4u);
  ASSERT_EQ(s->Write("O!", 2, nullptr), S_OK);  // overwrites, then extends
  EXPECT_EQ(m->Bytes(), "hellO!");

  EXPECT_EQ(Seek(s, 3, STREAM_SEEK_END), 9u);  // past the end
  EXPECT_EQ(Read(s, 1, S_FALSE), "");
  ASSERT_EQ(s->Write("x", 1, nullptr), S_OK);
  EXPECT_EQ(m->Bytes(), std::string("hellO!\0\0\0x", 10)) << "the gap is filled with zeros";

  STATSTG st;
  ASSERT_EQ(s->Stat(&st, 0), S_OK);
  EXPECT_EQ(st.cbSize, 10u);
  ASSERT_EQ(s->SetSize(4), S_OK);
  EXPECT_EQ(m->Bytes(), "hell");
  EXPECT_EQ(Read(s, 1, S_FALSE), "") << "the position stays where it was";
}

TEST(MemoryStream, RefusesBadArgumentsAndLeavesItselfUnchanged) {
  LiveObjectsCheck live;
  ComPtr<MemoryStream> m = MakeObject<MemoryStream>(std::string("abc"));
  IStream* s = m.Get();
  ASSERT_EQ(s->Seek(2, STREAM_SEEK_SET, nullptr), S_OK);

  struct Case {
    const char* name;
    HRESULT result;
    HRESULT expected;
  };
  uint32_t written = 7;
  const Case kCases[] = {
      {"seek before the start", s->Seek(-3, STREAM_SEEK_CUR, nullptr), STG_E_INVALIDFUNCTION},
      {"unknown origin", s->Seek(0, 3, nullptr), STG_E_INVALIDFUNCTION},
      {"seek beyond 64 bits", s->Seek(INT64_MAX, STREAM_SEEK_CUR, nullptr), STG_E_INVALIDFUNCTION},
      {"read into null", s->Read(nullptr, 1, nullptr), STG_E_INVALIDPOINTER},
      {"write from null", s->Write(nullptr, 1, &written), STG_E_INVALIDPOINTER},
      {"stat into null", s->Stat(nullptr, 0), STG_E_INVALIDPOINTER},
      {"size beyond the limit", s->SetSize(MemoryStream::kMaxSize + 1), STG_E_MEDIUMFULL},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.result, c.expected);
  }
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(m->Position(), 2u);
  EXPECT_EQ(m->Bytes(), "abc");

  // A write that would grow the buffer beyond its limit fails instead of allocating.
  ASSERT_EQ(s->Seek(static_cast<int64_t>(MemoryStream::kMaxSize), STREAM_SEEK_SET, nullptr), S_OK);
  written = 7;
  EXPECT_EQ(s->Write("x", 1, &written), STG_E_MEDIUMFULL);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(m->Bytes(), "abc");
  ASSERT_EQ(s->Seek(INT64_MAX, STREAM_SEEK_SET, nullptr), S_OK);
  EXPECT_EQ(s->Write("x", 1, nullptr), STG_E_MEDIUMFULL);
  EXPECT_EQ(Read(s, 1, S_FALSE), "");
}

// A stream whose reads fail.
class BrokenStream : public Implements<IStream> {
 public:
  HRESULT Read(void*, uint32_t, uint32_t*) override { return STG_E_READFAULT; }
  HRESULT Write(const void*, uint32_t, uint32_t*) override { return E_NOTIMPL; }
  HRESULT Seek(int64_t, uint32_t, uint64_t*) override { return S_OK; }
  HRESULT SetSize(uint64_t) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG*, uint32_t) override { return E_NOTIMPL; }
};

TEST(ReadWholeStream, ReadsFromTheStartWhereverThePositionIs) {
  LiveObjectsCheck live;
  std::string big(20000, 'z');  // more than one read's buffer
  big[0] = 'a';
  ComPtr<MemoryStream> m = MakeObject<MemoryStream>(big);
  ASSERT_EQ(m->Seek(0, STREAM_SEEK_END, nullptr), S_OK);
  EXPECT_EQ(ReadWholeStream(m.Get()), big);
  EXPECT_EQ(ReadWholeStream(MakeObject<MemoryStream>().Get()), "");

  EXPECT_THROW(ReadWholeStream(nullptr), EInvalidPointer);
  try {
    ReadWholeStream(MakeObject<BrokenStream>().Get());
    ADD_FAILURE() << "no error";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), STG_E_READFAULT);
  }
}

}  // namespace
