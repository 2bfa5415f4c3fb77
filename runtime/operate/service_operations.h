// -start, -stop and -restart: a service started or stopped through the Service Control Manager,
// waited for until it reaches the state, with progress shown on a terminal.
#ifndef BRONTEL_RUNTIME_OPERATE_SERVICE_OPERATIONS_H
#define BRONTEL_RUNTIME_OPERATE_SERVICE_OPERATIONS_H

#include "trace/logger.h"

enum ServiceOperation { OPERATION_START, OPERATION_STOP, OPERATION_RESTART };

// Carries out `operation` on a service brontel installed and waits while the service shows
// progress (a new state or checkpoint within three of its wait hints, at least 10 s), and at
// most `boundSeconds` in all (0: no bound but that). 0 once the state is reached (also when it
// was reached already); 11 no service of brontel's; 30 the manager refused the start or the
// stop; 38 the state was not reached; 39 the service stopped while starting; 8 the manager
// cannot be opened.
int operateService(const wchar_t* serviceName, ServiceOperation operation, DWORD boundSeconds,
                   CLogger* logger);

#endif
