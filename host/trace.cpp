#include "host/trace.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace {
std::atomic<bool> g_tracing{false};
std::mutex g_trace_mutex;
}  // namespace

void SetTracing(bool on) {
  g_tracing = on;
}

bool Tracing() {
  return g_tracing;
}

void Trace(std::string_view text) {
  if (!g_tracing) return;
  std::lock_guard lock(g_trace_mutex);
  std::fprintf(stderr, "trace: %.*s\n", static_cast<int>(text.size()), text.data());
  std::fflush(stderr);
}

WideString TraceAnswer(std::string_view what, WideString value) {
  if (g_tracing) Trace(std::string(what) + " -> " + value.ToUtf8());
  return value;
}

int32_t TraceAnswer(std::string_view what, int32_t value) {
  if (g_tracing) Trace(std::string(what) + " -> " + std::to_string(value));
  return value;
}
