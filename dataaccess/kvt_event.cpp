#include "dataaccess/kvt_event.h"

ComPtr<IKVTServer> HostServer;
