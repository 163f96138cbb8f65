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
    {"{90f3f42c-0f88-478d-a234-101d4f85f9ca}", S_OK},  // either case
    {"90F3F42C-0F88-478D-A234-101D4F85F9CA", CO_E_CLASSSTRING},    // no braces
    {"{90F3F42C-0F88-478D-A234-101D4F85F9CA", CO_E_CLASSSTRING},   // too short
    {"{90F3F42C-0F88-478D-A234-101D4F85F9CA}x", CO_E_CLASSSTRING}, // trailing text
    {"{90F3F42G-0F88-478D-A234-101D4F85F9CA}", CO_E_CLASSSTRING},  // non-hex digit
    {"{90F3F42C+0F88-478D-A234-101D4F85F9CA}", CO_E_CLASSSTRING},  // wrong separator
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

TEST(Guid, FormatsBracedUpperCaseAndRoundTrips) {
  GUID g = "{90f3f42c-0f88-478d-a234-101d4f85f9ca}"_guid;
  EXPECT_EQ(GUIDToString(g), "{90F3F42C-0F88-478D-A234-101D4F85F9CA}");
  for (int i = 0; i < 100; ++i) {
    GUID fresh;
    ASSERT_EQ(CoCreateGuid(&fresh), S_OK);
    GUID back;
    ASSERT_EQ(CLSIDFromString(GUIDToString(fresh), &back), S_OK);
    EXPECT_EQ(back, fresh);
  }
}

TEST(Guid, NonAsciiWideTextIsMalformed) {
  GUID g;
  std::u16string text = u"{90F3F42C-0F88-478D-A234-101D4F85F9C\u0410}";
  EXPECT_EQ(CLSIDFromString(WideString(text), &g), CO_E_CLASSSTRING);
  EXPECT_THROW(StringToGUID("{nope}"), EOleSysError);
}

}  // namespace
