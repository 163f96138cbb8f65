// An interpreter inside a unit-test process, as a host runs one: started once (on first
// use), its lock released afterwards, finalised when the test program ends.
#pragma once

#include <string>

// Starts the interpreter unless it runs already.
void EnsurePython();
// Whether an interpreter runs in this process.
bool PythonRunning();
// Runs Python statements in __main__ under the lock. Answers "" on success, else the error
// as the interpreter names it ("AssertionError: ...").
std::string RunPython(const std::string& code);
