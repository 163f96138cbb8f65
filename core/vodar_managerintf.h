// The register manager as the host sees it.
#pragma once

#include "platform/com/unknown.h"
#include "platform/com/widestring.h"

struct IVodarManager : IUnknown {
  static constexpr GUID iid = "{D8D55FEB-0672-4392-BE71-5C28F9C3E1ED}"_guid;
  // Has the host's Python package show the register entries for `code`. Answers 0;
  // errors are raised.
  virtual HRESULT ShowCode(const WideString& code) = 0;
  // *found := whether the code concerns the register or the order-1532 list. Answers 0;
  // errors are raised.
  virtual HRESULT CheckCode(const WideString& code, bool* found) = 0;

 protected:
  ~IVodarManager() = default;
};
