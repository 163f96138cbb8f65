// What a benchmark run found: the measurements of every benchmark, the comparisons drawn
// from them (stack over floor, the fixed cost of a check, what the check indexes buy), the
// resident memory over many checks, and the goals. Written as JSON and as a short table.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/check_sql.h"
#include "bench/codemix.h"

enum class CheckPath { kFloor, kStack };

// A time not measured yet.
inline constexpr double kNoTime = 1e300;

inline const char* PathName(CheckPath path) {
  return path == CheckPath::kFloor ? "floor" : "stack";
}

// A register file of the run.
struct RegisterInfo {
  std::string label;  // "8000", "8000 declared"
  std::string size;   // "tiny", "2000", ...
  bool check_indexes = true;
  std::string path;
  long long objects = 0, code_ranges = 0, omit_rows = 0;
};

// One benchmark: a group of codes (a register, a form, hits or misses). Every iteration runs
// each code through the floor and through the whole stack back to back, A B B A, each check
// timed on the thread's CPU clock: both sides meet the same state of the machine.
struct BenchmarkInfo {
  std::string name;  // as registered with Google Benchmark
  size_t register_index = 0;
  CheckForm form = CheckForm::kPrefix;
  CodeKind kind = CodeKind::kHit;
  size_t codes = 0;  // codes of the group
  // Per repetition, in microseconds: all the group's codes once on each side, on average,
  // CPU and real time.
  std::vector<double> floor_cpu_us, stack_cpu_us, floor_real_us, stack_real_us;
  // Per code, in microseconds: its quickest check on each side (CPU time), over all runs.
  std::vector<double> floor_code_best_us, stack_code_best_us;
  int64_t iterations = 0;  // of all repetitions together
  std::string error;

  // One check in microseconds: the mean over the codes of each code's quickest check on that
  // side (the load of the rest of the machine only ever adds time, and both sides run every
  // code equally often).
  double CheckUs(CheckPath path) const;
  // One check on average over the best repetition: CPU time and real time.
  double CheckMeanUs(CheckPath path) const;
  double CheckRealUs(CheckPath path) const;
  bool Measured(CheckPath path) const;
};

struct MemoryInfo {
  bool measured = false;
  std::string register_label;
  uint64_t checks = 0;
  uint64_t rss_before = 0, rss_after = 0;  // bytes
};

class Report {
 public:
  std::vector<RegisterInfo> registers;
  std::vector<BenchmarkInfo> benchmarks;
  MemoryInfo memory;
  std::string stack_error;  // why the whole stack was not measured ("" when it was)
  std::string today;
  size_t codes_per_group = 0;
  std::string load_before, load_after;  // the machine's load averages (1, 5, 15 minutes)

  BenchmarkInfo* Find(const std::string& name);
  // Writes the JSON file; false, with *error set, when it cannot.
  bool WriteJson(const std::string& file, std::string* error) const;
  // The short table and the goals.
  void PrintTable(std::FILE* out) const;

 private:
  struct FormFigures {
    bool complete = false;
    double floor_us = 0, stack_us = 0;  // one check, hits and misses weighted equally
  };
  // The measured group of a register, form and kind (for `path`), or null.
  const BenchmarkInfo* Lookup(CheckPath path, size_t reg, CheckForm form, CodeKind kind) const;
  FormFigures Figures(size_t reg, CheckForm form) const;
  // Index of the register of that size and index variant, or -1.
  long RegisterOf(const std::string& size, bool check_indexes) const;

  struct Goal {
    std::string name;
    double value = 0, limit = 0;
    bool at_most = true;
    bool measured = false;
    std::string unit;
    bool Met() const { return measured && (at_most ? value <= limit : value >= limit); }
  };
  std::vector<Goal> Goals() const;
};
