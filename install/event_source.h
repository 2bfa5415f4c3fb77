// The service's entry as an event source of the Application log: registered at installation and
// removed with the service, but only while it is brontel's own. A source of the same name that
// another program registered stays as that program left it.
#ifndef BRONTEL_INSTALL_EVENT_SOURCE_H
#define BRONTEL_INSTALL_EVENT_SOURCE_H

#include "trace/logger.h"

// Where Windows looks up an event source of the Application log.
#define BRONTEL_EVENT_SOURCES_KEY L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application"

// Whether a source's message file is a brontel executable: the program the service runs
// (`program`, may be null), or a file named brontel (brontel.exe), ASCII case ignored;
// environment references in `messageFile` are resolved first.
int isBrontelMessageFile(const wchar_t* messageFile, const wchar_t* program);

// Registers the service as an event source whose messages are in `messageFile` (the program's
// executable). A source of that name that belongs to another program is left alone, with a
// warning. A failure is reported and does not fail the installation: the service runs, its
// events show without their text. Returns 1 when the source is registered.
int registerEventSource(const wchar_t* serviceName, const wchar_t* messageFile, CLogger* logger);
// Removes the registration when it is brontel's own (`program`: what the service ran, may be
// null); a source that is not registered, or another program's, is fine. Returns 0 only when
// brontel's own registration could not be removed.
int unregisterEventSource(const wchar_t* serviceName, const wchar_t* program, CLogger* logger);

#endif
