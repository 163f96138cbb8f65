// kvthost: the reference host of the dudoreri module.
#include <cstdio>
#include <string>
#include <vector>

#include "host/cmdline.h"
#include "host/pyruntime.h"
#include "host/server.h"
#include "host/trace.h"

#ifndef KVT_VERSION
#define KVT_VERSION "0"
#endif

namespace {

int RunCommand(const CommandLine& cl, PythonRuntime& python) {
  switch (cl.command) {
    case HostCommand::Python:
      return python.RunPython(cl);
    case HostCommand::None:
      break;
  }
  return 0;
}

int RunHost(const CommandLine& cl) {
  ComPtr<THostServer> server = MakeObject<THostServer>();
  SetExportedServer(server.Get());
  int rc = 0;
  {
    PythonRuntime python;
    std::string error;
    std::vector<std::string> argv =
        cl.command == HostCommand::Python ? cl.PythonArgv() : std::vector<std::string>{"kvthost"};
    if (!python.Start(argv, &error)) {
      std::fprintf(stderr, "kvthost: cannot start Python: %s\n", error.c_str());
      rc = 1;
    } else if (!python.ImportModule(&error)) {
      std::fprintf(stderr, "kvthost: cannot import the module dudoreri: %s\n", error.c_str());
      rc = 1;
    } else {
      python.ImportHostPackage();
      python.ReleaseLock();
      rc = RunCommand(cl, python);
    }
    // The module hears STOPSERVER while Python still runs.
    server->Stop();
    if (!python.Finalize() && rc == 0) rc = 120;  // output could not be flushed
  }
  SetExportedServer(nullptr);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine cl;
  try {
    cl = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& e) {
    std::fprintf(stderr, "kvthost: %s\nTry 'kvthost --help'.\n", e.what());
    return 2;
  }
  if (cl.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (cl.version) {
    std::printf("kvthost %s\n", KVT_VERSION);
    return 0;
  }
  SetTracing(cl.trace);
  return RunHost(cl);
}
