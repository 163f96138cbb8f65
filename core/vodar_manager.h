// The register manager: the object through which the host checks commodity codes and has
// its own Python package show the register's entries for a code. One is handed to the
// host at start-up; the host's references keep it alive, the module keeps none.
#pragma once

#include <string_view>

#include "core/vodar_managerintf.h"
#include "platform/com/object.h"

class TVodarManager : public Implements<IVodarManager> {
 public:
  // The host's package whose presence among the imported modules enables showing, and the
  // module whose showcode(code, now, omitted) shows the entries.
  static constexpr char kHostPackage[] = "qor.modules.vodar";
  static constexpr char kHostManagerModule[] = "qor.modules.vodar.manager";

  // --- IVodarManager
  // Nothing while the host's package is not imported; otherwise imports its manager module
  // and calls showcode(code as str, the current local moment, whether the code is on the
  // order-1532 list). Holds the interpreter lock for the whole sequence, so a host may call
  // it from any thread. Errors (of the import, of showcode, of the check) are raised.
  HRESULT ShowCode(const WideString& code) override;
  // *found := the register data module's CheckCode(code). Errors are raised.
  HRESULT CheckCode(const WideString& code, bool* found) override;

  // Whether the interpreter has imported `name` (sys.modules maps it to something other
  // than None); false when the module's engine is not bound to a running interpreter.
  // Raises EPythonError when the module holds no engine.
  static bool IsModuleLoaded(std::string_view name);

 protected:
  ~TVodarManager() override;
};
