// One optional service setting given to the Service Control Manager.
#ifndef BRONTEL_INSTALL_SERVICE_CONFIG2_H
#define BRONTEL_INSTALL_SERVICE_CONFIG2_H

#include "trace/logger.h"

// 0, or BRONTEL_RESULT_SCM_FAILED with `failure` and the system's reason traced.
int changeServiceConfig2(SC_HANDLE service, DWORD level, void* info, const wchar_t* failure,
                         CLogger* logger);

#endif
