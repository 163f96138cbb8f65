#include "core/module_functions.h"

#include "core/vodar_manager.h"
#include "dataaccess/kvt_event.h"
#include "moduleinfo/vodar_moduleinfo.h"
#include "platform/rtl/exceptions.h"
#include "register/vodar_data.h"

namespace {

Tdm& Register() {
  if (dm == nullptr) throw EInvalidOperation("The register is not available");
  return *dm;
}

}  // namespace

bool ModuleCheckCode(const WideString& code) {
  return Register().CheckCode(code);
}

bool ModuleCheckOmit(const WideString& code) {
  return Register().CheckOmit(code);
}

void ModuleShowCode(const WideString& code) {
  MakeObject<TVodarManager>()->ShowCode(code);
}

ModuleDescription ModuleDescribe() {
  return {VodarModuleName(), TVodarInfo::kCaption, VodarDataVersion()};
}

std::vector<PyFunction> ModulePythonFunctions() {
  using Args = std::vector<PyValue>;
  return {
      {"check_code",
       "check_code(code) -> bool\n\nWhether a commodity code (ten digits, or a leading part) "
       "concerns the register of intellectual-property objects or the order-1532 list.",
       1, [](const Args& a) { return PyValue::Bool(ModuleCheckCode(a[0].AsText())); }},
      {"check_omit",
       "check_omit(code) -> bool\n\nWhether a commodity code is on the order-1532 list.", 1,
       [](const Args& a) { return PyValue::Bool(ModuleCheckOmit(a[0].AsText())); }},
      {"show_code",
       "show_code(code)\n\nHas the host's package show the register entries for a code.", 1,
       [](const Args& a) {
         ModuleShowCode(a[0].AsText());
         return PyValue();
       }},
      {"module_info",
       "module_info() -> dict\n\nThe module's name, caption and register data version.", 0,
       [](const Args&) {
         ModuleDescription d = ModuleDescribe();
         return PyValue::Dict({{"name", PyValue::Text(d.name)},
                               {"caption", PyValue::Text(d.caption)},
                               {"version", PyValue::Text(d.version)}});
       }},
      {"host_attached", "host_attached() -> bool\n\nWhether the module holds a host server.", 0,
       [](const Args&) { return PyValue::Bool(static_cast<bool>(HostServer)); }},
  };
}
