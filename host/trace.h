// The host's trace: with --trace, every call the module makes into the host is written to
// stderr as one line "trace: <what>", so that people and tests can follow the conversation.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/com/widestring.h"

void SetTracing(bool on);
bool Tracing();
// Writes "trace: <text>" when tracing is on (from any thread).
void Trace(std::string_view text);
// Answers `value`, having traced "<what> -> <value>" when tracing is on (for the getters
// of the host's objects).
WideString TraceAnswer(std::string_view what, WideString value);
int32_t TraceAnswer(std::string_view what, int32_t value);
