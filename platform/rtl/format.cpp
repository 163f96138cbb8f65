#include "platform/rtl/format.h"

#include <cstdint>

#include "platform/rtl/codepage.h"
#include "platform/rtl/exceptions.h"

namespace {
[[noreturn]] void Invalid(std::string_view fmt) {
  throw EConvertError("Format '" + std::string(fmt) + "' invalid or incompatible with argument");
}

// Width and precision count characters, not bytes: the text is UTF-8.
void Pad(std::string& out, std::string_view body, int width, bool left) {
  int pad = width - static_cast<int>(Utf8Length(body));
  if (pad > 0 && !left) out.append(static_cast<size_t>(pad), ' ');
  out.append(body);
  if (pad > 0 && left) out.append(static_cast<size_t>(pad), ' ');
}

// The first `chars` characters of UTF-8 text (never a part of one).
std::string_view Utf8Prefix(std::string_view s, size_t chars) {
  size_t i = 0;
  for (size_t n = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (n++ == chars) break;
  }
  return s.substr(0, i);
}
}  // namespace

std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(fmt.size() + 16);
  auto arg = args.begin();
  for (size_t i = 0; i < fmt.size(); ++i) {
    char c = fmt[i];
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    if (++i >= fmt.size()) Invalid(fmt);
    if (fmt[i] == '%') {
      out.push_back('%');
      continue;
    }
    bool left = false;
    if (fmt[i] == '-') {
      left = true;
      if (++i >= fmt.size()) Invalid(fmt);
    }
    // Numbers above kMaxWidth are refused (and stop growing, so they cannot overflow).
    constexpr int kMaxWidth = 1024;
    auto number = [&](int& n) {
      while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
        n = n * 10 + (fmt[i++] - '0');
        if (n > kMaxWidth) Invalid(fmt);
      }
    };
    int width = 0, precision = -1;
    number(width);
    if (i < fmt.size() && fmt[i] == '.') {
      precision = 0;
      ++i;
      number(precision);
    }
    if (i >= fmt.size()) Invalid(fmt);
    if (arg == args.end()) Invalid(fmt);
    const FormatArg& a = *arg++;
    char spec = fmt[i];
    switch (spec) {
      case 's': {
        if (a.kind() != FormatArg::Kind::Text) Invalid(fmt);
        std::string_view t = a.Text();
        if (precision >= 0) t = Utf8Prefix(t, static_cast<size_t>(precision));
        Pad(out, t, width, left);
        break;
      }
      case 'd':
      case 'u':
      case 'x':
      case 'X': {
        if (a.kind() != FormatArg::Kind::Int) Invalid(fmt);
        int64_t v = a.Int();
        bool negative = spec == 'd' && v < 0;
        uint64_t mag;
        if (spec == 'd') {
          mag = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        } else if (v >= INT32_MIN && v <= static_cast<int64_t>(UINT32_MAX)) {
          // The platform's integers are 32 bits wide: -1 shows as FFFFFFFF.
          mag = static_cast<uint32_t>(v);
        } else {
          mag = static_cast<uint64_t>(v);
        }
        // Digits, then zero padding up to the precision, then the sign.
        const char* digits = spec == 'x' ? "0123456789abcdef" : "0123456789ABCDEF";
        unsigned base = (spec == 'x' || spec == 'X') ? 16 : 10;
        std::string body;
        do {
          body.insert(body.begin(), digits[mag % base]);
          mag /= base;
        } while (mag != 0);
        if (precision > static_cast<int>(body.size()))
          body.insert(0, static_cast<size_t>(precision) - body.size(), '0');
        if (negative) body.insert(body.begin(), '-');
        Pad(out, body, width, left);
        break;
      }
      default:
        Invalid(fmt);
    }
  }
  return out;
}
