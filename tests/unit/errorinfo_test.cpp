// The error translation of COM methods and the thread's error information.
#include "platform/com/errorinfo.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "platform/rtl/exceptions.h"

namespace {

constexpr GUID kIid = "{11111111-2222-3333-4444-555555555555}"_guid;

TEST(HandleSafeCallException, GivesTheCodeAndFillsTheThreadsErrorInformation) {
  struct Case {
    const char* name;
    std::exception_ptr error;
    HRESULT code;
    std::string description;
  };
  const Case kCases[] = {
      {"COM error keeps its code", std::make_exception_ptr(EOleSysError(E_ACCESSDENIED)),
       E_ACCESSDENIED, "Access is denied"},
      {"COM error with text", std::make_exception_ptr(EOleException("refused", E_FAIL, "s", "h")),
       E_FAIL, "refused"},
      {"COM error with a success code", std::make_exception_ptr(EOleSysError("odd", S_FALSE)),
       E_UNEXPECTED, "odd"},
      {"other platform error", std::make_exception_ptr(EDatabaseError("Таблица занята")),
       E_UNEXPECTED, "Таблица занята"},
      {"standard error", std::make_exception_ptr(std::runtime_error("plain")), E_UNEXPECTED,
       "plain"},
      {"anything else", std::make_exception_ptr(42), E_UNEXPECTED, "Unknown error"},
      {"no exception at all", std::exception_ptr(), E_UNEXPECTED, "Unknown error"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ClearErrorInfo();
    EXPECT_EQ(HandleSafeCallException(c.error, kIid, u"Vodar.Manager", u"help.chm"), c.code);
    ErrorInfo info;
    ASSERT_TRUE(GetErrorInfo(&info));
    EXPECT_EQ(info.guid, kIid);
    EXPECT_EQ(info.description.ToUtf8(), c.description);
    EXPECT_EQ(info.source, WideString(u"Vodar.Manager"));
    EXPECT_EQ(info.help_file, WideString(u"help.chm"));
    EXPECT_FALSE(GetErrorInfo(&info)) << "taking the information clears it";
  }
}

TEST(RaiseComError, UsesTheThreadsErrorInformationWhenThereIsSome) {
  ClearErrorInfo();
  try {
    RaiseComError(E_NOINTERFACE);
  } catch (const EOleException&) {
    ADD_FAILURE() << "no error information was set";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), E_NOINTERFACE);
    EXPECT_EQ(e.Message(), "No such interface supported");
  }

  HandleSafeCallException(std::make_exception_ptr(EDatabaseError("нет базы")), kIid, u"src",
                          u"file.hlp");
  try {
    OleCheck(E_UNEXPECTED);
    ADD_FAILURE() << "no error";
  } catch (const EOleException& e) {
    EXPECT_EQ(e.ErrorCode(), E_UNEXPECTED);
    EXPECT_EQ(e.Message(), "нет базы");
    EXPECT_EQ(e.Source(), "src");
    EXPECT_EQ(e.HelpFile(), "file.hlp");
  }
  EXPECT_FALSE(GetErrorInfo(nullptr)) << "the information was used up";
  EXPECT_EQ(OleCheck(S_FALSE), S_FALSE) << "success codes pass";
}

TEST(ErrorInfo, BelongsToTheThreadThatSetIt) {
  ClearErrorInfo();
  ErrorInfo info;
  info.description = u"elsewhere";
  std::thread([&] { SetErrorInfo(info); }).join();
  EXPECT_FALSE(GetErrorInfo(nullptr));
}

}  // namespace
