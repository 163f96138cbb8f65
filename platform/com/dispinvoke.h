// Late-bound calls through IDispatch, for the caller and for an object that serves them.
#pragma once

#include <vector>

#include "platform/com/dispatch.h"

// Calls method `id` of `disp` with positional arguments given first to last (they are
// handed over in COM order, the last one at rgvarg[0]); none is named. A by-reference
// argument is Variant::ByRef(&variable): what the server writes there reaches the
// variable. Answers the method's result. A failure raises EOleException with the
// server's exception information (DISP_E_EXCEPTION) or EOleSysError with the result code.
Variant DispatchMethod(IDispatch* disp, DISPID id, std::vector<Variant> args);

// For servers: argument number `index` (0 = first) of a call, following a by-reference
// argument to the caller's variable; null when the call has fewer arguments.
Variant* DispatchArg(DISPPARAMS* params, uint32_t index);
