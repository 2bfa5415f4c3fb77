// What the service's process is given before anything of the service runs, the same in service
// and development mode: its environment variables and its working directory.
#ifndef BRONTEL_RUNTIME_SERVICE_PROCESS_SETUP_H
#define BRONTEL_RUNTIME_SERVICE_PROCESS_SETUP_H

#include "settings/service_settings.h"
#include "trace/logger.h"

// Sets the variables of the service key's Environment value in this process, in their order,
// each value with its %NAME% references expanded (so a later one may use an earlier one).
// Under the Service Control Manager (`underManager`) they are there already, unexpanded, and
// are first given back the system's values.
void applyServiceEnvironment(const wchar_t* serviceName, int underManager, CLogger* logger);
// Enters the working directory when the service has one. 0, or BRONTEL_RESULT_WORKING_DIRECTORY
// with the folder named in the trace.
int enterWorkingDirectory(const CServiceSettings& settings, CLogger* logger);

#endif
