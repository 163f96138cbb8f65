// StringList: change notification, text forms, name=value lines, bounds.
#include "platform/rtl/stringlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"

namespace {

using Lines = std::vector<std::string>;

// A list that counts its notifications.
struct Watched {
  StringList list;
  int changing = 0;
  int changed = 0;
  Watched() {
    list.OnChanging = [this](StringList&) { ++changing; };
    list.OnChange = [this](StringList&) { ++changed; };
  }
};

TEST(StringList, EachChangeNotifiesOnceAndAnUpdateBlockOnceInAll) {
  Watched w;
  w.list.Add("a");
  w.list.Insert(0, "b");
  w.list.Put(1, "c");
  w.list.Delete(0);
  EXPECT_EQ(w.changed, 4);
  EXPECT_EQ(w.changing, 4);

  w.changed = w.changing = 0;
  {
    StringListUpdate outer(w.list);
    w.list.Add("x");
    {
      StringListUpdate inner(w.list);
      w.list.Add("y");
      w.list.Clear();
    }
    EXPECT_EQ(w.changed, 0) << "nothing fires before the outermost block ends";
    w.list.Add("z");
  }
  EXPECT_EQ(w.changed, 1);
  EXPECT_EQ(w.changing, 1);
  EXPECT_EQ(w.list.Lines(), Lines({"z"}));

  for (auto assign : {+[](StringList& l) {
                        l.Assign(StringList{"p", "q", "r"});
                      },
                      +[](StringList& l) { l.SetText("p\r\nq\r\nr"); },
                      +[](StringList& l) { l.SetDelimitedText("p,q,r"); }}) {
    w.changed = w.changing = 0;
    assign(w.list);
    EXPECT_EQ(w.changed, 1) << "replacing all lines is one change";
    EXPECT_EQ(w.changing, 1);
    EXPECT_EQ(w.list.Lines(), Lines({"p", "q", "r"}));
  }
  w.changed = 0;
  w.list.Clear();
  w.list.Clear();  // an empty list does not change
  EXPECT_EQ(w.changed, 1);
}

TEST(StringList, TextEndsEveryLineWithCrLf) {
  EXPECT_EQ(StringList({"a", "", "b"}).Text(), "a\r\n\r\nb\r\n");
  EXPECT_EQ(StringList().Text(), "");

  struct Case {
    const char* text;
    Lines lines;
  };
  const Case kCases[] = {
      {"a\r\nb\r\n", {"a", "b"}},  // a final line break adds no empty line
      {"a\nb", {"a", "b"}},
      {"a\rb", {"a", "b"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"\r\n", {""}},
      {"", {}},
      {" x \r\n", {" x "}},  // lines are kept as they are
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    StringList l{"old"};
    l.SetText(c.text);
    EXPECT_EQ(l.Lines(), c.lines);
  }
}

TEST(StringList, DelimitedTextSplitsAtTheDelimiterBlanksAndControlCharacters) {
  struct Case {
    const char* text;
    Lines lines;
  };
  const Case kCases[] = {
      {"G33;G33LEN", {"G33", "G33LEN"}},
      {"REGNOM,G33MIN", {"REGNOM,G33MIN"}},  // only ";" delimits here
      {"a b\tc\x01"
       "d",
       {"a", "b", "c", "d"}},
      {"  a ;  b  ", {"a", "b"}},
      {"\"a b;c\";d", {"a b;c", "d"}},         // a quoted part stays whole
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},  // a doubled quote stands for one
      {"a;;b", {"a", "", "b"}},
      {"a;", {"a", ""}},  // a trailing delimiter ends an empty item
      {"", {}},
      {"   ", {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    StringList l;
    l.SetDelimiter(';');
    l.SetDelimitedText(c.text);
    EXPECT_EQ(l.Lines(), c.lines);
  }

  StringList l{"plain", "two words", "semi;colon", "quo\"te", ""};
  l.SetDelimiter(';');
  EXPECT_EQ(l.DelimitedText(), "plain;\"two words\";\"semi;colon\";\"quo\"\"te\";");
  StringList back;
  back.SetDelimiter(';');
  back.SetDelimitedText(l.DelimitedText());
  EXPECT_EQ(back.Lines(), l.Lines());
}

TEST(StringList, NamesAndValues) {
  StringList l{"G441=F5", "Key=a=b", "plain", "g441=late"};
  EXPECT_EQ(l.Name(0), "G441");
  EXPECT_EQ(l.ValueFromIndex(1), "a=b");
  EXPECT_EQ(l.Name(2), "");
  EXPECT_EQ(l.Value("g441"), "F5") << "the first match, without regard to case";
  EXPECT_EQ(l.Value("KEY"), "a=b");
  EXPECT_EQ(l.Value("missing"), "");
  EXPECT_EQ(l.IndexOfName("plain"), -1);
  EXPECT_EQ(l.IndexOf("PLAIN"), 2);
  l.SetCaseSensitive(true);
  EXPECT_EQ(l.IndexOf("PLAIN"), -1);
  EXPECT_EQ(l.Value("g441"), "late");
}

TEST(StringList, IndexesOutsideTheListRaise) {
  StringList l{"a", "b"};
  struct Case {
    const char* name;
    void (*call)(StringList&);
    int index;
  };
  const Case kCases[] = {
      {"Get -1", [](StringList& s) { (void)s.Get(-1); }, -1},
      {"Get 2", [](StringList& s) { (void)s[2]; }, 2},
      {"Put 2", [](StringList& s) { s.Put(2, "x"); }, 2},
      {"Delete 5", [](StringList& s) { s.Delete(5); }, 5},
      {"Insert 3", [](StringList& s) { s.Insert(3, "x"); }, 3},
      {"Name 2", [](StringList& s) { (void)s.Name(2); }, 2},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    try {
      c.call(l);
      ADD_FAILURE() << "no error";
    } catch (const EListError& e) {
      EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(c.index) + ")");
    }
  }
  EXPECT_EQ(l.Lines(), Lines({"a", "b"}));
  l.Insert(2, "c");  // inserting at the end is allowed
  EXPECT_EQ(l.Count(), 3);
}

}  // namespace
