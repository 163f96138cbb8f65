#include "platform/rtl/stringlist.h"

#include "platform/rtl/exceptions.h"
#include "platform/rtl/strutils.h"

const std::string& StringList::Get(int index) const {
  if (index < 0 || index >= Count()) throw EListError::IndexOutOfBounds(index);
  return lines_[static_cast<size_t>(index)];
}

int StringList::Add(std::string line) {
  Changing();
  lines_.push_back(std::move(line));
  Changed();
  return Count() - 1;
}

void StringList::Insert(int index, std::string line) {
  if (index < 0 || index > Count()) throw EListError::IndexOutOfBounds(index);
  Changing();
  lines_.insert(lines_.begin() + index, std::move(line));
  Changed();
}

void StringList::Put(int index, std::string line) {
  if (index < 0 || index >= Count()) throw EListError::IndexOutOfBounds(index);
  Changing();
  lines_[static_cast<size_t>(index)] = std::move(line);
  Changed();
}

void StringList::Delete(int index) {
  if (index < 0 || index >= Count()) throw EListError::IndexOutOfBounds(index);
  Changing();
  lines_.erase(lines_.begin() + index);
  Changed();
}

void StringList::Clear() {
  if (lines_.empty()) return;
  Changing();
  lines_.clear();
  Changed();
}

void StringList::Assign(const StringList& other) {
  if (&other == this) return;
  Assign(other.lines_);
}

void StringList::Assign(const std::vector<std::string>& lines) {
  BeginUpdate();
  try {
    Changing();
    lines_ = lines;
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::string StringList::Text() const {
  std::string out;
  size_t size = 0;
  for (const auto& l : lines_) size += l.size() + 2;
  out.reserve(size);
  for (const auto& l : lines_) {
    out += l;
    out += "\r\n";
  }
  return out;
}

void StringList::SetText(std::string_view text) {
  std::vector<std::string> lines;
  size_t i = 0;
  while (i < text.size()) {
    size_t j = i;
    while (j < text.size() && text[j] != '\r' && text[j] != '\n') ++j;
    lines.emplace_back(text.substr(i, j - i));
    if (j < text.size() && text[j] == '\r') ++j;
    if (j < text.size() && text[j] == '\n') ++j;
    i = j;
  }
  Assign(lines);
}

std::string StringList::DelimitedText() const {
  std::string out;
  for (size_t n = 0; n < lines_.size(); ++n) {
    const std::string& l = lines_[n];
    bool quote = l.empty() && lines_.size() == 1;
    for (char c : l)
      if (static_cast<unsigned char>(c) <= ' ' || c == '"' || c == delimiter_) quote = true;
    if (n) out.push_back(delimiter_);
    if (!quote) {
      out += l;
      continue;
    }
    out.push_back('"');
    for (char c : l) {
      if (c == '"') out.push_back('"');
      out.push_back(c);
    }
    out.push_back('"');
  }
  return out;
}

void StringList::SetDelimitedText(std::string_view text) {
  std::vector<std::string> lines;
  auto is_sep = [&](char c) { return c == delimiter_ || static_cast<unsigned char>(c) <= ' '; };
  size_t i = 0;
  auto skip_blanks = [&] {
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ' && text[i] != delimiter_) ++i;
  };
  skip_blanks();
  while (i < text.size()) {
    std::string item;
    if (text[i] == '"') {
      ++i;
      while (i < text.size()) {
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            item.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item.push_back(text[i++]);
      }
      // Text right after the closing quote up to the next separator belongs to the item.
      while (i < text.size() && !is_sep(text[i])) item.push_back(text[i++]);
    } else {
      while (i < text.size() && !is_sep(text[i])) item.push_back(text[i++]);
    }
    lines.push_back(std::move(item));
    skip_blanks();
    if (i < text.size() && text[i] == delimiter_) {
      ++i;
      skip_blanks();
      if (i >= text.size()) lines.emplace_back();  // a trailing delimiter ends an empty item
    }
  }
  Assign(lines);
}

bool StringList::Same(std::string_view a, std::string_view b) const {
  return case_sensitive_ ? a == b : SameTextAscii(a, b);
}

int StringList::IndexOf(std::string_view s) const {
  for (int i = 0; i < Count(); ++i)
    if (Same(lines_[static_cast<size_t>(i)], s)) return i;
  return -1;
}

std::string StringList::Name(int index) const {
  const std::string& l = Get(index);
  size_t eq = l.find('=');
  return eq == std::string::npos ? std::string() : l.substr(0, eq);
}

std::string StringList::ValueFromIndex(int index) const {
  const std::string& l = Get(index);
  size_t eq = l.find('=');
  return eq == std::string::npos ? std::string() : l.substr(eq + 1);
}

int StringList::IndexOfName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& l = lines_[static_cast<size_t>(i)];
    size_t eq = l.find('=');
    if (eq != std::string::npos && Same(std::string_view(l).substr(0, eq), name)) return i;
  }
  return -1;
}

std::string StringList::Value(std::string_view name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void StringList::BeginUpdate() {
  if (update_count_ == 0) Changing();
  ++update_count_;
}

void StringList::EndUpdate() {
  if (update_count_ > 0 && --update_count_ == 0) Changed();
}

void StringList::Changing() {
  if (update_count_ == 0 && OnChanging) OnChanging(*this);
}

void StringList::Changed() {
  if (update_count_ == 0 && OnChange) OnChange(*this);
}
