#include "bench/report.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "platform/rtl/strutils.h"

namespace {

double Min(const std::vector<double>& v) {
  return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
}

std::string JsonNumber(double v) {
  if (!std::isfinite(v)) return "null";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

std::string JsonList(const std::vector<double>& v) {
  std::string out = "[";
  for (size_t i = 0; i < v.size(); ++i) out += (i ? ", " : "") + JsonNumber(v[i]);
  return out + "]";
}

const char* Bool(bool b) {
  return b ? "true" : "false";
}

constexpr CheckForm kForms[] = {CheckForm::kPrefix, CheckForm::kRange};

}  // namespace

double BenchmarkInfo::CheckUs(CheckPath path) const {
  const std::vector<double>& v =
      path == CheckPath::kFloor ? floor_code_best_us : stack_code_best_us;
  double sum = 0;
  for (double t : v) sum += t;
  return v.empty() ? 0 : sum / static_cast<double>(v.size());
}

double BenchmarkInfo::CheckMeanUs(CheckPath path) const {
  const std::vector<double>& v = path == CheckPath::kFloor ? floor_cpu_us : stack_cpu_us;
  return codes ? Min(v) / static_cast<double>(codes) : 0;
}

double BenchmarkInfo::CheckRealUs(CheckPath path) const {
  const std::vector<double>& v = path == CheckPath::kFloor ? floor_real_us : stack_real_us;
  return codes ? Min(v) / static_cast<double>(codes) : 0;
}

bool BenchmarkInfo::Measured(CheckPath path) const {
  const std::vector<double>& v =
      path == CheckPath::kFloor ? floor_code_best_us : stack_code_best_us;
  return error.empty() && codes > 0 && v.size() == codes &&
         std::none_of(v.begin(), v.end(), [](double t) { return t >= kNoTime; });
}

BenchmarkInfo* Report::Find(const std::string& name) {
  for (BenchmarkInfo& b : benchmarks)
    if (b.name == name) return &b;
  return nullptr;
}

const BenchmarkInfo* Report::Lookup(CheckPath path, size_t reg, CheckForm form,
                                    CodeKind kind) const {
  for (const BenchmarkInfo& b : benchmarks)
    if (b.register_index == reg && b.form == form && b.kind == kind && b.Measured(path)) return &b;
  return nullptr;
}

Report::FormFigures Report::Figures(size_t reg, CheckForm form) const {
  FormFigures f;
  const BenchmarkInfo* parts[2][2];
  for (CheckPath path : {CheckPath::kFloor, CheckPath::kStack})
    for (CodeKind kind : {CodeKind::kHit, CodeKind::kMiss}) {
      parts[static_cast<int>(path)][static_cast<int>(kind)] = Lookup(path, reg, form, kind);
      if (!parts[static_cast<int>(path)][static_cast<int>(kind)]) return f;
    }
  f.complete = true;
  f.floor_us =
      (parts[0][0]->CheckUs(CheckPath::kFloor) + parts[0][1]->CheckUs(CheckPath::kFloor)) / 2;
  f.stack_us =
      (parts[1][0]->CheckUs(CheckPath::kStack) + parts[1][1]->CheckUs(CheckPath::kStack)) / 2;
  return f;
}

long Report::RegisterOf(const std::string& size, bool check_indexes) const {
  for (size_t i = 0; i < registers.size(); ++i)
    if (registers[i].size == size && registers[i].check_indexes == check_indexes)
      return static_cast<long>(i);
  return -1;
}

std::vector<Report::Goal> Report::Goals() const {
  std::vector<Goal> goals;
  const long mid = RegisterOf("8000", true);
  for (CheckForm form : kForms) {
    Goal g;
    g.name = std::string("stack over floor, 8000 objects, ") + FormName(form) + " form";
    g.limit = 1.05;
    g.unit = "x";
    if (mid >= 0) {
      FormFigures f = Figures(static_cast<size_t>(mid), form);
      if (f.complete && f.floor_us > 0) {
        g.value = f.stack_us / f.floor_us;
        g.measured = true;
      }
    }
    goals.push_back(g);
  }
  {
    Goal g;
    g.name = "fixed cost of a check over the floor, tiny register (worse form)";
    g.limit = 25;
    g.unit = "us";
    const long tiny = RegisterOf("tiny", true);
    if (tiny >= 0) {
      for (CheckForm form : kForms) {
        FormFigures f = Figures(static_cast<size_t>(tiny), form);
        if (!f.complete) {
          g.measured = false;
          break;
        }
        g.value = g.measured ? std::max(g.value, f.stack_us - f.floor_us) : f.stack_us - f.floor_us;
        g.measured = true;
      }
    }
    goals.push_back(g);
  }
  {
    Goal g;
    g.name = "range-form CheckCode, 8000 objects: check indexes over declared ones";
    g.limit = 15;
    g.at_most = false;
    g.unit = "x faster";
    const long declared = RegisterOf("8000", false);
    if (mid >= 0 && declared >= 0) {
      FormFigures with = Figures(static_cast<size_t>(mid), CheckForm::kRange);
      FormFigures without = Figures(static_cast<size_t>(declared), CheckForm::kRange);
      if (with.complete && without.complete && with.stack_us > 0) {
        g.value = without.stack_us / with.stack_us;
        g.measured = true;
      }
    }
    goals.push_back(g);
  }
  {
    Goal g;
    g.name = "resident memory growth over " + std::to_string(memory.checks) + " checks";
    g.limit = 1024;
    g.unit = "KiB";
    if (memory.measured) {
      g.value =
          (static_cast<double>(memory.rss_after) - static_cast<double>(memory.rss_before)) / 1024.0;
      g.measured = true;
    }
    goals.push_back(g);
  }
  return goals;
}

bool Report::WriteJson(const std::string& file, std::string* error) const {
  std::ostringstream j;
  j << "{\n";
  j << "  \"today\": " << JsonString(today) << ",\n";
  j << "  \"codes_per_group\": " << codes_per_group << ",\n";
  j << "  \"load_average_before\": " << JsonString(load_before)
    << ", \"load_average_after\": " << JsonString(load_after) << ",\n";
  j << "  \"time\": \"one check in microseconds: thread CPU time, each code's quickest check, "
       "averaged over the group's codes; floor and stack run each code back to back "
       "(A B B A)\",\n";
  j << "  \"stack_error\": " << (stack_error.empty() ? "null" : JsonString(stack_error)) << ",\n";
  j << "  \"registers\": [\n";
  for (size_t i = 0; i < registers.size(); ++i) {
    const RegisterInfo& r = registers[i];
    j << "    {\"label\": " << JsonString(r.label) << ", \"size\": " << JsonString(r.size)
      << ", \"check_indexes\": " << Bool(r.check_indexes) << ", \"file\": " << JsonString(r.path)
      << ", \"objects\": " << r.objects << ", \"code_ranges\": " << r.code_ranges
      << ", \"omit_rows\": " << r.omit_rows << "}" << (i + 1 < registers.size() ? "," : "") << "\n";
  }
  j << "  ],\n  \"benchmarks\": [\n";
  for (size_t i = 0; i < benchmarks.size(); ++i) {
    const BenchmarkInfo& b = benchmarks[i];
    j << "    {\"name\": " << JsonString(b.name)
      << ", \"register\": " << JsonString(registers[b.register_index].label) << ", \"form\": \""
      << FormName(b.form) << "\", \"kind\": \"" << KindName(b.kind) << "\", \"codes\": " << b.codes
      << ", \"iterations\": " << b.iterations;
    for (CheckPath path : {CheckPath::kFloor, CheckPath::kStack}) {
      if (!b.Measured(path)) continue;
      const bool floor = path == CheckPath::kFloor;
      j << ", \"" << PathName(path) << "\": {\"check_us\": " << JsonNumber(b.CheckUs(path))
        << ", \"check_mean_cpu_us\": " << JsonNumber(b.CheckMeanUs(path))
        << ", \"check_mean_real_us\": " << JsonNumber(b.CheckRealUs(path))
        << ", \"code_best_cpu_us\": "
        << JsonList(floor ? b.floor_code_best_us : b.stack_code_best_us)
        << ", \"group_mean_cpu_us\": " << JsonList(floor ? b.floor_cpu_us : b.stack_cpu_us)
        << ", \"group_mean_real_us\": " << JsonList(floor ? b.floor_real_us : b.stack_real_us)
        << "}";
    }
    if (!b.error.empty()) j << ", \"error\": " << JsonString(b.error);
    j << "}" << (i + 1 < benchmarks.size() ? "," : "") << "\n";
  }
  j << "  ],\n  \"comparisons\": [\n";
  bool first = true;
  for (size_t r = 0; r < registers.size(); ++r)
    for (CheckForm form : kForms) {
      FormFigures f = Figures(r, form);
      if (!f.complete) continue;
      j << (first ? "" : ",\n") << "    {\"register\": " << JsonString(registers[r].label)
        << ", \"form\": \"" << FormName(form) << "\", \"floor_us\": " << JsonNumber(f.floor_us)
        << ", \"stack_us\": " << JsonNumber(f.stack_us)
        << ", \"stack_minus_floor_us\": " << JsonNumber(f.stack_us - f.floor_us)
        << ", \"stack_over_floor\": " << JsonNumber(f.floor_us > 0 ? f.stack_us / f.floor_us : 0)
        << "}";
      first = false;
    }
  j << "\n  ],\n  \"memory\": ";
  if (memory.measured)
    j << "{\"register\": " << JsonString(memory.register_label) << ", \"checks\": " << memory.checks
      << ", \"rss_before_bytes\": " << memory.rss_before
      << ", \"rss_after_bytes\": " << memory.rss_after << "}";
  else
    j << "null";
  j << ",\n  \"goals\": [\n";
  std::vector<Goal> goals = Goals();
  for (size_t i = 0; i < goals.size(); ++i) {
    const Goal& g = goals[i];
    j << "    {\"goal\": " << JsonString(g.name)
      << ", \"value\": " << (g.measured ? JsonNumber(g.value) : "null")
      << ", \"unit\": " << JsonString(g.unit) << ", \"limit\": " << JsonNumber(g.limit)
      << ", \"kind\": \"" << (g.at_most ? "at most" : "at least")
      << "\", \"met\": " << Bool(g.Met()) << "}" << (i + 1 < goals.size() ? "," : "") << "\n";
  }
  j << "  ]\n}\n";

  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) {
    *error = "cannot write " + file;
    return false;
  }
  out << j.str();
  out.close();
  if (!out) {
    *error = "cannot write " + file;
    return false;
  }
  return true;
}

void Report::PrintTable(std::FILE* out) const {
  std::fprintf(out,
               "\nOne check (CheckCode: both statements) in microseconds: thread CPU time of each "
               "code's quickest\ncheck, averaged over the codes; each form's figure weighs its "
               "hits and misses equally.\n\n");
  std::fprintf(out, "%-16s %-7s %11s %11s %11s %11s %9s %9s\n", "register", "form", "floor us",
               "stack us", "stack-floor", "stack/floor", "hits", "misses");
  auto ratio = [&](size_t r, CheckForm form, CodeKind kind) {
    const BenchmarkInfo* floor = Lookup(CheckPath::kFloor, r, form, kind);
    const BenchmarkInfo* stack = Lookup(CheckPath::kStack, r, form, kind);
    if (!floor || !stack || floor->CheckUs(CheckPath::kFloor) <= 0) return 0.0;
    return stack->CheckUs(CheckPath::kStack) / floor->CheckUs(CheckPath::kFloor);
  };
  for (size_t r = 0; r < registers.size(); ++r)
    for (CheckForm form : kForms) {
      FormFigures f = Figures(r, form);
      if (!f.complete) {
        // The floor alone (the stack was not measured).
        const BenchmarkInfo* hit = Lookup(CheckPath::kFloor, r, form, CodeKind::kHit);
        const BenchmarkInfo* miss = Lookup(CheckPath::kFloor, r, form, CodeKind::kMiss);
        if (!hit || !miss) continue;
        std::fprintf(out, "%-16s %-7s %11.1f %11s %11s %11s %9s %9s\n", registers[r].label.c_str(),
                     FormName(form),
                     (hit->CheckUs(CheckPath::kFloor) + miss->CheckUs(CheckPath::kFloor)) / 2, "-",
                     "-", "-", "-", "-");
        continue;
      }
      std::fprintf(out, "%-16s %-7s %11.1f %11.1f %11.1f %10.3fx %8.3fx %8.3fx\n",
                   registers[r].label.c_str(), FormName(form), f.floor_us, f.stack_us,
                   f.stack_us - f.floor_us, f.floor_us > 0 ? f.stack_us / f.floor_us : 0.0,
                   ratio(r, form, CodeKind::kHit), ratio(r, form, CodeKind::kMiss));
    }
  if (memory.measured)
    std::fprintf(out,
                 "\nResident memory, %s register: %.1f MiB before, %.1f MiB after %llu checks\n",
                 memory.register_label.c_str(), static_cast<double>(memory.rss_before) / 1048576.0,
                 static_cast<double>(memory.rss_after) / 1048576.0,
                 static_cast<unsigned long long>(memory.checks));
  if (!stack_error.empty())
    std::fprintf(out, "\nWhole stack not measured: %s\n", stack_error.c_str());
  if (!load_before.empty())
    std::fprintf(out, "\nLoad average of the machine: %s before, %s after the run\n",
                 load_before.c_str(), load_after.c_str());
  std::fprintf(out, "\nGoals:\n");
  for (const Goal& g : Goals()) {
    if (!g.measured) {
      std::fprintf(out, "  %-72s %10s   (%s %g %s)  not measured\n", g.name.c_str(), "-",
                   g.at_most ? "at most" : "at least", g.limit, g.unit.c_str());
      continue;
    }
    std::fprintf(out, "  %-72s %10.3f   (%s %g %s)  %s\n", g.name.c_str(), g.value,
                 g.at_most ? "at most" : "at least", g.limit, g.unit.c_str(),
                 g.Met() ? "met" : "NOT MET");
  }
}
