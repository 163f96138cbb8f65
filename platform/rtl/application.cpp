#include "platform/rtl/application.h"

#include <cstdio>
#include <mutex>

#include "platform/rtl/exceptions.h"

namespace {
std::mutex g_mutex;
Application::Handler g_handler;

void DefaultHandler(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const EAbort&) {
  } catch (...) {
    std::string msg = ExceptionMessage(std::current_exception());
    std::fprintf(stderr, "%s\n", msg.c_str());
  }
}
}  // namespace

void Application::HandleException(const std::exception_ptr& e) {
  if (!e) return;
  Handler h;
  {
    std::lock_guard lock(g_mutex);
    h = g_handler;
  }
  try {
    if (h)
      h(e);
    else
      DefaultHandler(e);
  } catch (...) {
    // A handler that fails must not take the caller down.
  }
}

Application::Handler Application::SetExceptionHandler(Handler h) {
  std::lock_guard lock(g_mutex);
  Handler old = std::move(g_handler);
  g_handler = std::move(h);
  return old;
}
