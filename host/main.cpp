// kvthost: the reference host of the dudoreri module.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "host/cmdline.h"
#include "host/codecommands.h"
#include "host/commands.h"
#include "host/pyruntime.h"
#include "host/server.h"
#include "host/trace.h"
#include "platform/com/guid.h"
#include "platform/os/os.h"

#ifndef KVT_VERSION
#define KVT_VERSION "0"
#endif

namespace {

int RunCommand(const CommandLine& cl, PythonRuntime& python, THostServer& server) {
  switch (cl.command) {
    case HostCommand::Python:
      return python.RunPython(cl);
    case HostCommand::Info:
      return RunInfo(server, stdout);
    case HostCommand::Tables:
      return RunTables(server, stdout);
    case HostCommand::Check:
      return RunCheck(server, cl, stdin, stdout);
    case HostCommand::Show:
      return RunShow(server, cl);
    case HostCommand::None:
      break;
  }
  return 0;
}

// A path made absolute against the current folder.
std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::string_view rest = path;
  while (rest.substr(0, 2) == "./") rest.remove_prefix(2);
  char buf[4096];
  if (::getcwd(buf, sizeof buf) == nullptr) return path;
  return std::string(buf) + "/" + std::string(rest);
}

// Checks the files the options name; false, with the message printed, when one is wrong.
bool CheckOptionFiles(const CommandLine& cl) {
  struct stat st;
  if (!cl.db.empty()) {
    if (::stat(cl.db.c_str(), &st) != 0) {
      std::fprintf(stderr, "kvthost: --db: the file '%s' does not exist\n", cl.db.c_str());
      return false;
    }
    if (S_ISDIR(st.st_mode)) {
      std::fprintf(stderr, "kvthost: --db: '%s' is a folder, not a database file\n", cl.db.c_str());
      return false;
    }
  }
  if (!cl.config.empty() && ::stat(cl.config.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "kvthost: --config: '%s' is a folder, not a settings file\n",
                 cl.config.c_str());
    return false;
  }
  return true;
}

int RunHost(const CommandLine& cl) {
  if (!CheckOptionFiles(cl)) return 1;
  std::string settings =
      cl.config.empty() ? ExecutableFolder() + "kvthost.ini" : Absolute(cl.config);
  ComPtr<THostServer> server = MakeObject<THostServer>(settings);
  if (!cl.db.empty()) server->Settings().SetSqliteFileOverride(Absolute(cl.db));
  // These commands report a register they cannot use in one line of their own; the log
  // file still gets the host's warnings about it.
  if (cl.command == HostCommand::Check || cl.command == HostCommand::Show)
    server->ErrorLog().SetEcho(false);
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
      rc = RunCommand(cl, python, *server);
    }
    std::fflush(stdout);
    // The module hears STOPSERVER while Python still runs.
    server->Stop();
    if (!python.Finalize() && rc == 0) rc = 120;  // output could not be flushed
  }
  SetExportedServer(nullptr);
  return rc;
}

}  // namespace

// The host's one export: what a module asks for its host server.
extern "C" __attribute__((visibility("default"))) HRESULT Server_QueryInterface(const GUID& iid,
                                                                                void** obj) {
  if (Tracing()) Trace(std::string("Server_QueryInterface ") + GUIDToString(iid));
  if (obj == nullptr) return E_POINTER;
  *obj = nullptr;
  THostServer* server = ExportedServer();
  if (server == nullptr) return E_NOINTERFACE;
  return server->QueryInterface(iid, obj);
}

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
