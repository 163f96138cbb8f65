// The codes a benchmark asks about, drawn with a fixed seed from the register file itself
// and sorted by what the floor answers for them today:
//
//   range form, hit    a ten-digit code inside the range of a row in force
//   range form, miss   a ten-digit code inside the range of an expired row, or just below or
//                      just above a range, that no row in force and no order-1532 row covers
//   prefix form, hit   a leading part (4, 6, 8 or 9 digits) of a bound of a row in force
//   prefix form, miss  the leading 9, 8 or 6 digits of such a miss, when nothing in force
//                      and nothing on the order-1532 list overlaps them
//
// The same file and day give the same codes, so every path of a run sees the same mix.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/check_sql.h"

class FloorRegister;

enum class CodeKind { kHit, kMiss };

inline const char* KindName(CodeKind kind) {
  return kind == CodeKind::kHit ? "hit" : "miss";
}

struct CodeMix {
  // By form, then kind.
  std::array<std::array<std::vector<std::string>, 2>, 2> codes;

  std::vector<std::string>& Of(CheckForm form, CodeKind kind) {
    return codes[static_cast<size_t>(form)][static_cast<size_t>(kind)];
  }
  const std::vector<std::string>& Of(CheckForm form, CodeKind kind) const {
    return codes[static_cast<size_t>(form)][static_cast<size_t>(kind)];
  }
  // Every code of the mix, the four groups interleaved.
  std::vector<std::string> All() const;
};

// Draws `per_group` distinct codes of each group from `floor`'s register (fewer when the
// file cannot give that many within a bounded number of attempts). `today` is the date-time
// text the checks bind.
CodeMix DrawCodeMix(FloorRegister& floor, const std::string& today, size_t per_group,
                    uint64_t seed);
