// Format: the platform's printf-like text formatting with checked arguments.
//
// Specifiers: %s (text), %d (integer, optionally with precision as in %.2d = at least two
// digits, zero-padded), %u, %x / %X (hexadecimal), %% (a percent sign); a width
// (%5d, %-5s) is allowed, and %.3s keeps at most three characters. Widths and precisions
// count characters of the UTF-8 text, not bytes; above 1024 they are refused. An argument of the wrong kind, or too few arguments, raises
// EConvertError "Format '<fmt>' invalid or incompatible with argument"; nothing past the
// given arguments is ever read.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

class FormatArg {
 public:
  enum class Kind { Int, Text };
  FormatArg(int v) : kind_(Kind::Int), int_(v) {}
  FormatArg(long v) : kind_(Kind::Int), int_(v) {}
  FormatArg(long long v) : kind_(Kind::Int), int_(v) {}
  FormatArg(unsigned v) : kind_(Kind::Int), int_(v) {}
  FormatArg(unsigned long v) : kind_(Kind::Int), int_(static_cast<int64_t>(v)) {}
  FormatArg(unsigned long long v) : kind_(Kind::Int), int_(static_cast<int64_t>(v)) {}
  FormatArg(const char* v) : kind_(Kind::Text), text_(v ? v : "") {}
  FormatArg(std::string_view v) : kind_(Kind::Text), text_(v) {}
  FormatArg(const std::string& v) : kind_(Kind::Text), text_(v) {}

  Kind kind() const { return kind_; }
  int64_t Int() const { return int_; }
  std::string_view Text() const { return text_; }

 private:
  Kind kind_;
  int64_t int_ = 0;
  std::string_view text_;
};

std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args);
