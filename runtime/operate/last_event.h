// The service's last entry in the Application event log, read back for the status command: where
// the reason for the last failure can be read without opening the Event Viewer.
#ifndef BRONTEL_RUNTIME_OPERATE_LAST_EVENT_H
#define BRONTEL_RUNTIME_OPERATE_LAST_EVENT_H

#include "platform/winapi.h"

struct LastEvent {
    static const size_t textChars = 2048;
    DWORD time; // seconds since 1970, UTC
    DWORD id;
    wchar_t when[32]; // the time as "YYYY-MM-DD hh:mm:ss UTC"
    wchar_t text[textChars];
};

// 1 with `event` filled when the log holds an entry of the service's source; 0 when it holds
// none or cannot be read (Wine's log gives nothing back, for one).
int readLastEvent(const wchar_t* serviceName, LastEvent* event);

#endif
