#include "dataaccess/kvt_strutils.h"

#include "platform/rtl/stringlist.h"
#include "platform/rtl/strutils.h"

void SplitString(std::string_view text, char separator, StringList& list) {
  StringListUpdate update(list);
  list.Clear();
  // The text ends at its end or at the first zero byte, whichever comes first.
  text = text.substr(0, text.find('\0'));
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(separator, pos);
    if (end == std::string_view::npos) end = text.size();
    list.Add(std::string(Trim(text.substr(pos, end - pos))));
    pos = end < text.size() ? end + 1 : end;
  }
}
