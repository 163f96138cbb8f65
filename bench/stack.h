// The whole stack of a check, as a user of the reference host meets it: this process embeds
// the host the way kvthost does (its server exported through Server_QueryInterface, CPython
// started, the module imported so that it attaches itself), finds the register manager the
// module registered, and asks it IVodarManager::CheckCode on the host's side.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/vodar_managerintf.h"
#include "platform/com/comptr.h"

class THostServer;
class PythonRuntime;

class HostStack {
 public:
  // Starts the host with its own settings file, serving `register_file` as the register (as
  // kvthost --db does). Check Ready() (and Error()) afterwards.
  HostStack(const std::string& settings_path, const std::string& register_file);
  // Stops the server (the module hears STOPSERVER) and finalises Python, as kvthost does.
  ~HostStack();
  HostStack(const HostStack&) = delete;
  HostStack& operator=(const HostStack&) = delete;

  bool Ready() const { return manager_ != nullptr; }
  const std::string& Error() const { return error_; }

  // Serves `file` as the register for the following checks.
  void UseRegister(const std::string& file);
  // The manager's CheckCode for a code; raises what the module raises.
  bool CheckCode(std::string_view code);
  // Whether the host has `sql` prepared for the register database now: true when the module
  // sent exactly this text since the register was last switched.
  bool HostHasPrepared(const std::string& sql);

 private:
  ComPtr<THostServer> server_;
  std::unique_ptr<PythonRuntime> python_;
  ComPtr<IVodarManager> manager_;
  std::string error_;
};
