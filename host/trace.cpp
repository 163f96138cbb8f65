#include "host/trace.h"

#include <atomic>
#include <cstdio>
#include <mutex>

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
