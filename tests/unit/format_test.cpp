// Format: specifiers, widths and precisions, and the errors for bad formats and arguments.
#include "platform/rtl/format.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/rtl/exceptions.h"

namespace {

TEST(Format, FormatsEachSpecifier) {
  struct Case {
    std::string actual;
    const char* expected;
  };
  const Case kCases[] = {
      {Format("%s%s/", {"/opt/app/", "db3"}), "/opt/app/db3/"},
      {Format("%s", {std::string("owned")}), "owned"},
      {Format("%d", {42}), "42"},
      {Format("%d", {-42}), "-42"},
      {Format("%d", {-2147483647LL - 1}), "-2147483648"},
      {Format("%.2d", {5}), "05"},
      {Format("%.2d.%.2d", {1, 23}), "01.23"},
      {Format("%.2d", {123}), "123"},
      {Format("%.3d", {-5}), "-005"},
      {Format("%u", {-1}), "4294967295"},
      {Format("%x", {255}), "ff"},
      {Format("%X", {255}), "FF"},
      {Format("%X", {-1}), "FFFFFFFF"},  // 32-bit integers
      {Format("%.4X", {0x1F}), "001F"},
      {Format("%x", {0x1234567890LL}), "1234567890"},
      {Format("100%%", {}), "100%"},
      {Format("%%d", {}), "%d"},
      {Format("%5d|", {42}), "   42|"},
      {Format("%-5d|", {42}), "42   |"},
      {Format("%5s|", {"ab"}), "   ab|"},
      {Format("%-4s|", {"ab"}), "ab  |"},
      {Format("%3s", {"abcdef"}), "abcdef"},  // a width never cuts
      {Format("%.2s", {"abc"}), "ab"},
      {Format("%-6s|", {"Жук"}), "Жук   |"},  // widths count characters, not bytes
      {Format("%.2s", {"Жук"}), "Жу"},        // never half a character
      {Format("%d", {1, 2}), "1"},            // extra arguments are ignored
      {Format("List index out of bounds (%d)", {3}), "List index out of bounds (3)"},
      {Format("", {}), ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(c.actual, c.expected);
  }
}

TEST(Format, BadFormatsAndArgumentsRaise) {
  struct Case {
    const char* format;
    std::function<std::string()> call;
  };
  const Case kCases[] = {
      {"%d %d", [] { return Format("%d %d", {1}); }},  // too few: nothing past them is read
      {"%s", [] { return Format("%s", {}); }},
      {"%d", [] { return Format("%d", {"text"}); }},  // wrong kind
      {"%s", [] { return Format("%s", {5}); }},
      {"%x", [] { return Format("%x", {"ff"}); }},
      {"%q", [] { return Format("%q", {1}); }},  // unknown specifier
      {"%f", [] { return Format("%f", {1}); }},
      {"50%", [] { return Format("50%", {1}); }},  // format ends inside a specifier
      {"%5", [] { return Format("%5", {1}); }},
      {"%-", [] { return Format("%-", {1}); }},
      {"%.", [] { return Format("%.", {1}); }},
      {"%99999999999d", [] { return Format("%99999999999d", {1}); }},  // no overflow
      {"%.99999999999d", [] { return Format("%.99999999999d", {1}); }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.format);
    try {
      std::string text = c.call();
      ADD_FAILURE() << "formatted as '" << text << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(),
                "Format '" + std::string(c.format) + "' invalid or incompatible with argument");
    }
  }
}

}  // namespace
