// StringList: an ordered list of text lines (UTF-8) with change notification.
//
// Every change fires OnChange once; inside BeginUpdate/EndUpdate the list fires once, when
// the outermost block ends. Lookups compare without regard to the case of Latin letters
// unless CaseSensitive is set.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class StringList {
 public:
  using ChangeHandler = std::function<void(StringList&)>;

  StringList() = default;
  StringList(std::initializer_list<std::string> lines) : lines_(lines) {}
  StringList(const StringList& o) : lines_(o.lines_), delimiter_(o.delimiter_), case_sensitive_(o.case_sensitive_) {}
  StringList& operator=(const StringList& o) {
    Assign(o);
    return *this;
  }
  virtual ~StringList() = default;

  int Count() const { return static_cast<int>(lines_.size()); }
  bool Empty() const { return lines_.empty(); }
  // Raises EListError "List index out of bounds (%d)" outside 0 .. Count()-1.
  const std::string& Get(int index) const;
  const std::string& operator[](int index) const { return Get(index); }
  const std::vector<std::string>& Lines() const { return lines_; }

  int Add(std::string line);
  void Insert(int index, std::string line);
  void Put(int index, std::string line);
  void Delete(int index);
  void Clear();
  // Replaces the lines with another list's, as one change.
  void Assign(const StringList& other);
  void Assign(const std::vector<std::string>& lines);

  // Each line followed by CR LF.
  std::string Text() const;
  // Splits at CR LF, LF or CR; a final line break adds no empty line.
  void SetText(std::string_view text);

  // Lines joined by the delimiter; a line holding the delimiter, a quote or characters up
  // to the blank is written in double quotes.
  std::string DelimitedText() const;
  // Splits at the delimiter and at characters up to the blank; a part in double quotes
  // stays whole (a doubled quote inside stands for one).
  void SetDelimitedText(std::string_view text);
  char Delimiter() const { return delimiter_; }
  void SetDelimiter(char c) { delimiter_ = c; }

  int IndexOf(std::string_view s) const;
  // "name=value" lines.
  std::string Name(int index) const;
  std::string ValueFromIndex(int index) const;
  std::string Value(std::string_view name) const;
  int IndexOfName(std::string_view name) const;

  bool CaseSensitive() const { return case_sensitive_; }
  void SetCaseSensitive(bool v) { case_sensitive_ = v; }

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return update_count_; }

  ChangeHandler OnChange;
  ChangeHandler OnChanging;

 protected:
  void Changing();
  void Changed();

 private:
  bool Same(std::string_view a, std::string_view b) const;

  std::vector<std::string> lines_;
  char delimiter_ = ',';
  bool case_sensitive_ = false;
  int update_count_ = 0;
};

// Holds a list's change notifications for a scope (one notification at its end).
class StringListUpdate {
 public:
  explicit StringListUpdate(StringList& list) : list_(list) { list_.BeginUpdate(); }
  ~StringListUpdate() { list_.EndUpdate(); }
  StringListUpdate(const StringListUpdate&) = delete;
  StringListUpdate& operator=(const StringListUpdate&) = delete;

 private:
  StringList& list_;
};
