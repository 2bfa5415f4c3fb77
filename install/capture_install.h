// Installation's part of the event log: the service's entry as an event source of the
// Application log.
#ifndef BRONTEL_INSTALL_CAPTURE_INSTALL_H
#define BRONTEL_INSTALL_CAPTURE_INSTALL_H

#include "config/config_file.h"

// Where Windows looks up an event source of the Application log.
#define BRONTEL_EVENT_SOURCES_KEY L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application"
// Registers the service as an event source whose messages are in `messageFile` (the program's
// executable). A failure is reported and does not fail the installation: the service runs, its
// events show without their text. Returns 1 on success.
int registerEventSource(const wchar_t* serviceName, const wchar_t* messageFile, CLogger* logger);
// Removes the registration; a source that is not registered is fine. Returns 1 on success.
int unregisterEventSource(const wchar_t* serviceName, CLogger* logger);

#endif
