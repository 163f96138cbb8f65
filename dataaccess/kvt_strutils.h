// Small text helpers shared across the data access layer and the module information.
#pragma once

#include <string_view>

class StringList;

// Splits `text` at `separator` into `list`, replacing what the list held. Each item is
// trimmed of bytes with codes up to 32 and appended also when it is empty; a separator at
// the very end adds no empty item, and a zero byte ends the text. The list's change
// notifications are held back for the whole routine (one notification at its end).
//
//   "a;b" -> a, b      "a;;b" -> a, "", b      ";a" -> "", a      "a;" -> a
//   ";" -> ""          "" -> (nothing)         " a ; b " -> a, b
void SplitString(std::string_view text, char separator, StringList& list);
