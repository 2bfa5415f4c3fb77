// What the stand-in's event log writer (event_log.cpp) and reader (event_log_read.cpp) share.
#ifndef BRONTEL_WINAPI_EVENT_LOG_H
#define BRONTEL_WINAPI_EVENT_LOG_H

#include "winapi_linux.h"

namespace standin {
// The log of this machine, under a name: false (ERROR_INVALID_PARAMETER) for another machine's
// or for no name.
bool isLocalLogName(LPCWSTR serverName, LPCWSTR name);
// From now on events are appended to `fd` (the log open for appending, inherited by a service
// that runs as a user who cannot open the log itself).
void useEventLogDescriptor(int fd);
} // namespace standin

#endif
