// The host's trace: with --trace, every call the module makes into the host is written to
// stderr as one line "trace: <what>", so that people and tests can follow the conversation.
#pragma once

#include <string_view>

void SetTracing(bool on);
bool Tracing();
// Writes "trace: <text>" when tracing is on (from any thread).
void Trace(std::string_view text);
