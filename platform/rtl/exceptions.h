// The exception classes of the platform. Every message is UTF-8 text.
//
// Each class has an out-of-line destructor in exceptions.cpp, so its type information
// lives once in the platform library and an exception thrown in the module is caught by
// type in the host (and the other way round).
#pragma once

#include <exception>
#include <string>

#include "platform/com/types.h"

class Exception : public std::exception {
 public:
  explicit Exception(std::string message);
  ~Exception() override;
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }

 private:
  std::string message_;
};

#define KVT_DECLARE_EXCEPTION(Name, Base) \
  class Name : public Base {              \
   public:                                \
    using Base::Base;                     \
    ~Name() override;                     \
  }

// The silent abort: stops an operation without a message; the application's exception
// handler shows nothing for it.
class EAbort : public Exception {
 public:
  EAbort();
  explicit EAbort(std::string message);
  ~EAbort() override;
};

// A COM error: the result code and the system's text for it.
class EOleSysError : public Exception {
 public:
  explicit EOleSysError(HRESULT code);
  EOleSysError(std::string message, HRESULT code);
  ~EOleSysError() override;
  HRESULT ErrorCode() const noexcept { return code_; }

 private:
  HRESULT code_;
};

// A COM error that came with error information (source and help file).
class EOleException : public EOleSysError {
 public:
  EOleException(std::string message, HRESULT code, std::string source, std::string help_file);
  ~EOleException() override;
  const std::string& Source() const noexcept { return source_; }
  const std::string& HelpFile() const noexcept { return help_file_; }

 private:
  std::string source_, help_file_;
};

// "Interface not supported": a required interface was not answered.
class EIntfCastError : public Exception {
 public:
  EIntfCastError();
  explicit EIntfCastError(std::string message);
  ~EIntfCastError() override;
};

// "List index out of bounds (%d)".
class EListError : public Exception {
 public:
  using Exception::Exception;
  ~EListError() override;
  static EListError IndexOutOfBounds(int index);
};

KVT_DECLARE_EXCEPTION(EConvertError, Exception);
KVT_DECLARE_EXCEPTION(EVariantError, Exception);
KVT_DECLARE_EXCEPTION(EVariantTypeCastError, EVariantError);
KVT_DECLARE_EXCEPTION(EInvalidOperation, Exception);
KVT_DECLARE_EXCEPTION(EInvalidPointer, Exception);
KVT_DECLARE_EXCEPTION(EComponentError, Exception);
KVT_DECLARE_EXCEPTION(EStreamError, Exception);
KVT_DECLARE_EXCEPTION(EOSError, Exception);
KVT_DECLARE_EXCEPTION(EDatabaseError, Exception);

// An error of the embedded interpreter; the message is the interpreter's own
// ("AttributeError: module 'x' has no attribute 'y'").
KVT_DECLARE_EXCEPTION(EPythonError, Exception);

// The message of any exception: Exception::Message(), std::exception::what(), or a fixed
// text ("Unknown error") for anything else and for an empty pointer.
std::string ExceptionMessage(const std::exception_ptr& e);
