// The application-level exception handler: default output, EAbort, replacement.
#include "platform/rtl/application.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"

namespace {

std::string ShownByDefault(const std::exception_ptr& e) {
  testing::internal::CaptureStderr();
  Application::HandleException(e);
  return testing::internal::GetCapturedStderr();
}

TEST(Application, TheDefaultHandlerShowsTheMessageButNothingForAnAbort) {
  EXPECT_EQ(ShownByDefault(std::make_exception_ptr(EDatabaseError("Таблица не открыта"))),
            "Таблица не открыта\n");
  EXPECT_EQ(ShownByDefault(std::make_exception_ptr(std::runtime_error("plain"))), "plain\n");
  EXPECT_EQ(ShownByDefault(std::make_exception_ptr(EAbort())), "");
  EXPECT_EQ(ShownByDefault(std::exception_ptr()), "");
}

TEST(Application, AnInstalledHandlerReplacesTheDefaultUntilItIsRemoved) {
  std::vector<std::string> seen;
  Application::Handler previous = Application::SetExceptionHandler(
      [&](const std::exception_ptr& e) { seen.push_back(ExceptionMessage(e)); });
  EXPECT_FALSE(previous) << "the default is no installed handler";
  Application::HandleException(std::make_exception_ptr(EAbort()));
  Application::HandleException(std::make_exception_ptr(EConvertError("bad")));
  EXPECT_EQ(seen, std::vector<std::string>({"Operation aborted", "bad"}));

  // A handler that fails does not take the caller down.
  Application::SetExceptionHandler([](const std::exception_ptr&) { throw 42; });
  EXPECT_NO_THROW(Application::HandleException(std::make_exception_ptr(EConvertError("x"))));

  Application::SetExceptionHandler(nullptr);
  EXPECT_EQ(ShownByDefault(std::make_exception_ptr(EConvertError("back"))), "back\n");
}

}  // namespace
