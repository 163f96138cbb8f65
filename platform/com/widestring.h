// WideString: UTF-16 text that crosses interfaces. It owns its buffer; interfaces take
// it by const reference and answer it by value.
#pragma once

#include <string>
#include <string_view>

class WideString {
 public:
  WideString() = default;
  WideString(std::u16string s) : s_(std::move(s)) {}
  WideString(std::u16string_view s) : s_(s) {}
  WideString(const char16_t* s) : s_(s ? s : u"") {}

  static WideString FromUtf8(std::string_view utf8);
  std::string ToUtf8() const;
  // The text reduced to code page 1251's repertoire ("?" for the rest), as UTF-8.
  std::string ToAnsi() const;

  const std::u16string& str() const noexcept { return s_; }
  std::u16string& str() noexcept { return s_; }
  const char16_t* c_str() const noexcept { return s_.c_str(); }
  size_t length() const noexcept { return s_.size(); }
  bool empty() const noexcept { return s_.empty(); }
  operator std::u16string_view() const noexcept { return s_; }

  friend bool operator==(const WideString& a, const WideString& b) = default;
  friend auto operator<=>(const WideString& a, const WideString& b) = default;
  friend WideString operator+(const WideString& a, const WideString& b) { return a.s_ + b.s_; }

 private:
  std::u16string s_;
};
