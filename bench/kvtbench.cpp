// kvtbench: what a commodity-code check costs through the whole stack (the module's manager
// inside the reference host, embedded in this process as kvthost embeds it) against the
// floor (the same two statements straight through SQLite, prepared once), on sample
// registers of several sizes with and without the check indexes. Writes the figures as JSON
// and prints a short table with the goals.
//
// Every benchmark is one group of codes (a register, a form, hits or misses). Each iteration
// runs every code of the group through the floor and through the stack back to back (A B B
// A), each check timed on the thread's CPU clock: both sides meet the same state of the
// machine, and time the thread spends descheduled counts for neither. A check's figure is
// its quickest run. The repetitions of all benchmarks run interleaved at random.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/codemix.h"
#include "bench/floor.h"
#include "bench/report.h"
#include "bench/stack.h"
#include "platform/rtl/datetime.h"

#ifndef KVT_BENCH_DIR
#define KVT_BENCH_DIR "build/bench"
#endif

namespace {

const char kUsage[] =
    "Usage: kvtbench [--out FILE] [--registers DIR] [--sizes LIST] [--codes N]\n"
    "                [--memory-checks N] [--repetitions N] [--benchmark_... flags]\n"
    "\n"
    "Measures CheckCode through the whole stack (the module's manager inside the reference\n"
    "host) against the floor (the module's statements straight through SQLite).\n"
    "\n"
    "  --out FILE           write the figures as JSON to FILE (default DIR/results.json)\n"
    "  --registers DIR      the register files (default " KVT_BENCH_DIR
    ", made by the\n"
    "                       build target bench_registers)\n"
    "  --sizes LIST         registers to measure, of tiny,2000,8000,32000 (default all)\n"
    "  --codes N            codes per group (form x hit/miss; default 12)\n"
    "  --memory-checks N    checks of the resident-memory run (default 100000; 0 skips it)\n"
    "  --repetitions N      repetitions of each benchmark (default 3)\n"
    "  --profile N          only run N checks through the whole stack on the first register\n"
    "                       of --sizes, then stop (for perf or valgrind; --path floor for the\n"
    "                       floor's)\n"
    "  --path PATH          what --profile runs: stack (default) or floor\n"
    "  --benchmark_...      Google Benchmark's own flags (for example --benchmark_filter)\n";

struct Options {
  std::string out;
  std::string registers = KVT_BENCH_DIR;
  std::vector<std::string> sizes = {"tiny", "2000", "8000", "32000"};
  size_t codes = 12;
  uint64_t memory_checks = 100000;
  int repetitions = 3;
  uint64_t profile_checks = 0;  // --profile: 0 runs the benchmarks
  CheckPath profile_path = CheckPath::kStack;
};

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

uint64_t Number(const std::string& option, const char* text, uint64_t max) {
  char* end = nullptr;
  errno = 0;
  unsigned long long n = std::strtoull(text, &end, 10);
  if (*text < '0' || *text > '9' || errno != 0 || *end != '\0' || n > max)
    throw UsageError(option + " takes a number up to " + std::to_string(max) + ", not '" + text +
                     "'");
  return n;
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) throw UsageError(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--out") {
      o.out = value();
    } else if (arg == "--registers") {
      o.registers = value();
    } else if (arg == "--sizes") {
      o.sizes.clear();
      std::string list = value();
      size_t start = 0;
      while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        std::string size = list.substr(start, comma - start);
        if (size != "tiny" && size != "2000" && size != "8000" && size != "32000")
          throw UsageError("--sizes takes tiny, 2000, 8000 and 32000, not '" + size + "'");
        o.sizes.push_back(size);
        start = comma + 1;
      }
    } else if (arg == "--codes") {
      o.codes = Number(arg, value(), 1000);
      if (o.codes == 0) throw UsageError("--codes takes at least 1");
    } else if (arg == "--memory-checks") {
      o.memory_checks = Number(arg, value(), 100000000);
    } else if (arg == "--repetitions") {
      o.repetitions = static_cast<int>(Number(arg, value(), 100));
      if (o.repetitions == 0) throw UsageError("--repetitions takes at least 1");
    } else if (arg == "--profile") {
      o.profile_checks = Number(arg, value(), 100000000);
      if (o.profile_checks == 0) throw UsageError("--profile takes at least 1");
    } else if (arg == "--path") {
      const std::string path = value();
      if (path != "stack" && path != "floor")
        throw UsageError("--path takes stack or floor, not '" + path + "'");
      o.profile_path = path == "stack" ? CheckPath::kStack : CheckPath::kFloor;
    } else {
      throw UsageError("unknown argument '" + arg + "'");
    }
  }
  if (o.out.empty()) o.out = o.registers + "/results.json";
  return o;
}

// The machine's load averages over 1, 5 and 15 minutes ("" when unknown).
std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return in ? one + " " + five + " " + fifteen : std::string();
}

// Resident size of this process in bytes.
uint64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  uint64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

// What the benchmarks share.
struct BenchRun {
  Report report;
  std::vector<std::unique_ptr<FloorRegister>> floors;  // by register
  std::vector<CodeMix> mixes;                          // by register
  std::unique_ptr<HostStack> stack;
  std::string today;
};

BenchRun* g_run = nullptr;

// Collects the repetitions of every benchmark and shows one line per repetition.
class Collector : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<BenchmarkReporter::Run>& runs) override {
    for (const BenchmarkReporter::Run& r : runs) {
      if (r.run_type != BenchmarkReporter::Run::RT_Iteration) continue;
      BenchmarkInfo* b = g_run->report.Find(r.run_name.function_name);
      if (b == nullptr) continue;
      if (r.error_occurred) {
        b->error = r.error_message;
        std::fprintf(stderr, "  %-28s error: %s\n", b->name.c_str(), r.error_message.c_str());
        continue;
      }
      auto counter = [&](const char* name) {
        auto it = r.counters.find(name);
        return it == r.counters.end() ? -1.0 : it->second.value;
      };
      // Per iteration (the counters are averaged over the iterations), in microseconds.
      b->floor_cpu_us.push_back(counter("floor_cpu_us"));
      b->floor_real_us.push_back(counter("floor_real_us"));
      if (counter("stack_cpu_us") >= 0) {
        b->stack_cpu_us.push_back(counter("stack_cpu_us"));
        b->stack_real_us.push_back(counter("stack_real_us"));
      }
      b->iterations += r.iterations;
      const double n = static_cast<double>(b->codes);
      std::fprintf(stderr, "  %-28s floor %10.1f us  stack %10.1f us a check (%lld iterations)\n",
                   b->name.c_str(), counter("floor_cpu_us") / n, counter("stack_cpu_us") / n,
                   static_cast<long long>(r.iterations));
    }
  }
};

double ThreadCpuUs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// What one reading of the thread's CPU clock costs: taken off every timed check.
double g_clock_us = 0;

void CalibrateClock() {
  double best = 1e300;
  for (int i = 0; i < 1000; ++i) {
    const double t0 = ThreadCpuUs();
    best = std::min(best, ThreadCpuUs() - t0);
  }
  g_clock_us = best;
}

double RealUs() {
  return std::chrono::duration<double, std::micro>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One side of a benchmark: a way to check a code, and the time it took.
struct Side {
  std::function<bool(const std::string&)> check;
  double cpu_us = 0, real_us = 0;  // all checks so far
  // The quickest run of each code so far, CPU time: kept across the benchmark's runs.
  std::vector<double>* best = nullptr;

  // Runs code i once, timed on its own; false, with *error set, on a wrong answer or an
  // error.
  bool Check(size_t i, const std::string& code, bool expect, std::string* error) {
    const double real0 = RealUs();
    const double cpu0 = ThreadCpuUs();
    const bool ok = Run(code, expect, error);
    const double cpu = std::max(0.0, ThreadCpuUs() - cpu0 - g_clock_us);
    real_us += RealUs() - real0;
    if (!ok) return false;
    cpu_us += cpu;
    (*best)[i] = std::min((*best)[i], cpu);
    return true;
  }
  // Untimed: the codes once, as long as that takes less than a fifth of a second. The
  // connection's page cache then holds what the timed checks read (the stack reopens the
  // register when another file was served before). The first check always runs: it lets
  // the host open the file and prepare the statements.
  bool WarmUp(const std::vector<std::string>& codes, bool expect, std::string* error) {
    const double until = RealUs() + 200000;
    for (const std::string& code : codes) {
      if (!Run(code, expect, error)) return false;
      if (RealUs() > until) break;
    }
    return true;
  }

 private:
  bool Run(const std::string& code, bool expect, std::string* error) {
    try {
      if (check(code) == expect) return true;
      *error = "unexpected answer for code " + code;
    } catch (const std::exception& e) {
      *error = e.what();
    }
    return false;
  }
};

void PairedBenchmark(benchmark::State& state, size_t index) {
  BenchmarkInfo& info = g_run->report.benchmarks[index];
  const size_t reg = info.register_index;
  const CheckForm form = info.form;
  const CodeKind kind = info.kind;
  FloorRegister& floor = *g_run->floors[reg];
  HostStack* stack = g_run->stack.get();
  const std::vector<std::string>& codes = g_run->mixes[reg].Of(form, kind);
  const bool expect = kind == CodeKind::kHit;
  const std::string& today = g_run->today;
  Side sides[2];
  sides[0].check = [&](const std::string& code) { return floor.CheckCode(code, today); };
  sides[0].best = &info.floor_code_best_us;
  sides[1].best = &info.stack_code_best_us;
  if (stack) {
    stack->UseRegister(g_run->report.registers[reg].path);
    sides[1].check = [stack](const std::string& code) { return stack->CheckCode(code); };
  }
  const int count = stack ? 2 : 1;
  std::string error;
  for (int s = 0; s < count; ++s)
    if (!sides[s].WarmUp(codes, expect, &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
  // Each iteration runs every code four times, the two sides back to back in the order
  // A B B A (the next iteration B A A B): both sides of a code meet the machine within a
  // few milliseconds of each other, and neither always follows the other.
  static size_t turn = 0;
  for (auto _ : state) {
    const int first = stack ? static_cast<int>(turn++ % 2) : 0;
    const int order[4] = {first, 1 - first, 1 - first, first};
    for (size_t i = 0; i < codes.size() && error.empty(); ++i)
      for (int k = 0; k < 4; ++k) {
        if (order[k] >= count) continue;
        if (!sides[order[k]].Check(i, codes[i], expect, &error)) {
          state.SkipWithError(error.c_str());
          break;
        }
      }
    if (!error.empty()) break;
  }
  using benchmark::Counter;
  // The group's codes once on each side, in microseconds (every iteration ran each twice).
  state.counters["floor_cpu_us"] = Counter(sides[0].cpu_us / 2, Counter::kAvgIterations);
  state.counters["floor_real_us"] = Counter(sides[0].real_us / 2, Counter::kAvgIterations);
  if (stack) {
    state.counters["stack_cpu_us"] = Counter(sides[1].cpu_us / 2, Counter::kAvgIterations);
    state.counters["stack_real_us"] = Counter(sides[1].real_us / 2, Counter::kAvgIterations);
  }
}

// The register files of a size: with the check indexes, and with the declared ones only.
void AddRegisters(BenchRun& run, const Options& o, const std::string& size) {
  for (bool check_indexes : {true, false}) {
    RegisterInfo info;
    info.size = size;
    info.check_indexes = check_indexes;
    info.label = check_indexes ? size : size + " declared";
    info.path = o.registers + "/vodar-" + size + (check_indexes ? "" : "-declared") + ".db3";
    if (access(info.path.c_str(), R_OK) != 0)
      throw std::runtime_error("no register file " + info.path +
                               " (cmake --build build --target bench_registers makes them)");
    auto floor = std::make_unique<FloorRegister>(info.path);
    info.objects = floor->QueryInt("SELECT count(*) FROM vodar");
    info.code_ranges = floor->QueryInt("SELECT count(*) FROM vodar_g33");
    info.omit_rows = floor->QueryInt("SELECT count(*) FROM omit1532");
    // Both variants hold the same rows: the mix is drawn once, from the first.
    if (check_indexes) {
      std::fprintf(stderr, "kvtbench: drawing the codes of the %s register\n", size.c_str());
      run.mixes.push_back(DrawCodeMix(*floor, run.today, o.codes, 1532));
      const CodeMix& mix = run.mixes.back();
      std::fprintf(
          stderr, "kvtbench:   prefix form %zu hits, %zu misses; range form %zu hits, %zu misses\n",
          mix.Of(CheckForm::kPrefix, CodeKind::kHit).size(),
          mix.Of(CheckForm::kPrefix, CodeKind::kMiss).size(),
          mix.Of(CheckForm::kRange, CodeKind::kHit).size(),
          mix.Of(CheckForm::kRange, CodeKind::kMiss).size());
    } else {
      run.mixes.push_back(run.mixes.back());
    }
    run.report.registers.push_back(info);
    run.floors.push_back(std::move(floor));
  }
}

// The whole stack must answer as the floor does, and must have sent the floor's texts.
std::string VerifyStack(BenchRun& run) {
  HostStack& stack = *run.stack;
  for (size_t r = 0; r < run.report.registers.size(); ++r) {
    stack.UseRegister(run.report.registers[r].path);
    for (CheckForm form : {CheckForm::kPrefix, CheckForm::kRange})
      for (CodeKind kind : {CodeKind::kHit, CodeKind::kMiss})
        for (const std::string& code : run.mixes[r].Of(form, kind))
          if (stack.CheckCode(code) != (kind == CodeKind::kHit))
            return "the stack answers differently from the floor for code " + code + " on " +
                   run.report.registers[r].path;
    for (CheckForm form : {CheckForm::kPrefix, CheckForm::kRange})
      for (const std::string& sql : {RegisterCheckSql(form), OmitCheckSql(form)})
        if (!run.mixes[r].Of(form, CodeKind::kHit).empty() && !stack.HostHasPrepared(sql))
          return std::string("the module's ") + FormName(form) +
                 "-form statements differ from the floor's";
  }
  return {};
}

void RegisterBenchmarks(BenchRun& run, const Options& o) {
  for (size_t r = 0; r < run.report.registers.size(); ++r) {
    const RegisterInfo& info = run.report.registers[r];
    for (CheckForm form : {CheckForm::kPrefix, CheckForm::kRange}) {
      // Nothing can index the prefix form: its figures do not depend on the indexes.
      if (!info.check_indexes && form == CheckForm::kPrefix) continue;
      for (CodeKind kind : {CodeKind::kHit, CodeKind::kMiss}) {
        BenchmarkInfo b;
        b.register_index = r;
        b.form = form;
        b.kind = kind;
        b.codes = run.mixes[r].Of(form, kind).size();
        b.name = info.size + (info.check_indexes ? "" : "-declared") + "/" + FormName(form) + "/" +
                 KindName(kind);
        if (b.codes == 0) b.error = "the register gave no codes of this group";
        b.floor_code_best_us.assign(b.codes, kNoTime);
        b.stack_code_best_us.assign(b.codes, kNoTime);
        run.report.benchmarks.push_back(b);
        if (b.codes == 0) continue;
        // A check of the largest register without its check indexes takes a fifth of a
        // second: one repetition says enough there.
        const bool slow = !info.check_indexes && info.size == "32000";
        const size_t index = run.report.benchmarks.size() - 1;
        benchmark::RegisterBenchmark(b.name.c_str(), PairedBenchmark, index)
            ->Unit(benchmark::kMicrosecond)
            ->MinTime(0.2)
            ->Repetitions(slow ? 1 : o.repetitions)
            ->ReportAggregatesOnly(false);
      }
    }
  }
}

void MeasureMemory(BenchRun& run, const Options& o) {
  if (!run.stack || o.memory_checks == 0) return;
  // The tiny register, where the checks themselves and not the database make the time.
  size_t reg = 0;
  while (reg < run.report.registers.size() && run.report.registers[reg].size != "tiny") ++reg;
  if (reg == run.report.registers.size()) {
    std::fprintf(stderr, "kvtbench: no memory run: it uses the tiny register (--sizes tiny,...)\n");
    return;
  }
  std::vector<std::string> codes = run.mixes[reg].All();
  if (codes.empty()) return;
  HostStack& stack = *run.stack;
  stack.UseRegister(run.report.registers[reg].path);
  std::fprintf(stderr, "kvtbench: resident memory over %llu checks on the %s register\n",
               static_cast<unsigned long long>(o.memory_checks),
               run.report.registers[reg].label.c_str());
  // Settle first: the first checks of a register fill the host's caches.
  for (size_t i = 0; i < 2000; ++i) stack.CheckCode(codes[i % codes.size()]);
  MemoryInfo& m = run.report.memory;
  m.register_label = run.report.registers[reg].label;
  m.checks = o.memory_checks;
  m.rss_before = ResidentBytes();
  for (uint64_t i = 0; i < o.memory_checks; ++i) stack.CheckCode(codes[i % codes.size()]);
  m.rss_after = ResidentBytes();
  m.measured = true;
}

// --profile: checks of the first register's whole mix, nothing else; answers the exit code.
int Profile(BenchRun& run, const Options& o) {
  std::vector<std::string> codes = run.mixes[0].All();
  if (codes.empty()) {
    std::fprintf(stderr, "kvtbench: the register gave no codes\n");
    return 1;
  }
  size_t found = 0;
  if (o.profile_path == CheckPath::kStack) {
    if (!run.stack) return 1;
    run.stack->UseRegister(run.report.registers[0].path);
    for (uint64_t i = 0; i < o.profile_checks; ++i)
      found += run.stack->CheckCode(codes[i % codes.size()]);
  } else {
    for (uint64_t i = 0; i < o.profile_checks; ++i)
      found += run.floors[0]->CheckCode(codes[i % codes.size()], run.today);
  }
  std::printf("%llu checks, %zu found\n", static_cast<unsigned long long>(o.profile_checks), found);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Google Benchmark's defaults for this program come first, so that the command line
  // overrides them; then it takes its own flags out of the arguments.
  std::vector<char*> args = {argv[0]};
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.push_back(interleave.data());
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    args.push_back(argv[i]);
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());

  Options options;
  try {
    options = ParseOptions(count, args.data());
  } catch (const UsageError& e) {
    std::fprintf(stderr, "kvtbench: %s\n%s", e.what(), kUsage);
    return 2;
  }

  BenchRun run;
  g_run = &run;
  run.today = FormatDateTimeISO(Now());
  run.report.today = run.today;
  run.report.codes_per_group = options.codes;
  run.report.load_before = LoadAverage();
  run.report.memory.checks = options.memory_checks;
  try {
    for (const std::string& size : options.sizes) AddRegisters(run, options, size);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kvtbench: %s\n", e.what());
    return 1;
  }

  run.stack = std::make_unique<HostStack>(options.registers + "/kvtbench.ini",
                                          run.report.registers.front().path);
  if (!run.stack->Ready()) {
    run.report.stack_error = run.stack->Error();
    run.stack.reset();
  } else {
    try {
      run.report.stack_error = VerifyStack(run);
    } catch (const std::exception& e) {
      run.report.stack_error = std::string("a check through the host failed: ") + e.what();
    }
    if (!run.report.stack_error.empty()) run.stack.reset();
  }
  if (!run.report.stack_error.empty())
    std::fprintf(stderr, "kvtbench: the whole stack is not measured: %s\n",
                 run.report.stack_error.c_str());

  if (options.profile_checks > 0) {
    const int rc = Profile(run, options);
    run.stack.reset();
    return rc;
  }

  CalibrateClock();
  RegisterBenchmarks(run, options);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  try {
    MeasureMemory(run, options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kvtbench: the memory run failed: %s\n", e.what());
  }
  run.report.load_after = LoadAverage();
  run.stack.reset();
  benchmark::Shutdown();

  run.report.PrintTable(stdout);
  std::string error;
  if (!run.report.WriteJson(options.out, &error)) {
    std::fprintf(stderr, "kvtbench: %s\n", error.c_str());
    return 1;
  }
  std::printf("\nFigures written to %s\n", options.out.c_str());
  return 0;
}
