#include "platform/com/guid.h"

#include <gtest/gtest.h>

#include "platform/rtl/exceptions.h"

namespace {

struct ParseCase {
  const char* text;
  HRESULT expected;
};

constexpr ParseCase kParseCases[] = {
    {"{90F3F42C-0F88-478D-A234-101D4F85F9CA}", S_OK},
    {"{90f3f42c-0f88-478d-a234-101d4f85f9ca}", S_OK},               // either case
    {"90F3F42C-0F88-478D-A234-101D4F85F9CA", CO_E_CLASSSTRING},     // no braces
    {"{90F3F42C-0F88-478D-A234-101D4F85F9CA", CO_E_CLASSSTRING},    // too short
    {"{90F3F42C-0F88-478D-A234-101D4F85F9CA}x", CO_E_CLASSSTRING},  // trailing text
    {"{90F3F42G-0F88-478D-A234-101D4F85F9CA}", CO_E_CLASSSTRING},   // non-hex digit
    {"{90F3F42C+0F88-478D-A234-101D4F85F9CA}", CO_E_CLASSSTRING},   // wrong separator
    {"{90F3F42C-0F88-478D-A234-101D4F85F9CG}", CO_E_CLASSSTRING},   // bad digit, last byte
    {"{90F3F42C-0F88-478D-A234101D-4F85F9CA}", CO_E_CLASSSTRING},   // hyphen moved
    {"(90F3F42C-0F88-478D-A234-101D4F85F9CA)", CO_E_CLASSSTRING},   // other brackets
    {" {90F3F42C-0F88-478D-A234-101D4F85F9CA}", CO_E_CLASSSTRING},  // leading blank
    {"", CO_E_CLASSSTRING},
    {"{}", CO_E_CLASSSTRING},
};

TEST(Guid, ParsesOnlyBracedThirtyEightCharacterText) {
  for (const auto& c : kParseCases) {
    SCOPED_TRACE(c.text);
    GUID g{};
    g.Data1 = 0xDEADBEEF;
    HRESULT hr = CLSIDFromString(WideString::FromUtf8(c.text), &g);
    EXPECT_EQ(hr, c.expected);
    if (FAILED(hr)) {
      EXPECT_EQ(g.Data1, 0xDEADBEEFu) << "a failed parse leaves the output alone";
    }
  }
}

TEST(Guid, ReadsTheFieldsInTextOrder) {
  GUID g;
  ASSERT_EQ(CLSIDFromString("{90F3F42C-0F88-478D-A234-101D4F85F9CA}", &g), S_OK);
  EXPECT_EQ(g.Data1, 0x90F3F42Cu);
  EXPECT_EQ(g.Data2, 0x0F88u);
  EXPECT_EQ(g.Data3, 0x478Du);
  const uint8_t kData4[8] = {0xA2, 0x34, 0x10, 0x1D, 0x4F, 0x85, 0xF9, 0xCA};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(g.Data4[i], kData4[i]) << i;
  EXPECT_EQ(g, "{90F3F42C-0F88-478D-A234-101D4F85F9CA}"_guid);
  EXPECT_EQ(StringToGUID("{90f3f42c-0f88-478d-a234-101d4f85f9ca}"), g);
  EXPECT_FALSE(g.IsNull());
  EXPECT_TRUE(GUID_NULL.IsNull());
  EXPECT_EQ(CLSIDFromString("{90F3F42C-0F88-478D-A234-101D4F85F9CA}", nullptr), E_INVALIDARG);
}

TEST(Guid, FormatsBracedUpperCaseAndRoundTrips) {
  GUID g = "{90f3f42c-0f88-478d-a234-101d4f85f9ca}"_guid;
  EXPECT_EQ(GUIDToString(g), "{90F3F42C-0F88-478D-A234-101D4F85F9CA}");
  for (int i = 0; i < 100; ++i) {
    GUID fresh;
    ASSERT_EQ(CoCreateGuid(&fresh), S_OK);
    GUID back;
    ASSERT_EQ(CLSIDFromString(GUIDToString(fresh), &back), S_OK);
    EXPECT_EQ(back, fresh);
    EXPECT_EQ(fresh.Data3 >> 12, 4) << "version 4";
    EXPECT_EQ(fresh.Data4[0] >> 6, 2) << "variant 1";
  }
}

TEST(Guid, NonAsciiWideTextIsMalformed) {
  GUID g;
  std::u16string text = u"{90F3F42C-0F88-478D-A234-101D4F85F9C\u0410}";
  EXPECT_EQ(CLSIDFromString(WideString(text), &g), CO_E_CLASSSTRING);
  std::u16string with_nul = u"{90F3F42C-0F88-478D-A234-101D4F85F9CA}";
  with_nul[5] = u'\0';
  EXPECT_EQ(CLSIDFromString(WideString(with_nul), &g), CO_E_CLASSSTRING);
  EXPECT_THROW(StringToGUID("{nope}"), EOleSysError);
}

}  // namespace
