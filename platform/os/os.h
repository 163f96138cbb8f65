// Operating-system services the system needs: the main executable, its exports, the
// environment and folders. Paths use "/".
#pragma once

#include <string>

// Full path of the process's executable (not of the library that asks).
std::string ExecutablePath();
// Its folder, with a trailing "/".
std::string ExecutableFolder();
// An exported function of the main program (dlsym on the main program's handle); null
// when the program does not export it.
void* FindMainProgramSymbol(const char* name);
// Sets an environment variable of the process; false on failure.
bool SetEnvironmentVariable(const std::string& name, const std::string& value);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Creates a folder with any missing parents; true when it exists afterwards.
bool ForceDirectories(const std::string& path);
