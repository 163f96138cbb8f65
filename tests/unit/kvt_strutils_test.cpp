#include "dataaccess/kvt_strutils.h"

#include <gtest/gtest.h>

#include "platform/rtl/stringlist.h"

namespace {

struct SplitCase {
  std::string_view text;
  std::vector<std::string> items;
};

const SplitCase kSplitCases[] = {
    {"", {}},
    {"a;b", {"a", "b"}},
    {" a ;\tb\r\n", {"a", "b"}},
    {"a;;b", {"a", "", "b"}},
    {";a", {"", "a"}},
    {"a;", {"a"}},
    {";", {""}},
    {";;", {"", ""}},
    {" ; ", {"", ""}},
    {"   ", {""}},
    {std::string_view("a;b\0;c", 6), {"a", "b"}},  // a zero byte ends the text
    {std::string_view("\0a", 2), {}},
    {"Объекты ; ИС", {"Объекты", "ИС"}},  // bytes above 127 are never trimmed
};

TEST(SplitString, SplitsTrimsAndKeepsEmptyItems) {
  for (const auto& c : kSplitCases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    StringList list{"old"};
    SplitString(c.text, ';', list);
    EXPECT_EQ(list.Lines(), c.items);
  }
}

TEST(SplitString, DottedVersionGivesItsParts) {
  StringList list;
  SplitString("2022.5.1.3", '.', list);
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"2022", "5", "1", "3"}));
}

TEST(SplitString, NotifiesOnce) {
  StringList list{"x"};
  int changes = 0;
  list.OnChange = [&](StringList&) { ++changes; };
  SplitString("a;b;c", ';', list);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(list.UpdateCount(), 0);
}

}  // namespace
