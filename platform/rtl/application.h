// The application-level exception handler: where errors that nobody catches (an error in
// a data module's creation handler, a refused change while applying) are shown.
#pragma once

#include <exception>
#include <functional>

class Exception;

class Application {
 public:
  using Handler = std::function<void(const std::exception_ptr&)>;
  // Shows the error: by default its message on stderr; EAbort (and an empty pointer)
  // shows nothing.
  static void HandleException(const std::exception_ptr& e);
  // Installs another handler (an empty one restores the default); answers the previous.
  static Handler SetExceptionHandler(Handler h);
};
