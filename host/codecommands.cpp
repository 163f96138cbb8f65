#include "host/codecommands.h"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "core/vodar_managerintf.h"
#include "host/server.h"
#include "platform/db/fields.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/strutils.h"

namespace {

// The host's package whose presence lets the manager show anything.
constexpr char kHostPackage[] = "qor.modules.vodar";

// A failure that ends a command: its message goes to stderr as one line.
struct CommandError {
  std::string message;
};

// The register manager among the services the module registered.
ComPtr<IVodarManager> FindManager(THostServer& server) {
  for (const ComPtr<IUnknown>& service : server.Services())
    if (auto manager = service.TryAs<IVodarManager>()) return manager;
  throw CommandError{"the module registered no register manager with the host"};
}

// Every registered table, with every column it declares, must be in its database's file.
// Opening the database names the file when it is missing, a folder, unreadable or not an
// SQLite database.
void CheckRegisteredTables(THostServer& server) {
  std::lock_guard lock(server.Data()->Mutex());
  for (const TTableRegistry::Entry& entry : server.Tables().Tables()) {
    const std::string database = entry.database.ToUtf8();
    const std::string table = entry.table->GetTableName().ToUtf8();
    SqliteDatabase& db = server.Data()->Databases().Open(database);
    const std::string& file = db.Settings().file;
    std::vector<TableColumn> columns = db.TableColumns(table);
    if (columns.empty())
      throw CommandError{"Database \"" + database + "\": the file \"" + file +
                         "\" has no table \"" + table + "\""};
    for (int32_t i = 0, n = entry.table->GetFieldCount(); i < n; ++i) {
      const std::string field = entry.table->GetField(i)->GetFieldName().ToUtf8();
      bool found = false;
      for (const TableColumn& c : columns) found = found || SameFieldName(c.name, field);
      if (!found)
        throw CommandError{"Database \"" + database + "\": table \"" + table + "\" of the file \"" +
                           file + "\" has no column \"" + field + "\""};
    }
  }
}

// Runs `body`, turning every failure into one line on stderr; answers the exit code.
template <class Body>
int Guarded(const char* command, Body body) {
  std::string message;
  try {
    return body();
  } catch (const CommandError& e) {
    message = e.message;
  } catch (...) {
    message = ExceptionMessage(std::current_exception());
  }
  for (char& c : message)
    if (c == '\n' || c == '\r') c = ' ';
  std::fflush(stdout);
  std::fprintf(stderr, "kvthost: %s: %s\n", command, message.c_str());
  return 1;
}

bool HostPackageLoaded() {
  PyGILState_STATE gil = PyGILState_Ensure();
  PyObject* modules = PyImport_GetModuleDict();                     // borrowed
  PyObject* package = PyDict_GetItemString(modules, kHostPackage);  // borrowed
  const bool loaded = package != nullptr && package != Py_None;
  PyGILState_Release(gil);
  return loaded;
}

}  // namespace

int RunCheck(THostServer& server, const CommandLine& cl, std::FILE* in, std::FILE* out) {
  return Guarded("check", [&] {
    ComPtr<IVodarManager> manager = FindManager(server);
    CheckRegisteredTables(server);
    auto answer = [&](const std::string& given) {
      const std::string code = cl.raw ? given : NormalizeCode(given);
      bool found = false;
      manager->CheckCode(WideString::FromUtf8(code), &found);
      if (cl.json)
        std::fprintf(out, "{\"code\": %s, \"found\": %s}\n", JsonString(given).c_str(),
                     found ? "true" : "false");
      else
        std::fprintf(out, "%s\t%s\n", given.c_str(), found ? "yes" : "no");
      std::fflush(out);
    };
    if (!cl.codes_from_stdin) {
      for (const std::string& code : cl.codes) answer(code);
      return 0;
    }
    // One line at a time, of any length; a zero byte is a character like any other (a
    // C-string read would cut the line there and run it into the next one).
    std::string line;
    auto read_line = [&] {
      line.clear();
      for (int c = std::getc(in); c != EOF; c = std::getc(in)) {
        if (c == '\n') return true;
        line.push_back(static_cast<char>(c));
      }
      return !line.empty();
    };
    while (read_line()) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (cl.raw || !NormalizeCode(line).empty()) answer(line);
    }
    if (std::ferror(in)) throw CommandError{"cannot read the codes from standard input"};
    return 0;
  });
}

int RunShow(THostServer& server, const CommandLine& cl) {
  return Guarded("show", [&] {
    ComPtr<IVodarManager> manager = FindManager(server);
    CheckRegisteredTables(server);
    if (!HostPackageLoaded())
      throw CommandError{std::string("the host's package ") + kHostPackage +
                         " is not loaded, so there is nothing to show the entries with"};
    const std::string& given = cl.codes.at(0);
    std::fflush(stdout);
    manager->ShowCode(WideString::FromUtf8(cl.raw ? given : NormalizeCode(given)));
    return 0;
  });
}
