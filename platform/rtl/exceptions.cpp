#include "platform/rtl/exceptions.h"

#include "platform/rtl/format.h"

Exception::Exception(std::string message) : message_(std::move(message)) {}
Exception::~Exception() = default;

EAbort::EAbort() : Exception("Operation aborted") {}
EAbort::EAbort(std::string message) : Exception(std::move(message)) {}
EAbort::~EAbort() = default;

EOleSysError::EOleSysError(HRESULT code) : Exception(SysErrorMessage(code)), code_(code) {}
EOleSysError::EOleSysError(std::string message, HRESULT code)
    : Exception(message.empty() ? SysErrorMessage(code) : std::move(message)), code_(code) {}
EOleSysError::~EOleSysError() = default;

EOleException::EOleException(std::string message, HRESULT code, std::string source,
                             std::string help_file)
    : EOleSysError(std::move(message), code),
      source_(std::move(source)),
      help_file_(std::move(help_file)) {}
EOleException::~EOleException() = default;

EIntfCastError::EIntfCastError() : Exception("Interface not supported") {}
EIntfCastError::EIntfCastError(std::string message) : Exception(std::move(message)) {}
EIntfCastError::~EIntfCastError() = default;

EListError::~EListError() = default;
EListError EListError::IndexOutOfBounds(int index) {
  return EListError(Format("List index out of bounds (%d)", {index}));
}

EConvertError::~EConvertError() = default;
EVariantError::~EVariantError() = default;
EVariantTypeCastError::~EVariantTypeCastError() = default;
EInvalidOperation::~EInvalidOperation() = default;
EInvalidPointer::~EInvalidPointer() = default;
EComponentError::~EComponentError() = default;
EStreamError::~EStreamError() = default;
EOSError::~EOSError() = default;
EDatabaseError::~EDatabaseError() = default;
EPythonError::~EPythonError() = default;

std::string ExceptionMessage(const std::exception_ptr& e) {
  if (!e) return "Unknown error";
  try {
    std::rethrow_exception(e);
  } catch (const Exception& ex) {
    return ex.Message();
  } catch (const std::exception& ex) {
    return ex.what();
  } catch (...) {
    return "Unknown error";
  }
}
