// Installation's part of output capture and the event log: checking and storing the capture
// keys, and the service's entry as an event source of the Application log.
#ifndef BRONTEL_INSTALL_CAPTURE_INSTALL_H
#define BRONTEL_INSTALL_CAPTURE_INSTALL_H

#include "config/config_file.h"
#include "platform/result_codes.h"

// 0 when every capture value present is well formed; otherwise each malformed one is reported
// and the result is BRONTEL_RESULT_BAD_CAPTURE_VALUE.
int checkCaptureOptions(CConfigFile* config, CLogger* logger);
// Writes the capture values, deleting those the file leaves out; 0,
// BRONTEL_RESULT_OUT_OF_MEMORY or BRONTEL_RESULT_REGISTRY_NOT_WRITTEN.
int saveCaptureOptions(const wchar_t* serviceName, CConfigFile* config, CLogger* logger);

// Where Windows looks up an event source of the Application log.
#define BRONTEL_EVENT_SOURCES_KEY L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application"
// Registers the service as an event source whose messages are in `messageFile` (the program's
// executable). A failure is reported and does not fail the installation: the service runs, its
// events show without their text. Returns 1 on success.
int registerEventSource(const wchar_t* serviceName, const wchar_t* messageFile, CLogger* logger);
// Removes the registration; a source that is not registered is fine. Returns 1 on success.
int unregisterEventSource(const wchar_t* serviceName, CLogger* logger);

#endif
