// The client query: a client table whose rows come from an SQL statement that the host's
// database manager prepares; and the parameter markers of such a statement.
#pragma once

#include <string_view>

#include "platform/db/params.h"

// Finds the parameter markers of an SQL text, in order of appearance.
//
//   - ":" starts a marker unless it lies inside a quoted part or is followed by a second
//     ":" ("::" stands for a literal colon and starts nothing; ":::a" is "::" then ":a").
//   - A quoted part starts at an apostrophe, a double quote or a grave accent and ends at
//     the next of any of these three (or the end of the text); nothing inside it is a
//     marker.
//   - The name runs from after the ":" up to the next blank, ",", ";", ")", CR or LF that
//     lies outside a quoted part, or to the end of the text. A name that starts with a
//     quote character (":"my name"") loses that quote and a quote that ends it.
//   - A marker whose name comes out empty (a ":" at the very end of the text, or right
//     before one of the characters that end a name, or ":''") yields nothing: no
//     parameter can be bound under an empty name, and every name the scanner answers is
//     one a caller can look up.
//
// The text is scanned as bytes; UTF-8 sequences never contain the characters above.
class ParamMarkerScanner {
 public:
  explicit ParamMarkerScanner(std::string_view sql) noexcept : sql_(sql) {}
  // The next marker's name (a view into the text); false when there is none left.
  bool Next(std::string_view& name) noexcept;

 private:
  std::string_view sql_;
  size_t pos_ = 0;
};

// Appends one entry per marker of `sql` to `params` (a name that occurs several times
// gives several entries). New entries have an unknown data type and parameter type, an
// empty (null) value, are unbound and have zero size, precision and numeric scale.
void AppendParamsFromSQL(std::string_view sql, Params& params);

// Replaces `params` by the entries of `sql`'s markers. Each entry of the old list, in
// order, hands its value to the first new entry of its name (Param::AssignValue), so a
// name that occurs twice in the old list ends with its last occurrence's value.
void RebuildParamsFromSQL(std::string_view sql, Params& params);
