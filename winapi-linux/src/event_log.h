// What the stand-in's event log writer (event_log.cpp) and reader (event_log_read.cpp) share.
#ifndef BRONTEL_WINAPI_EVENT_LOG_H
#define BRONTEL_WINAPI_EVENT_LOG_H

#include "winapi_linux.h"

namespace standin {
// The log of this machine, under a name: false (ERROR_INVALID_PARAMETER) for another machine's
// or for no name.
bool isLocalLogName(LPCWSTR serverName, LPCWSTR name);
} // namespace standin

#endif
