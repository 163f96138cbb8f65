#include "platform/os/os.h"

#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

std::string ExecutablePath() {
  std::vector<char> buf(4096);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    buf.resize(buf.size() * 2);
  }
}

std::string ExecutableFolder() {
  std::string path = ExecutablePath();
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void* FindMainProgramSymbol(const char* name) {
  if (name == nullptr) return nullptr;
  void* main_program = dlopen(nullptr, RTLD_NOW | RTLD_NOLOAD);
  if (main_program == nullptr) return nullptr;
  // The main program's handle searches the global scope, which also holds the libraries
  // loaded with it; only the main program's own export counts. The object that defines
  // the symbol is compared by its link map: the file name dladdr reports for the main
  // program is argv[0], which need not be a path at all (a program started through PATH).
  link_map* main_map = nullptr;
  void* sym = nullptr;
  if (dlinfo(main_program, RTLD_DI_LINKMAP, &main_map) == 0) sym = dlsym(main_program, name);
  dlclose(main_program);
  if (sym == nullptr || main_map == nullptr) return nullptr;
  Dl_info info{};
  link_map* owner = nullptr;
  if (dladdr1(sym, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) == 0) return nullptr;
  return owner == main_map ? sym : nullptr;
}

bool SetEnvironmentVariable(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (DirectoryExists(p)) return true;
  size_t slash = p.rfind('/');
  if (slash != std::string::npos && slash > 0 && !ForceDirectories(p.substr(0, slash))) return false;
  return mkdir(p.c_str(), 0777) == 0 || (errno == EEXIST && DirectoryExists(p));
}
