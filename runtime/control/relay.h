// The relay behind Java's sendServiceControl: a hidden "brontel -s <service> <signal>" process
// delivers the signal from outside, so a service can also stop or restart itself.
#ifndef BRONTEL_RUNTIME_CONTROL_RELAY_H
#define BRONTEL_RUNTIME_CONTROL_RELAY_H

#include "trace/logger.h"

// Starts the process and does not wait for it; 1 when it was started, else 0 (traced).
int startRelayProcess(CLogger* logger, const wchar_t* serviceName, DWORD signal);

#endif
