#include "bench/codemix.h"

#include <sqlite3.h>

#include <algorithm>
#include <set>
#include <stdexcept>

#include "bench/floor.h"

namespace {

// splitmix64: the same sequence for a seed on every machine.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform enough in [0, n) for n well below 2^32.
  uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }

 private:
  uint64_t state_;
};

struct RangeRow {
  std::string g33min, g33min10, g33max10, dateend;
  bool in_force = false;
};

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A ten-digit code as a number and back.
uint64_t CodeNumber(const std::string& code) {
  return std::stoull(code);
}
std::string CodeText(uint64_t n) {
  std::string s = std::to_string(n);
  return std::string(s.size() < 10 ? 10 - s.size() : 0, '0') + s;
}

class RowReader {
 public:
  explicit RowReader(FloorRegister& floor) : db_(floor.Handle()) {
    if (sqlite3_prepare_v2(db_,
                           "SELECT G33MIN, G33MIN10, G33MAX10, coalesce(DATEEND, '') "
                           "FROM vodar_g33 WHERE rowid = ?1",
                           -1, &st_, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
    max_rowid_ = floor.QueryInt("SELECT coalesce(max(rowid), 0) FROM vodar_g33");
  }
  ~RowReader() { sqlite3_finalize(st_); }
  RowReader(const RowReader&) = delete;
  RowReader& operator=(const RowReader&) = delete;

  // The row at a random rowid; false when there is none there.
  bool Random(Rng& rng, const std::string& today, RangeRow& row) {
    if (max_rowid_ <= 0) return false;
    sqlite3_bind_int64(st_, 1, static_cast<sqlite3_int64>(rng.Below(max_rowid_)) + 1);
    bool found = sqlite3_step(st_) == SQLITE_ROW;
    if (found) {
      auto text = [&](int c) {
        const unsigned char* t = sqlite3_column_text(st_, c);
        return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
      };
      row.g33min = text(0);
      row.g33min10 = text(1);
      row.g33max10 = text(2);
      row.dateend = text(3);
      row.in_force = !row.dateend.empty() && today <= row.dateend;
      found = AllDigits(row.g33min) && AllDigits(row.g33min10) && AllDigits(row.g33max10) &&
              row.g33min10.size() == 10 && row.g33max10.size() == 10 &&
              row.g33min10 <= row.g33max10;
    }
    sqlite3_reset(st_);
    return found;
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* st_ = nullptr;
  long long max_rowid_ = 0;
};

// Whether any row in force, or any order-1532 row, has a range that meets the codes a code
// (or a leading part: all codes that begin with it) stands for; answered by the check
// indexes (or the table, without them).
class OverlapProbe {
 public:
  OverlapProbe(FloorRegister& floor, const std::string& today) : db_(floor.Handle()) {
    if (sqlite3_prepare_v2(db_,
                           "SELECT EXISTS(SELECT 1 FROM vodar_g33 WHERE G33MAX10 >= ?1 AND "
                           "G33MIN10 <= ?2 AND DATEEND >= ?3) OR EXISTS(SELECT 1 FROM omit1532 "
                           "WHERE G33MAX10 >= ?1 AND G33MIN10 <= ?2)",
                           -1, &st_, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
    sqlite3_bind_text(st_, 3, today.c_str(), -1, SQLITE_TRANSIENT);
  }
  ~OverlapProbe() { sqlite3_finalize(st_); }
  OverlapProbe(const OverlapProbe&) = delete;
  OverlapProbe& operator=(const OverlapProbe&) = delete;

  bool Overlaps(const std::string& code) {
    std::string lo = code, hi = code;
    if (lo.size() < kFullCodeLength) {
      lo.resize(kFullCodeLength, '0');
      hi.resize(kFullCodeLength, '9');
    }
    sqlite3_bind_text(st_, 1, lo.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st_, 2, hi.c_str(), -1, SQLITE_TRANSIENT);
    const bool overlaps = sqlite3_step(st_) != SQLITE_ROW || sqlite3_column_int(st_, 0) != 0;
    sqlite3_reset(st_);
    return overlaps;
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* st_ = nullptr;
};

// A leading part of a row's lower bound: 4, 6, 8 or 9 digits, never the whole ten.
std::string LeadingPart(Rng& rng, const std::string& g33min) {
  static constexpr size_t kLengths[] = {4, 6, 8, 9};
  size_t length = kLengths[rng.Below(4)];
  length = std::min(length, g33min.size());
  return g33min.substr(0, std::min(length, kFullCodeLength - 1));
}

}  // namespace

std::vector<std::string> CodeMix::All() const {
  std::vector<std::string> all;
  size_t longest = 0;
  for (const auto& by_form : codes)
    for (const auto& group : by_form) longest = std::max(longest, group.size());
  for (size_t i = 0; i < longest; ++i)
    for (const auto& by_form : codes)
      for (const auto& group : by_form)
        if (i < group.size()) all.push_back(group[i]);
  return all;
}

CodeMix DrawCodeMix(FloorRegister& floor, const std::string& today, size_t per_group,
                    uint64_t seed) {
  CodeMix mix;
  RowReader rows(floor);
  OverlapProbe probe(floor, today);
  // Enough attempts for sparse groups, bounded so that a register without misses ends.
  const size_t max_attempts = per_group * 2000;
  for (CheckForm form : {CheckForm::kPrefix, CheckForm::kRange}) {
    for (CodeKind kind : {CodeKind::kHit, CodeKind::kMiss}) {
      Rng rng(seed + static_cast<uint64_t>(form) * 2 + static_cast<uint64_t>(kind));
      std::vector<std::string>& out = mix.Of(form, kind);
      std::set<std::string> seen;
      const bool want_hit = kind == CodeKind::kHit;
      for (size_t attempt = 0; attempt < max_attempts && out.size() < per_group; ++attempt) {
        RangeRow row;
        if (!rows.Random(rng, today, row)) continue;
        std::string code;
        if (want_hit) {
          // A code inside the range of a row in force, or a leading part of its lower bound.
          if (!row.in_force) continue;
          if (form == CheckForm::kRange) {
            const uint64_t lo = CodeNumber(row.g33min10), hi = CodeNumber(row.g33max10);
            code = CodeText(lo + rng.Below(hi - lo + 1));
          } else {
            code = LeadingPart(rng, row.g33min);
          }
        } else {
          // A code inside an expired row's range, or just below or just above a range; in
          // the prefix form its leading 9, 8 or 6 digits.
          const uint64_t lo = CodeNumber(row.g33min10), hi = CodeNumber(row.g33max10);
          switch (attempt % 3) {
            case 0:
              if (row.in_force) continue;
              code = CodeText(lo + rng.Below(hi - lo + 1));
              break;
            case 1:
              if (lo == 0) continue;
              code = CodeText(lo - 1);
              break;
            default:
              if (hi >= 9999999999ull) continue;
              code = CodeText(hi + 1);
              break;
          }
          if (form == CheckForm::kPrefix) {
            static constexpr size_t kLengths[] = {9, 8, 6};
            code.resize(kLengths[rng.Below(3)]);
          }
          // Most such codes still meet a row in force: the index answers that cheaply, and
          // only the others are asked the way the module asks (a prefix-form miss reads
          // the whole table).
          if (probe.Overlaps(code)) continue;
        }
        if (FormOf(code) != form || seen.count(code)) continue;
        if (floor.CheckCode(code, today) != want_hit) continue;
        seen.insert(code);
        out.push_back(code);
      }
    }
  }
  return mix;
}
