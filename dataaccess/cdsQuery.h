// The client query: a client table whose rows come from an SQL statement that the host's
// database manager prepares; and the parameter markers of such a statement.
#pragma once

#include <memory>
#include <string_view>

#include "dataaccess/cdsTable.h"
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

// TcdsQuery: a client table whose rows come from the statement in SQL. Opening hands the
// statement and the parameters to the host's database manager (IDBManager2::OpenSQL of
// the alias connection in RemoteServer), which answers with the provider that serves the
// result; the rows are then fetched from that provider like a table's.
//
//   auto query = TcdsQuery::Create(*template_table);  // shares its connection
//   query->SQL().Add("SELECT ... WHERE g33 = :G33");  // Params rebuilt per change
//   query->ParamByName(u"G33").SetAsString(code);
//   query->Open();
//
// Every change of SQL closes the query and, with ParamCheck on, rebuilds Params from the
// statement, keeping the values of the names that remain (RebuildParamsFromSQL). While a
// form is loaded, a change only rebuilds Params.
class TcdsQuery : public TcdsTable {
 public:
  // The component constructor: ParamCheck on, SQL and Params empty.
  explicit TcdsQuery(Component* owner = nullptr);
  // A query without owner (the caller frees it) that shares the template's connection
  // (RemoteServer, not owned) and takes its Fullname; nothing else is copied.
  static std::unique_ptr<TcdsQuery> Create(TcdsTable& table);
  // Closes, then frees SQL and Params before the table goes.
  ~TcdsQuery() override;

  // --- Published properties, in stored-form order.
  // Whether a change of SQL rebuilds Params.
  bool ParamCheck() const { return param_check_; }
  void SetParamCheck(bool value) { param_check_ = value; }
  // The statement's parameters (never written to a form), the query's own: the client
  // data set's provider parameters stay reachable as ClientDataSet::Params(). Assigning
  // another list copies its values by name onto the entries of this one; which entries
  // exist stays.
  ::Params& Params() { return params_; }
  const ::Params& Params() const { return params_; }
  void SetParams(const ::Params& values) { params_.AssignValues(values); }
  // The statement, one or more lines. Assigning another list with the same joined text
  // changes nothing (an open query stays open); any other text closes the query and
  // replaces the lines as one change.
  StringList& SQL() { return sql_; }
  const StringList& SQL() const { return sql_; }
  void SetSQL(const StringList& lines);
  // Passed to the host with every open; not interpreted here.
  bool UniDirectional() const { return uni_directional_; }
  void SetUniDirectional(bool value) { uni_directional_ = value; }

  // The first entry of Params with that name, without regard to case; EDatabaseError
  // "Parameter '%s' not found" otherwise.
  Param& ParamByName(const WideString& name);
  Param& ParamByName(std::string_view utf8_name) { return params_.ParamByName(utf8_name); }

 protected:
  // The table's before-open steps, then the statement goes to the host's database
  // manager when the connection has one.
  void DoBeforeOpen() override;
  // A failed fetch releases the host's answer again.
  void InternalOpen() override;

 private:
  void QueryChanged();
  void OpenThroughHost();

  bool param_check_ = true;
  ::Params params_;
  StringList sql_;
  bool uni_directional_ = false;
};
