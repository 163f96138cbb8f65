// Text encodings: code page 1251 both ways, UTF-8 <-> UTF-16, malformed input.
#include "platform/rtl/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CodePage1251, EveryByteRoundTrips) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    std::string byte(1, static_cast<char>(b));
    std::u16string decoded = DecodeCodePage1251(byte);
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_TRUE(InCodePage1251(decoded[0]));
    EXPECT_EQ(EncodeCodePage1251(decoded), byte);
    // The same character reduced as UTF-8 text stays itself.
    std::string utf8 = Utf16ToUtf8(decoded);
    EXPECT_EQ(ToCodePage1251(utf8), utf8);
  }
}

TEST(CodePage1251, MapsBytesAsTheCodePageDefinesThem) {
  // Spot checks taken once from an independent codec; 0x98 is undefined there and maps
  // to U+0098 here, both ways.
  struct Case {
    unsigned char byte;
    char16_t ch;
  };
  constexpr Case kCases[] = {
      {0x41, u'A'},   {0x80, 0x0402}, {0x88, 0x20AC}, {0x96, 0x2013}, {0x98, 0x0098},
      {0xA0, 0x00A0}, {0xA5, 0x0490}, {0xA8, 0x0401}, {0xB4, 0x0491}, {0xB8, 0x0451},
      {0xB9, 0x2116}, {0xC0, 0x0410}, {0xDF, 0x042F}, {0xE0, 0x0430}, {0xFF, 0x044F},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.byte));
    EXPECT_EQ(DecodeCodePage1251(std::string(1, static_cast<char>(c.byte))),
              std::u16string(1, c.ch));
    EXPECT_EQ(EncodeCodePage1251(std::u16string(1, c.ch)),
              std::string(1, static_cast<char>(c.byte)));
  }
}

TEST(CodePage1251, CharactersItCannotHoldBecomeQuestionMarks) {
  struct Case {
    std::u16string text;
    std::string bytes;    // EncodeCodePage1251
    std::string reduced;  // WideToAnsi / ToCodePage1251, as UTF-8
  };
  const Case kCases[] = {
      {u"Привет", "\xCF\xF0\xE8\xE2\xE5\xF2", "Привет"},
      {u"a\u00E4b", "a?b", "a?b"},      // Latin small a with diaeresis
      {u"\u2713", "?", "?"},            // check mark
      {u"x\U0001F600y", "x?y", "x?y"},  // a surrogate pair is one character
      {u"\u0099", "?", "?"},            // C1 control other than U+0098
      {u"\u20AC\u2116", "\x88\xB9", "\u20AC\u2116"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.reduced);
    EXPECT_EQ(EncodeCodePage1251(c.text), c.bytes);
    EXPECT_EQ(WideToAnsi(c.text), c.reduced);
    EXPECT_EQ(ToCodePage1251(Utf16ToUtf8(c.text)), c.reduced);
  }
  EXPECT_FALSE(InCodePage1251(U'\u00E4'));
  EXPECT_FALSE(InCodePage1251(U'\U0001F600'));
}

TEST(CodePage1251, LoneSurrogatesConvertWithoutFailing) {
  // U+FFFD in UTF-8, "?" in the code page.
  struct Case {
    std::u16string text;
    std::string utf8;
    std::string bytes;
  };
  const Case kCases[] = {
      {std::u16string(1, char16_t{0xD800}), "\uFFFD", "?"},                        // high alone
      {std::u16string(1, char16_t{0xDC00}), "\uFFFD", "?"},                        // low alone
      {std::u16string{u'a', char16_t{0xD83D}, u'b'}, "a\uFFFDb", "a?b"},           // high, no low
      {std::u16string{char16_t{0xDE00}, char16_t{0xD83D}}, "\uFFFD\uFFFD", "??"},  // reversed
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(Utf16ToUtf8(c.text), c.utf8);
    EXPECT_EQ(EncodeCodePage1251(c.text), c.bytes);
    EXPECT_EQ(WideToAnsi(c.text), c.bytes);
  }
}

TEST(Utf8, MalformedSequencesBecomeReplacementCharacters) {
  struct Case {
    const char* name;
    std::string utf8;
    std::u16string utf16;
    std::string reduced;  // ToCodePage1251
  };
  const Case kCases[] = {
      {"lone continuation", "a\x80z", u"a\uFFFDz", "a?z"},
      {"overlong NUL", "\xC0\x80", u"\uFFFD\uFFFD", "??"},
      {"overlong slash", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD", "???"},
      {"truncated at end", "ok\xE2\x82", u"ok\uFFFD\uFFFD", "ok??"},
      {"interrupted", "\xD0x", u"\uFFFDx", "?x"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", "???"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", "????"},
      {"invalid byte", "\xFF", u"\uFFFD", "?"},
      {"four-byte character", "\xF0\x9F\x98\x80", u"\U0001F600", "?"},
      {"Cyrillic", "\xD0\x96", u"\u0416", "\xD0\x96"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
    EXPECT_EQ(ToCodePage1251(c.utf8), c.reduced);
  }
}

TEST(Utf8, ValidTextRoundTripsAndCountsCharacters) {
  const std::string text = "Ж€x\U0001F600\u0098";
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  EXPECT_EQ(Utf8ToUtf16(text).size(), 6u);  // the emoji takes two UTF-16 units
  EXPECT_EQ(Utf8Length(text), 5u);
  EXPECT_EQ(Utf8Length(""), 0u);
}

// Long ASCII runs go through a faster path than other characters: wherever a character of
// another kind falls in a long text, the text converts as its parts do.
TEST(Utf8, ConvertsTheSameWhereverOtherCharactersFallInALongText) {
  struct Piece {
    const char* name;
    std::string utf8;
  };
  const Piece pieces[] = {
      {"Cyrillic", "Ж"},
      {"Yo", "ё"},
      {"euro", "€"},
      {"emoji", "\U0001F600"},
      {"outside the page", "ä"},
      {"malformed", "\xD0x"},
      {"lone byte", "\x80"},
  };
  const std::string ascii = "SELECT 1 FROM vodar_g33 WHERE G33MIN10 <= :G33 AND x";
  for (const Piece& p : pieces) {
    for (size_t at = 0; at <= ascii.size(); ++at) {
      SCOPED_TRACE(std::string(p.name) + " at " + std::to_string(at));
      const std::string head = ascii.substr(0, at), tail = ascii.substr(at);
      const std::string text = head + p.utf8 + tail;
      const std::u16string wide = Utf8ToUtf16(text);
      ASSERT_EQ(wide, Utf8ToUtf16(head) + Utf8ToUtf16(p.utf8) + Utf8ToUtf16(tail));
      ASSERT_EQ(ToCodePage1251(text), head + ToCodePage1251(p.utf8) + tail);
      const std::u16string piece16 = Utf8ToUtf16(p.utf8);
      ASSERT_EQ(Utf16ToUtf8(wide), head + Utf16ToUtf8(piece16) + tail);
      ASSERT_EQ(WideToAnsi(wide), head + WideToAnsi(piece16) + tail);
    }
  }
  // A lone surrogate inside a long UTF-16 text.
  std::u16string wide = Utf8ToUtf16(ascii);
  wide.insert(wide.begin() + 9, char16_t{0xD800});
  EXPECT_EQ(Utf16ToUtf8(wide), ascii.substr(0, 9) + "\uFFFD" + ascii.substr(9));
  EXPECT_EQ(WideToAnsi(wide), ascii.substr(0, 9) + "?" + ascii.substr(9));
}

}  // namespace
