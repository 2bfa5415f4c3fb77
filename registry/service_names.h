// The names of service states and control codes, as messages and the trace show them.
#ifndef BRONTEL_REGISTRY_SERVICE_NAMES_H
#define BRONTEL_REGISTRY_SERVICE_NAMES_H

#include "platform/winapi.h"

// "SERVICE_STOPPED" to "SERVICE_PAUSED" for the states 1 to 7, "Unknown" for any other value.
const wchar_t* serviceStateName(DWORD state);
// "SERVICE_CONTROL_STOP" to "SERVICE_CONTROL_NETBINDDISABLE" for the controls 1 to 10, "Unknown"
// for any other code (the later Windows codes and brontel's own included).
const wchar_t* controlCodeName(DWORD control);

#endif
