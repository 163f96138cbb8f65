// What every fuzz target shares: a check that stops the run with a message (libFuzzer then
// saves the input that broke it), and a comparison of variants that treats two NaNs of the
// same kind as the same value (a float column may carry one through a round trip).
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/com/variant.h"

#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

#define FUZZ_CHECK_MSG(cond, text)                                                      \
  do {                                                                                  \
    if (!(cond)) {                                                                      \
      std::fprintf(stderr, "%s:%d: check failed: %s (%s)\n", __FILE__, __LINE__, #cond, \
                   std::string(text).c_str());                                          \
      std::abort();                                                                     \
    }                                                                                   \
  } while (0)

// Equal kind and value, arrays element by element; NaN equals NaN.
inline bool SameVariant(const Variant& x, const Variant& y) {
  const Variant& a = x.Deref();
  const Variant& b = y.Deref();
  if (a.VType() != b.VType()) return false;
  if (a.IsArray()) {
    if (a.ArrayLow() != b.ArrayLow() || a.Items().size() != b.Items().size()) return false;
    for (size_t i = 0; i < a.Items().size(); ++i)
      if (!SameVariant(a.Items()[i], b.Items()[i])) return false;
    return true;
  }
  switch (a.VType()) {
    case varDouble:
    case varSingle:
    case varDate:
    case varSQLTimeStamp: {
      double p = a.ToDouble(), q = b.ToDouble();
      if (std::isnan(p) && std::isnan(q)) return true;
      return a == b;
    }
    default:
      return a == b;
  }
}

// Bytes with codes up to 32, the ones the platform's Trim removes.
inline bool IsTrimmed(std::string_view s) {
  return s.empty() ||
         (static_cast<unsigned char>(s.front()) > 32 && static_cast<unsigned char>(s.back()) > 32);
}
