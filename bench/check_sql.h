// The statements of one commodity-code check, exactly as the module sends them to the host's
// database manager: three lines, each followed by CR LF. The benchmark's floor runs these
// texts straight through SQLite, and the benchmark verifies against the host's statement
// cache that the module sent the very same texts.
#pragma once

#include <string>
#include <string_view>

enum class CheckForm { kPrefix, kRange };

// Codes of at least this many characters are full codes (range form).
constexpr size_t kFullCodeLength = 10;

inline CheckForm FormOf(std::string_view code) {
  return code.size() < kFullCodeLength ? CheckForm::kPrefix : CheckForm::kRange;
}

inline const char* FormName(CheckForm form) {
  return form == CheckForm::kPrefix ? "prefix" : "range";
}

// The register check (vodar_g33, with the date condition).
inline std::string RegisterCheckSql(CheckForm form) {
  const char* where =
      form == CheckForm::kPrefix
          ? "((substr(:G33, 1, min(length(g33min), :G33LEN)) >= substr(g33min, 1, "
            "min(length(g33min), :G33LEN))) and (substr(:G33, 1, min(length(coalesce(g33max, "
            "g33min)), :G33LEN)) <= substr(coalesce(g33max, g33min), 1, "
            "min(length(coalesce(g33max, g33min)), :G33LEN))))"
          : "(:G33 BETWEEN G33MIN10 AND G33MAX10)";
  return std::string("SELECT CASE WHEN EXISTS(SELECT 1 FROM vodar_g33 WHERE \r\n") + where +
         "\r\n AND (:TODAY <= DATEEND)) THEN 1 ELSE 0 END AS ex\r\n";
}

// The order-1532 check (omit1532, no date condition).
inline std::string OmitCheckSql(CheckForm form) {
  const char* where = form == CheckForm::kPrefix
                          ? "(substr(:G33, 1, min(length(g33), :G33LEN)) = substr(g33, 1, "
                            "min(length(g33), :G33LEN)))"
                          : "(:G33 BETWEEN G33MIN10 AND G33MAX10)";
  return std::string("SELECT CASE WHEN EXISTS(SELECT 1 FROM omit1532 WHERE \r\n") + where +
         "\r\n) THEN 1 ELSE 0 END AS ex\r\n";
}
