// The module-wide host server reference, and subscriptions to host events.
#pragma once

#include "hostintf/kvt_serverintf.h"
#include "platform/com/comptr.h"

// The host's server: empty at load, set at start-up, emptied on "STOPSERVER", released
// last at unload. Every user tests it first and skips host work when it is empty.
extern ComPtr<IKVTServer> HostServer;
